// COEMPage and CPredefModApdPage: the builder's two pages ("OEM Page",
// "Predef Modules") around the builder logic.
#pragma once

#include <optional>

#include "builder/oem_page.h"
#include "builder/predef_page.h"
#include "ui/page_dlg_win32.h"

namespace brelvane::win32 {

class COEMPage final : public CPageDlg {
 public:
  explicit COEMPage(CPropertyDlg& sheet);

 protected:
  BOOL OnInitDialog() override;
  bool OnSetActive() override;
  LRESULT OnApply() override;
  void OnCommand(int controlId, int code) override;

 private:
  void InsertColumns();
  std::optional<OemPage> logic_;
};

class CPredefModApdPage final : public CPageDlg {
 public:
  explicit CPredefModApdPage(CPropertyDlg& sheet);

 protected:
  BOOL OnInitDialog() override;
  bool OnSetActive() override;
  LRESULT OnApply() override;
  void OnCommand(int controlId, int code) override;

 private:
  std::optional<PredefPage> logic_;
};

}  // namespace brelvane::win32
