#include "builder/installer_diff.h"

#include <algorithm>
#include <optional>

#include "builder/file_blocks.h"
#include "builder/module_list.h"
#include "common/printable.h"
#include "package/package.h"

namespace brelvane {
namespace {

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
  return SameBytes(platform, pathA, a.contentOffset, pathB, b.contentOffset, a.record.contentSize);
}

// Where the program image of a walked installer ends: where its oldest
// module's content begins, or before its signature when it has none.
std::int64_t ImageEndOf(const Platform& platform, const std::string& path, const WalkResult& walk) {
  if (!walk.modules.empty()) return walk.modules.front().contentOffset;
  return static_cast<std::int64_t>(SizeOf(platform, path)) - walk.certificateTable;
}

// Adds how the program images and the signatures of two installers differ;
// whether they do, nothing when they cannot be read.
std::optional<bool> DiffProgramAndSignature(const Platform& platform, const std::string& pathA,
                                            const WalkResult& a, const std::string& pathB,
                                            const WalkResult& b, std::vector<std::string>& lines) {
  bool differ = false;
  const std::int64_t imageA = ImageEndOf(platform, pathA, a);
  const std::int64_t imageB = ImageEndOf(platform, pathB, b);
  std::optional<bool> same = true;
  if (imageA == imageB) same = SameBytes(platform, pathA, 0, pathB, 0, imageA);
  if (!same) return std::nullopt;
  if (imageA != imageB || !*same) {
    differ = true;
    lines.push_back("changed the program image (" + std::to_string(imageA) + " bytes -> " +
                    std::to_string(imageB) + " bytes" + (imageA == imageB ? ", other bytes" : "") +
                    ")");
  }
  if (a.certificateTable == 0 && b.certificateTable == 0) return differ;
  if (a.certificateTable == 0 || b.certificateTable == 0) {
    lines.push_back(a.certificateTable == 0 ? "added   a signature" : "removed the signature");
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
    lines.push_back("changed the signature (its certificate table)");
    return true;
  }
  return differ;
}

// The installer's walk, oldest module first; or the problem.
std::optional<WalkResult> SoundWalk(const Platform& platform, const std::string& installer,
                                    std::string& problem) {
  {
    ScopedFile probe(platform.files, platform.files.OpenRead(installer));
    if (!probe.valid()) {
      problem = "cannot open installer " + installer + ": " + LastErrorLine(platform.system);
      return std::nullopt;
    }
  }
  WalkResult walk = WalkModules(platform, PackageRef{installer, kRecordSize});
  if (walk.end != WalkEnd::Image) {
    problem = installer + ": " + WalkProblem(walk);
    return std::nullopt;
  }
  std::reverse(walk.modules.begin(), walk.modules.end());
  return walk;
}

// The changes of one module that kept its place; nothing when its content
// cannot be read.
std::optional<std::vector<std::string>> ChangesOf(const Platform& platform,
                                                  const std::string& before,
                                                  const WalkedModule& was, const std::string& after,
                                                  const WalkedModule& now) {
  std::vector<std::string> changes;
  if (was.record.contentSize != now.record.contentSize) {
    changes.push_back("size " + std::to_string(was.record.contentSize) + " -> " +
                      std::to_string(now.record.contentSize));
  }
  if (was.record.attributes != now.record.attributes) {
    changes.push_back("attributes " + AttributesColumnText(was.record.attributes) + " -> " +
                      AttributesColumnText(now.record.attributes));
  }
  if (was.record.contentSize == now.record.contentSize) {
    const std::optional<bool> same = SameContent(platform, before, was, after, now);
    if (!same) return std::nullopt;
    if (!*same) changes.push_back("content");
  }
  if (was.contentCheck != now.contentCheck) changes.push_back("content check");
  if (changes.empty()) {
    // Whatever else the records hold, byte for byte.
    const std::optional<bool> same = SameBytes(
        platform, before, was.contentOffset + static_cast<std::int64_t>(was.record.contentSize),
        after, now.contentOffset + static_cast<std::int64_t>(now.record.contentSize), kRecordSize);
    if (!same) return std::nullopt;
    if (!*same) changes.push_back("record bytes");
  }
  return changes;
}

// Matches the modules of the two walks by place and adds a line for each one
// changed, removed or added; `order` receives the matched old module of each
// new one.  False when a content cannot be read (the problem is in `diff`).
bool DiffModules(const Platform& platform, const std::string& before, const WalkResult& a,
                 const std::string& after, const WalkResult& b, std::vector<Listed>& old,
                 std::vector<Listed>& now, std::vector<std::size_t>& order, InstallerDiff& diff) {
  for (const WalkedModule& module : a.modules) old.push_back({&module});
  for (const WalkedModule& module : b.modules) now.push_back({&module});

  for (Listed& entry : now) {
    const ModuleRecord& record = entry.module->record;
    auto match = std::find_if(old.begin(), old.end(), [&](const Listed& candidate) {
      return !candidate.matched && SamePlace(candidate.module->record, record);
    });
    if (match == old.end()) continue;
    match->matched = entry.matched = true;
    order.push_back(static_cast<std::size_t>(match - old.begin()));
    const std::optional<std::vector<std::string>> changes =
        ChangesOf(platform, before, *match->module, after, *entry.module);
    if (!changes) {
      diff.problem = "cannot read the content of " + Shown(platform, record) + ": " +
                     LastErrorLine(platform.system);
      return false;
    }
    if (changes->empty()) continue;
    diff.differ = true;
    std::string line = "changed " + Shown(platform, record) + ":";
    for (std::size_t i = 0; i < changes->size(); ++i) line += (i ? ", " : " ") + (*changes)[i];
    diff.lines.push_back(line);
  }
  for (const Listed& entry : old) {
    if (entry.matched) continue;
    diff.differ = true;
    diff.lines.push_back("removed " + Shown(platform, entry.module->record));
  }
  for (const Listed& entry : now) {
    if (entry.matched) continue;
    diff.differ = true;
    diff.lines.push_back("added   " + Shown(platform, entry.module->record));
  }
  return true;
}

}  // namespace

InstallerDiff DiffInstallers(const Platform& platform, const std::string& before,
                             const std::string& after, bool modulesOnly) {
  InstallerDiff diff;
  const std::optional<WalkResult> a = SoundWalk(platform, before, diff.problem);
  if (!a) return diff;
  const std::optional<WalkResult> b = SoundWalk(platform, after, diff.problem);
  if (!b) return diff;
  if (!modulesOnly) {
    const std::optional<bool> differs =
        DiffProgramAndSignature(platform, before, *a, after, *b, diff.lines);
    if (!differs) {
      diff.problem =
          "cannot read " + before + " or " + after + ": " + LastErrorLine(platform.system);
      return diff;
    }
    diff.differ = *differs;
  }
  std::vector<Listed> old, now;
  std::vector<std::size_t> order;  // the matched old module of each new one
  if (!DiffModules(platform, before, *a, after, *b, old, now, order, diff)) return diff;
  // The same modules in another order install in another order.
  if (!diff.differ && !std::is_sorted(order.begin(), order.end())) {
    diff.differ = true;
    diff.lines.push_back("the same modules, appended in another order");
  }
  if (!diff.differ) {
    diff.lines.push_back((modulesOnly ? "the same " : "the same program, signature and ") +
                         std::to_string(now.size()) + " module(s)");
  }
  return diff;
}

}  // namespace brelvane
