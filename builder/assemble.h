// Assembling an installer from its base and the modules a build appends, so
// that the output's name only ever holds a whole, verified installer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "package/append_journal.h"
#include "package/package.h"
#include "platform/platform.h"

namespace brelvane {

struct AssemblyModule {
  std::string sourcePath;
  ModuleRecord record;  // the record it is appended with
};

// Where an assembly stopped.
enum class AssemblyStep {
  Done,  // the output holds the new installer
  OutputIsFolder,
  Leftover,  // a former build's file beside the output cannot be removed
  CopyBase,  // the base could not be copied beside the output
  Append,    // `module` could not be appended (`failedFile` says to what)
  Verify,    // the assembled installer does not verify as planned
  Rename,    // the assembled installer could not take the output's name
};
struct AssemblyResult {
  AssemblyStep step = AssemblyStep::Done;
  std::size_t module = 0;
  FailedFile failedFile = FailedFile::Package;
  bool Done() const { return step == AssemblyStep::Done; }
};

// The file a build writes beside `output` until it takes the output's name;
// a killed build leaves it behind, and the next build replaces it.
std::string BuildingPath(const std::string& output);

// Copies the base to BuildingPath(output), appends `modules` there in their
// order (each durable, as an append is), checks the result as verify does
// (sound, and holding exactly these modules), and only then renames it over
// `output` in one step.  On any failure the output stays as it was (or
// absent), the building file is removed (silently, as far as it can be) and
// System::LastError() holds the cause where the system gave one.  `progress`
// sees each module's copy.  Shows no message.
AssemblyResult AssembleInstaller(const Platform& platform, const std::string& basePath,
                                 const std::vector<AssemblyModule>& modules,
                                 const std::string& output, const ProgressFn& progress = {});

}  // namespace brelvane
