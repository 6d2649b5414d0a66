// The wizard sheet's logic: the window that holds the pages and the state
// they share.  A front-end (the Win32 property sheet, the console wizard)
// builds one Sheet, forwards window creation to OnCreate and lets the pages
// reach it.
#pragma once

#include <vector>

#include "app/page_ending.h"
#include "app/wizard_state.h"
#include "app/wizard_view.h"
#include "platform/platform.h"

namespace brelvane {

inline constexpr char kSheetCaption[] = "Quorvix Brelvane Installer v1.0";
// The install button's caption " Install ", its I the access key (Alt+I).
inline constexpr char kInstallButtonCaption[] = " &Install ";
inline constexpr char kAgreementTabCaption[] = "License Agreement";
inline constexpr char kInstallTabCaption[] = "    Install    ";
inline constexpr char kMoreThanOneModel[] =
    "More than one Suported Mivora detected under Windows.\r\n"
    "Please unplug one and restart the application!";

// The side picture (bitmap resource 133) and the gap kept beside it.
inline constexpr int kSidePictureId = 133;
inline constexpr int kSidePictureWidth = 281;
inline constexpr int kSidePictureHeight = 189;
inline constexpr int kSidePictureGap = 3;

// True when the sheet shows the side picture for this combination of plugged-in
// models: one model alone, whose row asks for it (Kestrin or Ovin).
bool WantsSidePicture(ModelPresence presence);
// The pixels at `dpi` dots per inch for `pixels` at 96, rounded to the
// nearest as the window manager rounds its own scaling (MulDiv).
constexpr int ScaledToDpi(int pixels, int dpi) { return (pixels * dpi + 48) / 96; }
// How much wider the sheet becomes for a loaded picture of `pictureWidth`
// pixels, on a display of `dpi` dots per inch (the picture is drawn scaled).
constexpr int SheetWidening(int pictureWidth, int dpi = 96) {
  return ScaledToDpi(pictureWidth + kSidePictureGap, dpi);
}

class Sheet {
 public:
  // Nothing happens until Open.
  Sheet(const Platform& platform, SheetView& view);
  Sheet(const Sheet&) = delete;
  Sheet& operator=(const Sheet&) = delete;

  // Sets packagePath to the running program and adds the agreement page,
  // which is the sheet's first and therefore active page.  When the own path
  // cannot be had: the ending that says so, and no page.
  [[nodiscard]] PageEnding Open();

  // Window creation: detects the plugged-in models once.  Drives of more than
  // one model give the ending (its message, then exit code 0).
  [[nodiscard]] PageEnding OnCreate();
  // After OnCreate: whether the side picture is wanted; the front-end loads it
  // and, when it loaded, widens the sheet by SheetWidening(width).
  bool wantsSidePicture() const { return WantsSidePicture(state_.modelPresence); }

  // Shows or hides the " Install " button.
  void ShowInstallButton(bool visible);

  // Adds the install page unless it is already in the sheet, and makes it the
  // active page when `activate`.  Gives whether the page was added now.
  bool AddInstallPage(bool activate);
  bool installPageAdded() const { return installPageAdded_; }

  // The pages in the sheet, in order.
  const std::vector<PageId>& pages() const { return pages_; }

  const Platform& platform() const { return platform_; }
  WizardState& state() { return state_; }
  const WizardState& state() const { return state_; }
  SheetView& view() { return view_; }

 private:
  void AddPage(PageId page);

  Platform platform_;
  SheetView& view_;
  WizardState state_;
  std::vector<PageId> pages_;
  bool installPageAdded_ = false;
};

}  // namespace brelvane
