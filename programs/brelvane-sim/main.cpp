// brelvane-sim: the installer's wizard on a terminal, on a simulated machine
// (a registry from .reg files, drive letters mapped onto folders).  By default
// it installs from its own executable, which oempack can append modules to
// exactly as to the Windows program.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/page_ending.h"
#include "app/sheet.h"
#include "common/printable.h"
#include "console_answers.h"
#include "console_prompts.h"
#include "console_views.h"
#include "demo_machine.h"
#include "install/install_page.h"
#include "platform/posix/posix_host.h"
#include "platform/sim/machine_settings.h"
#include "platform/sim/sim_registry.h"
#include "ui/license_page.h"
#include "unattended/unattended.h"

namespace brelvane::sim {
namespace {

namespace fs = std::filesystem;

struct Options {
  std::vector<std::string> machines;
  std::vector<std::string> drives;  // LETTER=DIR
  std::string family;
  std::string cwd;
  std::string package;
  bool launch = false;
  // The Windows program's own words for an unattended install, as it takes
  // them; none for the wizard.
  std::vector<std::string> setupWords;
};

// The machine the wizard runs on: its registry and its settings.
struct Machine {
  SimRegistry registry;
  MachineSettings settings;
  std::string name;
};

bool LoadMachine(const Options& options, Machine& machine) {
  std::string error;
  if (options.machines.empty()) {
    machine.name = std::string(kDemoMachineName) + " (built in)";
    machine.settings = ParseMachineSettings(kDemoMachineText, kDemoMachineName);
    if (!machine.registry.LoadText(kDemoMachineText, kDemoMachineName, &error)) {
      std::cerr << "brelvane-sim: " << error << "\n";
      return false;
    }
  }
  // The first file's settings describe the machine; later files add
  // registry content on top.
  for (const std::string& file : options.machines) {
    if (machine.name.empty()) {
      machine.name = file;
      machine.settings = LoadMachineSettings(file);
    }
    if (!machine.registry.LoadFile(file, &error)) {
      std::cerr << "brelvane-sim: " << error << "\n";
      return false;
    }
  }
  if (!machine.settings.error.empty()) {
    std::cerr << "brelvane-sim: " << machine.settings.error << "\n";
    return false;
  }
  return true;
}

// Letter -> host folder for every drive present: the fixture's letters
// besides C:, and every --drive.  Unnamed folders go below the temp dir.
std::optional<std::map<char, std::string>> DriveFolders(const Options& options,
                                                        const MachineSettings& settings) {
  std::map<char, std::string> folders;
  std::error_code tempError;  // the caller found the temporary folder usable
  for (char letter : settings.drives) {
    if (letter == 'C') continue;
    folders[letter] =
        (fs::temp_directory_path(tempError) / "brelvane-sim" / std::string(1, letter)).string();
  }
  for (const std::string& drive : options.drives) {
    const auto equals = drive.find('=');
    if (equals != 1 || !std::isalpha(static_cast<unsigned char>(drive[0])) || drive.size() < 3) {
      std::cerr << "brelvane-sim: --drive wants LETTER=DIR, not \"" << drive << "\"\n";
      return std::nullopt;
    }
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(drive[0])));
    folders[letter] = fs::absolute(drive.substr(2)).lexically_normal().string();
  }
  for (const auto& [letter, folder] : folders) {
    std::error_code error;
    fs::create_directories(folder, error);
    // A folder whose parent cannot be read is no drive either.
    if (!fs::is_directory(folder, error)) {
      std::cerr << "brelvane-sim: cannot use " << folder << " as drive " << letter << ":\n";
      return std::nullopt;
    }
  }
  return folders;
}

// Carries out an ending of the page logic: its message, then the run ends
// with its exit code.
int EndRun(const Platform& platform, const Ending& ending) {
  platform.prompts.Show(ending.message);
  return ending.exitCode;
}

// The install page until the sheet closes or the page logic ends the run:
// the user installs, refreshes (what switching to the agreement tab and back
// does) or cancels.
int RunInstallPage(const Platform& platform, ConsoleAnswers& answers, ConsoleSheetView& sheetView,
                   ConsolePageView& installView, InstallPage& install) {
  std::ostream& out = std::cout;
  for (;;) {
    PrintInstallPage(out, sheetView, installView);
    // What the Windows program writes only to its log: how the drive was
    // found, or why not.
    for (const std::string& line : install.discovery().lines)
      out << "  (discovery) " << EscapeControls(line) << "\n";
    std::vector<std::string> choices;
    if (sheetView.installButtonVisible()) choices.push_back("install");
    choices.push_back("refresh");
    choices.push_back("cancel");
    const std::string choice = answers.Ask("Choose", choices, "cancel");
    if (choice == "cancel") {
      out << "Cancelled: the sheet closes.\n";
      return 0;
    }
    if (choice == "refresh") {
      // What switching to the agreement tab and back does.
      sheetView.SetActivePage(PageId::Agreement);
      sheetView.SetActivePage(PageId::Install);
      continue;
    }
    const InstallRunResult run = install.OnApply();
    if (run.ending) return EndRun(platform, *run.ending);
    if (run.closesSheet) {
      out << "The sheet closes.\n";
      return 0;
    }
  }
}

// The wizard from the sheet's creation to its closing, or to an ending the
// page logic gives.
// `terminal`: stdout is a terminal (the agreement goes through a pager);
// `progressBar`: stderr is one (the install run draws its bar there).
int RunWizard(const Platform& platform, ConsoleAnswers& answers, bool terminal, bool progressBar,
              bool launch) {
  std::ostream& out = std::cout;
  ConsoleSheetView sheetView;
  ConsolePageView agreementView;
  ConsolePageView installView;
  InitialiseInstallPage(installView);
  installView.DrawProgressBar(progressBar);

  Sheet sheet(platform, sheetView);
  if (const PageEnding ending = sheet.Open()) return EndRun(platform, *ending);
  LicensePage license(sheet, agreementView);
  InstallPage install(sheet, installView);
  sheetView.onActivate = [&](PageId page) {
    if (page == PageId::Agreement) license.OnSetActive();
    if (page == PageId::Install) {
      install.OnSetActive();
      // The user's tick, given on the command line, once the box is offered.
      if (launch && installView.control(ids::kLaunchCheckBox).visible)
        installView.SetChecked(ids::kLaunchCheckBox, true);
    }
  };

  out << "Package: " << sheet.state().packagePath << "\n";
  if (const PageEnding ending = sheet.OnCreate()) return EndRun(platform, *ending);
  if (sheet.wantsSidePicture())
    out << "(Kestrin or Ovin alone: the sheet shows its side picture, "
        << SheetWidening(kSidePictureWidth) << " pixels wider)\n";

  if (const PageEnding ending = license.OnInitDialog()) return EndRun(platform, *ending);
  license.OnSetActive();
  out << "\n== " << kSheetCaption << " ==\n  " << TabRow(sheetView) << "\n\n";
  Page(out, agreementView.control(ids::kAgreementText).text, terminal);
  out << "\n";
  if (answers.Ask("Accept or Decline the agreement", {"accept", "decline"}, "decline") ==
      "decline") {
    return EndRun(platform, license.OnDecline());
  }
  license.OnAccept();

  return RunInstallPage(platform, answers, sheetView, installView, install);
}

// The program's options; an exit code when they end the program (help, a
// bad option).
std::optional<int> ParseOptions(int argc, char** argv, Options& options) {
  CLI::App app{"brelvane-sim: the Brelvane installer's wizard on a simulated machine"};
  // Each of the repeatable options takes one value, so the setup's switches
  // that follow are not taken for more.
  app.add_option("--machine", options.machines,
                 "a machine as a .reg file (repeatable; the first file's settings count)")
      ->check(CLI::ExistingFile)
      ->allow_extra_args(false);
  app.add_option("--drive", options.drives, "map drive LETTER to host folder DIR (LETTER=DIR)")
      ->allow_extra_args(false);
  app.add_option("--family", options.family, "the system family: nt or 9x")
      ->check(CLI::IsMember({"nt", "9x"}));
  app.add_option("--cwd", options.cwd, "the process's current directory (a Windows path)");
  app.add_option("--package", options.package,
                 "install from this package instead of this program's own file")
      ->check(CLI::ExistingFile);
  app.add_flag("--launch", options.launch, "tick \"Launch Brelvane after installation\"");
  app.add_option("setup-switches", options.setupWords,
                 "the Windows program's switches for an unattended install, as it takes them "
                 "(/silent /accept ...; after -- also in their -silent form)")
      ->type_name("WORD");
  app.footer(
      "Answers are read one per line from standard input (accept/decline, install/refresh/"
      "cancel, yes/no, ok/cancel; the first letter is enough).  At the end of input every "
      "question takes its safe answer.  Any word after the options (or after --) goes to the "
      "Windows program's unattended install as it is: /? lists its switches.  With them no "
      "question is read from the input, and the exit code tells the outcome.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) { return app.exit(error); }
  if (options.launch && !options.setupWords.empty()) {
    std::cerr << "brelvane-sim: --launch ticks the wizard's box; an unattended install takes "
                 "/launch\n";
    return 2;
  }
  return std::nullopt;
}

// Whether the temporary folder can be used; says why not.
bool TemporaryFolderUsable() {
  // The drives the fixture names, the kept copies of replaced files and the
  // unattended log all live in the temporary folder.
  // An empty TMPDIR means none, as for the other POSIX tools.
  if (const char* named = std::getenv("TMPDIR"); named != nullptr && *named == '\0') {
    ::unsetenv("TMPDIR");
  }
  std::error_code tempError;
  const fs::path temp = fs::temp_directory_path(tempError);
  if (tempError || !fs::is_directory(temp, tempError)) {
    const char* named = std::getenv("TMPDIR");
    std::cerr << "brelvane-sim: the temporary folder "
              << EscapeControls(named != nullptr ? named : temp.string())
              << " cannot be used: " << (tempError ? tempError.message() : "it is not a folder")
              << " (set TMPDIR to a folder that exists)\n";
    return false;
  }
  return true;
}

// Takes `named` as the program's own file, the package; says why not when
// it cannot be read.
bool UsePackage(PosixHost& host, const std::string& named) {
  PosixSystem& system = host.system();
  const std::string package = fs::absolute(named).lexically_normal().string();
  // A pipe or a device named as the package is refused here, with its
  // reason, rather than read as a package without modules.
  ScopedFile probe(host.files(), host.files().OpenRead(package));
  if (!probe.valid()) {
    const std::uint32_t code = system.LastError();
    std::string reason = code == win::kErrorBadFileType
                             ? "it is not a regular file (a pipe, a device or a console)"
                             : system.ErrorText(code);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    std::cerr << "brelvane-sim: cannot read the package " << EscapeControls(package) << ": "
              << reason << "\n";
    return false;
  }
  system.SetOwnExecutablePath(package);
  return true;
}

int Main(int argc, char** argv) {
  // A file-size limit makes a write fail (EFBIG, "not enough space") like a
  // full disk, which the install run reports, instead of killing the process.
  std::signal(SIGXFSZ, SIG_IGN);
  Options options;
  if (std::optional<int> ended = ParseOptions(argc, argv, options)) return *ended;
  if (!TemporaryFolderUsable()) return 1;
  Machine machine;
  if (!LoadMachine(options, machine)) return 1;
  const MachineSettings& settings = machine.settings;
  const auto folders = DriveFolders(options, settings);
  if (!folders) return 2;

  const bool terminalIn = ::isatty(STDIN_FILENO) != 0;
  const bool terminalOut = ::isatty(STDOUT_FILENO) != 0;
  const bool terminalErr = ::isatty(STDERR_FILENO) != 0;
  ConsoleAnswers answers(std::cin, std::cout, !terminalIn);
  ConsolePrompts prompts(answers, std::cout);
  PosixHost host(prompts, machine.registry);
  PosixSystem& system = host.system();

  const bool nine =
      options.family.empty() ? settings.family == MachineFamily::Win9x : options.family == "9x";
  system.SetPlatformId(nine ? win::kVerPlatformWin32Windows : win::kVerPlatformWin32Nt);
  system.SetCurrentDirectory(options.cwd.empty() ? settings.current_directory : options.cwd);
  for (const auto& [letter, storage] : settings.storage) system.SetVolumeStorage(letter, storage);
  if (!options.package.empty() && !UsePackage(host, options.package)) return 1;
  for (const auto& [letter, folder] : *folders) host.files().drives().Map(letter, folder);
  system.SetLaunchObserver([&](const std::string& path) {
    std::cout << "\nLaunch: " << EscapeControls(path) << " would start now"
              << " (the simulation does not run Windows programs)\n";
  });

  // A machine file may come from a customer's machine: its words are
  // escaped like any other name on the terminal.
  std::cout << "Simulated machine: " << EscapeControls(machine.name) << ", "
            << (nine ? "9x family" : "NT family") << ", current directory "
            << EscapeControls(options.cwd.empty() ? settings.current_directory : options.cwd)
            << "\n";
  for (const auto& [letter, folder] : *folders)
    std::cout << "Drive " << letter << ": is the folder " << folder << "\n";
  if (options.launch && nine) std::cout << "(--launch: the 9x family never offers the box)\n";

  if (!options.setupWords.empty()) {
    // The exit code tells the outcome; no answer is ever read.
    return RunUnattended(host.platform(), options.setupWords,
                         [](const std::string& line) { std::cout << line << "\n"; });
  }
  return RunWizard(host.platform(), answers, terminalOut, terminalErr, options.launch);
}

}  // namespace
}  // namespace brelvane::sim

int main(int argc, char** argv) { return brelvane::sim::Main(argc, argv); }
