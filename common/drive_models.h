// The catalogue of the supported drive models.  Everything that differs from
// one model to the next is a field of its row in kDriveModels: how discovery
// recognises and locates the drive, which module set it takes, and how the
// builder, the module list, oempack and the logs name that set.  The rest of
// the system iterates the rows, so a new model is a new row (with its enum
// values), a machine fixture that shows it, and, when its drive letter is to
// be found, its locating rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "res/resource.h"

namespace brelvane {

// The answer of discovery; chooses the module set that is installed.  The
// values are fixed: the builder's and the run log's words come from the
// rows, but a stored answer may carry the number.
enum class DriveModel : std::int32_t { None = -1, Ovin = 1, Pellor = 2, Kestrin = 3 };

// The predefined module sets: one for each model and one for Kestrin and
// Ovin together.  A record names its set by the marker's character after the
// common prefix, and that character is the enumerator's value.
enum class PredefinedSet : char { Kestrin = 'T', Ovin = 'A', Pellor = 'G', KestrinOvin = '4' };

// USB hardware ids ("USB\Vid_xxxx&Pid_xxxx", 21 characters), in the order
// they are tried.  An empty table holds no ids.
using HardwareIdTable = std::span<const std::string_view>;

// The drive maker's USB vendor id is 2F1C for every model.  The fixed parts
// are written as the drivers' INF files spell them: the Kestrin ids
// "Vid_"/"Pid_", the first Ovin id and both Pellor ids "VID_"/"PID_".
// Matching ignores letter case, so the spelling only documents where each id
// came from.
inline constexpr std::string_view kKestrinIdList[] = {
    "USB\\Vid_2F1C&Pid_1101", "USB\\Vid_2F1C&Pid_1102", "USB\\Vid_2F1C&Pid_1103",
    "USB\\Vid_2F1C&Pid_1104", "USB\\Vid_2F1C&Pid_1105", "USB\\Vid_2F1C&Pid_1106",
    "USB\\Vid_2F1C&Pid_1107", "USB\\Vid_2F1C&Pid_1108", "USB\\Vid_2F1C&Pid_1109",
    "USB\\Vid_2F1C&Pid_110A", "USB\\Vid_2F1C&Pid_110B", "USB\\Vid_2F1C&Pid_110C",
    "USB\\Vid_2F1C&Pid_110D",
};
// The later Kestrin hardware revisions; each id is also in the main list.
inline constexpr std::string_view kKestrinExtraIdList[] = {
    "USB\\Vid_2F1C&Pid_1102",
    "USB\\Vid_2F1C&Pid_1105",
    "USB\\Vid_2F1C&Pid_1108",
    "USB\\Vid_2F1C&Pid_110B",
};
inline constexpr std::string_view kOvinIdList[] = {"USB\\VID_2F1C&PID_2201",
                                                   "USB\\Vid_2F1C&Pid_2202"};
inline constexpr std::string_view kPellorIdList[] = {"USB\\VID_2F1C&PID_3301",
                                                     "USB\\VID_2F1C&PID_3302"};

inline constexpr HardwareIdTable KestrinIds{kKestrinIdList};
inline constexpr HardwareIdTable KestrinExtraIds{kKestrinExtraIdList};
inline constexpr HardwareIdTable OvinIds{kOvinIdList};
inline constexpr HardwareIdTable OvinSecondaryIds{};  // holds no ids
inline constexpr HardwareIdTable PellorIds{kPellorIdList};

// The Ovin drive's disk as the NT disk driver lists it.
inline constexpr std::string_view OemDiskId = "USBSTOR\\Disk&Ven_Quorvix&Prod_OEM";
// The same disk when the drive runs on USB Attached SCSI: the storage port
// driver lists it under the SCSI enumerator, with the same vendor and product
// fields.
inline constexpr std::string_view OemUasDiskId = "SCSI\\Disk&Ven_Quorvix&Prod_OEM";
// Its 9x hardware key: "SCSI\", vendor field, product field, revision.
inline constexpr std::string_view OemScsiIdPrimary = "SCSI\\QUORVIX_OEM_____________0";
inline constexpr std::string_view OemScsiIdSecondary = "SCSI\\QUORVIX_OEM_____________1";

// How discovery finds the drive letter of a model's drive.  On NT-family
// systems it looks for the disk by its disk ids; on 9x-family systems it
// takes the primary pair (USB ids and SCSI hardware key) and then the
// secondary one.  The disk is not trusted on NT-family systems while a model
// that can carry a disk with the same id is plugged in too.
struct LocatingRule {
  std::string_view diskId;
  std::string_view uasDiskId;
  HardwareIdTable primaryIds;
  std::string_view primaryScsiId;
  HardwareIdTable secondaryIds;
  std::string_view secondaryScsiId;
  DriveModel sharesItsDiskId;
};

inline constexpr LocatingRule kOvinLocating{
    OemDiskId,          OemUasDiskId,       OvinIds, OemScsiIdPrimary, OvinSecondaryIds,
    OemScsiIdSecondary, DriveModel::Kestrin};

// A model's group on the builder's predefined-modules page: its heading and
// its controls.  The Ovin root edit reports its changes by its change
// notification, the other edits by their update notification.
struct BuilderGroup {
  const char* heading;
  int source;
  int browse;
  int root;
  int attributes;
  int caption;
  bool rootReportsChange;
};

// The groups as builder_groups.def lists them, one constant a model
// (kKestrinGroup, ...), and all of them in the page's order.
// clang-format off
#define BUILDER_GROUP(model, heading, sourceLabel, attributesLabel, groupId, sourceId, browseId, \
                      rootId, attributesId, comboStyle, rootReportsChange, ...)                  \
  inline constexpr BuilderGroup k##model##Group{                                                 \
      heading, sourceId, browseId, rootId, attributesId, groupId, rootReportsChange};
// clang-format on
#include "res/builder_groups.def"
#undef BUILDER_GROUP
#define BUILDER_GROUP(model, ...) k##model##Group,
inline constexpr BuilderGroup kBuilderGroupsInPageOrder[] = {
#include "res/builder_groups.def"
};
#undef BUILDER_GROUP

// A module set as the builder and the package show it.
struct ModuleSetNames {
  PredefinedSet set;
  const char* marker;    // the record's marker: the common prefix and the set's character
  const char* listText;  // the module list's "Predefined" cell
  const char* key;       // the builder's JSON and oempack's option name
};

struct DriveModelRow {
  DriveModel model;
  const char* name;  // as the run log and the pages name the model
  // The tables the detection pass of this model tries, in order.
  std::span<const HardwareIdTable> detectionTables;
  // How its drive letter is found; none for a model that is detected but not
  // installed to.
  const LocatingRule* locating;
  // Whether the sheet shows its side picture while this model alone is
  // plugged in.
  bool sidePicture;
  ModuleSetNames set;
  BuilderGroup group;
};

inline constexpr HardwareIdTable kKestrinDetection[] = {KestrinIds, KestrinExtraIds};
inline constexpr HardwareIdTable kOvinDetection[] = {OvinIds, OvinSecondaryIds};
inline constexpr HardwareIdTable kPellorDetection[] = {PellorIds};

// One row a model, in the order of the detection passes and of the builder's
// groups.
inline constexpr DriveModelRow kDriveModels[] = {
    {DriveModel::Kestrin,
     "Kestrin",
     kKestrinDetection,
     nullptr,
     true,
     {PredefinedSet::Kestrin, "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_T", "Yes-KESTRIN", "kestrin"},
     kKestrinGroup},
    {DriveModel::Ovin,
     "Ovin",
     kOvinDetection,
     &kOvinLocating,
     true,
     {PredefinedSet::Ovin, "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_A", "Yes-OVIN", "ovin"},
     kOvinGroup},
    {DriveModel::Pellor,
     "Pellor",
     kPellorDetection,
     nullptr,
     false,
     {PredefinedSet::Pellor, "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_G", "Yes-PELLOR", "pellor"},
     kPellorGroup},
};
inline constexpr std::size_t kModelCount = std::size(kDriveModels);

// The page draws its groups in the order of builder_groups.def, and the
// builder fills them in the order of the rows: the two must agree.
constexpr bool GroupsFollowTheRows() {
  if (std::size(kBuilderGroupsInPageOrder) != kModelCount) return false;
  for (std::size_t i = 0; i < kModelCount; ++i)
    if (kDriveModels[i].group.caption != kBuilderGroupsInPageOrder[i].caption) return false;
  return true;
}
static_assert(GroupsFollowTheRows(), "builder_groups.def has one row a model, in the rows' order");

// The set for Kestrin and Ovin drives together, which no drive takes: the
// builder appends it at the drive's root with Normal attributes.
inline constexpr ModuleSetNames kCombinedSet{PredefinedSet::KestrinOvin,
                                             "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_4", "Yes-KES+OVIN",
                                             "kestrin+ovin"};
inline constexpr const char* kCombinedSetDescription = "Kestrin+Ovin";

// A model's row; nullptr for None or a value no row has.
constexpr const DriveModelRow* RowOf(DriveModel model) {
  for (const DriveModelRow& row : kDriveModels)
    if (row.model == model) return &row;
  return nullptr;
}

// The names of a set; nullptr for a set no row has.
constexpr const ModuleSetNames* NamesOf(PredefinedSet set) {
  for (const DriveModelRow& row : kDriveModels)
    if (row.set.set == set) return &row.set;
  return set == kCombinedSet.set ? &kCombinedSet : nullptr;
}

// The set whose marker character is `suffix`, if any.
constexpr const ModuleSetNames* NamesOfSuffix(char suffix) {
  for (const DriveModelRow& row : kDriveModels)
    if (static_cast<char>(row.set.set) == suffix) return &row.set;
  return static_cast<char>(kCombinedSet.set) == suffix ? &kCombinedSet : nullptr;
}

// Which supported models are plugged in: a set over the catalogue's rows.
// Two drives of one model count once.
class ModelPresence {
 public:
  constexpr ModelPresence() = default;
  constexpr ModelPresence(std::initializer_list<DriveModel> models) {
    for (DriveModel model : models) Add(model);
  }

  constexpr void Add(DriveModel model) { bits_ |= BitOf(model); }
  constexpr bool Has(DriveModel model) const { return (bits_ & BitOf(model)) != 0; }
  constexpr int Count() const {
    int count = 0;
    for (std::uint32_t bits = bits_; bits != 0; bits &= bits - 1) ++count;
    return count;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  // The one model plugged in; None for none or several.
  constexpr DriveModel Single() const {
    if (Count() != 1) return DriveModel::None;
    for (const DriveModelRow& row : kDriveModels)
      if (Has(row.model)) return row.model;
    return DriveModel::None;
  }
  // The code from 0 to 7 by which the documentation's tables name the
  // combinations of Kestrin, Ovin and Pellor (3 is Pellor alone: the codes
  // enumerate combinations and are no bit mask).
  constexpr int Code() const {
    const bool k = Has(DriveModel::Kestrin), o = Has(DriveModel::Ovin), p = Has(DriveModel::Pellor);
    if (k && o && p) return 7;
    if (o && p) return 6;
    if (k && p) return 5;
    if (k && o) return 4;
    if (p) return 3;
    if (o) return 2;
    if (k) return 1;
    return 0;
  }
  constexpr bool operator==(const ModelPresence&) const = default;

  static const ModelPresence None, Kestrin, Ovin, Pellor, KestrinOvin, KestrinPellor, OvinPellor,
      AllThree;

 private:
  static constexpr std::uint32_t BitOf(DriveModel model) {
    for (std::size_t i = 0; i < kModelCount; ++i)
      if (kDriveModels[i].model == model) return std::uint32_t{1} << i;
    return 0;
  }
  std::uint32_t bits_ = 0;
};
static_assert(kModelCount <= 32, "a presence holds one bit a model");

inline constexpr ModelPresence ModelPresence::None{};
inline constexpr ModelPresence ModelPresence::Kestrin{DriveModel::Kestrin};
inline constexpr ModelPresence ModelPresence::Ovin{DriveModel::Ovin};
inline constexpr ModelPresence ModelPresence::Pellor{DriveModel::Pellor};
inline constexpr ModelPresence ModelPresence::KestrinOvin{DriveModel::Kestrin, DriveModel::Ovin};
inline constexpr ModelPresence ModelPresence::KestrinPellor{DriveModel::Kestrin,
                                                            DriveModel::Pellor};
inline constexpr ModelPresence ModelPresence::OvinPellor{DriveModel::Ovin, DriveModel::Pellor};
inline constexpr ModelPresence ModelPresence::AllThree{DriveModel::Kestrin, DriveModel::Ovin,
                                                       DriveModel::Pellor};

// Whether `model` is among the plugged-in models.
constexpr bool HasModel(ModelPresence presence, DriveModel model) { return presence.Has(model); }
// More than one model at once.
constexpr bool HasSeveralModels(ModelPresence presence) { return presence.Count() > 1; }

}  // namespace brelvane
