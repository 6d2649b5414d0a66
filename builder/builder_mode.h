// How the maker's staff reach the builder: the switch "/oem" on the
// command line opens the builder's pages instead of the installer's.
#pragma once

#include <string>

namespace brelvane {

inline constexpr char kBuilderSwitch[] = "/oem";

// True when one of the blank-separated words of `arguments` (the command
// line after the program's name) is the builder switch, in any letter case.
// Every other word is ignored.
bool WantsBuilder(const std::string& arguments);

}  // namespace brelvane
