// What differs between two installers: the program image, the signature and
// the modules.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace brelvane {

struct InstallerDiff {
  std::string problem;             // empty: both were read whole
  std::vector<std::string> lines;  // what differs, one line each; or the one "the same" line
  bool differ = false;
  bool Done() const { return problem.empty(); }
};

// Compares `before` with `after`: whether the program image (the bytes
// before the modules) and the signature (none, or its certificate table's
// bytes) differ, unless `modulesOnly`; and which modules were added, removed
// or changed (name, folder, attributes, size, content, order).  The names in
// the lines are read through `platform`'s ANSI code page.
InstallerDiff DiffInstallers(const Platform& platform, const std::string& before,
                             const std::string& after, bool modulesOnly);

}  // namespace brelvane
