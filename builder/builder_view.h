// What the builder pages ask of a front-end beyond a wizard page's controls:
// reading edits, enabling buttons, the module list, the attribute combos and
// the file dialogs.  Control ids are those of the "OEM Page" and
// "Predef Modules" dialog templates.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/wizard_view.h"

namespace brelvane {

namespace ids {
// Builder page ("OEM Page").
inline constexpr int kModulePath = 1008;
inline constexpr int kAddModule = 1009;
inline constexpr int kDeleteModule = 1010;
inline constexpr int kExtractModule = 1011;
inline constexpr int kBrowseModule = 1012;
inline constexpr int kSetInstaller = 1013;
inline constexpr int kModuleList = 1015;
inline constexpr int kInstallerName = 1016;
inline constexpr int kModuleToAddLabel = 1034;
// Predefined-modules page ("Predef Modules").
inline constexpr int kKestrinSource = 1017;
inline constexpr int kKestrinBrowse = 1018;
inline constexpr int kKestrinRoot = 1024;
inline constexpr int kKestrinAttributes = 1028;
inline constexpr int kKestrinGroup = 1031;
inline constexpr int kOvinSource = 1009;
inline constexpr int kOvinBrowse = 1013;
inline constexpr int kOvinRoot = 1025;
inline constexpr int kOvinAttributes = 1029;
inline constexpr int kOvinGroup = 1032;
inline constexpr int kPellorSource = 1010;
inline constexpr int kPellorBrowse = 1014;
inline constexpr int kPellorRoot = 1026;
inline constexpr int kPellorAttributes = 1030;
inline constexpr int kPellorGroup = 1033;
inline constexpr int kCombinedSource = 1011;
inline constexpr int kCombinedBrowse = 1015;
inline constexpr int kAddPredefined = 1019;
}  // namespace ids

class BuilderView : public PageView {
 public:
  virtual std::string GetText(int controlId) = 0;
  virtual void Enable(int controlId, bool enabled) = 0;

  // The module list (report view).  Replaces its rows with `rows` (the
  // texts of each row's columns) and clears its selection; gives how many
  // rows, from the first, the list took.
  virtual std::size_t SetRows(int listId, const std::vector<std::vector<std::string>>& rows) = 0;
  // The selected rows in index order.
  virtual std::vector<int> SelectedRows(int listId) = 0;
  // Selects `row` alone and scrolls it into view.
  virtual void SelectRow(int listId, int row) = 0;

  // Combo boxes (their choices come with the dialog's template): the
  // selected index (-1 for none).
  virtual int SelectedIndex(int comboId) = 0;
  virtual void SelectIndex(int comboId, int index) = 0;

  // File dialogs: the chosen full path, or nullopt on Cancel.
  virtual std::optional<std::string> AskOpenFile() = 0;
  virtual std::optional<std::string> AskSaveFile(const std::string& initialName,
                                                 bool promptOverwrite) = 0;
};

}  // namespace brelvane
