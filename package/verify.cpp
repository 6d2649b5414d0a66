// Checking a whole package: the shared part of `oempack verify` and the
// installer's /verify.
#include <string>

#include "common/printable.h"
#include "package/package.h"

namespace brelvane {

PackageVerdict VerifyPackage(const Platform& platform, const PackageRef& package) {
  PackageVerdict verdict;
  verdict.walk = WalkModules(platform, package);
  const std::vector<WalkedModule>& modules = verdict.walk.modules;
  for (std::size_t i = 0; i < modules.size(); ++i) {
    if (IsBeyondReach(modules[i])) {
      ++verdict.beyondReach;
      continue;
    }
    const ContentState state = CheckModuleContent(platform, package, modules[i]);
    if (state == ContentState::Sound) ++verdict.sound;
    if (state == ContentState::Damaged || state == ContentState::Unreadable) {
      verdict.problems.push_back(ModuleProblem{i, state, platform.system.LastError()});
    }
  }
  return verdict;
}

std::string SoundSummary(const PackageVerdict& verdict) {
  const std::size_t count = verdict.walk.modules.size();
  const std::string signature = verdict.walk.certificateTable > 0
                                    ? "signed, certificate table of " +
                                          std::to_string(verdict.walk.certificateTable) + " bytes"
                                    : "not signed";
  return std::to_string(count) + " module(s), " + std::to_string(verdict.sound) +
         " checked and sound, " + std::to_string(count - verdict.sound) + " without a check; " +
         signature;
}

std::string ModuleAt(const WalkedModule& module) {
  return "module \"" + NameForTerminal(module.record.fileName) + "\" at offset " +
         std::to_string(module.contentOffset);
}

}  // namespace brelvane
