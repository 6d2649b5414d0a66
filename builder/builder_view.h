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
#include "res/resource.h"

namespace brelvane {

// The builder pages' control ids, by the names the page logic uses; their
// numbers are res/resource.h's.  Each model's group on the predefined-modules
// page has its ids in the drive models' catalogue.
namespace ids {
// Builder page ("OEM Page").
inline constexpr int kModulePath = IDC_MODULE_PATH;
inline constexpr int kAddModule = IDC_ADD_MODULE;
inline constexpr int kDeleteModule = IDC_DELETE_MODULE;
inline constexpr int kExtractModule = IDC_EXTRACT_MODULE;
inline constexpr int kBrowseModule = IDC_BROWSE_MODULE;
inline constexpr int kSetInstaller = IDC_SET_INSTALLER;
inline constexpr int kModuleList = IDC_MODULE_LIST;
inline constexpr int kInstallerName = IDC_INSTALLER_NAME;
inline constexpr int kModuleToAddLabel = IDC_MODULE_TO_ADD_LABEL;
// Predefined-modules page ("Predef Modules").
inline constexpr int kCombinedSource = IDC_COMBINED_SOURCE;
inline constexpr int kCombinedBrowse = IDC_COMBINED_BROWSE;
inline constexpr int kAddPredefined = IDC_ADD_PREDEFINED;
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
