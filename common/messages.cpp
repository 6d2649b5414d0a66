#include "common/messages.h"

#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <vector>

#include "common/path_text.h"

namespace brelvane {

std::string ApplicationName(System& system) {
  std::optional<std::string> own_path = system.OwnExecutablePath();
  if (!own_path) return kShippedProgramName;
  std::string name = FindFileName(*own_path);
  std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

std::string SizeInUnits(std::uint64_t bytes, bool up) {
  if (bytes == 1) return "1 byte";
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB"};
  std::size_t unit = 0;
  std::uint64_t scale = 1024;
  while (unit + 1 < std::size(kUnits) && bytes / scale >= 1024) {
    scale *= 1024;
    ++unit;
  }
  // Hundredths of the unit, then as many digits as three significant ones
  // leave: cut, or rounded up.
  std::uint64_t hundredths = bytes / scale * 100 + bytes % scale * 100 / scale;
  const bool exact = bytes % scale * 100 % scale == 0;
  const std::uint64_t step = hundredths >= 10000 ? 100 : hundredths >= 1000 ? 10 : 1;
  if (up && (!exact || hundredths % step != 0)) hundredths = (hundredths / step + 1) * step;
  hundredths -= hundredths % step;
  const std::uint64_t whole = hundredths / 100;
  std::string text = std::to_string(whole);
  if (step == 1) {
    text += "." + std::to_string(hundredths % 100 / 10) + std::to_string(hundredths % 10);
  } else if (step == 10) {
    text += "." + std::to_string(hundredths % 100 / 10);
  }
  return text + " " + kUnits[unit];
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text;
  if (length > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.assign(buffer.data(), static_cast<std::size_t>(length));
  }
  va_end(args);
  return text;
}

namespace {

Message ApplicationMessage(const Platform& platform, const std::string& text, std::uint32_t style) {
  return Message{text, ApplicationName(platform.system), style, false};
}

}  // namespace

Message NoticeMessage(const Platform& platform, const std::string& text) {
  return ApplicationMessage(platform, text, win::kMbOk);
}

Message PlainNoticeMessage(const Platform& platform, const std::string& text) {
  Message message = ApplicationMessage(platform, text, win::kMbOk);
  message.plain = true;
  return message;
}

Message ErrorMessage(const Platform& platform, const std::string& text) {
  return ApplicationMessage(platform, text, win::kMbOk | win::kMbIconHand);
}

int ShowNotice(const Platform& platform, const std::string& text) {
  return platform.prompts.Show(NoticeMessage(platform, text));
}

int ShowPlainNotice(const Platform& platform, const std::string& text) {
  return platform.prompts.Show(PlainNoticeMessage(platform, text));
}

int ShowError(const Platform& platform, const std::string& text) {
  return platform.prompts.Show(ErrorMessage(platform, text));
}

bool AskYesNo(const Platform& platform, const std::string& text) {
  return platform.prompts.Show(ApplicationMessage(
             platform, text, win::kMbYesNo | win::kMbIconQuestion)) == win::kIdYes;
}

bool AskYesNoOwned(const Platform& platform, const std::string& caption, const std::string& text) {
  Message message{text, caption, win::kMbYesNo | win::kMbIconQuestion, true};
  return platform.prompts.Show(message) == win::kIdYes;
}

}  // namespace brelvane
