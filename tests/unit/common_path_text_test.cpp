#include <gtest/gtest.h>

#include "common/messages.h"
#include "common/path_text.h"

namespace brelvane {
namespace {

// Answers of the system's own routines.
TEST(PathText, FindFileNameAsTheShell) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\a\\b.txt", "b.txt"},
      {"C:\\a\\", "a\\"},
      {"C:\\", "C:\\"},
      {"C:", "C:"},
      {"C:b", "b"},
      {"b.txt", "b.txt"},
      {"a/b/c.txt", "c.txt"},
      {"a:b", "b"},
      {"\\\\srv\\share", "share"},
      {"\\\\", "\\\\"},
      {"C:\\a\\b\\\\", "b\\\\"},
      {"", ""},
  };
  for (auto [path, name] : cases) EXPECT_EQ(FindFileName(path), name) << path;
}

TEST(PathText, RemoveBlanksTrimsSpacesOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"  a b  ", "a b"}, {"a", "a"}, {"   ", ""}, {"", ""}, {"\tx\t", "\tx\t"}, {" x", "x"},
  };
  for (auto [text, trimmed] : cases) EXPECT_EQ(RemoveBlanks(text), trimmed) << '"' << text << '"';
}

// Sizes in boxes: cut, never rounded up, at each unit's edges.
TEST(MessageText, SizeInUnits) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {0, "0 bytes"},
      {1, "1 byte"},
      {1023, "1023 bytes"},
      {1024, "1.00 KB"},
      {1535, "1.49 KB"},
      {10 * 1024 - 1, "9.99 KB"},
      {1024 * 1024 - 1, "1023 KB"},
      {1024 * 1024, "1.00 MB"},
      {200 * 1024 * 1024 + 1, "200 MB"},
      {12'897'280, "12.2 MB"},
      {std::uint64_t{5} << 40, "5.00 TB"},
      {UINT64_MAX, "16383 PB"},
  };
  for (auto [bytes, text] : cases) EXPECT_EQ(SizeInUnits(bytes), text) << bytes;
  // What is to be freed is rounded up, never understated.
  EXPECT_EQ(SizeInUnits(1025, true), "1.01 KB");
  EXPECT_EQ(SizeInUnits(1024, true), "1.00 KB");
  EXPECT_EQ(SizeInUnits(12'897'280, true), "12.3 MB");
  EXPECT_EQ(SizeInUnits(1023, true), "1023 bytes");
  // Rounded up across a digit or a unit, three digits still.
  EXPECT_EQ(SizeInUnits(10239, true), "10.0 KB");
  EXPECT_EQ(SizeInUnits(102399, true), "100 KB");
  EXPECT_EQ(SizeInUnits(1048575, true), "1.00 MB");
}

}  // namespace
}  // namespace brelvane
