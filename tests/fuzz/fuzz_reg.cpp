// Fuzz target: arbitrary text as a .reg file of a simulated machine.  The
// loader must take it or refuse it whole; the registry calls and the
// discovery walks over what was loaded must never crash and must close every
// key they open.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "discovery/discovery.h"
#include "discovery/registry_walks.h"
#include "memory_platform.h"
#include "platform/sim/sim_registry.h"

namespace {

using namespace brelvane;
using namespace brelvane::fuzz;

// Reads every value of a key with buffers too small, exact and generous.
void QueryAll(SimRegistry& registry, RegKey key) {
  for (const char* name : {"", "Count", "0", "1", "HardWareKey", "CurrentDriveLetterAssignment",
                           "\\DosDevices\\E:", "Class"}) {
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    const long probe = registry.QueryValue(key, name, &type, nullptr, &size);
    if (probe != 0) continue;
    for (const std::uint32_t capacity : {0u, 1u, size > 0 ? size - 1 : 0u, size, size + 16}) {
      if (capacity > (1u << 20)) continue;
      std::string buffer(capacity, '\0');
      std::uint32_t got = capacity;
      const long rc = registry.QueryValue(key, name, &type,
                                          reinterpret_cast<std::uint8_t*>(buffer.data()), &got);
      FUZZ_CHECK(rc != 0 || got <= capacity);
    }
  }
}

void WalkKey(SimRegistry& registry, RegKey parent, const std::string& path, int depth) {
  ScopedKey key(registry);
  if (!key.Open(parent, path, win::kKeyRead)) return;
  QueryAll(registry, key.get());
  if (depth == 0) return;
  for (std::uint32_t index = 0; index < 64; ++index) {
    std::string name;
    const long rc = registry.EnumKey(key.get(), index, 260, &name);
    if (rc == static_cast<long>(win::kErrorNoMoreItems)) break;
    if (rc != 0) continue;
    FUZZ_CHECK(name.size() < 260);
    WalkKey(registry, key.get(), name, depth - 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  SimRegistry registry;
  std::string error;
  const bool loaded = registry.LoadText(text, "fuzz.reg", &error);
  FUZZ_CHECK(loaded || !error.empty());

  for (const char* place : {kUsbStorEnumKey, kDiskEnumKey, kDeviceEnumKey, kMountedDevicesKey}) {
    WalkKey(registry, kHkeyLocalMachine, place, 3);
  }
  WalkKey(registry, kHkeyDynData, kConfigManagerEnumKey, 2);
  WalkKey(registry, kHkeyLocalMachine, "Enum", 3);
  FUZZ_CHECK(registry.OpenHandleCount() == 0);

  MemorySystem system;
  MemoryFileSystem files(system);
  QuietPrompts prompts;
  const Platform platform{files, system, registry, prompts};
  for (const bool nt : {true, false}) {
    registry.EnforceAccess(nt);
    system.platformId = nt ? win::kVerPlatformWin32Nt : win::kVerPlatformWin32Windows;
    const ModelPresence presence = DetectSupportedModels(platform, nt);
    DriveModel model = DriveModel::None;
    const char letter = FindTargetDrive(platform, &model);
    // The NT family trusts a disk only while its model is plugged in.
    FUZZ_CHECK(!nt || model == DriveModel::None || presence.Has(model));
    // The NT family takes the letter from the mount entries it tries, C to
    // Z; the 9x family reads it from the device's own value.
    FUZZ_CHECK(!nt || letter == 0 || (letter >= 'C' && letter <= 'Z'));
    FUZZ_CHECK((letter == 0) == (model == DriveModel::None));
    FUZZ_CHECK(registry.OpenHandleCount() == 0);
  }
  return 0;
}
