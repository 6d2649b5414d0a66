#include "builder/oem_page.h"

#include <cctype>
#include <numeric>

#include "builder/extract_rule.h"
#include "builder/module_list.h"
#include "common/error_text.h"
#include "common/fs_helpers.h"
#include "common/messages.h"
#include "package/append_journal.h"
#include "package/package_guard.h"

namespace brelvane {

bool ShowInstallerRefusal(const Platform& platform, const std::string& installer,
                          AppendResult result) {
  switch (result) {
    case AppendResult::Signed:
      ShowError(platform, Format(kSignedInstaller, installer.c_str()));
      return true;
    case AppendResult::StrayBytes:
      ShowError(platform, Format(kStrayBytesInstaller, installer.c_str()));
      return true;
    case AppendResult::NotAJournal:
      ShowError(platform, Format(kNotAJournal, JournalPath(installer).c_str()));
      return true;
    case AppendResult::SameDestination:
      ShowError(platform, Format(kSameDestinationInstaller, installer.c_str()));
      return true;
    case AppendResult::Appended:
    case AppendResult::Failed: break;
  }
  return false;
}

Ending OemPage::OwnPathMissing() const {
  return Ending{NoticeMessage(platform_, kRunFromDesktop), 0};
}

bool OemPage::CanOpenForReading(const std::string& path) {
  // The NT family can refuse others' sharing; the 9x family has only the
  // runtime's plain open.
  FileHandle file = IsNtPlatform(platform_.system) ? platform_.files.OpenReadExclusive(path)
                                                   : platform_.files.OpenRead(path);
  ScopedFile closer(platform_.files, file);
  return closer.valid();
}

void OemPage::ClearList() {
  loaded_.clear();
  ShowRows();
}

void OemPage::ShowRows() {
  std::vector<ModuleRow> rows;
  rows.reserve(loaded_.size());
  for (const WalkedModule& module : loaded_) rows.push_back(MakeModuleRow(module.record));
  std::vector<std::size_t> order(rows.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  if (sortColumn_ >= 0) order = SortedOrder(rows, sortColumn_, descending_);
  std::vector<std::vector<std::string>> cells;
  cells.reserve(order.size());
  for (std::size_t index : order) {
    const ModuleRow& row = rows[index];
    cells.push_back(
        {row.name, row.predefined, row.size, row.extractTo, row.attributes, row.installs});
  }
  const std::size_t taken = view_.SetRows(ids::kModuleList, cells);
  listed_.clear();
  for (std::size_t row = 0; row < taken && row < order.size(); ++row)
    listed_.push_back(loaded_[order[row]]);
}

PageEnding OemPage::OnInitDialog(bool moduleCommands) {
  view_.SetText(ids::kInstallerName, state_.packagePath);
  if (PageEnding ending = OnInstallerNameChange()) return ending;
  for (int id : {ids::kModulePath, ids::kBrowseModule, ids::kAddModule, ids::kExtractModule,
                 ids::kModuleToAddLabel}) {
    view_.Show(id, moduleCommands);
  }
  view_.Show(ids::kDeleteModule, false);
  return std::nullopt;
}

bool OemPage::OnSetActive() {
  std::string name = view_.GetText(ids::kInstallerName);
  ScopedFile probe(platform_.files, platform_.files.OpenReadExclusive(name));
  if (probe.valid()) {
    probe.Reset();
    LoadModuleList(state_.packagePath);
  }
  return true;
}

void OemPage::LoadModuleList(const std::string& path) {
  {
    ScopedFile probe(platform_.files, platform_.files.OpenReadExclusive(path));
    if (!probe.valid()) {
      std::string error = GetLastErrorText(platform_.system);
      ClearList();
      ShowNotice(platform_, Format(kCantGetFileSize, path.c_str(), error.c_str()));
      return;
    }
  }
  WalkResult walk = WalkModules(platform_, PackageRef{path, state_.recordSize});
  // A module record whose content would begin before the file's start is
  // still shown, as the walk's last row; it cannot be extracted.
  loaded_ = std::move(walk.modules);
  if (walk.recordBeforeStart)
    loaded_.push_back(WalkedModule{*walk.recordBeforeStart, -1, std::nullopt});
  ShowRows();
  if (walk.end == WalkEnd::DamagedRecord) {
    ShowNotice(platform_,
               Format(kDamagedRecordFormat, path.c_str(), std::to_string(walk.stopOffset).c_str()));
  }
}

PageEnding OemPage::OnInstallerNameChange() {
  const std::optional<std::string> own = platform_.system.OwnExecutablePath();
  if (!own) return OwnPathMissing();
  state_.packagePath = view_.GetText(ids::kInstallerName);
  if (!platform_.system.SamePathIgnoringCase(state_.packagePath, *own)) {
    if (CanOpenForReading(state_.packagePath)) {
      LoadModuleList(state_.packagePath);
      view_.Enable(ids::kAddModule, true);
      view_.Enable(ids::kExtractModule, true);
    } else {
      view_.Enable(ids::kAddModule, false);
      view_.Enable(ids::kExtractModule, false);
      ClearList();
    }
    return std::nullopt;
  }
  // The running program itself: it is never appended to while it runs.
  ClearList();
  view_.Enable(ids::kAddModule, false);
  view_.Enable(ids::kExtractModule, CanOpenForReading(*own));
  return std::nullopt;
}

PageEnding OemPage::OnSetInstaller() {
  const std::optional<std::string> own = platform_.system.OwnExecutablePath();
  if (!own) return OwnPathMissing();
  std::optional<std::string> chosen = view_.AskSaveFile(*own, false);
  if (!chosen) return std::nullopt;
  state_.packagePath = *chosen;
  view_.SetText(ids::kInstallerName, *chosen);
  if (PageEnding ending = OnInstallerNameChange()) return ending;
  LoadModuleList(state_.packagePath);
  return std::nullopt;
}

void OemPage::OnBrowseModule() {
  if (std::optional<std::string> chosen = view_.AskOpenFile()) {
    view_.SetText(ids::kModulePath, *chosen);
  }
}

void OemPage::OnAddModule() { ListAfterAdding(AppendTheModule()); }

bool OemPage::HoldsTwinOf(const std::string& installer, const ModuleRecord& record) {
  const WalkResult walk = WalkModules(platform_, PackageRef{installer, state_.recordSize});
  System& system = platform_.system;
  for (const WalkedModule& module : walk.modules) {
    if (module.record.marker == record.marker &&
        system.SamePathIgnoringCase(system.FromAnsi(module.record.fileName),
                                    system.FromAnsi(record.fileName)) &&
        system.SamePathIgnoringCase(system.FromAnsi(module.record.extractDir),
                                    system.FromAnsi(record.extractDir))) {
      return true;
    }
  }
  return false;
}

OemPage::Added OemPage::AppendTheModule() {
  std::string modulePath = view_.GetText(ids::kModulePath);
  Added added{view_.GetText(ids::kInstallerName)};
  if (auto problem = ModuleSourceProblem(platform_.system, modulePath, "")) {
    std::string name = modulePath;
    FileNameFromPath(platform_.system, name);
    ShowError(platform_, Format(kRefusedModuleFormat, name.c_str(), problem->c_str()));
    return added;
  }
  ModuleRecord record;
  if (!BuildModuleRecord(platform_, modulePath, record, "", std::nullopt, state_.recordSize)) {
    return added;
  }
  if (HoldsTwinOf(added.installer, record) &&
      !AskYesNo(platform_, Format(kTwinModuleFormat, added.installer.c_str(),
                                  platform_.system.FromAnsi(record.fileName).c_str()))) {
    return added;
  }
  const AppendResult result = AppendModule(platform_, modulePath, added.installer, record);
  added.appended = result == AppendResult::Appended;
  ShowInstallerRefusal(platform_, added.installer, result);
  return added;
}

void OemPage::ListAfterAdding(const Added& added) {
  LoadModuleList(added.installer);
  if (!added.appended || loaded_.empty()) return;
  // The walk lists the newest module first: find the row it is shown in.
  for (std::size_t row = 0; row < listed_.size(); ++row) {
    if (listed_[row].contentOffset == loaded_.front().contentOffset) {
      view_.SelectRow(ids::kModuleList, static_cast<int>(row));
      return;
    }
  }
}

namespace {

// A module is known by its place in the package, its name and its size.
bool SameModule(const WalkedModule& a, const WalkedModule& b) {
  return a.contentOffset == b.contentOffset && a.record.fileName == b.record.fileName &&
         a.record.contentSize == b.record.contentSize;
}

}  // namespace

std::optional<WalkedModule> OemPage::ModuleOfRow(int row) {
  if (row < 0 || static_cast<std::size_t>(row) >= listed_.size()) return std::nullopt;
  const WalkedModule& wanted = listed_[static_cast<std::size_t>(row)];
  // The package may have grown since it was listed; older modules keep
  // their offsets, so the offset still names the listed module.
  WalkResult walk = WalkModules(platform_, state_.package());
  for (const WalkedModule& module : walk.modules) {
    if (SameModule(module, wanted)) return module;
  }
  return std::nullopt;
}

bool OemPage::ExtractRow(int row) {
  if (row < 0 || static_cast<std::size_t>(row) >= listed_.size()) return true;
  const WalkedModule& listed = listed_[static_cast<std::size_t>(row)];
  // The record's 8-bit name, read as the ANSI calls read it.
  std::string name = platform_.system.FromAnsi(listed.record.fileName);
  // Refused before the user is asked anything: no dialog, no question, no
  // deletion for a module that cannot be read.
  if (IsBeyondReach(listed)) {
    ShowError(platform_, Format(kModuleBeyondReach, name.c_str()));
    return true;
  }
  std::optional<std::string> target = view_.AskSaveFile(name, true);
  if (!target) return true;
  std::optional<WalkedModule> module = ModuleOfRow(row);
  if (!module) {
    ShowNotice(platform_, kUnableToExtract);
    return true;
  }
  const ExtractTarget there = CheckExtractTarget(platform_, state_.package().path, *target);
  bool replace = false;
  switch (there.state) {
    case ExtractTarget::State::IsInstaller:
      ShowNotice(platform_, Format(kTargetIsInstaller, target->c_str()));
      return false;
    case ExtractTarget::State::LinkOnTheWay:
      if (there.links.found == LinkSearch::Found::Link) {
        ShowError(platform_, Format(kLinkOnTheWay, there.links.at.c_str()));
      } else {
        ShowNotice(platform_, kUnableToExtract);
      }
      return false;
    case ExtractTarget::State::Exists:
      if (!AskYesNoOwned(platform_, kBuilderOverwriteCaption,
                         Format(kOverwriteQuestion, target->c_str()))) {
        return false;
      }
      replace = true;
      break;
    // A folder, or a file another program holds open, is not offered for
    // replacing: the extraction fails and says so.
    case ExtractTarget::State::IsFolder:
    case ExtractTarget::State::InUse:
    case ExtractTarget::State::NotAFile:
    case ExtractTarget::State::Free: break;
  }
  ExtractReport report;
  const bool extracted =
      ExtractToTarget(platform_, state_.package(), *module, *target, replace, {}, &report);
  ShowExtractProblem(report, *target);
  ShowNotice(platform_, extracted ? kExtractedOk : kUnableToExtract);
  return true;
}

void OemPage::ShowExtractProblem(const ExtractReport& report, const std::string& target) {
  if (report.result == ExtractResult::NoRoom) {
    ShowError(platform_, Format(kNoRoomToExtract, target.c_str(),
                                SizeInUnits(report.bytesNeeded, true).c_str(),
                                SizeInUnits(report.bytesFree).c_str()));
  } else if (report.result == ExtractResult::LinkInTheWay &&
             report.links.found == LinkSearch::Found::Link) {
    ShowError(platform_, Format(kLinkOnTheWay, report.links.at.c_str()));
  }
}

void OemPage::OnColumnClick(int column) {
  std::optional<WalkedModule> selected;
  const std::vector<int> rows = view_.SelectedRows(ids::kModuleList);
  if (!rows.empty() && rows.front() >= 0 && static_cast<std::size_t>(rows.front()) < listed_.size())
    selected = listed_[static_cast<std::size_t>(rows.front())];
  descending_ = column == sortColumn_ && !descending_;
  sortColumn_ = column;
  ShowRows();
  for (std::size_t row = 0; selected && row < listed_.size(); ++row) {
    if (SameModule(listed_[row], *selected))
      view_.SelectRow(ids::kModuleList, static_cast<int>(row));
  }
}

void OemPage::OnExtractModule() {
  std::vector<int> selected = view_.SelectedRows(ids::kModuleList);
  if (selected.empty()) {
    ShowError(platform_, kNothingToExtract);
    return;
  }
  for (int row : selected) {
    if (!ExtractRow(row)) return;
  }
}

}  // namespace brelvane
