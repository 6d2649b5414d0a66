#include "ui/lic_page_dlg.h"

#include "app/property_dlg_win32.h"
#include "res/resource.h"
#include "ui/about_dlg.h"

namespace brelvane::win32 {
namespace {
constexpr int kAgreementFontTenths = 91;
constexpr COLORREF kAgreementBackground = RGB(255, 255, 245);
constexpr COLORREF kAgreementTextColour = RGB(0, 0, 0);
}  // namespace

CLicPageDlg::CLicPageDlg(CPropertyDlg& sheet)
    : CPageDlg(sheet, MAKEINTRESOURCEA(IDD_AGREEMENT)) {}

BOOL CLicPageDlg::OnInitDialog() {
  logic_.emplace(sheet_.logic(), view_);
  agreementFont_ = CreatePointFont(kAgreementFontTenths, "Comic Sans MS");
  SetControlFont(hwnd(), IDC_AGREEMENT_TEXT, agreementFont_.get());
  AttachColors(agreementText_, IDC_AGREEMENT_TEXT);
  agreementText_.SetBkColor(kAgreementBackground);
  agreementText_.SetTextColor(kAgreementTextColour);
  logic_->OnInitDialog();
  return TRUE;
}

bool CLicPageDlg::OnSetActive() { return logic_->OnSetActive(); }

void CLicPageDlg::OnCommand(int controlId, int code) {
  if (code != BN_CLICKED) return;
  switch (controlId) {
    case IDC_ACCEPT:
      logic_->OnAccept();
      break;
    case IDC_DECLINE:
      logic_->OnDecline();  // ends the process
      break;
    case IDC_ABOUT_BUTTON:
      CAboutDlg(hwnd()).DoModal();
      break;
    default:
      break;
  }
}

}  // namespace brelvane::win32
