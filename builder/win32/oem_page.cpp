#include "builder/win32/oem_page.h"

#include <commctrl.h>

#include <iterator>

#include "res/resource.h"
#include "ui/win32/color_controls.h"

namespace brelvane::win32 {

COEMPage::COEMPage(SheetWindow& sheet) : CPageDlg(sheet, IDD_OEM_PAGE) {}

void COEMPage::InsertColumns() {
  // Widths count average characters of a fresh device context of the page.
  TEXTMETRICA metrics = {};
  GetTextMetricsA(ScopedWindowDc(hwnd()).get(), &metrics);
  columnsDpi_ = sheet_.dpi();
  HWND list = GetDlgItem(hwnd(), IDC_MODULE_LIST);
  int index = 0;
  for (const ListColumn& column : kModuleListColumns) {
    LVCOLUMNA entry = {};
    entry.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    entry.fmt = column.centred ? LVCFMT_CENTER : LVCFMT_LEFT;
    entry.cx = column.widthInChars * metrics.tmAveCharWidth;
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

// The builder closes with Cancel only: Enter in an edit must not close it.
LRESULT COEMPage::OnApply() { return PSNRET_INVALID_NOCHANGEPAGE; }

void COEMPage::OnCommand(int controlId, int code) {
  if (controlId == IDC_INSTALLER_NAME) {
    if (code == EN_CHANGE && !view_.changing())
      CarryOut(sheet_.platform(), logic_->OnInstallerNameChange());
    return;
  }
  if (code != BN_CLICKED) return;
  switch (controlId) {
    case IDC_SET_INSTALLER: CarryOut(sheet_.platform(), logic_->OnSetInstaller()); break;
    case IDC_BROWSE_MODULE: logic_->OnBrowseModule(); break;
    case IDC_ADD_MODULE: logic_->OnAddModule(); break;
    case IDC_EXTRACT_MODULE: logic_->OnExtractModule(); break;
    default: break;
  }
}

}  // namespace brelvane::win32
