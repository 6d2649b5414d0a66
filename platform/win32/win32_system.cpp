#include "platform/win32/win32_system.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <vector>

namespace brelvane {
namespace {

constexpr DWORD kFormatFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS;  // 0x1300
constexpr DWORD kNeutralLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);  // 0x400
constexpr int kProgramIconId = 128;
// SEE_MASK_ICON: hIcon holds the icon shown for the started program.
constexpr ULONG kSeeMaskIcon = 0x00000010;

}  // namespace

std::uint32_t Win32System::LastError() { return ::GetLastError(); }

void Win32System::SetLastError(std::uint32_t code) { ::SetLastError(code); }

std::string Win32System::ErrorText(std::uint32_t code) {
  char* buffer = nullptr;
  DWORD length = ::FormatMessageA(kFormatFlags, nullptr, code, kNeutralLanguage, reinterpret_cast<LPSTR>(&buffer), 0,
                                  nullptr);
  if (length == 0 || buffer == nullptr) return {};
  std::string text(buffer, length);
  ::LocalFree(buffer);
  return text;
}

int Win32System::PlatformId() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
  static_assert(sizeof(OSVERSIONINFOA) == 148);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!::GetVersionExA(&info)) return 0;
#pragma GCC diagnostic pop
  return static_cast<int>(info.dwPlatformId);
}

std::uint32_t Win32System::CurrentDirectoryLength() { return ::GetCurrentDirectoryA(0, nullptr); }

std::optional<std::string> Win32System::CurrentDirectory() {
  DWORD size = ::GetCurrentDirectoryA(0, nullptr);
  if (size == 0) return std::nullopt;
  std::vector<char> buffer(size);
  DWORD length = ::GetCurrentDirectoryA(size, buffer.data());
  if (length == 0 || length >= size) return std::nullopt;
  return std::string(buffer.data(), length);
}

std::optional<std::string> Win32System::OwnExecutablePath() {
  char buffer[MAX_PATH + 1] = {};
  DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (length == 0) return std::nullopt;
  if (length >= MAX_PATH) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return std::nullopt;
  }
  return std::string(buffer, length);
}

std::uint32_t Win32System::LogicalDrives() { return ::GetLogicalDrives(); }

std::string Win32System::WideToAnsi(const std::uint16_t* units, std::size_t count) {
  if (count == 0) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(units);
  int length = ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(count), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(count), text.data(), length, nullptr, nullptr);
  return text;
}

bool Win32System::Launch(const std::string& path) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = kSeeMaskIcon;
  info.lpFile = path.c_str();
  info.nShow = SW_SHOWNORMAL;
  info.hIcon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kProgramIconId));
  return ::ShellExecuteExA(&info) != 0;
}

std::string Win32System::StripPath(const std::string& path) {
  std::vector<char> buffer(path.begin(), path.end());
  buffer.push_back('\0');
  ::PathStripPathA(buffer.data());
  return buffer.data();
}

std::optional<std::size_t> Win32System::SkipRoot(const std::string& path) {
  const char* rest = ::PathSkipRootA(path.c_str());
  if (rest == nullptr) return std::nullopt;
  return static_cast<std::size_t>(rest - path.c_str());
}

bool Win32System::IsUnc(const std::string& path) { return ::PathIsUNCA(path.c_str()) != 0; }

void Win32System::ExitProcess(int code) {
  std::fflush(nullptr);
  ::ExitProcess(static_cast<UINT>(code));
}

}  // namespace brelvane
