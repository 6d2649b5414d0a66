// CAboutDlg: the about box that the agreement page's "About" button opens.
#pragma once

#include <windows.h>

namespace brelvane::win32 {

class CAboutDlg {
 public:
  // `product` names the product and its version, in the caption and the
  // product line.
  CAboutDlg(HWND owner, const char* product) : owner_(owner), product_(product) {}
  // Runs the box modally until OK or Esc.
  void DoModal();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HWND owner_;
  const char* product_;
};

}  // namespace brelvane::win32
