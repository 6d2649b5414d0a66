// CLicPageDlg: the agreement page (template 106) around the agreement logic.
#pragma once

#include <optional>

#include "ui/license_page.h"
#include "ui/win32/color_controls.h"
#include "ui/win32/property_page.h"

namespace brelvane::win32 {

class CLicPageDlg final : public CPageDlg {
 public:
  explicit CLicPageDlg(SheetWindow& sheet);

 protected:
  BOOL OnInitDialog() override;
  bool OnSetActive() override;
  void OnCommand(int controlId, int code) override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDpiChanged() override;

 private:
  CColorEdit agreementText_;
  ScopedGdi<HFONT> agreementFont_;
  std::optional<LicensePage> logic_;
  // True while Accept or Decline is taking the keyboard focus.
  bool focusArriving_ = false;
};

}  // namespace brelvane::win32
