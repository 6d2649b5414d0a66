#include "common/progress_bar.h"

#include <cstdio>

#include "common/printable.h"

namespace brelvane {

namespace {

void WriteToStderr(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

// Characters of UTF-8 text: the bytes that begin one.
std::size_t CharacterCount(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

}  // namespace

ProgressBar::ProgressBar(std::string label, std::uint64_t total, bool enabled, Writer write)
    : label_(EscapeControls(label)),
      enabled_(enabled && total >= kProgressThreshold),
      write_(write ? std::move(write) : Writer(WriteToStderr)) {}

ProgressBar::~ProgressBar() {
  if (lastWidth_ != 0) write_("\n");
}

std::function<void(std::uint64_t, std::uint64_t)> ProgressBar::callback() {
  if (!enabled_) return {};
  return [this](std::uint64_t done, std::uint64_t total) { Draw(done, total); };
}

void ProgressBar::SetLabel(const std::string& label) {
  label_ = EscapeControls(label);
  lastPercent_ = -1;
}

void ProgressBar::Draw(std::uint64_t done, std::uint64_t total) {
  if (!enabled_) return;
  const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  constexpr int kWidth = 40;
  const int filled = percent * kWidth / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kWidth - filled), '.');
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "] %3d%% %llu/%llu MiB", percent,
                static_cast<unsigned long long>(done >> 20),
                static_cast<unsigned long long>(total >> 20));
  std::string line = label_ + " [" + bar + numbers;
  const std::size_t width = CharacterCount(line);
  // A shorter line than the last (a shorter label) blanks the rest of it.
  if (width < lastWidth_) line.append(lastWidth_ - width, ' ');
  lastWidth_ = width;
  write_("\r" + line);
}

}  // namespace brelvane
