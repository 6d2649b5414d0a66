#include "platform/win32/win32_prompts.h"

#include <windows.h>

#include "platform/win32/win32_text.h"

namespace brelvane {

namespace {

constexpr wchar_t kRelayClass[] = L"BrelvanePromptsRelay";
// Sent to the relay window: lParam is the RelayedJob to run.
constexpr UINT kRunJob = WM_APP + 1;

struct RelayedJob {
  void (*job)(void* context);
  void* context;
};

LRESULT CALLBACK RelayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kRunJob) return DefWindowProcW(window, message, wParam, lParam);
  const auto* relayed = reinterpret_cast<const RelayedJob*>(lParam);
  relayed->job(relayed->context);
  return 0;
}

HWND CreateRelayWindow() {
  WNDCLASSEXW relayClass = {};
  relayClass.cbSize = sizeof relayClass;
  relayClass.lpfnWndProc = RelayProc;
  relayClass.hInstance = GetModuleHandleW(nullptr);
  relayClass.lpszClassName = kRelayClass;
  RegisterClassExW(&relayClass);  // fails harmlessly when it is there already
  return CreateWindowExW(0, kRelayClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         relayClass.hInstance, nullptr);
}

}  // namespace

Win32Prompts::Win32Prompts() : ui_thread_(GetCurrentThreadId()), relay_(CreateRelayWindow()) {}

Win32Prompts::~Win32Prompts() {
  if (relay_ != nullptr) DestroyWindow(static_cast<HWND>(relay_));
}

void Win32Prompts::OnUiThread(void (*job)(void* context), void* context) {
  // The user-interface thread handles what is sent to its windows whenever
  // it waits for messages (the install page's wait for its worker, or a box).
  if (GetCurrentThreadId() == ui_thread_ || relay_ == nullptr) return job(context);
  RelayedJob relayed{job, context};
  SendMessageW(static_cast<HWND>(relay_), kRunJob, 0, reinterpret_cast<LPARAM>(&relayed));
}

int Win32Prompts::Show(const Message& message) {
  struct Call {
    Win32Prompts* self;
    const Message* message;
    int answer;
  } call{this, &message, 0};
  OnUiThread(
      [](void* context) {
        auto* asked = static_cast<Call*>(context);
        asked->answer = asked->self->ShowHere(*asked->message);
      },
      &call);
  return call.answer;
}

int Win32Prompts::ShowHere(const Message& message) {
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
  OnUiThread([](void* self) { static_cast<Win32Prompts*>(self)->BeginWaitHere(); }, this);
}

void Win32Prompts::EndWait() {
  OnUiThread([](void* self) { static_cast<Win32Prompts*>(self)->EndWaitHere(); }, this);
}

void Win32Prompts::BeginWaitHere() {
  // Nested scopes keep the one cursor; the outermost restores what was there.
  if (wait_depth_++ == 0) cursor_before_wait_ = ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
}

void Win32Prompts::EndWaitHere() {
  if (wait_depth_ == 0) return;
  if (--wait_depth_ == 0) ::SetCursor(static_cast<HCURSOR>(cursor_before_wait_));
}

}  // namespace brelvane
