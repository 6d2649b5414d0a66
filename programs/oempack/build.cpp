#include "build.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "builder/assemble.h"
#include "builder/module_list.h"
#include "common/name_rules.h"
#include "common/path_text.h"
#include "common/printable.h"
#include "common/progress_bar.h"
#include "console.h"
#include "manifest.h"
#include "package/package.h"
#include "package/package_guard.h"
#include "sha256.h"
#include "shared.h"

namespace brelvane::oempack {
namespace {

using namespace shared;

constexpr std::size_t kBlock = 64 * 1024;
constexpr char kManifestName[] = "installer.toml";
constexpr char kBaseName[] = "base.exe";

int FailAt(const std::string& manifestPath, const ManifestPlace& place, const std::string& what) {
  return Fail(DescribeFault(manifestPath, ManifestFault{place, what}));
}

// A name in a folder, with the separator the folder's path already uses.
std::string Joined(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/' || folder.back() == '\\') return folder + name;
  const bool backslashes =
      folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos;
  return folder + (backslashes ? "\\" : "/") + name;
}

// Runs `each` over the file's first `limit` bytes (all of them for -1), a
// block at a time; false when the file cannot be read that far.
template <typename Each>
bool ReadBlocks(const Platform& platform, const std::string& path, std::int64_t from,
                std::int64_t limit, Each each) {
  FileSystem& files = platform.files;
  ScopedFile file(files, files.OpenRead(path));
  if (!file.valid()) return false;
  if (limit < 0) limit = files.Length(file.get()) - from;
  if (limit < 0 || files.Seek(file.get(), from, SeekFrom::Begin) != from) return false;
  std::vector<std::uint8_t> block(kBlock);
  while (limit > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(limit, kBlock));
    const std::int64_t got = files.Read(file.get(), block.data(), want);
    if (got <= 0) return false;
    each(block.data(), static_cast<std::size_t>(got));
    limit -= got;
  }
  return true;
}

std::optional<std::string> Sha256OfFile(const Platform& platform, const std::string& path,
                                        std::int64_t limit = -1) {
  Sha256 hash;
  if (!ReadBlocks(platform, path, 0, limit,
                  [&](const std::uint8_t* data, std::size_t size) { hash.Add(data, size); })) {
    return std::nullopt;
  }
  return hash.HexDigest();
}

// The base must be an installer with no module behind its image, readable,
// unsigned and whole; the manifest's SHA-256, when given, must be its own.
bool CheckBase(const Platform& platform, const std::string& manifestPath,
               const Manifest& manifest) {
  const std::string& base = manifest.basePath;
  const auto failBase = [&](const std::string& why) {
    FailAt(manifestPath, manifest.basePlace, "the base " + manifest.base + " " + why);
    return false;
  };
  {
    ScopedFile probe(platform.files, platform.files.OpenRead(base));
    if (!probe.valid()) return failBase("cannot be opened: " + LastErrorLine(platform.system));
  }
  if (manifest.baseSha256) {
    const std::optional<std::string> digest = Sha256OfFile(platform, base);
    if (!digest) return failBase("cannot be read: " + LastErrorLine(platform.system));
    if (*digest != *manifest.baseSha256) {
      FailAt(manifestPath, manifest.sha256Place,
             "the base " + manifest.base + " has the SHA-256 " + *digest +
                 ", not the one the manifest names");
      return false;
    }
  }
  const WalkResult walk = WalkModules(platform, Package(base));
  if (walk.end != WalkEnd::Image) return failBase(WalkProblem(walk));
  if (walk.strayBytes > 0) return failBase("has stray bytes behind its image (oempack repair)");
  if (walk.certificateTable > 0) {
    return failBase("is signed: build from the unsigned installer, then sign the result");
  }
  if (!walk.modules.empty()) {
    return failBase("already holds " + std::to_string(walk.modules.size()) +
                    " module(s): build from the empty installer");
  }
  return true;
}

// The record each module of the manifest will carry, by the rules add and
// add-predef apply; false after naming the first module that breaks one.
bool RecordsOf(const Platform& platform, const std::string& manifestPath, const Manifest& manifest,
               std::vector<ModuleRecord>& records) {
  System& system = platform.system;
  for (const ManifestModule& module : manifest.modules) {
    const auto failModule = [&](const std::string& why) {
      std::string what = "cannot add \"";
      what.append(module.source).append("\": ").append(why);
      FailAt(manifestPath, module.place, what);
      return false;
    };
    const std::string& named = module.name.empty() ? module.path : module.name;
    if (auto problem = ModuleSourceProblem(system, named, module.folder)) {
      return failModule(*problem + "; every install would refuse it");
    }
    if (WouldReplacePackage(platform.files, module.path, manifest.basePath)) {
      return failModule("it is the base installer itself");
    }
    ModuleRecord record;
    if (!BuildModuleRecord(platform, module.path, record, module.folder, module.set)) {
      return failModule(LastErrorLine(system));
    }
    if (!module.name.empty()) {
      const std::optional<std::string> stored = system.ToAnsi(module.name);
      if (!stored) return failModule("the ANSI code page cannot hold the name " + module.name);
      if (stored->size() >= kNameWidth) return failModule("the name is longer than a record holds");
      record.fileName = *stored;
    }
    record.attributes = module.attributes;
    for (std::size_t earlier = 0; earlier < records.size(); ++earlier) {
      if (SameDestination(system, records[earlier], record)) {
        std::string why = "the module at line ";
        why += std::to_string(manifest.modules[earlier].place.line);
        why +=
            " of the same set already goes to that file (names are compared without regard "
            "to letter case, as Windows compares them)";
        return failModule(why);
      }
    }
    records.push_back(record);
  }
  return true;
}

// The table list would print of the built installer.
void PrintPlannedTable(const std::vector<ModuleRecord>& records) {
  WalkResult planned;
  for (auto record = records.rbegin(); record != records.rend(); ++record) {
    WalkedModule module;
    module.record = *record;
    module.contentCheck = 0;  // every module the build appends carries its check
    planned.modules.push_back(module);
  }
  PrintTable(planned);
}

int WriteBuild(const Platform& platform, const std::string& manifestPath, const Manifest& manifest,
               const std::vector<ModuleRecord>& records, const std::string& output,
               const Options& options) {
  std::vector<AssemblyModule> modules;
  std::uint64_t largest = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    modules.push_back({manifest.modules[i].path, records[i]});
    largest = std::max<std::uint64_t>(largest, records[i].contentSize);
  }
  ProgressBar bar("building " + NameForTerminal(output), largest, options.progress, WriteToStderr);
  const AssemblyResult result = AssembleInstaller(platform, manifest.basePath, modules, output,
                                                  bar.callback(), {manifestPath});
  for (const std::string& leftover : result.leftoversRemoved)
    std::printf("removed %s, left by a build or extraction that was stopped\n",
                NameForTerminal(leftover).c_str());
  switch (result.step) {
    case AssemblyStep::Done: break;
    case AssemblyStep::OutputIsFolder: return Fail(output + " is a directory");
    case AssemblyStep::OutputIsInput:
      return Fail(output + " is " + result.input +
                  ", which the build reads: name another output; nothing was written");
    case AssemblyStep::CopyBase:
      return FailWithSystemText(platform, "cannot copy the base beside " + output);
    case AssemblyStep::Append: {
      const ManifestModule& module = manifest.modules[result.module];
      const std::string where = result.failedFile == FailedFile::Journal ? " (its journal)" : "";
      return FailAt(manifestPath, module.place,
                    "cannot append \"" + module.source + "\" to the installer being built" + where +
                        ": " + LastErrorLine(platform.system));
    }
    case AssemblyStep::Verify:
      return Fail("the installer built beside " + output + " fails verification; " + output +
                  " is left as it was");
    case AssemblyStep::Rename: return FailWithSystemText(platform, "cannot replace " + output);
  }
  std::printf("%s: %zu module(s), built from %s\n", NameForTerminal(output).c_str(), records.size(),
              NameForTerminal(manifestPath).c_str());
  return kExitOk;
}

// ---- describe -------------------------------------------------------------

bool WriteWhole(const Platform& platform, const std::string& path, const std::string& text) {
  FileSystem& files = platform.files;
  ScopedFile file(files, files.CreateExclusive(path));
  if (!file.valid()) return false;
  if (files.Write(file.get(), text.data(), text.size()) != static_cast<std::int64_t>(text.size()))
    return false;
  return files.Flush(file.get());
}

// The installer's first `length` bytes into a new file at `path`.
bool CopyPrefix(const Platform& platform, const std::string& from, const std::string& path,
                std::int64_t length) {
  FileSystem& files = platform.files;
  ScopedFile file(files, files.CreateExclusive(path));
  if (!file.valid()) return false;
  bool written = true;
  const bool read =
      ReadBlocks(platform, from, 0, length, [&](const std::uint8_t* data, std::size_t size) {
        written = written && files.Write(file.get(), data, size) == static_cast<std::int64_t>(size);
      });
  return read && written && files.Flush(file.get());
}

bool MakeFolder(const Platform& platform, const std::string& path) {
  return platform.files.IsDirectory(path) || platform.files.CreateDirectory(path);
}

// One [[module]] table of the manifest describe writes.
std::string ModuleTable(const Platform& platform, const ModuleRecord& record,
                        const std::string& source) {
  std::string table = "\n[[module]]\nsource = " + TomlString(source) + "\n";
  if (const std::optional<PredefinedSet> set = PredefinedSetOf(record.marker)) {
    table += "set = " + TomlString(SetWord(*set)) + "\n";
  }
  const std::string name = platform.system.FromAnsi(record.fileName);
  if (FindFileName(source) != name) table += "name = " + TomlString(name) + "\n";
  if (!record.extractDir.empty()) {
    table += "folder = " + TomlString(platform.system.FromAnsi(record.extractDir)) + "\n";
  }
  if (record.attributes != win::kAttrNormal) {
    table += "attributes = " + AttributesWord(record.attributes) + "\n";
  }
  return table;
}

// ---- diff -----------------------------------------------------------------

struct Listed {
  const WalkedModule* module;
  bool matched = false;
};

std::string Shown(const Platform& platform, const ModuleRecord& record) {
  std::string text = "\"";
  text.append(platform.system.FromAnsi(record.fileName)).append("\" (");
  const std::optional<PredefinedSet> set = PredefinedSetOf(record.marker);
  const ModuleSetNames* names = set ? NamesOf(*set) : nullptr;
  text += names != nullptr ? names->listText : "user-defined";
  if (!record.extractDir.empty()) text += ", Root\\" + platform.system.FromAnsi(record.extractDir);
  return NameForTerminal(text + ")");
}

bool SamePlace(const ModuleRecord& a, const ModuleRecord& b) {
  return a.marker == b.marker && a.fileName == b.fileName && a.extractDir == b.extractDir;
}

// Whether two modules' stored bytes are the same: the content is scrambled
// the same way wherever it lies, so equal stored bytes are equal content.
std::optional<bool> SameContent(const Platform& platform, const std::string& pathA,
                                const WalkedModule& a, const std::string& pathB,
                                const WalkedModule& b) {
  if (a.record.contentSize != b.record.contentSize) return false;
  if (a.contentCheck && b.contentCheck && *a.contentCheck != *b.contentCheck) return false;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(a.record.contentSize);
  if (!ReadBlocks(platform, pathA, a.contentOffset, a.record.contentSize,
                  [&](const std::uint8_t* data, std::size_t size) {
                    bytes.insert(bytes.end(), data, data + size);
                  })) {
    return std::nullopt;
  }
  std::size_t at = 0;
  bool same = true;
  if (!ReadBlocks(platform, pathB, b.contentOffset, b.record.contentSize,
                  [&](const std::uint8_t* data, std::size_t size) {
                    same = same && std::equal(data, data + size, bytes.begin() + at);
                    at += size;
                  })) {
    return std::nullopt;
  }
  return same;
}

// Whether the bytes [from, from + length) of two files are the same.
std::optional<bool> SameBytes(const Platform& platform, const std::string& pathA,
                              std::int64_t fromA, const std::string& pathB, std::int64_t fromB,
                              std::int64_t length) {
  Sha256 hashA, hashB;
  if (!ReadBlocks(platform, pathA, fromA, length,
                  [&](const std::uint8_t* data, std::size_t size) { hashA.Add(data, size); }) ||
      !ReadBlocks(platform, pathB, fromB, length,
                  [&](const std::uint8_t* data, std::size_t size) { hashB.Add(data, size); }))
    return std::nullopt;
  return hashA.HexDigest() == hashB.HexDigest();
}

// Where the program image of a walked installer ends: where its oldest
// module's content begins, or before its signature when it has none.
std::int64_t ImageEndOf(const Platform& platform, const std::string& path, const WalkResult& walk) {
  if (!walk.modules.empty()) return walk.modules.front().contentOffset;
  return static_cast<std::int64_t>(SizeOf(platform, path)) - walk.certificateTable;
}

// Prints how the program images and the signatures of two installers
// differ; whether they do, nothing when they cannot be read.
std::optional<bool> DiffProgramAndSignature(const Platform& platform, const std::string& pathA,
                                            const WalkResult& a, const std::string& pathB,
                                            const WalkResult& b) {
  bool differ = false;
  const std::int64_t imageA = ImageEndOf(platform, pathA, a);
  const std::int64_t imageB = ImageEndOf(platform, pathB, b);
  std::optional<bool> same = true;
  if (imageA == imageB) same = SameBytes(platform, pathA, 0, pathB, 0, imageA);
  if (!same) return std::nullopt;
  if (imageA != imageB || !*same) {
    differ = true;
    std::printf("changed the program image (%lld bytes -> %lld bytes%s)\n",
                static_cast<long long>(imageA), static_cast<long long>(imageB),
                imageA == imageB ? ", other bytes" : "");
  }
  if (a.certificateTable == 0 && b.certificateTable == 0) return differ;
  if (a.certificateTable == 0 || b.certificateTable == 0) {
    std::printf("%s\n", a.certificateTable == 0 ? "added   a signature" : "removed the signature");
    return true;
  }
  same = true;
  if (a.certificateTable == b.certificateTable) {
    same = SameBytes(platform, pathA,
                     static_cast<std::int64_t>(SizeOf(platform, pathA)) - a.certificateTable, pathB,
                     static_cast<std::int64_t>(SizeOf(platform, pathB)) - b.certificateTable,
                     a.certificateTable);
  }
  if (!same) return std::nullopt;
  if (a.certificateTable != b.certificateTable || !*same) {
    std::printf("changed the signature (its certificate table)\n");
    return true;
  }
  return differ;
}

std::optional<WalkResult> SoundWalk(const Platform& platform, const std::string& installer) {
  {
    ScopedFile probe(platform.files, platform.files.OpenRead(installer));
    if (!probe.valid()) {
      FailWithSystemText(platform, "cannot open installer " + installer);
      return std::nullopt;
    }
  }
  WalkResult walk = WalkModules(platform, Package(installer));
  if (walk.end != WalkEnd::Image) {
    Fail(installer + ": " + WalkProblem(walk));
    return std::nullopt;
  }
  std::reverse(walk.modules.begin(), walk.modules.end());  // oldest first
  return walk;
}

}  // namespace

int BuildInstaller(const Platform& platform, const std::string& manifestPath,
                   const std::string& output, bool checkOnly, const Options& options) {
  const std::variant<Manifest, ManifestFault> read = ReadManifest(platform, manifestPath);
  if (const ManifestFault* fault = std::get_if<ManifestFault>(&read)) {
    return Fail(DescribeFault(manifestPath, *fault));
  }
  const Manifest& manifest = std::get<Manifest>(read);
  if (!CheckBase(platform, manifestPath, manifest)) return kExitFailed;
  std::vector<ModuleRecord> records;
  if (!RecordsOf(platform, manifestPath, manifest, records)) return kExitFailed;
  if (checkOnly) {
    PrintPlannedTable(records);
    return kExitOk;
  }
  FileSystem& files = platform.files;
  if (WouldReplacePackage(files, manifest.basePath, output)) {
    return Fail(output + " is the base installer itself; build to another file");
  }
  for (const ManifestModule& module : manifest.modules) {
    if (WouldReplacePackage(files, module.path, output)) {
      return Fail(output + " is the source " + module.source + "; build to another file");
    }
  }
  return WriteBuild(platform, manifestPath, manifest, records, output, options);
}

int DescribeInstaller(const Platform& platform, const std::string& installer,
                      const std::string& folder) {
  const std::optional<WalkResult> walk = SoundWalk(platform, installer);
  if (!walk) return kExitFailed;
  if (walk->strayBytes > 0) return FailStrayBytes(installer, *walk, " first");
  if (walk->certificateTable > 0) return FailSigned(installer, walk->certificateTable);
  FileSystem& files = platform.files;
  const std::string manifestPath = Joined(folder, kManifestName);
  if (!MakeFolder(platform, folder)) return FailWithSystemText(platform, "cannot make " + folder);
  if (files.Exists(manifestPath)) return Fail(manifestPath + " already exists");
  // Refused before anything is written: describe makes its modules folder.
  if (!walk->modules.empty() && files.Exists(Joined(folder, "modules"))) {
    return Fail(Joined(folder, "modules") + " already exists (describe into a new folder)");
  }

  // The image ends where the oldest module's content begins.
  std::int64_t imageEnd = static_cast<std::int64_t>(SizeOf(platform, installer));
  if (!walk->modules.empty()) imageEnd = walk->modules.front().contentOffset;
  const std::string basePath = Joined(folder, kBaseName);
  if (!CopyPrefix(platform, installer, basePath, imageEnd)) {
    return FailWithSystemText(platform, "cannot write " + basePath);
  }
  const std::optional<std::string> digest = Sha256OfFile(platform, basePath);
  if (!digest) return FailWithSystemText(platform, "cannot read " + basePath);

  std::string manifest = "# Builds " + FindFileName(installer) + " again: oempack build " +
                         kManifestName + " -o INSTALLER\n";
  manifest += "base = " + TomlString(kBaseName) + "\nbase-sha256 = " + TomlString(*digest) + "\n";
  std::size_t unchecked = 0;
  // describe makes the folders it writes into itself: one already there
  // (a link to somewhere else among them) is never written through.
  const std::string modules = Joined(folder, "modules");
  if (!walk->modules.empty() && !files.CreateDirectory(modules)) {
    return FailWithSystemText(platform, "cannot make " + modules + " (describe into a new folder)");
  }
  for (std::size_t i = 0; i < walk->modules.size(); ++i) {
    const WalkedModule& module = walk->modules[i];
    const std::string number = (i + 1 < 10 ? "0" : "") + std::to_string(i + 1);
    const std::string name = platform.system.FromAnsi(module.record.fileName);
    // A name Windows would not keep as it is lands under a plain one; the
    // manifest names the module as its record does.
    const std::string fileName = FileNameProblem(name) ? "module.bin" : name;
    const std::string source = "modules/" + number + "/" + fileName;
    const std::string target = Joined(Joined(modules, number), fileName);
    if (!files.CreateDirectory(Joined(modules, number)) ||
        !ExtractModule(platform, Package(installer), target,
                       static_cast<std::int32_t>(module.contentOffset), module.record.contentSize,
                       win::kAttrNormal)) {
      return FailWithSystemText(platform, "cannot write " + target);
    }
    if (!module.contentCheck) ++unchecked;
    manifest += ModuleTable(platform, module.record, source);
  }
  if (!WriteWhole(platform, manifestPath, manifest)) {
    return FailWithSystemText(platform, "cannot write " + manifestPath);
  }
  std::printf("%s: %zu module(s) and %s\n", NameForTerminal(manifestPath).c_str(),
              walk->modules.size(), kBaseName);
  if (unchecked > 0) {
    WriteText(stderr, "oempack: " + std::to_string(unchecked) +
                          " module(s) carry no content check; a build adds one, so its bytes "
                          "differ from " +
                          installer + " there\n");
  }
  return kExitOk;
}

int DiffInstallers(const Platform& platform, const std::string& before, const std::string& after,
                   bool modulesOnly) {
  const std::optional<WalkResult> a = SoundWalk(platform, before);
  if (!a) return kExitFailed;
  const std::optional<WalkResult> b = SoundWalk(platform, after);
  if (!b) return kExitFailed;
  bool differ = false;
  if (!modulesOnly) {
    const std::optional<bool> differs = DiffProgramAndSignature(platform, before, *a, after, *b);
    if (!differs) return FailWithSystemText(platform, "cannot read " + before + " or " + after);
    differ = *differs;
  }
  std::vector<Listed> old, now;
  for (const WalkedModule& module : a->modules) old.push_back({&module});
  for (const WalkedModule& module : b->modules) now.push_back({&module});

  std::vector<std::size_t> order;  // the matched old module of each new one
  for (Listed& entry : now) {
    const ModuleRecord& record = entry.module->record;
    auto match = std::find_if(old.begin(), old.end(), [&](const Listed& candidate) {
      return !candidate.matched && SamePlace(candidate.module->record, record);
    });
    if (match == old.end()) continue;
    match->matched = entry.matched = true;
    order.push_back(static_cast<std::size_t>(match - old.begin()));
    std::vector<std::string> changes;
    const ModuleRecord& was = match->module->record;
    if (was.contentSize != record.contentSize) {
      changes.push_back("size " + std::to_string(was.contentSize) + " -> " +
                        std::to_string(record.contentSize));
    }
    if (was.attributes != record.attributes) {
      changes.push_back("attributes " + AttributesColumnText(was.attributes) + " -> " +
                        AttributesColumnText(record.attributes));
    }
    if (was.contentSize == record.contentSize) {
      const std::optional<bool> same =
          SameContent(platform, before, *match->module, after, *entry.module);
      if (!same)
        return FailWithSystemText(platform,
                                  "cannot read the content of " + Shown(platform, record));
      if (!*same) changes.push_back("content");
    }
    if (changes.empty()) continue;
    differ = true;
    std::string line = "changed " + Shown(platform, record) + ":";
    for (std::size_t i = 0; i < changes.size(); ++i) line += (i ? ", " : " ") + changes[i];
    std::printf("%s\n", line.c_str());
  }
  for (const Listed& entry : old) {
    if (entry.matched) continue;
    differ = true;
    std::printf("removed %s\n", Shown(platform, entry.module->record).c_str());
  }
  for (const Listed& entry : now) {
    if (entry.matched) continue;
    differ = true;
    std::printf("added   %s\n", Shown(platform, entry.module->record).c_str());
  }
  // The same modules in another order install in another order.
  if (!differ && !std::is_sorted(order.begin(), order.end())) {
    differ = true;
    std::printf("the same modules, appended in another order\n");
  }
  if (!differ)
    std::printf(modulesOnly ? "the same %zu module(s)\n"
                            : "the same program, signature and %zu module(s)\n",
                now.size());
  return differ ? kExitFailed : kExitOk;
}

}  // namespace brelvane::oempack
