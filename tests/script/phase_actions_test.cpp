// The "registertype" section and the phase actions: "ftype"/"assoc", "taskkill" over the real process
// list, "fileremove", "regsvr32", "uninstallmsi" through the uninstall entries, "cmd" and "checkfrsdk".
#include "script/phase_actions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/log.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/system_profile.h"
#include "script/script_context.h"
#include "support/recording_launcher.h"
#include "support/test_root.h"

namespace orvo::script {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using json = nlohmann::json;

constexpr const char* kUninstallKey = R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\)";

class PhaseTest : public ::testing::Test {
 protected:
  PhaseTest() : launcher_(test::RecordingLauncher::Install()) {
    context_.variables = {{"%pkg%", R"(C:\Orvo\Pkg)"}, {"%ext%", ".orv"}};
  }

  std::vector<std::string> CommandLines() const {
    std::vector<std::string> lines;
    for (const auto& request : launcher_->requests) lines.push_back(request.command_line);
    return lines;
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const auto& entry : capture_.Entries()) messages.push_back(entry.message);
    return messages;
  }
  void Phase(const std::string& actions, bool uninstall = false) {
    ScriptContext context = context_;
    context.uninstall = uninstall;
    RunPhase(json::parse(actions), context);
  }
  void RegisterTypes(const std::string& items, bool uninstall) {
    ScriptContext context = context_;
    context.uninstall = uninstall;
    RunRegisterTypeSection(json::parse(items), context);
  }
  static void UninstallEntry(const std::string& id, const std::string& name, const std::string& quiet,
                             const std::string& normal) {
    const std::string key = kUninstallKey + id;
    ASSERT_EQ(platform::Reg().CreateKey(platform::Hive::kLocalMachine, key), 0u);
    platform::Reg().SetString(platform::Hive::kLocalMachine, key, "DisplayName", name);
    if (!quiet.empty()) platform::Reg().SetString(platform::Hive::kLocalMachine, key, "QuietUninstallString", quiet);
    if (!normal.empty()) platform::Reg().SetString(platform::Hive::kLocalMachine, key, "UninstallString", normal);
  }

  test::TestRoot root_;
  std::shared_ptr<test::RecordingLauncher::Shared> launcher_;
  log::ScopedCapture capture_;
  ScriptContext context_;
};

// ---- "registertype" --------------------------------------------------------------------------------

TEST_F(PhaseTest, FileTypesAreRegisteredPerExtensionWithoutWaiting) {
  const std::string items = R"([{"extensions": [".mp4", "", 3, ".%ext%"], "prekey": "Orvo.", "postkey": "1",
                                 "path": "%pkg%\\Showcase.exe"}])";
  RegisterTypes(items, false);
  // "Orvo." and the extension's own dot give two dots in a row; extensions are not expanded.
  EXPECT_THAT(CommandLines(),
              ElementsAre(R"(cmd.exe /c "ftype Orvo..mp4.1="C:\Orvo\Pkg\Showcase.exe" "%1"")",
                          R"(cmd.exe /c "assoc .mp4="Orvo..mp4.1"")",
                          R"(cmd.exe /c "ftype Orvo..%ext%.1="C:\Orvo\Pkg\Showcase.exe" "%1"")",
                          R"(cmd.exe /c "assoc .%ext%="Orvo..%ext%.1"")"));
  EXPECT_EQ(launcher_->waits, 0);

  launcher_->requests.clear();
  RegisterTypes(items, true);
  EXPECT_THAT(CommandLines(), ElementsAre(R"(cmd.exe /c "ftype Orvo..mp4.1=")", R"(cmd.exe /c "assoc .mp4=")",
                                          R"(cmd.exe /c "ftype Orvo..%ext%.1=")", R"(cmd.exe /c "assoc .%ext%=")"));
}

TEST_F(PhaseTest, FileTypeItemsWithoutExtensionsDoNothingAndWithoutPathOpenAnEmptyProgram) {
  RegisterTypes(R"([{"prekey": "a", "path": "x.exe"}, {"extensions": ".orv"}, {"extensions": ["", 1]}, ".orv",
                    {"extensions": [".orv"]}])",
                false);
  EXPECT_THAT(CommandLines(), ElementsAre(R"(cmd.exe /c "ftype .orv.="" "%1"")", R"(cmd.exe /c "assoc .orv=".orv."")"));
}

// ---- action names and "cmd" ------------------------------------------------------------------------

TEST_F(PhaseTest, ActionNamesIgnoreCaseAndEmptyDataOrUnknownNamesDoNothing) {
  Phase(R"([{"name": "CMD", "data": ["echo %pkg%"]}, {"name": "cmd", "data": ["", 5, null]},
            {"name": "cmd"}, {"name": "shutdown", "data": ["now"]}, {"data": ["echo x"]}, "cmd"])");
  EXPECT_THAT(CommandLines(), ElementsAre(R"(cmd.exe /c "echo C:\Orvo\Pkg")"));
  EXPECT_EQ(launcher_->waits, 1);
  EXPECT_THAT(Messages(), ElementsAre(R"(run cmd: /c "echo C:\Orvo\Pkg", ret: 0)"));
}

// ---- "fileremove" and "regsvr32" -------------------------------------------------------------------

TEST_F(PhaseTest, FileRemoveDeletesFilesAndWholeFolders) {
  root_.WriteFile(R"(C:\Orvo\Pkg\old\a.dll)", "a");
  root_.WriteFile(R"(C:\Orvo\Pkg\old\sub\b.dll)", "b");
  root_.WriteFile(R"(C:\Orvo\Pkg\locked.dat)", "c");
  root_.WriteFile(R"(C:\Orvo\Pkg\keep.dat)", "d");
  ASSERT_EQ(platform::fs::SetReadOnly(R"(C:\Orvo\Pkg\locked.dat)", true), 0u);
  Phase(R"([{"name": "fileremove", "data": ["%pkg%\\old", "%pkg%\\locked.dat", "%pkg%\\missing.txt"]}])", true);
  EXPECT_FALSE(platform::fs::Exists(R"(C:\Orvo\Pkg\old)"));
  EXPECT_FALSE(platform::fs::Exists(R"(C:\Orvo\Pkg\locked.dat)"));
  EXPECT_TRUE(platform::fs::IsFile(R"(C:\Orvo\Pkg\keep.dat)"));
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(PhaseTest, Regsvr32ActionRegistersExistingFilesInBothDirections) {
  root_.WriteFile(R"(C:\Orvo\Pkg\codec.dll)", "MZ");
  const std::string actions = R"([{"name": "regsvr32", "data": ["%pkg%\\codec.dll", "%pkg%\\missing.dll"]}])";
  Phase(actions, false);
  Phase(actions, true);
  EXPECT_THAT(CommandLines(), ElementsAre(R"(regsvr32 /s "C:\Orvo\Pkg\codec.dll")", R"(regsvr32 /s "C:\Orvo\Pkg\codec.dll")"));
  EXPECT_THAT(Messages(), IsEmpty());

  launcher_->answer = [](const platform::SpawnRequest&) { return -2LL; };
  Phase(actions);
  EXPECT_THAT(Messages(), ElementsAre(R"(run ShellExecute failed, path:C:\Orvo\Pkg\codec.dll, ret: 2)",
                                      R"(failed to regsvr32 C:\Orvo\Pkg\codec.dll)"));
}

// ---- "uninstallmsi" --------------------------------------------------------------------------------

TEST_F(PhaseTest, UninstallMsiByProductCodeOrByTheDisplayNameOfAnMsiEntry) {
  UninstallEntry("{11111111-0000-0000-0000-000000000001}", "Orvo Codecs", "", "MsiExec.exe /X{C0DEC}");
  UninstallEntry("{22222222-0000-0000-0000-000000000002}", "Orvo Quiet", "MsiExec.exe /X{QUIET} /quiet", "x");
  launcher_->answer = [](const platform::SpawnRequest& request) {
    return request.command_line.find("{QUIET}") != std::string::npos ? 1605LL : 0LL;
  };
  Phase(R"([{"name": "uninstallmsi", "data": ["{ABCDEF}", "Orvo Codecs", "Orvo Quiet", "orvo codecs"]}])");
  EXPECT_THAT(CommandLines(), ElementsAre("MsiExec.exe /X{ABCDEF} /quiet", "MsiExec.exe /X{C0DEC} /quiet",
                                          "MsiExec.exe /X{QUIET} /quiet"));
  EXPECT_FALSE(launcher_->requests[0].hidden);
  EXPECT_EQ(launcher_->waits, 3);
  // The display name compares with its letter case: "orvo codecs" finds nothing and logs nothing.
  EXPECT_THAT(Messages(), ElementsAre("uninstallMSI {ABCDEF}, exit code: 0", "uninstallMSI Orvo Codecs, exit code: 0",
                                      "uninstallMSI Orvo Quiet, exit code: 1605"));
}

TEST_F(PhaseTest, UninstallMsiStopsAtTheFirstEntryWithAnUninstallStringForTheName) {
  UninstallEntry("A-empty", "Orvo Tool", "", "");                       // no uninstall string: passed over
  UninstallEntry("B-setup", "Orvo Tool", "", R"("C:\Orvo\uninst.exe" /S)");  // decides: not an MSI product
  UninstallEntry("C-msi", "Orvo Tool", "MsiExec.exe /X{TOOL}", "");
  Phase(R"([{"name": "uninstallmsi", "data": ["Orvo Tool"]}])");
  EXPECT_THAT(CommandLines(), IsEmpty());
  EXPECT_THAT(Messages(), ElementsAre("Cannot find uninstall string including MsiExec.exe, "));
}

TEST_F(PhaseTest, UninstallMsiLogsTheErrorWhenTheRemovalCannotStart) {
  launcher_->answer = [](const platform::SpawnRequest&) { return -2LL; };
  Phase(R"([{"name": "uninstallmsi", "data": ["{ABCDEF}"]}])");
  EXPECT_THAT(Messages(), ElementsAre("uninstallMSI {ABCDEF}, exit code: 2"));
}

// ---- "checkfrsdk" ----------------------------------------------------------------------------------

TEST(CheckFrSdk, Sse4IsSse41OrSse42OrSse4aOnAnAmdProcessor) {
  const struct {
    const char* vendor;
    bool sse41, sse42, sse4a, expected;
  } cases[] = {
      {"GenuineIntel", true, false, false, true},  {"GenuineIntel", false, true, false, true},
      {"AuthenticAMD", false, false, true, true},  {"GenuineIntel", false, false, true, false},
      {"AuthenticAMD", false, false, false, false}, {"", false, false, false, false},
  };
  for (const auto& c : cases) {
    platform::CpuInfo cpu;
    cpu.vendor = c.vendor;
    cpu.sse41 = c.sse41;
    cpu.sse42 = c.sse42;
    cpu.sse4a = c.sse4a;
    EXPECT_EQ(HasSse4Support(cpu), c.expected) << c.vendor << c.sse41 << c.sse42 << c.sse4a;
  }
}

TEST_F(PhaseTest, CheckFrSdkCopiesOverTheTargetsOnlyWithoutSse4) {
  root_.WriteFile(R"(C:\Orvo\Pkg\sdk\plain.dll)", "plain");
  root_.WriteFile(R"(C:\Orvo\Pkg\fast.dll)", "fast");
  const std::vector<std::string> data = {R"(C:\Orvo\Pkg\sdk\plain.dll)", R"(C:\Orvo\Pkg\sdk\missing.dll)"};
  const std::vector<std::string> todata = {R"(C:\Orvo\Pkg\fast.dll)", R"(C:\Orvo\Pkg\other.dll)"};
  platform::CpuInfo with_sse4;
  with_sse4.sse41 = true;
  RunCheckFrSdk(data, todata, with_sse4);
  EXPECT_EQ(platform::fs::ReadFile(R"(C:\Orvo\Pkg\fast.dll)"), "fast");

  RunCheckFrSdk(data, todata, platform::CpuInfo{});
  EXPECT_EQ(platform::fs::ReadFile(R"(C:\Orvo\Pkg\fast.dll)"), "plain");
  EXPECT_FALSE(platform::fs::Exists(R"(C:\Orvo\Pkg\other.dll)"));
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(PhaseTest, CheckFrSdkWithListsOfDifferentLengthsIsInvalidOnlyWithoutSse4) {
  root_.WriteFile(R"(C:\Orvo\a.dll)", "a");
  const std::vector<std::string> data = {R"(C:\Orvo\a.dll)", R"(C:\Orvo\b.dll)", R"(C:\Orvo\c.dll)"};
  const std::vector<std::string> todata = {R"(C:\Orvo\x.dll)", R"(C:\Orvo\y.dll)"};
  platform::CpuInfo amd;
  amd.vendor = "AuthenticAMD";
  amd.sse4a = true;
  RunCheckFrSdk(data, todata, amd);
  EXPECT_THAT(Messages(), IsEmpty());
  RunCheckFrSdk(data, todata, platform::CpuInfo{});
  EXPECT_THAT(Messages(), ElementsAre("invalid checkfrsdk item"));
  EXPECT_FALSE(platform::fs::Exists(R"(C:\Orvo\x.dll)"));
}

TEST_F(PhaseTest, CheckFrSdkActionAsksThisProcessor) {
  root_.WriteFile(R"(C:\Orvo\Pkg\plain.dll)", "plain");
  // Entries dropped from "todata" do not count: the lists pair up after dropping.
  Phase(R"([{"name": "checkfrsdk", "data": ["%pkg%\\plain.dll"], "todata": ["", 4, "%pkg%\\target.dll"]}])");
  const bool copied = platform::fs::Exists(R"(C:\Orvo\Pkg\target.dll)");
  EXPECT_EQ(copied, !HasSse4Support(platform::ReadCpuInfo()));
}

// ---- "taskkill" over the real process list ---------------------------------------------------------

class TaskKillTest : public ::testing::Test {
 protected:
  // A long-running "program" under the given Windows path: a script, as the tests' setup programs are.
  std::unique_ptr<platform::Process> StartProgram(const std::string& path) {
    root_.WriteFile(path, "#!/bin/sh\nwhile :; do sleep 0.05; done\n");
    platform::SpawnRequest request;
    request.command_line = "\"" + path + "\"";
    request.hidden = true;
    std::uint32_t error = 0;
    auto process = root_.Platform().launcher->Spawn(request, &error);
    EXPECT_NE(process, nullptr) << path << ": " << error;
    return process;
  }
  // The snapshot shows the program under its name once it runs.
  static bool Listed(std::uint32_t id, const std::string& name) {
    for (const auto& entry : platform::SnapshotProcesses()) {
      if (entry.id == id) return entry.image_name == name;
    }
    return false;
  }
  static bool WaitUntilListed(std::uint32_t id, const std::string& name, bool listed) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Listed(id, name) != listed) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  test::TestRoot root_;
  log::ScopedCapture capture_;
};

TEST_F(TaskKillTest, EndsEveryProcessOfTheExactNameAndNoOther) {
  const std::string name = "orvo-victim-" + std::to_string(platform::CurrentProcessId()) + ".exe";
  const std::string other_case = "ORVO-VICTIM-" + std::to_string(platform::CurrentProcessId()) + ".exe";
  auto first = StartProgram(R"(C:\Temp\a\)" + name);
  auto second = StartProgram(R"(C:\Temp\a\)" + name);
  auto spared = StartProgram(R"(C:\Temp\b\)" + other_case);
  ASSERT_TRUE(first && second && spared);
  const std::uint32_t ids[] = {first->Id(), second->Id()};
  ASSERT_TRUE(WaitUntilListed(ids[0], name, true));
  ASSERT_TRUE(WaitUntilListed(ids[1], name, true));
  ASSERT_TRUE(WaitUntilListed(spared->Id(), other_case, true));
  // The handles go, so the ended processes are reaped and leave the list.
  first.reset();
  second.reset();

  ScriptContext context;
  RunPhase(json::parse(R"([{"name": "taskkill", "data": [")" + name + R"("]}])"), context);
  EXPECT_TRUE(WaitUntilListed(ids[0], name, false));
  EXPECT_TRUE(WaitUntilListed(ids[1], name, false));
  EXPECT_EQ(spared->Wait(0), platform::kWaitTimeout) << "a name in another letter case does not match";
  int logged = 0;
  for (const auto& entry : capture_.Entries()) {
    logged += entry.level == log::Level::kDebug && entry.message == "Terminal Orvo Application = " + name ? 1 : 0;
  }
  EXPECT_EQ(logged, 2);
  spared->Terminate(0);
  EXPECT_EQ(spared->Wait(20000), platform::kWaitObject0);
}

// A table of our own: the installer's process carries a listed name too. (The real list cannot show
// this safely: every test program of this name would be ended, parallel runs included.)
class FakeProcesses : public sys::ProcessAccess {
 public:
  struct Entry {
    std::uint32_t id;
    std::string name;
  };
  std::vector<Entry> entries;
  std::vector<std::uint32_t> terminated;

  std::vector<std::uint32_t> ProcessIds() override {
    std::vector<std::uint32_t> ids;
    for (const Entry& entry : entries) ids.push_back(entry.id);
    return ids;
  }
  std::string BaseName(std::uint32_t id) override {
    for (const Entry& entry : entries) {
      if (entry.id == id) return entry.name;
    }
    return {};
  }
  std::string ImagePath(std::uint32_t) override { return {}; }
  bool Terminate(std::uint32_t id, std::uint32_t exit_code, std::uint32_t wait_ms) override {
    EXPECT_EQ(exit_code, 0u);
    EXPECT_EQ(wait_ms, 1000u);
    terminated.push_back(id);
    return true;
  }
};

TEST(TaskKill, NeverEndsTheInstallerItselfAndPassesOverUnreadableProcesses) {
  log::ScopedCapture capture;
  FakeProcesses processes;
  processes.entries = {{platform::CurrentProcessId(), "OrvoInstaller.exe"}, {70, "OrvoInstaller.exe"},
                       {71, ""}, {72, "Showcase.exe"}, {73, "orvoinstaller.exe"}};
  KillProcesses({"Showcase.exe", "OrvoInstaller.exe", "Showcase.exe"}, processes);
  EXPECT_THAT(processes.terminated, ElementsAre(70u, 72u));
  std::vector<std::string> messages;
  for (const auto& entry : capture.Entries()) messages.push_back(entry.message);
  EXPECT_THAT(messages, ElementsAre("Terminal Orvo Application = OrvoInstaller.exe",
                                    "Terminal Orvo Application = Showcase.exe"));
}

}  // namespace
}  // namespace orvo::script
