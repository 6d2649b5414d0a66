// CPredefModApdPage: the predefined-modules page ("Predef Modules") around
// the builder logic.
#pragma once

#include <optional>

#include "builder/predef_page.h"
#include "builder/win32/builder_view.h"
#include "ui/win32/property_page.h"

namespace brelvane::win32 {

class CPredefModApdPage final : public CPageDlg {
 public:
  explicit CPredefModApdPage(SheetWindow& sheet);

 protected:
  BOOL OnInitDialog() override;
  bool OnSetActive() override;
  LRESULT OnApply() override;
  void OnCommand(int controlId, int code) override;
  // The attribute combos are widened again for the fonts of the new DPI.
  void OnDpiChanged() override;

 private:
  Win32BuilderView builderView_{view_};
  std::optional<PredefPage> logic_;
};

}  // namespace brelvane::win32
