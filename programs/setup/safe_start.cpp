// The Windows programs' first step: the system looks for the DLLs they load
// in the system folder only.  A program run from a Downloads folder would
// otherwise load a DLL of a name the loader searches for in the program's
// own folder first (the dependencies of every DLL that is not a KnownDLL,
// and every load without a full path).  The programs import only kernel32
// and msvcrt at load time and delay-load every other system DLL
// (cmake/delay_imports.cmake), so nothing else is loaded before this runs:
// it is the program's first constructor, before main.  It also hands the
// delay-load helper the stand-ins for the kernel32 calls that older systems
// lack (platform/win32/older_windows.h).
#include <windows.h>
#include <delayimp.h>

#include "platform/win32/older_windows.h"

namespace {

constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

template <typename Function>
Function KernelFunction(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}

// A kernel32 call the system lacks: its stand-in, if there is one.
FARPROC WINAPI TakeStandIn(unsigned notice, PDelayLoadInfo info) {
  if (notice != dliFailGetProc || info == nullptr || info->szDll == nullptr ||
      _stricmp(info->szDll, "kernel32.dll") != 0 || !info->dlp.fImportByName) {
    return nullptr;
  }
  return brelvane::win32::StandInFor(info->dlp.szProcName);
}

// The runtime's threads call GetTickCount64 too: naming it here takes the
// delay-loaded form into the program before the runtime's libraries ask
// for it.
[[gnu::used]] const auto kTickCount = &::GetTickCount64;

[[gnu::constructor(101)]] void SearchOnlyTheSystemFolder() {
  __pfnDliFailureHook2 = TakeStandIn;
  // Windows 8 and later, and 7 or Vista with update KB2533623.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  if (const auto setDefault =
          KernelFunction<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories")) {
    if (setDefault(kSearchSystem32)) return;
  }
  // Older systems keep the program's folder first; at least the current
  // folder leaves the search (XP SP1 and later).
  using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCWSTR);
  if (const auto setDirectory = KernelFunction<SetDllDirectoryFunction>("SetDllDirectoryW")) {
    setDirectory(L"");
  }
}

}  // namespace
