// The sheet's start-up: its own package path, its first page, the refusal to
// run with drives of more than one model, and the side-picture decision.
#include <gtest/gtest.h>

#include "app/sheet.h"
#include "support/wizard_machine.h"

namespace brelvane {
namespace {

using testing::RecordingSheetView;
using testing::WizardMachine;

TEST(WizardSheet, StartsOnItsOwnExecutableWithTheAgreementAlone) {
  WizardMachine machine("");
  machine.system().SetOwnExecutablePath("C:\\Program Files\\Quorvix\\brelvane-setup.exe");
  machine.system().SetCurrentDirectory("D:\\elsewhere");
  RecordingSheetView view;
  Sheet sheet(machine.platform(), view);
  EXPECT_TRUE(view.pages().empty()) << "nothing before Open";
  ASSERT_FALSE(sheet.Open().has_value());

  EXPECT_EQ(sheet.state().packagePath, "C:\\Program Files\\Quorvix\\brelvane-setup.exe");
  EXPECT_EQ(sheet.state().recordSize, 660);
  EXPECT_EQ(sheet.pages(), std::vector<PageId>{PageId::Agreement});
  EXPECT_EQ(view.pages(), std::vector<PageId>{PageId::Agreement});
  EXPECT_FALSE(sheet.installPageAdded());
  EXPECT_TRUE(machine.prompts().messages().empty());
}

TEST(WizardSheet, UnavailableOwnPathEndsTheProgramWithItsMessage) {
  WizardMachine machine("");
  machine.system().FailOwnExecutablePath(win::kErrorFilenameExcedRange);
  RecordingSheetView view;
  Sheet sheet(machine.platform(), view);
  const PageEnding ending = sheet.Open();
  ASSERT_TRUE(ending.has_value()) << "the sheet opened without its own path";
  EXPECT_EQ(ending->exitCode, 0);
  // The front-end shows the message; the logic has shown nothing.
  EXPECT_TRUE(machine.prompts().messages().empty());
  const Message& message = ending->message;
  EXPECT_EQ(message.text,
            "Please run this application from DESKTOP folder. \r\n"
            "If still does not work contact Quorvix");
  EXPECT_EQ(message.caption, "brelvane-setup");  // the name as shipped
  EXPECT_EQ(message.style, win::kMbOk);
  EXPECT_FALSE(message.owned_by_page);
  EXPECT_FALSE(message.plain);
  // Nothing of the sheet was shown: no page added.
  EXPECT_TRUE(view.pages().empty());
}

struct PresenceCase {
  const char* fixture;
  ModelPresence presence;
  bool picture;  // meaningful when the sheet runs
  bool refused;
};

void PrintTo(const PresenceCase& row, std::ostream* out) { *out << row.fixture; }

class WizardSheetPresence : public ::testing::TestWithParam<PresenceCase> {};

TEST_P(WizardSheetPresence, RefusesSeveralModelsAndWidensForKestrinOrOvinAlone) {
  const PresenceCase& row = GetParam();
  WizardMachine machine(row.fixture);
  machine.system().SetOwnExecutablePath("C:\\setup\\brelvane-setup.exe");
  RecordingSheetView view;
  Sheet sheet(machine.platform(), view);
  ASSERT_FALSE(sheet.Open().has_value());

  const PageEnding ending = sheet.OnCreate();
  EXPECT_TRUE(machine.prompts().messages().empty());
  if (row.refused) {
    ASSERT_TRUE(ending.has_value()) << "the sheet opened with several models plugged in";
    EXPECT_EQ(ending->exitCode, 0);
    EXPECT_EQ(ending->message.text,
              "More than one Suported Mivora detected under Windows.\r\n"
              "Please unplug one and restart the application!");
    EXPECT_EQ(ending->message.caption, "brelvane-setup");
    EXPECT_EQ(ending->message.style, win::kMbOk);
    EXPECT_TRUE(ending->message.plain) << "OK button only, no icon";
  } else {
    EXPECT_FALSE(ending.has_value());
    EXPECT_EQ(sheet.wantsSidePicture(), row.picture);
  }
  EXPECT_EQ(sheet.state().modelPresence, row.presence);
  EXPECT_EQ(machine.registry().OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, WizardSheetPresence,
    ::testing::Values(PresenceCase{"none", ModelPresence::None, false, false},
                      PresenceCase{"kestrin-stale-oem", ModelPresence::Kestrin, true, false},
                      PresenceCase{"ovin-e", ModelPresence::Ovin, true, false},
                      PresenceCase{"ovin-two-disks", ModelPresence::Ovin, true, false},
                      PresenceCase{"ovin-9x-f", ModelPresence::Ovin, true, false},
                      PresenceCase{"pellor-only", ModelPresence::Pellor, false, false},
                      PresenceCase{"kestrin-ovin", ModelPresence::KestrinOvin, false, true},
                      PresenceCase{"kestrin-ovin-9x", ModelPresence::KestrinOvin, false, true},
                      PresenceCase{"ovin-pellor", ModelPresence::OvinPellor, false, true},
                      PresenceCase{"all-three", ModelPresence::AllThree, false, true}),
    [](const auto& info) {
      std::string name = info.param.fixture;
      for (char& c : name)
        if (c == '-') c = '_';
      return name;
    });

TEST(WizardSheet, SidePictureOnlyForKestrinOrOvinAloneAndWidensByPicturePlusGap) {
  using P = ModelPresence;
  const std::pair<ModelPresence, bool> cases[] = {
      {P::None, false},       {P::Kestrin, true},      {P::Ovin, true},
      {P::Pellor, false},     {P::KestrinOvin, false}, {P::KestrinPellor, false},
      {P::OvinPellor, false}, {P::AllThree, false}};
  for (const auto& [presence, expected] : cases)
    EXPECT_EQ(WantsSidePicture(presence), expected) << presence.Code();
  EXPECT_EQ(SheetWidening(kSidePictureWidth), 284);
}

TEST(WizardSheet, SidePictureAndWideningScaleWithTheDisplay) {
  struct Row {
    int dpi, widening, pictureWidth, pictureTop;
  };
  // 96 keeps every pixel; 120, 144 and 192 are the 125, 150 and 200 % settings.
  for (const Row& row : {Row{96, 284, 281, 6}, Row{120, 355, 351, 8}, Row{144, 426, 422, 9},
                         Row{192, 568, 562, 12}}) {
    EXPECT_EQ(SheetWidening(kSidePictureWidth, row.dpi), row.widening) << row.dpi;
    EXPECT_EQ(ScaledToDpi(kSidePictureWidth, row.dpi), row.pictureWidth) << row.dpi;
    EXPECT_EQ(ScaledToDpi(6, row.dpi), row.pictureTop) << row.dpi;
  }
}

}  // namespace
}  // namespace brelvane
