#include "common/error_text.h"

namespace brelvane {
namespace {

// The one process-wide copy of the last text; callers get their own copy.
std::string& LastErrorText() {
  static std::string text;
  return text;
}

}  // namespace

std::string GetLastErrorText(System& system) {
  const std::uint32_t code = system.LastError();
  LastErrorText() = system.ErrorText(code);
  return LastErrorText();
}

bool IsNtPlatform(System& system) { return system.PlatformId() == win::kVerPlatformWin32Nt; }

}  // namespace brelvane
