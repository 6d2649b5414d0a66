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

PageEnding SetOwnPackagePath(const Platform& platform, WizardState& state) {
  try {
    const std::optional<std::string> own = platform.system.OwnExecutablePath();
    if (!own) return Ending{NoticeMessage(platform, kOwnPathUnavailable), 0};
    state.packagePath = *own;
  } catch (const std::bad_alloc&) { return Ending{ErrorMessage(platform, kNoMemory), 0}; }
  return std::nullopt;
}

}  // namespace brelvane
