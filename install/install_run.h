// Rules of the install run that stand on their own.
#pragma once

#include <string>

#include "package/module_record.h"

namespace brelvane {

inline constexpr char kNoDriveInformation[] = "Unable to get Mivora Information!";
inline constexpr char kDriveChanged[] =
    "The Mivora has been changed!. Please restart the application!\r\nGood Bye!";
inline constexpr char kCannotContinue[] = "Unable To Continue Installation!\r\nGood Bye!";
inline constexpr char kAlreadyExistsFormat[] =
    "%s \r\nalready exist!  Delete this file before Installing?";
inline constexpr char kCannotDeleteFormat[] = "Unable to delete file: %s \r\nError: %s";
inline constexpr char kInstallComplete[] =
    "Thank you for using Quorvix product!\r\nInstallation Complete!";
inline constexpr char kCannotLaunchFormat[] = "Unable execute :%s\r\nSystem Message: %s";
inline constexpr char kOutsideDriveFormat[] =
    "The module \"%s\" (folder \"%s\") would be written outside its folder on the drive.\r\n"
    "It is not installed.";

// True when the module's destination stays below the drive root: its file
// name is a single plain name (no '\\', '/' or ':', not "." or "..") and its
// folder has no ':' and no ".." component.  Repeated or leading backslashes
// are harmless and allowed.
bool StaysBelowDriveRoot(const ModuleRecord& record);

// The destination folder ("E:\dir") and file ("E:\dir\name", or "E:\name"
// for an empty folder) of a module on drive `letter`.
std::string DestinationDirectory(char letter, const ModuleRecord& record);
std::string DestinationFile(char letter, const ModuleRecord& record);

}  // namespace brelvane
