// The scripted prompts and the fault-injecting file system.
#include <gtest/gtest.h>

#include <string>

#include "support/temp_drive.h"

namespace brelvane {
namespace {

using testing::FaultyFileSystem;
using testing::ScriptedPrompts;
using testing::TempDrive;
using testing::TestPlatform;
using Op = FaultyFileSystem::Op;

TEST(ScriptedPromptsDouble, SafeAnswerWhenTheScriptRunsOut) {
  const std::pair<std::uint32_t, int> cases[] = {
      {0x00, win::kIdOk}, {0x10, win::kIdOk},     {0x24, win::kIdNo},
      {0x04, win::kIdNo}, {0x21, win::kIdCancel}, {0x01, win::kIdCancel},
  };
  for (auto [style, answer] : cases) {
    ScriptedPrompts prompts;
    EXPECT_EQ(prompts.Show(Message{"t", "c", style, false}), answer) << style;
  }
}

TEST(ScriptedPromptsDouble, AnswersInOrderAndRecordsEverything) {
  ScriptedPrompts prompts;
  prompts.QueueAnswers({win::kIdYes, win::kIdNo});
  EXPECT_EQ(prompts.Show(Message{"one", "app", 0x24, false}), win::kIdYes);
  prompts.BeginWait();
  EXPECT_EQ(prompts.Show(Message{"two", "Overwrite", 0x24, true}), win::kIdNo);
  prompts.EndWait();
  EXPECT_EQ(prompts.Show(Message{"three", "app", 0x24, false}), win::kIdNo);
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_TRUE(prompts.messages()[1].owned_by_page);
  EXPECT_EQ(prompts.messages()[1].caption, "Overwrite");
  EXPECT_EQ(prompts.wait_depth_at_message(), (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(prompts.PendingAnswers(), 0u);
}

TEST(ScriptedPromptsDouble, WaitCursorBalance) {
  ScriptedPrompts balanced;
  {
    WaitCursor outer(balanced);
    WaitCursor inner(balanced);
    EXPECT_EQ(balanced.wait_depth(), 2);
  }
  EXPECT_TRUE(balanced.WaitBalanced());
  EXPECT_EQ(balanced.wait_begins(), 2);

  ScriptedPrompts left_open;
  left_open.BeginWait();
  EXPECT_FALSE(left_open.WaitBalanced());

  ScriptedPrompts ended_twice;
  ended_twice.BeginWait();
  ended_twice.EndWait();
  ended_twice.EndWait();
  ended_twice.BeginWait();
  ended_twice.EndWait();
  EXPECT_EQ(ended_twice.wait_depth(), 0);
  EXPECT_FALSE(ended_twice.WaitBalanced());
}

class Faults : public ::testing::Test {
 protected:
  FaultyFileSystem& faults() { return tp_.faults(); }
  std::string Path(const std::string& name) const { return drive_.WinPath(name); }
  // Writes "abc" then "def" to a new file; the byte count that arrived.
  std::int64_t WriteTwice(const std::string& name) {
    FileHandle file = faults().CreateExclusive(Path(name));
    if (file == kNoFile) return -100;
    std::int64_t total = 0;
    for (const char* chunk : {"abc", "def"}) {
      std::int64_t n = faults().Write(file, chunk, 3);
      if (n > 0) total += n;
    }
    faults().Close(file);
    return total;
  }

  TestPlatform tp_;
  TempDrive drive_{tp_};
};

TEST_F(Faults, FailsTheNthCallOfAKind) {
  struct Case {
    const char* name;
    int nth;
    bool and_after;
    std::int64_t written;
  } cases[] = {
      {"first", 1, false, 3},
      {"second", 2, false, 3},
      {"third", 3, false, 6},
      {"firstAndAfter", 1, true, 0},
  };
  for (const Case& c : cases) {
    faults().Reset();
    faults().FailNth(Op::Write, c.nth, win::kErrorWriteProtect, c.and_after);
    EXPECT_EQ(WriteTwice(c.name), c.written) << c.name;
    EXPECT_EQ(faults().Triggered(), c.written < 6) << c.name;
    EXPECT_EQ(drive_.ReadHostFile(c.name)->size(), static_cast<std::size_t>(c.written)) << c.name;
  }
}

TEST_F(Faults, FailureLeavesTheChosenCode) {
  faults().FailAll(Op::Open, win::kErrorSharingViolation);
  tp_.system().SetLastError(0);
  EXPECT_EQ(faults().CreateExclusive(Path("x")), kNoFile);
  EXPECT_EQ(tp_.system().LastError(), win::kErrorSharingViolation);
  EXPECT_FALSE(drive_.HostExists("x"));
  EXPECT_EQ(faults().Count(Op::Open), 1);
}

TEST_F(Faults, FailsCallsOnAChosenPath) {
  faults().FailPath(Op::CreateDirectory, "bad", win::kErrorAccessDenied);
  EXPECT_TRUE(faults().CreateDirectory(Path("good")));
  EXPECT_FALSE(faults().CreateDirectory(Path("bad")));
  EXPECT_EQ(tp_.system().LastError(), win::kErrorAccessDenied);
  EXPECT_TRUE(faults().IsDirectory(Path("good")));
  EXPECT_FALSE(faults().IsDirectory(Path("bad")));
}

TEST_F(Faults, DiskFillsAfterALimit) {
  const std::pair<std::int64_t, std::int64_t> cases[] = {{0, 0}, {2, 2}, {4, 4}, {6, 6}, {100, 6}};
  int index = 0;
  for (auto [limit, written] : cases) {
    faults().Reset();
    faults().LimitWrites(limit);
    std::string name = "f";
    name += std::to_string(index++);
    EXPECT_EQ(WriteTwice(name), written) << limit;
    // Read before any host call can touch it.
    const std::uint32_t error = tp_.system().LastError();
    if (written < 6) { EXPECT_EQ(error, win::kErrorDiskFull) << limit; }
    EXPECT_EQ(drive_.ReadHostFile(name),
              std::string("abcdef").substr(0, static_cast<std::size_t>(written)));
  }
}

TEST_F(Faults, AFailedCloseStillReleasesTheFile) {
  drive_.WriteHostFile("held", "x");
  faults().FailAll(Op::Close, win::kErrorInvalidHandle);
  FileHandle file = faults().OpenRead(Path("held"));
  ASSERT_NE(file, kNoFile);
  EXPECT_FALSE(faults().Close(file));
  EXPECT_EQ(tp_.system().LastError(), win::kErrorInvalidHandle);
  // Deleting would fail with a sharing violation if the handle were open.
  EXPECT_TRUE(faults().DeleteFile(Path("held")));
}

TEST_F(Faults, ProbesAndSearchesCanFail) {
  drive_.WriteHostFile("f", "x");
  faults().FailNth(Op::Probe, 1, win::kErrorAccessDenied);
  faults().FailNth(Op::Find, 1, win::kErrorPathNotFound);
  faults().FailNth(Op::GetAttributes, 1, win::kErrorAccessDenied);
  EXPECT_FALSE(faults().Exists(Path("f")));
  EXPECT_TRUE(faults().Exists(Path("f")));
  EXPECT_FALSE(faults().FindFiles(Path("*.*")).has_value());
  EXPECT_TRUE(faults().FindFiles(Path("*.*")).has_value());
  EXPECT_EQ(faults().GetAttributes(Path("f")), win::kInvalidAttributes);
  EXPECT_EQ(faults().GetAttributes(Path("f")), win::kAttrArchive);
  EXPECT_EQ(faults().FailureCount(), 3);
}

}  // namespace
}  // namespace brelvane
