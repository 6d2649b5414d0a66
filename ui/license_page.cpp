#include "ui/license_page.h"

#include "common/messages.h"
#include "ui/agreement_text.h"

namespace brelvane {

PageEnding LicensePage::OnInitDialog() {
  if (view_.SetText(ids::kAgreementText, AgreementText())) return std::nullopt;

  // The text box could not take the agreement (the system is short of
  // resources): let the user accept without reading it, or leave.
  view_.SetText(ids::kAgreementText, kAgreementFailedText);
  Message question;
  question.text = kLowResourceQuestion;
  question.caption = kLowResourceCaption;
  question.style = win::kMbOkCancel | win::kMbIconQuestion;
  question.owned_by_page = true;
  if (sheet_.platform().prompts.Show(question) != win::kIdOk) return OnDecline();

  view_.SetChecked(ids::kAccept, true);
  // The agreement stays on screen; the install page is reached by its tab.
  sheet_.AddInstallPage(false);
  return std::nullopt;
}

bool LicensePage::OnSetActive() {
  sheet_.ShowInstallButton(false);
  return true;
}

void LicensePage::OnAccept() { sheet_.AddInstallPage(true); }

Ending LicensePage::OnDecline() { return Ending{NoticeMessage(sheet_.platform(), kGoodBye), 0}; }

}  // namespace brelvane
