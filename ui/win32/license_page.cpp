#include "ui/win32/license_page.h"

#include <utility>

#include "res/resource.h"
#include "ui/win32/about_box.h"

namespace brelvane::win32 {
namespace {
constexpr int kAgreementFontTenths = 91;
constexpr COLORREF kAgreementBackground = RGB(255, 255, 245);
constexpr COLORREF kAgreementTextColour = RGB(0, 0, 0);
// Posted on activation: the text box then shows the agreement from its
// start, after the dialog manager has focused it and selected everything.
constexpr UINT kShowTextFromStart = WM_APP + 1;
}  // namespace

CLicPageDlg::CLicPageDlg(SheetWindow& sheet) : CPageDlg(sheet, MAKEINTRESOURCEA(IDD_AGREEMENT)) {}

BOOL CLicPageDlg::OnInitDialog() {
  logic_.emplace(sheet_.logic(), view_);
  OnDpiChanged();
  AttachColors(agreementText_, IDC_AGREEMENT_TEXT);
  agreementText_.SetBkColor(kAgreementBackground);
  agreementText_.SetTextColor(kAgreementTextColour);
  // The "Low Resource" question belongs to this page, which is not yet the
  // active page while it initialises.
  sheet_.prompts().SetPageOwner(hwnd());
  CarryOut(sheet_.platform(), logic_->OnInitDialog());
  return TRUE;
}

void CLicPageDlg::OnDpiChanged() {
  // The control takes the new font before the old one is deleted.
  ScopedGdi<HFONT> font = CreatePointFont(kAgreementFontTenths, "Comic Sans MS", sheet_.dpi());
  SetControlFont(hwnd(), IDC_AGREEMENT_TEXT, font.get());
  agreementFont_ = std::move(font);
}

bool CLicPageDlg::OnSetActive() {
  PostMessageA(hwnd(), kShowTextFromStart, 0, 0);
  return logic_->OnSetActive();
}

INT_PTR CLicPageDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  (void)wParam;
  (void)lParam;
  if (message != kShowTextFromStart) return FALSE;
  HWND text = GetDlgItem(hwnd(), IDC_AGREEMENT_TEXT);
  SendMessageA(text, EM_SETSEL, 0, 0);
  SendMessageA(text, WM_VSCROLL, SB_TOP, 0);
  return TRUE;
}

void CLicPageDlg::OnCommand(int controlId, int code) {
  if (code != BN_CLICKED) return;
  switch (controlId) {
    case IDC_ACCEPT: logic_->OnAccept(); break;
    case IDC_DECLINE: EndProcess(sheet_.platform(), logic_->OnDecline()); break;
    case IDC_ABOUT_BUTTON: CAboutDlg(hwnd(), kSheetCaption).DoModal(); break;
    default: break;
  }
}

}  // namespace brelvane::win32
