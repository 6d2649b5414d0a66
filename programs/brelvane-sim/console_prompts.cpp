#include "console_prompts.h"

#include <string>
#include <vector>

#include "common/printable.h"

namespace brelvane::sim {

namespace {

const char* IconName(std::uint32_t style) {
  switch (style & 0xF0) {
    case win::kMbIconHand: return "stop";
    case win::kMbIconQuestion: return "question";
    case 0x30: return "exclamation";
    case 0x40: return "information";
    default: return nullptr;
  }
}

// The text's lines, CR LF or LF separated.  Names in a message may come
// from a package: any other control character is shown escaped.
std::vector<std::string> Lines(const std::string& raw) {
  const std::string text = EscapeControls(raw, true);
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  lines.push_back(line);
  return lines;
}

}  // namespace

int ConsolePrompts::Show(const Message& message) {
  out_ << "\n+-- " << EscapeControls(message.caption);
  if (const char* icon = IconName(message.style)) out_ << "  (" << icon << ")";
  out_ << "\n";
  for (const std::string& line : Lines(message.text)) out_ << "| " << line << "\n";

  switch (message.style & 0x0F) {
    case win::kMbYesNo: {
      out_ << "+-- [Yes] [No]\n";
      const std::string answer = answers_.Ask("Answer", {"yes", "no"}, "no");
      return answer == "yes" ? win::kIdYes : win::kIdNo;
    }
    case win::kMbOkCancel: {
      out_ << "+-- [OK] [Cancel]\n";
      const std::string answer = answers_.Ask("Answer", {"ok", "cancel"}, "cancel");
      return answer == "ok" ? win::kIdOk : win::kIdCancel;
    }
    default: out_ << "+-- [OK]\n"; return win::kIdOk;
  }
}

}  // namespace brelvane::sim
