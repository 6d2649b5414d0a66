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

// The system's texts as FormatMessageA gives them on an English Windows, so
// that messages read the same in the simulation as on the real system.
// (Wine's own message table words some of them more briefly.)
const std::pair<std::uint32_t, const char*> kErrorTexts[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {13, "The data is invalid.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {15, "The system cannot find the drive specified.\r\n"},
    {17, "The system cannot move the file to a different disk drive.\r\n"},
    {19, "The media is write protected.\r\n"},
    {21, "The device is not ready.\r\n"},
    {23, "Data error (cyclic redundancy check).\r\n"},
    {29, "The system cannot write to the specified device.\r\n"},
    {30, "The system cannot read from the specified device.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {33,
     "The process cannot access the file because another process has locked a portion of the "
     "file.\r\n"},
    {38, "Reached the end of the file.\r\n"},
    {39, "The disk is full.\r\n"},
    {50, "The request is not supported.\r\n"},
    {53, "The network path was not found.\r\n"},
    {67, "The network name cannot be found.\r\n"},
    {80, "The file exists.\r\n"},
    {82, "The directory or file cannot be created.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {110, "The system cannot open the device or file specified.\r\n"},
    {111, "The file name is too long.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {131, "An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {161, "The specified path is invalid.\r\n"},
    {170, "The requested resource is in use.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {222, "The file type being saved or retrieved has been blocked.\r\n"},
    {223, "The file size exceeds the limit allowed and cannot be saved.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {267, "The directory name is invalid.\r\n"},
    {681, "The create operation stopped after reaching a symbolic link.\r\n"},
    {1001, "Recursion too deep; the stack overflowed.\r\n"},
    {1392, "The file or directory is corrupted and unreadable.\r\n"},
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
