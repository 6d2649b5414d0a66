#include "platform/sim/sim_registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/sim/reg_file.h"

namespace brelvane {

namespace {
constexpr long kErrorKeyDeleted = 1018;
}

struct SimRegistry::Node {
  struct Value {
    std::string name;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
  };
  std::string name;
  // Subkeys in the order they were first named.
  std::vector<std::shared_ptr<Node>> children;
  std::vector<Value> values;
  // Set when the key is removed while somebody may still hold a handle to it.
  bool deleted = false;
};

namespace {

using Node = SimRegistry::Node;

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::shared_ptr<Node> FindChild(const Node& node, std::string_view name) {
  for (const auto& child : node.children)
    if (SameName(child->name, name)) return child;
  return nullptr;
}

std::shared_ptr<Node> FindOrAddChild(Node& node, const std::string& name) {
  if (auto child = FindChild(node, name)) return child;
  auto child = std::make_shared<Node>();
  child->name = name;
  node.children.push_back(child);
  return child;
}

void MarkDeleted(Node& node) {
  node.deleted = true;
  for (auto& child : node.children) MarkDeleted(*child);
}

Node::Value* FindValue(Node& node, std::string_view name) {
  for (auto& value : node.values)
    if (SameName(value.name, name)) return &value;
  return nullptr;
}

// The key names of a subkey path; a trailing backslash is allowed, an empty
// name anywhere else makes the path invalid.
bool SplitSubkey(const std::string& subkey, std::vector<std::string>* parts) {
  std::size_t start = 0;
  while (start < subkey.size()) {
    std::size_t slash = subkey.find('\\', start);
    if (slash == start) return false;
    if (slash == std::string::npos) slash = subkey.size();
    parts->push_back(subkey.substr(start, slash - start));
    start = slash + 1;
  }
  return true;
}

}  // namespace

SimRegistry::SimRegistry()
    : local_machine_(std::make_shared<Node>()), dyn_data_(std::make_shared<Node>()) {
  local_machine_->name = "HKEY_LOCAL_MACHINE";
  dyn_data_->name = "HKEY_DYN_DATA";
}

SimRegistry::~SimRegistry() = default;

bool SimRegistry::LoadFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = path + ": cannot be read";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return LoadText(text.str(), path, error);
}

bool SimRegistry::LoadText(std::string_view text, const std::string& source, std::string* error) {
  sim::RegParseResult parsed = sim::ParseRegFile(text, source);
  if (!parsed.ok) {
    if (error) *error = parsed.error;
    return false;
  }
  for (const sim::RegEdit& edit : parsed.edits) {
    Node* node = edit.root == "HKEY_DYN_DATA" ? dyn_data_.get() : local_machine_.get();
    if (edit.kind == sim::RegEdit::Kind::DeleteKey) {
      for (std::size_t i = 0; node && i + 1 < edit.path.size(); ++i)
        node = FindChild(*node, edit.path[i]).get();
      if (!node || edit.path.empty()) continue;  // a root itself cannot go
      auto& kids = node->children;
      auto it = std::find_if(kids.begin(), kids.end(),
                             [&](const auto& c) { return SameName(c->name, edit.path.back()); });
      if (it != kids.end()) {
        MarkDeleted(**it);
        kids.erase(it);
      }
      continue;
    }
    for (const std::string& part : edit.path) node = FindOrAddChild(*node, part).get();
    if (edit.kind == sim::RegEdit::Kind::SetValue) {
      if (Node::Value* value = FindValue(*node, edit.value_name)) {
        value->type = edit.type;
        value->data = edit.data;
      } else {
        node->values.push_back({edit.value_name, edit.type, edit.data});
      }
    } else if (edit.kind == sim::RegEdit::Kind::DeleteValue) {
      auto& values = node->values;
      std::erase_if(values,
                    [&](const Node::Value& v) { return SameName(v.name, edit.value_name); });
    }
  }
  return true;
}

SimRegistry::OpenHandle SimRegistry::Resolve(RegKey key) const {
  constexpr std::uint32_t kAllAccess = 0xF003F;
  if (key == kHkeyLocalMachine) return {local_machine_, kAllAccess};
  if (key == kHkeyDynData) return {dyn_data_, kAllAccess};
  auto it = handles_.find(key);
  if (it == handles_.end()) return {nullptr, 0};
  return it->second;
}

long SimRegistry::OpenKey(RegKey parent, const std::string& subkey, std::uint32_t access,
                          RegKey* out) {
  if (!out) return win::kErrorInvalidParameter;
  *out = kNoKey;
  OpenHandle from = Resolve(parent);
  if (!from.node) return win::kErrorInvalidHandle;
  if (from.node->deleted) return kErrorKeyDeleted;
  std::vector<std::string> parts;
  if (!SplitSubkey(subkey, &parts)) return win::kErrorFileNotFound;
  std::shared_ptr<Node> node = from.node;
  for (const std::string& part : parts) {
    node = FindChild(*node, part);
    if (!node) return win::kErrorFileNotFound;
  }
  RegKey handle = next_handle_;
  next_handle_ += 4;
  handles_[handle] = {node, access};
  *out = handle;
  return win::kErrorSuccess;
}

long SimRegistry::EnumKey(RegKey key, std::uint32_t index, std::size_t name_capacity,
                          std::string* name) {
  OpenHandle open = Resolve(key);
  if (!open.node) return win::kErrorInvalidHandle;
  if (!name) return win::kErrorInvalidParameter;
  if (enforce_access_ && !(open.access & win::kKeyEnumerateSubKeys)) return win::kErrorAccessDenied;
  if (open.node->deleted) return kErrorKeyDeleted;
  if (index >= open.node->children.size()) return win::kErrorNoMoreItems;
  const std::string& found = open.node->children[index]->name;
  // The caller's buffer must hold the name and its terminating zero.
  if (found.size() + 1 > name_capacity) return win::kErrorMoreData;
  *name = found;
  return win::kErrorSuccess;
}

long SimRegistry::QueryValue(RegKey key, const std::string& name, std::uint32_t* type,
                             std::uint8_t* data, std::uint32_t* size) {
  OpenHandle open = Resolve(key);
  if (!open.node) return win::kErrorInvalidHandle;
  if (data && !size) return win::kErrorInvalidParameter;
  if (enforce_access_ && !(open.access & win::kKeyQueryValue)) return win::kErrorAccessDenied;
  if (open.node->deleted) return kErrorKeyDeleted;
  const Node::Value* value = FindValue(*open.node, name);
  if (!value) return win::kErrorFileNotFound;
  if (type) *type = value->type;
  auto needed = static_cast<std::uint32_t>(value->data.size());
  if (data && *size < needed) {
    *size = needed;
    return win::kErrorMoreData;
  }
  if (data && needed) std::memcpy(data, value->data.data(), needed);
  if (size) *size = needed;
  return win::kErrorSuccess;
}

long SimRegistry::CloseKey(RegKey key) {
  if (key == kHkeyLocalMachine || key == kHkeyDynData) return win::kErrorSuccess;
  return handles_.erase(key) ? win::kErrorSuccess : win::kErrorInvalidHandle;
}

}  // namespace brelvane
