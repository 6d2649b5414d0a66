// COEMPage: the builder page ("OEM Page") around the builder logic.
#pragma once

#include <optional>

#include "builder/oem_page.h"
#include "builder/win32/builder_view.h"
#include "ui/win32/property_page.h"

namespace brelvane::win32 {

class COEMPage final : public CPageDlg {
 public:
  explicit COEMPage(SheetWindow& sheet);

 protected:
  BOOL OnInitDialog() override;
  bool OnSetActive() override;
  LRESULT OnApply() override;
  void OnCommand(int controlId, int code) override;
  // The module list's requests for its cells and a click on a heading.
  LRESULT OnNotify(const NMHDR& header) override;
  void OnDpiChanged() override;

 private:
  void InsertColumns();
  void AddModule();
  // The DPI the list's column widths were made for.
  int columnsDpi_ = USER_DEFAULT_SCREEN_DPI;
  Win32BuilderView builderView_{view_};
  std::optional<OemPage> logic_;
};

}  // namespace brelvane::win32
