#include "ui/about_dlg.h"

#include "app/sheet.h"
#include "res/resource.h"

namespace brelvane::win32 {

void CAboutDlg::DoModal() {
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), owner_, DialogProc, 0);
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  switch (message) {
    case WM_INITDIALOG:
      // The product line and the caption carry the sheet's own name and version.
      SetWindowTextA(window, kSheetCaption);
      SetDlgItemTextA(window, IDC_ABOUT_PRODUCT, kSheetCaption);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace brelvane::win32
