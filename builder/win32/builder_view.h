// The builder pages' controls on a page window: the page's own view for
// texts, visibility and ticks, and the edits, buttons, module list, combos
// and file dialogs only the builder asks for.
#pragma once

#include <windows.h>

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
  void ClearRows(int listId) override;
  bool InsertRow(int listId, int index, const std::vector<std::string>& cells) override;
  std::vector<int> SelectedRows(int listId) override;
  int SelectedIndex(int comboId) override;
  void SelectIndex(int comboId, int index) override;
  std::optional<std::string> AskOpenFile() override;
  std::optional<std::string> AskSaveFile(const std::string& initialName,
                                         bool promptOverwrite) override;

 private:
  HWND Item(int controlId) const { return page_.Item(controlId); }

  Win32PageView& page_;
};

}  // namespace brelvane::win32
