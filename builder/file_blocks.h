// Reading and writing whole files a block at a time, for the builder's
// commands that hash, compare and copy installers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace brelvane {

using BlockFn = std::function<void(const std::uint8_t* data, std::size_t size)>;

// Runs `each` over the file's `limit` bytes from `from` (to its end for -1),
// a block at a time; false when the file cannot be read that far.
bool ReadBlocks(const Platform& platform, const std::string& path, std::int64_t from,
                std::int64_t limit, const BlockFn& each);

// The file's SHA-256 (its first `limit` bytes; all for -1), or nothing when
// it cannot be read.
std::optional<std::string> Sha256OfFile(const Platform& platform, const std::string& path,
                                        std::int64_t limit = -1);

// Whether `length` bytes of two files, from `fromA` and `fromB`, are the same.
std::optional<bool> SameBytes(const Platform& platform, const std::string& pathA,
                              std::int64_t fromA, const std::string& pathB, std::int64_t fromB,
                              std::int64_t length);

// A new file at `path` (refused when one is there) with `text`, flushed.
bool WriteNewFile(const Platform& platform, const std::string& path, const std::string& text);

// The first `length` bytes of `from` into a new file at `path`, flushed.
bool CopyPrefix(const Platform& platform, const std::string& from, const std::string& path,
                std::int64_t length);

// The file's length, 0 when it cannot be opened.
std::uint64_t SizeOf(const Platform& platform, const std::string& path);

}  // namespace brelvane
