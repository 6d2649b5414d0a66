// The seam's registry on the real Windows registry (advapi32, ANSI calls).
#pragma once

#include "platform/platform.h"

namespace brelvane {

class Win32Registry : public Registry {
 public:
  long OpenKey(RegKey parent, const std::string& subkey, std::uint32_t access,
               RegKey* out) override;
  long EnumKey(RegKey key, std::uint32_t index, std::size_t name_capacity,
               std::string* name) override;
  long QueryValue(RegKey key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* size) override;
  long CloseKey(RegKey key) override;
};

}  // namespace brelvane
