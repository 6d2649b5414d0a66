// The file-system helpers and the messages they show, on the host backend.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/error_text.h"
#include "common/fs_helpers.h"
#include "common/messages.h"
#include "support/temp_drive.h"

namespace brelvane {
namespace {

using testing::TempDrive;
using testing::TestPlatform;

constexpr std::uint32_t kErrorStyle = 0x10;
constexpr std::uint32_t kQuestionStyle = 0x24;

class Helpers : public ::testing::Test {
 protected:
  void SetUp() override {
    tp_.system().SetOwnExecutablePath("C:\\Program Files\\brelvane-setup.exe");
    ASSERT_TRUE(files().CreateDirectory(drive_.WinPath("work")));
  }
  FileSystem& files() { return tp_.files(); }
  Platform platform() { return tp_.platform(); }
  std::string Path(const std::string& relative) const {
    return drive_.WinPath("work\\" + relative);
  }
  void MakeFile(const std::string& relative, std::uint32_t attributes = 0) {
    FileHandle file = files().CreateExclusive(Path(relative));
    ASSERT_NE(file, kNoFile) << relative;
    ASSERT_EQ(files().Write(file, "x", 1), 1);
    ASSERT_TRUE(files().Close(file));
    if (attributes != 0) { ASSERT_TRUE(files().SetAttributes(Path(relative), attributes)); }
  }
  void MakeDir(const std::string& relative) {
    ASSERT_TRUE(files().CreateDirectory(Path(relative)));
  }
  std::string Text(std::uint32_t code) { return tp_.system().ErrorText(code); }
  const std::vector<Message>& messages() { return tp_.prompts().messages(); }

  TestPlatform tp_;
  TempDrive drive_{tp_};
};

// ---- DeletePath --------------------------------------------------------------

struct DeleteCase {
  const char* name;
  bool read_only;
  bool force;
  std::vector<int> answers;
  bool removed;
  std::vector<std::string> questions;  // texts with %s for the path
};

class DeletePathOfReadOnly : public Helpers, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeletePathOfReadOnly, AsksOnlyWithoutForce) {
  const DeleteCase& c = GetParam();
  MakeFile("f.bin", c.read_only ? win::kAttrReadOnly : 0);
  for (int answer : c.answers) tp_.prompts().QueueAnswer(answer);
  EXPECT_TRUE(DeletePath(platform(), Path("f.bin"), c.force));
  EXPECT_EQ(files().Exists(Path("f.bin")), !c.removed);
  ASSERT_EQ(messages().size(), c.questions.size());
  for (std::size_t i = 0; i < c.questions.size(); ++i) {
    EXPECT_EQ(messages()[i].text, Format(c.questions[i].c_str(), Path("f.bin").c_str()));
    EXPECT_EQ(messages()[i].style, kQuestionStyle);
    EXPECT_EQ(messages()[i].caption, "brelvane-setup");
    EXPECT_FALSE(messages()[i].owned_by_page);
  }
}

const char* const kReadOnlyQuestion = "The File: %s is read-only.\r\nDelete it anyway?";

INSTANTIATE_TEST_SUITE_P(
    Cases, DeletePathOfReadOnly,
    ::testing::Values(
        DeleteCase{"PlainFileForced", false, true, {}, true, {}},
        DeleteCase{"PlainFileNotForced", false, false, {}, true, {}},
        DeleteCase{"ReadOnlyForcedNoQuestion", true, true, {}, true, {}},
        DeleteCase{"ReadOnlyYes", true, false, {win::kIdYes}, true, {kReadOnlyQuestion}},
        DeleteCase{"ReadOnlyNoKeepsIt", true, false, {win::kIdNo}, false, {kReadOnlyQuestion}}),
    [](const auto& info) { return std::string(info.param.name); });

// A link to a folder outside goes as itself: what the folder holds stays.
struct LinkCase {
  const char* name;
  bool tree;            // DeleteTree rather than DeletePath
  const char* removed;  // what is handed over; the link is "box\\link"
};

class DeletingALink : public Helpers, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(DeletingALink, LeavesItsTargetAlone) {
  const LinkCase& c = GetParam();
  TempDrive outside(tp_, 'U');
  outside.MakeHostDirectory("kept");
  outside.WriteHostFile("kept\\x", "x");
  MakeDir("box");
  if (!testing::MakeHostLink(files(), drive_.HostPath("work\\box\\link"), Path("box\\link"),
                             outside.HostPath("kept"))) {
    GTEST_SKIP() << "this host makes no links the platform reports";
  }
  EXPECT_TRUE(c.tree ? DeleteTree(platform(), Path(c.removed))
                     : DeletePath(platform(), Path(c.removed), false));
  EXPECT_FALSE(files().Exists(Path("box\\link")));
  EXPECT_EQ(outside.ReadHostFile("kept\\x"), "x");
  EXPECT_TRUE(messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, DeletingALink,
                         ::testing::Values(LinkCase{"DeletePathOfTheLink", false, "box\\link"},
                                           LinkCase{"DeleteTreeOfTheLink", true, "box\\link"},
                                           LinkCase{"DeleteTreeHoldingTheLink", true, "box"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Helpers, DeletePathOfAMissingPathNamesNoKind) {
  EXPECT_FALSE(DeletePath(platform(), Path("missing"), true));
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text,
            "Unable to find : " + Path("missing") + "\r\nSystem Message: " + Text(2));
  EXPECT_EQ(messages()[0].style, kErrorStyle);
  EXPECT_EQ(messages()[0].caption, "brelvane-setup");
}

struct TreeCase {
  const char* name;
  bool force;
  int answer;
  bool removed;
};

class DeletePathOfTree : public Helpers, public ::testing::WithParamInterface<TreeCase> {};

TEST_P(DeletePathOfTree, AsksBeforeDeletingEverythingEvenWhenForced) {
  const TreeCase& c = GetParam();
  MakeDir("tree");
  MakeDir("tree\\sub");
  MakeFile("tree\\sub\\locked.txt", win::kAttrReadOnly | win::kAttrHidden);
  MakeFile("tree\\top.txt");
  tp_.prompts().QueueAnswer(c.answer);
  EXPECT_TRUE(DeletePath(platform(), Path("tree"), c.force));
  EXPECT_EQ(files().Exists(Path("tree")), !c.removed);
  EXPECT_EQ(files().Exists(Path("tree\\sub\\locked.txt")), !c.removed);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text,
            "Directory: " + Path("tree") + " is not Empty.\r\nDelete Everything?");
  EXPECT_EQ(messages()[0].style, kQuestionStyle);
  EXPECT_TRUE(tp_.prompts().WaitBalanced());
}

INSTANTIATE_TEST_SUITE_P(Cases, DeletePathOfTree,
                         ::testing::Values(TreeCase{"ForcedYes", true, win::kIdYes, true},
                                           TreeCase{"ForcedNo", true, win::kIdNo, false},
                                           TreeCase{"NotForcedYes", false, win::kIdYes, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Helpers, DeletePathOfAnEmptyDirectoryAsksNothing) {
  MakeDir("empty");
  EXPECT_TRUE(DeletePath(platform(), Path("empty"), true));
  EXPECT_FALSE(files().Exists(Path("empty")));
  EXPECT_TRUE(messages().empty());
}

TEST_F(Helpers, DeletePathReportsAFileItCannotDelete) {
  MakeFile("busy");
  ScopedFile holder(files(), files().OpenRead(Path("busy")));
  ASSERT_TRUE(holder.valid());
  EXPECT_FALSE(DeletePath(platform(), Path("busy"), true));
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text,
            "Unable to delete File: " + Path("busy") + " \r\nError Message: " + Text(32));
  EXPECT_EQ(messages()[0].style, kErrorStyle);
}

// A file that cannot be deleted stops the walk: what came before it is gone,
// it and everything after it stay, and only the caller's message shows.
TEST_F(Helpers, DeleteTreeStopsAtTheFirstFailureWithoutItsOwnMessage) {
  MakeDir("tree");
  MakeFile("tree\\a.txt");
  MakeFile("tree\\b.txt");
  MakeFile("tree\\c.txt");
  ScopedFile holder(files(), files().OpenRead(Path("tree\\b.txt")));
  ASSERT_TRUE(holder.valid());
  tp_.prompts().QueueAnswer(win::kIdYes);
  EXPECT_FALSE(DeletePath(platform(), Path("tree"), true));
  EXPECT_FALSE(files().Exists(Path("tree\\a.txt")));
  EXPECT_TRUE(files().Exists(Path("tree\\b.txt")));
  EXPECT_TRUE(files().Exists(Path("tree\\c.txt")));
  EXPECT_EQ(tp_.prompts().texts(),
            (std::vector<std::string>{
                "Directory: " + Path("tree") + " is not Empty.\r\nDelete Everything?",
                "Unable to delete Directory: " + Path("tree") + " \r\n"}));
  EXPECT_EQ(messages()[1].style, kErrorStyle);
  EXPECT_TRUE(tp_.prompts().WaitBalanced());
}

TEST_F(Helpers, DeleteTreeOfSomethingThatIsNotADirectoryFailsQuietly) {
  MakeFile("file");
  EXPECT_FALSE(DeleteTree(platform(), Path("file")));
  EXPECT_FALSE(DeleteTree(platform(), Path("missing")));
  EXPECT_TRUE(files().Exists(Path("file")));
  EXPECT_TRUE(messages().empty());
}

TEST_F(Helpers, DeleteTreeShowsTheWaitCursorPerEntry) {
  MakeDir("tree");
  MakeFile("tree\\one");
  MakeFile("tree\\two");
  EXPECT_TRUE(DeleteTree(platform(), Path("tree") + "\\"));
  EXPECT_FALSE(files().Exists(Path("tree")));
  // ".", "..", "one", "two"
  EXPECT_EQ(tp_.prompts().wait_begins(), 4);
  EXPECT_TRUE(tp_.prompts().WaitBalanced());
}

// ---- ClearReadOnly and IsDirectoryEmpty ---------------------------------------

TEST_F(Helpers, ClearReadOnlyMakesAnEntryWritableAndReportsAMissingOne) {
  MakeFile("ro", win::kAttrReadOnly | win::kAttrHidden);
  EXPECT_TRUE(ClearReadOnly(platform(), Path("ro")));
  EXPECT_EQ(files().GetAttributes(Path("ro")), win::kAttrArchive | win::kAttrHidden);
  EXPECT_TRUE(messages().empty());
  EXPECT_FALSE(ClearReadOnly(platform(), Path("gone")));
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text,
            "Unable to get attributes of file: " + Path("gone") + " \r\nError Message: " + Text(2));
  EXPECT_EQ(messages()[0].style, kErrorStyle);
}

TEST_F(Helpers, IsDirectoryEmpty) {
  MakeDir("empty");
  MakeDir("full");
  MakeFile("full\\x");
  MakeDir("nested");
  MakeDir("nested\\inner");
  struct Case {
    std::string path;
    bool empty;
  } cases[] = {
      {Path("empty"), true},
      {Path("empty") + "\\", true},
      {Path("full"), false},
      {Path("full") + "\\", false},
      {Path("nested"), false},
      {Path("missing"), true},
      {"", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsDirectoryEmpty(platform(), c.path), c.empty) << c.path;
  EXPECT_TRUE(tp_.prompts().WaitBalanced());
  EXPECT_TRUE(messages().empty());
}

// ---- CreatePath ---------------------------------------------------------------

struct CreateCase {
  const char* name;
  const char* path;  // below the work folder
  bool result;
  std::vector<const char*> directories;  // exist afterwards
};

class CreatePathCases : public Helpers, public ::testing::WithParamInterface<CreateCase> {};

TEST_P(CreatePathCases, CreatesEveryMissingLevel) {
  const CreateCase& c = GetParam();
  MakeDir("have");
  MakeFile("blocker");
  EXPECT_EQ(CreatePath(platform(), Path(c.path)), c.result);
  for (const char* dir : c.directories) EXPECT_TRUE(files().IsDirectory(Path(dir))) << dir;
  EXPECT_TRUE(messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CreatePathCases,
    ::testing::Values(CreateCase{"TwoLevels", "a\\b", true, {"a", "a\\b"}},
                      CreateCase{"ClosingBackslash", "a\\b\\", true, {"a", "a\\b"}},
                      CreateCase{"DoubleBackslash", "a\\\\b", true, {"a", "a\\b"}},
                      CreateCase{"ForwardSlash", "a/b", true, {"a", "a\\b"}},
                      CreateCase{"AllExist", "have", true, {"have"}},
                      CreateCase{"BelowExisting", "have\\x\\y", true, {"have\\x", "have\\x\\y"}},
                      CreateCase{"FileInTheWay", "blocker\\x", false, {}},
                      CreateCase{"FileAsLastLevel", "blocker", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Helpers, CreatePathRefusesRootsAndNetworkPaths) {
  const std::string letter = drive_.Root().substr(0, 1);
  for (const std::string& path :
       {letter + ":\\", letter + ":", std::string("\\\\server\\share\\dir"),
        std::string("\\\\server\\share"), letter + ":dir\\sub", std::string("")}) {
    EXPECT_FALSE(CreatePath(platform(), path)) << path;
  }
  EXPECT_FALSE(files().Exists(letter + ":dir"));
}

// ---- error text, platform and application name --------------------------------

TEST_F(Helpers, GetLastErrorTextTwiceInARow) {
  tp_.system().SetLastError(2);
  const std::string first = GetLastErrorText(tp_.system());
  tp_.system().SetLastError(5);
  const std::string second = GetLastErrorText(tp_.system());
  EXPECT_EQ(first, Text(2));
  EXPECT_EQ(second, Text(5));
  EXPECT_NE(first, second);
  tp_.system().SetLastError(0);
  EXPECT_EQ(GetLastErrorText(tp_.system()), Text(0));
  EXPECT_FALSE(Text(0).empty());
}

TEST_F(Helpers, IsNtPlatformOnlyForPlatformTwo) {
  const std::pair<int, bool> cases[] = {{2, true}, {1, false}, {0, false}, {3, false}};
  for (auto [id, nt] : cases) {
    tp_.system().SetPlatformId(id);
    EXPECT_EQ(IsNtPlatform(tp_.system()), nt) << id;
  }
}

TEST_F(Helpers, ApplicationNameIsTheProgramsFileNameWithoutExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\dir\\setup.exe", "setup"},
      {"C:\\dir.d\\my.setup.exe", "my.setup"},
      {"C:\\dir.d\\noext", "noext"},
      {"/opt/brelvane/brelvane-sim", "brelvane-sim"},
  };
  for (auto [path, name] : cases) {
    tp_.system().SetOwnExecutablePath(path);
    EXPECT_EQ(ApplicationName(tp_.system()), name) << path;
  }
}

TEST_F(Helpers, MessageBoxForms) {
  tp_.prompts().QueueAnswers({win::kIdOk, win::kIdOk, win::kIdYes, win::kIdNo});
  ShowNotice(platform(), "notice");
  ShowError(platform(), "error");
  EXPECT_TRUE(AskYesNo(platform(), "question"));
  EXPECT_FALSE(AskYesNoOwned(platform(), "Overwrite", "replace?"));
  ASSERT_EQ(messages().size(), 4u);
  const std::tuple<const char*, const char*, std::uint32_t, bool> expected[] = {
      {"notice", "brelvane-setup", 0x00, false},
      {"error", "brelvane-setup", 0x10, false},
      {"question", "brelvane-setup", 0x24, false},
      {"replace?", "Overwrite", 0x24, true},
  };
  for (std::size_t i = 0; i < 4; ++i) {
    auto [text, caption, style, owned] = expected[i];
    EXPECT_EQ(messages()[i].text, text);
    EXPECT_EQ(messages()[i].caption, caption);
    EXPECT_EQ(messages()[i].style, style);
    EXPECT_EQ(messages()[i].owned_by_page, owned);
  }
}

TEST(Format, FormatsLikePrintf) {
  EXPECT_EQ(Format("%s*.*", "C:\\a\\"), "C:\\a\\*.*");
  EXPECT_EQ(Format("%c:", 'E'), "E:");
  EXPECT_EQ(Format("%d-%s", 42, ""), "42-");
  EXPECT_EQ(Format("%s", std::string(5000, 'x').c_str()).size(), 5000u);
}

}  // namespace
}  // namespace brelvane
