#include "platform/win32/win32_registry.h"

#include <windows.h>

#include <vector>

namespace brelvane {
namespace {

// The seam names the predefined roots by their 32-bit values; on 64-bit
// Windows the real handles are those values sign-extended.
HKEY ToHkey(RegKey key) {
  if (key == kHkeyLocalMachine) return HKEY_LOCAL_MACHINE;
  if (key == kHkeyDynData) return HKEY_DYN_DATA;
  return reinterpret_cast<HKEY>(key);
}

}  // namespace

long Win32Registry::OpenKey(RegKey parent, const std::string& subkey, std::uint32_t access,
                            RegKey* out) {
  HKEY opened = nullptr;
  LONG rc = RegOpenKeyExA(ToHkey(parent), subkey.c_str(), 0, access, &opened);
  if (out) *out = rc == ERROR_SUCCESS ? reinterpret_cast<RegKey>(opened) : kNoKey;
  return rc;
}

long Win32Registry::EnumKey(RegKey key, std::uint32_t index, std::size_t name_capacity,
                            std::string* name) {
  if (!name || name_capacity == 0) return ERROR_INVALID_PARAMETER;
  std::vector<char> buffer(name_capacity, '\0');
  DWORD size = static_cast<DWORD>(name_capacity);
  LONG rc =
      RegEnumKeyExA(ToHkey(key), index, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS) name->assign(buffer.data(), size);
  return rc;
}

long Win32Registry::QueryValue(RegKey key, const std::string& name, std::uint32_t* type,
                               std::uint8_t* data, std::uint32_t* size) {
  DWORD value_type = 0;
  DWORD value_size = size ? *size : 0;
  LONG rc = RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &value_type, data,
                             size ? &value_size : nullptr);
  if (type) *type = value_type;
  if (size) *size = value_size;
  return rc;
}

long Win32Registry::CloseKey(RegKey key) { return RegCloseKey(ToHkey(key)); }

}  // namespace brelvane
