// Message boxes and the wait cursor of the Windows user interface.
#pragma once

#include "platform/platform.h"

namespace brelvane {

class Win32Prompts : public Prompts {
 public:
  // Windows (HWND) that own the boxes: the application's main window, and the
  // page whose own questions they are.  Null until set: the box has no owner.
  void SetOwner(void* window) { owner_ = window; }
  void SetPageOwner(void* window) { page_owner_ = window; }

  int Show(const Message& message) override;
  void BeginWait() override;
  void EndWait() override;

  // The style the box is shown with: the message's own, plus the default
  // exclamation icon for an application box that names no icon.
  static std::uint32_t DisplayedStyle(const Message& message);

 private:
  void* owner_ = nullptr;
  void* page_owner_ = nullptr;
  int wait_depth_ = 0;
  void* cursor_before_wait_ = nullptr;
};

}  // namespace brelvane
