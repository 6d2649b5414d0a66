// Fuzz target: arbitrary bytes as an installer package.  The backward walk,
// the lookups the install run and the builder make, and extraction with its
// content check must never crash, read out of bounds, leave a handle open or
// a partial file behind, and must agree with one another.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "memory_platform.h"
#include "package/package.h"
#include "package/pe_signature.h"

namespace {

using namespace brelvane;
using namespace brelvane::fuzz;

constexpr char kPackagePath[] = "C:\\setup.exe";
constexpr char kOutPath[] = "C:\\out.bin";
constexpr std::uint32_t kLargestExtracted = 1u << 20;

void CheckWalk(const WalkResult& walk, std::int64_t length) {
  std::int64_t end = length;
  for (const WalkedModule& module : walk.modules) {
    // Every module lies inside the file, below the one walked before it.
    FUZZ_CHECK(module.contentOffset >= 0);
    FUZZ_CHECK(module.contentOffset + module.record.contentSize + kRecordSize <= end);
    FUZZ_CHECK(IsModuleMarker(module.record.marker));
    FUZZ_CHECK(module.record.fileName.size() <= kNameWidth);
    FUZZ_CHECK(module.record.extractDir.size() <= kNameWidth);
    end = module.contentOffset;
  }
}

// The certificate table of a signed package: inside the file, behind the
// image, its header fields inside the bytes parsed, and its own header a
// signer's.  The headers are copied to a buffer of their exact size, so a
// read beyond them is caught.  Gives where the modules must end.
std::int64_t CheckSignature(const std::uint8_t* data, std::size_t size, const WalkResult& walk) {
  const std::vector<std::uint8_t> headers(data, data + std::min(size, kPeHeaderWindow));
  const auto length = static_cast<std::int64_t>(size);
  const auto table = ParseCertificateTable(headers.data(), headers.size(), length);
  if (walk.certificateTable == 0) return length;
  FUZZ_CHECK(table && walk.certificateTable == table->size);
  FUZZ_CHECK(table->size > 0 && table->offset + table->size == length);
  FUZZ_CHECK(table->offset >= table->imageEnd);
  const std::vector<std::uint8_t> start(
      data + table->offset,
      data + std::min<std::int64_t>(length, table->offset + kCertificateHeaderSize));
  FUZZ_CHECK(IsCertificateHeader(start.data(), start.size(), table->size));
  const auto parsed = static_cast<std::int64_t>(headers.size());
  FUZZ_CHECK(table->entryOffset + 8 <= parsed && table->checksumOffset + 4 <= parsed);
  // What unsign rewrites lies in what it keeps.
  FUZZ_CHECK(table->entryOffset + 8 <= table->imageEnd &&
             table->checksumOffset + 4 <= table->imageEnd);
  return table->offset;
}

// Stray bytes are counted for a program only, and with the whole modules
// before them they fill the file from the image's end to where the walk
// began.
void CheckStrayBytes(const WalkResult& walk, std::int64_t modulesEnd) {
  FUZZ_CHECK(walk.strayBytes >= 0);
  if (walk.imageEnd == 0) {
    FUZZ_CHECK(walk.strayBytes == 0);
    return;
  }
  FUZZ_CHECK(walk.imageEnd <= walk.wholeModulesEnd);
  FUZZ_CHECK(walk.wholeModulesEnd + walk.strayBytes + walk.interruptedAppend <= modulesEnd);
  if (walk.strayBytes == 0) FUZZ_CHECK(walk.wholeModules <= walk.modules.size());
}

// The install run's loop: every module of a set, newest first, each search
// starting where the last find lay.  It must end within as many steps as
// the walk has modules.
void WalkSet(const Platform& platform, const PackageRef& package, const char* marker,
             std::size_t modules) {
  std::uint32_t searchEnd = 0;
  for (std::size_t step = 0;; ++step) {
    FUZZ_CHECK(step <= modules);
    std::int32_t offset = 0;
    ModuleRecord record;
    const std::int32_t found =
        FindModule(platform, package, marker, &offset, true, &record, searchEnd);
    if (found <= 0) return;
    FUZZ_CHECK(offset == found);
    FUZZ_CHECK(static_cast<std::uint32_t>(found) < searchEnd || searchEnd == 0);
    searchEnd = static_cast<std::uint32_t>(found);
  }
}

// A name query stops at the newest module whose name begins with it; the
// oldest module's own name always finds one.
void CheckNameLookup(const Platform& platform, const PackageRef& package, const WalkResult& walk) {
  if (walk.modules.empty()) return;
  const std::string& query = walk.modules.back().record.fileName;
  std::int64_t expected = walk.modules.back().contentOffset;
  for (const WalkedModule& module : walk.modules) {
    if (module.record.fileName.rfind(query, 0) == 0) {
      expected = module.contentOffset;
      break;
    }
  }
  const std::int32_t found = FindModule(platform, package, query, nullptr, false, nullptr, 0);
  FUZZ_CHECK(found == static_cast<std::int32_t>(expected));
}

void ExtractEach(const Platform& platform, MemoryFileSystem& files, const PackageRef& package,
                 const WalkResult& walk) {
  std::size_t tried = 0;
  for (const WalkedModule& module : walk.modules) {
    if (tried++ == 3) break;
    if (module.record.contentSize > kLargestExtracted || module.contentOffset > INT32_MAX) continue;
    ExtractReport report;
    const bool extracted =
        ExtractModule(platform, package, kOutPath, static_cast<std::int32_t>(module.contentOffset),
                      module.record.contentSize, win::kAttrNormal, {}, &report);
    const ExtractResult outcome = report.result;
    const ContentState state = CheckModuleContent(platform, package, module);
    FUZZ_CHECK(extracted == (outcome == ExtractResult::Done));
    FUZZ_CHECK((state == ContentState::Damaged) == (outcome == ExtractResult::Damaged));
    if (extracted) {
      const auto* out = files.Get(kOutPath);
      FUZZ_CHECK(out != nullptr && out->size() == module.record.contentSize);
      files.DeleteFile(kOutPath);
    } else {
      FUZZ_CHECK(files.Get(kOutPath) == nullptr);  // no partial file
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemorySystem system;
  MemoryFileSystem files(system);
  QuietPrompts prompts;
  NoRegistry registry;
  const Platform platform{files, system, registry, prompts};
  files.Put(kPackagePath, std::vector<std::uint8_t>(data, data + size));
  const PackageRef package{kPackagePath, kRecordSize};

  const WalkResult walk = WalkModules(platform, package);
  const std::int64_t modulesEnd = CheckSignature(data, size, walk);
  CheckWalk(walk, modulesEnd);
  CheckStrayBytes(walk, modulesEnd);
  FUZZ_CHECK(walk.end != WalkEnd::ReadFailure);

  for (const int family : {win::kVerPlatformWin32Nt, win::kVerPlatformWin32Windows}) {
    system.platformId = family;
    // An empty name query finds the newest module, whichever it is.
    std::int32_t offset = -7;
    const std::int32_t newest = FindModule(platform, package, "", &offset, false, nullptr, 0);
    if (!walk.modules.empty()) {
      const std::int64_t expected = walk.modules.front().contentOffset;
      FUZZ_CHECK(newest == static_cast<std::int32_t>(expected));
      FUZZ_CHECK(newest == 0 ? offset == -7 : offset == newest);
    } else if (walk.end == WalkEnd::ForeignRecord) {
      FUZZ_CHECK(newest == -1);
    } else {
      FUZZ_CHECK(newest <= 0 && offset == -7);
    }
    for (const char* marker : {MarkerOf(PredefinedSet::Ovin), MarkerOf(PredefinedSet::Kestrin),
                               MarkerOf(PredefinedSet::Pellor), kBaseMarker}) {
      WalkSet(platform, package, marker, walk.modules.size());
    }
    CheckNameLookup(platform, package, walk);
  }
  system.platformId = win::kVerPlatformWin32Nt;
  ExtractEach(platform, files, package, walk);

  FUZZ_CHECK(files.OpenCount() == 0);
  FUZZ_CHECK(prompts.depth == 0);
  const auto* after = files.Get(kPackagePath);
  FUZZ_CHECK(after != nullptr && after->size() == size);  // readers never change the package
  return 0;
}
