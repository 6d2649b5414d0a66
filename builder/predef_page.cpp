#include "builder/predef_page.h"

#include <iterator>
#include <optional>
#include <vector>

#include "builder/oem_page.h"
#include "builder/predefined_modules.h"
#include "common/messages.h"
#include "common/path_text.h"

namespace brelvane {
namespace {

// The group of a model's row; every caller names a model that has one.
const BuilderGroup& GroupOf(DriveModel model) { return RowOf(model)->group; }

}  // namespace

std::string GroupCaption(const std::string& heading, int nameLength, int rootLength) {
  int total = nameLength + rootLength;
  if (total == 0) return heading;
  bool over = total > kNameAndRootLimit;
  const char* format = nullptr;
  if (nameLength == 0) {
    format =
        over ? "%s - %d/%d - OVERLIMIT - File Name Missing!" : "%s - %d/%d - File Name Missing!";
  } else {
    format = over ? "%s - %d/%d - OVERLIMIT!" : "%s - %d/%d";
  }
  return Format(format, heading.c_str(), total, kNameAndRootLimit);
}

PageEnding PredefPage::OnSetActive() {
  const std::optional<std::string> own = platform_.system.OwnExecutablePath();
  if (!own) return Ending{NoticeMessage(platform_, kRunFromDesktopPlease), 0};
  bool readable = false;
  if (!platform_.system.SamePathIgnoringCase(state_.packagePath, *own)) {
    ScopedFile probe(platform_.files, platform_.files.OpenReadExclusive(state_.packagePath));
    readable = probe.valid();
  }
  view_.Enable(ids::kAddPredefined, readable);
  for (const DriveModelRow& row : kDriveModels) view_.SelectIndex(row.group.attributes, 0);
  return std::nullopt;
}

void PredefPage::UpdateGroupCaption(DriveModel model) {
  const BuilderGroup& controls = GroupOf(model);
  std::string name = RemoveBlanks(FindFileName(view_.GetText(controls.source)));
  std::string root = RemoveBlanks(view_.GetText(controls.root));
  // Counted as the record will hold them: bytes of the ANSI code page.
  auto stored = [this](const std::string& text) {
    const std::optional<std::string> ansi = platform_.system.ToAnsi(text);
    return static_cast<int>(ansi ? ansi->size() : text.size());
  };
  view_.SetText(controls.caption, GroupCaption(controls.heading, stored(name), stored(root)));
}

void PredefPage::OnBrowseSource(DriveModel model) {
  if (std::optional<std::string> chosen = view_.AskOpenFile()) {
    view_.SetText(GroupOf(model).source, *chosen);
    UpdateGroupCaption(model);
  }
}

void PredefPage::OnBrowseCombinedSource() {
  if (std::optional<std::string> chosen = view_.AskOpenFile()) {
    view_.SetText(ids::kCombinedSource, *chosen);
  }
}

void PredefPage::OnAddPredefinedModules() {
  PredefinedRequest request;
  for (std::size_t i = 0; i < kModelCount; ++i) {
    const BuilderGroup& controls = kDriveModels[i].group;
    request.groups[i] =
        PredefinedGroup{view_.GetText(controls.source), view_.GetText(controls.root),
                        view_.SelectedIndex(controls.attributes)};
  }
  request.combinedSource = view_.GetText(ids::kCombinedSource);
  PredefinedAddResult outcome;
  bool ok = AddPredefinedModules(platform_, state_.packagePath, request, &outcome);
  if (!outcome.brokenRule.empty()) {
    std::string name = outcome.failedSource;
    FileNameFromPath(platform_.system, name);
    ShowError(platform_, Format(kRefusedModuleFormat, name.c_str(), outcome.brokenRule.c_str()));
    return;
  }
  if (!ok && outcome.appended == 0 &&
      ShowInstallerRefusal(platform_, state_.packagePath, outcome.append)) {
    return;
  }
  ShowNotice(platform_, ok ? kAddSucceeded : kAddFailed);
}

}  // namespace brelvane
