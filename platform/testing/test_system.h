// A System for tests: passes every call to a real System unless the test
// has overridden the answer.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/forwarding_system.h"

namespace brelvane::testing {

class TestSystem : public ForwardingSystem {
 public:
  explicit TestSystem(System& real) : ForwardingSystem(real) {}

  void SetPlatformId(int id) { platform_id_ = id; }
  // The current directory (its length follows from it).
  void SetCurrentDirectory(std::string directory);
  // A length that disagrees with the directory (it changed between calls).
  void SetCurrentDirectoryLength(std::uint32_t length) { current_directory_length_ = length; }
  void FailCurrentDirectoryLength(std::uint32_t error) { current_directory_length_error_ = error; }
  void FailCurrentDirectory(std::uint32_t error) { current_directory_error_ = error; }
  void SetOwnExecutablePath(std::string path) { own_path_ = std::move(path); }
  void FailOwnExecutablePath(std::uint32_t error) { own_path_error_ = error; }
  void SetLogicalDrives(std::uint32_t mask) { logical_drives_ = mask; }
  // The storage stack's answer for `letter`; letters never set get the real
  // system's answer unless NoVolumeStorage was called, which also forgets
  // every answer set so far.
  void SetVolumeStorage(char letter, VolumeStorage storage) {
    volume_storage_[letter] = std::move(storage);
  }
  void NoVolumeStorage() {
    volume_storage_.clear();
    storage_only_set_ = true;
  }
  void SetTempDirectory(std::string directory) { temp_directory_ = std::move(directory); }
  // Launch records the path and succeeds without starting anything, unless
  // told to fail.
  void FailLaunch(std::uint32_t error) { launch_error_ = error; }
  const std::vector<std::string>& launched() const { return launched_; }

  int PlatformId() override;
  std::uint32_t CurrentDirectoryLength() override;
  std::optional<std::string> CurrentDirectory() override;
  std::optional<std::string> OwnExecutablePath() override;
  std::optional<std::string> TempDirectory() override {
    return temp_directory_ ? temp_directory_ : host().TempDirectory();
  }
  // Waits no time: the milliseconds asked for are added up instead.
  void Sleep(std::uint32_t milliseconds) override { slept_ += milliseconds; }
  std::uint64_t slept() const { return slept_; }
  std::uint32_t LogicalDrives() override;
  std::optional<VolumeStorage> QueryVolumeStorage(char letter) override;
  bool Launch(const std::string& path) override;
  // Page logic never ends the process (it gives an ending, app/page_ending.h):
  // a call here is a fault, so it aborts the test program with a message.
  [[noreturn]] void ExitProcess(int code) override;

 private:
  std::optional<int> platform_id_;
  std::optional<std::string> current_directory_;
  std::optional<std::uint32_t> current_directory_length_;
  std::optional<std::uint32_t> current_directory_length_error_;
  std::optional<std::uint32_t> current_directory_error_;
  std::optional<std::string> own_path_;
  std::optional<std::uint32_t> own_path_error_;
  std::optional<std::uint32_t> logical_drives_;
  std::map<char, VolumeStorage> volume_storage_;
  bool storage_only_set_ = false;
  std::optional<std::string> temp_directory_;
  std::optional<std::uint32_t> launch_error_;
  std::vector<std::string> launched_;
  std::uint64_t slept_ = 0;
};

}  // namespace brelvane::testing
