#include "platform/posix/posix_system.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/case_fold.h"
#include "platform/posix/posix_error.h"
#include "platform/posix/shell_path.h"
#include "platform/utf8.h"

namespace brelvane {
namespace {

// Code page 1252 bytes 0x80..0x9F; 0 where the byte is unassigned and
// passes through as itself.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char Cp1252Byte(std::uint16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<char>(unit);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == unit || (kCp1252High[i] == 0 && unit == 0x80 + i)) {
      return static_cast<char>(0x80 + i);
    }
  }
  return '?';
}

std::optional<std::string> HostWorkingDirectory() {
  std::string buffer(4096, '\0');
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    SetPosixLastError(WindowsCodeFromErrno(errno));
    return std::nullopt;
  }
  buffer.resize(buffer.find('\0'));
  return buffer;
}

}  // namespace

namespace {}  // namespace

std::string Utf16ToCp1252(const std::uint16_t* units, std::size_t count) {
  std::string text;
  text.reserve(count);
  for (std::size_t i = 0; i < count; ++i) text += Cp1252Byte(units[i]);
  return text;
}

std::string PosixSystem::FromAnsi(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    std::uint32_t unit = byte;
    if (byte >= 0x80 && byte < 0xA0 && kCp1252High[byte - 0x80] != 0)
      unit = kCp1252High[byte - 0x80];
    if (unit < 0x80) {
      text += static_cast<char>(unit);
    } else if (unit < 0x800) {
      text += static_cast<char>(0xC0 | unit >> 6);
      text += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      text += static_cast<char>(0xE0 | unit >> 12);
      text += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return text;
}

// Whether `text` is UTF-8 throughout, strictly: no overlong form (which
// could spell '\\' or '.' in other bytes), no surrogate, nothing beyond
// U+10FFFF.
static bool IsUtf8(std::string_view text) {
  char32_t code = 0;
  for (std::size_t at = 0, length = 0; at < text.size(); at += length)
    if ((length = Utf8SequenceAt(text, at, &code)) == 0) return false;
  return true;
}

std::optional<std::string> PosixSystem::ToAnsi(const std::string& text) {
  // A name that is no UTF-8 (a file named on an older system) is taken as
  // the code page's bytes it already is.
  if (!IsUtf8(text)) return text;
  std::string bytes;
  bytes.reserve(text.size());
  char32_t unit = 0;
  for (std::size_t at = 0; at < text.size();) {
    at += Utf8SequenceAt(text, at, &unit);
    // Only a character the code page holds; the unassigned bytes stand for
    // themselves, as Windows maps them.
    if (unit > 0xFFFF) return std::nullopt;
    const char byte = Cp1252Byte(static_cast<std::uint16_t>(unit));
    if (byte == '?' && unit != '?') return std::nullopt;
    bytes += byte;
  }
  return bytes;
}

PosixSystem::PosixSystem(PosixFileSystem& files) : files_(files) {}

std::uint32_t PosixSystem::LastError() { return PosixLastError(); }

void PosixSystem::SetLastError(std::uint32_t code) { SetPosixLastError(code); }

std::string PosixSystem::ErrorText(std::uint32_t code) { return WindowsErrorText(code); }

int PosixSystem::PlatformId() { return platform_id_; }

std::uint32_t PosixSystem::CurrentDirectoryLength() {
  auto directory = CurrentDirectory();
  if (!directory) return 0;
  return static_cast<std::uint32_t>(directory->size() + 1);
}

std::optional<std::string> PosixSystem::CurrentDirectory() {
  if (current_directory_) return current_directory_;
  return HostWorkingDirectory();
}

bool PosixSystem::SamePathIgnoringCase(const std::string& a, const std::string& b) {
  return SameIgnoringCase(a, b);
}

std::optional<std::string> PosixSystem::OwnExecutablePath() {
  if (own_path_) return own_path_;
  std::string buffer(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) {
    SetPosixLastError(n < 0 ? WindowsCodeFromErrno(errno) : win::kErrorFilenameExcedRange);
    return std::nullopt;
  }
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

std::optional<std::string> PosixSystem::TempDirectory() {
  const char* variable = std::getenv("TMPDIR");
  std::string folder = variable != nullptr && *variable != '\0' ? variable : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

LocalTime PosixSystem::Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local = {};
  ::localtime_r(&now, &local);
  return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                   local.tm_hour,        local.tm_min,     local.tm_sec};
}

void PosixSystem::Sleep(std::uint32_t milliseconds) {
  timespec wait{static_cast<std::time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {}
}

std::uint32_t PosixSystem::LogicalDrives() { return files_.drives().Mask(); }

std::optional<VolumeStorage> PosixSystem::QueryVolumeStorage(char letter) {
  // Only a mapped drive has a volume to ask about.
  if (!((files_.drives().Mask() >> (letter - 'A')) & 1u)) return std::nullopt;
  auto found = volume_storage_.find(letter);
  if (found == volume_storage_.end()) return std::nullopt;
  return found->second;
}

std::string PosixSystem::WideToAnsi(const std::uint16_t* units, std::size_t count) {
  return Utf16ToCp1252(units, count);
}

bool PosixSystem::Launch(const std::string& path) {
  // The simulation runs no Windows programs: it checks that the file is
  // there, as the shell would, and tells the front-end.
  if (!files_.Exists(path)) {
    SetPosixLastError(win::kErrorFileNotFound);
    return false;
  }
  if (launch_observer_) launch_observer_(path);
  return true;
}

extern "C" char** environ;

std::optional<int> PosixSystem::RunProgram(const std::vector<std::string>& arguments) {
  if (arguments.empty()) {
    SetPosixLastError(win::kErrorInvalidParameter);
    return std::nullopt;
  }
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ);
  if (spawned != 0) {
    SetPosixLastError(WindowsCodeFromErrno(spawned));
    return std::nullopt;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      SetPosixLastError(WindowsCodeFromErrno(errno));
      return std::nullopt;
    }
  }
  // A program killed by a signal ends as a shell reports it: 128 and the signal.
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string PosixSystem::StripPath(const std::string& path) { return ShellStripPath(path); }

std::optional<std::size_t> PosixSystem::SkipRoot(const std::string& path) {
  return ShellSkipRoot(path);
}

bool PosixSystem::IsUnc(const std::string& path) { return ShellIsUnc(path); }

void PosixSystem::ExitProcess(int code) {
  std::fflush(nullptr);
  std::exit(code);
}

}  // namespace brelvane
