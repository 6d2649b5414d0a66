// The reverse of a build: an installer's base, its modules' files and a
// manifest that builds the same installer from them.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace brelvane {

struct DescribeOutcome {
  std::string problem;  // empty: all was written
  std::string manifestPath;
  std::size_t modules = 0;
  std::size_t unchecked = 0;  // modules without a content check (a build adds one)
  bool Done() const { return problem.empty(); }
};

// Writes the installer's image as base.exe, every module's content into
// modules/NN/NAME (oldest first) and installer.toml into `folder` (made
// when missing; refused when it holds a manifest or a modules folder
// already).  describe makes the folders it writes into itself, so nothing
// is written through a link.  The names are read in `codePage`, which the
// manifest names, so that it builds the same bytes again; a name with a
// byte the code page leaves undefined is refused.
DescribeOutcome DescribeInstaller(const Platform& platform, const std::string& installer,
                                  const std::string& folder, unsigned codePage);

}  // namespace brelvane
