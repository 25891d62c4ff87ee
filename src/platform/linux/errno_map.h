// errno -> Windows error code, for the Linux side of the layer.
#pragma once

#include <cerrno>
#include <cstdint>

#include "platform/win_types.h"

namespace orvo::platform {

inline std::uint32_t WindowsErrorFromErrno(int code) {
  switch (code) {
    case 0: return error::kSuccess;
    case ENOENT:
    case ELOOP: return error::kFileNotFound;
    case ENOTDIR: return error::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return error::kAccessDenied;
    case EEXIST: return error::kAlreadyExists;
    case ENOTEMPTY: return error::kDirNotEmpty;
    case ENOSPC:
    case EDQUOT: return error::kDiskFull;
    case ENOMEM:
    case EAGAIN: return error::kNotEnoughMemory;  // EAGAIN: out of processes (fork)
    case ENAMETOOLONG: return error::kInvalidName;
    case EBUSY:
    case ETXTBSY: return error::kSharingViolation;
    case EINVAL:
    case E2BIG: return error::kInvalidParameter;  // E2BIG: arguments too long for exec
    case EBADF: return error::kInvalidHandle;
    case ENOEXEC:
    case ELIBBAD: return error::kBadFormat;  // ELIBBAD: a broken program loader
    default: return error::kWriteFault;
  }
}

inline std::uint32_t LastWindowsError() { return WindowsErrorFromErrno(errno); }

}  // namespace orvo::platform
