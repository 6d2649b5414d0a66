#include "platform/win32/win32_system.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_text.h"

namespace brelvane {
namespace {

constexpr DWORD kFormatFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS;                  // 0x1300
constexpr DWORD kNeutralLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);  // 0x400
constexpr int kProgramIconId = 128;
// SEE_MASK_ICON: hIcon holds the icon shown for the started program.
constexpr ULONG kSeeMaskIcon = 0x00000010;

// A descriptor's string at `offset` inside the answer, blanks trimmed; empty
// when the offset is 0 (no such string) or lies outside what was returned.
std::string DescriptorString(const std::vector<unsigned char>& answer, DWORD returned,
                             DWORD offset) {
  if (offset == 0 || offset >= returned) return {};
  const char* begin = reinterpret_cast<const char*>(answer.data()) + offset;
  const char* end = reinterpret_cast<const char*>(answer.data()) + returned;
  const char* stop = std::find(begin, end, '\0');
  std::string text(begin, stop);
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::uint32_t Win32System::LastError() { return ::GetLastError(); }

void Win32System::SetLastError(std::uint32_t code) { ::SetLastError(code); }

std::string Win32System::ErrorText(std::uint32_t code) {
  // UTF-8 like every other text the core shows, whatever the system's language.
  wchar_t* buffer = nullptr;
  DWORD length = ::FormatMessageW(kFormatFlags, nullptr, code, kNeutralLanguage,
                                  reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) return {};
  std::string text = win32text::Narrow(buffer, length);
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

// The length of the directory as CurrentDirectory returns it (UTF-8 bytes)
// with its terminator.
std::uint32_t Win32System::CurrentDirectoryLength() {
  std::optional<std::string> directory = CurrentDirectory();
  if (!directory) return 0;
  return static_cast<std::uint32_t>(directory->size() + 1);
}

std::optional<std::string> Win32System::CurrentDirectory() {
  DWORD size = ::GetCurrentDirectoryW(0, nullptr);
  if (size == 0) return std::nullopt;
  std::vector<wchar_t> buffer(size);
  DWORD length = ::GetCurrentDirectoryW(size, buffer.data());
  if (length == 0) return std::nullopt;
  if (length >= size) {
    // It changed between the two calls and grew.
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return std::nullopt;
  }
  return win32text::Narrow(buffer.data(), length);
}

std::optional<std::string> Win32System::OwnExecutablePath() {
  wchar_t buffer[MAX_PATH + 1] = {};
  DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (length == 0) return std::nullopt;
  if (length >= MAX_PATH) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return std::nullopt;
  }
  return win32text::Narrow(buffer, length);
}

std::optional<std::string> Win32System::TempDirectory() {
  wchar_t buffer[MAX_PATH + 2] = {};
  DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0) return std::nullopt;
  if (length > MAX_PATH + 1) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return std::nullopt;
  }
  return win32text::Narrow(buffer, length);
}

LocalTime Win32System::Now() {
  SYSTEMTIME time = {};
  ::GetLocalTime(&time);
  return LocalTime{time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

void Win32System::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

std::uint32_t Win32System::LogicalDrives() { return ::GetLogicalDrives(); }

std::optional<VolumeStorage> Win32System::QueryVolumeStorage(char letter) {
  // No access rights are asked for: the queries below need none, and a
  // volume opened this way is neither read nor locked.
  wchar_t path[] = L"\\\\.\\X:";
  path[4] = static_cast<wchar_t>(static_cast<unsigned char>(letter));
  ScopedHandle volume(::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  if (!volume.valid()) return std::nullopt;

  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  std::vector<unsigned char> answer(1024, 0);
  DWORD returned = 0;
  if (!::DeviceIoControl(volume.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                         answer.data(), static_cast<DWORD>(answer.size()), &returned, nullptr) ||
      returned < sizeof(STORAGE_DEVICE_DESCRIPTOR))
    return std::nullopt;
  STORAGE_DEVICE_DESCRIPTOR descriptor;
  std::memcpy(&descriptor, answer.data(), sizeof descriptor);

  STORAGE_DEVICE_NUMBER number{};
  DWORD size = 0;
  if (!::DeviceIoControl(volume.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                         sizeof number, &size, nullptr))
    return std::nullopt;

  VolumeStorage storage;
  storage.bus_type = static_cast<std::uint32_t>(descriptor.BusType);
  storage.vendor = DescriptorString(answer, returned, descriptor.VendorIdOffset);
  storage.product = DescriptorString(answer, returned, descriptor.ProductIdOffset);
  storage.disk_number = number.DeviceNumber;
  PARTITION_INFORMATION_EX partition{};
  if (::DeviceIoControl(volume.get(), IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &partition,
                        sizeof partition, &size, nullptr))
    storage.partition_offset = static_cast<std::uint64_t>(partition.StartingOffset.QuadPart);
  return storage;
}

std::string Win32System::WideToAnsi(const std::uint16_t* units, std::size_t count) {
  if (count == 0) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(units);
  int length =
      ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(count), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(count), text.data(), length, nullptr,
                        nullptr);
  return text;
}

std::string Win32System::FromAnsi(const std::string& bytes) { return win32text::AnsiToUtf8(bytes); }

std::optional<std::string> Win32System::ToAnsi(const std::string& text) {
  return win32text::Utf8ToAnsi(text);
}

bool Win32System::SamePathIgnoringCase(const std::string& a, const std::string& b) {
  const std::wstring wideA = win32text::Widen(a);
  const std::wstring wideB = win32text::Widen(b);
  return ::CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                                static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

bool Win32System::Launch(const std::string& path) {
  const std::wstring file = win32text::Widen(path);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = kSeeMaskIcon;
  info.lpFile = file.c_str();
  info.nShow = SW_SHOWNORMAL;
  info.hIcon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kProgramIconId));
  // The shell may hand the file to extensions that need COM, apartment
  // threaded, on the calling thread; the run calls this from its worker.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const bool started = ::ShellExecuteExW(&info) != 0;
  const DWORD error = ::GetLastError();
  if (SUCCEEDED(com)) ::CoUninitialize();
  ::SetLastError(error);
  return started;
}

namespace {

// One argument as the C runtime's parser reads it back (CommandLineToArgvW's
// rules): quoted when it holds a blank or a quote or is empty; a quote
// escaped, and the backslashes before a quote, or before the closing quote,
// doubled.
void AppendArgument(std::wstring& line, const std::wstring& argument) {
  if (!line.empty()) line += L' ';
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

bool EndsWithIgnoringCase(const std::wstring& text, const wchar_t* tail) {
  const std::size_t length = std::wcslen(tail);
  return text.size() >= length && ::_wcsicmp(text.c_str() + text.size() - length, tail) == 0;
}

// The program a command names: a path as it stands; a bare name on PATH
// alone, never in the current folder or this program's (where a planted
// signtool.exe would run), with .exe added when it has no extension.
std::wstring ProgramPath(const std::wstring& name) {
  if (name.find_first_of(L"\\/:") != std::wstring::npos) return name;
  const std::wstring file = name.find(L'.') == std::wstring::npos ? name + L".exe" : name;
  const DWORD size = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
  std::wstring path(size, L'\0');
  if (size == 0 || ::GetEnvironmentVariableW(L"PATH", path.data(), size) >= size) return {};
  path.resize(std::wcslen(path.c_str()));
  for (std::size_t from = 0; from <= path.size();) {
    std::size_t to = path.find(L';', from);
    if (to == std::wstring::npos) to = path.size();
    std::wstring folder = path.substr(from, to - from);
    from = to + 1;
    if (folder.empty()) continue;
    if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    const DWORD bits = ::GetFileAttributesW((folder + file).c_str());
    if (bits != INVALID_FILE_ATTRIBUTES && (bits & FILE_ATTRIBUTE_DIRECTORY) == 0)
      return folder + file;
  }
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  return {};
}

}  // namespace

std::optional<int> Win32System::RunProgram(const std::vector<std::string>& arguments) {
  if (arguments.empty()) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  const std::wstring program = ProgramPath(win32text::Widen(arguments.front()));
  if (program.empty()) return std::nullopt;
  // A batch file runs through cmd.exe, a shell that reads its arguments
  // again ('&', '%'): refused.
  if (EndsWithIgnoringCase(program, L".bat") || EndsWithIgnoringCase(program, L".cmd")) {
    ::SetLastError(ERROR_BAD_EXE_FORMAT);
    return std::nullopt;
  }
  std::wstring line;
  for (const std::string& argument : arguments) AppendArgument(line, win32text::Widen(argument));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // The standard handles are the caller's; a console program shares its
  // console.
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return std::nullopt;
  }
  const ScopedHandle thread(process.hThread);
  const ScopedHandle child(process.hProcess);
  DWORD code = 0;
  if (::WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(process.hProcess, &code)) {
    return std::nullopt;
  }
  return static_cast<int>(code);
}

// The shell's path routines run on the wide form: their A forms would split
// UTF-8 bytes as if they were characters of the ANSI code page.  What they
// return is cut from the original bytes, so nothing is re-encoded.
std::string Win32System::StripPath(const std::string& whole) {
  // The routine sees the string up to its first zero, as a C string.
  const std::string path = whole.substr(0, whole.find('\0'));
  std::vector<std::size_t> offsets;
  std::wstring wide = win32text::Widen(path, &offsets);
  const std::size_t length = wide.size();
  ::PathStripPathW(wide.data());
  const std::size_t kept = std::wcslen(wide.c_str());
  return path.substr(offsets[length - kept]);
}

std::optional<std::size_t> Win32System::SkipRoot(const std::string& path) {
  std::vector<std::size_t> offsets;
  const std::wstring wide = win32text::Widen(path, &offsets);
  const wchar_t* rest = ::PathSkipRootW(wide.c_str());
  if (rest == nullptr) return std::nullopt;
  return offsets[static_cast<std::size_t>(rest - wide.c_str())];
}

bool Win32System::IsUnc(const std::string& path) {
  return ::PathIsUNCW(win32text::Widen(path).c_str()) != 0;
}

void Win32System::ExitProcess(int code) {
  std::fflush(nullptr);
  ::ExitProcess(static_cast<UINT>(code));
}

}  // namespace brelvane
