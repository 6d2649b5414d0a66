// CAboutDlg: the about box that the agreement page's "About" button opens.
#pragma once

#include <windows.h>

namespace brelvane::win32 {

class CAboutDlg {
 public:
  explicit CAboutDlg(HWND owner) : owner_(owner) {}
  // Runs the box modally until OK or Esc.
  void DoModal();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HWND owner_;
};

}  // namespace brelvane::win32
