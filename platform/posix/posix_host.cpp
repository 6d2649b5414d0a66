#include "platform/posix/posix_host.h"

namespace brelvane {

PosixHost::PosixHost(Prompts& prompts, Registry& registry)
    : prompts_(prompts), registry_(registry) {}

Platform PosixHost::platform() { return Platform{files_, system_, registry_, prompts_}; }

}  // namespace brelvane
