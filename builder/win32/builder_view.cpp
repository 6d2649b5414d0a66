#include "builder/win32/builder_view.h"

#include <commctrl.h>
#include <commdlg.h>

#include <array>
#include <cwchar>

#include "builder/module_list.h"
#include "builder/oem_page.h"
#include "platform/win32/win32_text.h"

namespace brelvane::win32 {

std::string Win32BuilderView::GetText(int controlId) {
  HWND control = Item(controlId);
  int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  int copied = GetWindowTextW(control, text.data(), length + 1);
  return win32text::Narrow(text.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

void Win32BuilderView::Enable(int controlId, bool enabled) {
  EnableWindow(Item(controlId), enabled);
}

std::size_t Win32BuilderView::SetRows(int listId,
                                      const std::vector<std::vector<std::string>>& rows) {
  HWND list = Item(listId);
  // A selection is kept by row number: it would stay on whatever module
  // comes to that row.
  LVITEMA none = {};
  none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
  // Setting the count costs as much as all the rest (the list lays out its
  // scroll bar anew): rows sorted anew keep theirs.
  const bool sameCount = rows.size() == rows_.size();
  rows_ = rows;
  if (!sameCount && !SendMessageA(list, LVM_SETITEMCOUNT, rows_.size(), 0)) rows_.clear();
  if (!rows_.empty()) SendMessageA(list, LVM_ENSUREVISIBLE, 0, FALSE);
  InvalidateRect(list, nullptr, TRUE);
  return rows_.size();
}

std::vector<int> Win32BuilderView::SelectedRows(int listId) {
  std::vector<int> rows;
  HWND list = Item(listId);
  int row = -1;
  while ((row = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0) {
    rows.push_back(row);
  }
  return rows;
}

void Win32BuilderView::SelectRow(int listId, int row) {
  HWND list = Item(listId);
  LVITEMA item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
  SendMessageA(list, LVM_ENSUREVISIBLE, row, FALSE);
}

const std::string& Win32BuilderView::Cell(int row, int column) const {
  static const std::string kNone;
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return kNone;
  const std::vector<std::string>& cells = rows_[static_cast<std::size_t>(row)];
  if (column < 0 || static_cast<std::size_t>(column) >= cells.size()) return kNone;
  return cells[static_cast<std::size_t>(column)];
}

void Win32BuilderView::FillCell(NMLVDISPINFOA& request) const {
  LVITEMA& item = request.item;
  if ((item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr || item.cchTextMax <= 0) return;
  lstrcpynA(item.pszText, Cell(item.iItem, item.iSubItem).c_str(), item.cchTextMax);
}

void Win32BuilderView::FillCell(NMLVDISPINFOW& request) const {
  LVITEMW& item = request.item;
  if ((item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr || item.cchTextMax <= 0) return;
  // The texts are in the ANSI code page, as the list's A messages take them.
  const std::string& cell = Cell(item.iItem, item.iSubItem);
  std::wstring wide(cell.size() + 1, L'\0');
  const int length = MultiByteToWideChar(CP_ACP, 0, cell.c_str(), static_cast<int>(cell.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  lstrcpynW(item.pszText, wide.c_str(), item.cchTextMax);
}

LRESULT Win32BuilderView::CustomDraw(NMLVCUSTOMDRAW& draw) const {
  if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
  if (draw.nmcd.dwDrawStage != CDDS_ITEMPREPAINT) return CDRF_DODEFAULT;
  const auto row = static_cast<int>(draw.nmcd.dwItemSpec);
  if (Cell(row, kInstalledOnColumn) == kCarriedOnly) draw.clrText = GetSysColor(COLOR_GRAYTEXT);
  return CDRF_DODEFAULT;
}

int Win32BuilderView::FindRow(const std::string& prefix, int start) const {
  const auto count = static_cast<int>(rows_.size());
  for (int step = 0; step < count; ++step) {
    const int row = ((start < 0 ? 0 : start) + step) % count;
    const std::string& name = Cell(row, 0);
    if (name.size() >= prefix.size() &&
        CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, name.c_str(),
                       static_cast<int>(prefix.size()), prefix.c_str(),
                       static_cast<int>(prefix.size())) == CSTR_EQUAL) {
      return row;
    }
  }
  return -1;
}

int Win32BuilderView::FindRow(const NMLVFINDITEMA& request) const {
  if ((request.lvfi.flags & LVFI_STRING) == 0 || request.lvfi.psz == nullptr) return -1;
  return FindRow(request.lvfi.psz, request.iStart);
}

int Win32BuilderView::FindRow(const NMLVFINDITEMW& request) const {
  if ((request.lvfi.flags & LVFI_STRING) == 0 || request.lvfi.psz == nullptr) return -1;
  const int size =
      WideCharToMultiByte(CP_ACP, 0, request.lvfi.psz, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return -1;
  std::string prefix(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, request.lvfi.psz, -1, prefix.data(), size, nullptr, nullptr);
  prefix.resize(static_cast<std::size_t>(size - 1));
  return FindRow(prefix, request.iStart);
}

int Win32BuilderView::SelectedIndex(int comboId) {
  LRESULT index = SendMessageA(Item(comboId), CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

void Win32BuilderView::SelectIndex(int comboId, int index) {
  Win32PageView::Changing guard(page_);
  SendMessageA(Item(comboId), CB_SETCURSEL, index, 0);
}

namespace {

std::optional<std::string> RunFileDialog(HWND owner, const std::string& initialName, DWORD flags,
                                         bool save) {
  std::array<wchar_t, MAX_PATH + 1> path = {};
  win32text::Widen(initialName).copy(path.data(), path.size() - 1);
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.Flags = flags | OFN_EXPLORER;
  BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
  if (!chosen) return std::nullopt;
  return win32text::Narrow(path.data(), std::wcslen(path.data()));
}

}  // namespace

std::optional<std::string> Win32BuilderView::AskOpenFile() {
  return RunFileDialog(page_.page(), "", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, false);
}

std::optional<std::string> Win32BuilderView::AskSaveFile(const std::string& initialName,
                                                         bool promptOverwrite) {
  DWORD flags = OFN_HIDEREADONLY | (promptOverwrite ? OFN_OVERWRITEPROMPT : 0);
  return RunFileDialog(page_.page(), initialName, flags, true);
}

}  // namespace brelvane::win32
