// Runs a clean-up when the scope ends, on every path, unless cancelled: the
// work it undoes has then been completed.
#pragma once

#include <utility>

namespace brelvane {

template <typename CleanUp>
class ScopeExit {
 public:
  explicit ScopeExit(CleanUp cleanUp) : cleanUp_(std::move(cleanUp)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() {
    if (armed_) cleanUp_();
  }
  void Cancel() { armed_ = false; }

 private:
  CleanUp cleanUp_;
  bool armed_ = true;
};

}  // namespace brelvane
