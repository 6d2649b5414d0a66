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

namespace {

// Hundredths of a unit shown with three significant digits: the step
// between two figures that can be shown.
std::uint64_t StepOf(std::uint64_t hundredths) {
  return hundredths >= 10000 ? 100 : hundredths >= 1000 ? 10 : 1;
}

}  // namespace

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
  for (;;) {
    const std::uint64_t hundredths = bytes / scale * 100 + bytes % scale * 100 / scale;
    const bool exact = bytes % scale * 100 % scale == 0;
    std::uint64_t step = StepOf(hundredths);
    std::uint64_t shown = hundredths - hundredths % step;
    if (up && (shown != hundredths || !exact)) {
      shown += step;
      // Rounded up to a figure of more digits: shown with one fewer after
      // the point, still rounded up.
      if (StepOf(shown) != step) {
        step = StepOf(shown);
        shown = (shown + step - 1) / step * step;
      }
      // 1024 of a unit are one of the next.
      if (shown >= 102400 && unit + 1 < std::size(kUnits)) {
        scale *= 1024;
        ++unit;
        continue;
      }
    }
    std::string text = std::to_string(shown / 100);
    if (step < 100) {
      text += '.';
      text += static_cast<char>('0' + shown % 100 / 10);
      if (step == 1) text += static_cast<char>('0' + shown % 10);
    }
    text += ' ';
    text += kUnits[unit];
    return text;
  }
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
