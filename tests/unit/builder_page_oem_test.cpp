// The builder page's logic on a temporary drive: choosing the installer,
// the module list, "Add Module" and "Extract Module".
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/wizard_state.h"
#include "builder/builder_mode.h"
#include "builder/oem_page.h"
#include "common/messages.h"
#include "package/package.h"
#include "support/signed_image.h"
#include "support/temp_drive.h"
#include "unit/builder_page_view.h"

namespace brelvane {
namespace {

using testing::FakeBuilderView;
using testing::TempDrive;
using testing::TestPlatform;

class OemPageTest : public ::testing::Test {
 protected:
  OemPageTest() {
    drive_.WriteHostFile("setup.exe", std::string(2048, '\0'));
    drive_.WriteHostFile("target.exe", std::string(1024, '\0'));
    test_.system().SetOwnExecutablePath(drive_.WinPath("setup.exe"));
    state_.packagePath = drive_.WinPath("setup.exe");
  }

  // Appends `content` as a module of `installer` (a file on the drive).
  void Append(const std::string& installer, const std::string& name, const std::string& content,
              std::optional<PredefinedSet> set = std::nullopt, const std::string& extractDir = "",
              std::uint32_t attributes = win::kAttrNormal) {
    drive_.WriteHostFile(name, content);
    ModuleRecord record;
    Platform platform = test_.platform();
    ASSERT_TRUE(BuildModuleRecord(platform, drive_.WinPath(name), record, extractDir, set));
    record.attributes = attributes;
    ASSERT_EQ(AppendModule(platform, drive_.WinPath(name), drive_.WinPath(installer), record),
              AppendResult::Appended);
  }

  std::vector<std::string> Texts() { return test_.prompts().texts(); }

  TestPlatform test_;
  TempDrive drive_{test_};
  WizardState state_;
  FakeBuilderView view_;
  OemPage page_{test_.platform(), state_, view_};
};

TEST_F(OemPageTest, InitialisingOnTheRunningProgramListsNothingAndBlocksAdding) {
  Append("setup.exe", "own.txt", "own module");
  ASSERT_FALSE(page_.OnInitDialog(false).has_value());
  EXPECT_EQ(view_.texts[ids::kInstallerName], drive_.WinPath("setup.exe"));
  EXPECT_TRUE(view_.rows.empty());
  EXPECT_FALSE(view_.enabled[ids::kAddModule]);
  EXPECT_TRUE(view_.enabled[ids::kExtractModule]);
  // Activation lists the running installer's own modules.
  page_.OnSetActive();
  EXPECT_EQ(view_.Column(0), std::vector<std::string>{"own.txt"});
  EXPECT_TRUE(Texts().empty());
}

TEST_F(OemPageTest, ModuleCommandsShowOnlyInBuilderModeAndDeleteNever) {
  const int commands[] = {ids::kModulePath, ids::kBrowseModule, ids::kAddModule,
                          ids::kExtractModule, ids::kModuleToAddLabel};
  for (bool builderMode : {false, true}) {
    SCOPED_TRACE(builderMode);
    ASSERT_FALSE(page_.OnInitDialog(builderMode).has_value());
    for (int id : commands) EXPECT_EQ(view_.shown[id], builderMode) << id;
    EXPECT_FALSE(view_.shown[ids::kDeleteModule]);
  }
}

struct NameCase {
  const char* label;
  const char* typed;  // relative to the drive root
  bool addEnabled;
  bool extractEnabled;
  std::size_t rows;
};

class InstallerNameTest : public OemPageTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(InstallerNameTest, EnablesCommandsByWhatTheNameNames) {
  const NameCase& c = GetParam();
  Append("target.exe", "m.txt", "module");
  Append("setup.exe", "own.txt", "own");
  ASSERT_FALSE(page_.OnInitDialog(true).has_value());
  view_.texts[ids::kInstallerName] = drive_.WinPath(c.typed);
  ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
  EXPECT_EQ(state_.packagePath, drive_.WinPath(c.typed));
  EXPECT_EQ(view_.enabled[ids::kAddModule], c.addEnabled);
  EXPECT_EQ(view_.enabled[ids::kExtractModule], c.extractEnabled);
  EXPECT_EQ(view_.rows.size(), c.rows);
  EXPECT_TRUE(Texts().empty()) << "typing never shows a message";
}

INSTANTIATE_TEST_SUITE_P(
    Names, InstallerNameTest,
    ::testing::Values(NameCase{"another installer", "target.exe", true, true, 1},
                      NameCase{"the running program", "setup.exe", false, true, 0},
                      NameCase{"the running program in other letter case", "SETUP.EXE", false, true,
                               0},
                      NameCase{"a name being typed", "targ", false, false, 0},
                      NameCase{"a folder", "", false, false, 0}),
    [](const ::testing::TestParamInfo<NameCase>& info) {
      std::string name;
      for (char c : std::string(info.param.label))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST_F(OemPageTest, RowsShowEveryModuleNewestFirstWithItsColumns) {
  Append("target.exe", "user.bin", "12345");
  Append("target.exe", "kes.exe", "kestrin!", PredefinedSet::Kestrin, "tools\\k",
         win::kAttrReadOnly | win::kAttrHidden);
  Append("target.exe", "both.dat", "", PredefinedSet::KestrinOvin, "",
         win::kAttrNormal | win::kAttrReadOnly);
  Append("target.exe", "ovin.exe", "ovin", PredefinedSet::Ovin);
  page_.LoadModuleList(drive_.WinPath("target.exe"));
  // The last column tells the maker which modules an install puts on a drive.
  std::vector<std::vector<std::string>> expected = {
      {"ovin.exe", "Yes-OVIN", "4", "Root\\", "Normal", "Ovin drives"},
      {"both.dat", "Yes-KES+OVIN", "0", "Root\\", "Normal, Read Only", "never (carried only)"},
      {"kes.exe", "Yes-KESTRIN", "8", "Root\\tools\\k", "Read Only, Hidden", "Kestrin drives"},
      {"user.bin", "", "5", "User Defined", "Normal", "never (carried only)"},
  };
  EXPECT_EQ(view_.rows, expected);
  ASSERT_EQ(page_.listedModules().size(), 4u);
  EXPECT_EQ(page_.listedModules()[3].record.fileName, "user.bin");
}

TEST_F(OemPageTest, AnInstallerThatCannotBeOpenedIsReportedWithTheSystemText) {
  page_.LoadModuleList(drive_.WinPath("missing.exe"));
  ASSERT_EQ(Texts().size(), 1u);
  EXPECT_EQ(Texts()[0], "Can't get file size:\r\n" + drive_.WinPath("missing.exe") +
                            "\r\nError: " + test_.system().ErrorText(win::kErrorFileNotFound));
  EXPECT_EQ(test_.prompts().messages()[0].style, win::kMbOk);
  EXPECT_TRUE(view_.rows.empty());
}

TEST_F(OemPageTest, SetInstallerToANewNameDisablesBothAndReportsOnce) {
  ASSERT_FALSE(page_.OnInitDialog(true).has_value());
  view_.fileAnswers.push_back(drive_.WinPath("new.exe"));
  ASSERT_FALSE(page_.OnSetInstaller().has_value());
  EXPECT_EQ(view_.saveInitialNames, std::vector<std::string>{drive_.WinPath("setup.exe")});
  EXPECT_EQ(view_.saveOverwritePrompts, std::vector<bool>{false});
  EXPECT_EQ(view_.texts[ids::kInstallerName], drive_.WinPath("new.exe"));
  EXPECT_EQ(state_.packagePath, drive_.WinPath("new.exe"));
  EXPECT_FALSE(view_.enabled[ids::kAddModule]);
  EXPECT_FALSE(view_.enabled[ids::kExtractModule]);
  ASSERT_EQ(Texts().size(), 1u);
  EXPECT_EQ(Texts()[0].rfind("Can't get file size:\r\n", 0), 0u);
}

TEST_F(OemPageTest, SetInstallerCancelledChangesNothing) {
  ASSERT_FALSE(page_.OnInitDialog(true).has_value());
  ASSERT_FALSE(page_.OnSetInstaller().has_value());
  EXPECT_EQ(state_.packagePath, drive_.WinPath("setup.exe"));
  EXPECT_TRUE(Texts().empty());
}

TEST_F(OemPageTest, AddModuleAppendsAndListsTheNewModuleFirst) {
  Append("target.exe", "old.txt", "old");
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
  drive_.WriteHostFile("new.txt", "brand new");
  view_.texts[ids::kModulePath] = drive_.WinPath("new.txt");
  page_.OnAddModule();
  EXPECT_EQ(view_.Column(0), (std::vector<std::string>{"new.txt", "old.txt"}));
  EXPECT_EQ(view_.rows[0][3], "User Defined");
  // The new row is selected: that, not a box, confirms the append.
  EXPECT_EQ(view_.selected, std::vector<int>{0});
  EXPECT_TRUE(Texts().empty());

  // A second press asks before a twin of the name goes in: No keeps the
  // installer as it was, Yes appends it.
  const std::string question = "The installer\r\n" + drive_.WinPath("target.exe") +
                               "\r\nalready holds a user-defined module named \"new.txt\".\r\n"
                               "Add this file as one more module of that name?";
  const auto before = drive_.ReadHostFile("target.exe");
  test_.prompts().QueueAnswers({win::kIdNo, win::kIdYes});
  view_.selected.clear();
  page_.OnAddModule();
  EXPECT_EQ(drive_.ReadHostFile("target.exe"), before);
  EXPECT_TRUE(view_.selected.empty());
  page_.OnAddModule();
  EXPECT_EQ(view_.Column(0), (std::vector<std::string>{"new.txt", "new.txt", "old.txt"}));
  EXPECT_EQ(Texts(), (std::vector<std::string>{question, question}));
}

TEST_F(OemPageTest, AddModuleWithoutAReadableModuleAppendsNothingSilently) {
  Append("target.exe", "old.txt", "old");
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  auto before = drive_.ReadHostFile("target.exe");
  for (const std::string& module : {std::string(), drive_.WinPath("nowhere.txt")}) {
    view_.texts[ids::kModulePath] = module;
    page_.OnAddModule();
    EXPECT_EQ(drive_.ReadHostFile("target.exe"), before);
    EXPECT_EQ(view_.Column(0), std::vector<std::string>{"old.txt"});
  }
  EXPECT_TRUE(Texts().empty());
}

TEST_F(OemPageTest, AddModuleRefusesANameEveryInstallRefuses) {
  Append("target.exe", "old.txt", "old");
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  auto before = drive_.ReadHostFile("target.exe");
  // Judged by its name alone: Windows could not even hold such a file.
  view_.texts[ids::kModulePath] = drive_.WinPath("con.txt");
  page_.OnAddModule();
  EXPECT_EQ(drive_.ReadHostFile("target.exe"), before);
  EXPECT_EQ(Texts(), std::vector<std::string>{
                         "The module \"con.txt\" cannot be added: the name is a reserved device "
                         "name.\r\nEvery install would refuse it, so nothing is added."});
}

// An installer a module must not go into: the page says why, and nothing
// changes, the file at the journal's name included.
TEST_F(OemPageTest, AddModuleRefusesAnInstallerItMustNotExtendAndSaysWhy) {
  struct Case {
    const char* label;
    std::string installer;
    const char* journal;  // the file at the journal's name, or nullptr
    std::string message;  // behind the path it names
  };
  const Case cases[] = {
      {"signed", testing::pe::Signed(""), nullptr,
       " is signed: adding a module would break its signature, so nothing is added.\r\nUnsign "
       "it first (oempack unsign), add the modules, then sign it again."},
      {"stray bytes", testing::pe::Image() + std::string(700, 'Z'), nullptr,
       " ends in stray bytes behind its last whole module: a module added behind them would be "
       "out of the installer's reach, so nothing is added.\r\nCut them first with \"oempack "
       "repair\"."},
      {"no journal at its name", std::string(1024, '\0'), "my notes",
       "-journal holds the name of the installer's journal but is not a journal: it is left "
       "alone, so nothing is added.\r\nMove it away, then add the module again."},
  };
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  drive_.WriteHostFile("new.txt", "brand new");
  view_.texts[ids::kModulePath] = drive_.WinPath("new.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    test_.prompts().ClearMessages();
    drive_.WriteHostFile("target.exe", c.installer);
    if (c.journal != nullptr) drive_.WriteHostFile("target.exe-journal", c.journal);
    page_.OnAddModule();
    EXPECT_EQ(drive_.ReadHostFile("target.exe"), c.installer);
    EXPECT_EQ(Texts(), std::vector<std::string>{drive_.WinPath("target.exe") + c.message});
    if (c.journal != nullptr) { EXPECT_EQ(drive_.ReadHostFile("target.exe-journal"), c.journal); }
  }
}

TEST_F(OemPageTest, ExtractWithoutASelectedRowIsAnError) {
  page_.OnExtractModule();
  ASSERT_EQ(test_.prompts().messages().size(), 1u);
  EXPECT_EQ(test_.prompts().messages()[0].text, "Nothing to Extract");
  EXPECT_EQ(test_.prompts().messages()[0].style, win::kMbIconHand);
}

// Two modules of one name: each row extracts its own module.
TEST_F(OemPageTest, ExtractTakesTheModuleOfTheSelectedRowAmongEqualNames) {
  Append("target.exe", "dup.txt", "the older content");
  Append("target.exe", "dup.txt", "newer");
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
  ASSERT_EQ(view_.rows.size(), 2u);
  const std::pair<int, const char*> cases[] = {{1, "the older content"}, {0, "newer"}};
  for (auto [row, content] : cases) {
    SCOPED_TRACE(row);
    std::string out = "out" + std::to_string(row) + ".txt";
    view_.selected = {row};
    view_.fileAnswers.push_back(drive_.WinPath(out));
    page_.OnExtractModule();
    EXPECT_EQ(drive_.ReadHostFile(out), std::string(content));
    EXPECT_EQ(view_.saveInitialNames.back(), "dup.txt");
    EXPECT_TRUE(view_.saveOverwritePrompts.back());
  }
  EXPECT_EQ(Texts(), (std::vector<std::string>{kExtractedOk, kExtractedOk}));
}

// Sorted by name and reversed, the selected module moves with its row, and
// Extract takes that module, not the one listed there before.
TEST_F(OemPageTest, ASortedListKeepsTheSelectedModuleAndExtractsIt) {
  Append("target.exe", "dup.txt", "the older content");
  Append("target.exe", "a.txt", "a");
  Append("target.exe", "dup.txt", "newer");
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
  page_.OnColumnClick(0);
  EXPECT_EQ(view_.Column(0), (std::vector<std::string>{"a.txt", "dup.txt", "dup.txt"}));
  view_.selected = {2};
  page_.OnColumnClick(0);
  EXPECT_EQ(view_.Column(0), (std::vector<std::string>{"dup.txt", "dup.txt", "a.txt"}));
  EXPECT_EQ(view_.selected, std::vector<int>{1});
  view_.fileAnswers.push_back(drive_.WinPath("out.txt"));
  page_.OnExtractModule();
  EXPECT_EQ(drive_.ReadHostFile("out.txt"), "the older content");
}

TEST_F(OemPageTest, ExtractFindsTheListedModuleAfterTheInstallerGrew) {
  Append("target.exe", "first.txt", "first content");
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
  Append("target.exe", "second.txt", "appended later");
  view_.selected = {0};
  view_.fileAnswers.push_back(drive_.WinPath("out.txt"));
  page_.OnExtractModule();
  EXPECT_EQ(drive_.ReadHostFile("out.txt"), std::string("first content"));
}

TEST_F(OemPageTest, ExtractReportsAModuleThatIsNoLongerThere) {
  Append("target.exe", "gone.txt", "content");
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
  drive_.WriteHostFile("target.exe", std::string(1024, '\0'));
  view_.selected = {0};
  view_.fileAnswers.push_back(drive_.WinPath("out.txt"));
  page_.OnExtractModule();
  EXPECT_EQ(Texts(), std::vector<std::string>{kUnableToExtract});
  EXPECT_FALSE(drive_.HostExists("out.txt"));
}

// An older writer's newest record (no record check) whose content would
// begin before the file's start: its row is shown last, the older rows are
// not, and it cannot be extracted.  With the record check, the same bytes
// are a damaged record, and the page says so.
TEST_F(OemPageTest, ARecordReachingBeforeTheFileStartIsShownButNotExtracted) {
  Append("target.exe", "older.txt", "older");
  Append("target.exe", "huge.bin", "content");
  std::string bytes = *drive_.ReadHostFile("target.exe");
  bytes.replace(bytes.size() - 660, 4, std::string("\x00\x10\x00\x00", 4));  // 1 MiB
  drive_.WriteHostFile("target.exe", bytes);
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
  EXPECT_TRUE(view_.Column(0).empty());
  EXPECT_EQ(Texts(), std::vector<std::string>{Format(kDamagedRecordFormat,
                                                     drive_.WinPath("target.exe").c_str(),
                                                     std::to_string(bytes.size()).c_str())});
  test_.prompts().ClearMessages();

  bytes[bytes.size() - 660 + 80] = 0;  // the record check's tag
  drive_.WriteHostFile("target.exe", bytes);
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
  EXPECT_EQ(view_.Column(0), std::vector<std::string>{"huge.bin"});
  view_.selected = {0};
  view_.fileAnswers.push_back(drive_.WinPath("out.bin"));
  page_.OnExtractModule();
  EXPECT_EQ(Texts(), std::vector<std::string>{kUnableToExtract});
  EXPECT_FALSE(drive_.HostExists("out.bin"));
}

// Content beyond 2 GiB (sparse files): refused before the Save As dialog and
// any question.  Cut to 32 bits, an offset beyond 4 GiB would name another
// module's bytes, at 1024 here, and one between 2 and 4 GiB a negative one.
TEST_F(OemPageTest, AModuleBeyondTwoGiBIsRefusedBeforeAnyQuestion) {
  Append("target.exe", "far.bin", "far content");
  const std::string module = drive_.ReadHostFile("target.exe")->substr(1024);
  for (const std::int64_t at : {(std::int64_t{1} << 31) + 1024, (std::int64_t{1} << 32) + 1024}) {
    SCOPED_TRACE(at);
    drive_.WriteHostFile("far.exe", *drive_.ReadHostFile("target.exe"));
    std::filesystem::resize_file(drive_.HostPath("far.exe"), at);
    std::ofstream(drive_.HostPath("far.exe"), std::ios::binary | std::ios::app) << module;
    drive_.WriteHostFile("out.bin", "kept");
    test_.prompts().ClearMessages();
    view_.texts[ids::kInstallerName] = drive_.WinPath("far.exe");
    ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
    ASSERT_EQ(view_.Column(0), std::vector<std::string>{"far.bin"});
    view_.selected = {0};
    view_.fileAnswers.push_back(drive_.WinPath("out.bin"));
    test_.prompts().QueueAnswer(win::kIdYes);  // should it ask to overwrite
    page_.OnExtractModule();
    EXPECT_EQ(Texts(), std::vector<std::string>{Format(kModuleBeyondReach, "far.bin")});
    EXPECT_TRUE(view_.saveInitialNames.empty());
    EXPECT_EQ(drive_.ReadHostFile("out.bin"), "kept");
    view_.fileAnswers.clear();
  }
  std::filesystem::remove(drive_.HostPath("far.exe"));
}

TEST_F(OemPageTest, ExtractedFilesAreNormalWhateverTheRecordSays) {
  Append("target.exe", "ro.txt", "read only in the record", PredefinedSet::Ovin, "",
         win::kAttrReadOnly | win::kAttrHidden);
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
  view_.selected = {0};
  view_.fileAnswers.push_back(drive_.WinPath("ro-out.txt"));
  page_.OnExtractModule();
  std::uint32_t attributes = test_.files().GetAttributes(drive_.WinPath("ro-out.txt"));
  EXPECT_EQ(attributes & (win::kAttrReadOnly | win::kAttrHidden), 0u);
}

struct OverwriteCase {
  int answer;
  const char* expectedContent;
  std::vector<std::string> expectedTexts;
};

TEST_F(OemPageTest, ExtractOntoAnExistingFileAsksFirst) {
  Append("target.exe", "m.txt", "module content");
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
  const std::string question = Format(kOverwriteQuestion, drive_.WinPath("existing.txt").c_str());
  const OverwriteCase cases[] = {
      {win::kIdNo, "keep me", {question}},
      {win::kIdYes, "module content", {question, kExtractedOk}},
  };
  for (const OverwriteCase& c : cases) {
    SCOPED_TRACE(c.answer);
    test_.prompts().ClearMessages();
    drive_.WriteHostFile("existing.txt", "keep me");
    view_.selected = {0};
    view_.fileAnswers.push_back(drive_.WinPath("existing.txt"));
    test_.prompts().QueueAnswer(c.answer);
    page_.OnExtractModule();
    EXPECT_EQ(drive_.ReadHostFile("existing.txt"), std::string(c.expectedContent));
    EXPECT_EQ(Texts(), c.expectedTexts);
    const Message& asked = test_.prompts().messages()[0];
    EXPECT_EQ(asked.caption, "Overwrite");
    EXPECT_EQ(asked.style, win::kMbYesNo | win::kMbIconQuestion);
    EXPECT_TRUE(asked.owned_by_page);
  }
}

// The package's own file is never removed to make room for its module.
TEST_F(OemPageTest, ExtractOntoAFileHeldOpenElsewhereFailsWithoutAsking) {
  Append("target.exe", "m.txt", "module");
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
  drive_.WriteHostFile("busy.txt", "in use");
  ScopedFile holder(test_.files(), test_.files().OpenRead(drive_.WinPath("busy.txt")));
  ASSERT_TRUE(holder.valid());
  view_.selected = {0};
  view_.fileAnswers.push_back(drive_.WinPath("busy.txt"));
  test_.prompts().QueueAnswer(win::kIdYes);  // should it ask to overwrite
  page_.OnExtractModule();
  EXPECT_EQ(Texts(), std::vector<std::string>{kUnableToExtract});
  EXPECT_EQ(drive_.ReadHostFile("busy.txt"), "in use");
}

TEST_F(OemPageTest, ExtractOntoTheInstallerItselfIsRefused) {
  Append("target.exe", "m.txt", "module");
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
  const auto before = drive_.ReadHostFile("target.exe");
  view_.selected = {0};
  view_.fileAnswers.push_back(drive_.WinPath("target.exe"));
  test_.prompts().QueueAnswer(win::kIdYes);
  page_.OnExtractModule();
  EXPECT_EQ(drive_.ReadHostFile("target.exe"), before);
  EXPECT_EQ(Texts(), std::vector<std::string>{
                         Format(kTargetIsInstaller, drive_.WinPath("target.exe").c_str())});
}

TEST_F(OemPageTest, ExtractOntoALinkWritesNothingThroughIt) {
  Append("target.exe", "m.txt", "module content");
  view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
  ASSERT_FALSE(page_.OnInstallerNameChange().has_value());
  TempDrive outside(test_, 'U');
  outside.WriteHostFile("kept.txt", "kept");
  ASSERT_TRUE(test_.files().SetAttributes(outside.WinPath("kept.txt"), win::kAttrReadOnly));
  if (!testing::MakeHostLink(test_.files(), drive_.HostPath("link.txt"), drive_.WinPath("link.txt"),
                             outside.HostPath("kept.txt"))) {
    GTEST_SKIP() << "this host makes no links the platform reports";
  }
  test_.prompts().ClearMessages();
  view_.selected = {0};
  view_.fileAnswers.push_back(drive_.WinPath("link.txt"));
  test_.prompts().QueueAnswer(win::kIdYes);  // should it ask to overwrite
  page_.OnExtractModule();
  EXPECT_EQ(Texts(),
            std::vector<std::string>{Format(kLinkOnTheWay, drive_.WinPath("link.txt").c_str())});
  EXPECT_EQ(outside.ReadHostFile("kept.txt"), "kept");
  EXPECT_EQ(test_.files().GetAttributes(outside.WinPath("kept.txt")),
            win::kAttrArchive | win::kAttrReadOnly);
}

TEST_F(OemPageTest, ARefusedRowIsNotRememberedAsListed) {
  Append("target.exe", "m.txt", "module");
  view_.refuseRows = true;
  page_.LoadModuleList(drive_.WinPath("target.exe"));
  EXPECT_TRUE(page_.listedModules().empty());
  view_.selected = {0};
  view_.fileAnswers.push_back(drive_.WinPath("out.txt"));
  page_.OnExtractModule();
  EXPECT_FALSE(drive_.HostExists("out.txt"));
}

// Each handler that needs the running program's own path.
struct OwnPathCase {
  const char* label;
  PageEnding (*handle)(OemPage&);
};

TEST_F(OemPageTest, AMissingOwnPathEndsTheProgramWithItsMessage) {
  const OwnPathCase cases[] = {
      {"initialising", [](OemPage& page) { return page.OnInitDialog(true); }},
      {"a name change", [](OemPage& page) { return page.OnInstallerNameChange(); }},
      {"Set Installer", [](OemPage& page) { return page.OnSetInstaller(); }},
  };
  test_.system().FailOwnExecutablePath(win::kErrorFileNotFound);
  for (const OwnPathCase& c : cases) {
    SCOPED_TRACE(c.label);
    view_.texts[ids::kInstallerName] = drive_.WinPath("target.exe");
    view_.fileAnswers = {drive_.WinPath("target.exe")};
    const PageEnding ending = c.handle(page_);
    ASSERT_TRUE(ending.has_value());
    EXPECT_EQ(ending->exitCode, 0);
    EXPECT_EQ(ending->message.text, kRunFromDesktop);
    EXPECT_EQ(ending->message.style, win::kMbOk);
    // Captioned all the same, though the name cannot come from the own path.
    EXPECT_EQ(ending->message.caption, kShippedProgramName);
    // Nothing else happened: no message, no dialog, no command shown, the
    // installer unchanged.
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(view_.saveInitialNames.empty());
    EXPECT_TRUE(view_.shown.empty());
    EXPECT_EQ(state_.packagePath, drive_.WinPath("setup.exe"));
  }
}

struct SwitchCase {
  std::vector<std::string> words;
  bool builder;
};

// The words as Windows splits the command line: only the switch alone opens
// the builder; beside anything else it is the unattended run's to refuse.
TEST(BuilderModeTest, OnlyTheOemSwitchAloneOpensTheBuilder) {
  const SwitchCase cases[] = {
      {{}, false},
      {{"/oem"}, true},
      {{"/OEM"}, true},
      {{"-Oem"}, true},
      {{"/oem", "/oem"}, true},
      {{"/oemx"}, false},
      {{"oem"}, false},
      {{"/o em"}, false},
      {{"/silent", "/oem"}, false},
      {{"/oem", "/silent"}, false},
      {{"/log=x /oem y"}, false},
  };
  for (const SwitchCase& c : cases) {
    EXPECT_EQ(WantsBuilder(c.words), c.builder) << ::testing::PrintToString(c.words);
  }
}

// The builder's test for the running program itself: letter case is
// ignored beyond ASCII too, in the UTF-8 paths of both systems.
TEST(SamePathTest, IgnoresLetterCaseOnly) {
  TestPlatform test;
  const std::string upper = "C:\\\xc3\x89\\setup.exe", lower = "c:\\\xc3\xa9\\SETUP.EXE";
  System& system = test.system();
  EXPECT_TRUE(system.SamePathIgnoringCase("C:\\Dir\\Setup.exe", "c:\\dir\\SETUP.EXE"));
  EXPECT_TRUE(system.SamePathIgnoringCase(upper, lower));
  EXPECT_FALSE(system.SamePathIgnoringCase("C:\\Dir\\Setup.exe", "C:\\Dir\\Setup.ex"));
  EXPECT_FALSE(system.SamePathIgnoringCase("C:\\Dir\\Setup.exe", "C:/Dir/Setup.exe"));
}

}  // namespace
}  // namespace brelvane
