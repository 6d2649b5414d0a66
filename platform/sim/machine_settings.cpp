#include "platform/sim/machine_settings.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "platform/sim/reg_file.h"

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

bool ParseNumber(std::string_view text, std::uint64_t* number) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                : base == 16 && std::isxdigit(static_cast<unsigned char>(c))
                    ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                    : -1;
    if (digit < 0) return false;
    // A number beyond 64 bits is refused, not wrapped round.
    if (value > (UINT64_MAX - static_cast<std::uint64_t>(digit)) / base) return false;
    value = value * base + static_cast<std::uint64_t>(digit);
  }
  *number = value;
  return true;
}

// The next word of `rest`: up to a blank, with "..." spans kept whole and
// their quotes dropped; inside them \" and \\ stand for " and \.
std::string NextWord(std::string_view* rest) {
  *rest = Trim(*rest);
  std::string word;
  bool quoted = false;
  std::size_t i = 0;
  for (; i < rest->size(); ++i) {
    char c = (*rest)[i];
    if (quoted && c == '\\' && i + 1 < rest->size() &&
        ((*rest)[i + 1] == '"' || (*rest)[i + 1] == '\\')) {
      word += (*rest)[++i];
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (!quoted && (c == ' ' || c == '\t')) break;
    word += c;
  }
  rest->remove_prefix(i);
  return word;
}

bool ApplyStorageField(std::string_view key, std::string_view value, VolumeStorage* storage) {
  std::uint64_t number = 0;
  if (key == "bus") {
    for (const win::BusName& bus : win::kBusNames) {
      if (bus.name == value) {
        storage->bus_type = bus.type;
        return true;
      }
    }
    // A bus without a name here is given as its number.
    if (!ParseNumber(value, &number) || number > 0xFFFFFFFFu) return false;
    storage->bus_type = static_cast<std::uint32_t>(number);
    return true;
  }
  if (key == "disk") {
    if (!ParseNumber(value, &number) || number > 0xFFFFFFFFu) return false;
    storage->disk_number = static_cast<std::uint32_t>(number);
    return true;
  }
  if (key == "offset") {
    if (!ParseNumber(value, &number)) return false;
    storage->partition_offset = number;
    return true;
  }
  if (key == "vendor") storage->vendor = std::string(value);
  else if (key == "product") storage->product = std::string(value);
  else return false;
  return true;
}

// "E bus=usb disk=1 offset=0x100000 vendor="..." product="..."".
bool ParseStorage(std::string_view arg, std::map<char, VolumeStorage>* answers) {
  std::string letter = NextWord(&arg);
  if (letter.size() != 1) return false;
  char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])));
  if (upper < 'C' || upper > 'Z') return false;
  VolumeStorage storage;
  bool has_bus = false;
  for (std::string word = NextWord(&arg); !word.empty(); word = NextWord(&arg)) {
    std::size_t equals = word.find('=');
    if (equals == std::string::npos) return false;
    std::string_view key = std::string_view(word).substr(0, equals);
    if (!ApplyStorageField(key, std::string_view(word).substr(equals + 1), &storage)) return false;
    has_bus = has_bus || key == "bus";
  }
  if (!has_bus) return false;
  (*answers)[upper] = storage;
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
  } else if (key == "storage") {
    if (ParseStorage(arg, &settings->storage)) return true;
    *reason = "@storage takes a letter and bus=, disk=, offset=, vendor=, product=";
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
  // A machine file written as Windows' own export writes it is UTF-16LE.
  const std::string bytes = text.str();
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    return ParseMachineSettings(
        sim::NarrowUtf16(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2, bytes.size() - 2),
        path);
  }
  return ParseMachineSettings(bytes, path);
}

}  // namespace brelvane
