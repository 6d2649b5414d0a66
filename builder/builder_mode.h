// How the maker's staff reach the builder: the switch "/oem" on the
// command line opens the builder's pages instead of the installer's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brelvane {

inline constexpr char kBuilderSwitch[] = "/oem";

// Whether `word` is the builder switch: "/oem" or "-oem", in any letter case.
bool IsBuilderSwitch(std::string_view word);
// True when the words after the program's name, as Windows splits the
// command line, are the builder switch alone (given once or more).  Beside
// any other word the command line is the unattended run's to refuse.
bool WantsBuilder(const std::vector<std::string>& words);

}  // namespace brelvane
