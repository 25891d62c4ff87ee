#include "plan/plan_model.h"

#include "app/log.h"
#include "platform/text.h"

namespace orvo::plan {

namespace {

std::string StepLine(std::size_t number, const PlanStep& step) {
  return platform::Format("current step:%d id:%s type:%d ", static_cast<int>(number), step.id.c_str(),
                          static_cast<int>(step.type));
}

std::string DownloadLine(const DownloadData& d) {
  return platform::Format(
      "----------------download_data-----------------\n UpdateType:%s  ReleaseNotes:%s URL:%s DisplayName:%s "
      "ByteSize:%ld Name:%s",
      d.UpdateType.c_str(), d.ReleaseNotes.c_str(), d.URL.c_str(), d.DisplayName.c_str(),
      static_cast<long>(d.ByteSize), d.Name.c_str());
}

std::string InstallLine(const InstallData& i) {
  return platform::Format(
      "----------------install_data-----------------\n UpdateType:%s  InstallType:%d  Name:%s FilePath:%s "
      "DisplayName:%s Upgrade_code:%s \n CommandLineParameter:%s InstallFolder:%s checkVersionFile:%s \n "
      "uninstallId:%s version:%s preexecfile:%s",
      i.UpdateType.c_str(), static_cast<int>(i.InstallType), i.Name.c_str(), i.FilePath.c_str(),
      i.DisplayName.c_str(), i.Upgrade_code.c_str(), i.CommandLineParameter.c_str(), i.InstallFolder.c_str(),
      i.checkVersionFile.c_str(), i.uninstallId.c_str(), i.version.c_str(), i.preexecfile.c_str());
}

}  // namespace

std::vector<std::string> PlanDumpLines(const Plan& plan) {
  std::vector<std::string> lines;
  std::size_t number = 0;
  for (const PlanStep& step : plan) {
    lines.push_back(StepLine(number++, step));
    if (!step.download_data.UpdateType.empty()) lines.push_back(DownloadLine(step.download_data));
    if (!step.install_data.UpdateType.empty()) lines.push_back(InstallLine(step.install_data));
  }
  return lines;
}

void DumpPlan(const Plan& plan) {
  for (const std::string& line : PlanDumpLines(plan)) log::Debug("%s", line.c_str());
}

}  // namespace orvo::plan
