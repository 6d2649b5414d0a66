// The build manifest: one TOML file that names the base installer and every
// module an installer is built from, in the order they are appended.
//
//   base = "brelvane-setup.exe"          # the empty installer
//   base-sha256 = "9f86d0..."             # optional: the build takes no other base
//
//   [[module]]
//   source = "payload/Brelvane v1.0.exe"  # relative to the manifest's folder
//   set = "ovin"                          # a model's set, or "combined"; none: user-defined
//   folder = "Brelvane"                   # below the drive's root (a model's set only)
//   attributes = "normal"                 # normal, ronly, hidden, rh, or a number
//   name = "Brelvane.exe"                 # optional: the source's own name by default
//
//   code-page = 1251                      # optional: the names' code page (1252)
//   [sign]                                # optional: signs the installer before it is placed
//   command = ["signtool", "sign", "/fd", "sha256", "{file}"]
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "builder/assemble.h"
#include "common/drive_models.h"
#include "platform/platform.h"

namespace brelvane {

// Where a manifest says something: 1-based, as editors count.
struct ManifestPlace {
  int line = 0;
  int column = 0;
};

struct ManifestModule {
  std::string source;  // as the manifest writes it
  std::string path;    // the source as the build opens it
  std::optional<PredefinedSet> set;
  std::string name;    // empty: the source's own file name
  std::string folder;  // below the drive's root
  std::uint32_t attributes = win::kAttrNormal;
  ManifestPlace place;  // the module's table
};

struct Manifest {
  std::string base;      // as the manifest writes it
  std::string basePath;  // as the build opens it
  ManifestPlace basePlace;
  std::optional<std::string> baseSha256;  // lower-case hex
  ManifestPlace sha256Place;
  std::vector<ManifestModule> modules;
  unsigned codePage = 1252;  // the code page the names are stored in (code_pages.h)
  std::optional<SignCommand> sign;
  ManifestPlace signPlace;
};

struct ManifestFault {
  ManifestPlace place;
  std::string message;
};

// Reads and checks the manifest at `path`: its TOML, its keys and their
// values.  The sources are not opened here.
std::variant<Manifest, ManifestFault> ReadManifest(const Platform& platform,
                                                   const std::string& path);

// "MANIFEST:LINE:COLUMN: message", as compilers name a place.
std::string DescribeFault(const std::string& manifestPath, const ManifestFault& fault);

// The manifest's words for a set ("kestrin", ..., "combined") and for
// attribute bits ("normal", "ronly", "hidden", "rh", or the number).
std::string SetWord(PredefinedSet set);
std::string AttributesWord(std::uint32_t attributes);

// A string as a TOML basic string, quoted and escaped.
std::string TomlString(const std::string& text);

}  // namespace brelvane
