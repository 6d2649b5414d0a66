// The little state that the wizard's pages and the package operations share.
#pragma once

#include <cstdint>
#include <string>

#include "app/page_ending.h"
#include "discovery/discovery.h"
#include "package/package.h"
#include "platform/platform.h"

namespace brelvane {

struct WizardState {
  std::string packagePath;                // full path of the package read and appended to
  std::int32_t recordSize = kRecordSize;  // 660
  ModelPresence modelPresence = ModelPresence::None;  // set when the sheet's window is created

  PackageRef package() const { return PackageRef{packagePath, recordSize}; }
};

// Sets `packagePath` to the running program's own executable; when it cannot
// be had, gives the ending that says so (exit code 0).
[[nodiscard]] PageEnding SetOwnPackagePath(const Platform& platform, WizardState& state);

}  // namespace brelvane
