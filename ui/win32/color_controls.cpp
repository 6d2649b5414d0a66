#include "ui/win32/color_controls.h"

#include <cstring>

namespace brelvane::win32 {

ScopedGdi<HFONT> CreatePointFont(int tenthsOfPoint, const char* face) {
  HDC screen = GetDC(nullptr);
  int pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  LOGFONTA font = {};
  // Negative: the character height rather than the cell height.
  font.lfHeight = -MulDiv(tenthsOfPoint, pixelsPerInch, 720);
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
