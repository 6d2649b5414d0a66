// What the oempack commands share across their files: one line on stderr
// for a failure, and the module table that list prints.
#pragma once

#include <cstdint>
#include <string>

#include "package/package.h"
#include "platform/platform.h"

namespace brelvane::oempack::shared {

// "oempack: LINE" on stderr, control characters escaped; kExitFailed.
int Fail(const std::string& line);
// The same with the system's words for the last error.
int FailWithSystemText(const Platform& platform, const std::string& what);
PackageRef Package(const std::string& installer);
int FailStrayBytes(const std::string& installer, const WalkResult& walk, const std::string& tail);
int FailSigned(const std::string& installer, std::int64_t tableSize);
// The module table of list, newest first.
void PrintTable(const WalkResult& walk);

}  // namespace brelvane::oempack::shared
