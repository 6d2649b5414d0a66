#include <gtest/gtest.h>

#include "common/printable.h"
#include "common/progress_bar.h"
#include "platform/utf8.h"

namespace brelvane {
namespace {

// A record's name is code page 1252 text: its characters in UTF-8, and an
// escape for every byte that is a control or no character at all.
TEST(Printable, NamesShowTheirCodePageCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"caf\xE9.txt", "caf\xC3\xA9.txt"},
      {"\x80\x9B\x9F\xFF", "\xE2\x82\xAC\xE2\x80\xBA\xC5\xB8\xC3\xBF"},
      {"a\x81\x8D\x8F\x90\x9D", "a\\x81\\x8D\\x8F\\x90\\x9D"},
      {"evil\r\x1B[2J\x7F", "evil\\x0D\\x1B[2J\\x7F"},
      // A name is never read as UTF-8: these are two characters.
      {"\xC3\xA9", "\xC3\x83\xC2\xA9"},
  };
  for (const auto& [name, shown] : cases) EXPECT_EQ(NameForTerminal(name), shown) << name;
}

// The encoder and the reader agree at every length's bounds.
TEST(Utf8, EncodesWhatItReadsBack) {
  for (const char32_t code : {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
    std::string text;
    AppendUtf8(text, code);
    char32_t read = 0;
    EXPECT_EQ(Utf8SequenceAt(text, 0, &read), text.size()) << text;
    EXPECT_EQ(static_cast<std::uint32_t>(read), static_cast<std::uint32_t>(code)) << text;
  }
}

// A message line: UTF-8 passes, a stray byte is a 1252 character, and no
// control gets through in either form.
TEST(Printable, LinesPassUtf8AndEscapeEveryControl) {
  struct Case {
    std::string text;
    bool keepLineBreaks;
    std::string shown;
  };
  const Case cases[] = {
      {"E:\\\xD0\x97\xD0\xB0\\caf\xE9.txt", false, "E:\\\xD0\x97\xD0\xB0\\caf\xC3\xA9.txt"},
      {"csi \x9B"
       "2J, utf-8 csi \xC2\x9B"
       "2J",
       false,
       "csi \xE2\x80\xBA"
       "2J, utf-8 csi \\xC2\\x9B2J"},
      {"no char \x81, cut utf-8 \xE2\x82", false, "no char \\x81, cut utf-8 \xC3\xA2\xE2\x80\x9A"},
      {"line\r\nnext\nlone\rend", true, "line\r\nnext\nlone\\x0Dend"},
      {"line\r\n", false, "line\\x0D\\x0A"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EscapeControls(c.text, c.keepLineBreaks), c.shown) << c.text;
}

// The bar rewrites one line: a shorter label blanks what the longer one
// left, a control in a label never reaches the terminal, and the line is
// ended once.  Below the threshold, or off a terminal, nothing is written.
TEST(Printable, ProgressBarRewritesOneLine) {
  std::string out;
  const auto into = [&out](const std::string& text) { out += text; };
  {
    ProgressBar bar("installing long-name.bin", kProgressThreshold, true, into);
    bar.Draw(0, kProgressThreshold);
    bar.SetLabel("installing a\x1B");
    bar.Draw(0, kProgressThreshold);
    bar.Draw(kProgressThreshold, kProgressThreshold);
  }
  const std::string empty(40, '.');
  const std::string full(40, '#');
  EXPECT_EQ(out, "\rinstalling long-name.bin [" + empty + "]   0% 0/8 MiB" +
                     "\rinstalling a\\x1B [" + empty + "]   0% 0/8 MiB" + std::string(8, ' ') +
                     "\rinstalling a\\x1B [" + full + "] 100% 8/8 MiB\n");

  out.clear();
  for (const auto& [total, enabled] :
       {std::pair{kProgressThreshold - 1, true}, std::pair{kProgressThreshold, false}}) {
    ProgressBar bar("x", total, enabled, into);
    bar.Draw(total, total);
    EXPECT_FALSE(bar.callback());
  }
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace brelvane
