// The "ADD Predefined Modules" command as logic: up to four predefined
// modules appended to an installer in one go.  The Win32 page and the
// command line both call it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "package/package.h"
#include "res/attribute_choices.h"

namespace brelvane {

// The combined module's rule, for the builder page, add-predef and the
// manifest alike: it lies at the drive's root with Normal attributes.
inline constexpr std::uint32_t kCombinedAttributes = win::kAttrNormal;

// The attribute choices a maker picks from, in the order of the builder's
// combo boxes, as res/attribute_choices.h lists them for the resource script
// too: the word the command line and the manifest take, the text the page
// shows, and the bits a module gets.
struct AttributeChoice {
  const char* word;
  const char* shown;
  std::uint32_t bits;
};
#define ATTRIBUTE_CHOICE_ROW(unused, word, shown, length, bits) {word, shown, bits},
inline constexpr AttributeChoice kAttributeChoices[] = {ATTRIBUTE_CHOICES(ATTRIBUTE_CHOICE_ROW, _)};
#undef ATTRIBUTE_CHOICE_ROW
#define ATTRIBUTE_CHOICE_LENGTH(unused, word, shown, length, bits) \
  static_assert(sizeof(shown) == (length), "the template counts a choice's NUL");
ATTRIBUTE_CHOICES(ATTRIBUTE_CHOICE_LENGTH, _)
#undef ATTRIBUTE_CHOICE_LENGTH
static_assert(kAttributeChoices[0].bits == win::kAttrNormal &&
                  kAttributeChoices[1].bits == win::kAttrReadOnly &&
                  kAttributeChoices[2].bits == win::kAttrHidden &&
                  kAttributeChoices[3].bits == (win::kAttrReadOnly | win::kAttrHidden),
              "the choices' bits are the file attributes they name");
// The choice of a word, or -1.
int AttributeChoiceOf(std::string_view word);

// One model's group: the source file, the extract root as typed (stored as
// typed, blanks and backslashes included) and the attribute choice.
struct PredefinedGroup {
  std::string sourcePath;
  std::string extractRoot;
  int attributeIndex = 0;  // -1 (no selection), 0 Normal, 1 R only, 2 Hidden, 3 R&H
};

struct PredefinedRequest {
  // One group for each model, in the order of the catalogue's rows.
  std::array<PredefinedGroup, kModelCount> groups;
  // The Kestrin and Ovin set's file: appended at the drive's root with
  // Normal attributes.
  std::string combinedSource;
};

// The attribute bits of a choice (kAttributeChoices); no selection (or
// anything else) keeps Normal.
std::uint32_t AttributesOfChoice(int attributeIndex);

// What happened, for callers that report more than success or failure.
struct PredefinedAddResult {
  int appended = 0;               // modules appended before any failure
  std::string failedSource;       // the source whose group failed, empty on success
  bool failedToDescribe = false;  // the record could not be built (vs. the append failed)
  // The rule of common/name_rules.h that the failed group's name or root
  // breaks; empty when the failure was another one.
  std::string brokenRule;
  // Whether the failed append's cause concerns the package or its journal.
  FailedFile failedFile = FailedFile::Package;
  // What the failed append gave (a refusal, or Failed).
  AppendResult append = AppendResult::Appended;
};

// Appends each model's file in the catalogue's order, then the combined file to `packagePath`,
// skipping empty sources and stopping at the first failure; the modules
// appended before a failure stay.  A group whose name or root an install
// would refuse (ModuleSourceProblem) fails the whole request before
// anything is appended, with ERROR_INVALID_NAME.  True when every attempted
// group was appended (or none was attempted).  On failure `outcome` says
// why; but for a refusal of the installer (its `append`),
// System::LastError() holds the cause.
bool AddPredefinedModules(const Platform& platform, const std::string& packagePath,
                          const PredefinedRequest& request, PredefinedAddResult* outcome = nullptr,
                          const ProgressFn& progress = {});

}  // namespace brelvane
