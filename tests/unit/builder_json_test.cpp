// The module list as JSON: string escaping and the objects' fields.
#include <gtest/gtest.h>

#include <string>

#include "builder/module_json.h"

namespace brelvane {
namespace {

struct EscapeCase {
  const char* label;
  std::string ansi;
  const char* json;
};

class JsonStringTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonStringTest, EscapesToPlainAsciiJson) {
  EXPECT_EQ(JsonString(GetParam().ansi), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, JsonStringTest,
    ::testing::Values(EscapeCase{"Plain", "setup.exe", "\"setup.exe\""},
                      EscapeCase{"QuoteAndBackslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
                      EscapeCase{"ShortEscapes", "\t\n\r\b\f", "\"\\t\\n\\r\\b\\f\""},
                      EscapeCase{"OtherControls", std::string("\x01\x1f\x7f", 3),
                                 "\"\\u0001\\u001f\\u007f\""},
                      EscapeCase{"EuroSign", "\x80", "\"\\u20ac\""},
                      EscapeCase{"UndefinedInCp1252", "\x81", "\"\\u0081\""},
                      EscapeCase{"YWithDiaeresis", "\x9f", "\"\\u0178\""},
                      EscapeCase{"Latin1Range", "caf\xe9\xff", "\"caf\\u00e9\\u00ff\""},
                      EscapeCase{"Empty", "", "\"\""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ModulesToJson, ListsFieldsNewestFirst) {
  WalkResult walk;
  WalkedModule predefined;
  predefined.record = {5, "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_G", "p.exe", "a\\b", 3, 660};
  predefined.contentOffset = 4096;
  predefined.contentCheck = 0xCBF43926u;
  WalkedModule user;
  user.record = {0, "QRVX_OEM_INSTALLER", "u.txt", "", 0x80, 660};
  user.contentOffset = 3436;
  walk.modules = {predefined, user};
  EXPECT_EQ(ModulesToJson(walk),
            "[\n"
            "  {\"name\": \"p.exe\", \"marker\": \"QRVX_OEM_INSTALLER_PREDEFFILE_IDX_G\", "
            "\"predefined\": true, \"model\": \"pellor\", \"size\": 5, \"extractDir\": "
            "\"a\\\\b\", \"attributes\": 3, \"offset\": 4096, \"installedOn\": \"Pellor\", "
            "\"checked\": true},\n"
            "  {\"name\": \"u.txt\", \"marker\": \"QRVX_OEM_INSTALLER\", \"predefined\": false, "
            "\"model\": null, \"size\": 0, \"extractDir\": \"\", \"attributes\": 128, "
            "\"offset\": 3436, \"installedOn\": null, \"checked\": false}\n"
            "]\n");
  EXPECT_EQ(ModulesToJson(WalkResult{}), "[]\n");
}

}  // namespace
}  // namespace brelvane
