// Views for the wizard's page logic that remember what the logic asked of
// them: control texts, visibility and ticks, the sheet's pages and its
// Install button, and the order of it all.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/wizard_view.h"

namespace brelvane::testing {

struct RecordedControl {
  std::string text;
  bool visible = true;
  bool checked = false;
};

class RecordingPageView : public PageView {
 public:
  bool SetText(int controlId, const std::string& text) override;
  void Show(int controlId, bool visible) override;
  bool IsChecked(int controlId) override;
  void SetChecked(int controlId, bool checked) override;

  // A control's state as a dialog template starts it.
  void Initialise(int controlId, const std::string& text, bool visible);
  // Makes a text box refuse texts longer than `limit` characters, as an edit
  // control does when the system is short of resources.
  void RefuseTextsLongerThan(int controlId, std::size_t limit);

  // The state of a control (a default one when the logic never touched it).
  const RecordedControl& control(int controlId);
  // "text 1004 Drive ...", "show 1005 0", "check 1002 1", in call order.
  const std::vector<std::string>& events() const { return events_; }

 private:
  std::map<int, RecordedControl> controls_;
  std::map<int, std::size_t> textLimits_;
  std::vector<std::string> events_;
};

// The install page's controls as template 107 creates them.
void InitialiseInstallPage(RecordingPageView& view);

class RecordingSheetView : public SheetView {
 public:
  void ShowInstallButton(bool visible) override;
  void AddPage(PageId page) override;
  void SetActivePage(PageId page) override;

  bool installButtonVisible() const { return installButtonVisible_; }
  const std::vector<PageId>& pages() const { return pages_; }
  std::optional<PageId> activePage() const { return active_; }
  // "button 0", "add Install", "activate Install", in call order.
  const std::vector<std::string>& events() const { return events_; }
  // Runs when a page becomes active, as the real sheet runs its activation.
  std::function<void(PageId)> onActivate;

 private:
  bool installButtonVisible_ = true;
  std::vector<PageId> pages_;
  std::optional<PageId> active_;
  std::vector<std::string> events_;
};

const char* PageName(PageId page);

}  // namespace brelvane::testing
