#include <string>

#include "common/error_text.h"
#include "package/package.h"

namespace brelvane {

std::string LastErrorLine(System& system) {
  const std::uint32_t code = system.LastError();
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

}  // namespace brelvane
