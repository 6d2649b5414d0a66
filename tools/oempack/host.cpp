#include "tools/oempack/host.h"

#include "tools/oempack/console.h"
#ifdef _WIN32
#if __has_include("platform/win32/win32_host.h")  // TEMPORARY until the Win32 host lands
#include "platform/win32/win32_host.h"
#define OEMPACK_HAS_HOST 1
#endif
#else
#define OEMPACK_HAS_HOST 1
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

#if defined(_WIN32) && defined(OEMPACK_HAS_HOST)
using Backend = Win32Host;
#elif !defined(_WIN32)
using Backend = PosixHost;
#endif

#ifdef OEMPACK_HAS_HOST
class ConsoleHost : public Host {
 public:
  Platform platform() override { return backend_.platform(); }

 private:
  ConsolePrompts prompts_;
  NoRegistry registry_;
  Backend backend_{prompts_, registry_};
};
#endif

}  // namespace

#ifdef OEMPACK_HAS_HOST
std::unique_ptr<Host> MakeHost() { return std::make_unique<ConsoleHost>(); }
#else
std::unique_ptr<Host> MakeHost() { return nullptr; }
#endif

}  // namespace brelvane::oempack
