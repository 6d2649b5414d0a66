// Application message boxes: captioned with the application's name, which is
// the program's file name without its extension.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace brelvane {

// The application's name: the own executable's file name without extension,
// or, when the system cannot give that path (a box may be telling just
// that), the program's name as shipped.
std::string ApplicationName(System& system);
inline constexpr char kShippedProgramName[] = "brelvane-setup";

// printf-style formatting for the system's message texts.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A size as people read it in a box: "512 bytes", "1.21 MB", "12.3 GB"
// (units of 1024, three digits, cut, or with `up` rounded up: what is to
// be freed is never understated).  The exact count belongs in a log.
std::string SizeInUnits(std::uint64_t bytes, bool up = false);

// A notice: OK button, no style of its own (0); on Windows it shows the
// exclamation icon every application box without an icon of its own shows.
int ShowNotice(const Platform& platform, const std::string& text);
// A notice that stays without any icon.
int ShowPlainNotice(const Platform& platform, const std::string& text);
// An error: OK button with the stop icon (0x10).
int ShowError(const Platform& platform, const std::string& text);

// The boxes the three above show, for a front-end to show later (the
// message of an ending, app/page_ending.h).
Message NoticeMessage(const Platform& platform, const std::string& text);
Message PlainNoticeMessage(const Platform& platform, const std::string& text);
Message ErrorMessage(const Platform& platform, const std::string& text);

// A Yes/No question with the question icon (0x24); true for Yes.
bool AskYesNo(const Platform& platform, const std::string& text);
// The same, owned by a page and captioned by it (for example "Overwrite").
bool AskYesNoOwned(const Platform& platform, const std::string& caption, const std::string& text);

}  // namespace brelvane
