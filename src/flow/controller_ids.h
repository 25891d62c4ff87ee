// The main window's vocabulary: its private messages, its timers, the controls and commands it addresses,
// and the pages and layout modes it moves between.
#pragma once

#include <cstdint>

#include "platform/message_loop.h"

namespace orvo::flow {

// Posted to the main window only (workers, the download client and helper threads never call it).
namespace msg {
inline constexpr std::uint32_t kBuildPlan = 0x9001;
inline constexpr std::uint32_t kStepDownload = 0x9003;
inline constexpr std::uint32_t kStepFinish = 0x9004;
inline constexpr std::uint32_t kDownloadDone = 0x9007;
inline constexpr std::uint32_t kDownloadFailed = 0x9008;
inline constexpr std::uint32_t kInstallResult = 0x9009;
inline constexpr std::uint32_t kStepInstall = 0x900A;
inline constexpr std::uint32_t kStepFetchConfig = 0x900C;
inline constexpr std::uint32_t kConfigError = 0x900D;
inline constexpr std::uint32_t kStepReport = 0x900E;
inline constexpr std::uint32_t kReportSent = 0x900F;
inline constexpr std::uint32_t kReportFailed = 0x9010;
inline constexpr std::uint32_t kStepFailed = 0x9011;
inline constexpr std::uint32_t kStepUninstall = 0x9015;
inline constexpr std::uint32_t kStepRestartInstaller = 0x9016;
inline constexpr std::uint32_t kSettingsConfigReady = 0x9018;
inline constexpr std::uint32_t kSelfUpdateChecked = 0x9019;
inline constexpr std::uint32_t kSelfUpdateDownloaded = 0x901A;
inline constexpr std::uint32_t kSelfUpdateDownloadFailed = 0x901B;
inline constexpr std::uint32_t kSetProgress = 0x901C;
inline constexpr std::uint32_t kSelfUpdateFailed = 0x901D;
inline constexpr std::uint32_t kSelfUpdateNotNeeded = 0x901E;
}  // namespace msg

namespace timer {
inline constexpr std::uintptr_t kDownloadProgress = 3;
inline constexpr std::uintptr_t kProgressCreep = 4;
inline constexpr std::uintptr_t kCloseCountdown = 6;
inline constexpr std::uintptr_t kRetryCountdown = 7;
}  // namespace timer

// Commands (WM_COMMAND wParam) and the controls the controller writes.
namespace control {
inline constexpr int kClose = 2;
inline constexpr int kCloseButton = 1002;
inline constexpr int kStatisticsInfo = 1004;
inline constexpr int kMinimise = 1005;
inline constexpr int kLanguage = 1006;
inline constexpr int kCustomize = 1007;
inline constexpr int kInstallNow = 1008;
inline constexpr int kFolderPath = 1012;
inline constexpr int kBrowseFolder = 1013;
inline constexpr int kLicenceBox = 1015;
inline constexpr int kStatisticsBox = 1016;
inline constexpr int kProgressBar = 1017;
inline constexpr int kStatusLine = 1018;
inline constexpr int kPercentLabel = 1019;
inline constexpr int kCompletionButtonA = 1021;
inline constexpr int kDescription = 1022;
inline constexpr int kCompletionButton = 1023;
inline constexpr int kStartAnimation = 1025;
inline constexpr int kAssociationBox = 1066;
inline constexpr int kTitle = 1067;
inline constexpr int kCloseCountdownLabel = 1068;
inline constexpr int kFreeSpaceLabel = 1069;
inline constexpr int kInstallationSettings = 1071;
inline constexpr int kDesktopShortcutBox = 1086;
}  // namespace control

// The page ids.
namespace page {
inline constexpr int kNone = 0;
inline constexpr int kWelcome = 1;
inline constexpr int kProgress = 3;
inline constexpr int kCompleted = 4;
inline constexpr int kFailureOrReport = 7;
inline constexpr int kUninstallWelcome = 9;
}  // namespace page

// The layout modes.
namespace phase {
inline constexpr int kNone = 0;
inline constexpr int kWorking = 1;
inline constexpr int kCompleted = 2;
inline constexpr int kFailure = 3;
inline constexpr int kReportFinished = 4;
inline constexpr int kWelcome = 10;
}  // namespace phase

inline constexpr const char* kCaption = "Orvo Installer";

}  // namespace orvo::flow
