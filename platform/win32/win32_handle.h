// A kernel handle closed when it goes out of scope.
#pragma once

#include <windows.h>

namespace brelvane {

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (valid()) ::CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }
  // CreateFile fails with INVALID_HANDLE_VALUE, CreateThread with null.
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

}  // namespace brelvane
