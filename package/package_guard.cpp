#include "package/package_guard.h"

namespace brelvane {

bool WouldReplacePackage(FileSystem& files, const std::string& packagePath,
                         const std::string& output) {
  const std::optional<FileId> target = files.Identify(output);
  if (!target) return false;
  const std::optional<FileId> package = files.Identify(packagePath);
  if (!package || *package != *target) return false;
  const std::uint32_t attributes = files.GetAttributes(output);
  return attributes == win::kInvalidAttributes || (attributes & win::kAttrReparsePoint) == 0;
}

}  // namespace brelvane
