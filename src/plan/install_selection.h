// The user's narrowing of the plan: one record for the whole process. The command line fills the excluded
// applications, the installation-settings dialog the deselection; the plan builder only reads it.
#pragma once

#include <string>
#include <vector>

#include "plan/plan_model.h"

namespace orvo::plan {

// The product that every suite installs and that is never offered for deselection.
inline constexpr const char* kCommonUninstallId = "Orvo Common";

struct InstallSelection {
  // While set the builder ignores the deselection (the settings dialog builds the full plan).
  bool NoFiltering = false;
  std::vector<std::string> DeselectedNames;
  std::vector<std::string> ContentNames;
  Plan PlanCopy;
  std::vector<std::string> DeselectedUninstallIds;
  // Normalised file-name prefixes: lower-cased, "orvo" in front.
  std::vector<std::string> ExcludedApps;
  bool CustomInstallation = false;
};

// The process's record, created on first use.
InstallSelection& Selection();

// "orvo" + the lower-cased name, unless the lower-cased name already begins with "orvo".
std::string NormaliseAppName(const std::string& name);

// Keeps the full plan for the settings dialog and offers the names of its top-level, non-prerequisite
// products (not "Orvo Common", not "Orvo Basic Content Pack", no empty names), in plan order.
void SetPlanCopy(InstallSelection& selection, const Plan& plan);

// The dialog's answer: the unticked names and, for each, the uninstall id of every step of PlanCopy that
// carries that display name.
void SetDeselectedNames(InstallSelection& selection, const std::vector<std::string>& names);

}  // namespace orvo::plan
