#include "property_sheet.h"

#include <algorithm>
#include <cstring>

#include <dbt.h>

#include "builder/win32/oem_page.h"
#include "builder/win32/predef_page.h"
#include "install/win32/install_page.h"
#include "res/resource.h"
#include "ui/win32/license_page.h"
#include "ui/win32/property_page.h"

namespace brelvane::win32 {
namespace {

// The property sheet's callback carries no data of its own; one sheet runs
// at a time.
CPropertyDlg* g_running = nullptr;

// Top of the side picture below the top of the sheet's client area.
constexpr int kSidePictureTop = 6;

// A drive plugged in or pulled out is looked for once the system's
// announcements of it have settled for this long.
constexpr UINT_PTR kDriveChangeTimer = 1;
constexpr UINT kDriveChangeSettleMs = 300;

bool AnnouncesADriveChange(WPARAM event) {
  return event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE ||
         event == DBT_DEVNODES_CHANGED;
}

}  // namespace

CPropertyDlg::CPropertyDlg(const Platform& platform, Win32Prompts& prompts, SheetMode mode)
    : platform_(platform),
      prompts_(prompts),
      mode_(mode),
      agreementPage_(std::make_unique<CLicPageDlg>(*this)),
      installPage_(std::make_unique<CInstallPageDlg>(*this)),
      builderPage_(std::make_unique<COEMPage>(*this)),
      predefinedPage_(std::make_unique<CPredefModApdPage>(*this)) {
  // Finds the own package (or ends the process) and asks for the agreement page.
  logic_ = std::make_unique<Sheet>(platform_, *this);
  CarryOut(platform_, logic_->Open());
  if (mode_ == SheetMode::Builder) {
    AddPage(PageId::Builder);
    AddPage(PageId::PredefinedModules);
  }
}

CPropertyDlg::~CPropertyDlg() = default;

CPageDlg& CPropertyDlg::PageOf(PageId page) {
  switch (page) {
    case PageId::Agreement: return *agreementPage_;
    case PageId::Install: return *installPage_;
    case PageId::Builder: return *builderPage_;
    case PageId::PredefinedModules: break;
  }
  return *predefinedPage_;
}

void CPropertyDlg::AddPage(PageId page) {
  // The builder opens on its own pages; the agreement belongs to installing.
  if (mode_ == SheetMode::Builder && (page == PageId::Agreement || page == PageId::Install)) return;
  if (pageHandles_.count(page)) return;
  HPROPSHEETPAGE handle = PageOf(page).CreatePage();
  if (!handle) return;
  pageHandles_[page] = handle;
  if (hwnd_) {
    PropSheet_AddPage(hwnd_, handle);
  } else {
    initialPages_.push_back(handle);
  }
}

void CPropertyDlg::SetActivePage(PageId page) {
  auto found = pageHandles_.find(page);
  if (!hwnd_ || found == pageHandles_.end()) return;
  PropSheet_SetCurSel(hwnd_, found->second, 0);
  FocusShownPage();
}

void CPropertyDlg::FocusShownPage() {
  // A switch by the program leaves the focus where it was, on the page
  // that is now hidden, where the next key would act unseen.  It goes to
  // the shown page's first control, else to " Install ", else to the tabs.
  HWND page = PropSheet_GetCurrentPageHwnd(hwnd_);
  HWND focus = GetFocus();
  if (!page || (focus && IsWindowVisible(focus) && IsChild(hwnd_, focus))) return;
  auto usable = [](HWND control) {
    return control && IsWindowVisible(control) && IsWindowEnabled(control);
  };
  HWND target = GetNextDlgTabItem(page, nullptr, FALSE);
  if (!usable(target) || !IsChild(page, target)) target = GetDlgItem(hwnd_, IDOK);
  if (!usable(target)) target = PropSheet_GetTabControl(hwnd_);
  SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
}

void CPropertyDlg::ShowInstallButton(bool visible) {
  if (mode_ == SheetMode::Builder) visible = false;  // the builder installs nothing
  if (hwnd_) ShowWindow(GetDlgItem(hwnd_, IDOK), visible ? SW_SHOW : SW_HIDE);
}

void CPropertyDlg::SetBusy(bool busy) {
  busy_ = busy;
  if (!hwnd_) return;
  if (busy) focusBeforeBusy_ = GetFocus();
  // Cancel stays: it asks whether to stop the run after the file being written.
  EnableWindow(GetDlgItem(hwnd_, IDOK), !busy);
  EnableWindow(PropSheet_GetTabControl(hwnd_), !busy);
  EnableMenuItem(GetSystemMenu(hwnd_, FALSE), SC_CLOSE,
                 MF_BYCOMMAND | (busy ? MF_GRAYED : MF_ENABLED));
  if (!busy && focusBeforeBusy_ && IsWindowVisible(focusBeforeBusy_) &&
      IsWindowEnabled(focusBeforeBusy_)) {
    SetFocus(focusBeforeBusy_);
  }
}

void CPropertyDlg::AttachWindow(HWND sheet) {
  if (hwnd_ || !sheet) return;
  hwnd_ = sheet;
  dpi_ = WindowDpi(sheet);
  prompts_.SetOwner(sheet);
  SetWindowSubclass(sheet, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

void CPropertyDlg::DoModal() {
  if (mode_ == SheetMode::Installer) OnCreate();
  PROPSHEETHEADERA header = {};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_NOAPPLYNOW | PSH_USECALLBACK | PSH_USEICONID;
  header.hInstance = GetModuleHandleA(nullptr);
  header.pszIcon = MAKEINTRESOURCEA(IDI_BRELVANE);
  header.pszCaption = kSheetCaption;
  header.nPages = static_cast<UINT>(initialPages_.size());
  header.nStartPage = 0;
  header.phpage = initialPages_.data();
  header.pfnCallback = SheetCallback;
  g_running = this;
  PropertySheetA(&header);
  g_running = nullptr;
  prompts_.SetOwner(nullptr);
  prompts_.SetPageOwner(nullptr);
  hwnd_ = nullptr;
}

void CPropertyDlg::OnCreate() {
  // Drives of more than one model end the process here, before any window.
  CarryOut(platform_, logic_->OnCreate());
  wantsSidePicture_ = logic_->wantsSidePicture();
}

int CALLBACK CPropertyDlg::SheetCallback(HWND window, UINT message, LPARAM lParam) {
  (void)lParam;
  if (message == PSCB_INITIALIZED && g_running) {
    g_running->AttachWindow(window);
    g_running->OnInitDialog();
  }
  return 0;
}

void CPropertyDlg::OnInitDialog() {
  HWND tabs = PropSheet_GetTabControl(hwnd_);
  SetWindowLongPtrA(tabs, GWL_STYLE, GetWindowLongPtrA(tabs, GWL_STYLE) | TCS_BOTTOM);
  SetWindowPos(tabs, nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowTextA(hwnd_, kSheetCaption);
  PlacePages();

  if (wantsSidePicture_ && !hasSideBitmap_) {
    sideBitmap_.Reset(static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr),
                                                      MAKEINTRESOURCEA(IDB_SIDE_PICTURE),
                                                      IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
    hasSideBitmap_ = static_cast<bool>(sideBitmap_);
    if (hasSideBitmap_) {
      BITMAP picture = {};
      GetObjectA(sideBitmap_.get(), sizeof picture, &picture);
      RECT rect;
      GetWindowRect(hwnd_, &rect);
      rect.right += SheetWidening(picture.bmWidth, dpi_);
      MoveWindow(hwnd_, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
    }
  }
  if (mode_ == SheetMode::Builder) ShowInstallButton(false);
  CentreOnItsDisplay();
}

void CPropertyDlg::CentreOnItsDisplay() {
  // At its final width, so that the boxes it opens, which the system
  // centres on the display, appear over it.
  MONITORINFO display = {};
  display.cbSize = sizeof display;
  RECT sheet;
  if (!GetWindowRect(hwnd_, &sheet) ||
      !GetMonitorInfoA(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &display)) {
    return;
  }
  const RECT& area = display.rcWork;
  const int width = sheet.right - sheet.left;
  const int height = sheet.bottom - sheet.top;
  const int left = area.left + std::max(0L, (area.right - area.left - width) / 2);
  const int top = area.top + std::max(0L, (area.bottom - area.top - height) / 2);
  SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CPropertyDlg::PlacePages() {
  if (!hwnd_) return;
  HWND page = PropSheet_GetCurrentPageHwnd(hwnd_);
  if (page) PlacePage(page);
}

void CPropertyDlg::PlacePage(HWND page) {
  // With the tabs along the bottom the pages fill the tab control's display
  // area from its top edge.
  HWND tabs = PropSheet_GetTabControl(hwnd_);
  RECT area;
  GetClientRect(tabs, &area);
  SendMessageA(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  MapWindowPoints(tabs, hwnd_, reinterpret_cast<POINT*>(&area), 2);
  SetWindowPos(page, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void CPropertyDlg::OnPaint() {
  // The OK button is the install button, whatever the sheet calls it.
  HWND ok = GetDlgItem(hwnd_, IDOK);
  char caption[32] = {};
  GetWindowTextA(ok, caption, sizeof caption);
  if (std::strcmp(caption, kInstallButtonCaption) != 0) SetWindowTextA(ok, kInstallButtonCaption);

  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd_, &paint);
  HWND agreement = agreementPage_->hwnd();
  if (hasSideBitmap_ && agreement) {
    RECT page;
    GetWindowRect(agreement, &page);
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&page), 2);
    BITMAP picture = {};
    GetObjectA(sideBitmap_.get(), sizeof picture, &picture);
    const int width = ScaledToDpi(picture.bmWidth, dpi_);
    const int height = ScaledToDpi(picture.bmHeight, dpi_);
    // Scaled pictures are smoothed; at its own size it is copied as it is.
    if (width != picture.bmWidth) {
      SetStretchBltMode(dc, HALFTONE);
      SetBrushOrgEx(dc, 0, 0, nullptr);
    }
    ScopedMemoryDc memory(dc);
    ScopedSelection selected(memory.get(), sideBitmap_.get());
    StretchBlt(dc, page.left + page.right, ScaledToDpi(kSidePictureTop, dpi_), width, height,
               memory.get(), 0, 0, picture.bmWidth, picture.bmHeight, SRCCOPY);
  }
  EndPaint(hwnd_, &paint);
}

void CPropertyDlg::OnDriveChange() {
  // A run looks for the drive itself before it writes; a box open over the
  // sheet keeps the page as the user saw it when asked.
  if (busy_ || !IsWindowEnabled(hwnd_) || !installPage_->hwnd()) return;
  if (PropSheet_GetCurrentPageHwnd(hwnd_) != installPage_->hwnd()) return;
  installPage_->RefreshStatus();
  FocusShownPage();
}

void CPropertyDlg::OnDpiChanged(int dpi, const RECT& suggested) {
  // The suggested rectangle is the sheet scaled as a whole, its widening
  // included; the picture is drawn for the new DPI at the next paint.
  dpi_ = dpi;
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  PlacePages();
  for (const auto& added : pageHandles_) {
    if (HWND page = PageOf(added.first).hwnd()) SendMessageA(page, kDpiChangedAfterParent, 0, 0);
  }
  InvalidateRect(hwnd_, nullptr, TRUE);
}

LRESULT CALLBACK CPropertyDlg::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR id, DWORD_PTR data) {
  auto* self = reinterpret_cast<CPropertyDlg*>(data);
  switch (message) {
    case WM_PAINT: self->OnPaint(); return 0;
    case WM_DPICHANGED:
      self->OnDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    // While busy the close box, Alt+F4 and the system menu close nothing,
    // and the cursor waits over the sheet (not while a box has disabled it).
    case WM_CLOSE:
      if (self->busy_) return 0;
      break;
    case WM_SYSCOMMAND:
      if (self->busy_ && (wParam & 0xFFF0) == SC_CLOSE) return 0;
      break;
    case WM_SETCURSOR:
      if (!self->busy_ || !IsWindowEnabled(window)) break;
      SetCursor(LoadCursorA(nullptr, IDC_WAIT));
      return TRUE;
    // A drive that comes or goes while the install page shows is looked
    // for again, as the page's activation does.
    case WM_DEVICECHANGE:
      if (AnnouncesADriveChange(wParam)) {
        SetTimer(window, kDriveChangeTimer, kDriveChangeSettleMs, nullptr);
      }
      return TRUE;
    case WM_TIMER:
      if (wParam != kDriveChangeTimer) break;
      KillTimer(window, kDriveChangeTimer);
      self->OnDriveChange();
      return 0;
    case WM_NCDESTROY: RemoveWindowSubclass(window, SubclassProc, id); break;
    default: break;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace brelvane::win32
