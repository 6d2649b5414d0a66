// The simulation's system services: the last error, the system's error texts,
// a settable platform id and current directory, and the shell's path rules.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_file_system.h"

namespace brelvane {

class PosixSystem : public System {
 public:
  // Learns the mapped drives and checks launched files through `files`.
  explicit PosixSystem(PosixFileSystem& files);

  // 2 (NT family) unless set; 1 simulates the 9x family.
  void SetPlatformId(int id) { platform_id_ = id; }
  // A Windows path; the host's working directory until set.
  void SetCurrentDirectory(std::string directory) { current_directory_ = std::move(directory); }
  // The host path of the running program unless set.
  void SetOwnExecutablePath(std::string path) { own_path_ = std::move(path); }
  // What the storage stack answers for the volume at `letter` (the machine
  // file's @storage lines); a letter without one gets no answer, as a
  // volume that cannot be opened.
  void SetVolumeStorage(char letter, VolumeStorage storage) {
    volume_storage_[letter] = std::move(storage);
  }
  // Told about every program the simulation "starts".
  void SetLaunchObserver(std::function<void(const std::string&)> observer) {
    launch_observer_ = std::move(observer);
  }

  std::uint32_t LastError() override;
  void SetLastError(std::uint32_t code) override;
  std::string ErrorText(std::uint32_t code) override;
  int PlatformId() override;
  std::uint32_t CurrentDirectoryLength() override;
  std::optional<std::string> CurrentDirectory() override;
  std::optional<std::string> OwnExecutablePath() override;
  // $TMPDIR, else /tmp: a host path, which the simulation's files take as is.
  std::optional<std::string> TempDirectory() override;
  LocalTime Now() override;
  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t LogicalDrives() override;
  std::optional<VolumeStorage> QueryVolumeStorage(char letter) override;
  std::string WideToAnsi(const std::uint16_t* units, std::size_t count) override;
  // The simulated machine's ANSI code page is 1252, the one Windows sets
  // for the languages the drives are sold with; paths here are UTF-8.
  std::string FromAnsi(const std::string& bytes) override;
  std::optional<std::string> ToAnsi(const std::string& text) override;
  bool SamePathIgnoringCase(const std::string& a, const std::string& b) override;
  bool Launch(const std::string& path) override;
  std::optional<int> RunProgram(const std::vector<std::string>& arguments) override;
  std::string StripPath(const std::string& path) override;
  std::optional<std::size_t> SkipRoot(const std::string& path) override;
  bool IsUnc(const std::string& path) override;
  [[noreturn]] void ExitProcess(int code) override;

 private:
  PosixFileSystem& files_;
  int platform_id_ = win::kVerPlatformWin32Nt;
  std::optional<std::string> current_directory_;
  std::optional<std::string> own_path_;
  std::function<void(const std::string&)> launch_observer_;
  std::map<char, VolumeStorage> volume_storage_;
};

// UTF-16 to code page 1252, the ANSI code page of a Western system; a
// character outside it becomes '?'.
std::string Utf16ToCp1252(const std::uint16_t* units, std::size_t count);

}  // namespace brelvane
