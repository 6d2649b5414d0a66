#include "app/sheet.h"

#include "common/error_text.h"
#include "common/messages.h"
#include "discovery/discovery.h"

namespace brelvane {

bool WantsSidePicture(ModelPresence presence) {
  return presence == ModelPresence::Kestrin || presence == ModelPresence::Ovin;
}

Sheet::Sheet(const Platform& platform, SheetView& view) : platform_(platform), view_(view) {
  SetOwnPackagePath(platform_, state_);
  state_.recordSize = kRecordSize;
  AddPage(PageId::Agreement);
}

bool Sheet::OnCreate() {
  state_.modelPresence = DetectSupportedModels(platform_, IsNtPlatform(platform_.system));
  if (HasSeveralModels(state_.modelPresence)) {
    // Two models at once: the install run could not tell which set to write.
    ShowPlainNotice(platform_, kMoreThanOneModel);
    platform_.system.ExitProcess(0);
  }
  return WantsSidePicture(state_.modelPresence);
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
