// Test support: the platform a test runs on (the host's real backends with
// scripted prompts and an overridable system) and a fresh temporary drive.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/testing/faulty_file_system.h"
#include "platform/testing/scripted_prompts.h"
#include "platform/testing/test_system.h"
#ifdef _WIN32
#include "platform/win32/win32_host.h"
#else
#include "platform/posix/posix_host.h"
#endif

namespace brelvane::testing {

#ifdef _WIN32
using HostBackend = Win32Host;
#else
using HostBackend = PosixHost;
#endif

// A registry with no keys at all: every open fails with "file not found".
class EmptyRegistry : public Registry {
 public:
  long OpenKey(RegKey parent, const std::string& subkey, std::uint32_t access,
               RegKey* out) override;
  long EnumKey(RegKey key, std::uint32_t index, std::size_t name_capacity,
               std::string* name) override;
  long QueryValue(RegKey key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* size) override;
  long CloseKey(RegKey key) override;
};

// The platform of one test: host files behind a FaultyFileSystem (which
// passes everything through until told otherwise), a TestSystem over the
// host system, ScriptedPrompts, and a registry slot (empty until a test plugs
// one in).
class TestPlatform {
 public:
  TestPlatform();
  TestPlatform(const TestPlatform&) = delete;
  TestPlatform& operator=(const TestPlatform&) = delete;

  Platform platform() { return Platform{faults_, system_, *registry_, prompts_}; }
  FileSystem& files() { return faults_; }
  FaultyFileSystem& faults() { return faults_; }
  TestSystem& system() { return system_; }
  ScriptedPrompts& prompts() { return prompts_; }
  Registry& registry() { return *registry_; }
  // The registry must outlive its use here.
  void UseRegistry(Registry& registry) { registry_ = &registry; }
  HostBackend& host() { return host_; }

 private:
  EmptyRegistry empty_registry_;
  Registry* registry_ = &empty_registry_;
  ScriptedPrompts prompts_;
  HostBackend host_{prompts_, empty_registry_};
  TestSystem system_{host_.system()};
  FaultyFileSystem faults_{host_.files(), system_};
};

// A fresh, empty host folder that the test's platform reaches under a Windows
// root: a drive letter mapped onto it in the simulation, the folder itself
// (a real Windows path) on Windows.  Removed, read-only entries included,
// when the test ends.
class TempDrive {
 public:
  explicit TempDrive(TestPlatform& platform, char letter = 'T');
  TempDrive(const TempDrive&) = delete;
  TempDrive& operator=(const TempDrive&) = delete;
  ~TempDrive();

  // The Windows root, with its closing backslash: "T:\" in the simulation.
  const std::string& Root() const { return root_; }
  // True when Root() is a drive's root (no dot entries there).
  bool IsDriveRoot() const;
  // Root() followed by `relative` ("a\\b").
  std::string WinPath(const std::string& relative) const;
  // The same entry as the host names it.
  std::string HostPath(const std::string& relative) const;

  // Host-side access that bypasses the platform under test.
  void WriteHostFile(const std::string& relative, const std::string& bytes) const;
  std::optional<std::string> ReadHostFile(const std::string& relative) const;
  void MakeHostDirectory(const std::string& relative) const;
  bool HostExists(const std::string& relative) const;
  // The names of the entries in a host folder: none for one that is empty
  // or missing.
  std::vector<std::string> ListHost(const std::string& relative) const;

 private:
  TestPlatform& platform_;
  char letter_;
  std::string host_root_;
  std::string root_;
};

// Makes the host entry `host_link` a symbolic link to the host folder or file
// `host_target`.  True only when `files` then reports `win_link` (the same
// entry as the platform names it) as a link; otherwise nothing is left there
// and the caller skips: the host cannot make links the platform sees.
bool MakeHostLink(FileSystem& files, const std::string& host_link, const std::string& win_link,
                  const std::string& host_target);

// How many staging files (common/name_rules.h) lie in a host folder and
// below it.
int StagingFilesIn(const std::string& host_folder);

}  // namespace brelvane::testing
