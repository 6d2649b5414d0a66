// Stand-ins for the few kernel32 calls that Windows XP and Server 2003 lack.
// The programs delay-load these calls (cmake/delay_imports.cmake), so they
// start on systems without them; where the system has none, the delay-load
// helper takes the stand-in of the same name, built on what those systems
// have.
#pragma once

#include <windows.h>

namespace brelvane::win32 {

// The same answers as the system's calls, for what the programs ask of them.
int WINAPI CompareStringOrdinalStandIn(LPCWCH a, int lengthA, LPCWCH b, int lengthB,
                                       BOOL ignoreCase);
// FileBasicInfo only (through ntdll); any other class fails with
// ERROR_INVALID_PARAMETER, as a class the system does not know does.
BOOL WINAPI GetFileInformationByHandleExStandIn(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                                LPVOID buffer, DWORD size);
BOOL WINAPI SetFileInformationByHandleStandIn(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                              LPVOID buffer, DWORD size);
// Fails with ERROR_CALL_NOT_IMPLEMENTED: a file is then not reached by its
// id (the swap then leaves the other names of a hard-linked read-only file
// without the bits it had to clear).
HANDLE WINAPI OpenFileByIdStandIn(HANDLE hint, LPFILE_ID_DESCRIPTOR id, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD flags);
ULONGLONG WINAPI GetTickCount64StandIn();

// The stand-in of the kernel32 call `name`, or nullptr.
FARPROC StandInFor(const char* name);

}  // namespace brelvane::win32
