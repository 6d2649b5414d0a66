#include "recording_views.h"

namespace brelvane::testing {

bool RecordingPageView::SetText(int controlId, const std::string& text) {
  const auto limit = textLimits_.find(controlId);
  if (limit != textLimits_.end() && text.size() > limit->second) {
    events_.push_back("refuse " + std::to_string(controlId));
    return false;
  }
  controls_[controlId].text = text;
  events_.push_back("text " + std::to_string(controlId) + " " + text);
  return true;
}

void RecordingPageView::Show(int controlId, bool visible) {
  controls_[controlId].visible = visible;
  events_.push_back("show " + std::to_string(controlId) + (visible ? " 1" : " 0"));
}

bool RecordingPageView::IsChecked(int controlId) { return controls_[controlId].checked; }

void RecordingPageView::SetChecked(int controlId, bool checked) {
  controls_[controlId].checked = checked;
  events_.push_back("check " + std::to_string(controlId) + (checked ? " 1" : " 0"));
}

void RecordingPageView::Initialise(int controlId, const std::string& text, bool visible) {
  controls_[controlId] = RecordedControl{text, visible, false};
}

void RecordingPageView::RefuseTextsLongerThan(int controlId, std::size_t limit) {
  textLimits_[controlId] = limit;
}

const RecordedControl& RecordingPageView::control(int controlId) { return controls_[controlId]; }

void InitialiseInstallPage(RecordingPageView& view) {
  view.Initialise(ids::kPluggedInLine, "Mivora Plugged-in: ", true);
  view.Initialise(ids::kModuleLine, "Module Included:", true);
  view.Initialise(ids::kSupportedLine, "Supported Mivora:", true);
  view.Initialise(ids::kLaunchCheckBox, "Launch Brelvane after installation", false);
}

void RecordingSheetView::ShowInstallButton(bool visible) {
  installButtonVisible_ = visible;
  events_.push_back(visible ? "button 1" : "button 0");
}

void RecordingSheetView::AddPage(PageId page) {
  pages_.push_back(page);
  events_.push_back(std::string("add ") + PageName(page));
}

void RecordingSheetView::SetActivePage(PageId page) {
  active_ = page;
  events_.push_back(std::string("activate ") + PageName(page));
  if (onActivate) onActivate(page);
}

const char* PageName(PageId page) {
  switch (page) {
    case PageId::Agreement: return "Agreement";
    case PageId::Install: return "Install";
    case PageId::Builder: return "Builder";
    case PageId::PredefinedModules: return "PredefinedModules";
  }
  return "?";
}

}  // namespace brelvane::testing
