#include "console.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <string>

#include "common/error_text.h"
#include "common/printable.h"
#ifdef _WIN32
#include "platform/win32/win32_text.h"
#endif

namespace brelvane::oempack {

int ConsolePrompts::Show(const Message& message) {
  std::string text = message.text;
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  WriteText(stderr, "oempack: " + EscapeControls(text) + "\n");
  const std::uint32_t buttons = message.style & 0x0F;
  if (buttons == win::kMbYesNo) return win::kIdNo;
  if (buttons == win::kMbOkCancel) return win::kIdCancel;
  return win::kIdOk;
}

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

void WriteText(std::FILE* stream, const std::string& text) {
#ifdef _WIN32
  if (win32text::WriteToConsole(stream, text)) return;
#endif
  std::fputs(text.c_str(), stream);
}

std::string LastErrorLine(System& system) {
  const std::uint32_t code = system.LastError();
  // Codes the package layer leaves for what it detects itself: its own
  // words say more than the system's.
  switch (code) {
    case 13: return "the file changed while it was being appended";
    case 23: return "a module's content does not match its check";
    case 223: return "the installer would reach 2 GiB, the most a package can hold";
    case win::kErrorBadFileType: return "it is not a regular file (a pipe, a device or a console)";
    default: break;
  }
  std::string text = GetLastErrorText(system);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

}  // namespace brelvane::oempack
