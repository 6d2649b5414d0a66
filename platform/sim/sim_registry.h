// A registry held in memory and filled from .reg files: the registry of a
// simulated machine.  It answers the seam's read-only calls with the codes
// and buffer rules of the Windows ANSI registry functions.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace brelvane {

class SimRegistry : public Registry {
 public:
  SimRegistry();
  ~SimRegistry() override;
  SimRegistry(const SimRegistry&) = delete;
  SimRegistry& operator=(const SimRegistry&) = delete;

  // Applies a .reg file on top of what is loaded.  A file that cannot be read
  // or holds a malformed line changes nothing: false, with "file:line:
  // reason" in `error`.
  bool LoadFile(const std::string& path, std::string* error);
  // The same for text already in memory; `source` names it in errors.
  bool LoadText(std::string_view text, const std::string& source, std::string* error);

  // Whether access masks bind, as on the NT family (a key opened only to
  // query values cannot list subkeys).  The 9x family has no registry
  // security: every open key can do everything.
  void EnforceAccess(bool enforce) { enforce_access_ = enforce; }

  // Keys opened and not yet closed (the predefined roots never count).
  std::size_t OpenHandleCount() const { return handles_.size(); }

  long OpenKey(RegKey parent, const std::string& subkey, std::uint32_t access,
               RegKey* out) override;
  long EnumKey(RegKey key, std::uint32_t index, std::size_t name_capacity,
               std::string* name) override;
  long QueryValue(RegKey key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* size) override;
  long CloseKey(RegKey key) override;

  struct Node;

 private:
  struct OpenHandle {
    std::shared_ptr<Node> node;
    std::uint32_t access;
  };
  // The node and access behind a handle or a predefined root; null node when
  // the handle is not open.
  OpenHandle Resolve(RegKey key) const;

  std::shared_ptr<Node> local_machine_;
  std::shared_ptr<Node> dyn_data_;
  std::map<RegKey, OpenHandle> handles_;
  RegKey next_handle_ = 0x1000;
  bool enforce_access_ = true;
};

}  // namespace brelvane
