// The unattended install on simulated machines: every exit code, the log's
// lines, and the Overwrite answer taken from the command line.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sstream>

#include "package/content_check.h"
#include "support/wizard_machine.h"
#include "unattended/unattended.h"

namespace brelvane {
namespace {

using testing::BuildPackage;
using testing::ModuleSpec;
using testing::TempDrive;
using testing::TestDrive;
using testing::WizardMachine;

const ModuleSpec kUtility{"m1.exe", "the utility's bytes", "", win::kAttrNormal,
                          PredefinedSet::Ovin};
const ModuleSpec kKestrinOnly{"m1.exe", "the utility's bytes", "", win::kAttrNormal,
                              PredefinedSet::Kestrin};

// What a case sets up beyond the machine and the package.
struct Rig {
  WizardMachine& machine;
  TestDrive& drive;
  TempDrive& work;
};

struct Case {
  const char* name;
  const char* fixture;
  std::vector<std::string> words;  // /log=W:\run.log follows them unless noLog
  ExitCode code;
  const char* logged;  // a line of the log holds this; empty: no log is written
  std::function<void(Rig&)> prepare = nullptr;
  std::optional<std::string> utilityAfter = std::nullopt;  // E:\m1.exe afterwards; nullopt: absent
  std::vector<ModuleSpec> modules = {kUtility};
  bool noLog = false;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// Flips a byte of the newest module's content, just before its record.
void DamageNewestModule(Rig& s) {
  std::string bytes = *s.work.ReadHostFile("setup.exe");
  const std::size_t at = bytes.size() - kRecordSize - 1;
  bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
  s.work.WriteHostFile("setup.exe", bytes);
}
// Flips a byte of the newest module's name, in its record.
void DamageNewestRecord(Rig& s) {
  std::string bytes = *s.work.ReadHostFile("setup.exe");
  const std::size_t at = bytes.size() - kRecordSize + kFileNameOffset;
  bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
  s.work.WriteHostFile("setup.exe", bytes);
}
// Writes `text` and its terminator into a field of the newest record and
// seals the record check anew, as a crafter of such a record would.
void CraftNewestRecord(Rig& s, std::size_t field, const std::string& text) {
  std::string bytes = *s.work.ReadHostFile("setup.exe");
  const std::size_t record = bytes.size() - kRecordSize;
  bytes.replace(record + field, text.size() + 1, text + '\0');
  auto* sealed = reinterpret_cast<std::uint8_t*>(bytes.data() + record);
  SealRecord(sealed, LoadContentCheck(sealed));
  s.work.WriteHostFile("setup.exe", bytes);
}
// A name whose line break would start a forged line of the log.
void CraftNewestName(Rig& s) {
  CraftNewestRecord(s, kFileNameOffset, "x\r\nresult: the module set is installed; exit code 0");
}
// A folder as an older builder stored it, as typed with a trailing blank.
void FolderWithATrailingBlank(Rig& s) { CraftNewestRecord(s, kExtractDirOffset, "Docs "); }
void OldUtilityThere(Rig& s) { s.drive.WriteHostFile("m1.exe", "old"); }
void HalfDownloaded(Rig& s) { testing::CutShortAsAProgram(s.work, "setup.exe", 100); }

const std::string kInstalled = "the utility's bytes";

// A /silent /accept run whose log switch is refused with 1 before anything
// is written: no log, and the drive as `prepare` left it.
Case RefusedLog(const char* name, const char* logSwitch,
                std::function<void(Rig&)> prepare = nullptr,
                std::optional<std::string> utilityAfter = std::nullopt) {
  return {name,
          "ovin-e",
          {"/silent", "/accept", logSwitch},
          ExitCode::BadCommandLine,
          "",
          prepare,
          utilityAfter,
          {kUtility},
          true};
}

const Case kCases[] = {
    {"installs the set",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::Success,
     "written E:\\m1.exe (19 bytes)",
     nullptr,
     kInstalled},
    {"switches in any case and with a dash",
     "ovin-e",
     {"-SILENT", "/Accept"},
     ExitCode::Success,
     "result: the module set is installed; exit code 0",
     nullptr,
     kInstalled},
    {"/launch starts the utility",
     "ovin-e",
     {"/silent", "/accept", "/launch"},
     ExitCode::Success,
     "started E:\\m1.exe",
     nullptr,
     kInstalled},
    {"without /accept nothing is installed",
     "ovin-e",
     {"/silent"},
     ExitCode::NotAccepted,
     "(/accept is missing)"},
    {"no drive",
     "none",
     {"/silent", "/accept"},
     ExitCode::NoDrive,
     "no supported drive is plugged in; exit code 3"},
    {"two models: the box goes to the log",
     "kestrin-ovin",
     {"/silent", "/accept"},
     ExitCode::WrongModels,
     "More than one Suported Mivora detected under Windows. Please unplug"},
    {"no set for the drive's model",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::NoModuleSet,
     "no module set for the drive's model",
     nullptr,
     std::nullopt,
     {kKestrinOnly}},
    {"a damaged module",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::BadPackage,
     "is damaged: its content does not match its check. Obtain a fresh copy",
     DamageNewestModule},
    {"a damaged record",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::BadPackage,
     "the installer file is damaged or incomplete (a module record is cut off or does not match "
     "its check): download it again",
     DamageNewestRecord},
    {"a half-downloaded installer",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::BadPackage,
     "the installer file is damaged or incomplete",
     HalfDownloaded},
    {"a name's line break is escaped in the log",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::BadPackage,
     "The module \"x\\x0D\\x0Aresult: the module set is installed; exit code 0\"",
     CraftNewestName},
    {"the program cannot find its own file",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::BadPackage,
     "Please run this application from DESKTOP folder.",
     [](Rig& s) { s.machine.system().FailOwnExecutablePath(win::kErrorFileNotFound); }},
    {"the drive takes no file",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::WriteFailed,
     "message \"setup\": Unable to write on drive E: ",
     [](Rig& s) {
       s.machine.test().faults().FailPath(testing::FaultyFileSystem::Op::Open, "~BV",
                                          win::kErrorDiskFull);
     }},
    // The drive as it really is: each refusal before the first write has its
    // own code, and the drive keeps what it had.
    {"a write-protected drive",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::WriteProtected,
     "Drive E: is write-protected: nothing can be written on it.",
     [](Rig& s) {
       s.machine.test().faults().ReportVolume({true, 4096});
     }},
    {"a drive that refuses the first write as write-protected",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::WriteProtected,
     "Slide the drive's write-protect switch",
     [](Rig& s) {
       s.machine.test().faults().FailPath(testing::FaultyFileSystem::Op::Open, "~BV",
                                          win::kErrorWriteProtect);
     }},
    {"a drive a policy denies",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::WriteDenied,
     "Your organisation may block writing to USB drives: ask your administrator.",
     [](Rig& s) {
       s.machine.test().faults().FailPath(testing::FaultyFileSystem::Op::Open, "~BV",
                                          win::kErrorAccessDenied);
     }},
    {"a BitLocker drive still locked",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::DriveLocked,
     "Drive E: is locked by BitLocker Drive Encryption. Unlock drive E: in Explorer",
     [](Rig& s) {
       s.machine.test().faults().FailAll(testing::FaultyFileSystem::Op::FreeSpace,
                                         win::kFveLockedVolume);
     }},
    {"a file the run may not open is asked about and kept",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::KeptFiles,
     "Delete this file before Installing? -> No",
     [](Rig& s) {
       OldUtilityThere(s);
       s.machine.test().faults().FailPath(testing::FaultyFileSystem::Op::Open, "m1.exe",
                                          win::kErrorAccessDenied);
     },
     "old"},
    {"a file already identical is left alone without a question",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::Success,
     "unchanged E:\\m1.exe (19 bytes): it already holds the set's file",
     [](Rig& s) { s.drive.WriteHostFile("m1.exe", kInstalled); },
     kInstalled},
    {"an older module of the set to the same file, named in another case, is not installed",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::Success,
     "not installed: an older module of the set that goes to E:\\Docs\\a.txt",
     [](Rig& s) {
       CraftNewestRecord(s, kFileNameOffset, "A.TXT");
       CraftNewestRecord(s, kExtractDirOffset, "docs");
     },
     kInstalled,
     {kUtility,
      {"a.txt", "older", "Docs", win::kAttrNormal, PredefinedSet::Ovin},
      {"b.txt", "newer", "Docs", win::kAttrNormal, PredefinedSet::Ovin}}},
    {"a leftover of an interrupted run is removed and logged",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::Success,
     "removed E:\\~BV00000.TMP, a staging file an interrupted run left",
     [](Rig& s) {
       s.drive.WriteHostFile("~BV00000.TMP", "left");
       ASSERT_TRUE(s.machine.test().files().SetAttributes(s.drive.WinPath("~BV00000.TMP"),
                                                          win::kAttrHidden | win::kAttrSystem));
     },
     kInstalled},
    {"a stored folder's trailing blank is dropped, as Windows drops it",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::Success,
     "the stored folder \"Docs \" is taken as \"Docs\", as Windows drops a part's trailing",
     FolderWithATrailingBlank},
    {"a root the user may not write does not refuse a set for a folder that can be written",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::Success,
     "written E:\\Docs\\a.txt (5 bytes)",
     [](Rig& s) {
       s.drive.MakeHostDirectory("Docs");
       s.machine.test().faults().FailPath(testing::FaultyFileSystem::Op::Open, "E:\\~BV",
                                          win::kErrorAccessDenied);
     },
     std::nullopt,
     {{"a.txt", "a set", "Docs", win::kAttrNormal, PredefinedSet::Ovin}}},
    // A mixed set is never reported as installed: the files kept are named.
    {"an existing file is kept by default",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::KeptFiles,
     "result: the module set is installed, but 1 file(s) that differ from the set were kept: "
     "E:\\m1.exe; exit code 10",
     OldUtilityThere,
     "old"},
    {"/overwrite=no keeps it",
     "ovin-e",
     {"/silent", "/accept", "/overwrite=NO"},
     ExitCode::KeptFiles,
     "Delete this file before Installing? -> No",
     OldUtilityThere,
     "old"},
    {"/overwrite=yes replaces it",
     "ovin-e",
     {"/silent", "/accept", "/overwrite=yes"},
     ExitCode::Success,
     "Delete this file before Installing? -> Yes",
     OldUtilityThere,
     kInstalled},
    {"an unknown switch", "ovin-e", {"/silent", "/quiet"}, ExitCode::BadCommandLine, ""},
    // A log that would write into a file the run writes or reads is refused
    // before anything is written.
    RefusedLog("/log= naming a file of the set", "/log=E:\\M1.EXE", OldUtilityThere, "old"),
    RefusedLog("/log= naming a staging file", "/log=E:\\~BV00000.TMP"),
    RefusedLog("/log= naming the package", "/log=W:\\setup.exe"),
    {"/accept without /silent", "ovin-e", {"/accept"}, ExitCode::BadCommandLine, ""},
    {"/verify: sound",
     "ovin-e",
     {"/verify"},
     ExitCode::Success,
     "1 module(s), 1 checked and sound, 0 without a check; not signed"},
    {"/verify: damaged",
     "ovin-e",
     {"/verify", "/silent"},
     ExitCode::VerifyFailed,
     "is damaged: its content does not match its check",
     DamageNewestModule},
    {"/verify: a damaged record",
     "ovin-e",
     {"/verify", "/silent"},
     ExitCode::VerifyFailed,
     " is damaged: it does not match its check",
     DamageNewestRecord},
    {"/? installs nothing", "ovin-e", {"/?"}, ExitCode::Success, ""},
    {"/silent without /log writes to the temporary folder",
     "ovin-e",
     {"/silent", "/accept"},
     ExitCode::Success,
     "written E:\\m1.exe",
     [](Rig& s) { s.machine.system().SetTempDirectory(s.work.WinPath("")); },
     kInstalled,
     {kUtility},
     true},
};

class Unattended : public ::testing::TestWithParam<Case> {};

TEST_P(Unattended, EndsWithItsCodeAndLogsWhatHappened) {
  const Case& c = GetParam();
  WizardMachine machine(c.fixture);
  TestDrive drive(machine, 'E');
  if (!drive.usable()) GTEST_SKIP() << "needs a drive letter of its own";
  TempDrive work(machine.test(), 'W');
  machine.system().SetOwnExecutablePath(BuildPackage(machine.test(), work, "setup.exe", c.modules));
  Rig rig{machine, drive, work};
  if (c.prepare) c.prepare(rig);
  const std::optional<std::string> package = work.ReadHostFile("setup.exe");
  std::vector<std::string> words = c.words;
  if (!c.noLog) words.push_back("/log=" + work.WinPath("run.log"));
  std::vector<std::string> console;

  const int code = RunUnattended(machine.platform(), words,
                                 [&](const std::string& line) { console.push_back(line); });

  EXPECT_EQ(code, ToInt(c.code));
  EXPECT_TRUE(machine.prompts().messages().empty()) << "a box was shown";
  EXPECT_EQ(drive.ReadHostFile("m1.exe"), c.utilityAfter);
  EXPECT_EQ(work.ReadHostFile("setup.exe"), package) << "the package is only read";
  EXPECT_FALSE(drive.HostExists("~BV00000.TMP"));
  const std::optional<std::string> log =
      work.ReadHostFile(c.noLog ? "brelvane-setup.log" : "run.log");
  if (*c.logged == '\0') {
    EXPECT_FALSE(log.has_value()) << *log;
    return;
  }
  ASSERT_TRUE(log.has_value());
  EXPECT_NE(log->find(c.logged), std::string::npos) << *log;
  std::istringstream lines(*log);
  std::string line;
  const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d .*\r)");
  while (std::getline(lines, line)) EXPECT_TRUE(std::regex_match(line, stamped)) << line;
  EXPECT_NE(log->find("brelvane-setup 1.0: " + c.words.front()), std::string::npos) << *log;
  EXPECT_NE(log->find("; exit code " + std::to_string(ToInt(c.code))), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Machines, Unattended, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p)
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           return name;
                         });

// A second copy while one runs: an install is refused with its own code and
// writes nothing; /verify, which only reads, still runs.
TEST(UnattendedSecondCopy, InstallsNothingWhileAnotherCopyRuns) {
  WizardMachine machine("ovin-e");
  TestDrive drive(machine, 'E');
  if (!drive.usable()) GTEST_SKIP() << "needs a drive letter of its own";
  TempDrive work(machine.test(), 'W');
  machine.system().SetOwnExecutablePath(
      BuildPackage(machine.test(), work, "setup.exe", {kUtility}));
  std::vector<std::string> console;
  const ConsoleFn said = [&](const std::string& line) { console.push_back(line); };
  EXPECT_EQ(RunUnattended(machine.platform(), {"/silent", "/accept"}, said, true),
            ToInt(ExitCode::AnotherCopy));
  EXPECT_EQ(console, std::vector<std::string>{std::string("brelvane-setup: ") + kAnotherCopyRuns});
  EXPECT_FALSE(drive.HostExists("m1.exe"));
  EXPECT_EQ(RunUnattended(machine.platform(), {"/verify"}, said, true), ToInt(ExitCode::Success));
}

// Appended, not replaced: a second run adds its lines behind the first's.
TEST(UnattendedLog, IsAppendedToAndRefusedWhenItCannotBeOpened) {
  WizardMachine machine("none");
  TempDrive work(machine.test(), 'W');
  machine.system().SetOwnExecutablePath(BuildPackage(machine.test(), work, "setup.exe", {}));
  const std::vector<std::string> words = {"/silent", "/accept", "/log=" + work.WinPath("run.log")};
  EXPECT_EQ(RunUnattended(machine.platform(), words, nullptr), ToInt(ExitCode::NoDrive));
  EXPECT_EQ(RunUnattended(machine.platform(), words, nullptr), ToInt(ExitCode::NoDrive));
  const std::string log = *work.ReadHostFile("run.log");
  EXPECT_NE(log.find("exit code 3"), log.rfind("exit code 3"));

  std::vector<std::string> console;
  EXPECT_EQ(
      RunUnattended(machine.platform(),
                    {"/silent", "/accept", "/log=" + work.WinPath("no\x1b[2J folder\\run.log")},
                    [&](const std::string& line) { console.push_back(line); }),
      ToInt(ExitCode::BadCommandLine));
  ASSERT_FALSE(console.empty());
  EXPECT_NE(console.front().find("cannot open the log file"), std::string::npos);
  // The path as a person reads it, never an escape sequence for the terminal.
  EXPECT_NE(console.front().find("no\\x1B[2J folder"), std::string::npos) << console.front();
}

}  // namespace
}  // namespace brelvane
