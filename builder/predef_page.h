// The predefined-modules page's logic ("Predef Modules"): one command that
// appends each model's module and the combined one to the builder's
// installer, and the group captions that gauge the name and root lengths.
#pragma once

#include <string>

#include "app/page_ending.h"
#include "app/wizard_state.h"
#include "builder/builder_view.h"
#include "platform/platform.h"

namespace brelvane {

inline constexpr char kPredefPageCaption[] = "Predef Modules";
inline constexpr char kAddSucceeded[] = "Add module Successfull";
inline constexpr char kAddFailed[] = "Add module FAILED";
inline constexpr char kRunFromDesktopPlease[] =
    "Please run this application from DESKTOP folder. \r\nIf still does not work then please "
    "contact Quorvix";
// Longest file name plus extract root that a record's fields hold together.
inline constexpr int kNameAndRootLimit = 254;

// A group box caption for a name and root of the given lengths.
std::string GroupCaption(const std::string& heading, int nameLength, int rootLength);

class PredefPage {
 public:
  PredefPage(const Platform& platform, WizardState& state, BuilderView& view)
      : platform_(platform), state_(state), view_(view) {}

  // Enables "ADD Predefined Modules" for a readable installer other than the
  // running program and resets the attribute combos to "Normal".  Ends the
  // program when the system cannot give the running program's own path.
  [[nodiscard]] PageEnding OnSetActive();
  // A source or root edit of the group changed.
  void UpdateGroupCaption(DriveModel model);
  // The "..." buttons: a file into the group's source edit.
  void OnBrowseSource(DriveModel model);
  void OnBrowseCombinedSource();
  // Appends the groups that have a source; when an install would refuse
  // one group's name or root, shows the rule and appends none.
  void OnAddPredefinedModules();

 private:
  Platform platform_;
  WizardState& state_;
  BuilderView& view_;
};

}  // namespace brelvane
