// The module trailer record and the content scrambling of an installer package.
//
// A package is the installer executable with modules appended behind its
// image: each module's scrambled content followed by a 660-byte record whose
// integers are big-endian.  There is no header; packages are read backwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/drive_models.h"
#include "platform/platform.h"

namespace brelvane {

inline constexpr std::int32_t kRecordSize = 660;
inline constexpr std::uint32_t kScrambleKey = 13579246;
inline constexpr std::size_t kScrambleChunk = 1024;

// Field offsets and widths on disk.
inline constexpr std::size_t kContentSizeOffset = 0;
inline constexpr std::size_t kMarkerOffset = 4;
inline constexpr std::size_t kMarkerWidth = 64;
inline constexpr std::size_t kReservedOffset = 68;
inline constexpr std::size_t kReservedWidth = 64;
inline constexpr std::size_t kFileNameOffset = 132;
inline constexpr std::size_t kNameWidth = 260;
inline constexpr std::size_t kExtractDirOffset = 392;
inline constexpr std::size_t kAttributesOffset = 652;
inline constexpr std::size_t kRecordSizeOffset = 656;

// Markers.
inline constexpr char kBaseMarker[] = "QRVX_OEM_INSTALLER";                        // 18
inline constexpr char kPredefinedPrefix[] = "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_";  // 34

// Every set's marker is the prefix and the set's character.
constexpr bool MarkerNamesItsSet(const ModuleSetNames& names) {
  const std::string_view marker = names.marker, prefix = kPredefinedPrefix;
  return marker.size() == prefix.size() + 1 && marker.starts_with(prefix) &&
         marker.back() == static_cast<char>(names.set);
}
constexpr bool EveryMarkerNamesItsSet() {
  for (const DriveModelRow& row : kDriveModels)
    if (!MarkerNamesItsSet(row.set)) return false;
  return MarkerNamesItsSet(kCombinedSet);
}
static_assert(EveryMarkerNamesItsSet());

// In memory: the six fields in native byte order.  Strings hold what lies
// before the first NUL of their field, so they always fit it with a
// terminator when read from disk.
struct ModuleRecord {
  std::uint32_t contentSize = 0;
  std::string marker;      // at most 64 bytes stored
  std::string fileName;    // at most 260 bytes (259 and a NUL as written)
  std::string extractDir;  // at most 260 bytes (259 and a NUL as written)
  std::uint32_t attributes = 0;
  std::uint32_t recordSize = 0;
};

// Byte k of a 32-bit value (k = 0 is the least significant byte).
constexpr std::uint8_t ByteOf(std::uint32_t value, int k) {
  return static_cast<std::uint8_t>((value >> (8 * k)) & 0xFF);
}
// A 32-bit value from four bytes, most significant first.
constexpr std::uint32_t FromBigEndian(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}
void StoreBigEndian(std::uint32_t value, std::uint8_t* bytes);

// Writes the six fields into the 660-byte on-disk form; leaves the reserved
// bytes as the buffer held them.
void EncodeModuleRecord(const ModuleRecord& record, std::uint8_t* buffer);
// Reads the six fields from the first 660 bytes of `buffer`.
void DecodeModuleRecord(const std::uint8_t* buffer, ModuleRecord& record);
// Scrambles (and, applied again, descrambles) one chunk in place: the
// big-endian words at offsets below length/4 are XOR-ed with `key`.
void ScrambleChunk(std::uint8_t* buffer, std::size_t length, std::uint32_t key = kScrambleKey);

// Whether a module record ends at `end` of `file`: a plausible size in its
// last four bytes, a module marker, and content that begins inside the
// file (one step of the backward walk that finds a module).  nullopt when
// the file cannot be read.  Moves the file's position.
std::optional<bool> ModuleRecordEndsAt(FileSystem& files, FileHandle file, std::int64_t end);

// Marker rules.
bool IsModuleMarker(const std::string& marker);      // begins with the base marker
bool IsPredefinedMarker(const std::string& marker);  // begins with the 34-byte prefix
// The suffix character of a predefined marker (position 34), 0 when none.
char MarkerSuffix(const std::string& marker);
// The set a stored marker names: nullopt for a user-defined marker, for a
// predefined one without a suffix and for a suffix that names no set (the
// suffix is compared exactly, as the install's marker lookup compares it).
std::optional<PredefinedSet> PredefinedSetOf(const std::string& marker);
// The marker stored for a set; nullptr for a value that names no set.
const char* MarkerOf(PredefinedSet set);

}  // namespace brelvane
