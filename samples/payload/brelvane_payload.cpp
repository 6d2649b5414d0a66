// A stand-in for the Brelvane utility that the sample package installs.  It
// only proves that it was started: it writes "brelvane-started.txt" beside
// its own executable and ends.  Plain C runtime calls keep it tiny.
#include <windows.h>

#include <cstdio>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  static const char kMarkerName[] = "brelvane-started.txt";
  char path[MAX_PATH + sizeof kMarkerName] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  char* slash = std::strrchr(path, '\\');
  if (slash == nullptr) return 1;
  std::strcpy(slash + 1, kMarkerName);

  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return 1;
  std::fprintf(file, "Brelvane v1.0 started\r\ncommand line: %s\r\n",
               commandLine != nullptr ? commandLine : "");
  return std::fclose(file) == 0 ? 0 : 1;
}
