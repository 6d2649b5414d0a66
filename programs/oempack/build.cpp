#include "build.h"

#include <cstdio>
#include <string>
#include <variant>

#include "builder/describe.h"
#include "builder/installer_build.h"
#include "builder/installer_diff.h"
#include "builder/module_list.h"
#include "common/printable.h"
#include "common/progress_bar.h"
#include "console.h"
#include "shared.h"

namespace brelvane::oempack {
namespace {

using namespace shared;

// The table list would print of the built installer.
void PrintPlannedTable(const std::vector<ModuleRecord>& records) {
  WalkResult planned;
  for (auto record = records.rbegin(); record != records.rend(); ++record) {
    WalkedModule module;
    module.record = *record;
    module.contentCheck = 0;  // every module the build appends carries its check
    planned.modules.push_back(module);
  }
  PrintTable(planned);
}

// The modules no install installs, one line: the installer only carries
// them.  Empty when every module reaches a drive.
std::string CarriedOnly(const Platform& platform, const BuildPlan& plan) {
  std::string names;
  std::size_t count = 0;
  for (std::size_t i = 0; i < plan.records.size(); ++i) {
    const ModuleRecord& record = plan.records[i];
    if (InstalledOnModel(record) != nullptr) continue;
    ++count;
    names += (names.empty() ? "" : ", ") + std::string("\"") +
             platform.system.FromAnsi(record.fileName) + "\" (" +
             (IsPredefinedMarker(record.marker) ? PredefinedColumnText(record) : "user-defined") +
             ", line " + std::to_string(plan.manifest.modules[i].place.line) + ")";
  }
  if (count == 0) return {};
  return std::to_string(count) +
         " module(s) that no install installs (only a drive model's set reaches its drive): " +
         names;
}

}  // namespace

int BuildInstaller(const Platform& platform, const std::string& manifestPath,
                   const std::string& output, bool checkOnly, const Options& options) {
  const std::variant<BuildPlan, std::string> planned = PlanBuild(platform, manifestPath);
  if (const std::string* problem = std::get_if<std::string>(&planned)) return Fail(*problem);
  const BuildPlan& plan = std::get<BuildPlan>(planned);
  if (const std::string carried = CarriedOnly(platform, plan); !carried.empty()) {
    if (options.strict) return Fail(carried + "; nothing was written (--strict)");
    WriteText(stderr, "oempack: warning: " + EscapeControls(carried) + "\n");
  }
  if (checkOnly) {
    PrintPlannedTable(plan.records);
    return kExitOk;
  }
  std::uint64_t largest = 0;
  for (const ModuleRecord& record : plan.records)
    largest = std::max<std::uint64_t>(largest, record.contentSize);
  ProgressBar bar("building " + NameForTerminal(output), largest, options.progress, WriteToStderr);
  const BuildOutcome outcome = BuildFromPlan(platform, plan, output, bar.callback());
  for (const std::string& leftover : outcome.leftoversRemoved)
    std::printf("removed %s, left by a build or extraction that was stopped\n",
                NameForTerminal(leftover).c_str());
  if (!outcome.Done()) return Fail(outcome.problem);
  std::printf("%s: %zu module(s), built from %s%s\n", NameForTerminal(output).c_str(),
              plan.records.size(), NameForTerminal(manifestPath).c_str(),
              plan.manifest.sign ? ", signed" : "");
  return kExitOk;
}

int DescribeInstaller(const Platform& platform, const std::string& installer,
                      const std::string& folder, unsigned codePage) {
  const DescribeOutcome outcome =
      brelvane::DescribeInstaller(platform, installer, folder, codePage);
  if (!outcome.Done()) return Fail(outcome.problem);
  std::printf("%s: %zu module(s) and base.exe\n", NameForTerminal(outcome.manifestPath).c_str(),
              outcome.modules);
  if (outcome.unchecked > 0) {
    WriteText(stderr, "oempack: " + std::to_string(outcome.unchecked) +
                          " module(s) carry no content check; a build adds one, so its bytes "
                          "differ from " +
                          EscapeControls(installer) + " there\n");
  }
  return kExitOk;
}

int DiffInstallers(const Platform& platform, const std::string& before, const std::string& after,
                   bool modulesOnly) {
  const InstallerDiff diff = brelvane::DiffInstallers(platform, before, after, modulesOnly);
  if (!diff.Done()) return Fail(diff.problem);
  for (const std::string& line : diff.lines) std::printf("%s\n", line.c_str());
  return diff.differ ? kExitFailed : kExitOk;
}

}  // namespace brelvane::oempack
