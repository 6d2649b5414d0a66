#include "platform/win32/win32_text.h"

#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>

#include "platform/utf8.h"

namespace brelvane::win32text {
namespace {

std::wstring AnsiUnits(const char* bytes, int count) {
  int length = ::MultiByteToWideChar(CP_ACP, 0, bytes, count, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, bytes, count, wide.data(), length);
  return wide;
}

}  // namespace

std::wstring Widen(const std::string& text, std::vector<std::size_t>* offsets) {
  std::wstring wide;
  wide.reserve(text.size());
  if (offsets != nullptr) offsets->clear();
  const auto note = [&](std::size_t from, std::size_t units) {
    if (offsets != nullptr) offsets->insert(offsets->end(), units, from);
  };
  std::size_t at = 0;
  while (at < text.size()) {
    char32_t code = 0;
    if (std::size_t length = Utf8SequenceAt(text, at, &code)) {
      if (code >= 0x10000) {
        code -= 0x10000;
        wide += static_cast<wchar_t>(0xD800 + (code >> 10));
        wide += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
        note(at, 2);
      } else {
        wide += static_cast<wchar_t>(code);
        note(at, 1);
      }
      at += length;
      continue;
    }
    const std::size_t length =
        ::IsDBCSLeadByte(static_cast<BYTE>(text[at])) && at + 1 < text.size() ? 2 : 1;
    const std::wstring units = AnsiUnits(text.data() + at, static_cast<int>(length));
    wide += units;
    note(at, units.size());
    at += length;
  }
  if (offsets != nullptr) offsets->push_back(text.size());
  return wide;
}

std::wstring Widen(const std::string& text) { return Widen(text, nullptr); }

std::string Narrow(const wchar_t* text, std::size_t count) {
  if (count == 0) return {};
  int length = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), nullptr, 0, nullptr,
                                     nullptr);
  if (length <= 0) return {};
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), narrow.data(), length, nullptr,
                        nullptr);
  return narrow;
}

std::string AnsiToUtf8(const std::string& bytes) {
  const std::wstring wide = AnsiUnits(bytes.data(), static_cast<int>(bytes.size()));
  return Narrow(wide);
}

std::optional<std::string> Utf8ToAnsi(const std::string& text) {
  if (text.empty()) return std::string();
  const std::wstring wide = Widen(text);
  BOOL lossy = FALSE;
  const int count = static_cast<int>(wide.size());
  int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), count, nullptr, 0,
                                     nullptr, &lossy);
  if (length <= 0 || lossy) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), count, bytes.data(), length,
                        nullptr, &lossy);
  if (lossy) return std::nullopt;
  return bytes;
}

bool WriteToConsole(std::FILE* stream, const std::string& text) {
  const auto console = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || !::GetConsoleMode(console, &mode)) return false;
  // What the stream still buffers goes first.
  std::fflush(stream);
  const std::wstring wide = Widen(text);
  std::size_t done = 0;
  while (done < wide.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
    DWORD written = 0;
    if (!::WriteConsoleW(console, wide.data() + done, chunk, &written, nullptr) || written == 0)
      break;
    done += written;
  }
  return true;
}

std::vector<std::string> Arguments() {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Narrow(wide[i], std::wcslen(wide[i])));
  ::LocalFree(wide);
  return arguments;
}

}  // namespace brelvane::win32text
