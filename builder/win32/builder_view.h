// The builder pages' controls on a page window: the page's own view for
// texts, visibility and ticks, and the edits, buttons, module list, combos
// and file dialogs only the builder asks for.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "builder/builder_view.h"
#include "ui/win32/property_page.h"

namespace brelvane::win32 {

class Win32BuilderView final : public BuilderView {
 public:
  explicit Win32BuilderView(Win32PageView& page) : page_(page) {}

  bool SetText(int controlId, const std::string& text) override {
    return page_.SetText(controlId, text);
  }
  void Show(int controlId, bool visible) override { page_.Show(controlId, visible); }
  bool IsChecked(int controlId) override { return page_.IsChecked(controlId); }
  void SetChecked(int controlId, bool checked) override { page_.SetChecked(controlId, checked); }

  std::string GetText(int controlId) override;
  void Enable(int controlId, bool enabled) override;
  std::size_t SetRows(int listId, const std::vector<std::vector<std::string>>& rows) override;
  std::vector<int> SelectedRows(int listId) override;
  void SelectRow(int listId, int row) override;
  // The module list holds no texts of its own (LVS_OWNERDATA): it asks for
  // each cell it shows, and for the row a typed prefix names.
  void FillCell(NMLVDISPINFOA& request) const;
  void FillCell(NMLVDISPINFOW& request) const;
  int FindRow(const NMLVFINDITEMA& request) const;
  int FindRow(const NMLVFINDITEMW& request) const;
  // A module no install installs is listed in the grey of disabled text,
  // so that the rows that ship stand out.
  LRESULT CustomDraw(NMLVCUSTOMDRAW& draw) const;
  int SelectedIndex(int comboId) override;
  void SelectIndex(int comboId, int index) override;
  std::optional<std::string> AskOpenFile() override;
  std::optional<std::string> AskSaveFile(const std::string& initialName,
                                         bool promptOverwrite) override;

 private:
  HWND Item(int controlId) const { return page_.Item(controlId); }
  // The cell's 8-bit text (the ANSI code page's), empty outside the rows.
  const std::string& Cell(int row, int column) const;
  // The first row from `start` on (wrapping) whose name begins with
  // `prefix`, ignoring letter case; -1 for none.
  int FindRow(const std::string& prefix, int start) const;

  Win32PageView& page_;
  // The builder has one list: the texts of its rows.
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace brelvane::win32
