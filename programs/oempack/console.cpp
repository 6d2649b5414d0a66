#include "console.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <string>

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

}  // namespace brelvane::oempack
