// The file-system helpers under every single injected failure: a tree is
// never removed without consent, a failure never passes for success, and a
// failed removal or creation always leaves a consistent drive.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "common/fs_helpers.h"
#include "support/fault_sweep.h"
#include "support/temp_drive.h"

namespace brelvane {
namespace {

using testing::FaultPoint;
using testing::FaultSweep;
using testing::TempDrive;
using testing::TestPlatform;
using Op = testing::FaultyFileSystem::Op;
namespace fs = std::filesystem;

constexpr std::uint32_t kInjected = win::kErrorReadFault;

// The tree that DeletePath removes, each file with its content.
const std::pair<const char*, const char*> kTreeFiles[] = {
    {"tree\\a.txt", "a"},
    {"tree\\ro.txt", "read-only"},
    {"tree\\sub\\b.txt", "b"},
    {"tree\\sub\\deeper\\c.txt", "c"},
};

class DeleteTreeFaults : public ::testing::Test {
 protected:
  void Arrange() {
    RemoveHost("tree");
    for (const char* dir : {"tree", "tree\\sub", "tree\\sub\\deeper", "tree\\empty"})
      drive_.MakeHostDirectory(dir);
    for (const auto& [path, content] : kTreeFiles) drive_.WriteHostFile(path, content);
    ASSERT_TRUE(test_.files().SetAttributes(drive_.WinPath("tree\\ro.txt"), win::kAttrReadOnly));
    drive_.WriteHostFile("keep.txt", "outside the tree");
    test_.prompts().ClearMessages();
    if (test_.prompts().PendingAnswers() == 0) test_.prompts().QueueAnswer(win::kIdYes);
  }
  void RemoveHost(const std::string& relative) {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(drive_.HostPath(relative), error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, error);
    }
    fs::remove_all(drive_.HostPath(relative), error);
  }
  bool QuestionAsked() {
    for (const Message& message : test_.prompts().messages()) {
      if (message.text.find("is not Empty.\r\nDelete Everything?") != std::string::npos)
        return true;
    }
    return false;
  }
  bool ErrorShown() {
    for (const Message& message : test_.prompts().messages()) {
      if ((message.style & win::kMbIconHand) != 0) return true;
    }
    return false;
  }

  TestPlatform test_;
  TempDrive drive_{test_};
};

TEST_F(DeleteTreeFaults, EveryFailureIsReportedAndNothingGoesWithoutConsent) {
  std::set<std::string> harmless;
  FaultSweep sweep;
  sweep.arrange = [&] { Arrange(); };
  sweep.run = [&] { return DeletePath(test_.platform(), drive_.WinPath("tree"), true); };
  sweep.check = [&](const FaultPoint& point, bool removed) {
    EXPECT_EQ(drive_.ReadHostFile("keep.txt"), "outside the tree");
    // False exactly when an error was shown.
    EXPECT_EQ(removed, !ErrorShown());
    // Whatever is gone went after the question was answered.
    bool anythingGone = !drive_.HostExists("tree\\empty");
    for (const auto& [path, content] : kTreeFiles) {
      const auto now = drive_.ReadHostFile(path);
      if (!now) anythingGone = true;
      else EXPECT_EQ(*now, content) << path;
    }
    if (anythingGone) { EXPECT_TRUE(QuestionAsked()); }
    if (removed) {
      EXPECT_FALSE(drive_.HostExists("tree"));
      harmless.insert(testing::Describe(point));
    }
    EXPECT_TRUE(test_.prompts().WaitBalanced());
  };
  const auto points = testing::RunFaultSweep(test_.faults(), sweep, kInjected);
  EXPECT_GE(points.size(), 20u);
  // Harmless by design: the probe that only picks the word "File" or
  // "Directory" for messages, and the emptiness search before the question
  // (when it fails, the question is asked and answered Yes).
  EXPECT_EQ(harmless, (std::set<std::string>{"probe #2", "find #1"}));
}

TEST(DeletePathConsent, AnUnsearchableDirectoryIsNotTakenForEmpty) {
  TestPlatform fresh;
  TempDrive drive(fresh);
  drive.MakeHostDirectory("tree");
  drive.WriteHostFile("tree\\precious.txt", "keep");
  fresh.faults().FailNth(Op::Find, 1, kInjected);
  // Unanswered, the question gets No.
  EXPECT_TRUE(DeletePath(fresh.platform(), drive.WinPath("tree"), true));
  ASSERT_EQ(fresh.prompts().texts().size(), 1u);
  EXPECT_NE(fresh.prompts().texts()[0].find("Delete Everything?"), std::string::npos);
  EXPECT_EQ(drive.ReadHostFile("tree\\precious.txt"), "keep") << "No keeps the tree";
}

class CreatePathFaults : public ::testing::Test {
 protected:
  TestPlatform test_;
  TempDrive drive_{test_};
};

TEST_F(CreatePathFaults, TrueOnlyWhenEveryLevelExists) {
  const std::string target = drive_.WinPath("a\\b\\c");
  std::set<std::string> harmless;
  FaultSweep sweep;
  sweep.arrange = [&] {
    std::error_code error;
    fs::remove_all(drive_.HostPath("a\\b"), error);
    drive_.MakeHostDirectory("a");
  };
  sweep.run = [&] { return CreatePath(test_.platform(), target); };
  sweep.check = [&](const FaultPoint& point, bool created) {
    EXPECT_TRUE(test_.prompts().messages().empty()) << "CreatePath never shows a message";
    EXPECT_TRUE(fs::is_directory(drive_.HostPath("a"))) << "an existing level stays";
    if (created) {
      EXPECT_TRUE(fs::is_directory(drive_.HostPath("a\\b\\c")));
      harmless.insert(testing::Describe(point));
    } else {
      EXPECT_FALSE(fs::exists(drive_.HostPath("a\\b\\c")));
    }
  };
  const auto points = testing::RunFaultSweep(test_.faults(), sweep, kInjected);
  EXPECT_GE(points.size(), 3u);
  // A failing probe of a level that does not exist yet answers "not there",
  // which is the truth: the creation that follows settles it.  The two
  // levels probed last are the missing ones.
  const int levels =
      drive_.IsDriveRoot() ? 3 : static_cast<int>(std::count(target.begin(), target.end(), '\\'));
  EXPECT_EQ(harmless, (std::set<std::string>{"probe #" + std::to_string(levels - 1),
                                             "probe #" + std::to_string(levels)}));
}

}  // namespace
}  // namespace brelvane
