// A FileSystem for fault-injection tests: passes every call to another file
// system, counts the calls by kind, and fails chosen ones with a chosen
// Windows code (left in the last error, as a real failure would).
//
// A sweep in the manner of "fail the 1st write, then the 2nd, ..." runs a
// scenario with FailNth(kind, k, code) for k = 1, 2, ... until Triggered()
// stays false: every point of failure has then been visited.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace brelvane::testing {

class FaultyFileSystem : public FileSystem {
 public:
  enum class Op {
    Open,  // the four opens and the exclusive create
    Read,
    Write,
    Seek,
    Length,
    Truncate,
    Lock,  // Lock and Unlock
    Flush,
    Close,
    GetAttributes,
    SetAttributes,
    Delete,
    CreateDirectory,
    RemoveDirectory,
    Find,
    Probe,  // Exists and IsDirectory (a failing probe answers false)
    Identify,
    Replace,
    FreeSpace,  // FreeBytes and DescribeVolume
  };

  FaultyFileSystem(FileSystem& inner, System& system) : inner_(inner), system_(system) {}

  // Fails the `nth` call of `op` (1 is the next one counted from the last
  // Reset), and with `and_after` every later one too.
  void FailNth(Op op, int nth, std::uint32_t error, bool and_after = false);
  // Fails every call of `op` from now on.
  void FailAll(Op op, std::uint32_t error) { FailNth(op, Count(op) + 1, error, true); }
  // Runs `action` just before the `nth` call of `op` reaches the inner file
  // system (a drive pulled out in the middle of a copy, say).
  void BeforeNth(Op op, int nth, std::function<void()> action) {
    actions_.push_back({op, nth, std::move(action)});
  }
  // Fails every call of `op` whose path contains `fragment`.
  void FailPath(Op op, const std::string& fragment, std::uint32_t error);
  // The disk fills after `bytes` more bytes: the write that crosses the limit
  // is short, later ones fail; both leave `error` (disk full by default).
  void LimitWrites(std::int64_t bytes, std::uint32_t error = win::kErrorDiskFull);
  // From the moment `changes` calls that change something (a create, an
  // open for writing, a write, a cut, bits, a removal, a folder, a rename)
  // have been made, every call fails: the files are as a process killed
  // right after them left them.
  void DieAfterChanges(int changes) { die_after_ = changes; }
  int Changes() const { return changes_; }
  // A nearly full volume for the paths holding `fragment`: FreeBytes
  // answers `bytes`, less what is written from now on into files created
  // there, plus what files removed or replaced there held.
  void ReportFreeBytes(const std::string& fragment, std::uint64_t bytes) {
    room_ = Room{fragment, static_cast<std::int64_t>(bytes)};
  }
  // What DescribeVolume answers from now on, in place of the inner file
  // system's answer (a write-protected stick, a volume of large clusters).
  void ReportVolume(VolumeFacts facts) { volume_ = facts; }
  // Forgets the rules and the counts.
  void Reset();

  int Count(Op op) const;
  // Whether any rule has failed a call since the last Reset.
  bool Triggered() const { return triggered_; }
  int FailureCount() const { return failures_; }

  FileHandle OpenRead(const std::string& path) override;
  FileHandle OpenReadExclusive(const std::string& path) override;
  FileHandle CreateExclusive(const std::string& path) override;
  // One call, as the inner file system makes it (one step on POSIX and
  // Windows), counted as an open.
  FileHandle CreateExclusiveWithAttributes(const std::string& path,
                                           std::uint32_t attributes) override;
  FileHandle OpenAppend(const std::string& path) override;
  FileHandle OpenUpdate(const std::string& path) override;
  std::int64_t Read(FileHandle file, void* buffer, std::size_t size) override;
  std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) override;
  std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override;
  std::int64_t Length(FileHandle file) override;
  bool Truncate(FileHandle file, std::int64_t length) override;
  bool Lock(FileHandle file, LockMode mode) override;
  bool Unlock(FileHandle file) override;
  bool Flush(FileHandle file) override;
  bool Close(FileHandle file) override;
  std::uint32_t GetAttributes(const std::string& path) override;
  bool SetAttributes(const std::string& path, std::uint32_t attributes) override;
  bool DeleteFile(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
  std::optional<std::vector<DirEntry>> FindFiles(const std::string& pattern) override;
  bool Exists(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  std::optional<FileId> Identify(const std::string& path) override;
  bool MoveIntoPlace(const std::string& from, const std::string& to, bool replaceExisting) override;
  std::optional<std::uint64_t> FreeBytes(const std::string& folder) override;
  std::optional<VolumeFacts> DescribeVolume(const std::string& folder) override;

 private:
  struct Rule {
    Op op;
    int nth;  // 0 for a path rule
    bool and_after;
    std::string fragment;  // path rules only
    std::uint32_t error;
  };
  // Counts the call; the error to fail it with, if a rule says so.
  std::optional<std::uint32_t> Check(Op op, const std::string& path = {}, bool changes = false);

  FileSystem& inner_;
  System& system_;
  std::vector<Rule> rules_;
  struct Action {
    Op op;
    int nth;
    std::function<void()> run;
  };
  std::vector<Action> actions_;
  std::map<Op, int> counts_;
  std::optional<std::int64_t> write_budget_;
  std::uint32_t write_error_ = win::kErrorDiskFull;
  bool triggered_ = false;
  std::optional<VolumeFacts> volume_;
  std::optional<int> die_after_;
  int changes_ = 0;
  struct Room {
    std::string fragment;
    std::int64_t free = 0;
  };
  std::optional<Room> room_;
  std::map<FileHandle, bool> on_room_volume_;  // files created on it, by handle
  bool OnRoomVolume(const std::string& path) const {
    return room_ && path.find(room_->fragment) != std::string::npos;
  }
  // What the file at `path` holds, as the room it frees when it goes.
  std::int64_t HeldBytes(const std::string& path);
  int failures_ = 0;
};

}  // namespace brelvane::testing
