#include "ui/win32/color_controls.h"

#include <cstring>

namespace brelvane::win32 {

int WindowDpi(HWND window) {
  // Looked up at run time: Windows 7 and 8 have no such function.
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow =
      reinterpret_cast<GetDpiForWindowFunction>(reinterpret_cast<void (*)()>(
          GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow && window) {
    if (UINT dpi = getDpiForWindow(window)) return static_cast<int>(dpi);
  }
  const int dpi = GetDeviceCaps(ScopedWindowDc(window).get(), LOGPIXELSY);
  return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

ScopedGdi<HFONT> CreatePointFont(int tenthsOfPoint, const char* face, int dpi) {
  LOGFONTA font = {};
  // Negative: the character height rather than the cell height.
  font.lfHeight = -MulDiv(tenthsOfPoint, dpi, 720);
  font.lfCharSet = DEFAULT_CHARSET;
  std::strncpy(font.lfFaceName, face, LF_FACESIZE - 1);
  return ScopedGdi<HFONT>(CreateFontIndirectA(&font));
}

void SetControlFont(HWND dialog, int controlId, HFONT font) {
  SendDlgItemMessageA(dialog, controlId, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

CColorControl::CColorControl(COLORREF text, COLORREF background)
    : text_(text), background_(background), brush_(CreateSolidBrush(background)) {}

COLORREF CColorControl::SetBkColor(COLORREF colour) {
  COLORREF old = background_;
  background_ = colour;
  brush_.Reset(CreateSolidBrush(colour));
  if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
  return old;
}

COLORREF CColorControl::SetTextColor(COLORREF colour) {
  COLORREF old = text_;
  text_ = colour;
  return old;
}

HBRUSH CColorControl::CtlColor(HDC dc) const {
  ::SetTextColor(dc, text_);
  ::SetBkColor(dc, background_);
  return brush_.get();
}

CColorStatic::CColorStatic()
    : CColorControl(GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_ACTIVEBORDER)) {}

CColorEdit::CColorEdit()
    : CColorControl(GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_WINDOW)) {}

}  // namespace brelvane::win32
