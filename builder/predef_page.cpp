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

struct GroupControls {
  int source;
  int root;
  int attributes;
  int caption;
  const char* heading;
};

GroupControls ControlsOf(PredefGroup group) {
  switch (group) {
    case PredefGroup::Kestrin:
      return {ids::kKestrinSource, ids::kKestrinRoot, ids::kKestrinAttributes, ids::kKestrinGroup,
              "Mivora Kestrin Files"};
    case PredefGroup::Ovin:
      return {ids::kOvinSource, ids::kOvinRoot, ids::kOvinAttributes, ids::kOvinGroup,
              "Mivora Ovin Files"};
    case PredefGroup::Pellor: break;
  }
  return {ids::kPellorSource, ids::kPellorRoot, ids::kPellorAttributes, ids::kPellorGroup,
          "Mivora Pellor Files"};
}

constexpr PredefGroup kGroups[] = {PredefGroup::Kestrin, PredefGroup::Ovin, PredefGroup::Pellor};

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
  for (PredefGroup group : kGroups) view_.SelectIndex(ControlsOf(group).attributes, 0);
  return std::nullopt;
}

void PredefPage::UpdateGroupCaption(PredefGroup group) {
  GroupControls controls = ControlsOf(group);
  std::string name = RemoveBlanks(FindFileName(view_.GetText(controls.source)));
  std::string root = RemoveBlanks(view_.GetText(controls.root));
  // Counted as the record will hold them: bytes of the ANSI code page.
  auto stored = [this](const std::string& text) {
    const std::optional<std::string> ansi = platform_.system.ToAnsi(text);
    return static_cast<int>(ansi ? ansi->size() : text.size());
  };
  view_.SetText(controls.caption, GroupCaption(controls.heading, stored(name), stored(root)));
}

void PredefPage::OnBrowseSource(PredefGroup group) {
  if (std::optional<std::string> chosen = view_.AskOpenFile()) {
    view_.SetText(ControlsOf(group).source, *chosen);
    UpdateGroupCaption(group);
  }
}

void PredefPage::OnBrowseCombinedSource() {
  if (std::optional<std::string> chosen = view_.AskOpenFile()) {
    view_.SetText(ids::kCombinedSource, *chosen);
  }
}

void PredefPage::OnAddPredefinedModules() {
  auto groupOf = [this](PredefGroup group) {
    GroupControls controls = ControlsOf(group);
    return PredefinedGroup{view_.GetText(controls.source), view_.GetText(controls.root),
                           view_.SelectedIndex(controls.attributes)};
  };
  PredefinedRequest request{groupOf(PredefGroup::Kestrin), groupOf(PredefGroup::Ovin),
                            groupOf(PredefGroup::Pellor), view_.GetText(ids::kCombinedSource)};
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
