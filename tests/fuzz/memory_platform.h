// A whole platform in memory for the fuzz targets: files in a map, a system
// with fixed answers, prompts that answer every box safely.  Fast enough for
// millions of runs and free of any host state between them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace brelvane::fuzz {

class MemorySystem : public System {
 public:
  int platformId = win::kVerPlatformWin32Nt;
  std::uint32_t drives = 0x03FFFFFC;  // C: to Z:

  std::uint32_t LastError() override { return error_; }
  void SetLastError(std::uint32_t code) override { error_ = code; }
  std::string ErrorText(std::uint32_t code) override;
  int PlatformId() override { return platformId; }
  std::uint32_t CurrentDirectoryLength() override { return 4; }
  std::optional<std::string> CurrentDirectory() override { return std::string("C:\\"); }
  std::optional<std::string> OwnExecutablePath() override { return std::string("C:\\setup.exe"); }
  std::optional<std::string> TempDirectory() override { return std::string("C:\\"); }
  LocalTime Now() override { return {}; }
  void Sleep(std::uint32_t) override {}
  std::uint32_t LogicalDrives() override { return drives; }
  std::optional<VolumeStorage> QueryVolumeStorage(char) override { return std::nullopt; }
  std::string WideToAnsi(const std::uint16_t* units, std::size_t count) override;
  std::string FromAnsi(const std::string& bytes) override { return bytes; }
  std::optional<std::string> ToAnsi(const std::string& text) override { return text; }
  bool SamePathIgnoringCase(const std::string& a, const std::string& b) override { return a == b; }
  bool Launch(const std::string&) override { return false; }
  std::optional<int> RunProgram(const std::vector<std::string>&) override { return std::nullopt; }
  std::string StripPath(const std::string& path) override;
  std::optional<std::size_t> SkipRoot(const std::string& path) override;
  bool IsUnc(const std::string& path) override;
  [[noreturn]] void ExitProcess(int code) override;

 private:
  std::uint32_t error_ = 0;
};

// Flat files only: paths are plain keys, and the one directory that exists
// is the drive root "C:\".
class MemoryFileSystem : public FileSystem {
 public:
  explicit MemoryFileSystem(System& system) : system_(system) {}

  void Put(const std::string& path, std::vector<std::uint8_t> bytes) {
    files_[path] = std::move(bytes);
  }
  const std::vector<std::uint8_t>* Get(const std::string& path) const;
  std::size_t OpenCount() const { return handles_.size(); }

  FileHandle OpenRead(const std::string& path) override { return Open(path, false, false); }
  FileHandle OpenReadExclusive(const std::string& path) override {
    return Open(path, false, false);
  }
  FileHandle CreateExclusive(const std::string& path) override;
  FileHandle OpenAppend(const std::string& path) override { return Open(path, true, true); }
  FileHandle OpenUpdate(const std::string& path) override;
  std::int64_t Read(FileHandle file, void* buffer, std::size_t size) override;
  std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) override;
  std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override;
  std::int64_t Length(FileHandle file) override;
  bool Truncate(FileHandle file, std::int64_t length) override;
  bool Lock(FileHandle file, LockMode) override { return Unlock(file); }
  bool Unlock(FileHandle file) override {
    return handles_.count(file) != 0 || Fail(win::kErrorInvalidHandle);
  }
  bool Flush(FileHandle file) override { return Unlock(file); }
  bool Close(FileHandle file) override;
  std::uint32_t GetAttributes(const std::string& path) override;
  bool SetAttributes(const std::string& path, std::uint32_t attributes) override;
  bool DeleteFile(const std::string& path) override;
  bool CreateDirectory(const std::string&) override { return Fail(win::kErrorAccessDenied); }
  bool RemoveDirectory(const std::string&) override { return Fail(win::kErrorAccessDenied); }
  std::optional<std::vector<DirEntry>> FindFiles(const std::string& pattern) override;
  bool Exists(const std::string& path) override { return IsRoot(path) || files_.count(path) != 0; }
  bool IsDirectory(const std::string& path) override { return IsRoot(path); }
  std::optional<FileId> Identify(const std::string& path) override;
  bool MoveIntoPlace(const std::string& from, const std::string& to, bool replaceExisting) override;
  // Memory holds whatever is written.
  std::optional<std::uint64_t> FreeBytes(const std::string&) override { return UINT64_MAX; }
  std::optional<VolumeFacts> DescribeVolume(const std::string&) override {
    return VolumeFacts{false, 512};
  }

 private:
  struct Handle {
    std::string path;
    std::int64_t position = 0;
    bool writable = false;
    bool append = false;
    bool update = false;  // writable and readable, writes where the position stands
  };
  static bool IsRoot(const std::string& path) { return path == "C:\\"; }
  FileHandle Open(const std::string& path, bool writable, bool append);
  Handle* Find(FileHandle file);
  bool Fail(std::uint32_t code) {
    system_.SetLastError(code);
    return false;
  }

  System& system_;
  std::map<std::string, std::vector<std::uint8_t>> files_;
  std::map<std::string, std::uint32_t> attributes_;
  std::map<FileHandle, Handle> handles_;
  FileHandle next_ = 3;
};

class QuietPrompts : public Prompts {
 public:
  int Show(const Message& message) override;
  void BeginWait() override { ++depth; }
  void EndWait() override { --depth; }
  int depth = 0;
  int shown = 0;
};

// A registry without keys.
class NoRegistry : public Registry {
 public:
  long OpenKey(RegKey, const std::string&, std::uint32_t, RegKey* out) override;
  long EnumKey(RegKey, std::uint32_t, std::size_t, std::string*) override;
  long QueryValue(RegKey, const std::string&, std::uint32_t*, std::uint8_t*,
                  std::uint32_t*) override;
  long CloseKey(RegKey) override { return 0; }
};

// Stops the run with a message when an invariant does not hold, so that
// libFuzzer keeps the input as a crash.
[[noreturn]] void Violated(const char* what);
#define FUZZ_CHECK(condition)                                 \
  do {                                                        \
    if (!(condition)) ::brelvane::fuzz::Violated(#condition); \
  } while (0)

}  // namespace brelvane::fuzz
