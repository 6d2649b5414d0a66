// The agreement page: its text, Accept (once), Decline (always the program's
// end) and the low-resource road past an agreement that cannot be shown.
#include <gtest/gtest.h>

#include <string>

#include "support/wizard_machine.h"
#include "ui/agreement_text.h"
#include "ui/license_page.h"

namespace brelvane {
namespace {

using testing::WizardMachine;
using testing::WizardRig;

TEST(WizardAgreementText, FivePiecesOfTheirSizesMakeTheWholeText) {
  const auto& pieces = AgreementPieces();
  const std::size_t sizes[5] = {635, 1231, 1731, 1203, 1527};
  ASSERT_EQ(pieces.size(), 5u);  // the loop below reads sizes[i]
  std::string joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    EXPECT_EQ(pieces[i].size(), sizes[i]) << "piece " << i;
    joined += pieces[i];
  }
  EXPECT_EQ(AgreementText(), joined);
  EXPECT_EQ(AgreementText().size(), 6327u);
}

TEST(WizardAgreementText, LinesEndInCrLfAndSectionsFollowAnEmptyLine) {
  const std::string text = AgreementText();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool lf = text[i] == '\n';
    const bool cr = text[i] == '\r';
    EXPECT_FALSE(lf && !(i > 0 && text[i - 1] == '\r')) << "bare LF at " << i;
    EXPECT_FALSE(cr && !(i + 1 < text.size() && text[i + 1] == '\n')) << "bare CR at " << i;
  }
  for (int section = 1; section <= 9; ++section) {
    const std::string heading = "\r\n\r\n" + std::to_string(section) + ". ";
    EXPECT_NE(text.find(heading), std::string::npos) << "section " << section;
  }
  EXPECT_EQ(text.find(",,"), std::string::npos) << "a doubled comma";
  // Pieces 2 to 5 each begin with the empty line before their first section.
  for (std::size_t i = 1; i < AgreementPieces().size(); ++i)
    EXPECT_EQ(AgreementPieces()[i].substr(0, 2), "\r\n") << "piece " << i;
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

class WizardLicense : public ::testing::Test {
 protected:
  WizardMachine machine{""};
  WizardRig rig{machine, "C:\\setup\\brelvane-setup.exe"};
};

TEST_F(WizardLicense, InitialisingPutsTheAgreementIntoItsBox) {
  EXPECT_FALSE(rig.license().OnInitDialog().has_value());
  EXPECT_EQ(rig.agreementView.control(ids::kAgreementText).text, AgreementText());
  EXPECT_TRUE(machine.prompts().messages().empty());
  EXPECT_FALSE(rig.sheet().installPageAdded());
}

TEST_F(WizardLicense, AcceptingTwiceAddsAndActivatesTheInstallPageOnce) {
  ASSERT_FALSE(rig.license().OnInitDialog().has_value());
  rig.license().OnAccept();
  rig.sheetView.SetActivePage(PageId::Agreement);  // back to the agreement tab
  rig.license().OnAccept();

  EXPECT_EQ(rig.sheet().pages(), (std::vector<PageId>{PageId::Agreement, PageId::Install}));
  EXPECT_EQ(rig.sheetView.events(),
            (std::vector<std::string>{"add Agreement", "add Install", "activate Install",
                                      "button 0", "activate Agreement", "button 0"}));
  EXPECT_EQ(rig.sheetView.activePage(), PageId::Agreement);
}

TEST_F(WizardLicense, ShowingTheAgreementHidesTheInstallButton) {
  rig.sheetView.ShowInstallButton(true);
  EXPECT_TRUE(rig.license().OnSetActive());
  EXPECT_FALSE(rig.sheetView.installButtonVisible());
}

TEST_F(WizardLicense, DecliningEndsTheProgramEvenAfterAccepting) {
  for (bool acceptedFirst : {false, true}) {
    SCOPED_TRACE(acceptedFirst ? "after Accept" : "at once");
    if (acceptedFirst) rig.license().OnAccept();
    const Ending ending = rig.license().OnDecline();
    EXPECT_EQ(ending.exitCode, 0);
    EXPECT_EQ(ending.message.text, "Good Bye!");
    EXPECT_EQ(ending.message.style, win::kMbOk);
    EXPECT_EQ(ending.message.caption, "brelvane-setup");
    EXPECT_FALSE(ending.message.owned_by_page);
    // The front-end shows it; the logic has shown nothing.
    EXPECT_TRUE(machine.prompts().messages().empty());
  }
}

TEST_F(WizardLicense, LowResourcesOkTicksAcceptAndAddsTheInstallPageWithoutSwitching) {
  rig.agreementView.RefuseTextsLongerThan(ids::kAgreementText, 100);
  machine.prompts().QueueAnswer(win::kIdOk);
  EXPECT_FALSE(rig.license().OnInitDialog().has_value());

  ASSERT_EQ(machine.prompts().messages().size(), 1u);
  const Message& question = machine.prompts().messages()[0];
  EXPECT_EQ(question.caption, "Low Resource");
  EXPECT_EQ(question.style, 0x21u);
  EXPECT_TRUE(question.owned_by_page);
  EXPECT_EQ(question.text,
            "Unable To display License Agreement due to Low system resources.\r\n\r\n"
            "By pressing OK you acknowledge that you have obtained the Vantrel License "
            "Agreement, Read and Accepted it.\r\nContinue Installation?");
  EXPECT_EQ(rig.agreementView.control(ids::kAgreementText).text,
            "Failed to display License Agreement!");
  EXPECT_TRUE(rig.agreementView.control(ids::kAccept).checked);
  EXPECT_TRUE(rig.sheet().installPageAdded());
  EXPECT_FALSE(rig.sheetView.activePage().has_value());

  // A later Accept does not add it again, nor switch to it.
  rig.license().OnAccept();
  EXPECT_EQ(rig.sheet().pages().size(), 2u);
  EXPECT_FALSE(rig.sheetView.activePage().has_value());
}

TEST_F(WizardLicense, LowResourcesCancelSaysGoodByeAndEnds) {
  rig.agreementView.RefuseTextsLongerThan(ids::kAgreementText, 100);
  machine.prompts().QueueAnswer(win::kIdCancel);
  const PageEnding ending = rig.license().OnInitDialog();
  ASSERT_TRUE(ending.has_value()) << "Cancel did not end the program";
  EXPECT_EQ(ending->exitCode, 0);
  EXPECT_EQ(ending->message.text, "Good Bye!");
  EXPECT_EQ(ending->message.style, win::kMbOk);
  // Only the question was shown; the front-end shows the ending's message.
  ASSERT_EQ(machine.prompts().messages().size(), 1u);
  EXPECT_EQ(machine.prompts().messages()[0].caption, "Low Resource");
  EXPECT_FALSE(rig.agreementView.control(ids::kAccept).checked);
  EXPECT_FALSE(rig.sheet().installPageAdded());
}

}  // namespace
}  // namespace brelvane
