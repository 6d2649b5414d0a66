// Message boxes and the wait cursor of the Windows user interface.
#pragma once

#include "platform/platform.h"

namespace brelvane {

// Made on the user-interface thread, which owns the boxes and the cursor: a
// call from any other thread (the install run's worker) is handed to that
// thread and waits for it, so a question is still the same modal box, owned
// by the same window, asked in the same order.
class Win32Prompts : public Prompts {
 public:
  Win32Prompts();
  ~Win32Prompts() override;
  Win32Prompts(const Win32Prompts&) = delete;
  Win32Prompts& operator=(const Win32Prompts&) = delete;

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
  // Runs `job(context)` on the user-interface thread and waits for it to end.
  void OnUiThread(void (*job)(void* context), void* context);
  int ShowHere(const Message& message);
  void BeginWaitHere();
  void EndWaitHere();

  unsigned long ui_thread_ = 0;
  // A message-only window of the user-interface thread that runs the jobs
  // other threads send it.
  void* relay_ = nullptr;
  void* owner_ = nullptr;
  void* page_owner_ = nullptr;
  int wait_depth_ = 0;
  void* cursor_before_wait_ = nullptr;
};

}  // namespace brelvane
