#include "platform/testing/faulty_file_system.h"

#include <algorithm>

namespace brelvane::testing {

void FaultyFileSystem::FailNth(Op op, int nth, std::uint32_t error, bool and_after) {
  rules_.push_back(Rule{op, nth, and_after, {}, error});
}

void FaultyFileSystem::FailPath(Op op, const std::string& fragment, std::uint32_t error) {
  rules_.push_back(Rule{op, 0, false, fragment, error});
}

void FaultyFileSystem::LimitWrites(std::int64_t bytes, std::uint32_t error) {
  write_budget_ = std::max<std::int64_t>(bytes, 0);
  write_error_ = error;
}

void FaultyFileSystem::Reset() {
  rules_.clear();
  actions_.clear();
  counts_.clear();
  write_budget_.reset();
  volume_.reset();
  die_after_.reset();
  changes_ = 0;
  room_.reset();
  on_room_volume_.clear();
  triggered_ = false;
  failures_ = 0;
}

int FaultyFileSystem::Count(Op op) const {
  auto it = counts_.find(op);
  return it == counts_.end() ? 0 : it->second;
}

std::optional<std::uint32_t> FaultyFileSystem::Check(Op op, const std::string& path, bool changes) {
  const int call = ++counts_[op];
  for (const Action& action : actions_) {
    if (action.op == op && action.nth == call) action.run();
  }
  if (die_after_ && changes_ >= *die_after_) {
    // The process is gone: nothing it does reaches the files any more.
    triggered_ = true;
    ++failures_;
    system_.SetLastError(win::kErrorInvalidHandle);
    return win::kErrorInvalidHandle;
  }
  for (const Rule& rule : rules_) {
    if (rule.op != op) continue;
    bool hit = rule.nth == 0
                   ? !rule.fragment.empty() && path.find(rule.fragment) != std::string::npos
                   : call == rule.nth || (rule.and_after && call > rule.nth);
    if (hit) {
      triggered_ = true;
      ++failures_;
      system_.SetLastError(rule.error);
      return rule.error;
    }
  }
  if (changes) ++changes_;
  return std::nullopt;
}

FileHandle FaultyFileSystem::OpenRead(const std::string& path) {
  return Check(Op::Open, path) ? kNoFile : inner_.OpenRead(path);
}

FileHandle FaultyFileSystem::OpenReadExclusive(const std::string& path) {
  return Check(Op::Open, path) ? kNoFile : inner_.OpenReadExclusive(path);
}

FileHandle FaultyFileSystem::CreateExclusive(const std::string& path) {
  if (Check(Op::Open, path, true)) return kNoFile;
  const FileHandle file = inner_.CreateExclusive(path);
  if (file != kNoFile && OnRoomVolume(path)) on_room_volume_[file] = true;
  return file;
}

std::int64_t FaultyFileSystem::HeldBytes(const std::string& path) {
  const FileHandle file = inner_.OpenRead(path);
  if (file == kNoFile) return 0;
  const std::int64_t length = inner_.Length(file);
  inner_.Close(file);
  return length > 0 ? length : 0;
}

FileHandle FaultyFileSystem::CreateExclusiveWithAttributes(const std::string& path,
                                                           std::uint32_t attributes) {
  if (Check(Op::Open, path, true)) return kNoFile;
  const FileHandle file = inner_.CreateExclusiveWithAttributes(path, attributes);
  if (file != kNoFile && OnRoomVolume(path)) on_room_volume_[file] = true;
  return file;
}

FileHandle FaultyFileSystem::OpenAppend(const std::string& path) {
  return Check(Op::Open, path, true) ? kNoFile : inner_.OpenAppend(path);
}

FileHandle FaultyFileSystem::OpenUpdate(const std::string& path) {
  return Check(Op::Open, path, true) ? kNoFile : inner_.OpenUpdate(path);
}

std::int64_t FaultyFileSystem::Read(FileHandle file, void* buffer, std::size_t size) {
  return Check(Op::Read) ? -1 : inner_.Read(file, buffer, size);
}

std::int64_t FaultyFileSystem::Write(FileHandle file, const void* buffer, std::size_t size) {
  if (Check(Op::Write, {}, true)) return -1;
  if (room_ && on_room_volume_.count(file) != 0) {
    if (room_->free < static_cast<std::int64_t>(size)) {
      system_.SetLastError(win::kErrorDiskFull);
      return -1;
    }
    const std::int64_t written = inner_.Write(file, buffer, size);
    if (written > 0) room_->free -= written;
    return written;
  }
  if (!write_budget_) return inner_.Write(file, buffer, size);
  if (*write_budget_ == 0) {
    triggered_ = true;
    ++failures_;
    system_.SetLastError(write_error_);
    return -1;
  }
  const auto allowed = static_cast<std::size_t>(
      std::min<std::int64_t>(*write_budget_, static_cast<std::int64_t>(size)));
  std::int64_t written = inner_.Write(file, buffer, allowed);
  if (written > 0) *write_budget_ -= written;
  if (written >= 0 && static_cast<std::size_t>(written) < size) {
    triggered_ = true;
    ++failures_;
    system_.SetLastError(write_error_);
  }
  return written;
}

std::int64_t FaultyFileSystem::Seek(FileHandle file, std::int64_t offset, SeekFrom from) {
  return Check(Op::Seek) ? -1 : inner_.Seek(file, offset, from);
}

std::int64_t FaultyFileSystem::Length(FileHandle file) {
  return Check(Op::Length) ? -1 : inner_.Length(file);
}

bool FaultyFileSystem::Truncate(FileHandle file, std::int64_t length) {
  return Check(Op::Truncate, {}, true) ? false : inner_.Truncate(file, length);
}

bool FaultyFileSystem::Lock(FileHandle file, LockMode mode) {
  return Check(Op::Lock) ? false : inner_.Lock(file, mode);
}

bool FaultyFileSystem::Flush(FileHandle file) {
  return Check(Op::Flush) ? false : inner_.Flush(file);
}

bool FaultyFileSystem::Unlock(FileHandle file) {
  return Check(Op::Lock) ? false : inner_.Unlock(file);
}

bool FaultyFileSystem::Close(FileHandle file) {
  on_room_volume_.erase(file);
  if (auto error = Check(Op::Close)) {
    // The handle goes anyway, so a failing close leaks nothing in the test;
    // the caller still sees the failure.
    inner_.Close(file);
    system_.SetLastError(*error);
    return false;
  }
  return inner_.Close(file);
}

std::uint32_t FaultyFileSystem::GetAttributes(const std::string& path) {
  return Check(Op::GetAttributes, path) ? win::kInvalidAttributes : inner_.GetAttributes(path);
}

bool FaultyFileSystem::SetAttributes(const std::string& path, std::uint32_t attributes) {
  return Check(Op::SetAttributes, path, true) ? false : inner_.SetAttributes(path, attributes);
}

bool FaultyFileSystem::DeleteFile(const std::string& path) {
  if (Check(Op::Delete, path, true)) return false;
  const std::int64_t held = OnRoomVolume(path) ? HeldBytes(path) : 0;
  if (!inner_.DeleteFile(path)) return false;
  if (room_) room_->free += held;
  return true;
}

bool FaultyFileSystem::CreateDirectory(const std::string& path) {
  return Check(Op::CreateDirectory, path, true) ? false : inner_.CreateDirectory(path);
}

bool FaultyFileSystem::RemoveDirectory(const std::string& path) {
  return Check(Op::RemoveDirectory, path, true) ? false : inner_.RemoveDirectory(path);
}

std::optional<std::vector<DirEntry>> FaultyFileSystem::FindFiles(const std::string& pattern) {
  if (Check(Op::Find, pattern)) return std::nullopt;
  return inner_.FindFiles(pattern);
}

bool FaultyFileSystem::Exists(const std::string& path) {
  return Check(Op::Probe, path) ? false : inner_.Exists(path);
}

bool FaultyFileSystem::IsDirectory(const std::string& path) {
  return Check(Op::Probe, path) ? false : inner_.IsDirectory(path);
}

std::optional<FileId> FaultyFileSystem::Identify(const std::string& path) {
  if (Check(Op::Identify, path)) return std::nullopt;
  return inner_.Identify(path);
}

bool FaultyFileSystem::MoveIntoPlace(const std::string& from, const std::string& to,
                                     bool replaceExisting) {
  if (Check(Op::Replace, to, true)) return false;
  const std::int64_t held = replaceExisting && OnRoomVolume(to) ? HeldBytes(to) : 0;
  if (!inner_.MoveIntoPlace(from, to, replaceExisting)) return false;
  if (room_) room_->free += held;
  return true;
}

std::optional<std::uint64_t> FaultyFileSystem::FreeBytes(const std::string& folder) {
  if (Check(Op::FreeSpace, folder)) return std::nullopt;
  if (OnRoomVolume(folder))
    return static_cast<std::uint64_t>(std::max<std::int64_t>(room_->free, 0));
  return inner_.FreeBytes(folder);
}

std::optional<VolumeFacts> FaultyFileSystem::DescribeVolume(const std::string& folder) {
  if (Check(Op::FreeSpace, folder)) return std::nullopt;
  if (volume_) return volume_;
  return inner_.DescribeVolume(folder);
}

}  // namespace brelvane::testing
