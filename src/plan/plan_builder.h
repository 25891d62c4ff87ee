// The plan builder: turns the install configuration, an "/install" item list or an "/uninstall" item list
// into the plan of steps. Everything it depends on is passed in (run options, selection, folders, the
// machine), so it reads no process-wide state of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/config_file.h"
#include "plan/install_selection.h"
#include "plan/item_list.h"
#include "plan/plan_model.h"

namespace orvo::plan {

inline constexpr const char* kRepairParameter = "/q /repair /norestart";

// What the builder needs of the run options, the controller's folders and the machine.
struct BuildInputs {
  bool uninstall = false;
  std::string product;  // the "/install" or "/uninstall" text
  bool silent = false;
  bool hostMode = false;  // "/daemon"
  bool createDesktopShortcuts = false;
  // The folder "OrvoInstaller" beside the executable, where packages may be supplied ahead of time.
  std::string localConfigFolder;
  std::string workFolder;  // where downloads go
  std::string msiLogPath;  // handed to MSI packages with "/log"
  bool windows64 = true;
  std::uint32_t windowsMajor = 10;
  std::uint32_t windowsMinor = 0;
};

// The suite settings of the "setup" section, kept by the controller. A file build updates the values whose
// keys are present; installFolder comes in as the install root and leaves extended by the suite's folder,
// so the caller passes the root on every build.
struct SuiteSettings {
  std::string productName;
  std::string installFolder;
  std::string launchFile;
  int startAppId = -1;
  std::string launchName;
};

// The runtime detection; the defaults (and any member left empty) are the checks of this machine
// (prerequisites.h).
struct RuntimeChecks {
  std::function<bool(std::string_view key, std::string_view required, bool x86)> registryVersion;
  std::function<bool(bool x86, std::string_view file, std::string_view required)> fileVersion;
  std::function<bool(std::string_view key, std::string_view required)> releaseNumber;
};
RuntimeChecks MachineRuntimeChecks();

// Reads the selection and updates the suite settings through references: both must outlive the builder.
class PlanBuilder {
 public:
  PlanBuilder(const BuildInputs& inputs, const InstallSelection& selection, SuiteSettings& suite,
              RuntimeChecks checks = MachineRuntimeChecks(), InstalledProductIndex products = RegisteredProducts());

  // The controller's entry: uninstall list, configuration file (nothing while no path is known) or
  // install list, as the inputs say.
  Plan BuildPlan(std::string_view configuration_path);
  Plan BuildPlanFromFile(std::string_view path);
  Plan BuildPlanFromItems(std::string_view text);
  Plan BuildUninstallPlan(std::string_view text);

  std::vector<PlanStep> GetPreRequestActon(const Section& section, const std::string& repair_parameter,
                                           bool already_installed) const;
  std::vector<PlanStep> GetMSIAction(const Section& section) const;
  std::vector<PlanStep> GetUnzipAction(const Section& section) const;

  bool IsDeselected(const std::string& display_name, bool top_level) const;
  bool IsExcludedApp(const std::string& file_name) const;

 private:
  struct Location {
    std::string filePath;
    bool download = false;
  };
  Location LocateFile(const Section& section, bool folder_counts) const;
  bool Filtered(const Section& section, bool top_level) const;
  bool SkippedByMachine(const Section& section) const;
  std::string WindowsGeneration() const;
  PlanStep PackageDownloadStep(const Section& section) const;
  void AddShortcuts(const Section& section, InstallData& data) const;
  void ReadSuiteSettings(const Section& setup);
  void AddVcRuntime(const Section& section, bool x86, bool host_extra, Plan& plan) const;
  void AddDotNet(const Section& section, bool host_extra, Plan& plan) const;
  std::vector<PlanStep> ActionSteps(const Section& section) const;

  BuildInputs inputs_;
  const InstallSelection& selection_;
  SuiteSettings& suite_;
  RuntimeChecks checks_;
  InstalledProductIndex products_;
};

}  // namespace orvo::plan
