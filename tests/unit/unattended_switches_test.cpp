// The unattended install's command line.
#include <gtest/gtest.h>

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
      {{"/overwrite=YES"}, nullptr, With([](Switches& s) {
         s.overwrite = s.overwriteGiven = true;
       })},
      {{"-overwrite=no"}, nullptr, With([](Switches& s) { s.overwriteGiven = true; })},
      {{"/LOG=C:\\Logs\\Setup Run.log"}, nullptr, With([](Switches& s) {
         s.log = "C:\\Logs\\Setup Run.log";
       })},
      {{"/silent", "/silent"}, nullptr, With([](Switches& s) { s.silent = true; })},
      {{"/overwrite=yes", "/OVERWRITE=Yes"}, nullptr, With([](Switches& s) {
         s.overwrite = s.overwriteGiven = true;
       })},
      {{"/quiet"}, "/quiet: unknown switch"},
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
    const Switches& s = parsed.switches;
    const Switches& e = row.expected;
    EXPECT_EQ(std::tie(s.silent, s.accept, s.launch, s.verify, s.help, s.overwrite,
                       s.overwriteGiven, s.log),
              std::tie(e.silent, e.accept, e.launch, e.verify, e.help, e.overwrite,
                       e.overwriteGiven, e.log))
        << words;
  }
}

// In a box's proportional font only tabs line up: every row is its name,
// tabs and its words on one line, the console's wrapped lines joined.
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
}

}  // namespace
}  // namespace brelvane
