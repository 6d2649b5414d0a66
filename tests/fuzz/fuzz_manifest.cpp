// Fuzz target: arbitrary bytes as a build manifest.  Reading it must give a
// manifest or a fault placed inside the text, never reach the TOML library
// with what it mishandles (an assertion or an unreachable point there is a
// crash here); what it reads must hold the manifest's rules; and every
// string read, written back as describe writes it, must read the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "builder/code_pages.h"
#include "builder/manifest.h"
#include "memory_platform.h"

namespace {

using namespace brelvane;
using namespace brelvane::fuzz;

std::variant<Manifest, ManifestFault> Read(const std::string& text) {
  MemorySystem system;
  MemoryFileSystem files(system);
  NoRegistry registry;
  QuietPrompts prompts;
  files.Put("m.toml", std::vector<std::uint8_t>(text.begin(), text.end()));
  return ReadManifest(Platform{files, system, registry, prompts}, "m.toml");
}

// A string describe writes must read back as itself.
void CheckRoundTrip(const std::string& value) {
  const auto again = Read("base = " + TomlString(value) + "\n");
  const Manifest* read = std::get_if<Manifest>(&again);
  FUZZ_CHECK(read != nullptr && read->base == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto read = Read(text);
  if (const ManifestFault* fault = std::get_if<ManifestFault>(&read)) {
    FUZZ_CHECK(!fault->message.empty());
    FUZZ_CHECK(fault->place.line >= 0 && fault->place.column >= 0);
    std::size_t lines = 1;
    for (char c : text) lines += c == '\n';
    FUZZ_CHECK(static_cast<std::size_t>(fault->place.line) <= lines);
    return 0;
  }
  const Manifest& manifest = std::get<Manifest>(read);
  FUZZ_CHECK(!manifest.base.empty() && !manifest.basePath.empty());
  FUZZ_CHECK(IsKnownCodePage(manifest.codePage));
  CheckRoundTrip(manifest.base);
  for (const ManifestModule& module : manifest.modules) {
    FUZZ_CHECK(!module.source.empty());
    // Only a model's set goes below the root.
    FUZZ_CHECK(module.folder.empty() || module.set.has_value());
    CheckRoundTrip(module.source);
    if (!module.name.empty()) CheckRoundTrip(module.name);
    if (!module.folder.empty()) CheckRoundTrip(module.folder);
  }
  if (manifest.sign) FUZZ_CHECK(!manifest.sign->arguments.empty());
  return 0;
}
