// The unattended install's command line.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "unattended/switches.h"

namespace brelvane {
namespace {

struct Row {
  std::vector<std::string> words;
  const char* error;  // a fragment of the error; nullptr: accepted
  Switches expected = {};
};

Switches With(std::function<void(Switches&)> set) {
  Switches s;
  set(s);
  return s;
}

TEST(UnattendedSwitches, ParseOrRefuse) {
  const Row rows[] = {
      {{}, nullptr},
      {{"/silent", "-ACCEPT", "/Launch", "-verify"}, nullptr, With([](Switches& s) {
         s.silent = s.accept = s.launch = s.verify = true;
       })},
      {{"/?"}, nullptr, With([](Switches& s) { s.help = true; })},
      {{"-HELP"}, nullptr, With([](Switches& s) { s.help = true; })},
      {{"/overwrite=YES"}, nullptr, With([](Switches& s) { s.overwrite = true; })},
      {{"-overwrite=no"}, nullptr, With([](Switches& s) { s.overwrite = false; })},
      {{"/LOG=C:\\Logs\\Setup Run.log"}, nullptr, With([](Switches& s) {
         s.log = "C:\\Logs\\Setup Run.log";
       })},
      {{"/silent", "/silent"}, nullptr, With([](Switches& s) { s.silent = true; })},
      {{"/overwrite=yes", "/OVERWRITE=Yes"}, nullptr, With([](Switches& s) {
         s.overwrite = true;
       })},
      {{"-h"}, nullptr, With([](Switches& s) { s.help = true; })},
      {{"--help"}, nullptr, With([](Switches& s) { s.help = true; })},
      {{"/quiet"}, "/quiet: unknown switch; an install without a window is /silent /accept"},
      {{"/S"}, "/S: unknown switch; an install without a window is /silent /accept"},
      {{"/VERYSILENT"}, "an install without a window is /silent /accept"},
      {{"/qn"}, "an install without a window is /silent /accept"},
      {{"/silentx"}, "/silentx: unknown switch"},
      {{"/silent", "/accept", "-OEM"},
       "-OEM: /oem opens the builder and goes with no other switch"},
      {{"/sil\x1b[2Jent"}, "/sil\\x1B[2Jent: unknown switch"},
      {{"set\rup"}, "\"set\\x0Dup\": not a switch"},
      {{"setup.log"}, "not a switch"},
      {{"/"}, "not a switch"},
      {{"/silent=yes"}, "takes no value"},
      {{"/overwrite"}, "give /overwrite=yes or /overwrite=no"},
      {{"/overwrite=maybe"}, "give /overwrite=yes or /overwrite=no"},
      {{"/log"}, "give the log file as /log=FILE"},
      {{"/log="}, "give the log file as /log=FILE"},
      {{"/overwrite=yes", "/overwrite=no"}, "different answers"},
      {{"/log=a.log", "/log=b.log"}, "different files"},
  };
  for (const Row& row : rows) {
    const ParsedCommandLine parsed = ParseSwitches(row.words);
    const std::string words = ::testing::PrintToString(row.words);
    if (row.error != nullptr) {
      ASSERT_TRUE(parsed.error.has_value()) << words;
      EXPECT_NE(parsed.error->find(row.error), std::string::npos) << words << ": " << *parsed.error;
      continue;
    }
    ASSERT_FALSE(parsed.error.has_value()) << words << ": " << *parsed.error;
    EXPECT_EQ(parsed.switches, row.expected) << words;
  }
}

// A switch that needs /silent is refused without it, and one that installs
// something beside /verify; the reason names every switch the rule covers.
TEST(UnattendedSwitches, CombinationsRefusedWithTheirReason) {
  const char* const needSilent =
      "/accept, /overwrite, /launch and /log take effect only with /silent";
  const char* const notWithVerify =
      "/verify installs nothing: /accept, /overwrite and /launch do not go with it";
  const std::pair<std::vector<std::string>, const char*> rows[] = {
      {{"/silent", "/accept", "/overwrite=no", "/launch", "/log=a.log"}, nullptr},
      {{"/verify", "/log=a.log"}, nullptr},
      {{"/verify", "/silent", "/log=a.log"}, nullptr},
      {{"/launch"}, needSilent},
      {{"/overwrite=no"}, needSilent},
      {{"/log=a.log"}, needSilent},
      {{"/verify", "/accept"}, notWithVerify},
      {{"/verify", "/silent", "/overwrite=no"}, notWithVerify},
  };
  for (const auto& [words, reason] : rows) {
    const ParsedCommandLine parsed = ParseSwitches(words);
    ASSERT_FALSE(parsed.error.has_value()) << *parsed.error;
    const std::optional<std::string> expected =
        reason != nullptr ? std::optional<std::string>(reason) : std::nullopt;
    EXPECT_EQ(MismatchOf(parsed.switches), expected) << ::testing::PrintToString(words);
  }
}

// The switch table of the documentation names every switch there is, each
// with its value, in the order the help text lists them.
// The first column of the documentation's table under `heading`: its
// `...` spans, or the whole cell where it has none; a '|' written "\|".
std::vector<std::string> FirstColumnOf(const char* heading) {
  std::ifstream file(BRELVANE_SWITCHES_DOC);
  std::vector<std::string> cells;
  bool inTable = false;
  for (std::string line; std::getline(file, line);) {
    if (line.rfind(heading, 0) == 0) {
      inTable = true;
      continue;
    }
    if (!inTable) continue;
    if (line.rfind('|', 0) != 0) break;
    if (line.rfind("|---", 0) == 0) continue;
    std::string cell = line.substr(2, line.find(" | ") - 2);
    for (std::size_t at; (at = cell.find("\\|")) != std::string::npos;) cell.erase(at, 1);
    if (cell.find('`') == std::string::npos) {
      cells.push_back(cell);
      continue;
    }
    std::istringstream spans(cell);
    std::string span;
    for (int i = 0; std::getline(spans, span, '`'); ++i) {
      if (i % 2 == 1) cells.push_back(span);
    }
  }
  return cells;
}

TEST(UnattendedSwitches, TheDocumentedTablesNameEachSwitchAndExitCode) {
  ASSERT_TRUE(std::ifstream(BRELVANE_SWITCHES_DOC)) << BRELVANE_SWITCHES_DOC;
  EXPECT_EQ(FirstColumnOf("| Switch |"), SwitchForms()) << BRELVANE_SWITCHES_DOC;
  std::vector<std::string> codes;
  for (int code : ExitCodeNumbers()) codes.push_back(std::to_string(code));
  EXPECT_EQ(FirstColumnOf("| Code |"), codes) << BRELVANE_SWITCHES_DOC;
}

// In a box's proportional font only tabs line up: every row is its name,
// tabs and its words on one line, made from the switch table.
TEST(HelpTextForABox, EachRowIsOneLineWithItsWordsAfterTabs) {
  const std::string box = HelpTextForABox();
  const char* const rows[] = {
      "/silent\t\tno window and no message box;",
      "/log=FILE\tappend a UTF-8 log, one line per event (with /silent the default is "
      "%TEMP%\\brelvane-setup.log)\r\n",
      "/accept, /overwrite, /launch and /log need /silent (or /verify, for /log).\r\n",
      "\r\n8\t/verify: the package fails verification\r\n",
  };
  for (const char* row : rows) EXPECT_NE(box.find(row), std::string::npos) << row << "\n" << box;
  EXPECT_EQ(box.find("   "), std::string::npos) << box;
  // Each usage form is a line of its own.
  EXPECT_EQ(box.rfind("brelvane-setup [/silent", 0), 0u) << box;
  EXPECT_NE(box.find("]\r\nbrelvane-setup /verify"), std::string::npos) << box;
}

}  // namespace
}  // namespace brelvane
