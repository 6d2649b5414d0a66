// The wizard's pages and sheet on a terminal: the views remember what the
// page logic set, and the sheet prints a page when asked to.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/wizard_view.h"
#include "common/progress_bar.h"

namespace brelvane::sim {

struct ConsoleControl {
  std::string text;
  bool visible = true;
  bool checked = false;
};

class ConsolePageView : public PageView {
 public:
  bool SetText(int controlId, const std::string& text) override;
  void Show(int controlId, bool visible) override;
  bool IsChecked(int controlId) override;
  void SetChecked(int controlId, bool checked) override;
  // The install run's bar: drawn on stderr, labelled with the file being
  // written, while the page shows it and stderr is a terminal.
  void SetProgress(int controlId, std::uint64_t done, std::uint64_t total) override;

  void Initialise(int controlId, const std::string& text, bool visible);
  const ConsoleControl& control(int controlId) { return controls_[controlId]; }
  // Whether the progress bar reaches the terminal (stderr is one).
  void DrawProgressBar(bool onTerminal) { progressOnTerminal_ = onTerminal; }

 private:
  void DrawProgress();
  std::map<int, ConsoleControl> controls_;
  bool progressOnTerminal_ = false;
  std::uint64_t progressDone_ = 0;
  std::uint64_t progressTotal_ = 0;
  std::optional<ProgressBar> bar_;  // while the bar control is shown
};

class ConsoleSheetView : public SheetView {
 public:
  void ShowInstallButton(bool visible) override { installButtonVisible_ = visible; }
  void AddPage(PageId page) override { pages_.push_back(page); }
  void SetActivePage(PageId page) override;

  bool installButtonVisible() const { return installButtonVisible_; }
  const std::vector<PageId>& pages() const { return pages_; }
  PageId activePage() const { return active_; }
  // The page's activation, run when a page becomes active.
  std::function<void(PageId)> onActivate;

 private:
  bool installButtonVisible_ = true;
  std::vector<PageId> pages_;
  PageId active_ = PageId::Agreement;
};

// The install page's controls as its dialog template creates them.
void InitialiseInstallPage(ConsolePageView& view);

// The tab row of the sheet, the active tab in brackets.
std::string TabRow(const ConsoleSheetView& sheet);
// The install page as the dialog shows it: the visible lines top to bottom,
// the check box when visible, then the sheet's buttons.
void PrintInstallPage(std::ostream& out, ConsoleSheetView& sheet, ConsolePageView& page);

// The text with CR LF line ends turned into the terminal's LF.
std::string TerminalText(const std::string& text);
// Shows a long text through $PAGER (or less) when `out` is a terminal;
// otherwise, or when no pager runs, prints it.
void Page(std::ostream& out, const std::string& text, bool terminal);

}  // namespace brelvane::sim
