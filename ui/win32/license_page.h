// CLicPageDlg: the agreement page (template 106) around the agreement logic.
#pragma once

#include <optional>

#include "ui/color_controls_win32.h"
#include "ui/license_page.h"
#include "ui/page_dlg_win32.h"

namespace brelvane::win32 {

class CLicPageDlg final : public CPageDlg {
 public:
  explicit CLicPageDlg(CPropertyDlg& sheet);

 protected:
  BOOL OnInitDialog() override;
  bool OnSetActive() override;
  void OnCommand(int controlId, int code) override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  CColorEdit agreementText_;
  ScopedGdi<HFONT> agreementFont_;
  std::optional<LicensePage> logic_;
};

}  // namespace brelvane::win32
