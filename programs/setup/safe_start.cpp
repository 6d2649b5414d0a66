// The Windows programs' first step: the system looks for the DLLs they load
// in the system folder only.  A program run from a Downloads folder would
// otherwise load a DLL of a name the loader searches for in the program's
// own folder first (the dependencies of every DLL that is not a KnownDLL,
// and every load without a full path).  The programs import only kernel32
// and msvcrt at load time and delay-load every other system DLL
// (cmake/delay_imports.cmake), so nothing else is loaded before this runs:
// it is the program's first constructor, before main.
#include <windows.h>

namespace {

constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

template <typename Function>
Function KernelFunction(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}

[[gnu::constructor(101)]] void SearchOnlyTheSystemFolder() {
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
