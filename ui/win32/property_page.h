// The thin Win32 shell every page of the sheet is built on: a dialog
// procedure that forwards to a C++ object, a view that applies what the
// page logic says to the page's controls, and the sheet window as the pages
// see it.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/page_ending.h"
#include "app/sheet.h"
#include "app/wizard_view.h"
#include "platform/platform.h"
#include "platform/win32/win32_prompts.h"
#include "ui/win32/color_controls.h"

namespace brelvane::win32 {

// Which pages the sheet opens with: the end user's installer, or the
// builder's two pages for the maker's staff.
enum class SheetMode { Installer, Builder };

// The sheet window that holds the pages: the sheet logic's view, and what a
// page window asks of it.  The sheet window (programs/setup) implements it, so the
// pages never include it.  One base, not two: a class with two polymorphic
// bases brings in the runtime's multiple-inheritance type info (3 KB).
class SheetWindow : public SheetView {
 public:
  // The sheet's window; null until the first page has seen it.
  virtual HWND hwnd() const = 0;
  // Called by the pages when they first see the sheet's window.
  virtual void AttachWindow(HWND sheet) = 0;
  // Fits a page into the tab control's display area (tabs along the bottom).
  virtual void PlacePage(HWND page) = 0;
  virtual Sheet& logic() = 0;
  virtual const Platform& platform() const = 0;
  virtual Win32Prompts& prompts() = 0;
  virtual SheetMode mode() const = 0;
  // While busy (an install run copies) the sheet takes no input that could
  // start a second run, switch pages or close it: Install and the tabs are
  // disabled, closing is refused, and the wait cursor shows over it; Cancel
  // asks whether to stop the run after the file being written.  Not busy
  // gives everything back.
  virtual void SetBusy(bool busy) = 0;
  virtual bool busy() const = 0;
  // The dots per inch the sheet is laid out for (96 at 100 %), which the
  // pages' own fonts follow.
  virtual int dpi() const = 0;
};

// Sent to each page after the sheet has moved to a display of another DPI
// (Windows 10 1703 and later send it too; the Windows 7 headers lack it).
inline constexpr UINT kDpiChangedAfterParent = 0x02E3;

// Carries out an ending that page logic gave, at once: its message through
// the prompts, then the end of the process with its code (the seam's
// ExitProcess, which does not come back).
void EndProcess(const Platform& platform, const Ending& ending);
// The same when the outcome holds an ending; nothing otherwise.
void CarryOut(const Platform& platform, const PageEnding& outcome);

// The controls of one page window.  Texts that the logic sets do not come
// back to it as change notifications: the logic runs its own follow-up.
class Win32PageView final : public PageView {
 public:
  void Bind(HWND page) { page_ = page; }
  HWND page() const { return page_; }
  HWND Item(int controlId) const { return GetDlgItem(page_, controlId); }
  // True while the logic itself is changing a control.
  bool changing() const { return changing_ > 0; }

  bool SetText(int controlId, const std::string& text) override;
  void Show(int controlId, bool visible) override;
  bool IsChecked(int controlId) override;
  void SetChecked(int controlId, bool checked) override;
  // The page's one progress bar, moved only when it moves by a step.
  void SetProgress(int controlId, std::uint64_t done, std::uint64_t total) override;

  // Marks the logic's own change of a control for as long as it lives.
  class Changing {
   public:
    explicit Changing(Win32PageView& view) : view_(view) { ++view_.changing_; }
    ~Changing() { --view_.changing_; }
    Changing(const Changing&) = delete;
    Changing& operator=(const Changing&) = delete;

   private:
    Win32PageView& view_;
  };

 private:
  // The bar's range: the set's bytes (past 4 GiB, where the bar's 32-bit
  // range ends) are scaled to it.
  static constexpr int kProgressSteps = 1000;

  HWND page_ = nullptr;
  int changing_ = 0;
  // Where the bar stands; -1 until its range is set.
  int progressStep_ = -1;
};

// A property page: built on a dialog template, its messages forwarded to
// the virtual handlers below.
class CPageDlg {
 public:
  CPageDlg(SheetWindow& sheet, const char* dialogTemplate);
  virtual ~CPageDlg() = default;
  CPageDlg(const CPageDlg&) = delete;
  CPageDlg& operator=(const CPageDlg&) = delete;

  // The page handle for the sheet; the sheet owns and frees it.
  HPROPSHEETPAGE CreatePage();
  HWND hwnd() const { return view_.page(); }

 protected:
  virtual BOOL OnInitDialog() { return TRUE; }
  // False refuses the activation.
  virtual bool OnSetActive() { return true; }
  // PSNRET_NOERROR lets the sheet close; PSNRET_INVALID_NOCHANGEPAGE keeps it.
  virtual LRESULT OnApply() { return PSNRET_NOERROR; }
  virtual void OnCommand(int controlId, int code) {
    (void)controlId;
    (void)code;
  }
  virtual LRESULT OnNotify(const NMHDR& header) {
    (void)header;
    return 0;
  }
  // Cancel (Esc, the button) while a run copies; the sheet stays open.
  virtual void OnCancelWhileBusy() {}
  // The sheet's DPI has changed: the page's own fonts follow it.
  virtual void OnDpiChanged() {}
  // Any other message; FALSE when not handled.
  virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    (void)message;
    (void)wParam;
    (void)lParam;
    return FALSE;
  }
  // The control's colours answer its control-colour messages from now on.
  void AttachColors(CColorControl& control, int controlId);

  SheetWindow& sheet_;
  Win32PageView view_;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void SetResult(LRESULT result);

  const char* template_;
  std::vector<CColorControl*> colored_;
};

}  // namespace brelvane::win32
