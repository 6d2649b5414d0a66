// Text crossing into and out of the wide-character system calls.  The core
// hands the Win32 backend UTF-8; the system takes and returns UTF-16.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace brelvane::win32text {

// UTF-8 to UTF-16.  Every well-formed UTF-8 sequence is decoded as such; a
// byte that begins none (an 8-bit name from a module record, say) is read in
// the ANSI code page, a lead byte of a double-byte code page together with
// the byte after it.  So no byte is ever lost or replaced.
std::wstring Widen(const std::string& text);
// The same, also giving for every UTF-16 unit the offset of the byte it came
// from, plus one entry for the end: offsets.size() == result.size() + 1.
std::wstring Widen(const std::string& text, std::vector<std::size_t>* offsets);
// UTF-16 to UTF-8 (an unpaired surrogate becomes U+FFFD).
std::string Narrow(const wchar_t* text, std::size_t count);
inline std::string Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }
// Bytes in the ANSI code page to UTF-8.
std::string AnsiToUtf8(const std::string& bytes);
// UTF-8 to the ANSI code page; nullopt when a character has no form there.
std::optional<std::string> Utf8ToAnsi(const std::string& text);

// Writes UTF-8 text to `stream` when it is a console, through the wide call,
// so every character shows whatever the console's code page.  False, with
// nothing written, when the stream is no console (a file, a pipe).
bool WriteToConsole(std::FILE* stream, const std::string& text);

// The program's arguments from the wide command line, each in UTF-8 (the
// C runtime's argv holds them in the ANSI code page, with '?' for the rest).
std::vector<std::string> Arguments();

}  // namespace brelvane::win32text
