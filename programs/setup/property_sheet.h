// CPropertyDlg: the program's one window, a modal tabbed property sheet
// around the sheet logic.  It holds the four pages, widens itself for the
// side picture, keeps its tabs along the bottom edge and captions its OK
// button " Install ".  It follows the DPI of its display: the picture and
// the widening scale with it, and a move to a display of another DPI takes
// the size the system suggests and tells the pages.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "app/sheet.h"
#include "app/wizard_view.h"
#include "platform/platform.h"
#include "platform/win32/win32_prompts.h"
#include "ui/win32/color_controls.h"
#include "ui/win32/property_page.h"

namespace brelvane::win32 {

class CLicPageDlg;
class CInstallPageDlg;
class COEMPage;
class CPredefModApdPage;

class CPropertyDlg final : public SheetWindow {
 public:
  CPropertyDlg(const Platform& platform, Win32Prompts& prompts, SheetMode mode);
  ~CPropertyDlg() override;
  CPropertyDlg(const CPropertyDlg&) = delete;
  CPropertyDlg& operator=(const CPropertyDlg&) = delete;

  // Runs the sheet modally until it closes.
  void DoModal();

  // SheetView.
  void ShowInstallButton(bool visible) override;
  void AddPage(PageId page) override;
  void SetActivePage(PageId page) override;

  // SheetWindow: what the pages ask of it.
  HWND hwnd() const override { return hwnd_; }
  void AttachWindow(HWND sheet) override;
  void PlacePage(HWND page) override;
  Sheet& logic() override { return *logic_; }
  const Platform& platform() const override { return platform_; }
  Win32Prompts& prompts() override { return prompts_; }
  SheetMode mode() const override { return mode_; }
  void SetBusy(bool busy) override;
  bool busy() const override { return busy_; }
  int dpi() const override { return dpi_; }

 private:
  static int CALLBACK SheetCallback(HWND window, UINT message, LPARAM lParam);
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data);
  CPageDlg& PageOf(PageId page);
  void OnCreate();
  void OnInitDialog();
  void PlacePages();
  void FocusShownPage();
  void CentreOnItsDisplay();
  void OnDriveChange();
  void OnPaint();
  void OnDpiChanged(int dpi, const RECT& suggested);

  Platform platform_;
  Win32Prompts& prompts_;
  SheetMode mode_;
  HWND hwnd_ = nullptr;
  bool busy_ = false;
  int dpi_ = USER_DEFAULT_SCREEN_DPI;
  // The control that had the focus when the sheet became busy.
  HWND focusBeforeBusy_ = nullptr;
  ScopedGdi<HBITMAP> sideBitmap_;
  bool hasSideBitmap_ = false;
  bool wantsSidePicture_ = false;
  std::unique_ptr<CLicPageDlg> agreementPage_;
  std::unique_ptr<CInstallPageDlg> installPage_;
  std::unique_ptr<COEMPage> builderPage_;
  std::unique_ptr<CPredefModApdPage> predefinedPage_;
  std::unique_ptr<Sheet> logic_;
  // Pages asked for before the window exists go into the sheet's header.
  std::vector<HPROPSHEETPAGE> initialPages_;
  std::map<PageId, HPROPSHEETPAGE> pageHandles_;
};

}  // namespace brelvane::win32
