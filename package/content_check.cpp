#include "package/content_check.h"

#include <array>
#include <cstring>

// The carry-less folding below is built for x86-64 only: the 32-bit x86 ABI
// passes no vector registers between functions compiled without SSE, so the
// x86 build takes the table path.
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "package/module_record.h"

namespace brelvane {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;  // reflected

// kCrcTables[0] is the classic byte table; kCrcTables[k][n] is the CRC state
// that byte n followed by k zero bytes leaves, so eight bytes are taken at
// once by looking each of them up in the table of its distance to the end.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
  CrcTables tables{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? kPolynomial ^ (c >> 1) : c >> 1;
    tables[0][n] = c;
  }
  for (std::size_t k = 1; k < tables.size(); ++k) {
    for (std::uint32_t n = 0; n < 256; ++n) {
      const std::uint32_t c = tables[k - 1][n];
      tables[k][n] = tables[0][c & 0xFF] ^ (c >> 8);
    }
  }
  return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();
constexpr std::size_t kCrcOffset = kContentCheckField.crcOffset;
constexpr std::size_t kRecordTagOffset = kRecordCheckField.offset;
constexpr std::size_t kRecordCrcOffset = kRecordCheckField.crcOffset;

// Four bytes as a little-endian value, whatever the host's order.
inline std::uint32_t LittleEndian32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

std::uint32_t UpdateByTable(std::uint32_t c, const std::uint8_t* data, std::size_t length) {
  const auto& t = kCrcTables;
  for (; length >= 8; length -= 8, data += 8) {
    const std::uint32_t low = c ^ LittleEndian32(data);
    const std::uint32_t high = LittleEndian32(data + 4);
    c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
        t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
  }
  for (; length > 0; --length, ++data) c = t[0][(c ^ *data) & 0xFF] ^ (c >> 8);
  return c;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define BRELVANE_CRC_FOLDING 1

// x^n modulo the polynomial, bit-reflected (bit 31 holds x^0) and shifted left
// by one, the form in which a carry-less product of reflected operands lines
// up with the data it is folded onto.
constexpr std::uint64_t FoldConstant(int n) {
  std::uint32_t v = 0x80000000u;
  for (int i = 0; i < n; ++i) v = (v & 1) != 0 ? (v >> 1) ^ kPolynomial : v >> 1;
  return std::uint64_t{v} << 1;
}
// Folding a 128-bit lane forward by D bits multiplies its low (earlier)
// half by x^(D+32) and its high half by x^(D-32).
constexpr std::uint64_t kFold512Low = FoldConstant(512 + 32);
constexpr std::uint64_t kFold512High = FoldConstant(512 - 32);
constexpr std::uint64_t kFold128Low = FoldConstant(128 + 32);
constexpr std::uint64_t kFold128High = FoldConstant(128 - 32);
static_assert(kFold512Low == 0x154442BD4u && kFold128High == 0x0CCAA009Eu);

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i lane, __m128i constants,
                                                             __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
  const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// Folds the four lanes that hold the message so far over the next 64-byte
// runs, then down to one 128-bit remainder, whose 16 bytes carry the same
// CRC as everything folded into them; the table finishes those bytes and
// the tail.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FinishFolding(__m128i x0, __m128i x1,
                                                                     __m128i x2, __m128i x3,
                                                                     const std::uint8_t* data,
                                                                     std::size_t length) {
  auto load = [](const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  const __m128i by512 =
      _mm_set_epi64x(static_cast<long long>(kFold512High), static_cast<long long>(kFold512Low));
  for (; length >= 64; length -= 64, data += 64) {
    x0 = Fold(x0, by512, load(data));
    x1 = Fold(x1, by512, load(data + 16));
    x2 = Fold(x2, by512, load(data + 32));
    x3 = Fold(x3, by512, load(data + 48));
  }
  const __m128i by128 =
      _mm_set_epi64x(static_cast<long long>(kFold128High), static_cast<long long>(kFold128Low));
  __m128i x = Fold(x0, by128, x1);
  x = Fold(x, by128, x2);
  x = Fold(x, by128, x3);
  for (; length >= 16; length -= 16, data += 16) x = Fold(x, by128, load(data));
  std::uint8_t rest[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), x);
  return UpdateByTable(UpdateByTable(0, rest, sizeof rest), data, length);
}

// The CRC state enters by XOR into the message's first four bytes.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t UpdateByFolding(std::uint32_t c,
                                                                       const std::uint8_t* data,
                                                                       std::size_t length) {
  if (length < 64) return UpdateByTable(c, data, length);
  auto load = [](const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  return FinishFolding(_mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(c))),
                       load(data + 16), load(data + 32), load(data + 48), data + 64, length - 64);
}

// The same with 512-bit registers (four 128-bit lanes each) over 256-byte
// runs, where the CPU multiplies carry-lessly in them.
constexpr std::uint64_t kFold2048Low = FoldConstant(2048 + 32);
constexpr std::uint64_t kFold2048High = FoldConstant(2048 - 32);

__attribute__((target("pclmul,sse4.1,avx512f,vpclmulqdq"))) inline __m512i FoldWide(
    __m512i lanes, __m512i constants, __m512i next) {
  const __m512i low = _mm512_clmulepi64_epi128(lanes, constants, 0x00);
  const __m512i high = _mm512_clmulepi64_epi128(lanes, constants, 0x11);
  return _mm512_ternarylogic_epi64(low, high, next, 0x96);  // three-way XOR
}

// The pair of constants in each 128-bit lane.  (Built by hand: GCC 12's
// broadcast and extract intrinsics warn about their own undefined inputs.)
__attribute__((target("avx512f"))) inline __m512i EachLane(std::uint64_t low, std::uint64_t high) {
  const auto l = static_cast<long long>(low);
  const auto h = static_cast<long long>(high);
  return _mm512_set_epi64(h, l, h, l, h, l, h, l);
}

__attribute__((target("pclmul,sse4.1,avx512f,vpclmulqdq"))) std::uint32_t UpdateByWideFolding(
    std::uint32_t c, const std::uint8_t* data, std::size_t length) {
  if (length < 512) return UpdateByFolding(c, data, length);
  const __m512i state = _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, static_cast<long long>(c));
  __m512i z0 = _mm512_xor_si512(_mm512_loadu_si512(data), state);
  __m512i z1 = _mm512_loadu_si512(data + 64);
  __m512i z2 = _mm512_loadu_si512(data + 128);
  __m512i z3 = _mm512_loadu_si512(data + 192);
  data += 256;
  length -= 256;
  const __m512i by2048 = EachLane(kFold2048Low, kFold2048High);
  for (; length >= 256; length -= 256, data += 256) {
    z0 = FoldWide(z0, by2048, _mm512_loadu_si512(data));
    z1 = FoldWide(z1, by2048, _mm512_loadu_si512(data + 64));
    z2 = FoldWide(z2, by2048, _mm512_loadu_si512(data + 128));
    z3 = FoldWide(z3, by2048, _mm512_loadu_si512(data + 192));
  }
  const __m512i by512 = EachLane(kFold512Low, kFold512High);
  __m512i z = FoldWide(z0, by512, z1);
  z = FoldWide(z, by512, z2);
  z = FoldWide(z, by512, z3);
  alignas(64) std::uint8_t lanes[64];
  _mm512_store_si512(lanes, z);
  auto lane = [&](int i) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes + 16 * i));
  };
  return FinishFolding(lane(0), lane(1), lane(2), lane(3), data, length);
}

bool CanFold() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}
bool CanFoldWide() {
  return CanFold() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
}
#endif

using UpdateFn = std::uint32_t (*)(std::uint32_t, const std::uint8_t*, std::size_t);

UpdateFn ChooseUpdate() {
#ifdef BRELVANE_CRC_FOLDING
  if (CanFoldWide()) return UpdateByWideFolding;
  if (CanFold()) return UpdateByFolding;
#endif
  return UpdateByTable;
}

}  // namespace

void Crc32::Update(const std::uint8_t* data, std::size_t length) {
  static const UpdateFn update = ChooseUpdate();
  state_ = update(state_, data, length);
}

std::optional<std::uint32_t> LoadContentCheck(const std::uint8_t* record) {
  if (std::memcmp(record + kReservedOffset, kContentCheckTag, kContentCheckTagWidth) != 0) {
    return std::nullopt;
  }
  return FromBigEndian(record + kCrcOffset);
}

namespace {

// The CRC-32 of an encoded record with its record-check CRC taken as zero.
std::uint32_t RecordCrc(const std::uint8_t* record) {
  Crc32 crc;
  const std::uint8_t zero[4] = {};
  crc.Update(record, kRecordCrcOffset);
  crc.Update(zero, sizeof zero);
  crc.Update(record + kRecordCrcOffset + 4,
             static_cast<std::size_t>(kRecordSize) - kRecordCrcOffset - 4);
  return crc.Value();
}

bool HasRecordTag(const std::uint8_t* record) {
  return std::memcmp(record + kRecordTagOffset, kRecordCheckTag, kContentCheckTagWidth) == 0;
}

}  // namespace

void SealRecord(std::uint8_t* record, std::optional<std::uint32_t> contentCrc) {
  std::memset(record + kReservedOffset, 0, kReservedWidth);
  if (contentCrc) {
    std::memcpy(record + kContentCheckField.offset, kContentCheckField.tag, kContentCheckTagWidth);
    StoreBigEndian(*contentCrc, record + kContentCheckField.crcOffset);
  }
  std::memcpy(record + kRecordCheckField.offset, kRecordCheckField.tag, kContentCheckTagWidth);
  StoreBigEndian(RecordCrc(record), record + kRecordCheckField.crcOffset);
}

RecordCheck CheckRecord(const std::uint8_t* record) {
  if (!HasRecordTag(record)) return RecordCheck::Unchecked;
  return FromBigEndian(record + kRecordCrcOffset) == RecordCrc(record) ? RecordCheck::Sound
                                                                       : RecordCheck::Damaged;
}

bool IsCheckedRecordOfSize(const std::uint8_t* bytes, std::uint32_t size) {
  if (!HasRecordTag(bytes)) return false;
  std::array<std::uint8_t, kRecordSize> copy{};
  std::memcpy(copy.data(), bytes, copy.size());
  StoreBigEndian(size, copy.data() + kRecordSizeOffset);
  return CheckRecord(copy.data()) == RecordCheck::Sound;
}

}  // namespace brelvane
