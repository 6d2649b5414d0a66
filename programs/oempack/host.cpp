#include "host.h"

#include "console.h"
#ifdef _WIN32
#include "platform/win32/win32_host.h"
#else
#include "platform/posix/posix_host.h"
#endif

namespace brelvane::oempack {
namespace {

// A registry without keys: every open fails with "file not found".
class NoRegistry : public Registry {
 public:
  long OpenKey(RegKey, const std::string&, std::uint32_t, RegKey* out) override {
    if (out != nullptr) *out = kNoKey;
    return static_cast<long>(win::kErrorFileNotFound);
  }
  long EnumKey(RegKey, std::uint32_t, std::size_t, std::string*) override {
    return static_cast<long>(win::kErrorInvalidHandle);
  }
  long QueryValue(RegKey, const std::string&, std::uint32_t*, std::uint8_t*,
                  std::uint32_t*) override {
    return static_cast<long>(win::kErrorInvalidHandle);
  }
  long CloseKey(RegKey) override { return static_cast<long>(win::kErrorInvalidHandle); }
};

#ifdef _WIN32
using Backend = Win32Host;
#else
using Backend = PosixHost;
#endif

class ConsoleHost : public Host {
 public:
  Platform platform() override { return backend_.platform(); }

 private:
  ConsolePrompts prompts_;
  NoRegistry registry_;
  Backend backend_{prompts_, registry_};
};

}  // namespace

std::unique_ptr<Host> MakeHost() { return std::make_unique<ConsoleHost>(); }

}  // namespace brelvane::oempack
