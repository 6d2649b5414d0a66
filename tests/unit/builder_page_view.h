// A builder view for tests: remembers texts, visibility, enabled states,
// list rows and combo selections, and answers file dialogs from a script.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "builder/builder_view.h"

namespace brelvane::testing {

class FakeBuilderView : public BuilderView {
 public:
  bool SetText(int id, const std::string& text) override {
    texts[id] = text;
    return true;
  }
  void Show(int id, bool visible) override { shown[id] = visible; }
  bool IsChecked(int id) override { return checked[id]; }
  void SetChecked(int id, bool value) override { checked[id] = value; }
  std::string GetText(int id) override { return texts[id]; }
  void Enable(int id, bool enabled) override { this->enabled[id] = enabled; }
  std::size_t SetRows(int, const std::vector<std::vector<std::string>>& cells) override {
    rows = refuseRows ? std::vector<std::vector<std::string>>{} : cells;
    selected.clear();
    return rows.size();
  }
  std::vector<int> SelectedRows(int) override { return selected; }
  void SelectRow(int, int row) override { selected = {row}; }
  int SelectedIndex(int id) override {
    auto found = selection.find(id);
    return found == selection.end() ? -1 : found->second;
  }
  void SelectIndex(int id, int index) override { selection[id] = index; }
  std::optional<std::string> AskOpenFile() override { return NextFile(false); }
  std::optional<std::string> AskSaveFile(const std::string& initial,
                                         bool promptOverwrite) override {
    saveInitialNames.push_back(initial);
    saveOverwritePrompts.push_back(promptOverwrite);
    return NextFile(true);
  }

  // Row texts of one column, top to bottom.
  std::vector<std::string> Column(std::size_t column) const {
    std::vector<std::string> cells;
    for (const auto& row : rows) cells.push_back(row.at(column));
    return cells;
  }

  std::map<int, std::string> texts;
  std::map<int, bool> shown;
  std::map<int, bool> checked;
  std::map<int, bool> enabled;
  std::map<int, int> selection;
  std::vector<std::vector<std::string>> rows;
  std::vector<int> selected;
  bool refuseRows = false;
  // Answers of the file dialogs in order; nullopt is Cancel.
  std::deque<std::optional<std::string>> fileAnswers;
  std::vector<std::string> saveInitialNames;
  std::vector<bool> saveOverwritePrompts;

 private:
  std::optional<std::string> NextFile(bool) {
    if (fileAnswers.empty()) return std::nullopt;
    std::optional<std::string> answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }
};

}  // namespace brelvane::testing
