// Windows-shaped scalar types and codes the core works with. They are plain integers, so the core never
// needs a Windows header; a Win32 build of the platform layer maps them one to one.
#pragma once

#include <cstdint>

namespace orvo::platform {

// A window handle as a number. Handles of this process's windows and of windows in other processes (a
// host program) share one number space: the high bits hold the owning process id.
using WindowHandle = std::uint64_t;
inline constexpr WindowHandle kNoWindow = 0;

// Windows error codes returned by the layer (0 is success).
namespace error {
inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kPathNotFound = 3;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidHandle = 6;
inline constexpr std::uint32_t kNotEnoughMemory = 8;
inline constexpr std::uint32_t kBadFormat = 11;
inline constexpr std::uint32_t kInvalidData = 13;
inline constexpr std::uint32_t kOutOfMemory = 14;
inline constexpr std::uint32_t kWriteFault = 29;
inline constexpr std::uint32_t kReadFault = 30;
inline constexpr std::uint32_t kSharingViolation = 32;
inline constexpr std::uint32_t kFileExists = 80;
inline constexpr std::uint32_t kInvalidParameter = 87;
inline constexpr std::uint32_t kDiskFull = 112;
inline constexpr std::uint32_t kInsufficientBuffer = 122;
inline constexpr std::uint32_t kInvalidName = 123;
inline constexpr std::uint32_t kDirNotEmpty = 145;
inline constexpr std::uint32_t kAlreadyExists = 183;
inline constexpr std::uint32_t kMoreData = 234;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kNoMoreItems = 259;
inline constexpr std::uint32_t kNoAssociation = 1155;
inline constexpr std::uint32_t kCantAccessFile = 1920;
inline constexpr std::uint32_t kKeyDeleted = 1018;
inline constexpr std::uint32_t kBadPathname = 161;
}  // namespace error

// Process and wait codes.
inline constexpr std::uint32_t kStillActive = 259;  // exit code of a process that has not ended
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// Message box buttons and answers (the subset the installer uses).
inline constexpr std::uint32_t kMbOk = 0x0;
inline constexpr std::uint32_t kMbOkCancel = 0x1;
inline constexpr std::uint32_t kMbYesNo = 0x4;
inline constexpr std::uint32_t kMbIconError = 0x10;
inline constexpr std::uint32_t kMbIconWarning = 0x30;
inline constexpr std::uint32_t kMbIconInformation = 0x40;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

}  // namespace orvo::platform
