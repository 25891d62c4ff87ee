#include "plan/install_selection.h"

#include <algorithm>

#include "platform/text.h"

namespace orvo::plan {

namespace {

constexpr const char* kBasicContentPack = "Orvo Basic Content Pack";

bool Offered(const PlanStep& step) {
  const InstallData& data = step.install_data;
  return data.TopLevel && !data.IsPrerequisite && data.uninstallId != kCommonUninstallId &&
         !data.DisplayName.empty() && data.DisplayName != kBasicContentPack;
}

}  // namespace

InstallSelection& Selection() {
  static InstallSelection selection;
  return selection;
}

std::string NormaliseAppName(const std::string& name) {
  std::string lowered = platform::LowerCase(name);
  if (lowered.rfind("orvo", 0) == 0) return lowered;
  return "orvo" + lowered;
}

void SetPlanCopy(InstallSelection& selection, const Plan& plan) {
  selection.PlanCopy = plan;
  selection.ContentNames.clear();
  for (const PlanStep& step : plan) {
    if (Offered(step)) selection.ContentNames.push_back(step.install_data.DisplayName);
  }
}

void SetDeselectedNames(InstallSelection& selection, const std::vector<std::string>& names) {
  selection.DeselectedNames = names;
  selection.DeselectedUninstallIds.clear();
  for (const std::string& name : names) {
    for (const PlanStep& step : selection.PlanCopy) {
      if (step.install_data.DisplayName != name) continue;
      selection.DeselectedUninstallIds.push_back(step.install_data.uninstallId);
    }
  }
}

}  // namespace orvo::plan
