#include "ui/win32/worker_run.h"

#include <commctrl.h>
#include <prsht.h>

#include "platform/win32/win32_handle.h"

namespace brelvane::win32 {

namespace {

struct WorkerJob {
  void (*job)(void* context);
  void* context;
};

DWORD WINAPI WorkerMain(LPVOID parameter) {
  const auto* work = static_cast<const WorkerJob*>(parameter);
  work->job(work->context);
  return 0;
}

}  // namespace

void RunBesideTheSheet(HWND sheet, void (*job)(void* context), void* context) {
  WorkerJob work{job, context};
  ScopedHandle worker(CreateThread(nullptr, 0, WorkerMain, &work, 0, nullptr));
  if (worker.get() == nullptr) return job(context);
  HANDLE ended = worker.get();
  bool quit = false;
  WPARAM quitCode = 0;
  for (;;) {
    // Input already seen but left in the queue counts too.
    const DWORD woke =
        MsgWaitForMultipleObjectsEx(1, &ended, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) break;
    if (woke == WAIT_FAILED) {
      WaitForSingleObject(ended, INFINITE);
      break;
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quitCode = message.wParam;
        continue;
      }
      if (!PropSheet_IsDialogMessage(sheet, &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
}

}  // namespace brelvane::win32
