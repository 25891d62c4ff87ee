// A plan builder on a fresh system root, with runtime checks answered from sets and a product index of the
// test's own, so a test states only the configuration and the machine it cares about.
#pragma once

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plan/plan_builder.h"
#include "platform/text.h"
#include "support/test_root.h"

namespace orvo::plan::test {

inline constexpr const char* kConfigPath = "C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork\\install.ini";
inline constexpr const char* kWorkFolder = "C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork";
inline constexpr const char* kLocalConfigFolder = "C:\\Downloads\\OrvoInstaller";
inline constexpr const char* kMsiLog = "C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork\\24_02_19_ISM.Log";
inline constexpr const char* kInstallRoot = "C:\\Program Files (x86)\\Orvo";

class BuilderTest : public ::testing::Test {
 protected:
  BuilderTest() {
    inputs.workFolder = kWorkFolder;
    inputs.localConfigFolder = kLocalConfigFolder;
    inputs.msiLogPath = kMsiLog;
    suite.installFolder = kInstallRoot;
  }

  // Fake detection: a runtime is present when its key or file is in the set. Every call is recorded.
  RuntimeChecks Checks() {
    return RuntimeChecks{
        [this](std::string_view key, std::string_view, bool x86) {
          calls.push_back("reg " + std::string(key) + (x86 ? " x86" : " x64"));
          return present.count(std::string(key)) != 0;
        },
        [this](bool x86, std::string_view file, std::string_view) {
          calls.push_back("file " + std::string(file) + (x86 ? " x86" : " x64"));
          return present.count(std::string(file)) != 0;
        },
        [this](std::string_view key, std::string_view) {
          calls.push_back("release " + std::string(key));
          return present.count(std::string(key)) != 0;
        }};
  }

  InstalledProductIndex Products() {
    return InstalledProductIndex{[this] { return installed; }, [](std::string_view) { return std::string(); }};
  }

  PlanBuilder Builder() { return PlanBuilder(inputs, selection, suite, Checks(), Products()); }

  Plan FromFile(const std::string& ini) {
    root.WriteFile(kConfigPath, ini);
    return Builder().BuildPlanFromFile(kConfigPath);
  }

  // "<type> <install Name or download Name>" per step: compact enough for tables of whole plans.
  static std::vector<std::string> Summary(const Plan& plan) {
    std::vector<std::string> lines;
    for (const PlanStep& step : plan) {
      std::string name = step.install_data.Name.empty() ? step.download_data.Name : step.install_data.Name;
      if (step.type == StepType::Uninstall) name = step.install_data.uninstallId;
      lines.push_back(std::to_string(static_cast<int>(step.type)) + (name.empty() ? "" : " " + name));
    }
    return lines;
  }

  orvo::test::TestRoot root;
  BuildInputs inputs;
  InstallSelection selection;
  SuiteSettings suite;
  std::set<std::string> present;
  std::vector<std::string> calls;
  std::vector<std::string> installed;
};

// A zip or installer action section with the five required keys.
inline std::string Action(const std::string& name, const std::string& file, const std::string& uninstall_id,
                          const std::string& extra = "") {
  return "[" + name + "]\nfilename=" + file + "\nurl=https://cdn.example/" + file + "\nuninstallid=" + uninstall_id +
         "\ndisplayname=" + uninstall_id + " Name\nmainfile=" + uninstall_id + ".exe\n" + extra;
}

inline const char* kSetup = "[setup]\nproductionname=Orvo Suite\ninstallfolder=Orvo Suite\n";

}  // namespace orvo::plan::test
