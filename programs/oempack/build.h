// The commands build, describe and diff: the builder library does the work
// (builder/installer_build.h, describe.h, installer_diff.h); these print
// what it found and return the process exit status as the other commands
// do (commands.h).
#pragma once

#include <string>

#include "commands.h"
#include "platform/platform.h"

namespace brelvane::oempack {

// Builds `output` from the manifest: the base copied beside the output,
// every module appended in the manifest's order as add and add-predef
// append them, the result verified, and only then renamed to `output` in one
// step.  A failed or killed build leaves `output` as it was (or absent).
// With `checkOnly`, reads the manifest and the sources and prints the table
// list would print of the result, writing nothing.
int BuildInstaller(const Platform& platform, const std::string& manifestPath,
                   const std::string& output, bool checkOnly, const Options& options);

// Writes the installer's image as base.exe, every module's content into
// modules/NN/NAME (oldest first), and installer.toml, a manifest that
// builds the same installer from them, into `folder` (made when missing,
// refused when it holds a manifest already).
int DescribeInstaller(const Platform& platform, const std::string& installer,
                      const std::string& folder, unsigned codePage);

// Prints whether the program image (the bytes before the modules) and the
// signature (none, or its certificate table's bytes) differ, and which
// modules were added, removed or changed (name, folder, attributes, size,
// content, order) from `before` to `after`: 0 when all are the same (the
// modules alone with `modulesOnly`), 1 when they differ or cannot be read.
int DiffInstallers(const Platform& platform, const std::string& before, const std::string& after,
                   bool modulesOnly);

}  // namespace brelvane::oempack
