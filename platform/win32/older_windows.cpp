#include "platform/win32/older_windows.h"

#include <cstring>
#include <cwchar>
#include <string>

namespace brelvane::win32 {

namespace {

// The uppercase form of a string, each unit folded on its own as an
// ordinal comparison folds it.
std::wstring Upper(LPCWCH text, int length) {
  std::wstring folded(text, static_cast<std::size_t>(length));
  if (length > 0) {
    ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text, length, folded.data(), length);
  }
  return folded;
}

// ntdll's information calls, which every NT system has.
using InformationFunction = LONG(NTAPI*)(HANDLE, void*, void*, ULONG, int);
using StatusToErrorFunction = ULONG(NTAPI*)(LONG);
constexpr int kFileBasicInformation = 4;

template <typename Function>
Function NtdllFunction(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}

BOOL BasicInformation(const char* call, HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID buffer,
                      DWORD size) {
  if (kind != FileBasicInfo || size < sizeof(FILE_BASIC_INFO)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto function = NtdllFunction<InformationFunction>(call);
  if (function == nullptr) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  // IO_STATUS_BLOCK: a status or pointer, then the bytes handled.
  ULONG_PTR ioStatus[2] = {};
  const LONG status =
      function(file, ioStatus, buffer, sizeof(FILE_BASIC_INFO), kFileBasicInformation);
  if (status >= 0) return TRUE;
  const auto toError = NtdllFunction<StatusToErrorFunction>("RtlNtStatusToDosError");
  ::SetLastError(toError != nullptr ? toError(status) : ERROR_GEN_FAILURE);
  return FALSE;
}

}  // namespace

int WINAPI CompareStringOrdinalStandIn(LPCWCH a, int lengthA, LPCWCH b, int lengthB,
                                       BOOL ignoreCase) {
  if (a == nullptr || b == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (lengthA < 0) lengthA = static_cast<int>(std::wcslen(a));
  if (lengthB < 0) lengthB = static_cast<int>(std::wcslen(b));
  const std::wstring left =
      ignoreCase ? Upper(a, lengthA) : std::wstring(a, static_cast<std::size_t>(lengthA));
  const std::wstring right =
      ignoreCase ? Upper(b, lengthB) : std::wstring(b, static_cast<std::size_t>(lengthB));
  const int order = left.compare(right);
  return order < 0 ? CSTR_LESS_THAN : order > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}

BOOL WINAPI GetFileInformationByHandleExStandIn(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                                LPVOID buffer, DWORD size) {
  return BasicInformation("NtQueryInformationFile", file, kind, buffer, size);
}

BOOL WINAPI SetFileInformationByHandleStandIn(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                              LPVOID buffer, DWORD size) {
  return BasicInformation("NtSetInformationFile", file, kind, buffer, size);
}

HANDLE WINAPI OpenFileByIdStandIn(HANDLE, LPFILE_ID_DESCRIPTOR, DWORD, DWORD, LPSECURITY_ATTRIBUTES,
                                  DWORD) {
  ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return INVALID_HANDLE_VALUE;
}

ULONGLONG WINAPI GetTickCount64StandIn() {
  // The 32-bit count wraps after 49.7 days; each wrap seen adds to the high
  // part.  Callers time short waits, so a wrap between two calls on two
  // threads costs at most one early or late timeout.
  static volatile LONG high = 0;
  static volatile LONG lastLow = 0;
  const DWORD now = ::GetTickCount();
  const DWORD before = static_cast<DWORD>(::InterlockedExchange(&lastLow, static_cast<LONG>(now)));
  if (now < before) ::InterlockedIncrement(&high);
  return (static_cast<ULONGLONG>(static_cast<DWORD>(high)) << 32) | now;
}

namespace {

template <typename Function>
FARPROC AsFarProc(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

FARPROC StandInFor(const char* name) {
  struct StandIn {
    const char* name;
    FARPROC function;
  };
  const StandIn standIns[] = {
      {"CompareStringOrdinal", AsFarProc(&CompareStringOrdinalStandIn)},
      {"GetFileInformationByHandleEx", AsFarProc(&GetFileInformationByHandleExStandIn)},
      {"SetFileInformationByHandle", AsFarProc(&SetFileInformationByHandleStandIn)},
      {"OpenFileById", AsFarProc(&OpenFileByIdStandIn)},
      {"GetTickCount64", AsFarProc(&GetTickCount64StandIn)},
  };
  for (const StandIn& standIn : standIns) {
    if (std::strcmp(standIn.name, name) == 0) return standIn.function;
  }
  return nullptr;
}

}  // namespace brelvane::win32
