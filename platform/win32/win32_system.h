// The real system services of Windows.  Paths cross the seam as UTF-8 and
// reach the system through its wide-character calls.
#pragma once

#include "platform/platform.h"

namespace brelvane {

class Win32System : public System {
 public:
  std::uint32_t LastError() override;
  void SetLastError(std::uint32_t code) override;
  std::string ErrorText(std::uint32_t code) override;
  int PlatformId() override;
  std::uint32_t CurrentDirectoryLength() override;
  std::optional<std::string> CurrentDirectory() override;
  std::optional<std::string> OwnExecutablePath() override;
  std::optional<std::string> TempDirectory() override;
  LocalTime Now() override;
  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t LogicalDrives() override;
  std::optional<VolumeStorage> QueryVolumeStorage(char letter) override;
  std::string WideToAnsi(const std::uint16_t* units, std::size_t count) override;
  std::string FromAnsi(const std::string& bytes) override;
  std::optional<std::string> ToAnsi(const std::string& text) override;
  bool SamePathIgnoringCase(const std::string& a, const std::string& b) override;
  bool Launch(const std::string& path) override;
  std::optional<int> RunProgram(const std::vector<std::string>& arguments) override;
  std::string StripPath(const std::string& path) override;
  std::optional<std::size_t> SkipRoot(const std::string& path) override;
  bool IsUnc(const std::string& path) override;
  [[noreturn]] void ExitProcess(int code) override;
};

}  // namespace brelvane
