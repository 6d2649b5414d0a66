// The names a module may carry onto a drive: each row a name a crafted
// package could hold, and whether Windows would put it where it says.
#include <gtest/gtest.h>

#include <string>

#include "common/name_rules.h"

namespace brelvane {
namespace {

struct NameCase {
  std::string name;
  bool safe;
};

void PrintTo(const NameCase& row, std::ostream* out) { *out << '"' << row.name << '"'; }

class FileNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNames, AreRefusedWhenWindowsWouldPutThemElsewhere) {
  const auto problem = FileNameProblem(GetParam().name);
  EXPECT_EQ(!problem.has_value(), GetParam().safe) << (problem ? *problem : "accepted");
}

INSTANTIATE_TEST_SUITE_P(
    Table, FileNames,
    ::testing::Values(
        NameCase{"Brelvane v1.0.exe", true}, NameCase{".profile", true}, NameCase{"..readme", true},
        NameCase{"a b", true}, NameCase{" leading blank", true}, NameCase{"console.txt", true},
        NameCase{"COM10", true}, NameCase{"LPT", true}, NameCase{"nul_device", true},
        NameCase{"CONx.txt", true}, NameCase{std::string(255, 'n'), true},
        // Climbing out, other drives, streams.
        NameCase{"", false}, NameCase{".", false}, NameCase{"..", false}, NameCase{"...", false},
        NameCase{"..\\evil.exe", false}, NameCase{"a\\b.txt", false}, NameCase{"a/b", false},
        NameCase{"\\\\server\\share", false}, NameCase{"C:evil.exe", false},
        NameCase{"file.txt:stream", false}, NameCase{"file.txt::$DATA", false},
        // Trimmed by Windows onto another name.
        NameCase{"a.", false}, NameCase{"a ", false}, NameCase{"setup.exe. . ", false},
        // Devices, in any case, with extensions and blanks.
        NameCase{"CON", false}, NameCase{"con.txt", false}, NameCase{"NUL ", false},
        NameCase{"nul .txt", false}, NameCase{"Prn", false}, NameCase{"aux.tar.gz", false},
        NameCase{"COM1", false}, NameCase{"com9.log", false}, NameCase{"LPT0", false},
        NameCase{"lpt\xB9", false}, NameCase{"CONIN$", false}, NameCase{"conout$.x", false},
        // Characters Windows refuses, and lengths it cannot store.
        NameCase{"a*b", false}, NameCase{"what?", false}, NameCase{"a|b", false},
        NameCase{"<x>", false}, NameCase{"say\"hi\"", false}, NameCase{"tab\there", false},
        NameCase{std::string(256, 'n'), false}, NameCase{std::string(259, 'n'), false},
        NameCase{std::string(260, 'n'), false}));

class Folders : public ::testing::TestWithParam<NameCase> {};

TEST_P(Folders, StayBelowTheRootUnderTheirOwnNames) {
  const auto problem = FolderProblem(GetParam().name);
  EXPECT_EQ(!problem.has_value(), GetParam().safe) << (problem ? *problem : "accepted");
}

INSTANTIATE_TEST_SUITE_P(
    Table, Folders,
    ::testing::Values(NameCase{"", true}, NameCase{"Brelvane", true},
                      NameCase{"Brelvane\\Docs", true}, NameCase{"windows\\desktop\\", true},
                      NameCase{"a\\\\b", true}, NameCase{"\\Brelvane", true}, NameCase{"a/b", true},
                      NameCase{"Docs.d\\x", true}, NameCase{"Brelvane\\\\Docs\\", true},
                      NameCase{"..", false}, NameCase{"Docs\\..\\..\\Windows", false},
                      NameCase{"Docs/../..", false}, NameCase{"\\..\\outside", false},
                      NameCase{".\\Docs", false}, NameCase{"Docs\\. .", false},
                      NameCase{"Docs\\...", false}, NameCase{"Docs\\.. ", false},
                      NameCase{"Docs.", false}, NameCase{"Docs..", false},
                      NameCase{"Docs \\x", false}, NameCase{"C:\\Windows", false},
                      NameCase{"Docs:stream", false}, NameCase{"\\\\server\\share", false},
                      NameCase{"//server/share", false}, NameCase{"\\\\?\\C\\x", false},
                      NameCase{"\\\\.\\x", false}, NameCase{"Docs\\CON", false},
                      NameCase{"aux\\x", false}, NameCase{"a\\com1.d\\b", false},
                      NameCase{"a?b", false}, NameCase{std::string(256, 'd') + "\\x", false}));

TEST(NameRules, ReasonsNameTheOffendingPart) {
  EXPECT_EQ(FolderProblem("Docs\\NUL\\x").value_or(""),
            "the folder's part \"NUL\" is a reserved device name");
  EXPECT_EQ(FileNameProblem("a.").value_or(""),
            "the name ends in a dot or a blank, which Windows drops (\"..\" is the parent folder)");
}

// Stored folders as the install takes them: each part's trailing blanks and
// dots dropped, as Windows drops them; a part of only dots stays, refused.
TEST(NameRules, WindowsFolderFormDropsEachPartsTrailingBlanksAndDots) {
  const struct {
    const char* stored;
    const char* taken;
    bool refused;  // the form taken still breaks the folder rule
  } rows[] = {
      {"Docs ", "Docs", false}, {"Brelvane\\Docs .\\x", "Brelvane\\Docs\\x", false},
      {"a. b.", "a. b", false}, {"Docs/notes..", "Docs/notes", false},
      {"", "", false},          {"\\lead\\", "\\lead\\", false},
      {"..\\x", "..\\x", true}, {"Docs\\. .", "Docs\\. .", true},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(WindowsFolderForm(row.stored), row.taken) << row.stored;
    EXPECT_EQ(FolderProblem(row.taken).has_value(), row.refused) << row.stored;
  }
}

struct PlacementCase {
  std::string fileName;
  std::string extractDir;
  const char* reason;  // "" when the module may be placed
};

void PrintTo(const PlacementCase& row, std::ostream* out) {
  *out << '"' << row.fileName << "\" in \"" << row.extractDir << '"';
}

class ModulePlacement : public ::testing::TestWithParam<PlacementCase> {};

// What the install run refuses and the builder will not store: the name,
// the folder and the whole path on the drive, each reason naming its rule.
TEST_P(ModulePlacement, IsRefusedWithTheRuleItBreaks) {
  EXPECT_EQ(ModulePlacementProblem(GetParam().fileName, GetParam().extractDir).value_or(""),
            GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ModulePlacement,
    ::testing::Values(
        PlacementCase{"readme.txt", "Brelvane\\Docs", ""},
        PlacementCase{"readme.txt", "Brelvane/Docs", ""},
        PlacementCase{"a\\b.txt", "Brelvane", "the name holds a path separator"},
        PlacementCase{"readme.txt", "Docs\\..\\..\\Windows",
                      "the folder's part \"..\" climbs to the parent folder"},
        PlacementCase{"tool.exe", "..\\..\\Windows",
                      "the folder's part \"..\" climbs to the parent folder"},
        PlacementCase{
            "tool.exe", "C:\\Windows",
            "the folder is an absolute path on drive C:, not a folder below the drive root"},
        PlacementCase{"con.txt", "", "the name is a reserved device name"},
        PlacementCase{
            "a ", "",
            "the name ends in a dot or a blank, which Windows drops (\"..\" is the parent folder)"},
        PlacementCase{"a\x1b[31m.txt", "",
                      "the name holds a control character, which Windows does not allow in names"},
        PlacementCase{"a?.txt", "",
                      "the name holds the character ?, which Windows does not allow in names"},
        // "X:\" + 100 + "\" + 155 is 259 characters, the longest path opened.
        PlacementCase{std::string(155, 'n'), std::string(100, 'd'), ""},
        PlacementCase{std::string(156, 'n'), std::string(100, 'd'),
                      "the path on the drive would be longer than 259 characters"}));

}  // namespace
}  // namespace brelvane
