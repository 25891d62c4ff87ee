// The three entries of the builder: the configuration file, the "/install" list and the "/uninstall" list.
#include "plan/plan_builder.h"

#include <set>
#include <span>

#include "app/log.h"
#include "plan/prerequisites.h"
#include "plan/section_values.h"
#include "platform/text.h"

namespace orvo::plan {

namespace {

constexpr std::int32_t kUninstallInterval = 200;

struct RequiredKey {
  const char* key;
  const char* label;  // as the missing-keys line prints it
};

constexpr RequiredKey kVcKeys[] = {{"filename", "filename "}, {"url", "url "}, {"parameter", "parameter "},
                                   {"displayname", "displayname "}, {"minversion", "minversion"}};
constexpr RequiredKey kDotNetKeys[] = {{"filename", "filename "},       {"url", "url "},
                                       {"parameter", "parameter "},     {"displayname", "displayname "},
                                       {"minversion", "minversion"},    {"checkreg", "checkreg"}};
// The item form requires the same six keys but names only these five in its line.
constexpr RequiredKey kDotNetItemLine[] = {{"filename", "filename "}, {"url", "url "}, {"parameter", "parameter "},
                                           {"displayname", "displayname "}, {"checkreg", "checkreg"}};
constexpr RequiredKey kActionKeys[] = {{"filename", "filename "}, {"url", "url "}, {"uninstallid", "uninstallid "},
                                       {"displayname", "displayname "}, {"mainfile", "mainfile"}};

bool HasAll(const Section& section, std::span<const RequiredKey> keys) {
  for (const RequiredKey& required : keys) {
    if (!section.Has(required.key)) return false;
  }
  return true;
}

// "essencial elements missing- %s %s ..." with the label of each missing key, an empty text for each
// present one.
void LogMissing(const Section& section, std::span<const RequiredKey> keys) {
  std::string line = "essencial elements missing-";
  for (const RequiredKey& required : keys) {
    line += ' ';
    if (!section.Has(required.key)) line += required.label;
  }
  log::Error("%s", line.c_str());
}

Plan ConfigurationErrorPlan() { return Plan{PlanStep(StepType::ConfigurationError)}; }

void Append(Plan& plan, std::vector<PlanStep> steps) {
  for (PlanStep& step : steps) plan.push_back(std::move(step));
}

bool Contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

bool IsZipFile(const std::string& file_name) { return platform::EndsWithNoCase(file_name, "zip"); }

}  // namespace

RuntimeChecks MachineRuntimeChecks() {
  return RuntimeChecks{CheckRegistryVersion, CheckFileVersion, CheckReleaseNumber};
}

PlanBuilder::PlanBuilder(const BuildInputs& inputs, const InstallSelection& selection, SuiteSettings& suite,
                         RuntimeChecks checks, InstalledProductIndex products)
    : inputs_(inputs), selection_(selection), suite_(suite), checks_(std::move(checks)),
      products_(std::move(products)) {
  // A check left out is this machine's, so a caller can replace one and keep the others.
  const RuntimeChecks machine = MachineRuntimeChecks();
  if (!checks_.registryVersion) checks_.registryVersion = machine.registryVersion;
  if (!checks_.fileVersion) checks_.fileVersion = machine.fileVersion;
  if (!checks_.releaseNumber) checks_.releaseNumber = machine.releaseNumber;
}

Plan PlanBuilder::BuildPlan(std::string_view configuration_path) {
  if (inputs_.uninstall) return BuildUninstallPlan(inputs_.product);
  if (!inputs_.product.empty()) return BuildPlanFromItems(inputs_.product);
  if (configuration_path.empty()) return Plan();
  return BuildPlanFromFile(configuration_path);
}

void PlanBuilder::ReadSuiteSettings(const Section& setup) {
  if (const std::string* name = setup.Find("productionname")) {
    suite_.productName = *name;
    log::Info("**************Install Product Name :%s *************", name->c_str());
  }
  if (const std::string* folder = setup.Find("installfolder")) {
    suite_.installFolder = BackslashPath(JoinPath(suite_.installFolder, BackslashPath(*folder)));
  }
  if (const std::string* file = setup.Find("launchfile")) suite_.launchFile = *file;
  if (const std::string* id = setup.Find("launchid")) {
    if (const std::optional<std::int32_t> number = ParseDecimal(*id)) {
      suite_.startAppId = *number;
      log::Debug("Start Applicatoin Id: %d", suite_.startAppId);
    } else {
      log::Error("Cannot parse lauchid: %s", id->c_str());
      suite_.startAppId = -1;
    }
  }
  if (const std::string* name = setup.Find("launchname")) suite_.launchName = *name;
}

void PlanBuilder::AddVcRuntime(const Section& section, bool x86, bool host_extra, Plan& plan) const {
  const std::string required = section.Get("minversion");
  const bool reg_failed = section.Has("checkreg") && !checks_.registryVersion(section.Get("checkreg"), required, x86);
  const bool file_failed = section.Has("checkfile") && !checks_.fileVersion(x86, section.Get("checkfile"), required);
  if (reg_failed || file_failed) {
    // One check passing means the runtime is there but damaged: repair it after the install run.
    Append(plan, GetPreRequestActon(section, reg_failed != file_failed ? kRepairParameter : "", false));
  } else if (host_extra) {
    Append(plan, GetPreRequestActon(section, "", true));
  }
}

void PlanBuilder::AddDotNet(const Section& section, bool host_extra, Plan& plan) const {
  if (!checks_.releaseNumber(section.Get("checkreg"), section.Get("minversion"))) {
    Append(plan, GetPreRequestActon(section, "", false));
  } else if (host_extra) {
    Append(plan, GetPreRequestActon(section, "", true));
  }
}

std::vector<PlanStep> PlanBuilder::ActionSteps(const Section& section) const {
  const std::string file_name = section.Get("filename");
  if (platform::EndsWithNoCase(file_name, "msi") || platform::EndsWithNoCase(file_name, "exe")) {
    return GetMSIAction(section);
  }
  if (IsZipFile(file_name)) return GetUnzipAction(section);
  return {};
}

Plan PlanBuilder::BuildPlanFromFile(std::string_view path) {
  const ConfigFile file = ConfigFile::Load(path);
  const Section* setup = file.Find("setup");
  if (file.Sections().size() < 2 || setup == nullptr) {
    log::Error("essencial elements setup missing");
    return ConfigurationErrorPlan();
  }
  ReadSuiteSettings(*setup);
  Plan plan;
  for (const NamedSection& named : file.Sections()) {
    if (Contains(named.name, "vcredist64") && !inputs_.windows64) continue;
    if (!Contains(named.name, "vcredist")) continue;
    if (!HasAll(named.section, kVcKeys)) {
      log::Error("parse ini item vcredist error");
      LogMissing(named.section, kVcKeys);
      return ConfigurationErrorPlan();
    }
    AddVcRuntime(named.section, !Contains(named.name, "vcredist64"), false, plan);
  }
  for (const NamedSection& named : file.Sections()) {
    if (!Contains(named.name, "dotnet")) continue;
    if (!HasAll(named.section, kDotNetKeys)) {
      log::Error("parse ini item dotnet error");
      LogMissing(named.section, kDotNetKeys);
      return ConfigurationErrorPlan();
    }
    AddDotNet(named.section, false, plan);
  }
  std::set<std::string> seen_ids;
  std::set<std::string> shared_ids;
  for (const NamedSection& named : file.Sections()) {
    if (!Contains(named.name, "action")) continue;
    if (!HasAll(named.section, kActionKeys)) {
      log::Error("parse ini item :%s error", named.name.c_str());
      LogMissing(named.section, kActionKeys);
      return ConfigurationErrorPlan();
    }
    std::vector<PlanStep> steps = ActionSteps(named.section);
    if (steps.empty()) continue;
    const std::string uninstall_id = named.section.Get("uninstallid");
    if (!seen_ids.insert(uninstall_id).second) shared_ids.insert(uninstall_id);
    Append(plan, std::move(steps));
  }
  for (PlanStep& step : plan) {
    if (shared_ids.count(step.install_data.uninstallId) != 0) step.install_data.SharedUninstallId = true;
  }
  plan.emplace_back(StepType::Finish);
  return plan;
}

Plan PlanBuilder::BuildPlanFromItems(std::string_view text) {
  Plan plan;
  bool finish = !inputs_.hostMode;
  for (const Section& item : InstallItems(text)) {
    const std::string uninstall_id = item.Get("uninstallid");
    if (item.Get("displayname") == "Orvo Start") finish = true;
    if (uninstall_id == "vcredist" || uninstall_id == "vcredist64") {
      if (uninstall_id == "vcredist64" && !inputs_.windows64) continue;
      if (!HasAll(item, kVcKeys)) {
        log::Error("parse ini item :%s error", uninstall_id.c_str());
        LogMissing(item, kVcKeys);
        return ConfigurationErrorPlan();
      }
      AddVcRuntime(item, uninstall_id == "vcredist", inputs_.hostMode, plan);
    } else if (uninstall_id == "dotnet") {
      if (!HasAll(item, kDotNetKeys)) {
        log::Error("parse ini item :%s", uninstall_id.c_str());
        LogMissing(item, kDotNetItemLine);
        return ConfigurationErrorPlan();
      }
      AddDotNet(item, inputs_.hostMode, plan);
    } else {
      if (!HasAll(item, kActionKeys)) {
        LogMissing(item, kActionKeys);
        return ConfigurationErrorPlan();
      }
      std::vector<PlanStep> steps = ActionSteps(item);
      // Restarting is only right when this list really installs the new installer copy.
      const bool restart = inputs_.hostMode && IsZipFile(item.Get("filename")) &&
                           (uninstall_id == "0" || uninstall_id == "OrvoInstaller") && !steps.empty() &&
                           steps.back().type == StepType::PackageInstall;
      Append(plan, std::move(steps));
      if (restart) plan.emplace_back(StepType::RestartInstaller);
    }
  }
  if (finish) plan.emplace_back(StepType::Finish);
  return plan;
}

Plan PlanBuilder::BuildUninstallPlan(std::string_view text) {
  Plan plan;
  for (const Section& item : UninstallItems(text, products_)) {
    const std::string uninstall_id = item.Get("uninstallid");
    if (uninstall_id.empty()) {
      if (inputs_.silent) continue;
      log::Error("essencial elements uninstallid missing");
      return ConfigurationErrorPlan();
    }
    PlanStep step(StepType::Uninstall);
    step.id = item.Get("id");
    step.install_data.uninstallId = uninstall_id;
    step.install_data.DisplayName = uninstall_id;
    step.install_data.ProgressInterval = kUninstallInterval;
    plan.push_back(std::move(step));
  }
  if (!inputs_.hostMode) plan.emplace_back(StepType::Finish);
  return plan;
}

}  // namespace orvo::plan
