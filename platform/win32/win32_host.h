// The real Windows machine: files, system services, and the registry and
// prompts the caller brings.
#pragma once

#include "platform/host.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_system.h"

namespace brelvane {

class Win32Host : public HostPlatform {
 public:
  Win32Host(Prompts& prompts, Registry& registry) : prompts_(prompts), registry_(registry) {}
  Win32FileSystem& files() { return files_; }
  Win32System& system() { return system_; }
  Platform platform() override { return Platform{files_, system_, registry_, prompts_}; }

 private:
  Prompts& prompts_;
  Registry& registry_;
  Win32FileSystem files_;
  Win32System system_;
};

}  // namespace brelvane
