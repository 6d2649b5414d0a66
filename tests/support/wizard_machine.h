// A simulated machine for the wizard's tests: a samples/machines fixture's
// registry and settings on a TestPlatform, and packages built module by
// module with the package operations.
#pragma once

#include <cstdint>
#include <optional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/sheet.h"
#include "install/install_page.h"
#include "package/module_record.h"
#include "platform/sim/sim_registry.h"
#include "support/recording_views.h"
#include "support/temp_drive.h"
#include "ui/license_page.h"

namespace brelvane::testing {

// The text of samples/machines/NAME.reg.
std::string MachineFixtureText(const std::string& name);

class WizardMachine {
 public:
  // Loads samples/machines/`fixture`.reg and applies its settings (family,
  // current directory, present drives).  An empty name is a machine with an
  // empty registry.
  explicit WizardMachine(const std::string& fixture);
  WizardMachine(const WizardMachine&) = delete;
  WizardMachine& operator=(const WizardMachine&) = delete;

  TestPlatform& test() { return test_; }
  Platform platform() { return test_.platform(); }
  ScriptedPrompts& prompts() { return test_.prompts(); }
  TestSystem& system() { return test_.system(); }
  SimRegistry& registry() { return registry_; }

  // Applies more registry text on top of the fixture (a drive pulled out, a
  // drive under another letter); fails the test when it does not load.
  void Apply(const std::string& regText);
  // Adds or removes a letter from the drives the system reports present.
  void SetDrivePresent(char letter, bool present);

 private:
  TestPlatform test_;
  SimRegistry registry_;
  std::uint32_t drives_ = 0;
};

// A drive the install run writes to: `letter`:\ on an empty folder of its
// own.  In the simulation a TempDrive maps the letter; on Windows the letter
// must exist already and be listed in the environment variable
// BRELVANE_TEST_DRIVES (the Wine scenario maps such letters onto scratch
// folders); it is emptied before and after use.
class TestDrive {
 public:
  TestDrive(WizardMachine& machine, char letter);
  TestDrive(const TestDrive&) = delete;
  TestDrive& operator=(const TestDrive&) = delete;
  ~TestDrive();

  // False when this system offers no such drive to tests.
  bool usable() const { return usable_; }
  std::string WinPath(const std::string& relative) const { return root_ + relative; }
  std::string HostPath(const std::string& relative) const;

  void WriteHostFile(const std::string& relative, const std::string& bytes) const;
  std::optional<std::string> ReadHostFile(const std::string& relative) const;
  void MakeHostDirectory(const std::string& relative) const;
  bool HostExists(const std::string& relative) const;

 private:
  std::unique_ptr<TempDrive> temp_;  // the simulation's
  std::string root_;                 // "E:\"
  bool usable_ = false;
};

struct ModuleSpec {
  std::string fileName;  // the name the record stores
  std::string content;
  std::string extractDir;
  std::uint32_t attributes = win::kAttrNormal;
  std::optional<PredefinedSet> set = PredefinedSet::Ovin;  // none: user-defined
};

// Makes `packageRelative` on `work` a bare image (ending in zero bytes, so no
// record is plausible) with the modules appended in order.  Gives the
// package's path as the platform names it.
std::string BuildPackage(TestPlatform& test, const TempDrive& work,
                         const std::string& packageRelative,
                         const std::vector<ModuleSpec>& modules);
// Turns the package BuildPackage made into a Windows program (whose headers
// say where its image ends) that lost its last `cut` bytes, as a download
// that stopped halfway leaves it.
void CutShortAsAProgram(const TempDrive& work, const std::string& packageRelative, std::size_t cut);

// The wizard on a machine: the sheet with both pages over recording views,
// started on `packagePath` as the program's own file.  Activating a page runs
// its activation, as the real sheet does.
class WizardRig {
 public:
  WizardRig(WizardMachine& machine, const std::string& packagePath);

  RecordingSheetView sheetView;
  RecordingPageView agreementView;
  RecordingPageView installView;

  Sheet& sheet() { return *sheet_; }
  LicensePage& license() { return *license_; }
  InstallPage& install() { return *install_; }

  // Accepts the agreement, which shows the install page.
  void Accept();
  // Presses Install: whether the sheet closes.  The run must not end the
  // program (that fails the test).
  bool Apply();

 private:
  std::unique_ptr<Sheet> sheet_;
  std::unique_ptr<LicensePage> license_;
  std::unique_ptr<InstallPage> install_;
};

}  // namespace brelvane::testing
