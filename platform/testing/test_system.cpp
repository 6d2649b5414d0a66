#include "platform/testing/test_system.h"

#include <cstdio>
#include <cstdlib>

namespace brelvane::testing {

void TestSystem::SetCurrentDirectory(std::string directory) {
  current_directory_ = std::move(directory);
  current_directory_length_.reset();
}

int TestSystem::PlatformId() { return platform_id_ ? *platform_id_ : host().PlatformId(); }

std::uint32_t TestSystem::CurrentDirectoryLength() {
  if (current_directory_length_error_) {
    host().SetLastError(*current_directory_length_error_);
    return 0;
  }
  if (current_directory_length_) return *current_directory_length_;
  if (current_directory_) return static_cast<std::uint32_t>(current_directory_->size() + 1);
  return host().CurrentDirectoryLength();
}

std::optional<std::string> TestSystem::CurrentDirectory() {
  if (current_directory_error_) {
    host().SetLastError(*current_directory_error_);
    return std::nullopt;
  }
  if (current_directory_) return current_directory_;
  return host().CurrentDirectory();
}

std::optional<std::string> TestSystem::OwnExecutablePath() {
  if (own_path_error_) {
    host().SetLastError(*own_path_error_);
    return std::nullopt;
  }
  if (own_path_) return own_path_;
  return host().OwnExecutablePath();
}

std::uint32_t TestSystem::LogicalDrives() {
  return logical_drives_ ? *logical_drives_ : host().LogicalDrives();
}

std::optional<VolumeStorage> TestSystem::QueryVolumeStorage(char letter) {
  auto found = volume_storage_.find(letter);
  if (found != volume_storage_.end()) return found->second;
  if (storage_only_set_) return std::nullopt;
  return host().QueryVolumeStorage(letter);
}

bool TestSystem::Launch(const std::string& path) {
  launched_.push_back(path);
  if (launch_error_) {
    host().SetLastError(*launch_error_);
    return false;
  }
  return true;
}

void TestSystem::ExitProcess(int code) {
  std::fprintf(stderr, "ExitProcess(%d) called under test: only a front-end ends the process\n",
               code);
  std::abort();
}

}  // namespace brelvane::testing
