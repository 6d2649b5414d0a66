// Building an installer from a manifest: the plan (the manifest read, the
// base checked, every module's record made by the rules add and add-predef
// apply) and the build that carries it out.  A problem is one line, with
// the manifest's place ("MANIFEST:LINE:COLUMN: ...") where it has one.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "builder/manifest.h"
#include "package/package.h"
#include "platform/platform.h"

namespace brelvane {

struct BuildPlan {
  std::string manifestPath;
  Manifest manifest;
  std::vector<ModuleRecord> records;  // one for each module, in the manifest's order
};

// Reads the manifest and the sources: the base must be an unsigned installer
// without modules (and of the SHA-256 the manifest names); each module's
// name and folder are stored in the manifest's code page, and a name it
// cannot hold is refused at its module.  Opens no file for writing.
std::variant<BuildPlan, std::string> PlanBuild(const Platform& platform,
                                               const std::string& manifestPath);

struct BuildOutcome {
  std::string problem;  // empty: `output` holds the new installer
  // Files of killed builds and extractions taken away first (AssembleInstaller).
  std::vector<std::string> leftoversRemoved;
  bool Done() const { return problem.empty(); }
};

// Builds `output` from the plan (AssembleInstaller), signed by the
// manifest's command when it names one; the output is replaced only by a
// whole, verified installer.
BuildOutcome BuildFromPlan(const Platform& platform, const BuildPlan& plan,
                           const std::string& output, const ProgressFn& progress = {});

}  // namespace brelvane
