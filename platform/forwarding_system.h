// A System that passes every call to another one: the base of the systems
// that change a few answers of the host's (the builder's code page, the
// tests' scripted machine) and leave the rest as they are.
#pragma once

#include <cstdlib>

#include "platform/platform.h"

namespace brelvane {

class ForwardingSystem : public System {
 public:
  explicit ForwardingSystem(System& host) : host_(host) {}

  std::uint32_t LastError() override { return host_.LastError(); }
  void SetLastError(std::uint32_t code) override { host_.SetLastError(code); }
  std::string ErrorText(std::uint32_t code) override { return host_.ErrorText(code); }
  int PlatformId() override { return host_.PlatformId(); }
  std::uint32_t CurrentDirectoryLength() override { return host_.CurrentDirectoryLength(); }
  std::optional<std::string> CurrentDirectory() override { return host_.CurrentDirectory(); }
  std::optional<std::string> OwnExecutablePath() override { return host_.OwnExecutablePath(); }
  std::optional<std::string> TempDirectory() override { return host_.TempDirectory(); }
  LocalTime Now() override { return host_.Now(); }
  void Sleep(std::uint32_t milliseconds) override { host_.Sleep(milliseconds); }
  std::uint32_t LogicalDrives() override { return host_.LogicalDrives(); }
  std::optional<VolumeStorage> QueryVolumeStorage(char letter) override {
    return host_.QueryVolumeStorage(letter);
  }
  std::string WideToAnsi(const std::uint16_t* units, std::size_t count) override {
    return host_.WideToAnsi(units, count);
  }
  std::string FromAnsi(const std::string& bytes) override { return host_.FromAnsi(bytes); }
  std::optional<std::string> ToAnsi(const std::string& text) override { return host_.ToAnsi(text); }
  bool SamePathIgnoringCase(const std::string& a, const std::string& b) override {
    return host_.SamePathIgnoringCase(a, b);
  }
  bool Launch(const std::string& path) override { return host_.Launch(path); }
  std::optional<int> RunProgram(const std::vector<std::string>& arguments) override {
    return host_.RunProgram(arguments);
  }
  std::string StripPath(const std::string& path) override { return host_.StripPath(path); }
  std::optional<std::size_t> SkipRoot(const std::string& path) override {
    return host_.SkipRoot(path);
  }
  bool IsUnc(const std::string& path) override { return host_.IsUnc(path); }
  [[noreturn]] void ExitProcess(int code) override {
    host_.ExitProcess(code);
    std::abort();  // not reached: the host's call does not return
  }

 protected:
  System& host() { return host_; }

 private:
  System& host_;
};

}  // namespace brelvane
