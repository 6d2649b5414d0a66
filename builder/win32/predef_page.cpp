#include "builder/win32/predef_page.h"

#include "res/resource.h"

namespace brelvane::win32 {

CPredefModApdPage::CPredefModApdPage(SheetWindow& sheet) : CPageDlg(sheet, IDD_PREDEF_PAGE) {}

BOOL CPredefModApdPage::OnInitDialog() {
  logic_.emplace(sheet_.platform(), sheet_.logic().state(), builderView_);
  return TRUE;
}

bool CPredefModApdPage::OnSetActive() {
  CarryOut(sheet_.platform(), logic_->OnSetActive());
  return true;
}

LRESULT CPredefModApdPage::OnApply() { return PSNRET_INVALID_NOCHANGEPAGE; }

void CPredefModApdPage::OnCommand(int controlId, int code) {
  if (view_.changing()) return;
  if (code == BN_CLICKED) {
    switch (controlId) {
      case IDC_KESTRIN_BROWSE: return logic_->OnBrowseSource(PredefGroup::Kestrin);
      case IDC_OVIN_BROWSE: return logic_->OnBrowseSource(PredefGroup::Ovin);
      case IDC_PELLOR_BROWSE: return logic_->OnBrowseSource(PredefGroup::Pellor);
      case IDC_COMBINED_BROWSE: return logic_->OnBrowseCombinedSource();
      case IDC_ADD_PREDEFINED: return logic_->OnAddPredefinedModules();
      default: return;
    }
  }
  // The Ovin root answers its change notification, every other edit its
  // update notification; both come at each change of the text.
  bool update = code == EN_UPDATE;
  if ((update && (controlId == IDC_KESTRIN_SOURCE || controlId == IDC_KESTRIN_ROOT))) {
    logic_->UpdateGroupCaption(PredefGroup::Kestrin);
  } else if ((update && controlId == IDC_OVIN_SOURCE) ||
             (code == EN_CHANGE && controlId == IDC_OVIN_ROOT)) {
    logic_->UpdateGroupCaption(PredefGroup::Ovin);
  } else if (update && (controlId == IDC_PELLOR_SOURCE || controlId == IDC_PELLOR_ROOT)) {
    logic_->UpdateGroupCaption(PredefGroup::Pellor);
  }
}

}  // namespace brelvane::win32
