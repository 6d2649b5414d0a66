#include "ui/win32/about_box.h"

#include "res/resource.h"

namespace brelvane::win32 {

void CAboutDlg::DoModal() {
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), owner_, DialogProc,
                  reinterpret_cast<LPARAM>(product_));
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      // The caption and the product line both show the product its owner named.
      const auto* product = reinterpret_cast<const char*>(lParam);
      SetWindowTextA(window, product);
      SetDlgItemTextA(window, IDC_ABOUT_PRODUCT, product);
      return TRUE;
    }
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
