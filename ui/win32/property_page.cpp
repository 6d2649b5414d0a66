#include "ui/win32/property_page.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/win32/win32_text.h"

namespace brelvane::win32 {

void EndProcess(const Platform& platform, const Ending& ending) {
  platform.prompts.Show(ending.message);
  platform.system.ExitProcess(ending.exitCode);
}

void CarryOut(const Platform& platform, const PageEnding& outcome) {
  if (outcome) EndProcess(platform, *outcome);
}

// ---- Win32PageView ------------------------------------------------------------

// Texts hold paths: wide, so a folder the ANSI code page cannot name shows
// and reads back as it is.
bool Win32PageView::SetText(int controlId, const std::string& text) {
  Changing guard(*this);
  return SetDlgItemTextW(page_, controlId, win32text::Widen(text).c_str()) != FALSE;
}

void Win32PageView::Show(int controlId, bool visible) {
  ShowWindow(Item(controlId), visible ? SW_SHOW : SW_HIDE);
}

bool Win32PageView::IsChecked(int controlId) {
  return IsDlgButtonChecked(page_, controlId) == BST_CHECKED;
}

void Win32PageView::SetChecked(int controlId, bool checked) {
  CheckDlgButton(page_, controlId, checked ? BST_CHECKED : BST_UNCHECKED);
}

void Win32PageView::SetProgress(int controlId, std::uint64_t done, std::uint64_t total) {
  const double share =
      total == 0 ? 0.0 : static_cast<double>(std::min(done, total)) / static_cast<double>(total);
  const int step = static_cast<int>(share * kProgressSteps);
  // Called for every block a run copies, from the run's worker thread: a
  // message crosses to the page only when the bar moves.
  if (step == progressStep_) return;
  if (progressStep_ < 0) SendDlgItemMessageW(page_, controlId, PBM_SETRANGE32, 0, kProgressSteps);
  progressStep_ = step;
  SendDlgItemMessageW(page_, controlId, PBM_SETPOS, static_cast<WPARAM>(step), 0);
}

// ---- CPageDlg -------------------------------------------------------------------

namespace {

// The resource type of a template's initialisation data.
constexpr WORD kTemplateInitDataType = 240;

std::uint32_t LittleEndian(const std::uint8_t* bytes, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// Fills the dialog's list and combo boxes from its template's initialisation
// data (the resource of type 240 under the template's name): entries of a
// control id (16 bits), a message (16 bits), the length of its text (32
// bits) and the text, ended by a zero id.  The data names the adding
// messages by their 16-bit values of old.
void ApplyTemplateInitData(HWND dialog, const char* dialogTemplate) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, dialogTemplate, MAKEINTRESOURCEA(kTemplateInitDataType));
  if (found == nullptr) return;
  const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, found)));
  const std::size_t size = SizeofResource(module, found);
  if (data == nullptr) return;
  for (std::size_t at = 0; at + 8 <= size;) {
    const auto id = static_cast<int>(LittleEndian(data + at, 2));
    if (id == 0) break;
    const std::uint32_t message = LittleEndian(data + at + 2, 2);
    const std::uint32_t length = LittleEndian(data + at + 4, 4);
    at += 8;
    if (length > size - at) break;
    const std::string text(reinterpret_cast<const char*>(data + at),
                           strnlen(reinterpret_cast<const char*>(data + at), length));
    at += length;
    UINT added = 0;
    if (message == 0x0403 || message == CB_ADDSTRING) added = CB_ADDSTRING;
    if (message == 0x0401 || message == LB_ADDSTRING) added = LB_ADDSTRING;
    if (added != 0)
      SendDlgItemMessageA(dialog, id, added, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
}

}  // namespace

CPageDlg::CPageDlg(SheetWindow& sheet, const char* dialogTemplate)
    : sheet_(sheet), template_(dialogTemplate) {}

HPROPSHEETPAGE CPageDlg::CreatePage() {
  PROPSHEETPAGEA page = {};
  page.dwSize = sizeof page;
  page.dwFlags = PSP_DEFAULT;
  page.hInstance = GetModuleHandleA(nullptr);
  page.pszTemplate = template_;
  page.pfnDlgProc = DialogProc;
  page.lParam = reinterpret_cast<LPARAM>(this);
  return CreatePropertySheetPageA(&page);
}

void CPageDlg::AttachColors(CColorControl& control, int controlId) {
  control.Attach(GetDlgItem(hwnd(), controlId));
  colored_.push_back(&control);
}

void CPageDlg::SetResult(LRESULT result) { SetWindowLongPtrA(hwnd(), DWLP_MSGRESULT, result); }

INT_PTR CALLBACK CPageDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const auto* page = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
    auto* self = reinterpret_cast<CPageDlg*>(page->lParam);
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    self->view_.Bind(window);
    self->sheet_.AttachWindow(GetParent(window));
  }
  auto* self = reinterpret_cast<CPageDlg*>(GetWindowLongPtrA(window, DWLP_USER));
  return self ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR CPageDlg::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: ApplyTemplateInitData(hwnd(), template_); return OnInitDialog();
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_NOTIFY: {
      const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
      switch (header.code) {
        case PSN_SETACTIVE:
          sheet_.PlacePage(hwnd());
          sheet_.prompts().SetPageOwner(hwnd());
          SetResult(OnSetActive() ? 0 : -1);
          return TRUE;
        case PSN_APPLY: SetResult(OnApply()); return TRUE;
        // Leaving the page (a tab, Ctrl+Tab, another apply) is refused
        // while a run copies; cancelling (Esc, Cancel) asks whether to stop
        // it, and the sheet stays until the run is over.
        case PSN_KILLACTIVE:
          if (!sheet_.busy()) break;
          SetResult(TRUE);
          return TRUE;
        case PSN_QUERYCANCEL:
          if (!sheet_.busy()) break;
          OnCancelWhileBusy();
          SetResult(TRUE);
          return TRUE;
        default: break;
      }
      SetResult(OnNotify(header));
      return TRUE;
    }
    case kDpiChangedAfterParent: OnDpiChanged(); return TRUE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
      for (const CColorControl* control : colored_) {
        if (control->hwnd() == reinterpret_cast<HWND>(lParam)) {
          return reinterpret_cast<INT_PTR>(control->CtlColor(reinterpret_cast<HDC>(wParam)));
        }
      }
      return FALSE;
    default: return OnMessage(message, wParam, lParam);
  }
}

}  // namespace brelvane::win32
