#include "support/temp_drive.h"

#include "common/name_rules.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace brelvane::testing {
namespace fs = std::filesystem;

long EmptyRegistry::OpenKey(RegKey, const std::string&, std::uint32_t, RegKey* out) {
  if (out != nullptr) *out = kNoKey;
  return static_cast<long>(win::kErrorFileNotFound);
}

long EmptyRegistry::EnumKey(RegKey, std::uint32_t, std::size_t, std::string*) {
  return static_cast<long>(win::kErrorNoMoreItems);
}

long EmptyRegistry::QueryValue(RegKey, const std::string&, std::uint32_t*, std::uint8_t*,
                               std::uint32_t*) {
  return static_cast<long>(win::kErrorFileNotFound);
}

long EmptyRegistry::CloseKey(RegKey) { return 0; }

TestPlatform::TestPlatform() = default;

namespace {

std::string MakeHostFolder() {
#ifdef _WIN32
  static std::atomic<int> counter{0};
  for (int attempt = 0; attempt < 1000; ++attempt) {
    fs::path candidate =
        fs::temp_directory_path() /
        ("brelvane-drive-" + std::to_string(::_getpid()) + "-" + std::to_string(counter++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) return candidate.string();
  }
  throw std::runtime_error("cannot create a temporary folder");
#else
  std::string pattern = (fs::temp_directory_path() / "brelvane-drive-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot create a temporary folder");
  return pattern;
#endif
}

// Read-only entries would stop the removal on Windows: make everything
// writable first.
void RemoveHostTree(const std::string& root) {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code ignored;
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::remove_all(root, error);
}

}  // namespace

TempDrive::TempDrive(TestPlatform& platform, char letter)
    : platform_(platform),
      letter_(static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))),
      host_root_(MakeHostFolder()) {
#ifdef _WIN32
  root_ = host_root_ + "\\";
#else
  platform_.host().files().drives().Map(letter_, host_root_);
  root_ = std::string(1, letter_) + ":\\";
#endif
}

TempDrive::~TempDrive() {
#ifndef _WIN32
  platform_.host().files().drives().Unmap(letter_);
#endif
  RemoveHostTree(host_root_);
}

bool TempDrive::IsDriveRoot() const {
#ifdef _WIN32
  return false;
#else
  return true;
#endif
}

std::string TempDrive::WinPath(const std::string& relative) const { return root_ + relative; }

std::string TempDrive::HostPath(const std::string& relative) const {
#ifdef _WIN32
  return WinPath(relative);
#else
  std::string host = host_root_ + "/" + relative;
  for (std::size_t i = host_root_.size(); i < host.size(); ++i) {
    if (host[i] == '\\') host[i] = '/';
  }
  return host;
#endif
}

void TempDrive::WriteHostFile(const std::string& relative, const std::string& bytes) const {
  std::ofstream out(HostPath(relative), std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + HostPath(relative));
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::optional<std::string> TempDrive::ReadHostFile(const std::string& relative) const {
  std::ifstream in(HostPath(relative), std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TempDrive::MakeHostDirectory(const std::string& relative) const {
  fs::create_directories(HostPath(relative));
}

bool TempDrive::HostExists(const std::string& relative) const {
  std::error_code error;
  return fs::exists(HostPath(relative), error);
}

std::vector<std::string> TempDrive::ListHost(const std::string& relative) const {
  std::vector<std::string> names;
  std::error_code error;
  for (auto it = fs::directory_iterator(HostPath(relative), error);
       !error && it != fs::directory_iterator(); it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  return names;
}

bool MakeHostLink(FileSystem& files, const std::string& host_link, const std::string& win_link,
                  const std::string& host_target) {
  std::error_code error;
  if (fs::is_directory(host_target, error)) {
    fs::create_directory_symlink(host_target, host_link, error);
  } else {
    fs::create_symlink(host_target, host_link, error);
  }
  if (error) return false;
  const std::uint32_t attributes = files.GetAttributes(win_link);
  if (attributes != win::kInvalidAttributes && (attributes & win::kAttrReparsePoint) != 0)
    return true;
  fs::remove(host_link, error);
  return false;
}

int StagingFilesIn(const std::string& host_folder) {
  int count = 0;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(host_folder, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (IsStagingName(it->path().filename().string())) ++count;
  }
  return count;
}

}  // namespace brelvane::testing
