#include "platform/posix/posix_error.h"

#include <cerrno>
#include <utility>

#include "platform/platform.h"

namespace brelvane {
namespace {

thread_local std::uint32_t last_error = win::kErrorSuccess;

struct ErrnoCode {
  int error;
  std::uint32_t code;
};

constexpr ErrnoCode kErrnoCodes[] = {
    {0, win::kErrorSuccess},
    {ENOENT, win::kErrorFileNotFound},
    {ENOTDIR, win::kErrorPathNotFound},
    {EMFILE, win::kErrorTooManyOpenFiles},
    {ENFILE, win::kErrorTooManyOpenFiles},
    {EACCES, win::kErrorAccessDenied},
    {EPERM, win::kErrorAccessDenied},
    {EISDIR, win::kErrorAccessDenied},
    {EBADF, win::kErrorInvalidHandle},
    {ENOMEM, win::kErrorNotEnoughMemory},
    {EROFS, win::kErrorWriteProtect},
    {EIO, win::kErrorReadFault},
    {EBUSY, win::kErrorSharingViolation},
    {EWOULDBLOCK, win::kErrorLockViolation},
    {EDEADLK, win::kErrorLockViolation},
    {EEXIST, win::kErrorFileExists},
    {EINVAL, win::kErrorInvalidParameter},
    {ENOSPC, win::kErrorDiskFull},
    {EFBIG, win::kErrorDiskFull},
    {EDQUOT, win::kErrorDiskFull},
    {ENAMETOOLONG, win::kErrorFilenameExcedRange},
    {ENOTEMPTY, win::kErrorDirNotEmpty},
    {ESPIPE, win::kErrorNegativeSeek},
    {EXDEV, 17},    // ERROR_NOT_SAME_DEVICE
    {ENOTSUP, 50},  // ERROR_NOT_SUPPORTED
};

constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorMrMidNotFound = 317;  // FormatMessage has no text

// The system's texts as FormatMessageA gives them on the Wine system the
// Windows build is tested on, so that both builds show the same words.
const std::pair<std::uint32_t, const char*> kErrorTexts[] = {
    {0, "Success.\r\n"},
    {1, "Invalid function.\r\n"},
    {2, "File not found.\r\n"},
    {3, "Path not found.\r\n"},
    {4, "Too many open files.\r\n"},
    {5, "Access denied.\r\n"},
    {6, "Invalid handle.\r\n"},
    {8, "Not enough memory.\r\n"},
    {14, "Out of memory.\r\n"},
    {15, "Invalid drive.\r\n"},
    {17, "Not same device.\r\n"},
    {19, "Write protected.\r\n"},
    {21, "Not ready.\r\n"},
    {29, "Write fault.\r\n"},
    {30, "Read fault.\r\n"},
    {31, "General failure.\r\n"},
    {32, "Sharing violation.\r\n"},
    {33, "Lock violation.\r\n"},
    {38, "End of file.\r\n"},
    {39, "Disk full.\r\n"},
    {50, "Request not supported.\r\n"},
    {53, "Bad network path.\r\n"},
    {67, "Bad network name.\r\n"},
    {80, "File exists.\r\n"},
    {82, "Cannot create.\r\n"},
    {87, "Invalid parameter.\r\n"},
    {110, "Open failed.\r\n"},
    {111, "Buffer overflow.\r\n"},
    {112, "Disk full.\r\n"},
    {122, "Insufficient buffer.\r\n"},
    {123, "Invalid name.\r\n"},
    {131, "Negative seek.\r\n"},
    {145, "Directory is not empty.\r\n"},
    {161, "Path is invalid.\r\n"},
    {170, "Resource in use.\r\n"},
    {183, "File already exists.\r\n"},
    {206, "File name is too long.\r\n"},
    {234, "More data available.\r\n"},
    {259, "No more data available.\r\n"},
    {267, "Directory name invalid.\r\n"},
    {1001, "Stack overflow.\r\n"},
    {1392, "File or directory corrupt.\r\n"},
};

}  // namespace

std::uint32_t PosixLastError() { return last_error; }

void SetPosixLastError(std::uint32_t code) { last_error = code; }

std::uint32_t WindowsCodeFromErrno(int error) {
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.error == error) return entry.code;
  }
  return kErrorGenFailure;
}

std::string WindowsErrorText(std::uint32_t code) {
  for (const auto& [known, text] : kErrorTexts) {
    if (known == code) return text;
  }
  // FormatMessageA fails and leaves its own code behind.
  SetPosixLastError(kErrorMrMidNotFound);
  return {};
}

}  // namespace brelvane
