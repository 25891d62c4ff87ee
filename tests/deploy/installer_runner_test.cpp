#include "deploy/installer_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/log.h"
#include "platform/process.h"
#include "support/recording_launcher.h"
#include "support/scoped_env.h"
#include "support/test_root.h"
#include "system/error_list.h"

namespace orvo::deploy {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

constexpr const char* kSuite = R"(C:\Program Files (x86)\Orvo\Suite)";
constexpr const char* kDownloads = R"(C:\Users\Public\Downloads\Orvo)";
constexpr const char* kRepair = "/q /repair /norestart";

struct Posted {
  std::uintptr_t wparam;
  std::intptr_t lparam;
};

class InstallerRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { sys::TakeSharedErrors(); }
  void TearDown() override { sys::TakeSharedErrors(); }

  static InstallerRunInputs Inputs(const std::string& name, const std::string& parameters = "",
                                   const std::string& repair = "") {
    InstallerRunInputs inputs;
    inputs.step = plan::PlanStep(plan::StepType::PrerequisiteInstall);
    plan::InstallData& data = inputs.step.install_data;
    data.Name = name;
    data.FilePath = std::string(kDownloads) + "\\" + name;
    data.CommandLineParameter = parameters;
    data.RepairParameter = repair;
    inputs.install_folder = kSuite;
    inputs.phase = kPhaseWorking;
    return inputs;
  }

  // Runs the worker and returns the lParam of its one WM_INSTALL_RESULT (wParam 0).
  static std::intptr_t Run(const InstallerRunInputs& inputs) {
    std::vector<Posted> posts;
    EXPECT_EQ(InstallThreadProc(inputs, [&](std::uintptr_t w, std::intptr_t l) { posts.push_back({w, l}); }), 0);
    EXPECT_EQ(posts.size(), 1u) << "exactly one result message";
    if (posts.empty()) return 0x7fff'ffff;
    EXPECT_EQ(posts[0].wparam, 0u);
    return posts[0].lparam;
  }

  std::vector<std::string> DebugLines() const {
    std::vector<std::string> lines;
    for (const auto& entry : log_.Entries()) {
      if (entry.level == log::Level::kDebug) lines.push_back(entry.message);
    }
    return lines;
  }

  void WriteProgram(const std::string& name, const std::string& text = "#!/bin/sh\nexit 0\n") {
    root_.WriteFile(std::string(kDownloads) + "\\" + name, text);
  }

  static std::string Quoted(const std::string& path) { return platform::QuoteArgument(path); }

  test::TestRoot root_;
  log::ScopedCapture log_;
};

TEST_F(InstallerRunnerTest, RepairRunFollowsWhateverTheFirstRunReturnedAndReportsTheSecond) {
  for (long long first : {0LL, 1603LL}) {
    auto launcher = test::RecordingLauncher::Install();
    launcher->answer = [first, calls = 0](const platform::SpawnRequest&) mutable { return ++calls == 1 ? first : 3010; };
    log::ScopedCapture log;
    InstallerRunInputs inputs = Inputs("vcredist_x86.exe", "/q /norestart", kRepair);
    WriteProgram("vcredist_x86.exe");
    const std::string path = inputs.step.install_data.FilePath;

    EXPECT_EQ(Run(inputs), 3010) << first;
    ASSERT_EQ(launcher->requests.size(), 2u);
    EXPECT_EQ(launcher->requests[0].command_line, Quoted(path) + " /q /norestart");
    EXPECT_EQ(launcher->requests[1].command_line, Quoted(path) + " " + kRepair);
    EXPECT_TRUE(launcher->requests[0].hidden && launcher->requests[1].hidden) << "no window shown";
    EXPECT_EQ(launcher->waits, 2);
    std::vector<std::string> lines;
    for (const auto& entry : log.Entries()) lines.push_back(entry.message);
    EXPECT_THAT(lines, ElementsAre("InstallThreadProc Enter", "Installing " + path,
                                   "sei.lpParameters=/q /norestart, sei.lpFile=" + path,
                                   "Exec exitcode=" + std::to_string(first),
                                   "sei.lpParameters=" + std::string(kRepair) + ", sei.lpFile=" + path,
                                   "Exec exitcode=3010", "InstallThreadProc Leave"));
  }
}

TEST_F(InstallerRunnerTest, RuntimeAlreadyPresentCodeCountsAsSuccessOnlyForRuntimes) {
  struct Case {
    const char* name;
    long long exit_code;
    std::intptr_t reported;
  };
  const Case cases[] = {
      {"VC_Redist.x64.exe", 1638, 0},
      {"Microsoft.VCREDIST_X86.EXE", 1638, 0},
      {"vc_redist.x64.exe", 1641, 1641},
      {"setup.exe", 1638, 1638},
  };
  for (const Case& c : cases) {
    auto launcher = test::RecordingLauncher::Install();
    launcher->answer = [&c](const platform::SpawnRequest&) { return c.exit_code; };
    log::ScopedCapture log;
    WriteProgram(c.name);
    EXPECT_EQ(Run(Inputs(c.name, "/quiet")), c.reported) << c.name;
    EXPECT_EQ(log.Contains(log::Level::kDebug, "install vcredist returns 1638, set it as successful."),
              c.reported == 0)
        << c.name;
  }
}

TEST_F(InstallerRunnerTest, AlreadyInstalledStepReportsSuccessWithoutRunningEvenWithoutItsFile) {
  auto launcher = test::RecordingLauncher::Install();
  InstallerRunInputs inputs = Inputs("vc_redist.x86.exe", "/q", kRepair);
  inputs.step.AlreadyInstalled = true;
  EXPECT_EQ(Run(inputs), 0);
  EXPECT_TRUE(launcher->requests.empty());
  EXPECT_THAT(DebugLines(), ElementsAre("InstallThreadProc Enter"));
}

TEST_F(InstallerRunnerTest, FileThatIsNotThereIsReportedAsMinusOne) {
  auto launcher = test::RecordingLauncher::Install();
  root_.WriteFile(std::string(kDownloads) + "\\folder.exe\\inside.txt", "x");
  for (const std::string name : {"missing.exe", "folder.exe"}) {
    log::ScopedCapture log;
    InstallerRunInputs inputs = Inputs(name, "/S");
    EXPECT_EQ(Run(inputs), -1) << name;
    std::vector<std::string> lines;
    for (const auto& entry : log.Entries()) lines.push_back(entry.message);
    EXPECT_THAT(lines, ElementsAre("InstallThreadProc Enter", "setup file not found " + inputs.step.install_data.FilePath,
                                   "InstallThreadProc Leave"));
  }
  InstallerRunInputs empty = Inputs("x.exe");
  empty.step.install_data.FilePath.clear();
  EXPECT_EQ(Run(empty), -1);
  EXPECT_TRUE(launcher->requests.empty());
}

TEST_F(InstallerRunnerTest, TargetFolderIsPassedOnlyToTheOnePackageWhileWorking) {
  const std::string target = std::string(kSuite) + R"(\Studio)";
  struct Case {
    std::string upgrade_code;
    int phase;
    std::string install_folder;
    std::string parameters;
  };
  const std::string code(kTargetDirUpgradeCode);
  const Case cases[] = {
      {code, 1, R"(Studio\)", "/qn TARGETDIR=\"" + target + "\""},
      {code, 1, "Studio", "/qn TARGETDIR=\"" + target + "\""},
      {code, 10, "Studio", "/qn"},
      {code, 2, "Studio", "/qn"},
      {"{11111111-2222-3333-4444-555555555555}", 1, "Studio", "/qn"},
      {"", 1, "Studio", "/qn"},
  };
  test::ScopedEnv handler("ORVO_MSI_HANDLER", "msi-handler");
  WriteProgram("studio.msi", "package");
  for (const Case& c : cases) {
    auto launcher = test::RecordingLauncher::Install();
    InstallerRunInputs inputs = Inputs("studio.msi", "/qn");
    inputs.step.type = plan::StepType::PackageInstall;
    inputs.step.install_data.InstallType = plan::InstallKind::Installer;
    inputs.step.install_data.Upgrade_code = c.upgrade_code;
    inputs.step.install_data.InstallFolder = c.install_folder;
    inputs.phase = c.phase;
    log::ScopedCapture log;
    EXPECT_EQ(Run(inputs), 0);
    const std::string file = inputs.step.install_data.FilePath;
    ASSERT_EQ(launcher->requests.size(), 1u);
    EXPECT_EQ(launcher->requests[0].command_line, "cmd.exe /s /c \"msi-handler '" +
                                                      root_.Linux(file).string() + "' " + c.parameters + "\"")
        << c.upgrade_code << " phase " << c.phase;
    EXPECT_TRUE(log.Contains(log::Level::kDebug, "sei.lpParameters=" + c.parameters + ", sei.lpFile=" + file));
  }
}

std::vector<std::string> ReadLines(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(InstallerRunnerTest, RealSetupProgramGetsItsArgumentsAndItsExitCodeIsReported) {
  const fs::path args = root_.Root() / "setup-args.txt";
  WriteProgram("setup.exe", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + args.string() + "'\nexit 7\n");
  EXPECT_EQ(Run(Inputs("setup.exe", R"(/S "/D=C:\Orvo Apps\Studio")")), 7);
  EXPECT_THAT(ReadLines(args), ElementsAre("/S", R"(/D=C:\Orvo Apps\Studio)"));
  EXPECT_TRUE(log_.Contains(log::Level::kDebug, "Exec exitcode=7"));
}

// The package's target folder reaches the package handler as one whole property, also when the requested
// folder ends in a backslash.
TEST_F(InstallerRunnerTest, RealPackageGetsItsTargetFolderAsOneProperty) {
  const fs::path args = root_.Root() / "msi-args.txt";
  const fs::path handler = root_.Root() / "msi-handler";
  std::ofstream(handler) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << args.string() << "'\nexit 3\n";
  fs::permissions(handler, fs::perms::owner_all);
  test::ScopedEnv variable("ORVO_MSI_HANDLER", handler.string());
  WriteProgram("studio.msi", "package");
  InstallerRunInputs inputs = Inputs("studio.msi", "/qn");
  inputs.step.install_data.Upgrade_code = std::string(kTargetDirUpgradeCode);
  inputs.step.install_data.InstallFolder = R"(Studio\)";
  EXPECT_EQ(Run(inputs), 3);
  EXPECT_THAT(ReadLines(args), ElementsAre(root_.Linux(inputs.step.install_data.FilePath).string(), "/qn",
                                           std::string("TARGETDIR=") + kSuite + R"(\Studio)"));
}

TEST_F(InstallerRunnerTest, FailedStartReportsTheSystemErrorAndTagsTheReportOnce) {
  sys::AddSharedError("Download failed");
  WriteProgram("setup.exe", "MZ not for this system");
  const std::string path = Inputs("setup.exe").step.install_data.FilePath;
  for (int attempt = 0; attempt < 2; ++attempt) {
    log::ScopedCapture log;
    EXPECT_EQ(Run(Inputs("setup.exe", "/S", kRepair)), platform::error::kBadFormat);
    std::vector<std::string> lines;
    for (const auto& entry : log.Entries()) lines.push_back(entry.message);
    EXPECT_THAT(lines, ElementsAre("InstallThreadProc Enter", "Installing " + path,
                                   "sei.lpParameters=/S, sei.lpFile=" + path, "ShellExecuteEx Failed, ErrorCode=11"))
        << "no repair run and no Leave line after a failed start";
  }
  auto launcher = test::RecordingLauncher::Install();
  launcher->answer = [](const platform::SpawnRequest&) { return -static_cast<long long>(platform::error::kAccessDenied); };
  EXPECT_EQ(Run(Inputs("setup.exe", "/S", kRepair)), platform::error::kAccessDenied);
  EXPECT_EQ(launcher->requests.size(), 1u);
  EXPECT_THAT(sys::SharedErrors(), ElementsAre("Download failed", "ShellExecuteEx failed"));
}

}  // namespace
}  // namespace orvo::deploy
