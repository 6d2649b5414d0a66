// System services of the host backend and the test doubles over them; the
// same answers natively and under Wine.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/temp_drive.h"

namespace brelvane {
namespace {

using testing::TestPlatform;

struct ShellCase {
  const char* path;
  const char* stripped;
  std::optional<std::size_t> root_end;
  bool unc;
};

// What the shell's own routines answer.
TEST(HostSystem, ShellPathRoutines) {
  TestPlatform tp;
  System& system = tp.system();
  const ShellCase cases[] = {
      {"C:\\a\\b.txt", "b.txt", 3, false},
      {"C:\\a\\", "a\\", 3, false},
      {"C:\\", "C:\\", 3, false},
      {"C:", "C:", std::nullopt, false},
      {"C:b", "b", std::nullopt, false},
      {"b.txt", "b.txt", std::nullopt, false},
      {"a/b/c.txt", "c.txt", std::nullopt, false},
      {"a:b", "b", std::nullopt, false},
      {"\\\\srv\\share\\x", "x", 12, true},
      {"\\\\srv\\share", "share", std::nullopt, true},
      {"\\\\srv", "srv", std::nullopt, true},
      {"\\\\", "\\\\", std::nullopt, true},
      {"\\a\\b", "b", std::nullopt, false},
      {"", "", std::nullopt, false},
      {"C:\\a\\b\\\\", "b\\\\", 3, false},
      {"c:/x/y", "y", std::nullopt, false},
      // Names outside the ANSI code page: the answers count UTF-8 bytes.
      {"\\\\сервер\\доля\\файл.txt", "файл.txt", 24, true},
  };
  for (const ShellCase& c : cases) {
    EXPECT_EQ(system.StripPath(c.path), c.stripped) << c.path;
    EXPECT_EQ(system.SkipRoot(c.path), c.root_end) << c.path;
    EXPECT_EQ(system.IsUnc(c.path), c.unc) << c.path;
  }
}

TEST(HostSystem, WideToAnsiUsesTheWesternCodePage) {
  TestPlatform tp;
  struct Case {
    std::vector<std::uint16_t> units;
    std::string ansi;
  } cases[] = {
      {{'E', ':'}, "E:"},
      {{0x00E9, 0x00FF, 0x00A0}, "\xE9\xFF\xA0"},
      {{0x20AC, 0x2019, 0x0160, 0x0178}, "\x80\x92\x8A\x9F"},
      {{0x0081, 0x009D}, "\x81\x9D"},
      {{0x4E2D, 'x'}, "?x"},
      {{}, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(tp.system().WideToAnsi(c.units.data(), c.units.size()), c.ansi);
}

TEST(HostSystem, NtFamilyAndOwnPath) {
  TestPlatform tp;
  EXPECT_EQ(tp.system().PlatformId(), win::kVerPlatformWin32Nt);
  auto own = tp.system().OwnExecutablePath();
  ASSERT_TRUE(own.has_value());
  EXPECT_NE(own->find("platform_tests"), std::string::npos) << *own;
  auto current = tp.system().CurrentDirectory();
  ASSERT_TRUE(current.has_value());
  EXPECT_EQ(tp.system().CurrentDirectoryLength(), current->size() + 1);
}

// The unattended run's default log goes into the temporary folder, its
// lines stamped with the local time.
TEST(HostSystem, TempFolderAndLocalTime) {
  TestPlatform tp;
  const std::optional<std::string> temp = tp.system().TempDirectory();
  ASSERT_TRUE(temp.has_value());
  ASSERT_FALSE(temp->empty());
  EXPECT_TRUE(temp->back() == '\\' || temp->back() == '/') << *temp;
  EXPECT_TRUE(tp.files().IsDirectory(*temp)) << *temp;
  const LocalTime now = tp.system().Now();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour >= 0 && now.hour < 24 && now.minute >= 0 && now.minute < 60);
}

// ---- TestSystem -----------------------------------------------------------------

// Failures the double injects leave their code as the real calls would.
TEST(TestSystemDouble, InjectedFailuresLeaveTheirCode) {
  TestPlatform tp;
  testing::TestSystem& system = tp.system();
  system.SetCurrentDirectory("E:\\work");
  EXPECT_EQ(system.CurrentDirectoryLength(), 8u) << "the terminator counts";

  system.FailCurrentDirectoryLength(win::kErrorNotEnoughMemory);
  EXPECT_EQ(system.CurrentDirectoryLength(), 0u);
  EXPECT_EQ(system.LastError(), win::kErrorNotEnoughMemory);
  system.FailCurrentDirectory(win::kErrorAccessDenied);
  EXPECT_EQ(system.CurrentDirectory(), std::nullopt);
  EXPECT_EQ(system.LastError(), win::kErrorAccessDenied);

  system.FailOwnExecutablePath(win::kErrorFilenameExcedRange);
  EXPECT_EQ(system.OwnExecutablePath(), std::nullopt);
  EXPECT_EQ(system.LastError(), win::kErrorFilenameExcedRange);
}

TEST(TestSystemDouble, LaunchRecordsAndCanFail) {
  TestPlatform tp;
  testing::TestSystem& system = tp.system();
  EXPECT_TRUE(system.Launch("E:\\Brelvane\\Brelvane.exe"));
  system.FailLaunch(win::kErrorFileNotFound);
  EXPECT_FALSE(system.Launch("E:\\other.exe"));
  EXPECT_EQ(system.LastError(), win::kErrorFileNotFound);
  EXPECT_EQ(system.launched(),
            (std::vector<std::string>{"E:\\Brelvane\\Brelvane.exe", "E:\\other.exe"}));
}

// Page logic never ends the process, so a call under test is a fault that
// must not pass unnoticed.
TEST(TestSystemDouble, ExitProcessAbortsTheTestProgram) {
  TestPlatform tp;
  EXPECT_DEATH(tp.system().ExitProcess(7), "ExitProcess.7. called under test");
}

}  // namespace
}  // namespace brelvane
