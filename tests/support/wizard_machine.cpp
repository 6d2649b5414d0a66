#include "support/wizard_machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "package/package.h"
#include "support/signed_image.h"
#include "platform/sim/machine_settings.h"

namespace brelvane::testing {

std::string MachineFixtureText(const std::string& name) {
  const std::string path = std::string(BRELVANE_SOURCE_DIR) + "/samples/machines/" + name + ".reg";
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

WizardMachine::WizardMachine(const std::string& fixture) {
  test_.UseRegistry(registry_);
  if (fixture.empty()) return;
  const std::string text = MachineFixtureText(fixture);
  std::string error;
  EXPECT_TRUE(registry_.LoadText(text, fixture + ".reg", &error)) << error;
  const MachineSettings settings = ParseMachineSettings(text, fixture + ".reg");
  EXPECT_EQ(settings.error, "");
  test_.system().SetPlatformId(settings.PlatformId());
  test_.system().SetCurrentDirectory(settings.current_directory);
  drives_ = settings.LogicalDriveMask();
  test_.system().SetLogicalDrives(drives_);
}

void WizardMachine::Apply(const std::string& regText) {
  std::string error;
  EXPECT_TRUE(registry_.LoadText(regText, "test", &error)) << error;
}

void WizardMachine::SetDrivePresent(char letter, bool present) {
  const std::uint32_t bit = 1u << (letter - 'A');
  drives_ = present ? (drives_ | bit) : (drives_ & ~bit);
  test_.system().SetLogicalDrives(drives_);
}

namespace {

namespace fs = std::filesystem;

// Removes everything below `root`, read-only entries included.
void EmptyFolder(const fs::path& root) {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code ignored;
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  for (const auto& entry : fs::directory_iterator(root, error)) {
    std::error_code ignored;
    fs::remove_all(entry.path(), ignored);
  }
}

}  // namespace

TestDrive::TestDrive(WizardMachine& machine, char letter) : root_{letter, ':', '\\'} {
#ifdef _WIN32
  (void)machine;
  const char* listed = std::getenv("BRELVANE_TEST_DRIVES");
  usable_ = listed != nullptr && std::string(listed).find(letter) != std::string::npos &&
            fs::is_directory(root_);
  if (usable_) EmptyFolder(root_);
#else
  temp_ = std::make_unique<TempDrive>(machine.test(), letter);
  usable_ = temp_->Root() == root_;
#endif
}

TestDrive::~TestDrive() {
  if (usable_ && !temp_) EmptyFolder(root_);
}

std::string TestDrive::HostPath(const std::string& relative) const {
  return temp_ ? temp_->HostPath(relative) : WinPath(relative);
}

void TestDrive::WriteHostFile(const std::string& relative, const std::string& bytes) const {
  std::ofstream out(HostPath(relative), std::ios::binary | std::ios::trunc);
  out << bytes;
  EXPECT_TRUE(out.good()) << "cannot write " << HostPath(relative);
}

std::optional<std::string> TestDrive::ReadHostFile(const std::string& relative) const {
  std::ifstream in(HostPath(relative), std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TestDrive::MakeHostDirectory(const std::string& relative) const {
  std::error_code error;
  fs::create_directories(HostPath(relative), error);
  EXPECT_FALSE(error) << "cannot create " << HostPath(relative);
}

bool TestDrive::HostExists(const std::string& relative) const {
  std::error_code error;
  return fs::exists(HostPath(relative), error);
}

namespace {

// A stand-in image: some code bytes, then zero padding at its end.
std::string StandInImage() {
  std::string image = "MZ stand-in image of the installer";
  image.append(64, '\0');
  return image;
}

}  // namespace

std::string BuildPackage(TestPlatform& test, const TempDrive& work,
                         const std::string& packageRelative,
                         const std::vector<ModuleSpec>& modules) {
  const std::string image = StandInImage();
  work.WriteHostFile(packageRelative, image);
  const std::string package = work.WinPath(packageRelative);

  const Platform platform = test.platform();
  int index = 0;
  for (const ModuleSpec& module : modules) {
    const std::string source = "source-" + std::to_string(index++) + ".bin";
    work.WriteHostFile(source, module.content);
    ModuleRecord record;
    // Described under a plain name and folder, then given the ModuleSpec's own:
    // packages from elsewhere may carry what the builder refuses to store.
    EXPECT_TRUE(BuildModuleRecord(platform, work.WinPath(source), record, "", module.set))
        << module.fileName;
    record.fileName = module.fileName;
    record.extractDir = module.extractDir;
    record.attributes = module.attributes;
    EXPECT_EQ(AppendModule(platform, work.WinPath(source), package, record), AppendResult::Appended)
        << module.fileName;
  }
  return package;
}

void CutShortAsAProgram(const TempDrive& work, const std::string& packageRelative,
                        std::size_t cut) {
  const std::string modules = work.ReadHostFile(packageRelative)->substr(StandInImage().size());
  ASSERT_LT(cut, modules.size());
  work.WriteHostFile(packageRelative, pe::Image() + modules.substr(0, modules.size() - cut));
}

WizardRig::WizardRig(WizardMachine& machine, const std::string& packagePath) {
  InitialiseInstallPage(installView);
  machine.system().SetOwnExecutablePath(packagePath);
  sheet_ = std::make_unique<Sheet>(machine.platform(), sheetView);
  EXPECT_FALSE(sheet_->Open().has_value()) << "the sheet did not open";
  license_ = std::make_unique<LicensePage>(*sheet_, agreementView);
  install_ = std::make_unique<InstallPage>(*sheet_, installView);
  sheetView.onActivate = [this](PageId page) {
    if (page == PageId::Agreement) license_->OnSetActive();
    if (page == PageId::Install) install_->OnSetActive();
  };
}

void WizardRig::Accept() {
  EXPECT_FALSE(license_->OnInitDialog().has_value()) << "the agreement page ended the program";
  license_->OnSetActive();
  license_->OnAccept();
}

bool WizardRig::Apply() {
  const InstallRunResult run = install_->OnApply();
  EXPECT_FALSE(run.ending.has_value())
      << "the install run ended the program: " << run.ending->message.text;
  return run.closesSheet;
}

}  // namespace brelvane::testing
