#include "builder/describe.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "builder/code_pages.h"
#include "builder/file_blocks.h"
#include "builder/manifest.h"
#include "builder/module_list.h"
#include "common/name_rules.h"
#include "common/path_text.h"
#include "package/package.h"

namespace brelvane {
namespace {

constexpr char kManifestName[] = "installer.toml";
constexpr char kBaseName[] = "base.exe";

// A name in a folder, with the separator the folder's path already uses.
std::string Joined(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/' || folder.back() == '\\') return folder + name;
  const bool backslashes =
      folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos;
  return folder + (backslashes ? "\\" : "/") + name;
}

// One [[module]] table of the manifest, its names already UTF-8.
std::string ModuleTable(const ModuleRecord& record, const std::string& source,
                        const std::string& name, const std::string& folder) {
  std::string table = "\n[[module]]\nsource = " + TomlString(source) + "\n";
  if (const std::optional<PredefinedSet> set = PredefinedSetOf(record.marker)) {
    table += "set = " + TomlString(SetWord(*set)) + "\n";
  }
  if (FindFileName(source) != name) table += "name = " + TomlString(name) + "\n";
  if (!folder.empty()) table += "folder = " + TomlString(folder) + "\n";
  if (record.attributes != win::kAttrNormal) {
    table += "attributes = " + AttributesWord(record.attributes) + "\n";
  }
  return table;
}

std::string Numbered(std::size_t number) {
  std::string text = std::to_string(number);
  if (number < 10) text.insert(text.begin(), '0');
  return text;
}

using ModuleNames = std::vector<std::pair<std::string, std::string>>;  // name, folder

// Walks the installer; a problem when it is no plain installer to describe.
std::optional<std::string> WalkToDescribe(const Platform& platform, const std::string& installer,
                                          WalkResult& walk) {
  {
    ScopedFile probe(platform.files, platform.files.OpenRead(installer));
    if (!probe.valid())
      return "cannot open installer " + installer + ": " + LastErrorLine(platform.system);
  }
  walk = WalkModules(platform, PackageRef{installer, kRecordSize});
  if (walk.end != WalkEnd::Image) return installer + ": " + WalkProblem(walk);
  if (walk.strayBytes > 0) return StrayBytesLine(installer, walk, " first");
  if (walk.certificateTable > 0) return SignedLine(installer, walk.certificateTable);
  std::reverse(walk.modules.begin(), walk.modules.end());  // oldest first
  return std::nullopt;
}

// Every module's name and folder as text, read before anything is written.
std::optional<std::string> ReadNames(const std::string& installer, const WalkResult& walk,
                                     unsigned codePage, ModuleNames& names) {
  for (const WalkedModule& module : walk.modules) {
    const std::optional<std::string> name = FromCodePage(codePage, module.record.fileName);
    const std::optional<std::string> place = FromCodePage(codePage, module.record.extractDir);
    if (!name || !place) {
      return installer + ": " + ModuleAt(module) + " has a name with a byte code page " +
             std::to_string(codePage) +
             " leaves undefined: describe it with the code page it was built in";
    }
    names.emplace_back(*name, *place);
  }
  return std::nullopt;
}

// Extracts each module into modules/NN/ and adds its table to `manifest`.
std::optional<std::string> WriteModules(const Platform& platform, const std::string& installer,
                                        const WalkResult& walk, const ModuleNames& names,
                                        const std::string& modules, std::string& manifest,
                                        DescribeOutcome& outcome) {
  FileSystem& files = platform.files;
  const PackageRef package{installer, kRecordSize};
  for (std::size_t i = 0; i < walk.modules.size(); ++i) {
    const WalkedModule& module = walk.modules[i];
    const std::string& name = names[i].first;
    // A name Windows would not keep as it is lands under a plain one; the
    // manifest names the module as its record does.
    const std::string fileName = FileNameProblem(name) ? "module.bin" : name;
    const std::string source = "modules/" + Numbered(i + 1) + "/" + fileName;
    const std::string target = Joined(Joined(modules, Numbered(i + 1)), fileName);
    if (!files.CreateDirectory(Joined(modules, Numbered(i + 1))) ||
        !ExtractModule(platform, package, target, static_cast<std::int32_t>(module.contentOffset),
                       module.record.contentSize, win::kAttrNormal)) {
      return "cannot write " + target + ": " + LastErrorLine(platform.system);
    }
    if (!module.contentCheck) ++outcome.unchecked;
    manifest += ModuleTable(module.record, source, name, names[i].second);
  }
  return std::nullopt;
}

}  // namespace

DescribeOutcome DescribeInstaller(const Platform& platform, const std::string& installer,
                                  const std::string& folder, unsigned codePage) {
  DescribeOutcome outcome;
  const auto fail = [&](const std::string& problem) {
    outcome.problem = problem;
    return outcome;
  };
  const auto failWithCause = [&](const std::string& what) {
    return fail(what + ": " + LastErrorLine(platform.system));
  };
  if (!IsKnownCodePage(codePage)) return fail("the code page is one of " + KnownCodePages());
  WalkResult walk;
  ModuleNames names;
  if (std::optional<std::string> problem = WalkToDescribe(platform, installer, walk))
    return fail(*problem);
  if (std::optional<std::string> problem = ReadNames(installer, walk, codePage, names))
    return fail(*problem);
  FileSystem& files = platform.files;
  outcome.manifestPath = Joined(folder, kManifestName);
  const std::string modules = Joined(folder, "modules");
  if (!files.IsDirectory(folder) && !files.CreateDirectory(folder)) {
    return failWithCause("cannot make " + folder);
  }
  if (files.Exists(outcome.manifestPath)) return fail(outcome.manifestPath + " already exists");
  if (!walk.modules.empty() && files.Exists(modules)) {
    return fail(modules + " already exists (describe into a new folder)");
  }

  // The image ends where the oldest module's content begins.
  std::int64_t imageEnd = static_cast<std::int64_t>(SizeOf(platform, installer));
  if (!walk.modules.empty()) imageEnd = walk.modules.front().contentOffset;
  const std::string basePath = Joined(folder, kBaseName);
  if (!CopyPrefix(platform, installer, basePath, imageEnd)) {
    return failWithCause("cannot write " + basePath);
  }
  const std::optional<std::string> digest = Sha256OfFile(platform, basePath);
  if (!digest) return failWithCause("cannot read " + basePath);

  std::string manifest = "# Builds " + FindFileName(installer) + " again: oempack build " +
                         kManifestName + " -o INSTALLER\n";
  manifest += "base = " + TomlString(kBaseName) + "\nbase-sha256 = " + TomlString(*digest) + "\n";
  manifest += "code-page = " + std::to_string(codePage) + "\n";
  // The folders it writes into are made here: one already there (a link to
  // somewhere else among them) is never written through.
  if (!walk.modules.empty() && !files.CreateDirectory(modules)) {
    return failWithCause("cannot make " + modules + " (describe into a new folder)");
  }
  if (std::optional<std::string> problem =
          WriteModules(platform, installer, walk, names, modules, manifest, outcome))
    return fail(*problem);
  if (!WriteNewFile(platform, outcome.manifestPath, manifest)) {
    return failWithCause("cannot write " + outcome.manifestPath);
  }
  outcome.modules = walk.modules.size();
  return outcome;
}

}  // namespace brelvane
