#include "builder/assemble.h"

#include "common/scope_exit.h"

namespace brelvane {
namespace {

// A plain file at the building name is a killed build's leftover; anything
// else there is not the build's to remove.
bool ClearLeftover(FileSystem& files, const std::string& building) {
  if (!files.Exists(building)) return true;
  return !files.IsDirectory(building) && files.DeleteFile(building);
}

}  // namespace

std::string BuildingPath(const std::string& output) { return output + ".building"; }

AssemblyResult AssembleInstaller(const Platform& platform, const std::string& basePath,
                                 const std::vector<AssemblyModule>& modules,
                                 const std::string& output, const ProgressFn& progress) {
  FileSystem& files = platform.files;
  const std::string building = BuildingPath(output);
  if (files.IsDirectory(output)) return {AssemblyStep::OutputIsFolder};
  if (!ClearLeftover(files, building)) return {AssemblyStep::Leftover};
  if (!CopyFileIntoPlace(platform, basePath, building, win::kAttrNormal)) {
    return {AssemblyStep::CopyBase};
  }
  // On every way out but the last, the building file goes, and the cause of
  // the failure stays the last error.
  ScopeExit removeBuilding([&] {
    const std::uint32_t cause = platform.system.LastError();
    files.DeleteFile(building);
    platform.system.SetLastError(cause);
  });
  for (std::size_t i = 0; i < modules.size(); ++i) {
    FailedFile failed = FailedFile::Package;
    if (AppendModule(platform, modules[i].sourcePath, building, modules[i].record, progress,
                     &failed) != AppendResult::Appended) {
      return {AssemblyStep::Append, i, failed};
    }
  }
  const PackageVerdict verdict = VerifyPackage(platform, PackageRef{building, kRecordSize});
  if (!verdict.IsSound() || verdict.walk.modules.size() != modules.size()) {
    return {AssemblyStep::Verify};
  }
  if (!files.MoveIntoPlace(building, output, true)) return {AssemblyStep::Rename};
  removeBuilding.Cancel();
  return {};
}

}  // namespace brelvane
