// Behaviour of the host backend that the core relies on.  The same cases run
// on the simulation natively and on the real system under Wine, so the two
// must agree.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_drive.h"

namespace brelvane {
namespace {

using testing::TempDrive;
using testing::TestPlatform;

class HostFiles : public ::testing::Test {
 protected:
  FileSystem& files() { return tp_.files(); }
  System& system() { return tp_.system(); }
  std::string Path(const std::string& relative) const {
    return drive_.WinPath("work\\" + relative);
  }

  void SetUp() override { ASSERT_TRUE(files().CreateDirectory(drive_.WinPath("work"))); }

  // Creates a file through the seam with `bytes` in it.
  void MakeFile(const std::string& relative, const std::string& bytes = "data") {
    FileHandle file = files().CreateExclusive(Path(relative));
    ASSERT_NE(file, kNoFile) << relative;
    ASSERT_EQ(files().Write(file, bytes.data(), bytes.size()),
              static_cast<std::int64_t>(bytes.size()));
    ASSERT_TRUE(files().Close(file));
  }

  std::string ReadAll(const std::string& relative) {
    ScopedFile file(files(), files().OpenRead(Path(relative)));
    if (!file.valid()) return "<cannot open>";
    std::string content;
    char buffer[7];  // small on purpose: several reads per file
    for (;;) {
      std::int64_t n = files().Read(file.get(), buffer, sizeof buffer);
      if (n <= 0) break;
      content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
  }

  TestPlatform tp_;
  TempDrive drive_{tp_};
};

// ---- attributes ---------------------------------------------------------------

struct AttributeCase {
  const char* name;
  bool directory;
  std::uint32_t set;
  std::uint32_t expected;
};

class AttributeRoundTrip : public HostFiles, public ::testing::WithParamInterface<AttributeCase> {};

TEST_P(AttributeRoundTrip, ReadsBackWhatTheSystemKeeps) {
  const AttributeCase& c = GetParam();
  if (c.directory) {
    ASSERT_TRUE(files().CreateDirectory(Path("entry")));
  } else {
    MakeFile("entry");
  }
  ASSERT_TRUE(files().SetAttributes(Path("entry"), c.set));
  EXPECT_EQ(files().GetAttributes(Path("entry")), c.expected);
  // Back to plain: nothing sticks.
  ASSERT_TRUE(files().SetAttributes(Path("entry"), win::kAttrNormal));
  EXPECT_EQ(files().GetAttributes(Path("entry")),
            c.directory ? win::kAttrDirectory : win::kAttrArchive);
}

// Every file carries the archive bit (it cannot be cleared on the systems the
// program is tested on); read-only is not kept for directories.
INSTANTIATE_TEST_SUITE_P(Host, AttributeRoundTrip,
                         ::testing::Values(AttributeCase{"FileNormal", false, 0x80, 0x20},
                                           AttributeCase{"FileZero", false, 0x00, 0x20},
                                           AttributeCase{"FileReadOnly", false, 0x01, 0x21},
                                           AttributeCase{"FileReadOnlyNormal", false, 0x81, 0x21},
                                           AttributeCase{"FileHidden", false, 0x02, 0x22},
                                           AttributeCase{"FileHiddenNormal", false, 0x82, 0x22},
                                           AttributeCase{"FileSystem", false, 0x04, 0x24},
                                           AttributeCase{"FileAll", false, 0x27, 0x27},
                                           AttributeCase{"FileDirectoryBitIgnored", false, 0x10,
                                                         0x20},
                                           AttributeCase{"DirHidden", true, 0x02, 0x12},
                                           AttributeCase{"DirReadOnlyIgnored", true, 0x01, 0x10},
                                           AttributeCase{"DirArchiveIgnored", true, 0x20, 0x10},
                                           AttributeCase{"DirNormal", true, 0x80, 0x10}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostFiles, NewFileAndDirectoryAttributes) {
  MakeFile("new.bin");
  ASSERT_TRUE(files().CreateDirectory(Path("newdir")));
  EXPECT_EQ(files().GetAttributes(Path("new.bin")), win::kAttrArchive);
  EXPECT_EQ(files().GetAttributes(Path("newdir")), win::kAttrDirectory);
  EXPECT_TRUE(files().Exists(Path("new.bin")));
  EXPECT_FALSE(files().IsDirectory(Path("new.bin")));
  EXPECT_TRUE(files().IsDirectory(Path("newdir")));
}

TEST_F(HostFiles, NamesMatchWithoutRegardToCase) {
  MakeFile("Mixed.Txt", "abc");
  EXPECT_EQ(files().GetAttributes(Path("MIXED.TXT")), win::kAttrArchive);
  EXPECT_EQ(ReadAll("mixed.txt"), "abc");
  EXPECT_EQ(files().CreateExclusive(Path("mixed.TXT")), kNoFile);
  EXPECT_EQ(system().LastError(), win::kErrorFileExists);
}

// ---- failures and their codes -------------------------------------------------

enum class Op {
  OpenRead,
  OpenAppend,
  OpenExclusive,
  Create,
  GetAttr,
  SetAttr,
  Delete,
  MakeDir,
  RemoveDir,
  Find,
  Move,         // "src" to the path, keeping what is there
  MoveReplace,  // "src" to the path, replacing a file there
  FreeSpace,
};

struct FailureCase {
  const char* name;
  Op op;
  const char* path;  // below the work folder; holds "file", "dir\inner"
  std::uint32_t code;
};

class Failures : public HostFiles, public ::testing::WithParamInterface<FailureCase> {
 protected:
  bool Run(Op op, const std::string& path) {
    switch (op) {
      case Op::OpenRead: return files().OpenRead(path) != kNoFile;
      case Op::OpenAppend: return files().OpenAppend(path) != kNoFile;
      case Op::OpenExclusive: return files().OpenReadExclusive(path) != kNoFile;
      case Op::Create: return files().CreateExclusive(path) != kNoFile;
      case Op::GetAttr: return files().GetAttributes(path) != win::kInvalidAttributes;
      case Op::SetAttr: return files().SetAttributes(path, win::kAttrNormal);
      case Op::Delete: return files().DeleteFile(path);
      case Op::MakeDir: return files().CreateDirectory(path);
      case Op::RemoveDir: return files().RemoveDirectory(path);
      case Op::Find: return files().FindFiles(path).has_value();
      case Op::Move: return files().MoveIntoPlace(Path("src"), path, false);
      case Op::MoveReplace: return files().MoveIntoPlace(Path("src"), path, true);
      case Op::FreeSpace: return files().FreeBytes(path).has_value();
    }
    return true;
  }
};

TEST_P(Failures, FailWithTheWindowsCode) {
  const FailureCase& c = GetParam();
  MakeFile("file");
  ASSERT_TRUE(files().CreateDirectory(Path("dir")));
  MakeFile("dir\\inner");
  MakeFile("locked");
  MakeFile("src");
  ASSERT_TRUE(files().SetAttributes(Path("locked"), win::kAttrReadOnly));
  system().SetLastError(0);
  EXPECT_FALSE(Run(c.op, Path(c.path)));
  EXPECT_EQ(system().LastError(), c.code);
  EXPECT_EQ(ReadAll("src"), "data") << "a refused move leaves its source";
}

INSTANTIATE_TEST_SUITE_P(
    Host, Failures,
    ::testing::Values(FailureCase{"OpenMissingFile", Op::OpenRead, "missing", 2},
                      FailureCase{"OpenInMissingFolder", Op::OpenRead, "nowhere\\missing", 3},
                      FailureCase{"OpenBelowAFile", Op::OpenRead, "file\\x", 3},
                      FailureCase{"OpenDirectory", Op::OpenRead, "dir", 5},
                      FailureCase{"AppendDirectory", Op::OpenAppend, "dir", 5},
                      FailureCase{"AppendMissing", Op::OpenAppend, "missing", 2},
                      FailureCase{"ExclusiveMissing", Op::OpenExclusive, "missing", 2},
                      FailureCase{"CreateOverFile", Op::Create, "file", 80},
                      FailureCase{"CreateOverDirectory", Op::Create, "dir", 80},
                      FailureCase{"CreateInMissingFolder", Op::Create, "nowhere\\new", 3},
                      FailureCase{"AttributesOfMissing", Op::GetAttr, "missing", 2},
                      FailureCase{"AttributesInMissingFolder", Op::GetAttr, "nowhere\\missing", 3},
                      FailureCase{"SetAttributesOfMissing", Op::SetAttr, "missing", 2},
                      FailureCase{"DeleteMissing", Op::Delete, "missing", 2},
                      FailureCase{"DeleteInMissingFolder", Op::Delete, "nowhere\\missing", 3},
                      FailureCase{"DeleteDirectory", Op::Delete, "dir", 5},
                      FailureCase{"DeleteReadOnly", Op::Delete, "locked", 5},
                      FailureCase{"MakeExistingDirectory", Op::MakeDir, "dir", 183},
                      FailureCase{"MakeDirectoryOverFile", Op::MakeDir, "file", 183},
                      FailureCase{"MakeDirectoryInMissingFolder", Op::MakeDir, "nowhere\\new", 3},
                      FailureCase{"RemoveFileAsDirectory", Op::RemoveDir, "file", 267},
                      FailureCase{"RemoveMissingDirectory", Op::RemoveDir, "missing", 2},
                      FailureCase{"RemoveNonEmptyDirectory", Op::RemoveDir, "dir", 145},
                      FailureCase{"FindInMissingFolder", Op::Find, "nowhere\\*.*", 3},
                      FailureCase{"FindBelowAFile", Op::Find, "file\\*.*", 123},
                      FailureCase{"FindNoMatch", Op::Find, "nothing*", 2},
                      FailureCase{"MoveOntoAFile", Op::Move, "file", 183},
                      FailureCase{"MoveOntoADirectory", Op::Move, "dir", 183},
                      FailureCase{"MoveReplacingADirectory", Op::MoveReplace, "dir", 5},
                      FailureCase{"FreeSpaceOfAMissingFolder", Op::FreeSpace, "nowhere\\", 2}),
    [](const auto& info) { return std::string(info.param.name); });

// The swap of an install: the new file takes the name of a read-only, hidden
// one in one step, and the volume says how much room it has.
TEST_F(HostFiles, MoveIntoPlaceReplacesAReadOnlyHiddenFile) {
  MakeFile("old", "old");
  ASSERT_TRUE(files().SetAttributes(Path("old"), win::kAttrReadOnly | win::kAttrHidden));
  MakeFile("src", "new");
  ASSERT_TRUE(files().MoveIntoPlace(Path("src"), Path("old"), true));
  EXPECT_EQ(ReadAll("old"), "new");
  EXPECT_EQ(files().GetAttributes(Path("old")), win::kAttrArchive);
  EXPECT_FALSE(files().Exists(Path("src")));
  EXPECT_GT(files().FreeBytes(Path("")).value_or(0), 0u);
}

// Whatever moment a process dies in, the swap leaves the old file with its
// bits or the new file: a watcher never sees the old one without them (the
// new file is hidden only, so it is told from the old one stripped of its
// read-only and hidden bits).
TEST_F(HostFiles, ASwapNeverShowsTheOldFileWithoutItsBits) {
  constexpr std::uint32_t kOld = win::kAttrReadOnly | win::kAttrHidden | win::kAttrArchive;
  constexpr std::uint32_t kNew = win::kAttrHidden | win::kAttrArchive;
  for (int round = 0; round < 20; ++round) {
    MakeFile("old", "old");
    ASSERT_TRUE(files().SetAttributes(Path("old"), kOld));
    MakeFile("src", "new");
    ASSERT_TRUE(files().SetAttributes(Path("src"), win::kAttrHidden));
    std::atomic<bool> seenOld = false, seenNew = false;
    std::atomic<std::uint32_t> stray = 0;
    std::thread watcher([&] {
      while (!seenNew) {
        const std::uint32_t bits = files().GetAttributes(Path("old"));
        if (bits == kOld) seenOld = true;
        else if (bits == kNew) seenNew = true;
        else stray = bits;
      }
    });
    while (!seenOld) std::this_thread::yield();
    const bool moved = files().MoveIntoPlace(Path("src"), Path("old"), true);
    if (!moved) seenNew = true;
    watcher.join();
    ASSERT_TRUE(moved) << "round " << round;
    ASSERT_EQ(stray, 0u) << "round " << round;
    ASSERT_TRUE(files().SetAttributes(Path("old"), win::kAttrNormal));
    ASSERT_TRUE(files().DeleteFile(Path("old")));
  }
}

TEST_F(HostFiles, RefusedDeleteLeavesTheReadOnlyFile) {
  MakeFile("locked", "keep");
  ASSERT_TRUE(files().SetAttributes(Path("locked"), win::kAttrReadOnly | win::kAttrHidden));
  EXPECT_FALSE(files().DeleteFile(Path("locked")));
  EXPECT_EQ(ReadAll("locked"), "keep");
  ASSERT_TRUE(files().SetAttributes(Path("locked"), win::kAttrNormal));
  EXPECT_TRUE(files().DeleteFile(Path("locked")));
  EXPECT_FALSE(files().Exists(Path("locked")));
  EXPECT_EQ(system().LastError(), win::kErrorFileNotFound);
}

// ---- error texts ------------------------------------------------------------

struct TextCase {
  std::uint32_t code;
  const char* text;
};

TEST_F(HostFiles, ErrorTextsAreTheSystemsOwn) {
#ifdef _WIN32
  // The real system's table: every code the core reports has a text that
  // ends with the system's line break; an unknown code has none.
  // (Wine's table has no text for 223, the 2 GiB limit; Windows has.)
  for (std::uint32_t code :
       {0u, 2u, 3u, 5u, 13u, 23u, 32u, 38u, 80u, 87u, 112u, 123u, 145u, 183u, 234u, 259u, 267u}) {
    std::string text = system().ErrorText(code);
    ASSERT_GE(text.size(), 3u) << "code " << code;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "code " << code;
  }
  EXPECT_EQ(system().ErrorText(9999), "");
#else
  const TextCase cases[] = {
      {0, "The operation completed successfully.\r\n"},
      {2, "The system cannot find the file specified.\r\n"},
      {3, "The system cannot find the path specified.\r\n"},
      {5, "Access is denied.\r\n"},
      // The codes the package layer leaves for what it detects itself.
      {13, "The data is invalid.\r\n"},
      {23, "Data error (cyclic redundancy check).\r\n"},
      {38, "Reached the end of the file.\r\n"},
      {223, "The file size exceeds the limit allowed and cannot be saved.\r\n"},
      {32, "The process cannot access the file because it is being used by another process.\r\n"},
      {80, "The file exists.\r\n"},
      {87, "The parameter is incorrect.\r\n"},
      {112, "There is not enough space on the disk.\r\n"},
      {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
      {145, "The directory is not empty.\r\n"},
      {183, "Cannot create a file when that file already exists.\r\n"},
      {234, "More data is available.\r\n"},
      {259, "No more data is available.\r\n"},
      {267, "The directory name is invalid.\r\n"},
      {9999, ""},
  };
  for (const TextCase& c : cases)
    EXPECT_EQ(system().ErrorText(c.code), c.text) << "code " << c.code;
#endif
}

// ---- directory search --------------------------------------------------------

std::vector<std::string> Names(const std::vector<DirEntry>& entries) {
  std::vector<std::string> names;
  for (const DirEntry& entry : entries) names.push_back(entry.name);
  return names;
}

TEST_F(HostFiles, FindDeliversDotEntriesFirstThenNamesInOrder) {
  for (const char* name : {"zeta", "Alpha", "beta", "_u", "10", "9"}) MakeFile(name);
  ASSERT_TRUE(files().CreateDirectory(Path("Gamma")));
  ASSERT_TRUE(files().SetAttributes(Path("beta"), win::kAttrHidden | win::kAttrReadOnly));
  auto entries = files().FindFiles(drive_.WinPath("work\\*.*"));
  ASSERT_TRUE(entries.has_value());
  EXPECT_EQ(Names(*entries), (std::vector<std::string>{".", "..", "10", "9", "Alpha", "beta",
                                                       "Gamma", "zeta", "_u"}));
  for (const DirEntry& entry : *entries) {
    std::uint32_t expected = entry.name == "beta"                            ? 0x23u
                             : entry.name == "Gamma" || entry.name[0] == '.' ? 0x10u
                                                                             : 0x20u;
    EXPECT_EQ(entry.attributes, expected) << entry.name;
  }
}

TEST_F(HostFiles, FindOfAnEmptyFolderHoldsOnlyTheDotEntries) {
  ASSERT_TRUE(files().CreateDirectory(Path("empty")));
  auto entries = files().FindFiles(Path("empty\\*.*"));
  ASSERT_TRUE(entries.has_value());
  EXPECT_EQ(Names(*entries), (std::vector<std::string>{".", ".."}));
}

TEST_F(HostFiles, FindMatchesPatternsWithoutRegardToCase) {
  for (const char* name : {"a.TXT", "b.txt", "c.bin", "noext"}) MakeFile(name);
  auto txt = files().FindFiles(Path("*.txt"));
  ASSERT_TRUE(txt.has_value());
  EXPECT_EQ(Names(*txt), (std::vector<std::string>{"a.TXT", "b.txt"}));
  auto one = files().FindFiles(Path("NOEXT"));
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(Names(*one), (std::vector<std::string>{"noext"}));
}

// ---- open files --------------------------------------------------------------

TEST_F(HostFiles, AppendWritesAtTheEndWhereverThePositionIs) {
  MakeFile("log", "abc");
  ScopedFile file(files(), files().OpenAppend(Path("log")));
  ASSERT_TRUE(file.valid());
  EXPECT_EQ(files().Write(file.get(), "def", 3), 3);
  EXPECT_EQ(files().Length(file.get()), 6);
  ASSERT_EQ(files().Seek(file.get(), 0, SeekFrom::Begin), 0);
  EXPECT_EQ(files().Write(file.get(), "g", 1), 1);
  ASSERT_TRUE(file.Reset());
  EXPECT_EQ(ReadAll("log"), "abcdefg");
}

TEST_F(HostFiles, TruncateCutsAnAppendBack) {
  MakeFile("pkg", "image");
  ScopedFile file(files(), files().OpenAppend(Path("pkg")));
  ASSERT_TRUE(file.valid());
  ASSERT_EQ(files().Write(file.get(), "+module", 7), 7);
  ASSERT_TRUE(files().Truncate(file.get(), 5));
  EXPECT_EQ(files().Length(file.get()), 5);
  ASSERT_TRUE(file.Reset());
  EXPECT_EQ(ReadAll("pkg"), "image");
}

TEST_F(HostFiles, SeekReportsPositionsAndRefusesNegativeOnes) {
  MakeFile("f", "0123456789");
  ScopedFile file(files(), files().OpenRead(Path("f")));
  ASSERT_TRUE(file.valid());
  EXPECT_EQ(files().Seek(file.get(), -4, SeekFrom::End), 6);
  char c = 0;
  ASSERT_EQ(files().Read(file.get(), &c, 1), 1);
  EXPECT_EQ(c, '6');
  EXPECT_EQ(files().Seek(file.get(), 2, SeekFrom::Current), 9);
  EXPECT_EQ(files().Seek(file.get(), -1, SeekFrom::Begin), -1);
  EXPECT_EQ(system().LastError(), win::kErrorNegativeSeek);
  EXPECT_EQ(files().Length(file.get()), 10);
}

TEST_F(HostFiles, ReadingAWriteOnlyHandleIsRefused) {
  FileHandle handle = files().CreateExclusive(Path("w"));
  ASSERT_NE(handle, kNoFile);
  ScopedFile file(files(), handle);
  char c;
  EXPECT_EQ(files().Read(file.get(), &c, 1), -1);
  EXPECT_EQ(system().LastError(), win::kErrorAccessDenied);
}

TEST_F(HostFiles, ExclusiveOpenFailsWhileTheFileIsOpen) {
  MakeFile("shared");
  {
    ScopedFile reader(files(), files().OpenRead(Path("shared")));
    ASSERT_TRUE(reader.valid());
    EXPECT_EQ(files().OpenReadExclusive(Path("shared")), kNoFile);
    EXPECT_EQ(system().LastError(), win::kErrorSharingViolation);
  }
  {
    ScopedFile writer(files(), files().OpenAppend(Path("shared")));
    ASSERT_TRUE(writer.valid());
    EXPECT_EQ(files().OpenReadExclusive(Path("shared")), kNoFile);
    EXPECT_EQ(system().LastError(), win::kErrorSharingViolation);
  }
  ScopedFile alone(files(), files().OpenReadExclusive(Path("shared")));
  ASSERT_TRUE(alone.valid());
  // And nobody else gets in while it is held.
  EXPECT_EQ(files().OpenRead(Path("shared")), kNoFile);
  EXPECT_EQ(system().LastError(), win::kErrorSharingViolation);
}

TEST_F(HostFiles, LockAndUnlockAnAppendHandle) {
  MakeFile("pkg");
  ScopedFile file(files(), files().OpenAppend(Path("pkg")));
  ASSERT_TRUE(file.valid());
  EXPECT_TRUE(files().Lock(file.get(), LockMode::Exclusive));
  EXPECT_EQ(files().Write(file.get(), "x", 1), 1);
  EXPECT_TRUE(files().Unlock(file.get()));
}

TEST_F(HostFiles, RemovedDirectoryIsGone) {
  ASSERT_TRUE(files().CreateDirectory(Path("d")));
  ASSERT_TRUE(files().CreateDirectory(Path("d\\e")));
  EXPECT_TRUE(files().RemoveDirectory(Path("d\\e")));
  EXPECT_TRUE(files().RemoveDirectory(Path("d")));
  EXPECT_FALSE(files().Exists(Path("d")));
}

TEST_F(HostFiles, AnOpenFileCannotBeDeleted) {
  MakeFile("busy", "x");
  {
    ScopedFile reader(files(), files().OpenRead(Path("busy")));
    ASSERT_TRUE(reader.valid());
    EXPECT_FALSE(files().DeleteFile(Path("busy")));
    EXPECT_EQ(system().LastError(), win::kErrorSharingViolation);
  }
  EXPECT_TRUE(files().DeleteFile(Path("busy")));
}

}  // namespace
}  // namespace brelvane
