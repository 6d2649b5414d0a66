// The builder's code page tables against the system's own converter: every
// byte a code page defines reads as the character iconv reads, and comes
// back as the same byte.
#include <gtest/gtest.h>

#include <string>

#include "builder/code_pages.h"

#ifndef _WIN32
#include <iconv.h>
#endif

namespace brelvane {
namespace {

#ifndef _WIN32
// The byte as iconv reads it in `codePage`, as UTF-8; empty when iconv
// defines no character for it.
std::string IconvRead(unsigned codePage, unsigned char byte) {
  const std::string name = "CP" + std::to_string(codePage);
  iconv_t converter = iconv_open("UTF-8", name.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return "?no converter";
  char in[1] = {static_cast<char>(byte)};
  char out[16] = {};
  char* from = in;
  char* to = out;
  std::size_t inLeft = 1, outLeft = sizeof out;
  const bool read =
      iconv(converter, &from, &inLeft, &to, &outLeft) != static_cast<std::size_t>(-1) &&
      iconv(converter, nullptr, nullptr, &to, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(converter);
  return read ? std::string(out, to) : std::string();
}
#endif

TEST(CodePages, EveryDefinedByteReadsAsTheSystemReadsItAndComesBack) {
  unsigned pages = 0;
  for (unsigned number = 0; number < 70000; ++number) {
    if (!IsKnownCodePage(number)) continue;
    ++pages;
    for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
      const std::string stored(1, static_cast<char>(byte));
      const std::optional<std::string> text = FromCodePage(number, stored);
#ifndef _WIN32
      const std::string expected = IconvRead(number, static_cast<unsigned char>(byte));
      // Undefined bytes below 0xA0 stand for their C1 controls, as Windows
      // reads them; iconv refuses them.
      if (!expected.empty() || byte >= 0xA0) {
        EXPECT_EQ(text.value_or("(undefined)"), expected.empty() ? "(undefined)" : expected)
            << "code page " << number << " byte " << byte;
      }
#endif
      if (text) { EXPECT_EQ(ToCodePage(number, *text), stored) << number << " byte " << byte; }
    }
  }
  EXPECT_EQ(pages, 10u);
  EXPECT_EQ(ToCodePage(1252, "日本"), std::nullopt);
  EXPECT_EQ(ToCodePage(1251, "\xD0\x9F"), std::string("\xCF"));  // П
}

}  // namespace
}  // namespace brelvane
