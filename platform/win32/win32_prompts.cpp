#include "platform/win32/win32_prompts.h"

#include <windows.h>

#include "platform/win32/win32_text.h"

namespace brelvane {

int Win32Prompts::Show(const Message& message) {
  void* owner = message.owned_by_page && page_owner_ != nullptr ? page_owner_ : owner_;
  // Wide, so a path the ANSI code page cannot hold reads as it is.
  return ::MessageBoxW(static_cast<HWND>(owner), win32text::Widen(message.text).c_str(),
                       win32text::Widen(message.caption).c_str(), DisplayedStyle(message));
}

std::uint32_t Win32Prompts::DisplayedStyle(const Message& message) {
  // An application box that names no icon of its own gets the exclamation
  // icon, as the application framework's message box always gave it; a
  // page's own box shows exactly the style it asks for.
  if (!message.owned_by_page && !message.plain && (message.style & MB_ICONMASK) == 0) {
    return message.style | MB_ICONEXCLAMATION;
  }
  return message.style;
}

void Win32Prompts::BeginWait() {
  // Nested scopes keep the one cursor; the outermost restores what was there.
  if (wait_depth_++ == 0) cursor_before_wait_ = ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
}

void Win32Prompts::EndWait() {
  if (wait_depth_ == 0) return;
  if (--wait_depth_ == 0) ::SetCursor(static_cast<HCURSOR>(cursor_before_wait_));
}

}  // namespace brelvane
