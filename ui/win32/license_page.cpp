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

// The radio pair's own subclass.  A radio button that gets the keyboard
// focus (by Tab, or the dialog manager's arrow keys) reports a click of its
// own, and the dialog manager clicks an automatic one it moves to: either
// would accept or decline.  So the subclass marks the time a button spends
// taking the focus, and moves between the two itself on an arrow key,
// selecting without a click.
constexpr UINT_PTR kRadioSubclass = 1;

bool IsArrowKey(WPARAM key) {
  return key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_DOWN;
}

bool IsArrowKeyDown(LPARAM message) {
  const auto* msg = reinterpret_cast<const MSG*>(message);
  return msg && msg->message == WM_KEYDOWN && IsArrowKey(msg->wParam);
}

LRESULT CALLBACK RadioProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                           DWORD_PTR data) {
  bool& focusArriving = *reinterpret_cast<bool*>(data);
  switch (message) {
    case WM_SETFOCUS: {
      focusArriving = true;
      const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
      focusArriving = false;
      return result;
    }
    case WM_GETDLGCODE: {
      const LRESULT code = DefSubclassProc(window, message, wParam, lParam);
      return IsArrowKeyDown(lParam) ? code | DLGC_WANTARROWS : code;
    }
    case WM_KEYDOWN: {
      if (!IsArrowKey(wParam)) break;
      // Two buttons: every arrow goes to the other one.
      HWND page = GetParent(window);
      const int other = GetDlgCtrlID(window) == IDC_ACCEPT ? IDC_DECLINE : IDC_ACCEPT;
      SetFocus(GetDlgItem(page, other));
      CheckRadioButton(page, IDC_ACCEPT, IDC_DECLINE, other);
      return 0;
    }
    case WM_NCDESTROY: RemoveWindowSubclass(window, RadioProc, id); break;
    default: break;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}
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
  for (int radio : {IDC_ACCEPT, IDC_DECLINE}) {
    SetWindowSubclass(GetDlgItem(hwnd(), radio), RadioProc, kRadioSubclass,
                      reinterpret_cast<DWORD_PTR>(&focusArriving_));
  }
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
  // Coming to the pair by Tab or the arrow keys neither accepts nor
  // declines: a click, Space or the access key does.
  if (focusArriving_ && (controlId == IDC_ACCEPT || controlId == IDC_DECLINE)) return;
  switch (controlId) {
    case IDC_ACCEPT: logic_->OnAccept(); break;
    case IDC_DECLINE: EndProcess(sheet_.platform(), logic_->OnDecline()); break;
    case IDC_ABOUT_BUTTON: CAboutDlg(hwnd(), kSheetCaption).DoModal(); break;
    default: break;
  }
}

}  // namespace brelvane::win32
