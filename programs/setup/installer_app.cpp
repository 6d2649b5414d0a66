// The Windows program's entry: the application object runs the sheet
// modally and the process ends when it closes.
#include <windows.h>
#include <commctrl.h>

#include "property_sheet.h"
#include "builder/builder_mode.h"
#include "platform/win32/win32_host.h"
#include "platform/win32/win32_prompts.h"
#include "platform/win32/win32_registry.h"

namespace brelvane::win32 {

class CInstallerApp {
 public:
  CInstallerApp(const Platform& platform, Win32Prompts& prompts, SheetMode mode)
      : platform_(platform), prompts_(prompts), mode_(mode) {}

  // The whole life of the program: the sheet, run modally.
  BOOL InitInstance() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    CPropertyDlg sheet(platform_, prompts_, mode_);
    sheet.DoModal();
    return TRUE;
  }

 private:
  Platform platform_;
  Win32Prompts& prompts_;
  SheetMode mode_;
};

}  // namespace brelvane::win32

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  using namespace brelvane;
  Win32Prompts prompts;
  Win32Registry registry;
  Win32Host host(prompts, registry);
  win32::SheetMode mode = WantsBuilder(arguments ? arguments : "") ? win32::SheetMode::Builder
                                                                   : win32::SheetMode::Installer;
  win32::CInstallerApp app(host.platform(), prompts, mode);
  app.InitInstance();
  return 0;
}
