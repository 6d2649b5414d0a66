// The builder's module list: one row per module of an installer, newest
// first, with the texts its six columns show.  Free of any user interface,
// so the Win32 page and the command line show the same rows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "package/package.h"

namespace brelvane {

struct ModuleRow {
  std::string name;             // column 0: the file name
  std::string predefined;       // column 1: "Yes-KESTRIN" and the like, or empty
  std::string size;             // column 2: the content size as "%d"
  std::string extractTo;        // column 3: "Root\..." or "User Defined..."
  std::string attributes;       // column 4: "Normal, Read Only, Hidden" and the like
  std::string installs;         // column 5: "Ovin drives", or "never (carried only)"
  const char* model = nullptr;  // "kestrin", "ovin", "pellor", "kestrin+ovin" or none
  bool isPredefined = false;
  bool checked = false;  // the record carries a content check
  // The drive model whose install installs it ("Ovin"); none when no
  // install ever does (a user-defined module, the Kestrin and Ovin set):
  // the installer only carries it.
  const char* installedOn = nullptr;
};

// The model an install of which installs the module, or none.
const char* InstalledOnModel(const ModuleRecord& record);
// "Ovin drives", or kCarriedOnly where no install installs it.
inline constexpr char kCarriedOnly[] = "never (carried only)";
std::string InstalledColumnText(const ModuleRecord& record);

// Column texts.
std::string PredefinedColumnText(const ModuleRecord& record);
std::string ExtractToColumnText(const ModuleRecord& record);
std::string AttributesColumnText(std::uint32_t attributes);
// The drive model a predefined marker names, for machine-readable output.
const char* ModelNameOfMarker(const std::string& marker);

ModuleRow MakeModuleRow(const ModuleRecord& record);
// The order in which to show `rows` sorted by one of the list's columns:
// sizes by the number shown, every other column by its text ignoring letter
// case.  Rows that compare equal keep their order (newest first) either way.
std::vector<std::size_t> SortedOrder(const std::vector<ModuleRow>& rows, int column,
                                     bool descending);
// The rows of a walk (with whether each module is checked), newest first; a walk that stopped early
// gives the rows read before it stopped.
std::vector<ModuleRow> ModuleRows(const WalkResult& walk);

// Words for an installer the builder takes only as it is.
// Why a walk stopped before the image, in words; empty when it did not.
std::string WalkProblem(const WalkResult& walk);
// "INSTALLER: N stray byte(s) follow ..." for the stray bytes a walk found,
// with `tail` after the advice to repair.
std::string StrayBytesLine(const std::string& installer, const WalkResult& walk,
                           const std::string& tail);
// A signed installer is never extended: a byte behind its certificate table
// breaks the signature.  `tableSize` 0 leaves the table's size out.
std::string SignedLine(const std::string& installer, std::int64_t tableSize);

}  // namespace brelvane
