#include "builder/assemble.h"

#include <cstring>
#include <optional>

#include "builder/file_blocks.h"
#include "builder/sha256.h"

#include "common/fs_helpers.h"
#include "common/path_text.h"
#include "common/scope_exit.h"

namespace brelvane {
namespace {

// The input among the base, the sources and `otherInputs` that `output`
// names, or nothing.
std::optional<std::string> InputNamedBy(const Platform& platform, const std::string& output,
                                        const std::string& basePath,
                                        const std::vector<AssemblyModule>& modules,
                                        const std::vector<std::string>& otherInputs) {
  std::vector<std::string> inputs{basePath};
  for (const AssemblyModule& module : modules) inputs.push_back(module.sourcePath);
  inputs.insert(inputs.end(), otherInputs.begin(), otherInputs.end());
  for (const std::string& input : inputs)
    if (NamesSameFile(platform, output, input)) return input;
  return std::nullopt;
}

// Takes away what killed builds left beside the output: staging files
// proven this program's own by their bits, and their appends' journals.
std::vector<std::string> RemoveKilledBuilds(const Platform& platform, const std::string& output) {
  const std::string folder = SplitFolder(output).first;
  std::vector<std::string> removed = RemoveStagingLeftovers(platform, folder);
  for (const std::string& leftover : removed) RemoveOrphanJournal(platform, leftover);
  return removed;
}

bool UsesSignedFile(const SignCommand& sign) {
  for (const std::string& argument : sign.arguments)
    if (argument.find(kSignOutput) != std::string::npos) return true;
  return false;
}

// The command's arguments with the files in place of their placeholders, in
// one pass: a placeholder's text inside a file's path stays as it is.
std::vector<std::string> SignArguments(const SignCommand& sign, const std::string& building,
                                       const std::string& signedFile) {
  const std::pair<const char*, const std::string*> places[] = {
      {kSignInPlace, &building}, {kSignInput, &building}, {kSignOutput, &signedFile}};
  std::vector<std::string> arguments;
  for (const std::string& argument : sign.arguments) {
    std::string text;
    for (std::size_t at = 0; at < argument.size();) {
      bool replaced = false;
      for (const auto& [placeholder, file] : places) {
        if (argument.compare(at, std::strlen(placeholder), placeholder) == 0) {
          text += *file;
          at += std::strlen(placeholder);
          replaced = true;
          break;
        }
      }
      if (!replaced) text += argument[at++];
    }
    arguments.push_back(text);
  }
  return arguments;
}

// The files the signing command reads besides the installer: its program
// and each argument that names a file (a key, a certificate).
std::vector<std::string> SignInputs(const Platform& platform, const SignCommand& sign) {
  std::vector<std::string> inputs;
  for (const std::string& argument : sign.arguments)
    if (argument.find('{') == std::string::npos && platform.files.Exists(argument))
      inputs.push_back(argument);
  return inputs;
}

// The modules of a walked installer as bytes: from the oldest module's
// content to the end of the newest record, with their offsets, so that a
// signer's file is known to hold exactly what was appended.
std::optional<std::string> ModulesDigest(const Platform& platform, const std::string& path,
                                         const WalkResult& walk) {
  if (walk.end == WalkEnd::ReadFailure) return std::nullopt;
  if (walk.modules.empty()) return std::string("no modules");
  const WalkedModule& newest = walk.modules.front();
  const WalkedModule& oldest = walk.modules.back();
  const std::int64_t begin = oldest.contentOffset;
  const std::int64_t end =
      newest.contentOffset + static_cast<std::int64_t>(newest.record.contentSize) + kRecordSize;
  Sha256 hash;
  if (!ReadBlocks(platform, path, begin, end - begin,
                  [&](const std::uint8_t* data, std::size_t size) { hash.Add(data, size); }))
    return std::nullopt;
  return std::to_string(begin) + ":" + std::to_string(walk.modules.size()) + ":" + hash.HexDigest();
}

// Whether a verdict failed for want of reading rather than for what it read;
// the system's code of the failure is then the last error.
bool FailedToRead(const Platform& platform, const PackageVerdict& verdict) {
  if (verdict.walk.end == WalkEnd::ReadFailure) return true;
  for (const ModuleProblem& problem : verdict.problems) {
    if (problem.state == ContentState::Unreadable) {
      platform.system.SetLastError(problem.error);
      return true;
    }
  }
  return false;
}

// Refuses an output that is a folder or names a file the build reads (the
// signer's among them); true when the output may be written.
bool MayWriteOutput(const Platform& platform, const std::string& basePath,
                    const std::vector<AssemblyModule>& modules, const std::string& output,
                    std::vector<std::string> inputs, const SignCommand* sign,
                    AssemblyResult& result) {
  if (platform.files.IsDirectory(output)) {
    result.step = AssemblyStep::OutputIsFolder;
    return false;
  }
  if (sign != nullptr) {
    const std::vector<std::string> signInputs = SignInputs(platform, *sign);
    inputs.insert(inputs.end(), signInputs.begin(), signInputs.end());
  }
  if (std::optional<std::string> input =
          InputNamedBy(platform, output, basePath, modules, inputs)) {
    result.step = AssemblyStep::OutputIsInput;
    result.input = *input;
    return false;
  }
  return true;
}

bool AppendAll(const Platform& platform, const std::vector<AssemblyModule>& modules,
               const std::string& building, const ProgressFn& progress, AssemblyResult& result) {
  for (std::size_t i = 0; i < modules.size(); ++i) {
    FailedFile failed = FailedFile::Package;
    if (AppendModule(platform, modules[i].sourcePath, building, modules[i].record, progress,
                     &failed) != AppendResult::Appended) {
      result.step = AssemblyStep::Append;
      result.module = i;
      result.failedFile = failed;
      return false;
    }
  }
  return true;
}

// Runs the signer over the staging file and checks that what it gave holds
// exactly the modules appended.  `building` becomes the signer's own file
// when it writes one apart; on failure, only what this run's signer wrote is
// removed.
bool SignAndCheck(const Platform& platform, const SignCommand& sign, std::string& building,
                  ScopedFile& held, AssemblyResult& result) {
  FileSystem& files = platform.files;
  const std::optional<std::string> appended =
      ModulesDigest(platform, building, WalkModules(platform, PackageRef{building, kRecordSize}));
  if (!appended) {
    result.step = AssemblyStep::ReadBack;
    return false;
  }
  // The signer opens the installer itself: this build's hold would stand in
  // its way on Windows.  Plain bits while it signs, so that another build's
  // sweep, which takes only what a hold does not guard, leaves it.
  held.Reset();
  if (!files.SetAttributes(building, win::kAttrNormal)) {
    result.step = AssemblyStep::HandOver;
    return false;
  }
  const bool apart = UsesSignedFile(sign);
  // The signer's own new file, beside the staging file whose number is this
  // build's: no other build names it.
  const std::string signedFile = building.substr(0, building.size() - 4) + ".SIG";
  if (apart && files.Exists(signedFile)) {
    result.step = AssemblyStep::SignedFileInTheWay;
    result.input = signedFile;
    return false;
  }
  ScopeExit removeSigned([&] {
    if (apart && files.Exists(signedFile)) RemoveOwnStagingFile(platform, signedFile);
  });
  result.signExit = platform.system.RunProgram(SignArguments(sign, building, signedFile));
  if (result.signExit != 0) {
    result.step = AssemblyStep::Sign;
    return false;
  }
  // A signer that reports success but leaves no file is the signer's
  // fault, not the disk's.
  if (!files.Exists(apart ? signedFile : building)) {
    result.step = AssemblyStep::SignedNothing;
    result.input = apart ? signedFile : building;
    return false;
  }
  if (apart) {
    RemoveOwnStagingFile(platform, building);
    building = signedFile;
    removeSigned.Cancel();
  }
  const std::optional<std::string> signedModules =
      ModulesDigest(platform, building, WalkModules(platform, PackageRef{building, kRecordSize}));
  if (signedModules != appended) {
    result.step = signedModules ? AssemblyStep::Verify : AssemblyStep::ReadBack;
    result.otherModules = signedModules.has_value();
    return false;
  }
  return true;
}

// The last check: every module appended, each sound, and a signature when
// the build signs.
bool VerifyAssembled(const Platform& platform, const std::string& building, std::size_t modules,
                     bool signs, AssemblyResult& result) {
  const PackageVerdict verdict = VerifyPackage(platform, PackageRef{building, kRecordSize});
  if (FailedToRead(platform, verdict)) {
    result.step = AssemblyStep::ReadBack;
    return false;
  }
  if (!verdict.IsSound() || verdict.walk.modules.size() != modules ||
      (signs && verdict.walk.certificateTable == 0)) {
    result.step = AssemblyStep::Verify;
    result.noSignature = signs && verdict.IsSound() && verdict.walk.certificateTable == 0;
    return false;
  }
  return true;
}

}  // namespace

AssemblyResult AssembleInstaller(const Platform& platform, const std::string& basePath,
                                 const std::vector<AssemblyModule>& modules,
                                 const std::string& output, const ProgressFn& progress,
                                 const std::vector<std::string>& otherInputs,
                                 const SignCommand* sign) {
  FileSystem& files = platform.files;
  AssemblyResult result;
  if (!MayWriteOutput(platform, basePath, modules, output, otherInputs, sign, result))
    return result;
  result.leftoversRemoved = RemoveKilledBuilds(platform, output);
  std::string building;
  FileHandle heldHandle = kNoFile;
  if (!CopyToStagingFile(platform, basePath, output, &building, &heldHandle)) {
    result.step = AssemblyStep::CopyBase;
    return result;
  }
  // Held open from its creation to the rename, so that another build's
  // sweep of leftovers in this folder passes it over.
  ScopedFile held(files, heldHandle);
  // On every way out but the last, the staging file goes, and the cause of
  // the failure stays the last error.
  ScopeExit removeBuilding([&] {
    const std::uint32_t cause = platform.system.LastError();
    held.Reset();
    RemoveOwnStagingFile(platform, building);
    RemoveOrphanJournal(platform, building);
    platform.system.SetLastError(cause);
  });
  if (!AppendAll(platform, modules, building, progress, result) ||
      (sign != nullptr && !SignAndCheck(platform, *sign, building, held, result)) ||
      !VerifyAssembled(platform, building, modules.size(), sign != nullptr, result))
    return result;
  // Plain bits first, then the one rename: the output never carries a
  // staging file's bits, and a failure of either leaves it as it was.  (A
  // build killed between the two leaves a whole installer under a staging
  // name, which the next build does not take for its own.)
  // Its plain bits mark it as no leftover before it is let go.
  if (!files.SetAttributes(building, win::kAttrNormal) || !held.Reset() ||
      !files.MoveIntoPlace(building, output, true)) {
    result.step = AssemblyStep::Rename;
    return result;
  }
  removeBuilding.Cancel();
  return result;
}

}  // namespace brelvane
