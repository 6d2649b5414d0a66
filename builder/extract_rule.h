// The one rule for extracting a module to a file the maker names, which the
// builder page and the command line both follow: never onto the installer
// itself, never through a link below the target's root, a file already
// there replaced only when the maker agreed, and then only once the module
// is whole beside it.
#pragma once

#include <string>

#include "common/fs_helpers.h"
#include "package/package.h"
#include "platform/platform.h"

namespace brelvane {

struct ExtractTarget {
  enum class State {
    Free,          // nothing there: extract
    Exists,        // a file is there: extract only when the maker agrees to replace it
    InUse,         // a file is there that another program holds open: the extraction fails
    NotAFile,      // a pipe or a device is there
    IsFolder,      // a folder is there
    IsInstaller,   // it is the installer the module is read from
    LinkOnTheWay,  // below its root a link, or a folder that cannot be read (`links`)
  };
  State state = State::Free;
  LinkSearch links;
};

// What stands at `target` for a module of `installer`.
ExtractTarget CheckExtractTarget(const Platform& platform, const std::string& installer,
                                 const std::string& target);

// Extracts `module` of `package` to `target` by the rule: with Normal
// attributes, links refused, a file there replaced only with `replace`.
bool ExtractToTarget(const Platform& platform, const PackageRef& package,
                     const WalkedModule& module, const std::string& target, bool replace,
                     const ProgressFn& progress, ExtractReport* report);

}  // namespace brelvane
