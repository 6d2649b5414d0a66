#include "unattended/unattended.h"

#include "discovery/diagnose.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <optional>

#include "app/sheet.h"
#include "common/error_text.h"
#include "common/fs_helpers.h"
#include "common/messages.h"
#include "common/path_text.h"
#include "common/printable.h"
#include "common/name_rules.h"
#include "discovery/diagnose.h"
#include "discovery/discovery.h"
#include "install/install_page.h"
#include "install/install_run.h"
#include "package/package.h"
#include "ui/license_page.h"

namespace brelvane {

namespace {

// A page's controls kept in memory: what the page logic set is all there is.
class HeadlessPageView : public PageView {
 public:
  bool SetText(int controlId, const std::string& text) override {
    controls_[controlId].text = text;
    return true;
  }
  void Show(int controlId, bool visible) override { controls_[controlId].visible = visible; }
  bool IsChecked(int controlId) override { return controls_[controlId].checked; }
  void SetChecked(int controlId, bool checked) override { controls_[controlId].checked = checked; }
  bool IsVisible(int controlId) { return controls_[controlId].visible; }

 private:
  struct Control {
    std::string text;
    bool visible = false;
    bool checked = false;
  };
  std::map<int, Control> controls_;
};

class HeadlessSheetView : public SheetView {
 public:
  void ShowInstallButton(bool visible) override { installButton = visible; }
  void AddPage(PageId) override {}
  void SetActivePage(PageId page) override {
    if (onActivate) onActivate(page);
  }
  bool installButton = false;
  std::function<void(PageId)> onActivate;
};

const char* AnswerName(int answer) {
  switch (answer) {
    case win::kIdOk: return "OK";
    case win::kIdCancel: return "Cancel";
    case win::kIdYes: return "Yes";
    case win::kIdNo: return "No";
    default: return "?";
  }
}

// Shows nothing: every box is written to the log with the answer it takes.
// The Overwrite question takes /overwrite's answer; any other question its
// safe answer (No, Cancel); a notice OK.
class SilentPrompts : public Prompts {
 public:
  SilentPrompts(RunLog& log, bool overwrite) : log_(log), overwrite_(overwrite) {}
  int Show(const Message& message) override {
    const int answer = Answer(message);
    log_.Write("message \"" + message.caption + "\": " + message.text + " -> " +
               AnswerName(answer));
    return answer;
  }
  void BeginWait() override {}
  void EndWait() override {}

 private:
  int Answer(const Message& message) const {
    switch (message.style & 0x0F) {
      case win::kMbYesNo:
        return message.caption == kOverwriteCaption && overwrite_ ? win::kIdYes : win::kIdNo;
      case win::kMbOkCancel: return win::kIdCancel;
      default: return win::kIdOk;
    }
  }
  RunLog& log_;
  bool overwrite_;
};

// Logs the run file by file and keeps why it stopped.
class RunWatcher : public InstallObserver {
 public:
  explicit RunWatcher(RunLog& log) : log_(log) {}
  void FileWritten(const std::string& destination, std::uint64_t size) override {
    log_.Write("written " + destination + " (" + std::to_string(size) + " bytes)");
  }
  void FileSkipped(const std::string& destination, std::uint64_t size) override {
    log_.Write("skipped " + destination + " (" + std::to_string(size) +
               " bytes): the file there is kept, and it differs from the set's");
    kept.push_back(destination);
  }
  void FileUnchanged(const std::string& destination, std::uint64_t size) override {
    log_.Write("unchanged " + destination + " (" + std::to_string(size) +
               " bytes): it already holds the set's file");
  }
  void FileSuperseded(const std::string& destination) override {
    log_.Write("not installed: an older module of the set that goes to " + destination +
               ", where a newer module of the set goes");
  }
  void Stopped(RunStop why) override { stop = why; }
  void Launched(const std::string& path, bool started) override {
    log_.Write((started ? "started " : "could not start ") + path);
  }
  void FolderTaken(const std::string& stored, const std::string& taken) override {
    log_.Write("the stored folder \"" + NameInMessage(stored) + "\" is taken as \"" +
               NameInMessage(taken) + "\", as Windows drops a part's trailing blanks and dots");
  }
  void RoomCounted(const std::string& where, std::uint64_t needed, std::uint64_t free) override {
    log_.Write("room in " + NameInMessage(where) + ": " + std::to_string(needed) +
               " bytes needed, " + std::to_string(free) + " bytes free");
  }
  void Healed(const std::string& what) override { log_.Write("interrupted run: " + what); }
  void LeftoverRemoved(const std::string& path) override {
    log_.Write("removed " + path + ", a staging file an interrupted run left");
  }
  std::optional<RunStop> stop;
  std::vector<std::string> kept;  // files kept that differ from the set

 private:
  RunLog& log_;
};

const char* ModelName(DriveModel model) {
  const DriveModelRow* row = RowOf(model);
  return row != nullptr ? row->name : "none";
}

struct Outcome {
  ExitCode code;
  std::string words;
};
Outcome OutcomeOf(RunStop stop) {
  switch (stop) {
    case RunStop::NoDrive: return {ExitCode::NoDrive, "the drive is gone"};
    case RunStop::DriveRemoved:
      return {ExitCode::NoDrive, "the drive was removed during the install; plug it in again"};
    case RunStop::UnsupportedModel:
      return {ExitCode::WrongModels, "the drive's model is not supported"};
    case RunStop::NoModuleSet:
      return {ExitCode::NoModuleSet, "the package holds no module set for the drive"};
    case RunStop::UnsafeModule:
      return {ExitCode::BadPackage, "a module cannot be installed safely"};
    case RunStop::DamagedModule: return {ExitCode::BadPackage, "a module is damaged"};
    case RunStop::UnreadablePackage: return {ExitCode::BadPackage, "the package cannot be read"};
    case RunStop::WriteProtected:
      return {ExitCode::WriteProtected,
              "the drive is write-protected: slide its switch or lift its protection; nothing "
              "written"};
    case RunStop::DriveLocked:
      return {ExitCode::DriveLocked,
              "the drive is locked by BitLocker: unlock it; nothing written"};
    case RunStop::WriteDenied:
      return {ExitCode::WriteDenied,
              "writing on the drive is denied (a policy may block USB drives): ask the "
              "administrator; nothing written"};
    case RunStop::NoRoom:
      return {ExitCode::NoRoom, "the drive lacks room for the whole set; nothing written"};
    case RunStop::WriteFailed:
    case RunStop::StoppedByUser: break;
  }
  return {ExitCode::WriteFailed, "a file could not be written; what was there before is unchanged"};
}

class UnattendedRun {
 public:
  UnattendedRun(const Platform& host, const Switches& switches, RunLog& log)
      : host_(host), switches_(switches), log_(log) {}

  ExitCode Install();
  ExitCode Verify();

 private:
  ExitCode Finish(Outcome outcome) {
    log_.Say(std::string("result: ") + outcome.words + "; exit code " +
             std::to_string(ToInt(outcome.code)));
    return outcome.code;
  }
  // After the install page's activation: how the run ends before Install
  // is pressed, or nothing when the set can be installed.
  std::optional<Outcome> CheckPage(const InstallPage& install, bool installOffered);

  const Platform& host_;
  const Switches& switches_;
  RunLog& log_;
};

std::optional<Outcome> UnattendedRun::CheckPage(const InstallPage& install, bool installOffered) {
  for (const std::string& line : install.discovery().lines) log_.Write("discovery: " + line);
  if (install.driveLetter() == 0 || install.model() == DriveModel::None) {
    if (!install.discovery().lookAlike.empty())
      return Outcome{ExitCode::NoDrive, "two drives look the same (" +
                                            install.discovery().lookAlike +
                                            "): unplug the one that is not the drive"};
    return Outcome{ExitCode::NoDrive, "no supported drive is plugged in"};
  }
  log_.Say(std::string("drive ") + install.driveLetter() + ": found, model " +
           ModelName(install.model()));
  const char* marker = SetMarkerOf(install.model());
  if (marker == nullptr)
    return Outcome{ExitCode::WrongModels, "the drive's model is not supported"};
  if (installOffered) return std::nullopt;
  // The page offers no Install for a package it cannot read either.
  switch (install.LookForModuleSet(marker)) {
    case SetInPackage::Damaged:
      return Outcome{ExitCode::BadPackage,
                     "the installer file is damaged or incomplete (a module record is cut off or "
                     "does not match its check): download it again"};
    case SetInPackage::Unreadable:
      return Outcome{ExitCode::BadPackage, "the package cannot be read"};
    case SetInPackage::Present:
    case SetInPackage::Absent: break;
  }
  return Outcome{ExitCode::NoModuleSet, "the package holds no module set for the drive's model"};
}

ExitCode UnattendedRun::Install() {
  if (!switches_.accept) {
    return Finish({ExitCode::NotAccepted,
                   "the license agreement was not accepted (/accept is missing); nothing "
                   "installed"});
  }
  SilentPrompts prompts(log_, switches_.overwrite.value_or(false));
  const Platform platform{host_.files, host_.system, host_.registry, prompts};
  HeadlessSheetView sheetView;
  HeadlessPageView agreementView;
  HeadlessPageView installView;
  Sheet sheet(platform, sheetView);
  // In silent mode the two checks of the start end with their codes; their
  // boxes go to the log.
  if (const PageEnding ending = sheet.Open()) {
    prompts.Show(ending->message);
    return Finish({ExitCode::BadPackage, "the program cannot find its own file"});
  }
  log_.Write("package " + sheet.state().packagePath);
  if (const PageEnding ending = sheet.OnCreate()) {
    prompts.Show(ending->message);
    return Finish(
        {ExitCode::WrongModels, "drives of more than one supported model are plugged in"});
  }
  LicensePage license(sheet, agreementView);
  InstallPage install(sheet, installView);
  RunWatcher watcher(log_);
  install.SetObserver(&watcher);
  sheetView.onActivate = [&](PageId page) {
    if (page == PageId::Install) install.OnSetActive();
  };
  log_.Write("license agreement accepted on the user's behalf (/accept)");
  license.OnAccept();
  if (std::optional<Outcome> ended = CheckPage(install, sheetView.installButton)) {
    return Finish(*ended);
  }
  if (switches_.launch) {
    if (installView.IsVisible(ids::kLaunchCheckBox)) {
      installView.SetChecked(ids::kLaunchCheckBox, true);
    } else {
      log_.Write("/launch: this system's installer never starts the utility (9x family)");
    }
  }
  const InstallRunResult run = install.OnApply();
  if (run.ending) {
    prompts.Show(run.ending->message);
    return Finish({ExitCode::WrongModels, "the drive's model changed during the run"});
  }
  if (run.closesSheet && !watcher.kept.empty()) {
    // A mixed set is no installed set: the files kept are named.
    std::string names;
    for (const std::string& path : watcher.kept) names += (names.empty() ? "" : ", ") + path;
    const std::string words = "the module set is installed, but " +
                              std::to_string(watcher.kept.size()) +
                              " file(s) that differ from the set were kept: " + names;
    return Finish({ExitCode::KeptFiles, words});
  }
  if (run.closesSheet) return Finish({ExitCode::Success, "the module set is installed"});
  return Finish(OutcomeOf(watcher.stop.value_or(RunStop::WriteFailed)));
}

ExitCode UnattendedRun::Verify() {
  const std::optional<std::string> own = host_.system.OwnExecutablePath();
  if (!own) {
    log_.Say("cannot find the program's own file: " + OneLine(GetLastErrorText(host_.system)));
    return Finish({ExitCode::BadPackage, "the program cannot find its own file"});
  }
  log_.Write("package " + *own);
  const PackageVerdict verdict = VerifyPackage(host_, PackageRef{*own, kRecordSize});
  const WalkResult& walk = verdict.walk;
  for (const ModuleProblem& problem : verdict.problems) {
    const std::string where = ModuleAt(walk.modules[problem.module]);
    log_.Say(problem.state == ContentState::Damaged
                 ? where + " is damaged: its content does not match its check"
                 : where + " cannot be read: " + OneLine(host_.system.ErrorText(problem.error)));
  }
  for (const WalkedModule& module : walk.modules) {
    if (IsBeyondReach(module)) {
      log_.Say("module \"" + NameForTerminal(module.record.fileName) +
               "\" lies beyond 2 GiB, where the installer cannot read it");
    }
  }
  if (walk.strayBytes > 0) {
    log_.Say(std::to_string(walk.strayBytes) + " stray byte(s) follow the last whole module");
  }
  if (walk.end == WalkEnd::DamagedRecord) {
    log_.Say("the module record ending at offset " + std::to_string(walk.stopOffset) +
             " is damaged: it does not match its check");
  } else if (walk.end != WalkEnd::Image) {
    log_.Say("the modules cannot all be read: the walk stops at offset " +
             std::to_string(walk.stopOffset));
  }
  if (!verdict.IsSound()) return Finish({ExitCode::VerifyFailed, "the package fails verification"});
  log_.Say(SoundSummary(verdict));
  return Finish({ExitCode::Success, "the package is sound"});
}

// Any word "/silent" in any case: a command line too bad to read still
// shows no box when it asks for silence.
bool AsksForSilence(const std::vector<std::string>& words) {
  for (std::string word : words) {
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "/silent" || word == "-silent") return true;
  }
  return false;
}

// A line for a person: the console when there is one, else a box unless
// the run is silent.
void Report(const Platform& host, const ConsoleFn& console, bool silent, const std::string& text,
            std::uint32_t style) {
  if (console) {
    std::size_t at = 0;
    while (at <= text.size()) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      if (end > at || end < text.size()) console(text.substr(at, end - at));
      at = end + 1;
    }
    return;
  }
  if (silent) return;
  Message message{text, kProgramName, style};
  host.prompts.Show(message);
}

// A command line the run cannot take: the reason, then code 1.
int Refuse(const Platform& host, const ConsoleFn& console, bool silent, const std::string& why) {
  Report(host, console, silent,
         std::string(kProgramName) + ": " + EscapeControls(why) +
             "\n(/? lists the switches; nothing installed)",
         win::kMbIconHand);
  return ToInt(ExitCode::BadCommandLine);
}

// Why the log may not go to `log`: it would write into the package, a file
// of the set, or a name the install's staging files take.  Looked at before
// the log is opened, so such a run writes nothing at all.
std::optional<std::string> LogPathProblem(const Platform& host, const std::string& log) {
  if (IsStagingName(SplitFolder(log).second)) {
    return "the log file " + log + " has the name of the installer's staging files";
  }
  const std::optional<std::string> own = host.system.OwnExecutablePath();
  if (own && NamesSameFile(host, log, *own)) return "the log file " + log + " is this installer";
  DriveModel model = DriveModel::None;
  const char letter = FindTargetDrive(host, &model);
  const char* marker = letter != 0 ? SetMarkerOf(model) : nullptr;
  if (!own || marker == nullptr) return std::nullopt;
  for (const std::string& destination :
       SetDestinations(host, PackageRef{*own, kRecordSize}, letter, marker)) {
    if (NamesSameFile(host, log, destination)) {
      return "the log file " + log + " is " + destination + ", a file the installer writes";
    }
  }
  return std::nullopt;
}

// /diagnose: discovery's reads as a new machine file, whole or not at all.
// No window: the outcome goes to the console, if any, and the exit code.
int WriteDiagnosis(const Platform& host, const ConsoleFn& console, const std::string& path) {
  const Diagnosis diagnosis = DiagnoseDiscovery(host);
  // A run killed while writing left its hidden staging file beside FILE.
  RemoveStagingLeftovers(host, SplitFolder(path).first);
  if (!WriteFileIntoPlace(host, diagnosis.file, path)) {
    Report(host, console, true,
           std::string(kProgramName) + ": cannot write the machine file " + path + ": " +
               OneLine(GetLastErrorText(host.system)) + " (give a new file's name)",
           win::kMbIconHand);
    return ToInt(ExitCode::WriteFailed);
  }
  const std::vector<std::string>& lines = diagnosis.report.lines;
  std::string words = std::string(kProgramName) + ": wrote " + path + "; " +
                      (lines.empty() ? std::string("no answer") : lines.back());
  if (diagnosis.keysLeftOut != 0)
    words += "; " + std::to_string(diagnosis.keysLeftOut) +
             " key(s) whose names hold control characters are left out, so a replay may "
             "answer otherwise";
  Report(host, console, true, words, win::kMbIconInformation);
  return ToInt(ExitCode::Success);
}

std::string Joined(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) line += (line.empty() ? "" : " ") + word;
  return line;
}

}  // namespace

int RunUnattended(const Platform& host, const std::vector<std::string>& words,
                  const ConsoleFn& console, bool anotherCopyRuns) {
  const ParsedCommandLine parsed = ParseSwitches(words);
  if (parsed.error) return Refuse(host, console, AsksForSilence(words), *parsed.error);
  const Switches& s = parsed.switches;
  if (s.help) {
    Report(host, console, s.silent, console ? HelpText() : HelpTextForABox(),
           win::kMbIconInformation);
    return ToInt(ExitCode::Success);
  }
  if (std::optional<std::string> mismatch = MismatchOf(s)) {
    return Refuse(host, console, s.silent, *mismatch);
  }
  if (s.diagnose) return WriteDiagnosis(host, console, *s.diagnose);
  // Two copies writing one drive would each ask about, and replace, what
  // the other wrote.
  if (anotherCopyRuns && !s.verify) {
    Report(host, console, s.silent, std::string(kProgramName) + ": " + kAnotherCopyRuns,
           win::kMbIconHand);
    return ToInt(ExitCode::AnotherCopy);
  }
  RunLog log(host, console);
  std::optional<std::string> logPath = s.log;
  if (!logPath && s.silent) logPath = RunLog::DefaultPath(host.system);
  if (s.silent && !logPath) return Refuse(host, console, true, "no temporary folder for the log");
  if (logPath) {
    if (std::optional<std::string> problem = LogPathProblem(host, *logPath)) {
      return Refuse(host, console, s.silent, *problem);
    }
  }
  if (logPath && !log.Open(*logPath)) {
    return Refuse(
        host, console, s.silent,
        "cannot open the log file " + *logPath + ": " + OneLine(GetLastErrorText(host.system)));
  }
  log.Write(std::string(kProgramName) + " " + BRELVANE_VERSION + ": " + Joined(words));
  UnattendedRun run(host, s, log);
  const ExitCode code = s.verify ? run.Verify() : run.Install();
  if (s.verify && !s.silent && !console) {
    std::string text;
    for (const std::string& line : log.said()) text += line + "\r\n";
    Report(host, console, false, text,
           code == ExitCode::Success ? win::kMbIconInformation : win::kMbIconHand);
  }
  return ToInt(code);
}

}  // namespace brelvane
