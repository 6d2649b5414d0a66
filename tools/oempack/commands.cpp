#include "tools/oempack/commands.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "builder/module_json.h"
#include "builder/module_list.h"
#include "package/package.h"
#include "tools/oempack/console.h"

namespace brelvane::oempack {
namespace {

int Fail(const std::string& line) {
  std::fprintf(stderr, "oempack: %s\n", line.c_str());
  return kExitFailed;
}

int FailWithSystemText(const Platform& platform, const std::string& what) {
  return Fail(what + ": " + LastErrorLine(platform.system));
}

PackageRef Package(const std::string& installer) { return PackageRef{installer, kRecordSize}; }

// The walk's end as one line, when it did not end at the image.
std::string WalkProblem(const WalkResult& walk) {
  switch (walk.end) {
    case WalkEnd::ForeignRecord:
      return "foreign record ending at offset " + std::to_string(walk.stopOffset) +
             ": not a module record";
    case WalkEnd::ReadFailure:
      return "cannot read the record ending at offset " + std::to_string(walk.stopOffset);
    case WalkEnd::Image: break;
  }
  return {};
}

// An installer that can be read and whose walk reaches the image: only then
// is it extended, so that a module is never appended behind a foreign tail.
bool CheckInstaller(const Platform& platform, const std::string& installer) {
  {
    ScopedFile probe(platform.files, platform.files.OpenRead(installer));
    if (!probe.valid()) {
      FailWithSystemText(platform, "cannot open installer " + installer);
      return false;
    }
  }
  const WalkResult walk = WalkModules(platform, Package(installer));
  if (walk.end != WalkEnd::Image) {
    Fail(installer + ": " + WalkProblem(walk) + "; nothing appended");
    return false;
  }
  return true;
}

std::uint64_t SizeOf(const Platform& platform, const std::string& path) {
  ScopedFile file(platform.files, platform.files.OpenRead(path));
  if (!file.valid()) return 0;
  const std::int64_t length = platform.files.Length(file.get());
  return length < 0 ? 0 : static_cast<std::uint64_t>(length);
}

void PrintTable(const std::vector<ModuleRow>& rows) {
  const char* headings[] = {"Module Name", "Predefined Module", "Size(in Bytes)", "Extract to",
                            "File Attributes"};
  std::vector<std::vector<std::string>> cells;
  cells.push_back({headings[0], headings[1], headings[2], headings[3], headings[4]});
  for (const ModuleRow& row : rows) {
    cells.push_back({row.name, row.predefined, row.size, row.extractTo, row.attributes});
  }
  std::size_t widths[5] = {};
  for (const auto& line : cells) {
    for (std::size_t i = 0; i < 5; ++i) widths[i] = std::max(widths[i], line[i].size());
  }
  for (const auto& line : cells) {
    std::string text;
    for (std::size_t i = 0; i < 5; ++i) {
      std::string cell = line[i];
      // Sizes align right, the other columns left; the last one is not padded.
      if (i == 2) {
        cell.insert(0, widths[i] - cell.size(), ' ');
      } else if (i < 4) {
        cell.append(widths[i] - cell.size(), ' ');
      }
      text += cell;
      if (i < 4) text += "  ";
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    std::printf("%s\n", text.c_str());
  }
}

}  // namespace

int ListModules(const Platform& platform, const std::string& installer, bool json) {
  {
    ScopedFile probe(platform.files, platform.files.OpenRead(installer));
    if (!probe.valid()) return FailWithSystemText(platform, "cannot open installer " + installer);
  }
  const WalkResult walk = WalkModules(platform, Package(installer));
  if (json) {
    std::fputs(ModulesToJson(walk).c_str(), stdout);
  } else {
    PrintTable(ModuleRows(walk));
  }
  std::fflush(stdout);
  if (walk.end != WalkEnd::Image) return Fail(installer + ": " + WalkProblem(walk));
  return kExitOk;
}

int AddModule(const Platform& platform, const std::string& installer, const std::string& file,
              const Options& options) {
  if (!CheckInstaller(platform, installer)) return kExitFailed;
  ModuleRecord record;
  if (!BuildModuleRecord(platform, file, record, "", false, 0)) {
    return FailWithSystemText(platform, "cannot add " + file);
  }
  ProgressBar bar("adding " + record.fileName, record.contentSize, options.progress);
  if (!AppendModule(platform, file, installer, record, bar.callback())) {
    return FailWithSystemText(platform, "cannot append " + file + " to " + installer);
  }
  return kExitOk;
}

int AddPredefined(const Platform& platform, const std::string& installer,
                  const PredefinedRequest& request, const Options& options) {
  if (!CheckInstaller(platform, installer)) return kExitFailed;
  std::uint64_t largest = 0;
  for (const std::string* source : {&request.kestrin.sourcePath, &request.ovin.sourcePath,
                                    &request.pellor.sourcePath, &request.combinedSource}) {
    if (!source->empty()) largest = std::max(largest, SizeOf(platform, *source));
  }
  // One bar per module: it restarts at 0 for each file.
  ProgressBar bar("adding predefined modules", largest, options.progress);
  PredefinedOutcome outcome;
  if (!AddPredefinedModules(platform, installer, request, &outcome, bar.callback())) {
    std::string what = (outcome.failedToDescribe ? "cannot add " : "cannot append ") +
                       outcome.failedSource;
    if (outcome.appended > 0) {
      what += " (" + std::to_string(outcome.appended) + " module(s) before it stay appended)";
    }
    return FailWithSystemText(platform, what);
  }
  return kExitOk;
}

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
    if (module.record.fileName == name) {
      found = &module;
      break;
    }
  }
  if (found == nullptr) {
    if (walk.end != WalkEnd::Image) return Fail(installer + ": " + WalkProblem(walk));
    return Fail("no module named \"" + name + "\" in " + installer);
  }
  if (found->contentOffset > std::numeric_limits<std::int32_t>::max()) {
    return Fail(installer + ": module " + name + " lies beyond 2 GiB");
  }

  const std::string target = output.empty() ? name : output;
  FileSystem& files = platform.files;
  if (files.Exists(target)) {
    if (files.IsDirectory(target)) return Fail(target + " is a directory");
    if (!force) return Fail(target + " already exists (use --force to replace it)");
    const std::uint32_t attributes = files.GetAttributes(target);
    if (attributes != win::kInvalidAttributes && (attributes & win::kAttrReadOnly) != 0 &&
        !files.SetAttributes(target, attributes & ~win::kAttrReadOnly)) {
      return FailWithSystemText(platform, "cannot make " + target + " writable");
    }
    if (!files.DeleteFile(target)) return FailWithSystemText(platform, "cannot remove " + target);
  }
  ProgressBar bar("extracting " + name, found->record.contentSize, options.progress);
  if (!ExtractModule(platform, Package(installer), target,
                     static_cast<std::int32_t>(found->contentOffset), found->record.contentSize,
                     win::kAttrNormal, bar.callback())) {
    return FailWithSystemText(platform, "cannot extract " + name + " to " + target);
  }
  return kExitOk;
}

}  // namespace brelvane::oempack
