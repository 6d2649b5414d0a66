// Page logic that takes long (the install run) runs on a worker thread while
// the user-interface thread keeps answering the system.
#pragma once

#include <windows.h>

namespace brelvane::win32 {

// Runs `job(context)` on a worker thread and handles the user-interface
// thread's messages, the sheet's keyboard handling included, until it ends.
// A WM_QUIT that arrives meanwhile is posted again afterwards.  When no
// thread can be made the job runs here.
void RunBesideTheSheet(HWND sheet, void (*job)(void* context), void* context);

template <typename Job>
void RunBesideTheSheet(HWND sheet, Job& job) {
  RunBesideTheSheet(
      sheet, [](void* context) { (*static_cast<Job*>(context))(); }, &job);
}

}  // namespace brelvane::win32
