#include "common/name_rules.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

namespace brelvane {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsControlCharacter(char c) { return static_cast<unsigned char>(c) < 0x20; }

bool IsForbiddenCharacter(char c) {
  return std::string_view("<>\"|?*").find(c) != std::string_view::npos;
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// Windows reserves these names in every folder, whatever follows the first
// dot and however many blanks end the base name: "con.txt" and "NUL " open
// the device, not a file.
bool IsDeviceName(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  static constexpr std::array<std::string_view, 6> kDevices = {"CON", "PRN",    "AUX",
                                                               "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view device : kDevices) {
    if (SameLetters(base, device)) return true;
  }
  // COM and LPT with one digit, the code page's superscript 1, 2, 3 included.
  if (base.size() != 4) return false;
  const std::string_view stem = base.substr(0, 3);
  if (!SameLetters(stem, "COM") && !SameLetters(stem, "LPT")) return false;
  const auto digit = static_cast<unsigned char>(base[3]);
  return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

// The rules every single name obeys, files and folders alike.
std::optional<std::string> ComponentProblem(std::string_view name) {
  if (name.find(':') != std::string_view::npos) {
    return "holds a colon (a drive letter or an alternate data stream)";
  }
  if (std::any_of(name.begin(), name.end(), IsControlCharacter)) {
    return "holds a control character, which Windows does not allow in names";
  }
  if (auto bad = std::find_if(name.begin(), name.end(), IsForbiddenCharacter); bad != name.end()) {
    return std::string("holds the character ") + *bad + ", which Windows does not allow in names";
  }
  if (name == "..") return "climbs to the parent folder";
  if (name.back() == '.' || name.back() == ' ') {
    return "ends in a dot or a blank, which Windows drops (\"..\" is the parent folder)";
  }
  if (IsDeviceName(name)) return "is a reserved device name";
  if (name.size() > kMaxNameLength) return "is longer than 255 characters";
  return std::nullopt;
}

}  // namespace

std::string StagingName(std::uint32_t number) {
  char name[kStagingNameLength + 1];
  std::snprintf(name, sizeof name, "~BV%05X.TMP", static_cast<unsigned>(number & 0xFFFFF));
  return name;
}

bool IsStagingName(std::string_view name) {
  if (name.size() != kStagingNameLength) return false;
  auto upper = [](char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  };
  for (std::size_t i = 0; i < 3; ++i) {
    if (upper(name[i]) != "~BV"[i]) return false;
  }
  for (std::size_t i = 3; i < 8; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  for (std::size_t i = 8; i < kStagingNameLength; ++i) {
    if (upper(name[i]) != ".TMP"[i - 8]) return false;
  }
  return true;
}

std::optional<std::string> FileNameProblem(std::string_view name) {
  if (name.empty()) return "the name is empty";
  if (IsStagingName(name)) return "the name has the form of the installer's staging files";
  if (std::any_of(name.begin(), name.end(), IsSeparator)) return "the name holds a path separator";
  if (auto problem = ComponentProblem(name)) return "the name " + *problem;
  return std::nullopt;
}

std::optional<std::string> FolderProblem(std::string_view folder) {
  if (folder.size() >= 2 && IsSeparator(folder[0]) && IsSeparator(folder[1])) {
    return "the folder starts at a network or device root";
  }
  if (folder.size() >= 2 && std::isalpha(static_cast<unsigned char>(folder[0])) &&
      folder[1] == ':') {
    return "the folder is an absolute path on drive " + std::string(folder.substr(0, 2)) +
           ", not a folder below the drive root";
  }
  std::size_t start = 0;
  while (start <= folder.size()) {
    auto end = std::find_if(folder.begin() + static_cast<std::ptrdiff_t>(start), folder.end(),
                            IsSeparator);
    const auto stop = static_cast<std::size_t>(end - folder.begin());
    const std::string_view component = folder.substr(start, stop - start);
    if (!component.empty()) {
      if (auto problem = ComponentProblem(component)) {
        return "the folder's part \"" + std::string(component) + "\" " + *problem;
      }
    }
    if (end == folder.end()) break;
    start = stop + 1;
  }
  return std::nullopt;
}

std::string WindowsFolderForm(std::string_view folder) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const auto end = std::find_if(folder.begin() + static_cast<std::ptrdiff_t>(start), folder.end(),
                                  IsSeparator);
    const auto stop = static_cast<std::size_t>(end - folder.begin());
    std::string_view part = folder.substr(start, stop - start);
    std::string_view trimmed = part;
    while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '.')) {
      trimmed.remove_suffix(1);
    }
    out += trimmed.empty() ? part : trimmed;
    if (end == folder.end()) break;
    out += *end;
    start = stop + 1;
  }
  return out;
}

std::size_t ModulePathLength(std::string_view fileName, std::string_view extractDir) {
  const std::size_t root = 3;  // "X:\"
  return root + extractDir.size() + (extractDir.empty() ? 0 : 1) + fileName.size();
}

std::optional<std::string> ModulePlacementProblem(std::string_view fileName,
                                                  std::string_view extractDir) {
  if (auto problem = FileNameProblem(fileName)) return problem;
  if (auto problem = FolderProblem(extractDir)) return problem;
  if (ModulePathLength(fileName, extractDir) > kMaxPathLength) {
    return "the path on the drive would be longer than 259 characters";
  }
  // The staging file beside it must fit as well.
  if (ModulePathLength(std::string(kStagingNameLength, 'x'), extractDir) > kMaxPathLength) {
    return "the path of its staging file on the drive would be longer than 259 characters";
  }
  return std::nullopt;
}

}  // namespace brelvane
