// The plan: the ordered steps one run works through, and the records every worker reads from its step.
// Steps are plain values; the controller copies the front step before it removes it from the plan.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace orvo::plan {

// What a step does; the values are those the controller dispatches on.
enum class StepType : std::int32_t {
  ShowFailure = 2,
  FetchConfiguration = 5,
  PrerequisiteDownload = 8,
  PackageDownload = 9,
  ProblemReport = 10,
  PrerequisiteInstall = 12,
  PackageInstall = 13,
  Finish = 14,
  ConfigurationError = 16,
  Uninstall = 17,
  RestartInstaller = 18,
};

// How the file of an install step is installed (the `InstallType` field).
enum class InstallKind : std::int32_t {
  Prerequisite = 0,
  Installer = 2,
  ZipPackage = 3,
};

// Exit-code kind of `SuccessExitCodes`: success that needs a restart.
inline constexpr std::int32_t kExitKindRestart = 1;
// Default milliseconds between two ticks of the progress animation.
inline constexpr std::int32_t kDefaultProgressInterval = 300;

struct DownloadData {
  std::string UpdateType;
  std::string ReleaseNotes;
  std::string URL;
  std::string DisplayName;
  std::int32_t ByteSize = 0;
  std::string Name;
  std::string Md5;
  std::int32_t RetryCount = 0;
  bool SystemComponents = false;
  bool OrvoComponents = false;
};

struct InstallData {
  std::string UpdateType;
  InstallKind InstallType = InstallKind::Prerequisite;
  std::string Name;
  std::string FilePath;
  std::string DisplayName;
  std::string Upgrade_code;
  std::string CommandLineParameter;
  std::string InstallFolder;
  std::string checkVersionFile;
  std::string uninstallId;
  std::string version;
  std::string preexecfile;
  std::string StartMenuFolder;
  // Shortcut name-and-path -> target file; std::map orders keys by byte (ordinal) comparison.
  std::map<std::string, std::string> Shortcuts;
  std::string AppUserModelId;
  std::string ActivatorId;
  // Installer exit code -> kind (kExitKindRestart).
  std::map<std::int32_t, std::int32_t> SuccessExitCodes;
  std::int32_t ProgressInterval = kDefaultProgressInterval;
  bool CheckVersion = false;
  bool TopLevel = false;
  bool SharedUninstallId = false;
  bool RegisterUninstall = false;
  bool CreateShortcut = false;
  bool StartMenu = false;
  bool DownloadFirst = false;
  std::string Md5;
  bool IsPrerequisite = false;
  bool HasUrlShortcuts = false;
  std::vector<std::string> UrlShortcuts;
  std::vector<std::string> ShortcutOptions;
  std::string RepairParameter;
  bool SystemComponents = false;
  bool OrvoComponents = false;
  bool NoShortcut = false;
};

// The problem report's form contents, carried by a ProblemReport step.
struct ReportData {
  std::string email;
  std::string subject;
  std::string message;
  std::string name;
};

struct PlanStep {
  PlanStep() = default;
  explicit PlanStep(StepType step_type) : type(step_type) {}

  std::string id;
  StepType type = StepType::Finish;
  DownloadData download_data;
  InstallData install_data;
  struct ReportData ReportData;
  bool AlreadyInstalled = false;
};

// Front to back; the controller takes from the front.
using Plan = std::deque<PlanStep>;

// The plan dump the controller writes at Debug level after every build.
void DumpPlan(const Plan& plan);
// The dump's messages, one per log call, as DumpPlan writes them.
std::vector<std::string> PlanDumpLines(const Plan& plan);

}  // namespace orvo::plan
