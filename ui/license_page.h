// The agreement page's logic: the licence text, Accept and Decline.
#pragma once

#include "app/page_ending.h"
#include "app/sheet.h"
#include "app/wizard_view.h"

namespace brelvane {

inline constexpr char kAgreementFailedText[] = "Failed to display License Agreement!";
inline constexpr char kLowResourceCaption[] = "Low Resource";
inline constexpr char kLowResourceQuestion[] =
    "Unable To display License Agreement due to Low system resources.\r\n\r\n"
    "By pressing OK you acknowledge that you have obtained the Vantrel License Agreement, "
    "Read and Accepted it.\r\nContinue Installation?";
inline constexpr char kGoodBye[] = "Good Bye!";

class LicensePage {
 public:
  LicensePage(Sheet& sheet, PageView& view) : sheet_(sheet), view_(view) {}

  // Puts the agreement into the text box (1000).  When the box refuses it, asks
  // the "Low Resource" question: OK ticks Accept and adds the install page
  // without switching to it; Cancel declines (its ending).
  [[nodiscard]] PageEnding OnInitDialog();
  // Hides the Install button whenever the agreement is shown.  Gives true.
  bool OnSetActive();
  // Adds the install page and switches to it, the first time only.
  void OnAccept();
  // Always ends: "Good Bye!", then exit code 0.
  [[nodiscard]] Ending OnDecline();

 private:
  Sheet& sheet_;
  PageView& view_;
};

}  // namespace brelvane
