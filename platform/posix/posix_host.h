// The POSIX simulation of the machine: files through a drive map, the
// simulated system services, and the registry and prompts the caller brings.
#pragma once

#include "platform/host.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_system.h"

namespace brelvane {

class PosixHost : public HostPlatform {
 public:
  PosixHost(Prompts& prompts, Registry& registry);
  PosixFileSystem& files() { return files_; }
  PosixSystem& system() { return system_; }
  Platform platform() override;

 private:
  Prompts& prompts_;
  Registry& registry_;
  PosixFileSystem files_;
  PosixSystem system_{files_};
};

}  // namespace brelvane
