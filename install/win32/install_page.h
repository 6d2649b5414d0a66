// CInstallPageDlg: the install page (template 107) around the install logic;
// its apply runs the installation.
#pragma once

#include <optional>

#include "install/install_page.h"
#include "ui/win32/color_controls.h"
#include "ui/win32/property_page.h"

namespace brelvane::win32 {

class CInstallPageDlg final : public CPageDlg {
 public:
  explicit CInstallPageDlg(SheetWindow& sheet);

  // Looks for the drive again and shows what it finds, as an activation does.
  void RefreshStatus();

 protected:
  BOOL OnInitDialog() override;
  bool OnSetActive() override;
  LRESULT OnApply() override;
  void OnCancelWhileBusy() override;
  void OnDpiChanged() override;

 private:
  CColorStatic pluggedInLine_;
  CColorStatic supportedLine_;
  CColorStatic moduleLine_;
  ScopedGdi<HFONT> statusFont_;
  std::optional<InstallPage> logic_;
};

}  // namespace brelvane::win32
