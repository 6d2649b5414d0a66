#include "console_views.h"

#include <cstdio>
#include <cstdlib>

#include "app/sheet.h"
#include "install/install_page.h"

namespace brelvane::sim {

namespace {

// The bar's label: the file name of the destination path the page shows.
std::string ProgressLabel(const std::string& path) {
  return "installing " + path.substr(path.find_last_of('\\') + 1);
}

}  // namespace

bool ConsolePageView::SetText(int controlId, const std::string& text) {
  controls_[controlId].text = text;
  if (controlId == ids::kProgressFile) {
    if (bar_) bar_->SetLabel(ProgressLabel(text));
    DrawProgress();
  }
  return true;
}

void ConsolePageView::Show(int controlId, bool visible) {
  controls_[controlId].visible = visible;
  if (controlId != ids::kProgressBar) return;
  if (visible) {
    DrawProgress();
  } else {
    bar_.reset();  // ends the bar's line
  }
}

bool ConsolePageView::IsChecked(int controlId) { return controls_[controlId].checked; }

void ConsolePageView::SetChecked(int controlId, bool checked) {
  controls_[controlId].checked = checked;
}

void ConsolePageView::SetProgress(int controlId, std::uint64_t done, std::uint64_t total) {
  if (controlId != ids::kProgressBar) return;
  progressDone_ = done;
  progressTotal_ = total;
  DrawProgress();
}

// The bar appears with the first file's name, after any question about it.
void ConsolePageView::DrawProgress() {
  const std::string& file = controls_[ids::kProgressFile].text;
  if (!controls_[ids::kProgressBar].visible || progressTotal_ == 0 || file.empty()) return;
  if (!bar_) bar_.emplace(ProgressLabel(file), progressTotal_, progressOnTerminal_);
  bar_->Draw(progressDone_, progressTotal_);
}

void ConsolePageView::Initialise(int controlId, const std::string& text, bool visible) {
  controls_[controlId] = ConsoleControl{text, visible, false};
}

void ConsoleSheetView::SetActivePage(PageId page) {
  active_ = page;
  if (onActivate) onActivate(page);
}

void InitialiseInstallPage(ConsolePageView& view) {
  view.Initialise(ids::kPluggedInLine, "Mivora Plugged-in: ", true);
  view.Initialise(ids::kModuleLine, "Module Included:", true);
  view.Initialise(ids::kSupportedLine, "Supported Mivora:", true);
  view.Initialise(ids::kLaunchCheckBox, kLaunchCheckBoxText, false);
  view.Initialise(ids::kProgressBar, "", false);
  view.Initialise(ids::kProgressFile, "", false);
}

std::string TabRow(const ConsoleSheetView& sheet) {
  std::string row;
  for (PageId page : sheet.pages()) {
    const char* caption = page == PageId::Agreement ? kAgreementTabCaption
                          : page == PageId::Install ? kInstallTabCaption
                                                    : "?";
    const bool active = page == sheet.activePage();
    row += active ? "[" : " ";
    row += caption;
    row += active ? "]" : " ";
  }
  return row;
}

void PrintInstallPage(std::ostream& out, ConsoleSheetView& sheet, ConsolePageView& page) {
  out << "\n== " << kSheetCaption << " ==\n";
  // Top to bottom as the template places them: 1004, 1020, 1005.
  for (int id : {ids::kPluggedInLine, ids::kModuleLine, ids::kSupportedLine}) {
    const ConsoleControl& line = page.control(id);
    if (line.visible && !line.text.empty()) out << "  " << line.text << "\n";
  }
  const ConsoleControl& box = page.control(ids::kLaunchCheckBox);
  if (box.visible) out << "  [" << (box.checked ? 'x' : ' ') << "] " << box.text << "\n";
  out << "  " << TabRow(sheet) << "\n";
  out << "  buttons: " << (sheet.installButtonVisible() ? "[ Install ] " : "") << "[Cancel]\n";
}

std::string TerminalText(const std::string& text) {
  std::string plain;
  plain.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain += text[i];
  }
  return plain;
}

void Page(std::ostream& out, const std::string& text, bool terminal) {
  const std::string plain = TerminalText(text);
  if (terminal) {
    const char* pager = std::getenv("PAGER");
    const std::string command = pager != nullptr && *pager != '\0' ? pager : "less";
    out.flush();
    if (std::FILE* pipe = ::popen(command.c_str(), "w")) {
      const bool written = std::fwrite(plain.data(), 1, plain.size(), pipe) == plain.size();
      if (::pclose(pipe) == 0 && written) return;
    }
  }
  out << plain;
  if (!plain.empty() && plain.back() != '\n') out << "\n";
}

}  // namespace brelvane::sim
