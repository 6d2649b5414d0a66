// The Windows program's entry: the application object runs the sheet
// modally and the process ends when it closes; with switches on the command
// line, the unattended install runs instead, without a window.
#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <string>
#include <vector>

#include "property_sheet.h"
#include "builder/builder_mode.h"
#include "platform/win32/win32_host.h"
#include "platform/win32/win32_prompts.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_text.h"
#include "unattended/unattended.h"

namespace brelvane::win32 {

class CInstallerApp {
 public:
  CInstallerApp(const Platform& platform, Win32Prompts& prompts, SheetMode mode)
      : platform_(platform), prompts_(prompts), mode_(mode) {}

  // The whole life of the program: the sheet, run modally.
  BOOL InitInstance() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    CPropertyDlg sheet(platform_, prompts_, mode_);
    sheet.DoModal();
    return TRUE;
  }

 private:
  Platform platform_;
  Win32Prompts& prompts_;
  SheetMode mode_;
};

// Where the unattended run's lines for a person go: standard output when
// the parent redirected it (a file, a pipe), else the parent's console when
// the program was started from one.  A windows program gets no console of
// its own, so without either the lines go nowhere (and a box shows them
// instead, unless /silent).
class ParentConsole {
 public:
  ParentConsole() {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE && ::GetFileType(out) != FILE_TYPE_UNKNOWN) {
      handle_ = out;
    } else if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
      owned_ = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
      if (owned_ != INVALID_HANDLE_VALUE) handle_ = owned_;
    }
  }
  ParentConsole(const ParentConsole&) = delete;
  ParentConsole& operator=(const ParentConsole&) = delete;
  ~ParentConsole() {
    if (owned_ != INVALID_HANDLE_VALUE) ::CloseHandle(owned_);
  }

  // The writer for RunUnattended; empty without a console.
  ConsoleFn Writer() {
    if (handle_ == INVALID_HANDLE_VALUE) return {};
    return [this](const std::string& line) { Write(line + "\r\n"); };
  }

 private:
  // A console takes the text as UTF-16, whatever its code page; a file or a
  // pipe gets UTF-8.
  void Write(const std::string& text) {
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(handle_, &mode)) {
      const std::wstring wide = win32text::Widen(text);
      ::WriteConsoleW(handle_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
      return;
    }
    ::WriteFile(handle_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HANDLE owned_ = INVALID_HANDLE_VALUE;
};

// One copy of the installer at a time, across sessions: two would both
// write the drive.  The first holds the name as long as it runs.
class OneCopy {
 public:
  OneCopy() : mutex_(::CreateMutexW(nullptr, FALSE, L"Global\\Quorvix Brelvane Installer")) {
    anotherRuns_ = mutex_ != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS;
  }
  OneCopy(const OneCopy&) = delete;
  OneCopy& operator=(const OneCopy&) = delete;
  ~OneCopy() {
    if (mutex_ != nullptr) ::CloseHandle(mutex_);
  }
  bool anotherRuns() const { return anotherRuns_; }

 private:
  HANDLE mutex_;
  bool anotherRuns_ = false;
};

// Brings the sheet of the copy that runs to the front (restored when it is
// minimised), where the user looks for it; false when no sheet shows, even
// after the time a copy just started takes to open its window.  Whatever
// holds the name then, the user is told: no start ends without a word.
bool ShowTheRunningCopy() {
  HWND sheet = nullptr;
  for (int attempt = 0; attempt < 20 && sheet == nullptr; ++attempt) {
    if (attempt > 0) ::Sleep(100);
    sheet = ::FindWindowA("#32770", kSheetCaption);
  }
  if (sheet == nullptr) return false;
  if (::IsIconic(sheet)) ::ShowWindow(sheet, SW_RESTORE);
  ::SetForegroundWindow(::GetLastActivePopup(sheet));
  return true;
}

// The words after the program's name, from the wide command line.
std::vector<std::string> SwitchWords() {
  std::vector<std::string> words = win32text::Arguments();
  if (!words.empty()) words.erase(words.begin());
  return words;
}

}  // namespace brelvane::win32

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
  (void)instance;
  (void)previous;
  (void)arguments;
  (void)show;
  using namespace brelvane;
  Win32Prompts prompts;
  Win32Registry registry;
  Win32Host host(prompts, registry);
  // One reading of the command line, as Windows splits it, for the builder
  // switch and the unattended ones.  Any word but the builder's switch alone
  // makes the run unattended: an unknown one, or the builder's beside
  // another, is refused there, never taken for a run with a window.
  const std::vector<std::string> words = win32::SwitchWords();
  const bool builder = WantsBuilder(words);
  // The builder writes no drive and may run beside an installer.
  std::optional<win32::OneCopy> oneCopy;
  if (!builder) oneCopy.emplace();
  const bool anotherCopyRuns = oneCopy && oneCopy->anotherRuns();
  if (!builder && !words.empty()) {
    win32::ParentConsole console;
    return RunUnattended(host.platform(), words, console.Writer(), anotherCopyRuns);
  }
  if (anotherCopyRuns) {
    if (win32::ShowTheRunningCopy()) return 0;
    Message message{kAnotherCopyHidden, kProgramName, win::kMbIconHand};
    host.platform().prompts.Show(message);
    return ToInt(ExitCode::AnotherCopy);
  }
  win32::SheetMode mode = builder ? win32::SheetMode::Builder : win32::SheetMode::Installer;
  win32::CInstallerApp app(host.platform(), prompts, mode);
  app.InitInstance();
  return 0;
}
