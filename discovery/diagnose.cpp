#include "discovery/diagnose.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

#include "common/error_text.h"
#include "discovery/device_tables.h"

namespace brelvane {
namespace {

// Longest key name the recorder asks for (the registry's own limit).
constexpr std::size_t kLongestKeyName = 256;
// A value is first read into this much; a larger one as large as it says.
constexpr std::uint32_t kFirstValueBuffer = 64 * 1024;
constexpr std::size_t kHexBytesPerLine = 24;

struct RecordedValue {
  std::string name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

struct RecordedKey {
  std::string path;  // from the root's name: "HKEY_LOCAL_MACHINE\System\..."
  std::vector<RecordedValue> values;
};

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && AnsiLower(a) == AnsiLower(b);
}

// A key's path as a key line writes it: below `parent`, its names joined by
// one backslash each (a doubled, leading or trailing one names no key).
std::string Below(const std::string& parent, const std::string& subkey) {
  std::string path = parent;
  std::size_t start = 0;
  while (start <= subkey.size()) {
    const std::size_t end = std::min(subkey.find('\\', start), subkey.size());
    if (end > start) {
      path += '\\';
      path.append(subkey, start, end - start);
    }
    start = end + 1;
  }
  return path;
}

bool HoldsControls(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

// A registry that passes every call on and keeps what came back: the keys
// that opened or were listed, in the order they were first met (the order a
// list hands them out, which the simulation keeps), and every value read.
class RecordingRegistry : public Registry {
 public:
  explicit RecordingRegistry(Registry& inner) : inner_(inner) {
    paths_[kHkeyLocalMachine] = "HKEY_LOCAL_MACHINE";
    paths_[kHkeyDynData] = "HKEY_DYN_DATA";
  }

  long OpenKey(RegKey parent, const std::string& subkey, std::uint32_t access,
               RegKey* out) override {
    const long rc = inner_.OpenKey(parent, subkey, access, out);
    const auto at = paths_.find(parent);
    if (rc == win::kErrorSuccess && at != paths_.end()) {
      const std::string path = Below(at->second, subkey);
      paths_[*out] = path;
      KeyAt(path);
    }
    return rc;
  }

  long EnumKey(RegKey key, std::uint32_t index, std::size_t name_capacity,
               std::string* name) override {
    const long rc = inner_.EnumKey(key, index, name_capacity, name);
    // The whole name, even where the caller's buffer was too small for it.
    std::string whole;
    const auto at = paths_.find(key);
    if (at != paths_.end() &&
        inner_.EnumKey(key, index, kLongestKeyName, &whole) == win::kErrorSuccess)
      KeyAt(Below(at->second, whole));
    return rc;
  }

  long QueryValue(RegKey key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* size) override {
    const long rc = inner_.QueryValue(key, name, type, data, size);
    const auto at = paths_.find(key);
    if (at != paths_.end() && (rc == win::kErrorSuccess || rc == win::kErrorMoreData)) {
      if (std::optional<RecordedValue> value = WholeValue(key, name))
        Keep(KeyAt(at->second), std::move(*value));
    }
    return rc;
  }

  long CloseKey(RegKey key) override {
    paths_.erase(key);
    return inner_.CloseKey(key);
  }

  const std::vector<RecordedKey>& keys() const { return keys_; }

 private:
  RecordedKey& KeyAt(const std::string& path) {
    for (RecordedKey& key : keys_)
      if (SameName(key.path, path)) return key;
    keys_.push_back({path, {}});
    return keys_.back();
  }

  static void Keep(RecordedKey& key, RecordedValue value) {
    for (RecordedValue& kept : key.values) {
      if (SameName(kept.name, value.name)) {
        kept = std::move(value);
        return;
      }
    }
    key.values.push_back(std::move(value));
  }

  std::optional<RecordedValue> WholeValue(RegKey key, const std::string& name) {
    RecordedValue value{name, 0, std::vector<std::uint8_t>(kFirstValueBuffer)};
    for (int attempt = 0; attempt < 2; ++attempt) {
      auto size = static_cast<std::uint32_t>(value.data.size());
      const long rc = inner_.QueryValue(key, name, &value.type, value.data.data(), &size);
      if (rc == win::kErrorSuccess) {
        value.data.resize(size);
        return value;
      }
      if (rc != win::kErrorMoreData || size <= value.data.size()) break;
      value.data.resize(size);
    }
    return std::nullopt;
  }

  Registry& inner_;
  std::map<RegKey, std::string> paths_;
  std::vector<RecordedKey> keys_;
};

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

bool IsPlainText(const std::vector<std::uint8_t>& data) {
  if (data.empty() || data.back() != 0) return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] < 0x20 || data[i] == 0x7F) return false;
  return true;
}

bool IsTextType(std::uint32_t type) {
  return type == win::kRegSz || type == win::kRegExpandSz || type == win::kRegMultiSz;
}

// "hex(7):..." wrapped as regedit wraps it.  A version 5 file keeps text
// types as UTF-16LE, which the simulation narrows back to these bytes.
std::string HexValue(const std::string& lead, std::uint32_t type,
                     const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> data;
  if (IsTextType(type)) {
    for (std::uint8_t byte : bytes) data.insert(data.end(), {byte, 0});
  } else {
    data = bytes;
  }
  char tag[16];
  if (type == win::kRegBinary) std::snprintf(tag, sizeof tag, "hex:");
  else std::snprintf(tag, sizeof tag, "hex(%x):", type);
  std::string out = lead + tag;
  for (std::size_t i = 0; i < data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    out += byte;
    if (i + 1 < data.size()) out += (i + 1) % kHexBytesPerLine == 0 ? ",\\\r\n  " : ",";
  }
  return out;
}

std::string ValueLine(const RecordedValue& value) {
  const std::string lead = (value.name.empty() ? std::string("@") : Quoted(value.name)) + "=";
  if (value.type == win::kRegSz && IsPlainText(value.data))
    return lead + Quoted(std::string(value.data.begin(), value.data.end() - 1));
  if (value.type == win::kRegDword && value.data.size() == 4) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "dword:%02x%02x%02x%02x", value.data[3], value.data[2],
                  value.data[1], value.data[0]);
    return lead + digits;
  }
  return HexValue(lead, value.type, value.data);
}

std::string StorageLine(char letter, const VolumeStorage& storage) {
  std::string bus = std::to_string(storage.bus_type);
  for (const win::BusName& name : win::kBusNames)
    if (name.type == storage.bus_type) bus = name.name;
  std::string line = std::string("; @storage ") + letter + " bus=" + bus +
                     " disk=" + std::to_string(storage.disk_number);
  if (storage.partition_offset) {
    char offset[24];
    std::snprintf(offset, sizeof offset, " offset=0x%llx",
                  static_cast<unsigned long long>(*storage.partition_offset));
    line += offset;
  }
  // A device's own strings may hold anything: a line break would begin a
  // setting of its own, so control characters are written as '?'.
  auto plain = [](std::string text) {
    for (char& c : text)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return Quoted(text);
  };
  if (!storage.vendor.empty()) line += " vendor=" + plain(storage.vendor);
  if (!storage.product.empty()) line += " product=" + plain(storage.product);
  return line;
}

// The settings lines: what the machine says of itself beside its registry.
std::string SettingsLines(System& system) {
  std::string lines = "; @drives";
  const std::uint32_t drives = system.LogicalDrives();
  for (char letter = 'A'; letter <= 'Z'; ++letter)
    if ((drives >> (letter - 'A')) & 1u) lines += std::string(" ") + letter;
  lines += std::string("\r\n; @family ") + (IsNtPlatform(system) ? "nt" : "9x") + "\r\n";
  if (std::optional<std::string> directory = system.CurrentDirectory();
      directory && !directory->empty() && directory->find_first_of("\r\n") == std::string::npos)
    lines += "; @cwd " + *directory + "\r\n";
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    if (!((drives >> (letter - 'A')) & 1u)) continue;
    if (std::optional<VolumeStorage> storage = system.QueryVolumeStorage(letter))
      lines += StorageLine(letter, *storage) + "\r\n";
  }
  return lines;
}

}  // namespace

std::string MachineFileUtf16(const std::string& text) {
  std::string out = "\xFF\xFE";
  out.reserve(2 + 2 * text.size());
  for (char c : text) {
    out += c;
    out += '\0';
  }
  return out;
}

Diagnosis DiagnoseDiscovery(const Platform& platform) {
  RecordingRegistry recorder(platform.registry);
  const Platform recorded{platform.files, platform.system, recorder, platform.prompts};
  Diagnosis diagnosis;
  diagnosis.letter = FindTargetDrive(recorded, &diagnosis.model, &diagnosis.report);

  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "; What the installer's drive discovery read on this machine, written by\r\n"
      "; /diagnose.  It holds the USB devices' serial numbers and was sent\r\n"
      "; nowhere.  brelvane-sim --machine FILE replays it.  Each byte of a\r\n"
      "; registry string is one UTF-16 unit here, so the simulation reads the\r\n"
      "; very bytes back: do not import this file into a registry.\r\n";
  text += SettingsLines(platform.system);
  for (const RecordedKey& key : recorder.keys()) {
    // A name that holds a line break cannot be written as a key line.
    if (HoldsControls(key.path)) {
      text += "\r\n; A key whose name holds control characters is left out.\r\n";
      ++diagnosis.keysLeftOut;
      continue;
    }
    text += "\r\n[" + key.path + "]\r\n";
    for (const RecordedValue& value : key.values) text += ValueLine(value) + "\r\n";
  }
  text += "\r\n; What discovery saw and why it decided:\r\n";
  for (const std::string& line : diagnosis.report.lines) text += "; " + line + "\r\n";
  diagnosis.file = MachineFileUtf16(text);
  return diagnosis;
}

}  // namespace brelvane
