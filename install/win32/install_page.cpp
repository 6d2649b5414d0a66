#include "install/win32/install_page.h"

#include <utility>

#include "res/resource.h"
#include "ui/win32/worker_run.h"

namespace brelvane::win32 {
namespace {
constexpr int kStatusFontTenths = 120;
}  // namespace

CInstallPageDlg::CInstallPageDlg(SheetWindow& sheet)
    : CPageDlg(sheet, MAKEINTRESOURCEA(IDD_INSTALL)) {}

BOOL CInstallPageDlg::OnInitDialog() {
  logic_.emplace(sheet_.logic(), view_);
  AttachColors(pluggedInLine_, IDC_PLUGGED_IN_LINE);
  AttachColors(supportedLine_, IDC_SUPPORTED_LINE);
  AttachColors(moduleLine_, IDC_MODULE_LINE);
  OnDpiChanged();
  return TRUE;
}

void CInstallPageDlg::OnDpiChanged() {
  // The lines take the new font before the old one is deleted.
  ScopedGdi<HFONT> font = CreatePointFont(kStatusFontTenths, "Comic Sans MS", sheet_.dpi());
  if (!font) return;
  for (int line : {IDC_PLUGGED_IN_LINE, IDC_SUPPORTED_LINE, IDC_MODULE_LINE}) {
    SetControlFont(hwnd(), line, font.get());
  }
  statusFont_ = std::move(font);
}

bool CInstallPageDlg::OnSetActive() { return logic_->OnSetActive(); }

void CInstallPageDlg::OnCancelWhileBusy() {
  if (logic_) logic_->AskToStop();
}

void CInstallPageDlg::RefreshStatus() {
  if (logic_) (void)logic_->RefreshStatus();
}

LRESULT CInstallPageDlg::OnApply() {
  // Only the visible " Install " button installs: Enter on a page whose
  // button is hidden must not start a run the page did not offer.  One run
  // at a time.
  if (sheet_.busy() || !IsWindowVisible(GetDlgItem(sheet_.hwnd(), IDOK))) {
    return PSNRET_INVALID_NOCHANGEPAGE;
  }
  // The run copies on a worker thread, so the sheet keeps answering while
  // a flush blocks for seconds; its questions come back to this thread
  // through the prompts.  The ending is carried out here, once it is over.
  InstallRunResult run = InstallRunResult::StayOnPage();
  auto install = [this, &run] { run = logic_->OnApply(); };
  sheet_.SetBusy(true);
  RunBesideTheSheet(sheet_.hwnd(), install);
  sheet_.SetBusy(false);
  CarryOut(sheet_.platform(), run.ending);
  return run.closesSheet ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE;
}

}  // namespace brelvane::win32
