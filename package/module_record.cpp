#include "package/module_record.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace brelvane {
namespace {

constexpr std::size_t kBaseMarkerLength = sizeof(kBaseMarker) - 1;              // 18
constexpr std::size_t kPredefinedPrefixLength = sizeof(kPredefinedPrefix) - 1;  // 34

// A bounded string copy: at most `width` bytes of `text` (up to its first
// NUL), the rest of the field zero-filled.  A text of `width` bytes or more
// fills the field without a terminator.
void StoreField(const std::string& text, std::uint8_t* field, std::size_t width) {
  const std::size_t length = std::min(std::strlen(text.c_str()), width);
  std::memcpy(field, text.data(), length);
  std::memset(field + length, 0, width - length);
}

// What lies before the first NUL among the first `limit` bytes of a field.
std::string LoadField(const std::uint8_t* field, std::size_t limit) {
  const auto* begin = reinterpret_cast<const char*>(field);
  const auto* end = std::find(begin, begin + limit, '\0');
  return std::string(begin, end);
}

bool BeginsWith(const std::string& text, const char* prefix, std::size_t length) {
  return text.size() >= length && text.compare(0, length, prefix, length) == 0;
}

// Reads `size` bytes at `offset`; false when they cannot all be read.
bool ReadExactly(FileSystem& files, FileHandle file, std::int64_t offset, std::uint8_t* buffer,
                 std::size_t size) {
  if (files.Seek(file, offset, SeekFrom::Begin) != offset) return false;
  for (std::size_t done = 0; done < size;) {
    const std::int64_t got = files.Read(file, buffer + done, size - done);
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

void StoreBigEndian(std::uint32_t value, std::uint8_t* bytes) {
  bytes[0] = ByteOf(value, 3);
  bytes[1] = ByteOf(value, 2);
  bytes[2] = ByteOf(value, 1);
  bytes[3] = ByteOf(value, 0);
}

void EncodeModuleRecord(const ModuleRecord& record, std::uint8_t* buffer) {
  StoreBigEndian(record.contentSize, buffer + kContentSizeOffset);
  StoreField(record.marker, buffer + kMarkerOffset, kMarkerWidth);
  StoreField(record.fileName, buffer + kFileNameOffset, kNameWidth);
  StoreField(record.extractDir, buffer + kExtractDirOffset, kNameWidth);
  StoreBigEndian(record.attributes, buffer + kAttributesOffset);
  StoreBigEndian(record.recordSize, buffer + kRecordSizeOffset);
}

void DecodeModuleRecord(const std::uint8_t* buffer, ModuleRecord& record) {
  record.contentSize = FromBigEndian(buffer + kContentSizeOffset);
  // Every field may fill its width without a terminator: a name is read
  // whole, so a lookup by its full 260 bytes finds it.  (The name rule keeps
  // such a name off a drive.)
  record.marker = LoadField(buffer + kMarkerOffset, kMarkerWidth);
  record.fileName = LoadField(buffer + kFileNameOffset, kNameWidth);
  record.extractDir = LoadField(buffer + kExtractDirOffset, kNameWidth);
  record.attributes = FromBigEndian(buffer + kAttributesOffset);
  record.recordSize = FromBigEndian(buffer + kRecordSizeOffset);
}

void ScrambleChunk(std::uint8_t* buffer, std::size_t length, std::uint32_t key) {
  // The words whose offset lies below length/4 are transformed: a full chunk
  // has its first quarter scrambled and the rest stored plain.  XOR-ing a
  // big-endian word with the key is XOR-ing its bytes with the key's bytes
  // in big-endian order, so the words go 32 bytes at a time against those
  // bytes repeated (loaded and stored bytewise, in any host order).
  const std::size_t limit = length / 4;
  const std::size_t words = (limit + 3) / 4;
  std::uint8_t keyBytes[8];
  StoreBigEndian(key, keyBytes);
  StoreBigEndian(key, keyBytes + 4);
  std::uint64_t pattern;
  std::memcpy(&pattern, keyBytes, sizeof pattern);

  std::uint8_t* p = buffer;
  std::uint8_t* const end = buffer + 4 * words;
  for (; end - p >= 32; p += 32) {
    std::uint64_t lanes[4];
    std::memcpy(lanes, p, sizeof lanes);
    for (std::uint64_t& lane : lanes) lane ^= pattern;
    std::memcpy(p, lanes, sizeof lanes);
  }
  for (; p < end; p += 4) {
    for (int i = 0; i < 4; ++i) p[i] ^= keyBytes[i];
  }
}

bool IsModuleMarker(const std::string& marker) {
  return BeginsWith(marker, kBaseMarker, kBaseMarkerLength);
}

bool IsPredefinedMarker(const std::string& marker) {
  return BeginsWith(marker, kPredefinedPrefix, kPredefinedPrefixLength);
}

char MarkerSuffix(const std::string& marker) {
  if (!IsPredefinedMarker(marker) || marker.size() <= kPredefinedPrefixLength) return 0;
  return marker[kPredefinedPrefixLength];
}

std::optional<PredefinedSet> PredefinedSetOf(const std::string& marker) {
  const ModuleSetNames* names = NamesOfSuffix(MarkerSuffix(marker));
  if (names == nullptr) return std::nullopt;
  return names->set;
}

const char* MarkerOf(PredefinedSet set) {
  const ModuleSetNames* names = NamesOf(set);
  return names != nullptr ? names->marker : nullptr;
}

std::optional<bool> ModuleRecordEndsAt(FileSystem& files, FileHandle file, std::int64_t end) {
  if (end < kRecordSize) return false;
  std::array<std::uint8_t, kRecordSize> bytes{};
  if (!ReadExactly(files, file, end - 4, bytes.data(), 4)) return std::nullopt;
  const std::int64_t size = FromBigEndian(bytes.data());
  if (size < kRecordSize || size >= end) return false;
  if (!ReadExactly(files, file, end - size, bytes.data(), bytes.size())) { return std::nullopt; }
  ModuleRecord record;
  DecodeModuleRecord(bytes.data(), record);
  return IsModuleMarker(record.marker) &&
         end - size - static_cast<std::int64_t>(record.contentSize) >= 0;
}

}  // namespace brelvane
