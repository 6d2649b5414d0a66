#include "builder/win32/predef_page.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "res/resource.h"
#include "ui/win32/color_controls.h"

namespace brelvane::win32 {
namespace {

// The widest of a combo box's choices in its own font.
int WidestChoice(HWND combo) {
  ScopedWindowDc dc(combo);
  ScopedSelection font(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageA(combo, WM_GETFONT, 0, 0)));
  int widest = 0;
  const auto count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
  for (int choice = 0; choice < count; ++choice) {
    const auto length = SendMessageA(combo, CB_GETLBTEXTLEN, choice, 0);
    if (length <= 0) continue;
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(combo, CB_GETLBTEXT, choice, reinterpret_cast<LPARAM>(text.data()));
    SIZE extent = {};
    GetTextExtentPoint32A(dc.get(), text.c_str(), static_cast<int>(length), &extent);
    widest = std::max(widest, static_cast<int>(extent.cx));
  }
  return widest;
}

// Widens a combo box, its position kept, until its field shows every choice
// whole: once the drop button and the edit's margins are taken off, the
// template's width leaves too little for "Normal" and "Hidden".
void FitChoices(HWND combo) {
  COMBOBOXINFO info = {};
  info.cbSize = sizeof info;
  if (!GetComboBoxInfo(combo, &info)) return;
  RECT field = info.rcItem;
  // An editable combo's text shows in its edit's formatting rectangle.
  if (info.hwndItem != nullptr)
    SendMessageA(info.hwndItem, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&field));
  const int missing = WidestChoice(combo) + 1 - (field.right - field.left);
  if (missing <= 0) return;
  // The whole height, the dropped list's included, is what the combo box
  // takes as its height.
  RECT whole = {};
  SendMessageA(combo, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&whole));
  RECT closed = {};
  GetWindowRect(combo, &closed);
  SetWindowPos(combo, nullptr, 0, 0, closed.right - closed.left + missing, whole.bottom - whole.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FitAttributeChoices(HWND page) {
  for (const DriveModelRow& row : kDriveModels) FitChoices(GetDlgItem(page, row.group.attributes));
}

}  // namespace

CPredefModApdPage::CPredefModApdPage(SheetWindow& sheet) : CPageDlg(sheet, IDD_PREDEF_PAGE) {}

BOOL CPredefModApdPage::OnInitDialog() {
  logic_.emplace(sheet_.platform(), sheet_.logic().state(), builderView_);
  FitAttributeChoices(hwnd());
  return TRUE;
}

void CPredefModApdPage::OnDpiChanged() { FitAttributeChoices(hwnd()); }

bool CPredefModApdPage::OnSetActive() {
  CarryOut(sheet_.platform(), logic_->OnSetActive());
  return true;
}

LRESULT CPredefModApdPage::OnApply() { return PSNRET_INVALID_NOCHANGEPAGE; }

void CPredefModApdPage::OnCommand(int controlId, int code) {
  if (view_.changing()) return;
  if (code == BN_CLICKED) {
    for (const DriveModelRow& row : kDriveModels) {
      if (controlId == row.group.browse) return logic_->OnBrowseSource(row.model);
    }
    if (controlId == IDC_COMBINED_BROWSE) return logic_->OnBrowseCombinedSource();
    if (controlId == IDC_ADD_PREDEFINED) return logic_->OnAddPredefinedModules();
    return;
  }
  // A group's caption follows its source and root edits.  Most edits answer
  // their update notification; a root the catalogue marks answers its change
  // notification instead.  Both come at each change of the text.
  for (const DriveModelRow& row : kDriveModels) {
    const BuilderGroup& group = row.group;
    const bool sourceChanged = code == EN_UPDATE && controlId == group.source;
    const bool rootChanged =
        controlId == group.root && code == (group.rootReportsChange ? EN_CHANGE : EN_UPDATE);
    if (sourceChanged || rootChanged) return logic_->UpdateGroupCaption(row.model);
  }
}

}  // namespace brelvane::win32
