// Assembling an installer from its base and the modules a build appends, so
// that the output's name only ever holds a whole, verified installer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/append_journal.h"
#include "package/package.h"
#include "platform/platform.h"

namespace brelvane {

// A program that signs the assembled installer, as an argument list:
// `{file}` in an argument stands for the installer, which it signs in place;
// or `{unsigned}` for it and `{signed}` for the file it writes the signed
// installer to.
struct SignCommand {
  std::vector<std::string> arguments;
};
inline constexpr char kSignInPlace[] = "{file}";
inline constexpr char kSignInput[] = "{unsigned}";
inline constexpr char kSignOutput[] = "{signed}";

struct AssemblyModule {
  std::string sourcePath;
  ModuleRecord record;  // the record it is appended with
};

// Where an assembly stopped.
enum class AssemblyStep {
  Done,  // the output holds the new installer
  OutputIsFolder,
  OutputIsInput,       // the output is `input`, one of the files the build reads
  CopyBase,            // the base could not be copied beside the output
  Append,              // `module` could not be appended (`failedFile` says to what)
  Sign,                // the signing command could not start or did not end with 0
  SignedNothing,       // the signing command ended with 0 but left no installer to check
  SignedFileInTheWay,  // `input` names the file the signer would write, which is there
  HandOver,            // the staging file's attributes could not be cleared for the signer
  ReadBack,            // the assembled installer could not be read back to check it
  Verify,              // the assembled installer does not verify as planned
  Rename,              // the assembled installer could not take the output's name
};
struct AssemblyResult {
  AssemblyStep step = AssemblyStep::Done;
  std::size_t module = 0;
  FailedFile failedFile = FailedFile::Package;
  std::string input;            // OutputIsInput: the input the output names
  std::optional<int> signExit;  // Sign: the command's exit code; none: it did not start
  bool noSignature = false;     // Verify: the installer the command gave carries no signature
  bool otherModules = false;    // Verify: the signer's file holds other modules than were appended
  // Files of killed builds (and of interrupted extractions) that this
  // build found beside the output, proven its own, and took away.
  std::vector<std::string> leftoversRemoved;
  bool Done() const { return step == AssemblyStep::Done; }
};

// Copies the base into a new staging file beside `output` (a staging file's
// name and hidden and system bits, so a killed build's file is known as its
// own by those, never by its name alone), appends `modules` there in their
// order (each durable, as an append is), checks the result as verify does
// (sound, and holding exactly these modules), and only then gives it plain
// bits and renames it over `output` in one step.
//  - The output must not be the base, a module's source or one of
//    `otherInputs` (the manifest), by name or as the same file: then
//    nothing is done (OutputIsInput).
//  - Killed builds' staging files beside the output, and their journals,
//    are taken away first and named in `leftoversRemoved`.
//  - On any failure the output stays as it was (or absent), the staging
//    file is removed (silently, as far as it can be) and System::LastError()
//    holds the cause where the system gave one.
// With `sign`, the command runs once the modules are appended; the file it
// leaves must then hold the very bytes appended, at the same offsets, verify
// as above and carry a signature.  The signer's program and the files its
// arguments name count among the inputs.  The staging file has plain bits
// while the signer works on it (nothing holds it then, and a sweep must
// pass it over).  Its `{signed}`
// file is the staging file's name with .SIG for .TMP, which the signer
// makes itself (signers refuse to write over a file); a build killed while
// the signer runs leaves it, as it leaves a whole installer under a
// staging name: nothing proves it this program's own.
// `progress` sees each module's copy.  Shows no message.
AssemblyResult AssembleInstaller(const Platform& platform, const std::string& basePath,
                                 const std::vector<AssemblyModule>& modules,
                                 const std::string& output, const ProgressFn& progress = {},
                                 const std::vector<std::string>& otherInputs = {},
                                 const SignCommand* sign = nullptr);

}  // namespace brelvane
