#include "memory_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace brelvane::fuzz {

std::string MemorySystem::ErrorText(std::uint32_t code) {
  return "error " + std::to_string(code) + "\r\n";
}

std::string MemorySystem::WideToAnsi(const std::uint16_t* units, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i)
    text += units[i] < 0x100 ? static_cast<char>(units[i]) : '?';
  return text;
}

std::string MemorySystem::StripPath(const std::string& path) {
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::size_t> MemorySystem::SkipRoot(const std::string& path) {
  if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') return 3;
  return std::nullopt;
}

bool MemorySystem::IsUnc(const std::string& path) { return path.rfind("\\\\", 0) == 0; }

void MemorySystem::ExitProcess(int code) {
  std::fprintf(stderr, "ExitProcess(%d) reached\n", code);
  std::abort();
}

const std::vector<std::uint8_t>* MemoryFileSystem::Get(const std::string& path) const {
  auto it = files_.find(path);
  return it == files_.end() ? nullptr : &it->second;
}

FileHandle MemoryFileSystem::Open(const std::string& path, bool writable, bool append) {
  if (files_.count(path) == 0) {
    system_.SetLastError(win::kErrorFileNotFound);
    return kNoFile;
  }
  const FileHandle handle = next_++;
  handles_[handle] = Handle{path, 0, writable, append};
  return handle;
}

FileHandle MemoryFileSystem::CreateExclusive(const std::string& path) {
  if (files_.count(path) != 0 || IsRoot(path)) {
    system_.SetLastError(win::kErrorFileExists);
    return kNoFile;
  }
  files_[path];
  return Open(path, true, false);
}

FileHandle MemoryFileSystem::OpenUpdate(const std::string& path) {
  const FileHandle handle = Open(path, true, false);
  if (handle != kNoFile) handles_[handle].update = true;
  return handle;
}

MemoryFileSystem::Handle* MemoryFileSystem::Find(FileHandle file) {
  auto it = handles_.find(file);
  if (it == handles_.end()) {
    system_.SetLastError(win::kErrorInvalidHandle);
    return nullptr;
  }
  return &it->second;
}

std::int64_t MemoryFileSystem::Read(FileHandle file, void* buffer, std::size_t size) {
  Handle* handle = Find(file);
  if (handle == nullptr) return -1;
  if (handle->writable && !handle->append && !handle->update) {
    system_.SetLastError(win::kErrorAccessDenied);
    return -1;
  }
  const auto& bytes = files_[handle->path];
  if (handle->position >= static_cast<std::int64_t>(bytes.size())) return 0;
  const std::size_t n = std::min(size, bytes.size() - static_cast<std::size_t>(handle->position));
  std::memcpy(buffer, bytes.data() + handle->position, n);
  handle->position += static_cast<std::int64_t>(n);
  return static_cast<std::int64_t>(n);
}

std::int64_t MemoryFileSystem::Write(FileHandle file, const void* buffer, std::size_t size) {
  Handle* handle = Find(file);
  if (handle == nullptr) return -1;
  if (!handle->writable) {
    system_.SetLastError(win::kErrorAccessDenied);
    return -1;
  }
  auto& bytes = files_[handle->path];
  if (handle->append) handle->position = static_cast<std::int64_t>(bytes.size());
  const auto at = static_cast<std::size_t>(handle->position);
  if (bytes.size() < at + size) bytes.resize(at + size);
  std::memcpy(bytes.data() + at, buffer, size);
  handle->position += static_cast<std::int64_t>(size);
  return static_cast<std::int64_t>(size);
}

std::int64_t MemoryFileSystem::Seek(FileHandle file, std::int64_t offset, SeekFrom from) {
  Handle* handle = Find(file);
  if (handle == nullptr) return -1;
  const auto length = static_cast<std::int64_t>(files_[handle->path].size());
  const std::int64_t base = from == SeekFrom::Begin     ? 0
                            : from == SeekFrom::Current ? handle->position
                                                        : length;
  if (offset < -base) {
    system_.SetLastError(win::kErrorNegativeSeek);
    return -1;
  }
  handle->position = base + offset;
  return handle->position;
}

std::int64_t MemoryFileSystem::Length(FileHandle file) {
  Handle* handle = Find(file);
  return handle == nullptr ? -1 : static_cast<std::int64_t>(files_[handle->path].size());
}

bool MemoryFileSystem::Truncate(FileHandle file, std::int64_t length) {
  Handle* handle = Find(file);
  if (handle == nullptr || length < 0) return Fail(win::kErrorInvalidParameter);
  files_[handle->path].resize(static_cast<std::size_t>(length));
  return true;
}

bool MemoryFileSystem::Close(FileHandle file) {
  return handles_.erase(file) != 0 || Fail(win::kErrorInvalidHandle);
}

std::uint32_t MemoryFileSystem::GetAttributes(const std::string& path) {
  if (IsRoot(path)) return win::kAttrDirectory;
  if (files_.count(path) == 0) {
    system_.SetLastError(win::kErrorFileNotFound);
    return win::kInvalidAttributes;
  }
  auto it = attributes_.find(path);
  return it == attributes_.end() ? win::kAttrArchive : it->second;
}

bool MemoryFileSystem::SetAttributes(const std::string& path, std::uint32_t attributes) {
  if (files_.count(path) == 0) return Fail(win::kErrorFileNotFound);
  attributes_[path] = attributes & ~win::kAttrNormal;
  return true;
}

bool MemoryFileSystem::DeleteFile(const std::string& path) {
  for (const auto& [handle, open] : handles_) {
    if (open.path == path) return Fail(win::kErrorSharingViolation);
  }
  attributes_.erase(path);
  return files_.erase(path) != 0 || Fail(win::kErrorFileNotFound);
}

std::optional<std::vector<DirEntry>> MemoryFileSystem::FindFiles(const std::string& pattern) {
  if (pattern != "C:\\*.*") {
    system_.SetLastError(win::kErrorPathNotFound);
    return std::nullopt;
  }
  std::vector<DirEntry> entries;
  for (const auto& [path, bytes] : files_) entries.push_back({path.substr(3), GetAttributes(path)});
  return entries;
}

bool MemoryFileSystem::MoveIntoPlace(const std::string& from, const std::string& to,
                                     bool replaceExisting) {
  auto source = files_.find(from);
  if (source == files_.end()) return Fail(win::kErrorFileNotFound);
  if (!replaceExisting && Exists(to)) return Fail(win::kErrorAlreadyExists);
  for (const auto& [handle, open] : handles_) {
    if (open.path == to) return Fail(win::kErrorSharingViolation);
  }
  files_[to] = std::move(source->second);
  files_.erase(from);
  attributes_.erase(to);
  if (auto bits = attributes_.find(from); bits != attributes_.end()) {
    attributes_[to] = bits->second;
    attributes_.erase(bits);
  }
  return true;
}

std::optional<FileId> MemoryFileSystem::Identify(const std::string& path) {
  if (!Exists(path)) {
    system_.SetLastError(win::kErrorFileNotFound);
    return std::nullopt;
  }
  // Each path is its own file here: no links.
  return FileId{0, std::hash<std::string>{}(path)};
}

int QuietPrompts::Show(const Message& message) {
  ++shown;
  const std::uint32_t buttons = message.style & 0x0F;
  if (buttons == win::kMbYesNo) return win::kIdNo;
  if (buttons == win::kMbOkCancel) return win::kIdCancel;
  return win::kIdOk;
}

long NoRegistry::OpenKey(RegKey, const std::string&, std::uint32_t, RegKey* out) {
  if (out != nullptr) *out = kNoKey;
  return static_cast<long>(win::kErrorFileNotFound);
}

long NoRegistry::EnumKey(RegKey, std::uint32_t, std::size_t, std::string*) {
  return static_cast<long>(win::kErrorNoMoreItems);
}

long NoRegistry::QueryValue(RegKey, const std::string&, std::uint32_t*, std::uint8_t*,
                            std::uint32_t*) {
  return static_cast<long>(win::kErrorFileNotFound);
}

void Violated(const char* what) {
  std::fprintf(stderr, "fuzz invariant violated: %s\n", what);
  std::abort();
}

}  // namespace brelvane::fuzz
