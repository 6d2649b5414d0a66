// What only the simulation has: the drive map, the host-side form of
// attributes, and the Windows rules it enforces on top of POSIX.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <string>
#include <vector>

#include "platform/posix/posix_error.h"
#include "platform/posix/posix_host.h"
#include "support/temp_drive.h"

namespace brelvane {
namespace {

using testing::TempDrive;
using testing::TestPlatform;

class Simulation : public ::testing::Test {
 protected:
  PosixFileSystem& files() { return tp_.host().files(); }
  PosixSystem& system() { return tp_.host().system(); }
  std::string Xattr(const std::string& relative) {
    char text[64] = {};
    ssize_t n =
        ::getxattr(drive_.HostPath(relative).c_str(), "user.DOSATTRIB", text, sizeof text - 1);
    return n < 0 ? "<none>" : std::string(text, static_cast<std::size_t>(n));
  }
  mode_t Mode(const std::string& relative) {
    struct stat st {};
    ::stat(drive_.HostPath(relative).c_str(), &st);
    return st.st_mode & 0777;
  }

  TestPlatform tp_;
  TempDrive drive_{tp_, 'T'};
};

TEST_F(Simulation, DriveLettersMapOntoHostFolders) {
  drive_.MakeHostDirectory("Dir");
  drive_.WriteHostFile("Dir/File.txt", "x");
  drive_.WriteHostFile("Dir/\xc3\xa9t\xc3\xa9.txt", "x");
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"T:\\Dir\\File.txt", 0x20},
      {"t:/dir/file.TXT", 0x20},
      {"T:\\DIR\\\xc3\x89T\xc3\x89.TXT", 0x20},  // letter case beyond ASCII too
      {"T:\\dir\\..\\DIR\\.\\file.txt", 0x20},
      {"T:\\", 0x10},
      {"T:", 0x10},
      {"T:\\..\\..", 0x10},
      {"Q:\\Dir", win::kInvalidAttributes},
  };
  for (auto [path, attributes] : cases) EXPECT_EQ(files().GetAttributes(path), attributes) << path;
  EXPECT_EQ(system().LastError(), win::kErrorPathNotFound);  // the unmapped Q:
  EXPECT_EQ(files().HostPath("T:\\dir\\file.txt"), drive_.HostPath("Dir/File.txt"));
  EXPECT_EQ(system().LogicalDrives() & (1u << ('T' - 'A')), 1u << ('T' - 'A'));
  EXPECT_EQ(system().LogicalDrives() & (1u << ('Q' - 'A')), 0u);
}

TEST_F(Simulation, HostPathsAreUsedAsTheyAre) {
  drive_.WriteHostFile("plain", "abc");
  std::string host = drive_.HostPath("plain");
  EXPECT_EQ(files().GetAttributes(host), win::kAttrArchive);
  std::string with_backslash = drive_.HostPath("") + "\\plain";
  EXPECT_EQ(files().GetAttributes(with_backslash), win::kAttrArchive);
}

TEST_F(Simulation, PathsWindowsRefuses) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"T:\\a<b", win::kErrorInvalidName}, {"T:\\a|b", win::kErrorInvalidName},
      {"T:\\a*", win::kErrorInvalidName},  {"T:\\x\"y", win::kErrorInvalidName},
      {"\\\\server\\share\\x", 53},        {"", win::kErrorPathNotFound},
  };
  for (auto [path, code] : cases) {
    EXPECT_EQ(files().CreateExclusive(path), kNoFile) << path;
    EXPECT_EQ(system().LastError(), code) << path;
  }
}

TEST_F(Simulation, AttributesLiveWhereWineKeepsThem) {
  drive_.WriteHostFile("f", "x");
  drive_.MakeHostDirectory("d");
  struct Case {
    const char* entry;
    std::uint32_t set;
    const char* xattr;
    mode_t write_bits;
  } cases[] = {
      {"f", 0x02, "0x2", 0200},    {"f", 0x06, "0x6", 0200}, {"f", 0x23, "0x2", 0},
      {"f", 0x80, "<none>", 0200}, {"d", 0x12, "0x2", 0200}, {"d", 0x01, "<none>", 0200},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(files().SetAttributes(drive_.WinPath(c.entry), c.set));
    EXPECT_EQ(Xattr(c.entry), c.xattr) << c.entry << " " << c.set;
    EXPECT_EQ(Mode(c.entry) & 0200, c.write_bits) << c.entry << " " << c.set;
  }
}

// Attributes Wine wrote (or anything else left in the attribute) read back as
// Wine would read them.
TEST_F(Simulation, ReadsAttributesOthersWrote) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"0x22", 0x22}, {"0x2", 0x22}, {"0x12", 0x22}, {"0x1", 0x20},
      {"0X4", 0x24},  {"2", 0x20},   {"junk", 0x20},
  };
  int index = 0;
  for (auto [text, attributes] : cases) {
    std::string name = "w";
    name += std::to_string(index++);
    drive_.WriteHostFile(name, "x");
    ASSERT_EQ(::setxattr(drive_.HostPath(name).c_str(), "user.DOSATTRIB", text,
                         std::string(text).size(), 0),
              0);
    EXPECT_EQ(files().GetAttributes(drive_.WinPath(name)), attributes) << text;
  }
  drive_.WriteHostFile("ro", "x");
  ::chmod(drive_.HostPath("ro").c_str(), 0444);
  EXPECT_EQ(files().GetAttributes(drive_.WinPath("ro")), 0x21u);
  ::chmod(drive_.HostPath("ro").c_str(), 0464);
  EXPECT_EQ(files().GetAttributes(drive_.WinPath("ro")), 0x20u);
}

// The host would allow these to a privileged user; Windows does not.
TEST_F(Simulation, ReadOnlyFilesRefuseWritingAndRootsRefuseRemoval) {
  drive_.WriteHostFile("ro", "x");
  ASSERT_TRUE(files().SetAttributes("T:\\ro", win::kAttrReadOnly));
  EXPECT_EQ(files().OpenAppend("T:\\ro"), kNoFile);
  EXPECT_EQ(system().LastError(), win::kErrorAccessDenied);
  EXPECT_FALSE(files().RemoveDirectory("T:\\"));
  EXPECT_EQ(system().LastError(), win::kErrorAccessDenied);
  EXPECT_FALSE(files().CreateDirectory("T:\\"));
  EXPECT_EQ(system().LastError(), win::kErrorAlreadyExists);
}

TEST_F(Simulation, TheDriveRootHasNoDotEntries) {
  auto none = files().FindFiles("T:\\*.*");
  EXPECT_FALSE(none.has_value());
  EXPECT_EQ(system().LastError(), win::kErrorFileNotFound);
  drive_.WriteHostFile("only", "x");
  auto entries = files().FindFiles("T:\\*.*");
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ((*entries)[0].name, "only");
}

TEST_F(Simulation, LaunchChecksTheFileAndTellsTheFrontEnd) {
  std::vector<std::string> started;
  system().SetLaunchObserver([&](const std::string& path) { started.push_back(path); });
  drive_.WriteHostFile("tool.exe", "MZ");
  EXPECT_TRUE(system().Launch("T:\\tool.exe"));
  EXPECT_FALSE(system().Launch("T:\\missing.exe"));
  EXPECT_EQ(system().LastError(), win::kErrorFileNotFound);
  EXPECT_EQ(started, std::vector<std::string>{"T:\\tool.exe"});
}

// The length the caller must allow for, as the system gives it: the
// terminator counts.
TEST_F(Simulation, CurrentDirectoryLengthCountsTheTerminator) {
  system().SetCurrentDirectory("T:\\work");
  EXPECT_EQ(system().CurrentDirectoryLength(), 8u);
}

TEST_F(Simulation, UnknownErrorTextLeavesTheFormatFailure) {
  system().SetLastError(2);
  EXPECT_EQ(system().ErrorText(4242), "");
  EXPECT_EQ(system().LastError(), 317u);
}

TEST(SimulationErrors, ErrnoMapsToWindowsCodes) {
  const std::pair<int, std::uint32_t> cases[] = {
      {ENOENT, 2},   {EACCES, 5},      {EPERM, 5}, {EEXIST, 80},
      {ENOSPC, 112}, {ENOTEMPTY, 145}, {EBADF, 6}, {EROFS, 19},
  };
  for (auto [error, code] : cases) EXPECT_EQ(WindowsCodeFromErrno(error), code) << error;
}

}  // namespace
}  // namespace brelvane

#endif  // _WIN32
