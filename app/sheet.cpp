#include "app/sheet.h"

#include "common/error_text.h"
#include "common/messages.h"
#include "discovery/discovery.h"

namespace brelvane {

bool WantsSidePicture(ModelPresence presence) {
  const DriveModelRow* row = RowOf(presence.Single());
  return row != nullptr && row->sidePicture;
}

Sheet::Sheet(const Platform& platform, SheetView& view) : platform_(platform), view_(view) {}

PageEnding Sheet::Open() {
  if (PageEnding ending = SetOwnPackagePath(platform_, state_)) return ending;
  state_.recordSize = kRecordSize;
  AddPage(PageId::Agreement);
  return std::nullopt;
}

PageEnding Sheet::OnCreate() {
  state_.modelPresence = DetectSupportedModels(platform_, IsNtPlatform(platform_.system));
  // Two models at once: the install run could not tell which set to write.
  if (HasSeveralModels(state_.modelPresence))
    return Ending{PlainNoticeMessage(platform_, kMoreThanOneModel), 0};
  return std::nullopt;
}

void Sheet::ShowInstallButton(bool visible) { view_.ShowInstallButton(visible); }

bool Sheet::AddInstallPage(bool activate) {
  if (installPageAdded_) return false;
  AddPage(PageId::Install);
  installPageAdded_ = true;
  if (activate) view_.SetActivePage(PageId::Install);
  return true;
}

void Sheet::AddPage(PageId page) {
  pages_.push_back(page);
  view_.AddPage(page);
}

}  // namespace brelvane
