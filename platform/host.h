// The backends of the machine the program runs on, bundled: the real system
// on Windows, the POSIX simulation elsewhere.  Each backend family defines
// this in its own folder.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace brelvane {

class HostPlatform {
 public:
  virtual ~HostPlatform() = default;
  virtual Platform platform() = 0;
};

}  // namespace brelvane
