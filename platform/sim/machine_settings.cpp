#include "platform/sim/machine_settings.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace brelvane {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// "E F" or "E,F": the letters, upper-cased, C added, sorted, no repeats.
bool ParseDrives(std::string_view list, std::string* drives) {
  std::string letters = "C";
  for (char c : list) {
    if (c == ' ' || c == '\t' || c == ',') continue;
    char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper < 'A' || upper > 'Z') return false;
    letters += upper;
  }
  std::sort(letters.begin(), letters.end());
  letters.erase(std::unique(letters.begin(), letters.end()), letters.end());
  *drives = letters;
  return true;
}

bool ApplySetting(std::string_view key, std::string_view arg, MachineSettings* settings,
                  std::string* reason) {
  if (key == "drives") {
    if (ParseDrives(arg, &settings->drives)) return true;
    *reason = "drive letters expected after @drives";
  } else if (key == "family") {
    if (arg == "nt") {
      settings->family = MachineFamily::Nt;
      return true;
    }
    if (arg == "9x") {
      settings->family = MachineFamily::Win9x;
      return true;
    }
    *reason = "@family is nt or 9x";
  } else if (key == "cwd") {
    if (!arg.empty()) {
      settings->current_directory = std::string(arg);
      return true;
    }
    *reason = "a directory expected after @cwd";
  } else {
    *reason = "unknown setting @" + std::string(key);
  }
  return false;
}

}  // namespace

std::uint32_t MachineSettings::LogicalDriveMask() const {
  std::uint32_t mask = 0;
  for (char letter : drives) mask |= 1u << (letter - 'A');
  return mask;
}

int MachineSettings::PlatformId() const { return family == MachineFamily::Nt ? 2 : 1; }

MachineSettings ParseMachineSettings(std::string_view text, const std::string& source) {
  MachineSettings settings;
  int number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(start, end - start));
    start = end + 1;
    ++number;
    if (line.empty() || line[0] != ';') continue;
    line = Trim(line.substr(1));
    if (line.empty() || line[0] != '@') continue;
    line.remove_prefix(1);
    std::size_t blank = line.find_first_of(" \t");
    std::string_view key = line.substr(0, blank);
    std::string_view arg = blank == std::string_view::npos ? "" : Trim(line.substr(blank));
    std::string reason;
    if (!ApplySetting(key, arg, &settings, &reason)) {
      MachineSettings defaults;
      defaults.error = source + ":" + std::to_string(number) + ": " + reason;
      return defaults;
    }
  }
  return settings;
}

MachineSettings LoadMachineSettings(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    MachineSettings defaults;
    defaults.error = path + ": cannot be read";
    return defaults;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseMachineSettings(text.str(), path);
}

}  // namespace brelvane
