#include "builder/predefined_modules.h"

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
  switch (attributeIndex) {
    case 1: return win::kAttrReadOnly;
    case 2: return win::kAttrHidden;
    case 3: return win::kAttrReadOnly | win::kAttrHidden;
    default: return win::kAttrNormal;
  }
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
  const Slot slots[] = {
      {request.kestrin.sourcePath, request.kestrin.extractRoot,
       AttributesOfChoice(request.kestrin.attributeIndex), PredefinedSet::Kestrin},
      {request.ovin.sourcePath, request.ovin.extractRoot,
       AttributesOfChoice(request.ovin.attributeIndex), PredefinedSet::Ovin},
      {request.pellor.sourcePath, request.pellor.extractRoot,
       AttributesOfChoice(request.pellor.attributeIndex), PredefinedSet::Pellor},
      {request.combinedSource, noRoot, win::kAttrNormal, PredefinedSet::KestrinOvin},
  };
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
