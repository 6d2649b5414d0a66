#include "builder/win32/builder_view.h"

#include <commctrl.h>
#include <commdlg.h>

#include <array>
#include <cwchar>

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

void Win32BuilderView::ClearRows(int listId) {
  SendMessageA(Item(listId), LVM_DELETEALLITEMS, 0, 0);
}

bool Win32BuilderView::InsertRow(int listId, int index, const std::vector<std::string>& cells) {
  HWND list = Item(listId);
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.iItem = index;
  item.pszText = const_cast<char*>(cells.empty() ? "" : cells[0].c_str());
  int row =
      static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  if (row < 0) return false;
  for (std::size_t column = 1; column < cells.size(); ++column) {
    LVITEMA cell = {};
    cell.iSubItem = static_cast<int>(column);
    cell.pszText = const_cast<char*>(cells[column].c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&cell));
  }
  return true;
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
