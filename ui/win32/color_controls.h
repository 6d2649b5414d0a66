// Win32 helpers shared by the program's dialogs: owned GDI objects, the
// display's dots per inch, point fonts, and the coloured text controls CColorStatic and CColorEdit.
#pragma once

#include <windows.h>

#include <utility>

namespace brelvane::win32 {

// Owns one GDI object (font, brush, bitmap) and deletes it on destruction.
template <typename Handle>
class ScopedGdi {
 public:
  ScopedGdi() = default;
  explicit ScopedGdi(Handle handle) : handle_(handle) {}
  ScopedGdi(const ScopedGdi&) = delete;
  ScopedGdi& operator=(const ScopedGdi&) = delete;
  ScopedGdi(ScopedGdi&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  ScopedGdi& operator=(ScopedGdi&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  ~ScopedGdi() { Reset(); }
  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Reset(Handle handle = nullptr) {
    if (handle_) DeleteObject(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

// A window's device context (the screen's for null), released on destruction.
class ScopedWindowDc {
 public:
  explicit ScopedWindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~ScopedWindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  ScopedWindowDc(const ScopedWindowDc&) = delete;
  ScopedWindowDc& operator=(const ScopedWindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// A memory device context compatible with another, deleted on destruction.
class ScopedMemoryDc {
 public:
  explicit ScopedMemoryDc(HDC compatibleWith) : dc_(CreateCompatibleDC(compatibleWith)) {}
  ~ScopedMemoryDc() {
    if (dc_) DeleteDC(dc_);
  }
  ScopedMemoryDc(const ScopedMemoryDc&) = delete;
  ScopedMemoryDc& operator=(const ScopedMemoryDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// Selects an object into a device context and puts the old one back.
class ScopedSelection {
 public:
  ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
  ~ScopedSelection() { SelectObject(dc_, old_); }
  ScopedSelection(const ScopedSelection&) = delete;
  ScopedSelection& operator=(const ScopedSelection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// The dots per inch of the display the window is on (96 at 100 %): the
// window's own where the system knows it (Windows 10 1607 and later), the
// system's otherwise.
int WindowDpi(HWND window);

// A screen font of `tenthsOfPoint` tenths of a point (120 for 12 points) for
// a display of `dpi` dots per inch.
ScopedGdi<HFONT> CreatePointFont(int tenthsOfPoint, const char* face, int dpi);
// Sets the font on a dialog's control with an immediate redraw.
void SetControlFont(HWND dialog, int controlId, HFONT font);

// Whether the user has a high-contrast scheme on.
bool HighContrastOn();

// A text control that paints itself in its own colours: the parent hands
// each control-colour message for the control to CtlColor.  Colours named
// by a system colour index follow the scheme as it changes; colours given
// by value stay.  With a high-contrast scheme on, every such control shows
// the scheme's window text on its window colour, the one pair it promises
// to contrast.
class CColorControl {
 public:
  CColorControl(int textIndex, int backgroundIndex);
  virtual ~CColorControl() = default;
  CColorControl(const CColorControl&) = delete;
  CColorControl& operator=(const CColorControl&) = delete;

  void Attach(HWND control) { hwnd_ = control; }
  HWND hwnd() const { return hwnd_; }

  // Replaces the brush and repaints the control at once; gives the old colour.
  virtual COLORREF SetBkColor(COLORREF colour);
  // Takes effect at the next repaint; gives the old colour.
  virtual COLORREF SetTextColor(COLORREF colour);
  virtual COLORREF GetBkColor() const;
  virtual COLORREF GetTextColor() const;

  // The answer to WM_CTLCOLOR* for this control, whatever its kind.
  HBRUSH CtlColor(HDC dc) const;

 private:
  HWND hwnd_ = nullptr;
  int textIndex_;        // -1 once a colour is given by value
  int backgroundIndex_;  // the same
  COLORREF text_;
  COLORREF background_;
  ScopedGdi<HBRUSH> brush_;
};

class CColorStatic : public CColorControl {
 public:
  CColorStatic();
};

class CColorEdit : public CColorControl {
 public:
  CColorEdit();
};

}  // namespace brelvane::win32
