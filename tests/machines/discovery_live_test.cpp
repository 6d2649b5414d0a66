// Discovery on the machine's own registry, for the sample machine named by
// BRELVANE_LIVE_FIXTURE (tests/wine/discovery.sh imports it into a fresh Wine
// prefix first).  Without that variable these tests are not registered.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "common/error_text.h"
#include "discovery/discovery.h"
#include "discovery/registry_walks.h"
#include "machines/machine_expectations.h"
#include "platform/sim/machine_settings.h"
#include "platform/sim/reg_file.h"
#include "platform/sim/sim_registry.h"
#include "platform/win32/win32_registry.h"
#include "support/temp_drive.h"

namespace brelvane {
namespace {

std::string KeyPath(const sim::RegEdit& edit) {
  std::string path;
  for (const std::string& part : edit.path) path += (path.empty() ? "" : "\\") + part;
  return path;
}

RegKey RootOf(const sim::RegEdit& edit) {
  return edit.root == "HKEY_DYN_DATA" ? kHkeyDynData : kHkeyLocalMachine;
}

struct Answer {
  long rc;
  std::uint32_t type;
  std::uint32_t size;
  std::vector<std::uint8_t> data;
  bool operator==(const Answer&) const = default;
};

void PrintTo(const Answer& a, std::ostream* os) {
  *os << "rc " << a.rc << ", type " << a.type << ", size " << a.size << ", data";
  for (std::uint8_t b : a.data) *os << ' ' << std::hex << int{b} << std::dec;
}

Answer Query(Registry& registry, RegKey key, const std::string& name, std::uint32_t capacity) {
  Answer a{};
  std::vector<std::uint8_t> buffer(capacity + 1, 0xCC);
  a.size = capacity;
  a.rc = registry.QueryValue(key, name, &a.type, buffer.data(), &a.size);
  if (a.rc == 0) a.data.assign(buffer.begin(), buffer.begin() + a.size);
  return a;
}

std::vector<std::string> Subkeys(Registry& registry, RegKey key) {
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0; registry.EnumKey(key, i, 520, &name) == 0; ++i) names.push_back(name);
  return names;
}

class LiveMachine : public ::testing::Test {
 public:
  explicit LiveMachine(std::string fixture) : fixture_(std::move(fixture)) {}

 protected:
  std::string Path() const { return machines::MachinePath(fixture_); }
  std::string fixture_;
};

// Every value the fixture sets reads back alike from the simulation and the
// real registry: type, bytes, size, and the answers to a buffer one byte too
// small; the device list enumerates in the same order; access masks bind
// the same way.
class RegistryMatchesSimulation : public LiveMachine {
 public:
  using LiveMachine::LiveMachine;
  void TestBody() override {
    SimRegistry sim;
    std::string error;
    ASSERT_TRUE(sim.LoadFile(Path(), &error)) << error;
    MachineSettings settings = LoadMachineSettings(Path());
    sim.EnforceAccess(settings.family == MachineFamily::Nt);
    Win32Registry live;
    std::string text;
    {
      std::FILE* file = std::fopen(Path().c_str(), "rb");
      ASSERT_NE(file, nullptr);
      char chunk[4096];
      std::size_t got;
      while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
      std::fclose(file);
    }
    sim::RegParseResult parsed = sim::ParseRegFile(text, Path());
    ASSERT_TRUE(parsed.ok) << parsed.error;

    int compared = 0;
    for (const sim::RegEdit& edit : parsed.edits) {
      if (edit.kind != sim::RegEdit::Kind::SetValue) continue;
      SCOPED_TRACE(KeyPath(edit) + " : " + edit.value_name);
      ScopedKey sim_key(sim), live_key(live);
      ASSERT_TRUE(sim_key.Open(RootOf(edit), KeyPath(edit), win::kKeyRead));
      ASSERT_TRUE(live_key.Open(RootOf(edit), KeyPath(edit), win::kKeyRead));
      Answer whole = Query(sim, sim_key.get(), edit.value_name, 1024);
      EXPECT_EQ(Query(live, live_key.get(), edit.value_name, 1024), whole);
      if (whole.size > 0) {
        EXPECT_EQ(Query(live, live_key.get(), edit.value_name, whole.size - 1),
                  Query(sim, sim_key.get(), edit.value_name, whole.size - 1));
      }
      ++compared;
    }
    EXPECT_GT(compared, 0);

    ScopedKey sim_list(sim), live_list(live);
    bool has_list = sim_list.Open(kHkeyDynData, kConfigManagerEnumKey, win::kKeyRead);
    if (has_list) {
      ASSERT_TRUE(live_list.Open(kHkeyDynData, kConfigManagerEnumKey, win::kKeyRead));
      EXPECT_EQ(Subkeys(live, live_list.get()), Subkeys(sim, sim_list.get()));
    }

    // Access masks: on the NT family a key opened to query values cannot list
    // its subkeys, and the other way round; the 9x family does not check.
    const sim::RegEdit& first = parsed.edits.front();
    for (std::uint32_t access : {win::kKeyQueryValue, win::kKeyEnumerateSubKeys}) {
      SCOPED_TRACE(access);
      ScopedKey sim_key(sim), live_key(live);
      ASSERT_TRUE(sim_key.Open(RootOf(first), KeyPath(first), access));
      ASSERT_TRUE(live_key.Open(RootOf(first), KeyPath(first), access));
      std::string sim_name, live_name;
      EXPECT_EQ(live.EnumKey(live_key.get(), 0, 520, &live_name),
                sim.EnumKey(sim_key.get(), 0, 520, &sim_name));
      EXPECT_EQ(Query(live, live_key.get(), "nothing-by-this-name", 16).rc,
                Query(sim, sim_key.get(), "nothing-by-this-name", 16).rc);
    }
  }
};

// The machine's family and drives are what the fixture says, and discovery
// on the real registry gives the simulation's answer.
class DiscoveryMatchesExpectation : public LiveMachine {
 public:
  DiscoveryMatchesExpectation(std::string fixture, machines::MachineExpectation expected)
      : LiveMachine(std::move(fixture)), expected_(expected) {}
  void TestBody() override {
    MachineSettings settings = LoadMachineSettings(Path());
    ASSERT_EQ(settings.error, "");
    testing::TestPlatform test;
    Win32Registry live;
    test.UseRegistry(live);
    System& system = test.system();

    bool nt = IsNtPlatform(system);
    EXPECT_EQ(nt, settings.family == MachineFamily::Nt);
    std::uint32_t drives = system.LogicalDrives();
    EXPECT_EQ(drives & settings.LogicalDriveMask(), settings.LogicalDriveMask());

    EXPECT_EQ(DetectSupportedModels(test.platform(), nt), expected_.presence);
    // The storage query runs for real on every present letter.  Wine answers
    // each drive as a disk that names no vendor or product, which tells no
    // disk from another, so the registry alone decides.
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
      if (!((settings.LogicalDriveMask() >> (letter - 'A')) & 1u)) continue;
      SCOPED_TRACE(std::string("storage of ") + letter + ":");
      std::optional<VolumeStorage> storage = system.QueryVolumeStorage(letter);
      ASSERT_TRUE(storage.has_value());
      EXPECT_EQ(storage->vendor + storage->product, "");
    }
    DriveModel model = DriveModel::Kestrin;
    EXPECT_EQ(FindTargetDrive(test.platform(), &model), expected_.LetterWithoutStorage());
    EXPECT_EQ(model, expected_.ModelWithoutStorage());
    EXPECT_TRUE(test.prompts().messages().empty());
  }

 private:
  machines::MachineExpectation expected_;
};

const bool kRegistered = [] {
  const char* fixture = std::getenv("BRELVANE_LIVE_FIXTURE");
  if (!fixture || !*fixture) return false;
  std::string name = fixture;
  ::testing::RegisterTest(
      "LiveMachine", ("RegistryMatchesSimulation/" + name).c_str(), nullptr, nullptr, __FILE__,
      __LINE__, [name]() -> ::testing::Test* { return new RegistryMatchesSimulation(name); });
  const machines::MachineExpectation* expected = nullptr;
  for (const auto& e : machines::kMachineExpectations)
    if (name == e.fixture) expected = &e;
  if (!expected) {
    // An unknown name must fail, not pass quietly.
    ::testing::RegisterTest("LiveMachine", ("UnknownFixture/" + name).c_str(), nullptr, nullptr,
                            __FILE__, __LINE__, [name]() -> ::testing::Test* {
                              struct Unknown : ::testing::Test {
                                std::string n;
                                explicit Unknown(std::string s) : n(std::move(s)) {}
                                void TestBody() override { FAIL() << "no expectation for " << n; }
                              };
                              return new Unknown(name);
                            });
    return true;
  }
  machines::MachineExpectation copy = *expected;
  ::testing::RegisterTest("LiveMachine", ("DiscoveryMatchesExpectation/" + name).c_str(), nullptr,
                          nullptr, __FILE__, __LINE__, [name, copy]() -> ::testing::Test* {
                            return new DiscoveryMatchesExpectation(name, copy);
                          });
  return true;
}();

}  // namespace
}  // namespace brelvane

#endif  // _WIN32
