// What the wizard's page logic asks of a front-end.  The Win32 dialogs and
// the console front-end implement these; tests use recording views.  Control
// ids are those of the dialog templates.
#pragma once

#include <cstdint>
#include <string>

#include "res/resource.h"

namespace brelvane {

// Control ids of the dialog templates, by the names the page logic uses;
// their numbers are res/resource.h's, which the templates use too.
namespace ids {
inline constexpr int kInstallButton = IDC_INSTALL_BUTTON;
// Agreement page.
inline constexpr int kAgreementText = IDC_AGREEMENT_TEXT;
inline constexpr int kAccept = IDC_ACCEPT;
inline constexpr int kDecline = IDC_DECLINE;
inline constexpr int kAbout = IDC_ABOUT_BUTTON;
// Install page.
inline constexpr int kPluggedInLine = IDC_PLUGGED_IN_LINE;
inline constexpr int kSupportedLine = IDC_SUPPORTED_LINE;
inline constexpr int kLaunchCheckBox = IDC_LAUNCH_CHECK;
inline constexpr int kModuleLine = IDC_MODULE_LINE;
// Shown only while an install run copies: the bar over the set's bytes and
// the line naming the file being written.
inline constexpr int kProgressBar = IDC_PROGRESS_BAR;
inline constexpr int kProgressFile = IDC_PROGRESS_FILE;
}  // namespace ids

enum class PageId { Agreement, Install, Builder, PredefinedModules };

// One page's controls.
class PageView {
 public:
  virtual ~PageView() = default;
  // Sets a control's text; false when the control refused it (a text box
  // that cannot take the text for want of resources).
  virtual bool SetText(int controlId, const std::string& text) = 0;
  virtual void Show(int controlId, bool visible) = 0;
  virtual bool IsChecked(int controlId) = 0;
  virtual void SetChecked(int controlId, bool checked) = 0;
  // Moves a progress bar to `done` of `total` (total 0: empty).  Pages
  // without one ignore it.
  virtual void SetProgress(int /*controlId*/, std::uint64_t /*done*/, std::uint64_t /*total*/) {}
};

// The sheet that holds the pages.
class SheetView {
 public:
  virtual ~SheetView() = default;
  // Shows or hides the sheet's OK button (id 1); it is never disabled.
  virtual void ShowInstallButton(bool visible) = 0;
  // Adds a page at the end of the sheet's page list.
  virtual void AddPage(PageId page) = 0;
  // Makes a page active, which runs its activation.
  virtual void SetActivePage(PageId page) = 0;
};

}  // namespace brelvane
