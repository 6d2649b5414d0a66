#include "builder/extract_rule.h"

#include "package/package_guard.h"

namespace brelvane {

ExtractTarget CheckExtractTarget(const Platform& platform, const std::string& installer,
                                 const std::string& target) {
  FileSystem& files = platform.files;
  ExtractTarget found;
  // Removing the file that is about to be read would lose the package.
  if (WouldReplacePackage(files, installer, target)) {
    found.state = ExtractTarget::State::IsInstaller;
    return found;
  }
  found.links = FindLinkBelowRoot(platform, target);
  if (found.links.found != LinkSearch::Found::None) {
    found.state = ExtractTarget::State::LinkOnTheWay;
    return found;
  }
  if (files.IsDirectory(target)) {
    found.state = ExtractTarget::State::IsFolder;
    return found;
  }
  // The existence test of every install: a file that another program holds
  // open is not offered for replacing.
  ScopedFile existing(files, files.OpenReadExclusive(target));
  const std::uint32_t error = platform.system.LastError();
  if (existing.valid()) {
    found.state = ExtractTarget::State::Exists;
  } else if (files.Exists(target)) {
    // Held open by another program, no file at all (a pipe, a device), or
    // a file this user may not read, which the maker may still replace.
    found.state = IsSharingRefusal(error)           ? ExtractTarget::State::InUse
                  : error == win::kErrorBadFileType ? ExtractTarget::State::NotAFile
                                                    : ExtractTarget::State::Exists;
  }
  return found;
}

bool ExtractToTarget(const Platform& platform, const PackageRef& package,
                     const WalkedModule& module, const std::string& target, bool replace,
                     const ProgressFn& progress, ExtractReport* report) {
  ExtractOptions options;
  options.progress = progress;
  options.refuseLinks = true;
  // The old file stays until the new one is complete in its place.
  options.replaceExisting = replace;
  return ExtractModule(platform, package, target, static_cast<std::int32_t>(module.contentOffset),
                       module.record.contentSize, win::kAttrNormal, options, report);
}

}  // namespace brelvane
