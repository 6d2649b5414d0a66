#include "commands.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "builder/extract_rule.h"
#include "builder/file_blocks.h"
#include "builder/module_json.h"
#include "builder/module_list.h"
#include "common/name_rules.h"
#include "common/printable.h"
#include "console.h"
#include "package/append_journal.h"
#include "package/package.h"
#include "package/package_guard.h"
#include "shared.h"

namespace brelvane::oempack {
// The helpers every command shares; build.cpp uses some (shared.h).
namespace shared {

// Names in a line may come from a package: control characters are shown
// escaped, never sent to the terminal.
int Fail(const std::string& line) {
  WriteText(stderr, "oempack: " + EscapeControls(line) + "\n");
  return kExitFailed;
}

int FailWithSystemText(const Platform& platform, const std::string& what) {
  return Fail(what + ": " + LastErrorLine(platform.system));
}

PackageRef Package(const std::string& installer) { return PackageRef{installer, kRecordSize}; }

// Notes, not failures: an append that died half-way left bytes behind the
// last complete module (every module before them is read as usual), or the
// journal's name holds a stale journal or another file, which the walk
// passes over.
void NoteJournal(const std::string& installer, const WalkResult& walk) {
  const std::string journal = EscapeControls(JournalPath(installer));
  if (walk.interruptedAppend > 0) {
    WriteText(stderr, "oempack: " + EscapeControls(installer) + ": an interrupted append left " +
                          std::to_string(walk.interruptedAppend) +
                          " byte(s) behind the last module; the next add removes them\n");
  } else if (walk.journal == JournalState::Stale) {
    WriteText(stderr, "oempack: " + journal +
                          " is a stale journal (it hides no module and is ignored); the next add "
                          "removes it\n");
  } else if (walk.journal == JournalState::Foreign) {
    WriteText(stderr, "oempack: " + journal +
                          " is not a journal (or cannot be read); it is ignored, but no module can "
                          "be added beside it until it is moved away\n");
  }
}

int FailStrayBytes(const std::string& installer, const WalkResult& walk, const std::string& tail) {
  return Fail(StrayBytesLine(installer, walk, tail));
}

int FailSigned(const std::string& installer, std::int64_t tableSize) {
  return Fail(SignedLine(installer, tableSize));
}

// A writer's refusals in their own words.
int FailStrayBytes(const std::string& installer, const std::string& nothing) {
  return Fail(installer + ": stray bytes follow its last whole module; run oempack repair first; " +
              nothing);
}
int FailNotAJournal(const std::string& installer, const std::string& nothing) {
  return Fail(JournalPath(installer) + " holds the name of " + installer +
              "'s journal but is not a journal; it is left alone: move it away and try again; " +
              nothing);
}
// An append's refusal; -1 when `result` is none.
int FailRefusedAppend(const std::string& installer, AppendResult result) {
  switch (result) {
    case AppendResult::Signed: return FailSigned(installer, 0);
    case AppendResult::StrayBytes: return FailStrayBytes(installer, "nothing appended");
    case AppendResult::NotAJournal: return FailNotAJournal(installer, "nothing appended");
    case AppendResult::SameDestination:
      return Fail(installer +
                  ": a module of the same set already goes to that file on the drive (names are "
                  "compared without regard to letter case, as Windows compares them); nothing "
                  "appended");
    case AppendResult::Appended:
    case AppendResult::Failed: break;
  }
  return -1;
}

// A writer's failure; a failure at the journal names the journal.
int FailWrite(const Platform& platform, const std::string& installer, const std::string& what,
              FailedFile failed) {
  const std::string journal = JournalPath(installer);
  if (failed == FailedFile::Journal) {
    return FailWithSystemText(platform, what + ": the journal " + journal);
  }
  return FailWithSystemText(platform, what);
}

// An installer that can be read and whose walk reaches the image: only then
// is it extended, so that a module is never appended behind a foreign tail.
// The walk waits for a writer at work, and reads past what an interrupted
// append left (the append cuts that away first).
bool CheckInstaller(const Platform& platform, const std::string& installer) {
  {
    ScopedFile probe(platform.files, platform.files.OpenRead(installer));
    if (!probe.valid()) {
      FailWithSystemText(platform, "cannot open installer " + installer);
      return false;
    }
  }
  const WalkResult walk = WalkModules(platform, Package(installer));
  if (walk.strayBytes > 0) {
    FailStrayBytes(installer, walk, " first; nothing appended");
    return false;
  }
  if (walk.end != WalkEnd::Image) {
    Fail(installer + ": " + WalkProblem(walk) + "; nothing appended");
    return false;
  }
  if (walk.certificateTable > 0) {
    FailSigned(installer, walk.certificateTable);
    return false;
  }
  return true;
}

// The characters a terminal shows for UTF-8 text: columns are padded by
// these, not by bytes.
std::size_t ShownWidth(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

void PrintTable(const WalkResult& walk) {
  constexpr std::size_t kColumns = 7;
  const char* headings[kColumns] = {"Module Name", "Predefined Module", "Size(in Bytes)",
                                    "Extract to",  "File Attributes",   "Checked",
                                    "Installed on"};
  std::vector<std::vector<std::string>> cells;
  cells.push_back(std::vector<std::string>(headings, headings + kColumns));
  const std::vector<ModuleRow> rows = ModuleRows(walk);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ModuleRow& row = rows[i];
    // The size unsigned, as the record holds it and the JSON gives it (the
    // builder page shows it signed).
    cells.push_back({NameForTerminal(row.name), row.predefined,
                     std::to_string(walk.modules[i].record.contentSize),
                     NameForTerminal(row.extractTo), row.attributes, row.checked ? "yes" : "no",
                     InstalledColumnText(walk.modules[i].record)});
  }
  std::size_t widths[kColumns] = {};
  for (const auto& line : cells) {
    for (std::size_t i = 0; i < kColumns; ++i) widths[i] = std::max(widths[i], ShownWidth(line[i]));
  }
  for (const auto& line : cells) {
    std::string text;
    for (std::size_t i = 0; i < kColumns; ++i) {
      std::string cell = line[i];
      const std::size_t padding = widths[i] - ShownWidth(cell);
      // Sizes align right, the other columns left; the last one is not padded.
      if (i == 2) {
        cell.insert(0, padding, ' ');
      } else if (i + 1 < kColumns) {
        cell.append(padding, ' ');
      }
      text += cell;
      if (i + 1 < kColumns) text += "  ";
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    WriteText(stdout, text + "\n");
  }
}

// One line for a module the installer cannot reach; the count of them.
int ReportBeyondReach(const std::string& installer, const WalkResult& walk) {
  int count = 0;
  for (const WalkedModule& module : walk.modules) {
    if (!IsBeyondReach(module)) continue;
    ++count;
    Fail(installer + ": " + ModuleAt(module) +
         " lies beyond 2 GiB, where the installer cannot read it");
  }
  return count;
}

}  // namespace shared

using namespace shared;

int ListModules(const Platform& platform, const std::string& installer, bool json) {
  {
    ScopedFile probe(platform.files, platform.files.OpenRead(installer));
    if (!probe.valid()) return FailWithSystemText(platform, "cannot open installer " + installer);
  }
  const WalkResult walk = WalkModules(platform, Package(installer));
  if (json) {
    std::fputs(ModulesToJson(walk).c_str(), stdout);
  } else {
    PrintTable(walk);
  }
  std::fflush(stdout);
  NoteJournal(installer, walk);
  const int unreachable = ReportBeyondReach(installer, walk);
  if (walk.strayBytes > 0) FailStrayBytes(installer, walk, "");
  if (walk.end != WalkEnd::Image) return Fail(installer + ": " + WalkProblem(walk));
  return unreachable > 0 || walk.strayBytes > 0 ? kExitFailed : kExitOk;
}

int AddModule(const Platform& platform, const std::string& installer, const std::string& file,
              const Options& options) {
  if (auto problem = ModuleSourceProblem(platform.system, file, "")) {
    return Fail("cannot add \"" + file + "\": " + *problem +
                "; every install would refuse it, nothing appended");
  }
  if (!CheckInstaller(platform, installer)) return kExitFailed;
  ModuleRecord record;
  if (!BuildModuleRecord(platform, file, record, "", std::nullopt)) {
    return FailWithSystemText(platform, "cannot add " + file);
  }
  ProgressBar bar("adding " + NameForTerminal(record.fileName), record.contentSize,
                  options.progress, WriteToStderr);
  FailedFile failed = FailedFile::Package;
  const AppendResult result =
      AppendModule(platform, file, installer, record, bar.callback(), &failed);
  if (result == AppendResult::Appended) return kExitOk;
  if (const int refused = FailRefusedAppend(installer, result); refused >= 0) return refused;
  return FailWrite(platform, installer, "cannot append " + file + " to " + installer, failed);
}

int AddPredefined(const Platform& platform, const std::string& installer,
                  const PredefinedRequest& request, const Options& options) {
  if (!CheckInstaller(platform, installer)) return kExitFailed;
  std::uint64_t largest = 0;
  for (const PredefinedGroup& group : request.groups)
    if (!group.sourcePath.empty()) largest = std::max(largest, SizeOf(platform, group.sourcePath));
  if (!request.combinedSource.empty())
    largest = std::max(largest, SizeOf(platform, request.combinedSource));
  // One bar per module: it restarts at 0 for each file.
  ProgressBar bar("adding predefined modules", largest, options.progress, WriteToStderr);
  PredefinedAddResult outcome;
  if (!AddPredefinedModules(platform, installer, request, &outcome, bar.callback())) {
    if (!outcome.brokenRule.empty()) {
      return Fail("cannot add \"" + outcome.failedSource + "\": " + outcome.brokenRule +
                  "; every install would refuse it, nothing appended");
    }
    std::string what =
        (outcome.failedToDescribe ? "cannot add " : "cannot append ") + outcome.failedSource;
    if (outcome.appended > 0) {
      what += " (" + std::to_string(outcome.appended) + " module(s) before it stay appended)";
    }
    if (const int refused = FailRefusedAppend(installer, outcome.append); refused >= 0) {
      return refused;
    }
    return FailWrite(platform, installer, what, outcome.failedFile);
  }
  return kExitOk;
}

namespace {

std::string ThroughALink(const std::string& at) {
  return at +
         " is a symbolic link or junction: nothing is extracted through a link; name "
         "another place";
}

// The refusal of an extraction's target, or -1 when the module may go there.
int RefuseExtractTarget(const Platform& platform, const std::string& installer,
                        const std::string& target, bool force) {
  const ExtractTarget there = CheckExtractTarget(platform, installer, target);
  switch (there.state) {
    case ExtractTarget::State::IsInstaller:
      return Fail(target + " is the installer " + installer + " itself; extract to another file");
    case ExtractTarget::State::LinkOnTheWay:
      if (there.links.found == LinkSearch::Found::Link) return Fail(ThroughALink(there.links.at));
      platform.system.SetLastError(there.links.error);
      return FailWithSystemText(platform, "cannot look below the root of " + target);
    case ExtractTarget::State::IsFolder: return Fail(target + " is a directory");
    case ExtractTarget::State::NotAFile:
      return Fail(target +
                  " is not a regular file (a pipe, a device or a console); nothing "
                  "extracted");
    case ExtractTarget::State::InUse:
      return Fail(target + " is open in another program; nothing extracted");
    case ExtractTarget::State::Exists:
      if (!force) return Fail(target + " already exists (use --force to replace it)");
      break;
    case ExtractTarget::State::Free: break;
  }
  return -1;
}

int FailExtraction(const Platform& platform, const ExtractReport& report,
                   const std::string& installer, const std::string& name,
                   const std::string& target) {
  switch (report.result) {
    case ExtractResult::Damaged:
      return Fail(installer + ": module " + name +
                  " is damaged (its content does not match its check); nothing extracted");
    case ExtractResult::NoRoom:
      return Fail("cannot extract " + name + " to " + target + ": not enough room (" +
                  std::to_string(report.bytesNeeded) + " bytes needed, " +
                  std::to_string(report.bytesFree) + " free); nothing written");
    case ExtractResult::LinkInTheWay:
      if (report.links.found == LinkSearch::Found::Link) return Fail(ThroughALink(report.links.at));
      break;
    default: break;
  }
  return FailWithSystemText(platform, "cannot extract " + name + " to " + target);
}

}  // namespace

int ExtractNamedModule(const Platform& platform, const std::string& installer,
                       const std::string& name, const std::string& output, bool force,
                       const Options& options) {
  {
    ScopedFile probe(platform.files, platform.files.OpenRead(installer));
    if (!probe.valid()) return FailWithSystemText(platform, "cannot open installer " + installer);
  }
  const WalkResult walk = WalkModules(platform, Package(installer));
  const WalkedModule* found = nullptr;
  for (const WalkedModule& module : walk.modules) {
    // NAME comes as a path does; the record holds 8-bit ANSI text.
    if (platform.system.FromAnsi(module.record.fileName) == name) {
      found = &module;
      break;
    }
  }
  if (found == nullptr) {
    if (walk.strayBytes > 0) return FailStrayBytes(installer, walk, "");
    if (walk.end != WalkEnd::Image) return Fail(installer + ": " + WalkProblem(walk));
    return Fail("no module named \"" + name + "\" in " + installer);
  }
  if (IsBeyondReach(*found)) return Fail(installer + ": module " + name + " lies beyond 2 GiB");

  // Without -o the module's own name becomes a file here: it must be one
  // plain name that Windows keeps as it is.
  if (output.empty()) {
    if (auto problem = FileNameProblem(name)) {
      return Fail("the module's name \"" + name + "\" is not safe as a file name (" + *problem +
                  "); name the output file with -o");
    }
  }
  const std::string target = output.empty() ? name : output;
  if (const int refused = RefuseExtractTarget(platform, installer, target, force); refused >= 0)
    return refused;
  // With --force the file there stays, untouched, until the module is
  // complete beside it and takes its name.
  ProgressBar bar("extracting " + name, found->record.contentSize, options.progress, WriteToStderr);
  ExtractReport report;
  if (!ExtractToTarget(platform, Package(installer), *found, target, force, bar.callback(),
                       &report))
    return FailExtraction(platform, report, installer, name, target);
  return kExitOk;
}

int VerifyModules(const Platform& platform, const std::string& installer) {
  {
    ScopedFile probe(platform.files, platform.files.OpenRead(installer));
    if (!probe.valid()) return FailWithSystemText(platform, "cannot open installer " + installer);
  }
  const PackageVerdict verdict = VerifyPackage(platform, Package(installer));
  const WalkResult& walk = verdict.walk;
  NoteJournal(installer, walk);
  for (const ModuleProblem& problem : verdict.problems) {
    const std::string where = installer + ": " + ModuleAt(walk.modules[problem.module]);
    if (problem.state == ContentState::Damaged) {
      Fail(where + " is damaged: its content does not match its check");
    } else {
      platform.system.SetLastError(problem.error);
      FailWithSystemText(platform, where + " cannot be read");
    }
  }
  ReportBeyondReach(installer, walk);
  if (walk.strayBytes > 0) FailStrayBytes(installer, walk, "");
  if (walk.end != WalkEnd::Image) Fail(installer + ": " + WalkProblem(walk));
  if (!verdict.IsSound()) return kExitFailed;
  std::printf("%s\n", SoundSummary(verdict).c_str());
  return kExitOk;
}

int UnsignInstaller(const Platform& platform, const std::string& installer) {
  {
    ScopedFile probe(platform.files, platform.files.OpenRead(installer));
    if (!probe.valid()) return FailWithSystemText(platform, "cannot open installer " + installer);
  }
  std::int64_t removed = 0;
  FailedFile failed = FailedFile::Package;
  switch (UnsignPackage(platform, installer, &removed, &failed)) {
    case UnsignResult::Unsigned:
      std::printf("removed the signature (%lld bytes); the installer is unsigned\n",
                  static_cast<long long>(removed));
      return kExitOk;
    case UnsignResult::NotSigned: std::printf("not signed; nothing to remove\n"); return kExitOk;
    case UnsignResult::NoCertificate:
      return Fail(installer +
                  ": its security entry names bytes at its end that are no "
                  "certificate table a signer wrote; it is not signed, and they may hold "
                  "modules, so nothing is removed");
    case UnsignResult::StrayBytes: return FailStrayBytes(installer, "nothing removed");
    case UnsignResult::NotAJournal: return FailNotAJournal(installer, "nothing removed");
    case UnsignResult::Failed: break;
  }
  return FailWrite(platform, installer, "cannot unsign " + installer, failed);
}

namespace {

// What repair is about to cut, one line each, before it cuts.
void ShowRepairPlan(const std::string& installer, const RepairPlan& plan) {
  const std::string name = EscapeControls(installer) + ": ";
  auto count = [](std::int64_t n) { return std::to_string(n); };
  std::string lines;
  if (plan.journal == JournalState::Stale) {
    lines += name + "removing the stale journal " + EscapeControls(JournalPath(installer)) + "\n";
  }
  if (plan.interruptedAppend > 0) {
    lines += name + "cutting " + count(plan.interruptedAppend) +
             " byte(s) that an interrupted append left\n";
  }
  if (plan.strayBytes > 0) {
    lines += name + "cutting " + count(plan.strayBytes) +
             " stray byte(s) that follow the last whole module\n";
  }
  if (plan.certificateTable > 0) {
    lines += name + "the signature (certificate table of " + count(plan.certificateTable) +
             " bytes) lies over them and goes too; sign the installer again afterwards\n";
  }
  if (plan.keptEnd < plan.length) {
    lines += name + "keeping " + std::to_string(plan.modulesKept) +
             " module(s); the installer will end at offset " + count(plan.keptEnd) + " (now " +
             count(plan.length) + " bytes)\n";
  }
  WriteText(stdout, lines);
  std::fflush(stdout);
}

}  // namespace

int RepairInstaller(const Platform& platform, const std::string& installer) {
  {
    ScopedFile probe(platform.files, platform.files.OpenRead(installer));
    if (!probe.valid()) return FailWithSystemText(platform, "cannot open installer " + installer);
  }
  FailedFile failed = FailedFile::Package;
  const RepairResult outcome = RepairPackage(
      platform, installer, [&](const RepairPlan& plan) { ShowRepairPlan(installer, plan); },
      &failed);
  switch (outcome) {
    case RepairResult::Repaired:
      std::printf("repaired: every byte behind the image is a whole module\n");
      return kExitOk;
    case RepairResult::Sound:
      std::printf("nothing to cut: every byte behind the image is a whole module\n");
      return kExitOk;
    case RepairResult::NotAProgram:
      return Fail(installer +
                  " is not a Windows program: without an image end in its headers, "
                  "stray bytes cannot be told from modules; nothing cut");
    case RepairResult::NotAJournal: return FailNotAJournal(installer, "nothing cut");
    case RepairResult::Failed: break;
  }
  return FailWrite(platform, installer, "cannot repair " + installer, failed);
}

}  // namespace brelvane::oempack
