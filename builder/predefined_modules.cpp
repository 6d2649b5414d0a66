#include "builder/predefined_modules.h"

#include <iterator>
#include <vector>

namespace brelvane {
namespace {

// One module: describe it, apply its attributes, append it.
bool AppendPredefined(const Platform& platform, const std::string& packagePath,
                      const std::string& source, const std::string& extractDir, PredefinedSet set,
                      std::uint32_t attributes, PredefinedAddResult& outcome,
                      const ProgressFn& progress) {
  ModuleRecord record;
  if (!BuildModuleRecord(platform, source, record, extractDir, set)) {
    outcome.failedSource = source;
    outcome.failedToDescribe = true;
    return false;
  }
  record.attributes = attributes;
  outcome.append =
      AppendModule(platform, source, packagePath, record, progress, &outcome.failedFile);
  if (outcome.append != AppendResult::Appended) {
    outcome.failedSource = source;
    return false;
  }
  ++outcome.appended;
  return true;
}

}  // namespace

std::uint32_t AttributesOfChoice(int attributeIndex) {
  if (attributeIndex < 0 || attributeIndex >= static_cast<int>(std::size(kAttributeChoices))) {
    return win::kAttrNormal;
  }
  return kAttributeChoices[attributeIndex].bits;
}

int AttributeChoiceOf(std::string_view word) {
  for (std::size_t i = 0; i < std::size(kAttributeChoices); ++i) {
    if (word == kAttributeChoices[i].word) return static_cast<int>(i);
  }
  return -1;
}

bool AddPredefinedModules(const Platform& platform, const std::string& packagePath,
                          const PredefinedRequest& request, PredefinedAddResult* outcome,
                          const ProgressFn& progress) {
  PredefinedAddResult local;
  PredefinedAddResult& result = outcome != nullptr ? *outcome : local;
  result = PredefinedAddResult{};

  struct Slot {
    const std::string& source;
    const std::string& extractDir;
    std::uint32_t attributes;
    PredefinedSet set;
  };
  const std::string noRoot;
  std::vector<Slot> slots;
  for (std::size_t i = 0; i < kModelCount; ++i) {
    const PredefinedGroup& group = request.groups[i];
    slots.push_back({group.sourcePath, group.extractRoot, AttributesOfChoice(group.attributeIndex),
                     kDriveModels[i].set.set});
  }
  slots.push_back({request.combinedSource, noRoot, kCombinedAttributes, kCombinedSet.set});
  // Every group is judged before the first is appended: a refused one
  // leaves the installer as it was.
  for (const Slot& slot : slots) {
    if (auto problem = ModuleSourceProblem(platform.system, slot.source, slot.extractDir)) {
      result.failedSource = slot.source;
      result.failedToDescribe = true;
      result.brokenRule = *problem;
      platform.system.SetLastError(win::kErrorInvalidName);
      return false;
    }
  }
  for (const Slot& slot : slots) {
    if (slot.source.empty()) continue;  // an empty group neither adds nor fails
    if (!AppendPredefined(platform, packagePath, slot.source, slot.extractDir, slot.set,
                          slot.attributes, result, progress)) {
      return false;
    }
  }
  return true;
}

}  // namespace brelvane
