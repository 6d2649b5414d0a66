#include <gtest/gtest.h>

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

}  // namespace
}  // namespace brelvane
