// The stand-ins for the kernel32 calls older Windows lacks give the answers
// the system's own calls give.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/older_windows.h"

namespace brelvane {
namespace {

using namespace brelvane::win32;

TEST(OlderWindowsStandIns, CompareStringOrdinalAgreesWithTheSystem) {
  struct Row {
    const wchar_t* a;
    const wchar_t* b;
    BOOL ignoreCase;
  };
  const Row rows[] = {
      {L"E:\\Brelvane.exe", L"e:\\BRELVANE.EXE", TRUE},
      {L"E:\\Brelvane.exe", L"e:\\brelvane.exe", FALSE},
      {L"abc", L"abd", TRUE},
      {L"abd", L"abc", FALSE},
      {L"ab", L"abc", TRUE},
      {L"\u00e9t\u00e9", L"\u00c9T\u00c9", TRUE},
      {L"", L"", TRUE},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CompareStringOrdinalStandIn(row.a, -1, row.b, -1, row.ignoreCase),
              ::CompareStringOrdinal(row.a, -1, row.b, -1, row.ignoreCase))
        << testing::PrintToString(std::wstring(row.a)) << " "
        << testing::PrintToString(std::wstring(row.b));
  }
}

TEST(OlderWindowsStandIns, BasicInfoIsReadAndWrittenAsTheSystemDoes) {
  wchar_t folder[MAX_PATH + 1] = {};
  ASSERT_NE(::GetTempPathW(MAX_PATH, folder), 0u);
  const std::wstring path = std::wstring(folder) + L"brelvane-older-" +
                            std::to_wstring(::GetCurrentProcessId()) + L".txt";
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                              CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILE_BASIC_INFO mine{}, system{};
  ASSERT_TRUE(GetFileInformationByHandleExStandIn(file, FileBasicInfo, &mine, sizeof mine));
  ASSERT_TRUE(::GetFileInformationByHandleEx(file, FileBasicInfo, &system, sizeof system));
  EXPECT_EQ(mine.FileAttributes, system.FileAttributes);
  EXPECT_EQ(mine.LastWriteTime.QuadPart, system.LastWriteTime.QuadPart);
  mine.FileAttributes = FILE_ATTRIBUTE_HIDDEN;
  ASSERT_TRUE(SetFileInformationByHandleStandIn(file, FileBasicInfo, &mine, sizeof mine));
  EXPECT_EQ(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN);
  // A class the stand-ins do not take fails as an unknown class does.
  EXPECT_FALSE(GetFileInformationByHandleExStandIn(file, FileNameInfo, &mine, sizeof mine));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ::CloseHandle(file);
}

// A fresh process counts the wraps from its own start, so only the low part
// is the system's.
TEST(OlderWindowsStandIns, TickCountFollowsTheSystemsClock) {
  const DWORD mine = static_cast<DWORD>(GetTickCount64StandIn());
  const DWORD system = static_cast<DWORD>(::GetTickCount64());
  EXPECT_LE(system - mine, 1000u);
}

}  // namespace
}  // namespace brelvane
#endif
