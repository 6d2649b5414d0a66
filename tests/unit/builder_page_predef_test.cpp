// The predefined-modules page's logic: the gauge captions, activation and
// the "ADD Predefined Modules" command on a temporary drive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/wizard_state.h"
#include "builder/predef_page.h"
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

struct CaptionCase {
  int name;
  int root;
  const char* expected;
};

TEST(GroupCaptionTest, GaugesNameAndRootAgainstTheLimit) {
  const CaptionCase cases[] = {
      {0, 0, "H"},
      {1, 0, "H - 1/254"},
      {10, 244, "H - 254/254"},
      {10, 245, "H - 255/254 - OVERLIMIT!"},
      {0, 1, "H - 1/254 - File Name Missing!"},
      {0, 254, "H - 254/254 - File Name Missing!"},
      {0, 255, "H - 255/254 - OVERLIMIT - File Name Missing!"},
  };
  for (const CaptionCase& c : cases) {
    EXPECT_EQ(GroupCaption("H", c.name, c.root), c.expected) << c.name << "+" << c.root;
  }
}

class PredefPageTest : public ::testing::Test {
 protected:
  PredefPageTest() {
    drive_.WriteHostFile("setup.exe", std::string(2048, '\0'));
    drive_.WriteHostFile("target.exe", std::string(1024, '\0'));
    test_.system().SetOwnExecutablePath(drive_.WinPath("setup.exe"));
    state_.packagePath = drive_.WinPath("target.exe");
  }

  std::vector<WalkedModule> Modules() {
    return WalkModules(test_.platform(), PackageRef{drive_.WinPath("target.exe")}).modules;
  }

  TestPlatform test_;
  TempDrive drive_{test_};
  WizardState state_;
  FakeBuilderView view_;
  PredefPage page_{test_.platform(), state_, view_};
};

TEST_F(PredefPageTest, CombosStartAtNormal) {
  for (const DriveModelRow& row : kDriveModels) view_.selection[row.group.attributes] = 3;
  ASSERT_FALSE(page_.OnSetActive().has_value());
  for (const DriveModelRow& row : kDriveModels)
    EXPECT_EQ(view_.SelectedIndex(row.group.attributes), 0) << row.name;
}

TEST_F(PredefPageTest, AMissingOwnPathEndsTheProgramOnActivation) {
  test_.system().FailOwnExecutablePath(win::kErrorFileNotFound);
  view_.selection[kOvinGroup.attributes] = 3;
  const PageEnding ending = page_.OnSetActive();
  ASSERT_TRUE(ending.has_value());
  EXPECT_EQ(ending->exitCode, 0);
  EXPECT_EQ(ending->message.text, kRunFromDesktopPlease);
  EXPECT_EQ(ending->message.style, win::kMbOk);
  EXPECT_EQ(ending->message.caption, kShippedProgramName);
  // Nothing else happened: no message, the button and the combos untouched.
  EXPECT_TRUE(test_.prompts().messages().empty());
  EXPECT_EQ(view_.enabled.count(ids::kAddPredefined), 0u);
  EXPECT_EQ(view_.SelectedIndex(kOvinGroup.attributes), 3);
}

struct ActivationCase {
  const char* label;
  const char* installer;
  bool enabled;
};

TEST_F(PredefPageTest, AddIsEnabledOnlyForAnotherReadableInstaller) {
  const ActivationCase cases[] = {
      {"another installer", "target.exe", true},
      {"the running program", "setup.exe", false},
      {"the running program in capitals", "SETUP.EXE", false},
      {"a missing file", "missing.exe", false},
  };
  for (const ActivationCase& c : cases) {
    state_.packagePath = drive_.WinPath(c.installer);
    ASSERT_FALSE(page_.OnSetActive().has_value());
    EXPECT_EQ(view_.enabled[ids::kAddPredefined], c.enabled) << c.label;
  }
}

TEST_F(PredefPageTest, GroupCaptionCountsWithoutBlanksAndPath) {
  view_.texts[kOvinGroup.source] = "C:\\payload\\  tool.exe ";
  view_.texts[kOvinGroup.root] = " apps\\x ";
  page_.UpdateGroupCaption(DriveModel::Ovin);
  EXPECT_EQ(view_.texts[kOvinGroup.caption], "Mivora Ovin Files - 14/254");
  view_.texts[kOvinGroup.source] = "";
  page_.UpdateGroupCaption(DriveModel::Ovin);
  EXPECT_EQ(view_.texts[kOvinGroup.caption], "Mivora Ovin Files - 6/254 - File Name Missing!");
  view_.texts[kOvinGroup.root] = "";
  page_.UpdateGroupCaption(DriveModel::Ovin);
  EXPECT_EQ(view_.texts[kOvinGroup.caption], "Mivora Ovin Files");
  // Each group writes only its own caption.
  EXPECT_EQ(view_.texts.count(kKestrinGroup.caption), 0u);
}

TEST_F(PredefPageTest, BrowsingFillsTheSourceAndItsCaption) {
  view_.fileAnswers.push_back(std::string("C:\\x\\pellor.bin"));
  page_.OnBrowseSource(DriveModel::Pellor);
  EXPECT_EQ(view_.texts[kPellorGroup.source], "C:\\x\\pellor.bin");
  EXPECT_EQ(view_.texts[kPellorGroup.caption], "Mivora Pellor Files - 10/254");
  page_.OnBrowseSource(DriveModel::Kestrin);  // cancelled
  EXPECT_EQ(view_.texts.count(kKestrinGroup.source), 0u);
}

TEST_F(PredefPageTest, AllSourcesEmptyAppendNothingAndSucceed) {
  page_.OnAddPredefinedModules();
  EXPECT_EQ(test_.prompts().texts(), std::vector<std::string>{kAddSucceeded});
  EXPECT_TRUE(Modules().empty());
}

struct AddCase {
  const char* label;
  const char* kestrin;  // source names on the drive; "" for none, "missing" for absent
  const char* ovin;
  int ovinChoice;
  std::string message;
  std::vector<std::string> modules;  // newest first
  const char* ovinRoot = "";
  // An installer no module may go into, and what the page says about it.
  std::string refusedInstaller = "";
};

TEST_F(PredefPageTest, AddAppendsInOrderAndStopsAtTheFirstFailure) {
  drive_.WriteHostFile("k.bin", "kestrin");
  drive_.WriteHostFile("o.bin", "ovin");
  const AddCase cases[] = {
      // Judged before anything is appended: the sound Kestrin group stays out too.
      {"ovin root climbs out",
       "k.bin",
       "o.bin",
       0,
       "The module \"o.bin\" cannot be added: the folder's part \"..\" climbs to the parent "
       "folder.\r\nEvery install would refuse it, so nothing is added.",
       {},
       "..\\..\\Windows"},
      // Windows would drop the blank: the root would not name the folder it says.
      {"ovin root ends in a blank",
       "k.bin",
       "o.bin",
       0,
       "The module \"o.bin\" cannot be added: the folder's part \"Brelvane \" ends in a dot or a "
       "blank, which Windows drops (\"..\" is the parent folder).\r\nEvery install would refuse "
       "it, so nothing is added.",
       {},
       "Brelvane "},
      {"both valid", "k.bin", "o.bin", 3, kAddSucceeded, {"o.bin", "k.bin"}},
      {"kestrin missing", "missing", "o.bin", 0, kAddFailed, {}},
      {"ovin missing", "k.bin", "missing", 0, kAddFailed, {"k.bin"}},
      {"signed installer",
       "k.bin",
       "o.bin",
       0,
       " is signed: adding a module would break its signature, so nothing is added.\r\nUnsign "
       "it first (oempack unsign), add the modules, then sign it again.",
       {},
       "",
       testing::pe::Signed("")},
      {"stray bytes behind the last module",
       "k.bin",
       "o.bin",
       0,
       " ends in stray bytes behind its last whole module: a module added behind them would be "
       "out of the installer's reach, so nothing is added.\r\nCut them first with \"oempack "
       "repair\".",
       {},
       "",
       testing::pe::Image() + std::string(700, 'Z')},
  };
  for (const AddCase& c : cases) {
    SCOPED_TRACE(c.label);
    const bool refused = !c.refusedInstaller.empty();
    const std::string installer = refused ? c.refusedInstaller : std::string(1024, '\0');
    drive_.WriteHostFile("target.exe", installer);
    test_.prompts().ClearMessages();
    view_.texts[kKestrinGroup.source] = *c.kestrin ? drive_.WinPath(c.kestrin) : "";
    view_.texts[kKestrinGroup.root] = "k\\dir";
    view_.texts[kOvinGroup.source] = *c.ovin ? drive_.WinPath(c.ovin) : "";
    view_.texts[kOvinGroup.root] = c.ovinRoot;
    view_.selection[kKestrinGroup.attributes] = 0;
    view_.selection[kOvinGroup.attributes] = c.ovinChoice;
    page_.OnAddPredefinedModules();
    const std::string message = refused ? state_.packagePath + c.message : c.message;
    EXPECT_EQ(test_.prompts().texts(), std::vector<std::string>{message});
    if (refused) { EXPECT_EQ(drive_.ReadHostFile("target.exe"), installer); }
    std::vector<std::string> names;
    for (const WalkedModule& m : Modules()) names.push_back(m.record.fileName);
    EXPECT_EQ(names, c.modules);
  }
  // The last successful case: the Ovin module carries R&H, Kestrin its root.
  drive_.WriteHostFile("target.exe", std::string(1024, '\0'));
  view_.texts[kKestrinGroup.source] = drive_.WinPath("k.bin");
  view_.texts[kOvinGroup.source] = drive_.WinPath("o.bin");
  view_.selection[kOvinGroup.attributes] = 3;
  view_.selection[kKestrinGroup.attributes] = -1;  // text typed instead of a choice
  page_.OnAddPredefinedModules();
  auto modules = Modules();
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_EQ(modules[0].record.attributes, win::kAttrReadOnly | win::kAttrHidden);
  EXPECT_EQ(modules[0].record.marker, "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_A");
  EXPECT_EQ(modules[1].record.attributes, win::kAttrNormal);
  EXPECT_EQ(modules[1].record.extractDir, "k\\dir");
  EXPECT_EQ(modules[1].record.marker, "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_T");
}

}  // namespace
}  // namespace brelvane
