#include "builder/installer_build.h"

#include <optional>

#include "builder/assemble.h"
#include "builder/code_pages.h"
#include "builder/file_blocks.h"
#include "builder/module_list.h"
#include "common/name_rules.h"
#include "common/path_text.h"
#include "package/package_guard.h"

namespace brelvane {
namespace {

std::string At(const std::string& manifestPath, const ManifestPlace& place,
               const std::string& what) {
  return DescribeFault(manifestPath, ManifestFault{place, what});
}

// The base must be an installer with no module behind its image, readable,
// unsigned and whole; the manifest's SHA-256, when given, must be its own.
std::optional<std::string> BaseProblem(const Platform& platform, const std::string& manifestPath,
                                       const Manifest& manifest) {
  const std::string& base = manifest.basePath;
  const auto problem = [&](const std::string& why) {
    return At(manifestPath, manifest.basePlace, "the base " + manifest.base + " " + why);
  };
  {
    ScopedFile probe(platform.files, platform.files.OpenRead(base));
    if (!probe.valid()) return problem("cannot be opened: " + LastErrorLine(platform.system));
  }
  if (manifest.baseSha256) {
    const std::optional<std::string> digest = Sha256OfFile(platform, base);
    if (!digest) return problem("cannot be read: " + LastErrorLine(platform.system));
    if (*digest != *manifest.baseSha256) {
      return At(manifestPath, manifest.sha256Place,
                "the base " + manifest.base + " has the SHA-256 " + *digest +
                    ", not the one the manifest names");
    }
  }
  const WalkResult walk = WalkModules(platform, PackageRef{base, kRecordSize});
  if (walk.end != WalkEnd::Image) return problem(WalkProblem(walk));
  if (walk.strayBytes > 0) return problem("has stray bytes behind its image (oempack repair)");
  if (walk.certificateTable > 0) {
    return problem("is signed: build from the unsigned installer, then sign the result");
  }
  if (!walk.modules.empty()) {
    return problem("already holds " + std::to_string(walk.modules.size()) +
                   " module(s): build from the empty installer");
  }
  return std::nullopt;
}

// One module's record by the rules add and add-predef apply, its names in
// the code page of `platform`'s System; or the problem.
std::variant<ModuleRecord, std::string> RecordOf(const Platform& platform,
                                                 const ManifestModule& module,
                                                 const Manifest& manifest) {
  System& system = platform.system;
  const std::string& named = module.name.empty() ? module.path : module.name;
  if (auto problem = ModuleSourceProblem(system, named, module.folder)) {
    return *problem + "; every install would refuse it";
  }
  if (WouldReplacePackage(platform.files, module.path, manifest.basePath)) {
    return std::string("it is the base installer itself");
  }
  const std::string shownName = module.name.empty() ? FindFileName(module.source) : module.name;
  if (!system.ToAnsi(shownName) || !system.ToAnsi(module.folder)) {
    return "code page " + std::to_string(manifest.codePage) + " cannot hold the name " +
           (system.ToAnsi(shownName) ? module.folder : shownName) +
           " (name another with code-page)";
  }
  ModuleRecord record;
  if (!BuildModuleRecord(platform, module.path, record, module.folder, module.set, kRecordSize,
                         module.name.empty() ? nullptr : &module.name)) {
    if (system.LastError() == win::kErrorFilenameExcedRange)
      return std::string("the name is longer than a record holds");
    return LastErrorLine(system);
  }
  record.attributes = module.attributes;
  return record;
}

}  // namespace

std::variant<BuildPlan, std::string> PlanBuild(const Platform& host,
                                               const std::string& manifestPath) {
  const std::variant<Manifest, ManifestFault> read = ReadManifest(host, manifestPath);
  if (const ManifestFault* fault = std::get_if<ManifestFault>(&read)) {
    return DescribeFault(manifestPath, *fault);
  }
  BuildPlan plan{manifestPath, std::get<Manifest>(read), {}};
  const Manifest& manifest = plan.manifest;
  if (auto problem = BaseProblem(host, manifestPath, manifest)) return *problem;
  // The names go into the records in the manifest's code page, whatever
  // the host's own.
  CodePageSystem names(host.system, manifest.codePage);
  const Platform platform{host.files, names, host.registry, host.prompts};
  for (std::size_t i = 0; i < manifest.modules.size(); ++i) {
    const ManifestModule& module = manifest.modules[i];
    const auto refuse = [&](const std::string& why) {
      return At(manifestPath, module.place, "cannot add \"" + module.source + "\": " + why);
    };
    std::variant<ModuleRecord, std::string> made = RecordOf(platform, module, manifest);
    if (const std::string* problem = std::get_if<std::string>(&made)) return refuse(*problem);
    const ModuleRecord& record = std::get<ModuleRecord>(made);
    for (std::size_t earlier = 0; earlier < plan.records.size(); ++earlier) {
      if (SameDestination(names, plan.records[earlier], record)) {
        return refuse("the module at line " + std::to_string(manifest.modules[earlier].place.line) +
                      " of the same set already goes to that file (names are compared without "
                      "regard to letter case, as Windows compares them)");
      }
    }
    plan.records.push_back(record);
  }
  return plan;
}

namespace {

// What a failed step says, with the system's words for its cause.
std::string SystemSays(const Platform& platform, const std::string& what) {
  return what + ": " + LastErrorLine(platform.system);
}

// The problem of a step of signing and checking what the signer gave.
std::string SigningProblem(const Platform& platform, const BuildPlan& plan,
                           const std::string& output, const AssemblyResult& result) {
  const Manifest& manifest = plan.manifest;
  const std::string untouched = "; " + output + " is left as it was";
  switch (result.step) {
    case AssemblyStep::Sign:
      return At(
          plan.manifestPath, manifest.signPlace,
          result.signExit
              ? "the signing command ended with " + std::to_string(*result.signExit) + untouched
              : SystemSays(platform, "the signing command " + manifest.sign->arguments[0] +
                                         " cannot be started"));
    case AssemblyStep::SignedFileInTheWay:
      return result.input +
             " is where the signer writes, and a file is there (a build stopped while it signed "
             "leaves one): move it away" +
             untouched;
    case AssemblyStep::SignedNothing:
      return At(
          plan.manifestPath, manifest.signPlace,
          "the signing command ended with 0 but left no installer at " + result.input + untouched);
    case AssemblyStep::HandOver:
      return SystemSays(platform, "cannot hand the installer built beside " + output +
                                      " to the signing command (" + output + " is left as it was)");
    default:  // Verify
      return (result.otherModules ? "the signing command left other modules than the build "
                                    "appended"
              : result.noSignature
                  ? "the signing command left the installer without a signature"
                  : "the installer built beside " + output + " fails verification") +
             untouched;
  }
}

std::string AssemblyProblem(const Platform& platform, const BuildPlan& plan,
                            const std::string& output, const AssemblyResult& result) {
  switch (result.step) {
    case AssemblyStep::Done: return {};
    case AssemblyStep::OutputIsFolder: return output + " is a directory";
    case AssemblyStep::OutputIsInput:
      return output + " is " + result.input +
             ", which the build reads: name another output; nothing was written";
    case AssemblyStep::CopyBase:
      return SystemSays(platform, "cannot copy the base beside " + output);
    case AssemblyStep::Append: {
      const ManifestModule& module = plan.manifest.modules[result.module];
      const std::string where = result.failedFile == FailedFile::Journal ? " (its journal)" : "";
      return At(plan.manifestPath, module.place,
                SystemSays(platform, "cannot append \"" + module.source +
                                         "\" to the installer being built" + where));
    }
    case AssemblyStep::ReadBack:
      return SystemSays(platform, "cannot read back the installer built beside " + output + " (" +
                                      output + " is left as it was)");
    case AssemblyStep::Rename: return SystemSays(platform, "cannot replace " + output);
    case AssemblyStep::Sign:
    case AssemblyStep::SignedFileInTheWay:
    case AssemblyStep::SignedNothing:
    case AssemblyStep::HandOver:
    case AssemblyStep::Verify: return SigningProblem(platform, plan, output, result);
  }
  return {};
}

}  // namespace

BuildOutcome BuildFromPlan(const Platform& platform, const BuildPlan& plan,
                           const std::string& output, const ProgressFn& progress) {
  const Manifest& manifest = plan.manifest;
  std::vector<AssemblyModule> modules;
  for (std::size_t i = 0; i < plan.records.size(); ++i)
    modules.push_back({manifest.modules[i].path, plan.records[i]});
  const AssemblyResult result =
      AssembleInstaller(platform, manifest.basePath, modules, output, progress, {plan.manifestPath},
                        manifest.sign ? &*manifest.sign : nullptr);
  return BuildOutcome{AssemblyProblem(platform, plan, output, result), result.leftoversRemoved};
}

}  // namespace brelvane
