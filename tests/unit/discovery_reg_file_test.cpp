// The simulated registry and the .reg text it is loaded from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/machine_settings.h"
#include "platform/sim/sim_registry.h"

namespace brelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes BytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

// UTF-16LE with byte-order mark, from ASCII text.
std::string Utf16File(std::string_view ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

struct ValueRead {
  long rc = -1;
  std::uint32_t type = 0;
  Bytes data;
};

// Reads a value through a fresh handle, closing it again.
ValueRead Read(SimRegistry& reg, RegKey root, const std::string& key, const std::string& name) {
  ValueRead out;
  RegKey k = kNoKey;
  out.rc = reg.OpenKey(root, key, win::kKeyRead, &k);
  if (out.rc != 0) return out;
  Bytes buffer(1024);
  std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
  out.rc = reg.QueryValue(k, name, &out.type, buffer.data(), &size);
  if (out.rc == 0) out.data.assign(buffer.begin(), buffer.begin() + size);
  reg.CloseKey(k);
  return out;
}

struct DataCase {
  const char* what;
  std::string file;
  RegKey root;
  const char* key;
  const char* value;
  std::uint32_t type;
  Bytes data;
};

TEST(SimRegistryLoad, ValueDataIsReadBackAsTheAnsiCallsDeliverIt) {
  const std::string v4 = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Soft\\A]\n";
  const std::string v5 = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Soft\\A]\n";
  const DataCase cases[] = {
      {"string with escapes", v4 + "\"s\"=\"x\\\\y\\\"z\"\n", kHkeyLocalMachine, "Soft\\A", "s",
       win::kRegSz, BytesOf(std::string("x\\y\"z\0", 6))},
      {"empty string keeps its zero", v4 + "\"s\"=\"\"\n", kHkeyLocalMachine, "Soft\\A", "s",
       win::kRegSz, Bytes{0}},
      {"dword little-endian", v4 + "\"d\"=dword:0000012c\n", kHkeyLocalMachine, "Soft\\A", "d",
       win::kRegDword, Bytes{0x2c, 0x01, 0, 0}},
      {"dword upper-case prefix and digits", v4 + "\"d\"=DWORD:ABCDEF01\n", kHkeyLocalMachine,
       "Soft\\A", "d", win::kRegDword, Bytes{0x01, 0xef, 0xcd, 0xab}},
      {"binary", v4 + "\"b\"=hex:01,ff,00\n", kHkeyLocalMachine, "Soft\\A", "b", win::kRegBinary,
       Bytes{1, 0xff, 0}},
      {"binary continued over lines", v4 + "\"b\"=hex:01,02,\\\n  03,\\\n  04\n", kHkeyLocalMachine,
       "Soft\\A", "b", win::kRegBinary, Bytes{1, 2, 3, 4}},
      {"empty binary", v4 + "\"b\"=hex:\n", kHkeyLocalMachine, "Soft\\A", "b", win::kRegBinary,
       Bytes{}},
      {"typed hex keeps its type", v4 + "\"n\"=hex(0):05\n", kHkeyLocalMachine, "Soft\\A", "n",
       win::kRegNone, Bytes{5}},
      {"REGEDIT4 expand string is ANSI", v4 + "\"e\"=hex(2):41,42,00\n", kHkeyLocalMachine,
       "Soft\\A", "e", win::kRegExpandSz, BytesOf(std::string("AB\0", 3))},
      {"version 5 expand string is UTF-16", v5 + "\"e\"=hex(2):41,00,42,00,00,00\n",
       kHkeyLocalMachine, "Soft\\A", "e", win::kRegExpandSz, BytesOf(std::string("AB\0", 3))},
      {"version 5 multi-string", v5 + "\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\n",
       kHkeyLocalMachine, "Soft\\A", "m", win::kRegMultiSz, BytesOf(std::string("a\0b\0\0", 5))},
      {"default value", v4 + "@=\"def\"\n", kHkeyLocalMachine, "Soft\\A", "", win::kRegSz,
       BytesOf(std::string("def\0", 4))},
      {"CRLF line ends", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Soft\\A]\r\n\"s\"=\"v\"\r\n",
       kHkeyLocalMachine, "Soft\\A", "s", win::kRegSz, BytesOf(std::string("v\0", 2))},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF" + v4 + "\"s\"=\"v\"\n", kHkeyLocalMachine, "Soft\\A",
       "s", win::kRegSz, BytesOf(std::string("v\0", 2))},
      {"UTF-16LE file", Utf16File(v5 + "\"s\"=\"v\"\r\n"), kHkeyLocalMachine, "Soft\\A", "s",
       win::kRegSz, BytesOf(std::string("v\0", 2))},
      {"dynamic data root", "REGEDIT4\n[HKEY_DYN_DATA\\Config Manager\\Enum\\X]\n\"h\"=\"k\"\n",
       kHkeyDynData, "Config Manager\\Enum\\X", "h", win::kRegSz, BytesOf(std::string("k\0", 2))},
      {"names ignore letter case", v4 + "\"HardWareKey\"=\"k\"\n", kHkeyLocalMachine, "SOFT\\a",
       "hardwarekey", win::kRegSz, BytesOf(std::string("k\0", 2))},
      {"root name in lower case", "REGEDIT4\n[hkey_local_machine\\Soft\\A]\n\"s\"=\"v\"\n",
       kHkeyLocalMachine, "Soft\\A", "s", win::kRegSz, BytesOf(std::string("v\0", 2))},
      {"later line replaces a value", v4 + "\"s\"=\"one\"\n\"S\"=dword:00000002\n",
       kHkeyLocalMachine, "Soft\\A", "s", win::kRegDword, Bytes{2, 0, 0, 0}},
      {"comment after data", v4 + "\"d\"=dword:00000007 ; seven\n", kHkeyLocalMachine, "Soft\\A",
       "d", win::kRegDword, Bytes{7, 0, 0, 0}},
  };
  for (const DataCase& c : cases) {
    SCOPED_TRACE(c.what);
    SimRegistry reg;
    std::string error;
    ASSERT_TRUE(reg.LoadText(c.file, "t.reg", &error)) << error;
    ValueRead got = Read(reg, c.root, c.key, c.value);
    ASSERT_EQ(got.rc, 0);
    EXPECT_EQ(got.type, c.type);
    EXPECT_EQ(got.data, c.data);
    EXPECT_EQ(reg.OpenHandleCount(), 0u);
  }
}

struct MalformedCase {
  const char* what;
  std::string file;
  const char* where;  // "t.reg:N:"
};

TEST(SimRegistryLoad, MalformedLineNamesFileAndLineAndLoadsNothing) {
  const std::string head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Good]\n\"v\"=\"1\"\n";  // lines 1-4
  const MalformedCase cases[] = {
      {"no header", "[HKEY_LOCAL_MACHINE\\Good]\n", "t.reg:1:"},
      {"unknown header", "REGEDIT5\n", "t.reg:1:"},
      {"empty file", "", "t.reg:1:"},
      {"abbreviated root", head + "[HKLM\\Soft]\n", "t.reg:5:"},
      {"root not modelled", head + "[HKEY_CURRENT_USER\\Soft]\n", "t.reg:5:"},
      {"key without closing bracket", head + "[HKEY_LOCAL_MACHINE\\Soft\n", "t.reg:5:"},
      {"empty key name", head + "[HKEY_LOCAL_MACHINE\\\\Soft]\n", "t.reg:5:"},
      {"text after key", head + "[HKEY_LOCAL_MACHINE\\Soft] x\n", "t.reg:5:"},
      {"value before any key", "REGEDIT4\n\"v\"=\"1\"\n", "t.reg:2:"},
      {"value below a deleted key", head + "[-HKEY_LOCAL_MACHINE\\Soft]\n\"v\"=\"1\"\n",
       "t.reg:6:"},
      {"unknown escape", head + "\"v\"=\"a\\n\"\n", "t.reg:5:"},
      {"unterminated string", head + "\"v\"=\"abc\n", "t.reg:5:"},
      {"unterminated name", head + "\"v=\"abc\"\n", "t.reg:5:"},
      {"no equals sign", head + "\"v\" \"abc\"\n", "t.reg:5:"},
      {"text after string", head + "\"v\"=\"abc\" x\n", "t.reg:5:"},
      {"dword too long", head + "\"v\"=dword:123456789\n", "t.reg:5:"},
      {"dword without digits", head + "\"v\"=dword:\n", "t.reg:5:"},
      {"dword with junk", head + "\"v\"=dword:12x\n", "t.reg:5:"},
      {"single hex digit", head + "\"v\"=hex:1,02\n", "t.reg:5:"},
      {"hex without colon", head + "\"v\"=hex 01\n", "t.reg:5:"},
      {"bad hex type", head + "\"v\"=hex(z):01\n", "t.reg:5:"},
      {"unknown data", head + "\"v\"=word:1\n", "t.reg:5:"},
      {"stray line", head + "Count=1\n", "t.reg:5:"},
      {"error inside a continued value names its first line", head + "\"v\"=hex:01,\\\n  zz\n",
       "t.reg:5:"},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.what);
    SimRegistry reg;
    ASSERT_TRUE(reg.LoadText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Before]\n", "before.reg", nullptr));
    std::string error;
    EXPECT_FALSE(reg.LoadText(c.file, "t.reg", &error));
    EXPECT_EQ(error.rfind(c.where, 0), 0u) << error;
    RegKey k = kNoKey;
    EXPECT_EQ(reg.OpenKey(kHkeyLocalMachine, "Good", win::kKeyRead, &k), win::kErrorFileNotFound);
    ASSERT_EQ(reg.OpenKey(kHkeyLocalMachine, "Before", win::kKeyRead, &k), 0)
        << "what was loaded before must stay";
    reg.CloseKey(k);
  }
}

TEST(SimRegistryLoad, MissingFileIsAnError) {
  SimRegistry reg;
  std::string error;
  EXPECT_FALSE(reg.LoadFile("/nonexistent/machine.reg", &error));
  EXPECT_NE(error.find("/nonexistent/machine.reg"), std::string::npos);
}

TEST(SimRegistryLoad, DeletionsRemoveValuesAndWholeKeys) {
  SimRegistry reg;
  std::string error;
  ASSERT_TRUE(
      reg.LoadText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"v\"=\"1\"\n\"w\"=\"2\"\n"
                   "[HKEY_LOCAL_MACHINE\\A\\D]\n\"x\"=\"3\"\n",
                   "one.reg", &error))
      << error;
  ASSERT_TRUE(
      reg.LoadText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"v\"=-\n[-HKEY_LOCAL_MACHINE\\a\\d]\n"
                   "[-HKEY_LOCAL_MACHINE\\Never\\There]\n",
                   "two.reg", &error))
      << error;
  EXPECT_EQ(Read(reg, kHkeyLocalMachine, "A\\B\\C", "v").rc, win::kErrorFileNotFound);
  EXPECT_EQ(Read(reg, kHkeyLocalMachine, "A\\B\\C", "w").rc, 0);
  EXPECT_EQ(Read(reg, kHkeyLocalMachine, "A\\D", "x").rc, win::kErrorFileNotFound);
  RegKey a = kNoKey;
  ASSERT_EQ(reg.OpenKey(kHkeyLocalMachine, "A", win::kKeyRead, &a), 0);
  std::string name;
  EXPECT_EQ(reg.EnumKey(a, 0, 260, &name), 0);
  EXPECT_EQ(name, "B");
  EXPECT_EQ(reg.EnumKey(a, 1, 260, &name), win::kErrorNoMoreItems);
  reg.CloseKey(a);
}

TEST(SimRegistryLoad, KeyDeletedUnderAnOpenHandleFailsCleanly) {
  SimRegistry reg;
  ASSERT_TRUE(
      reg.LoadText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=\"1\"\n", "a.reg", nullptr));
  RegKey b = kNoKey;
  ASSERT_EQ(reg.OpenKey(kHkeyLocalMachine, "A\\B", win::kKeyRead, &b), 0);
  ASSERT_TRUE(reg.LoadText("REGEDIT4\n[-HKEY_LOCAL_MACHINE\\A]\n", "b.reg", nullptr));
  std::uint8_t data[8];
  std::uint32_t size = sizeof data;
  EXPECT_NE(reg.QueryValue(b, "v", nullptr, data, &size), 0);
  std::string name;
  EXPECT_NE(reg.EnumKey(b, 0, 260, &name), 0);
  EXPECT_EQ(reg.CloseKey(b), 0);
}

TEST(SimRegistryEnum, SubkeysComeInTheOrderTheFileFirstNamesThem) {
  SimRegistry reg;
  std::string error;
  ASSERT_TRUE(
      reg.LoadText("REGEDIT4\n[HKEY_DYN_DATA\\L\\zeta]\n[HKEY_DYN_DATA\\L\\Alpha\\deep]\n"
                   "[HKEY_DYN_DATA\\L\\mid]\n[HKEY_DYN_DATA\\L\\ZETA]\n\"again\"=\"1\"\n",
                   "order.reg", &error))
      << error;
  RegKey list = kNoKey;
  ASSERT_EQ(reg.OpenKey(kHkeyDynData, "L", win::kKeyRead, &list), 0);
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0; reg.EnumKey(list, i, 260, &name) == 0; ++i) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"zeta", "Alpha", "mid"}));
  reg.CloseKey(list);
}

struct EnumCase {
  const char* what;
  std::uint32_t index;
  std::size_t capacity;
  long rc;
  const char* name;
};

TEST(SimRegistryEnum, NameBufferAndIndexLimits) {
  SimRegistry reg;
  ASSERT_TRUE(reg.LoadText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\L\\abcd]\n[HKEY_LOCAL_MACHINE\\L\\x]\n",
                           "e.reg", nullptr));
  const EnumCase cases[] = {
      {"name and zero fit exactly", 0, 5, 0, "abcd"},
      {"no room for the zero", 0, 4, win::kErrorMoreData, ""},
      {"second key", 1, 2, 0, "x"},
      {"past the end", 2, 260, win::kErrorNoMoreItems, ""},
  };
  RegKey list = kNoKey;
  ASSERT_EQ(reg.OpenKey(kHkeyLocalMachine, "L", win::kKeyRead, &list), 0);
  for (const EnumCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string name;
    EXPECT_EQ(reg.EnumKey(list, c.index, c.capacity, &name), c.rc);
    EXPECT_EQ(name, c.name);
  }
  reg.CloseKey(list);
}

struct QueryCase {
  const char* what;
  const char* value;
  bool with_buffer;
  std::uint32_t size_in;
  long rc;
  std::uint32_t size_out;
};

TEST(SimRegistryQuery, DataBufferSizeRules) {
  SimRegistry reg;
  ASSERT_TRUE(reg.LoadText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"s\"=\"abc\"\n\"b\"=hex:01,02\n",
                           "q.reg", nullptr));
  const QueryCase cases[] = {
      {"string fits with its zero", "s", true, 4, 0, 4},
      {"no room for the zero", "s", true, 3, win::kErrorMoreData, 4},
      {"larger buffer reports the data size", "b", true, 100, 0, 2},
      {"size asked without a buffer", "s", false, 0, 0, 4},
      {"missing value", "nope", true, 100, win::kErrorFileNotFound, 100},
      {"missing default value", "", true, 100, win::kErrorFileNotFound, 100},
  };
  RegKey k = kNoKey;
  ASSERT_EQ(reg.OpenKey(kHkeyLocalMachine, "K", win::kKeyRead, &k), 0);
  for (const QueryCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::uint8_t buffer[100] = {};
    std::uint32_t size = c.size_in;
    std::uint32_t type = 99;
    EXPECT_EQ(reg.QueryValue(k, c.value, &type, c.with_buffer ? buffer : nullptr, &size), c.rc);
    EXPECT_EQ(size, c.size_out);
    if (c.rc == 0 && c.value == std::string("s") && c.with_buffer) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), std::string("abc\0", 4));
    }
  }
  reg.CloseKey(k);
}

TEST(SimRegistryHandles, AccessMasksAndHandleBookkeeping) {
  SimRegistry reg;
  ASSERT_TRUE(
      reg.LoadText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\K\\Sub]\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"1\"\n",
                   "h.reg", nullptr));
  std::string name;
  std::uint8_t data[8];
  std::uint32_t size = sizeof data;

  RegKey query_only = kNoKey, enum_only = kNoKey, read = kNoKey;
  ASSERT_EQ(reg.OpenKey(kHkeyLocalMachine, "K", win::kKeyQueryValue, &query_only), 0);
  ASSERT_EQ(reg.OpenKey(kHkeyLocalMachine, "k", win::kKeyEnumerateSubKeys, &enum_only), 0);
  ASSERT_EQ(reg.OpenKey(kHkeyLocalMachine, "K\\", win::kKeyRead, &read), 0);
  EXPECT_EQ(reg.OpenHandleCount(), 3u);
  EXPECT_NE(query_only, enum_only);

  EXPECT_EQ(reg.EnumKey(query_only, 0, 260, &name), win::kErrorAccessDenied);
  EXPECT_EQ(reg.QueryValue(query_only, "v", nullptr, data, &size), 0);
  size = sizeof data;
  EXPECT_EQ(reg.QueryValue(enum_only, "v", nullptr, data, &size), win::kErrorAccessDenied);
  EXPECT_EQ(reg.EnumKey(enum_only, 0, 260, &name), 0);
  EXPECT_EQ(reg.EnumKey(read, 0, 260, &name), 0);
  reg.EnforceAccess(false);  // the 9x family
  EXPECT_EQ(reg.EnumKey(query_only, 0, 260, &name), 0);
  size = sizeof data;
  EXPECT_EQ(reg.QueryValue(enum_only, "v", nullptr, data, &size), 0);
  reg.EnforceAccess(true);

  RegKey missing = 123;
  EXPECT_EQ(reg.OpenKey(kHkeyLocalMachine, "K\\Nope", win::kKeyRead, &missing),
            win::kErrorFileNotFound);
  EXPECT_EQ(missing, kNoKey);
  EXPECT_EQ(reg.OpenKey(kHkeyLocalMachine, "\\K", win::kKeyRead, &missing),
            win::kErrorFileNotFound);
  EXPECT_EQ(reg.OpenHandleCount(), 3u);

  EXPECT_EQ(reg.CloseKey(query_only), 0);
  EXPECT_EQ(reg.CloseKey(query_only), win::kErrorInvalidHandle);
  EXPECT_EQ(reg.EnumKey(query_only, 0, 260, &name), win::kErrorInvalidHandle);
  EXPECT_EQ(reg.OpenKey(query_only, "Sub", win::kKeyRead, &missing), win::kErrorInvalidHandle);
  EXPECT_EQ(reg.CloseKey(kHkeyLocalMachine), 0);
  reg.CloseKey(enum_only);
  reg.CloseKey(read);
  EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

struct SettingsCase {
  const char* what;
  std::string text;
  const char* drives;
  int platform_id;
  const char* cwd;
  const char* error;  // prefix, "" for none
};

TEST(MachineSettingsParse, CommentSettingsAndTheirErrors) {
  const SettingsCase cases[] = {
      {"defaults", "REGEDIT4\n", "C", 2, "C:\\", ""},
      {"all three", "REGEDIT4\n; @drives F e\n; @family 9x\n; @cwd E:\\setup\n", "CEF", 1,
       "E:\\setup", ""},
      {"commas, repeats and C", "REGEDIT4\r\n;@drives g,C,G\r\n", "CG", 2, "C:\\", ""},
      {"ordinary comments ignored", "REGEDIT4\n; drives X\n; @family nt\n", "C", 2, "C:\\", ""},
      {"bad family", "REGEDIT4\n; @family 95\n", "C", 2, "C:\\", "m.reg:2:"},
      {"bad drive", "REGEDIT4\n\n; @drives E 1\n", "C", 2, "C:\\", "m.reg:3:"},
      {"unknown setting", "REGEDIT4\n; @colour red\n", "C", 2, "C:\\", "m.reg:2:"},
      {"empty cwd", "REGEDIT4\n; @cwd\n", "C", 2, "C:\\", "m.reg:2:"},
      {"storage without a bus", "REGEDIT4\n; @storage E disk=1\n", "C", 2, "C:\\", "m.reg:2:"},
      {"storage of an unknown bus", "; @storage E bus=firewire\n", "C", 2, "C:\\", "m.reg:1:"},
      {"storage of drive B", "; @storage B bus=usb\n", "C", 2, "C:\\", "m.reg:1:"},
      {"storage field without a value", "; @storage E bus=usb disk\n", "C", 2, "C:\\", "m.reg:1:"},
      {"storage disk beyond 32 bits", "; @storage E bus=usb disk=0x100000000\n", "C", 2, "C:\\",
       "m.reg:1:"},
      {"storage offset beyond 64 bits", "; @storage E bus=usb offset=0x10000000000100000\n", "C", 2,
       "C:\\", "m.reg:1:"},
  };
  for (const SettingsCase& c : cases) {
    SCOPED_TRACE(c.what);
    MachineSettings s = ParseMachineSettings(c.text, "m.reg");
    EXPECT_EQ(s.drives, c.drives);
    EXPECT_EQ(s.PlatformId(), c.platform_id);
    EXPECT_EQ(s.current_directory, c.cwd);
    EXPECT_EQ(s.error.rfind(c.error, 0), 0u) << s.error;
    EXPECT_EQ(s.error.empty(), std::string(c.error).empty());
  }
  MachineSettings s = ParseMachineSettings("; @drives E Z\n", "m.reg");
  EXPECT_EQ(s.LogicalDriveMask(), (1u << 2) | (1u << 4) | (1u << 25));

  // A quoted vendor keeps its blanks; a letter without a line answers nothing.
  s = ParseMachineSettings(
      "; @storage e product=\"OEM Flash\" bus=usb disk=2 offset=0x100000 vendor=\"Quorvix\"\n"
      "; @storage F bus=nvme\n"
      "; @storage G bus=9 vendor=\"A \\\"B\\\" \\\\\"\n",
      "m.reg");
  ASSERT_EQ(s.error, "");
  const VolumeStorage usb{win::kBusTypeUsb, "Quorvix", "OEM Flash", 2, 0x100000};
  const VolumeStorage nvme{17, "", "", 0, std::nullopt};
  // A bus without a name is given as its number; \" and \\ in a quoted value.
  const VolumeStorage iscsi{9, "A \"B\" \\", "", 0, std::nullopt};
  EXPECT_EQ(s.storage, (std::map<char, VolumeStorage>{{'E', usb}, {'F', nvme}, {'G', iscsi}}));
}

}  // namespace
}  // namespace brelvane
