// The machine oempack runs on: the host's files and system, console prompts,
// and no registry (the builder never reads it).
#pragma once

#include <memory>

#include "platform/platform.h"

namespace brelvane::oempack {

class Host {
 public:
  virtual ~Host() = default;
  virtual Platform platform() = 0;
};

std::unique_ptr<Host> MakeHost();

}  // namespace brelvane::oempack
