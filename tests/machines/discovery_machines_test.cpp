// Discovery on every sample machine, and the driver's use of the current
// directory and its two failure messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "common/error_text.h"
#include "common/messages.h"
#include "discovery/diagnose.h"
#include "discovery/discovery.h"
#include "platform/sim/reg_file.h"
#include "machines/machine_expectations.h"
#include "platform/sim/machine_settings.h"
#include "platform/sim/sim_registry.h"
#include "support/temp_drive.h"

namespace brelvane {
namespace {

using machines::kMachineExpectations;
using machines::MachineExpectation;

// Counts registry calls, to show that nothing was looked at.
class CountingRegistry : public Registry {
 public:
  explicit CountingRegistry(Registry& inner) : inner_(inner) {}
  long OpenKey(RegKey parent, const std::string& subkey, std::uint32_t access,
               RegKey* out) override {
    ++calls;
    return inner_.OpenKey(parent, subkey, access, out);
  }
  long EnumKey(RegKey key, std::uint32_t index, std::size_t capacity, std::string* name) override {
    ++calls;
    return inner_.EnumKey(key, index, capacity, name);
  }
  long QueryValue(RegKey key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* size) override {
    ++calls;
    return inner_.QueryValue(key, name, type, data, size);
  }
  long CloseKey(RegKey key) override { return inner_.CloseKey(key); }
  int calls = 0;

 private:
  Registry& inner_;
};

// One sample machine in the simulation: its registry and its settings.
class Machine : public ::testing::Test {
 protected:
  void Boot(const std::string& fixture) {
    std::string error;
    ASSERT_TRUE(registry_.LoadFile(machines::MachinePath(fixture), &error)) << error;
    settings_ = LoadMachineSettings(machines::MachinePath(fixture));
    ASSERT_EQ(settings_.error, "");
    registry_.EnforceAccess(settings_.family == MachineFamily::Nt);
    test_.UseRegistry(registry_);
    test_.system().SetPlatformId(settings_.PlatformId());
    test_.system().SetLogicalDrives(settings_.LogicalDriveMask());
    test_.system().SetCurrentDirectory(settings_.current_directory);
    test_.system().SetOwnExecutablePath("C:\\setup\\brelvane-setup.exe");
  }

  SimRegistry registry_;
  MachineSettings settings_;
  testing::TestPlatform test_;
};

TEST(MachineSet, EveryFixtureHasAnExpectation) {
  std::set<std::string> files, expected;
  for (const auto& entry : std::filesystem::directory_iterator(machines::MachinesFolder()))
    if (entry.path().extension() == ".reg") files.insert(entry.path().stem().string());
  for (const MachineExpectation& e : kMachineExpectations) expected.insert(e.fixture);
  EXPECT_EQ(files, expected);
}

TEST_F(Machine, EachSampleMachineGivesItsPresenceLetterAndModel) {
  for (const MachineExpectation& e : kMachineExpectations) {
    SCOPED_TRACE(e.fixture);
    SimRegistry registry;
    std::string error;
    ASSERT_TRUE(registry.LoadFile(machines::MachinePath(e.fixture), &error)) << error;
    MachineSettings settings = LoadMachineSettings(machines::MachinePath(e.fixture));
    ASSERT_EQ(settings.error, "");
    registry.EnforceAccess(settings.family == MachineFamily::Nt);
    test_.UseRegistry(registry);
    test_.system().SetPlatformId(settings.PlatformId());
    test_.system().SetLogicalDrives(settings.LogicalDriveMask());
    test_.system().SetCurrentDirectory(settings.current_directory);

    bool nt = IsNtPlatform(test_.system());
    EXPECT_EQ(nt, settings.family == MachineFamily::Nt);
    EXPECT_EQ(DetectSupportedModels(test_.platform(), nt), e.presence);
    // First the registry alone, then with the storage stack's answers.
    test_.system().NoVolumeStorage();
    DriveModel model = DriveModel::Kestrin;
    EXPECT_EQ(FindTargetDrive(test_.platform(), &model), e.LetterWithoutStorage());
    EXPECT_EQ(model, e.ModelWithoutStorage());
    for (const auto& [letter, storage] : settings.storage)
      test_.system().SetVolumeStorage(letter, storage);
    EXPECT_EQ(FindTargetDrive(test_.platform(), &model), e.letter);
    EXPECT_EQ(model, e.model);
    EXPECT_TRUE(test_.prompts().messages().empty());
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
  }
}

struct DirectoryCase {
  const char* what;
  const char* fixture;
  const char* directory;  // nullptr: the directory cannot be read
  char letter;
};

TEST_F(Machine, CurrentDirectoryNeverChangesWhichDriveIsFound) {
  // The preference for the drive holding the current directory can only pick
  // between two different letters; both families' walks give one letter.
  const DirectoryCase cases[] = {
      {"NT, on the found drive", "ovin-e", "E:\\setup", 'E'},
      {"NT, on another drive", "ovin-e", "C:\\Windows", 'E'},
      {"NT, lower-case drive letter", "ovin-e", "e:\\setup", 'E'},
      {"NT, unreadable directory", "ovin-e", nullptr, 'E'},
      {"NT, UNC directory", "ovin-e", "\\\\server\\share", 'E'},
      {"NT, two disks, on the second one's drive", "ovin-two-disks", "E:\\", 'G'},
      {"9x, on the found drive", "ovin-9x-f", "F:\\", 'F'},
      {"9x, on another drive", "ovin-9x-f", "C:\\", 'F'},
      {"9x, unreadable directory", "ovin-9x-f", nullptr, 'F'},
      {"no drive, on a drive letter", "kestrin-ovin", "E:\\", 0},
  };
  for (const DirectoryCase& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TestPlatform test;
    SimRegistry registry;
    ASSERT_TRUE(registry.LoadFile(machines::MachinePath(c.fixture), nullptr));
    MachineSettings settings = LoadMachineSettings(machines::MachinePath(c.fixture));
    registry.EnforceAccess(settings.family == MachineFamily::Nt);
    test.UseRegistry(registry);
    test.system().SetPlatformId(settings.PlatformId());
    test.system().SetLogicalDrives(settings.LogicalDriveMask());
    test.system().SetCurrentDirectory(c.directory ? c.directory : "C:\\");
    if (!c.directory) test.system().FailCurrentDirectory(win::kErrorAccessDenied);
    DriveModel model = DriveModel::Pellor;
    EXPECT_EQ(FindTargetDrive(test.platform(), &model), c.letter);
    EXPECT_EQ(model, c.letter ? DriveModel::Ovin : DriveModel::None);
    EXPECT_TRUE(test.prompts().messages().empty());
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
  }
}

TEST_F(Machine, NullDestinationLooksAtNothing) {
  Boot("ovin-e");
  CountingRegistry counting(registry_);
  test_.UseRegistry(counting);
  EXPECT_EQ(FindTargetDrive(test_.platform(), nullptr), 0);
  EXPECT_EQ(counting.calls, 0);
  EXPECT_TRUE(test_.prompts().messages().empty());
}

struct FailureCase {
  const char* what;
  std::uint32_t error;       // last error the failing call leaves
  std::uint32_t length;      // the length reported, when it does not fail
  std::uint32_t shown_code;  // the error whose text the message carries
  const char* format;
};

TEST_F(Machine, CurrentDirectoryFailuresShowTheirMessage) {
  const FailureCase cases[] = {
      {"length cannot be had", win::kErrorAccessDenied, 0, win::kErrorAccessDenied,
       "System Error: %s!"},
      {"length cannot be had, other code", win::kErrorPathNotFound, 0, win::kErrorPathNotFound,
       "System Error: %s!"},
      {"length beyond any directory", 0, 0xFFFFFFFFu, win::kErrorNotEnoughMemory,
       "Can't allocate memory to perform operation\r\nError: %s!"},
      {"length just beyond the longest path", 0, 32769, win::kErrorNotEnoughMemory,
       "Can't allocate memory to perform operation\r\nError: %s!"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TestPlatform test;
    SimRegistry registry;
    ASSERT_TRUE(registry.LoadFile(machines::MachinePath("ovin-e"), nullptr));
    CountingRegistry counting(registry);
    test.UseRegistry(counting);
    test.system().SetPlatformId(win::kVerPlatformWin32Nt);
    test.system().SetLogicalDrives(0x14);
    test.system().SetOwnExecutablePath("C:\\setup\\brelvane-setup.exe");
    if (c.length == 0) test.system().FailCurrentDirectoryLength(c.error);
    else test.system().SetCurrentDirectoryLength(c.length);

    DriveModel model = DriveModel::Ovin;
    EXPECT_EQ(FindTargetDrive(test.platform(), &model), 0);
    EXPECT_EQ(model, DriveModel::None);
    EXPECT_EQ(counting.calls, 0) << "no walk after the failure";
    ASSERT_EQ(test.prompts().messages().size(), 1u);
    const Message& shown = test.prompts().messages()[0];
    EXPECT_EQ(shown.text, Format(c.format, test.system().ErrorText(c.shown_code).c_str()));
    EXPECT_EQ(shown.caption, "brelvane-setup");
    EXPECT_EQ(shown.style, win::kMbIconHand);
  }
}

TEST_F(Machine, LongestPossibleDirectoryIsStillRead) {
  Boot("ovin-e");
  test_.system().SetCurrentDirectoryLength(32768);
  DriveModel model = DriveModel::None;
  EXPECT_EQ(FindTargetDrive(test_.platform(), &model), 'E');
  EXPECT_TRUE(test_.prompts().messages().empty());
}

// A device's strings and registry names come from outside: the file
// /diagnose writes keeps its own lines, and still replays.
TEST_F(Machine, DiagnosisOfHostileStringsStaysAMachineFile) {
  // A 9x list of present devices whose entry's name holds a control
  // character; a storage answer whose vendor holds a line break.
  const std::string text =
      "REGEDIT4\n[HKEY_DYN_DATA\\Config Manager\\Enum\\C0\x01X]\n"
      "\"HardWareKey\"=\"USB\\\\VID_0781&PID_5567\\\\1\"\n";
  std::string error;
  ASSERT_TRUE(registry_.LoadText(text, "hostile.reg", &error)) << error;
  test_.UseRegistry(registry_);
  test_.system().SetPlatformId(win::kVerPlatformWin32Windows);
  test_.system().SetLogicalDrives(0x14);
  test_.system().SetCurrentDirectory("C:\\");
  test_.system().SetVolumeStorage(
      'E', VolumeStorage{win::kBusTypeUsb, "Q\r\n; @drives Q", "P\"", 1, std::nullopt});
  const Diagnosis diagnosis = DiagnoseDiscovery(test_.platform());
  const std::string narrow = sim::NarrowUtf16(
      reinterpret_cast<const std::uint8_t*>(diagnosis.file.data()) + 2, diagnosis.file.size() - 2);
  const MachineSettings settings = ParseMachineSettings(narrow, "diagnosed.reg");
  EXPECT_EQ(settings.error, "");
  EXPECT_EQ(settings.drives, "CE");
  EXPECT_EQ(settings.storage.at('E').vendor, "Q??; @drives Q");
  EXPECT_EQ(settings.storage.at('E').product, "P\"");
  SimRegistry replayed;
  EXPECT_TRUE(replayed.LoadText(narrow, "diagnosed.reg", &error)) << error;
  EXPECT_NE(narrow.find("; A key whose name holds control characters is left out."),
            std::string::npos);
}

}  // namespace
}  // namespace brelvane
