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

bool HighContrastOn() {
  HIGHCONTRASTA contrast = {};
  contrast.cbSize = sizeof contrast;
  return SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
         (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

CColorControl::CColorControl(int textIndex, int backgroundIndex)
    : textIndex_(textIndex),
      backgroundIndex_(backgroundIndex),
      text_(GetSysColor(textIndex)),
      background_(GetSysColor(backgroundIndex)) {}

COLORREF CColorControl::SetBkColor(COLORREF colour) {
  COLORREF old = GetBkColor();
  backgroundIndex_ = -1;
  background_ = colour;
  brush_.Reset(CreateSolidBrush(colour));
  if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
  return old;
}

COLORREF CColorControl::SetTextColor(COLORREF colour) {
  COLORREF old = GetTextColor();
  textIndex_ = -1;
  text_ = colour;
  return old;
}

COLORREF CColorControl::GetBkColor() const {
  return backgroundIndex_ >= 0 ? GetSysColor(backgroundIndex_) : background_;
}

COLORREF CColorControl::GetTextColor() const {
  return textIndex_ >= 0 ? GetSysColor(textIndex_) : text_;
}

HBRUSH CColorControl::CtlColor(HDC dc) const {
  // A high-contrast scheme promises contrast for its own pairs only.
  const bool contrast = HighContrastOn();
  const int textIndex = contrast ? COLOR_WINDOWTEXT : textIndex_;
  const int backgroundIndex = contrast ? COLOR_WINDOW : backgroundIndex_;
  ::SetTextColor(dc, textIndex >= 0 ? GetSysColor(textIndex) : text_);
  if (backgroundIndex >= 0) {
    ::SetBkColor(dc, GetSysColor(backgroundIndex));
    return GetSysColorBrush(backgroundIndex);
  }
  ::SetBkColor(dc, background_);
  return brush_.get();
}

CColorStatic::CColorStatic() : CColorControl(COLOR_WINDOWTEXT, COLOR_ACTIVEBORDER) {}

CColorEdit::CColorEdit() : CColorControl(COLOR_WINDOWTEXT, COLOR_WINDOW) {}

}  // namespace brelvane::win32
