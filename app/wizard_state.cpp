#include "app/wizard_state.h"

#include <new>
#include <optional>

#include "common/messages.h"

namespace brelvane {

namespace {
constexpr char kNoMemory[] = "Not enough dynamic memory to perform operation!";
constexpr char kOwnPathUnavailable[] =
    "Please run this application from DESKTOP folder. \r\nIf still does not work contact Quorvix";
}  // namespace

void SetOwnPackagePath(const Platform& platform, WizardState& state) {
  System& system = platform.system;
  try {
    const std::optional<std::string> own = system.OwnExecutablePath();
    if (!own) {
      ShowNotice(platform, kOwnPathUnavailable);
      system.ExitProcess(0);
    }
    state.packagePath = *own;
  } catch (const std::bad_alloc&) {
    ShowError(platform, kNoMemory);
    system.ExitProcess(0);
  }
}

}  // namespace brelvane
