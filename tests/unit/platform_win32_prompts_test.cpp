// The style a Windows message box is shown with.
#ifdef _WIN32
#include <gtest/gtest.h>

#include "platform/win32/win32_prompts.h"

namespace brelvane {
namespace {

struct StyleCase {
  const char* what;
  std::uint32_t style;
  bool owned_by_page;
  std::uint32_t shown;
  bool plain = false;
};

TEST(Win32PromptsStyle, NoticesGetTheDefaultIconOthersKeepTheirOwn) {
  const StyleCase cases[] = {
      {"notice", 0x00, false, 0x30},
      {"error", 0x10, false, 0x10},
      {"application question", 0x24, false, 0x24},
      {"page question", 0x24, true, 0x24},
      {"low-resource question", 0x21, true, 0x21},
      {"page box without icon", 0x00, true, 0x00},
      {"plain notice", 0x00, false, 0x00, true},
  };
  for (const StyleCase& c : cases) {
    Message message{"text", "caption", c.style, c.owned_by_page, c.plain};
    EXPECT_EQ(Win32Prompts::DisplayedStyle(message), c.shown) << c.what;
  }
}

}  // namespace
}  // namespace brelvane
#endif
