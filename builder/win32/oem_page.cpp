#include "builder/win32/oem_page.h"

#include <commctrl.h>

#include <iterator>

#include "res/resource.h"
#include "ui/win32/worker_run.h"

namespace brelvane::win32 {

COEMPage::COEMPage(SheetWindow& sheet) : CPageDlg(sheet, IDD_OEM_PAGE) {}

void COEMPage::InsertColumns() {
  columnsDpi_ = sheet_.dpi();
  HWND list = GetDlgItem(hwnd(), IDC_MODULE_LIST);
  // A click anywhere in a row selects it, not only on its name.
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  int index = 0;
  for (const ListColumn& column : kModuleListColumns) {
    // Dialog units follow the page's font, which follows the DPI.
    RECT width = {0, 0, column.widthInDialogUnits, 0};
    MapDialogRect(hwnd(), &width);
    LVCOLUMNA entry = {};
    entry.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    entry.fmt = column.centred ? LVCFMT_CENTER : LVCFMT_LEFT;
    entry.cx = width.right;
    entry.pszText = const_cast<char*>(column.heading);
    entry.iSubItem = index;
    SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&entry));
    ++index;
  }
}

BOOL COEMPage::OnInitDialog() {
  logic_.emplace(sheet_.platform(), sheet_.logic().state(), builderView_);
  InsertColumns();
  CarryOut(sheet_.platform(), logic_->OnInitDialog(sheet_.mode() == SheetMode::Builder));
  return TRUE;
}

void COEMPage::OnDpiChanged() {
  HWND list = GetDlgItem(hwnd(), IDC_MODULE_LIST);
  for (int index = 0; index < static_cast<int>(std::size(kModuleListColumns)); ++index) {
    const auto width = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, index, 0));
    SendMessageA(list, LVM_SETCOLUMNWIDTH, index, MulDiv(width, sheet_.dpi(), columnsDpi_));
  }
  columnsDpi_ = sheet_.dpi();
}

bool COEMPage::OnSetActive() { return logic_->OnSetActive(); }

LRESULT COEMPage::OnNotify(const NMHDR& header) {
  if (header.idFrom != IDC_MODULE_LIST) return 0;
  // The list reads a cell back from the very notification it sent.
  auto* sent = const_cast<NMHDR*>(&header);
  switch (header.code) {
    case LVN_GETDISPINFOA: builderView_.FillCell(*reinterpret_cast<NMLVDISPINFOA*>(sent)); break;
    case LVN_GETDISPINFOW: builderView_.FillCell(*reinterpret_cast<NMLVDISPINFOW*>(sent)); break;
    case LVN_ODFINDITEMA: return builderView_.FindRow(*reinterpret_cast<NMLVFINDITEMA*>(sent));
    case LVN_ODFINDITEMW: return builderView_.FindRow(*reinterpret_cast<NMLVFINDITEMW*>(sent));
    case NM_CUSTOMDRAW: return builderView_.CustomDraw(*reinterpret_cast<NMLVCUSTOMDRAW*>(sent));
    case LVN_COLUMNCLICK:
      logic_->OnColumnClick(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
      break;
    default: break;
  }
  return 0;
}

// The builder closes with Cancel only: Enter in an edit must not close it.
LRESULT COEMPage::OnApply() { return PSNRET_INVALID_NOCHANGEPAGE; }

void COEMPage::AddModule() {
  // The append reads the module and flushes the installer to disk, which
  // takes as long as the disk makes it: it runs beside the window, which
  // keeps answering, and the list is rebuilt here once it is over.
  OemPage::Added added;
  auto append = [this, &added] { added = logic_->AppendTheModule(); };
  sheet_.SetBusy(true);
  RunBesideTheSheet(sheet_.hwnd(), append);
  sheet_.SetBusy(false);
  logic_->ListAfterAdding(added);
}

void COEMPage::OnCommand(int controlId, int code) {
  // One command at a time: nothing starts while an append runs.
  if (sheet_.busy()) return;
  if (controlId == IDC_INSTALLER_NAME) {
    if (code == EN_CHANGE && !view_.changing())
      CarryOut(sheet_.platform(), logic_->OnInstallerNameChange());
    return;
  }
  if (code != BN_CLICKED) return;
  switch (controlId) {
    case IDC_SET_INSTALLER: CarryOut(sheet_.platform(), logic_->OnSetInstaller()); break;
    case IDC_BROWSE_MODULE: logic_->OnBrowseModule(); break;
    case IDC_ADD_MODULE: AddModule(); break;
    case IDC_EXTRACT_MODULE: logic_->OnExtractModule(); break;
    default: break;
  }
}

}  // namespace brelvane::win32
