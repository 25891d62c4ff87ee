// The steps of one configuration section or item: runtime prerequisites, installer programs and zip
// packages, with where their file comes from and the user's selection applied.
#include <algorithm>
#include <optional>

#include "app/log.h"
#include "plan/plan_builder.h"
#include "plan/section_values.h"
#include "platform/text.h"
#include "system/file_helpers.h"

namespace orvo::plan {

namespace {

constexpr std::int32_t kPrerequisiteInterval = 1000;

bool ExistsAsFileOrFolder(const std::string& path, bool folder_counts) {
  return sys::FileExists(path) || (folder_counts && sys::FolderExists(path));
}

// The size of a section: a non-negative decimal number, else none.
std::optional<std::int32_t> ByteSize(const Section& section) {
  const std::string* size = section.Find("size");
  if (size == nullptr) return std::nullopt;
  const std::optional<std::int32_t> number = ParseDecimal(*size);
  if (!number || *number < 0) return std::nullopt;
  return number;
}

}  // namespace

PlanBuilder::Location PlanBuilder::LocateFile(const Section& section, bool folder_counts) const {
  const std::string url = section.Get("url");
  const std::string file_name = section.Get("filename");
  const bool remote = platform::StartsWithNoCase(url, "http") || !ExistsAsFileOrFolder(url, folder_counts);
  if (!remote) return Location{url, false};
  if (!file_name.empty() && !inputs_.localConfigFolder.empty()) {
    std::string supplied = JoinPath(inputs_.localConfigFolder, file_name);
    if (ExistsAsFileOrFolder(supplied, folder_counts)) return Location{std::move(supplied), false};
  }
  return Location{JoinPath(inputs_.workFolder, file_name), true};
}

bool PlanBuilder::IsDeselected(const std::string& display_name, bool top_level) const {
  const InstallSelection& s = selection_;
  if (s.NoFiltering || display_name.empty() || s.DeselectedNames.empty()) return false;
  if (std::find(s.DeselectedNames.begin(), s.DeselectedNames.end(), display_name) != s.DeselectedNames.end()) {
    return true;
  }
  if (top_level || s.DeselectedUninstallIds.empty()) return false;
  // A sub-package goes with its deselected product.
  return std::any_of(s.PlanCopy.begin(), s.PlanCopy.end(), [&](const PlanStep& step) {
    return step.install_data.DisplayName == display_name &&
           std::find(s.DeselectedUninstallIds.begin(), s.DeselectedUninstallIds.end(),
                     step.install_data.uninstallId) != s.DeselectedUninstallIds.end();
  });
}

bool PlanBuilder::IsExcludedApp(const std::string& file_name) const {
  if (selection_.ExcludedApps.empty()) return false;
  const std::string name = NormaliseAppName(file_name);
  for (const std::string& entry : selection_.ExcludedApps) {
    if (name.rfind(entry, 0) == 0) {
      log::Info("Exclude App: %s", entry.c_str());
      return true;
    }
  }
  return false;
}

bool PlanBuilder::Filtered(const Section& section, bool top_level) const {
  return IsDeselected(section.Get("displayname"), top_level) || IsExcludedApp(section.Get("filename"));
}

std::vector<PlanStep> PlanBuilder::GetPreRequestActon(const Section& section, const std::string& repair_parameter,
                                                      bool already_installed) const {
  std::vector<PlanStep> steps;
  const Location location = LocateFile(section, false);
  const std::string display_name = section.Get("displayname");
  const std::string* md5 = section.Find("md5");
  if (location.download) {
    PlanStep step(StepType::PrerequisiteDownload);
    step.id = section.Get("id");
    DownloadData& d = step.download_data;
    d.URL = section.Get("url");
    d.Name = section.Get("filename");
    d.DisplayName = display_name;
    d.SystemComponents = section.IsYes("systemcomponents");
    d.OrvoComponents = section.IsYes("orvocomponents");
    d.Md5 = section.Get("md5");
    if (md5 != nullptr) {
      log::Debug("Download GetPreRequestActon file:%s MD5:%s \r\n", display_name.c_str(), md5->c_str());
    }
    if (const std::optional<std::int32_t> size = ByteSize(section)) {
      d.ByteSize = *size;
      log::Debug("Download GetPreRequestActon file:%s size:%ld \r\n", display_name.c_str(), static_cast<long>(*size));
    }
    steps.push_back(std::move(step));
  }
  PlanStep step(StepType::PrerequisiteInstall);
  step.id = section.Has("id") ? section.Get("id") : section.Get("uninstallid");
  step.AlreadyInstalled = already_installed;
  InstallData& i = step.install_data;
  i.Name = section.Get("filename");
  i.FilePath = location.filePath;
  i.DisplayName = display_name;
  i.InstallType = InstallKind::Prerequisite;
  i.CommandLineParameter = section.Get("parameter");
  i.SuccessExitCodes = {{3010, kExitKindRestart}, {1641, kExitKindRestart}};
  i.ProgressInterval = kPrerequisiteInterval;
  i.DownloadFirst = location.download;
  i.Md5 = section.Get("md5");
  if (md5 != nullptr) log::Debug("Download GetPreRequestActon install_data md5:%s \r\n", md5->c_str());
  i.IsPrerequisite = section.IsYes("isPrerequisite");
  i.RepairParameter = repair_parameter;
  i.SystemComponents = section.IsYes("systemcomponents");
  i.OrvoComponents = section.IsYes("orvocomponents");
  steps.push_back(std::move(step));
  return steps;
}

PlanStep PlanBuilder::PackageDownloadStep(const Section& section) const {
  PlanStep step(StepType::PackageDownload);
  step.id = section.Get("id");
  DownloadData& d = step.download_data;
  d.UpdateType = "setup";
  d.URL = section.Get("url");
  d.ByteSize = ByteSize(section).value_or(0);
  d.Name = section.Get("filename");
  d.DisplayName = section.Get("displayname");
  d.Md5 = section.Get("md5");
  return step;
}

std::vector<PlanStep> PlanBuilder::GetMSIAction(const Section& section) const {
  std::vector<PlanStep> steps;
  const Location location = LocateFile(section, false);
  const std::string file_name = section.Get("filename");
  if (location.download) {
    PlanStep download = PackageDownloadStep(section);
    if (const std::string* md5 = section.Find("md5")) {
      log::Debug("GetMSIAction download_data fileName:%s md5:%s \r\n", file_name.c_str(), md5->c_str());
    } else {
      log::Debug("GetMSIAction download_data fileName:%s no md5 \r\n", file_name.c_str());
    }
    if (!Filtered(section, false)) steps.push_back(std::move(download));
  }
  PlanStep step(StepType::PackageInstall);
  step.id = section.Get("id");
  InstallData& i = step.install_data;
  i.UpdateType = "setup";
  i.Name = file_name;
  i.FilePath = location.filePath;
  i.DisplayName = section.Get("displayname");
  i.InstallType = InstallKind::Installer;
  i.Md5 = section.Get("md5");
  i.Upgrade_code = section.Get("upgradecode");
  i.InstallFolder = BackslashPath(section.Get("installfolder"));
  i.checkVersionFile = section.Get("mainfile");
  i.CommandLineParameter = " /log \"" + inputs_.msiLogPath + "\" " + section.Get("parameter");
  i.DownloadFirst = location.download;
  if (!Filtered(section, false)) steps.push_back(std::move(step));
  return steps;
}

}  // namespace orvo::plan
