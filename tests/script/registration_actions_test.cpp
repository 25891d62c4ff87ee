// The "regsvr32", "firewall" and "service" sections and the commands they hand to the system: the hidden
// command interpreter, regsvr32 through the shell, the shell restart, and the firewall rule store.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/log.h"
#include "platform/file_system.h"
#include "platform/firewall.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "script/hidden_command.h"
#include "script/script_context.h"
#include "support/recording_launcher.h"
#include "support/test_root.h"

namespace orvo::script {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using json = nlohmann::json;

constexpr const char* kServer = R"(C:\Program Files (x86)\Orvo\Pkg\codec.dll)";

class ActionTest : public ::testing::Test {
 protected:
  explicit ActionTest(const std::string& profile = "") : root_(profile), launcher_(test::RecordingLauncher::Install()) {
    context_.variables = {{"%~dp0", "C:\\Program Files (x86)\\Orvo\\Pkg\\"}, {"%empty%", ""}};
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
  ScriptContext Direction(bool uninstall) const {
    ScriptContext context = context_;
    context.uninstall = uninstall;
    return context;
  }

  test::TestRoot root_;
  std::shared_ptr<test::RecordingLauncher::Shared> launcher_;
  log::ScopedCapture capture_;
  ScriptContext context_;
};

// ---- RunHiddenCommand ------------------------------------------------------------------------------

TEST_F(ActionTest, HiddenCommandRunsThroughTheInterpreterAndReportsTheExitCode) {
  launcher_->answer = [](const platform::SpawnRequest&) { return 3LL; };
  EXPECT_EQ(RunHiddenCommand(R"(sc create Svc binPath= "C:\a b\svc.exe")", true), 3);
  ASSERT_THAT(launcher_->requests, SizeIs(1));
  EXPECT_EQ(launcher_->requests[0].command_line, R"(cmd.exe /c "sc create Svc binPath= "C:\a b\svc.exe"")");
  EXPECT_TRUE(launcher_->requests[0].hidden);
  EXPECT_EQ(launcher_->waits, 1);
  EXPECT_THAT(Messages(), ElementsAre(R"(run cmd: /c "sc create Svc binPath= "C:\a b\svc.exe"", ret: 3)"));
}

TEST_F(ActionTest, HiddenCommandWithoutWaitAnswersOneAndAFailedStartMinusOne) {
  EXPECT_EQ(RunHiddenCommand("assoc .orv=", false), 1);
  EXPECT_EQ(launcher_->waits, 0);
  EXPECT_THAT(Messages(), IsEmpty());

  launcher_->answer = [](const platform::SpawnRequest&) { return -2LL; };
  EXPECT_EQ(RunHiddenCommand("net stop Svc", true), -1);
  EXPECT_EQ(RunHiddenCommand("net stop Svc", false), -1);
  EXPECT_THAT(Messages(), ElementsAre("ShellExecuteEx Failed, cmd: /c \"net stop Svc\", ErrorCode=2",
                                      "ShellExecuteEx Failed, cmd: /c \"net stop Svc\", ErrorCode=2"));
}

TEST(HiddenCommand, RealInterpreterGivesTheCommandsExitCode) {
  test::TestRoot root;
  log::ScopedCapture capture;
  EXPECT_EQ(RunHiddenCommand("exit 7", true), 7);
  EXPECT_TRUE(capture.Contains(log::Level::kInfo, "run cmd: /c \"exit 7\", ret: 7"));
  const std::string marker = (root.Root() / "marker").string();
  EXPECT_EQ(RunHiddenCommand("echo ran > " + marker, true), 0);
  EXPECT_TRUE(std::filesystem::exists(marker));
}

// ---- RelaunchShell ---------------------------------------------------------------------------------

TEST_F(ActionTest, ShellRestartKillsAndStartsTheShellThroughTheNativeInterpreter) {
  launcher_->answer = [](const platform::SpawnRequest& request) {
    return request.command_line.rfind("taskkill", 0) == 0 ? 128LL : 0LL;
  };
  RelaunchShell();
  EXPECT_THAT(CommandLines(), ElementsAre("taskkill /f /im explorer.exe",
                                          R"(C:\Windows\sysnative\cmd.exe /c start /B explorer.exe)"));
  for (const auto& request : launcher_->requests) EXPECT_TRUE(request.hidden) << request.command_line;
  EXPECT_THAT(Messages(), ElementsAre("kill explorer.exe, ret = 1, exitCode = 128",
                                      "start explorer.exe, ret = 1, exitCode = 0"));
}

TEST_F(ActionTest, ShellRestartEndsWhenTheKillCannotStartAndRetriesAFailedStartOnce) {
  launcher_->answer = [](const platform::SpawnRequest&) { return -2LL; };
  RelaunchShell();
  EXPECT_THAT(CommandLines(), ElementsAre("taskkill /f /im explorer.exe"));
  EXPECT_THAT(Messages(), ElementsAre("failed to kill explorer.exe"));

  launcher_->requests.clear();
  launcher_->answer = [](const platform::SpawnRequest& request) {
    return request.command_line.rfind("taskkill", 0) == 0 ? 0LL : -2LL;
  };
  log::ScopedCapture capture;
  RelaunchShell();
  EXPECT_THAT(CommandLines(), SizeIs(3));
  EXPECT_EQ(CommandLines()[1], CommandLines()[2]);
  std::vector<std::string> messages;
  for (const auto& entry : capture.Entries()) messages.push_back(entry.message);
  EXPECT_THAT(messages, ElementsAre("kill explorer.exe, ret = 1, exitCode = 0", "failed to start explorer.exe",
                                    "failed to start explorer.exe"));
}

class Windows32ActionTest : public ActionTest {
 protected:
  Windows32ActionTest() : ActionTest(R"({"windows64": false})") {}
};

TEST_F(Windows32ActionTest, ShellRestartOn32BitWindowsUsesItsOwnInterpreter) {
  RelaunchShell();
  EXPECT_THAT(CommandLines(), ElementsAre("taskkill /f /im explorer.exe",
                                          R"(C:\Windows\System32\cmd.exe /c start /B explorer.exe)"));
}

// ---- "regsvr32" ------------------------------------------------------------------------------------

TEST_F(ActionTest, Regsvr32RegistersOrUnregistersThroughTheShellWithoutWaiting) {
  const json items = json::parse(R"([{"path": "%~dp0codec.dll"}])");
  RunRegsvr32Section(items, Direction(false));
  RunRegsvr32Section(items, Direction(true));
  EXPECT_THAT(CommandLines(), ElementsAre(std::string("regsvr32 /s \"") + kServer + "\"",
                                          std::string("regsvr32 /u /s \"") + kServer + "\""));
  for (const auto& request : launcher_->requests) EXPECT_FALSE(request.hidden);
  EXPECT_EQ(launcher_->waits, 0);
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(ActionTest, Regsvr32ItemsWithoutAUsablePathAndShellFailuresAreLogged) {
  RunRegsvr32Section(json::parse(R"([{"path": ""}, {"path": "%empty%"}, {"removefile": true}, 7, "x"])"),
                     Direction(false));
  EXPECT_THAT(CommandLines(), IsEmpty());
  EXPECT_THAT(Messages(), ElementsAre("find one invalid regsvr32 item, no path",
                                      "find one invalid regsvr32 item, no path", "failed to regsvr32 , install: 1"));

  launcher_->answer = [](const platform::SpawnRequest&) { return -2LL; };
  log::ScopedCapture capture;
  RunRegsvr32Section(json::parse(R"([{"path": "%~dp0codec.dll"}])"), Direction(true));
  std::vector<std::string> messages;
  for (const auto& entry : capture.Entries()) messages.push_back(entry.message);
  EXPECT_THAT(messages, ElementsAre(std::string("run ShellExecute failed, path:") + kServer + ", ret: 2",
                                    std::string("failed to regsvr32 ") + kServer + ", install: 0"));
}

TEST_F(ActionTest, Regsvr32RemovesTheFileOnlyWhenUninstalling) {
  root_.WriteFile(kServer, "MZ");
  ASSERT_EQ(platform::fs::SetReadOnly(kServer, true), 0u);
  const json items = json::parse(R"([{"path": "%~dp0codec.dll", "removefile": true, "restartexplorer": true}])");
  RunRegsvr32Section(items, Direction(false));
  EXPECT_TRUE(platform::fs::IsFile(kServer));
  RunRegsvr32Section(items, Direction(true));
  EXPECT_FALSE(platform::fs::Exists(kServer));
  // The file went, so the shell is not restarted.
  EXPECT_THAT(CommandLines(), ElementsAre(std::string("regsvr32 /s \"") + kServer + "\"",
                                          std::string("regsvr32 /u /s \"") + kServer + "\""));
}

TEST_F(Windows32ActionTest, Regsvr32ItemsFor64BitWindowsOnlyDoNothingOn32BitWindows) {
  root_.WriteFile(kServer, "MZ");
  const json items = json::parse(R"([{"path": "%~dp0codec.dll", "64bitosonly": true, "removefile": true},
                                     {"path": "%~dp0other.dll", "64bitosonly": false}])");
  RunRegsvr32Section(items, Direction(false));
  RunRegsvr32Section(items, Direction(true));
  EXPECT_TRUE(platform::fs::IsFile(kServer));
  EXPECT_THAT(CommandLines(), ElementsAre(R"(regsvr32 /s "C:\Program Files (x86)\Orvo\Pkg\other.dll")",
                                          R"(regsvr32 /u /s "C:\Program Files (x86)\Orvo\Pkg\other.dll")"));
}

// ---- "firewall" ------------------------------------------------------------------------------------

std::vector<platform::FirewallRule> Rules() {
  auto rules = platform::OpenFirewallRules();
  return rules ? rules->List() : std::vector<platform::FirewallRule>{};
}

TEST_F(ActionTest, FirewallRuleIsStoredWhereWindowsKeepsItInItsRuleStringForm) {
  RunFirewallSection(json::parse(R"([{"name": "Orvo Showcase", "path": "%~dp0Showcase.exe"}])"), Direction(false));
  const std::string path = R"(C:\Program Files (x86)\Orvo\Pkg\Showcase.exe)";
  EXPECT_THAT(Messages(), ElementsAre("AddApplicationToFirewallExceptionList Name:Orvo Showcase, Path:" + path));

  std::vector<platform::RegValue> values;
  ASSERT_EQ(platform::Reg().ListValues(platform::Hive::kLocalMachine, platform::kFirewallRulesKey, values,
                                       platform::RegView::kView64),
            0u);
  ASSERT_THAT(values, SizeIs(1));
  EXPECT_EQ(values[0].type, platform::RegType::kString);
  EXPECT_EQ(values[0].text, "v2.10|Action=Allow|Active=TRUE|Dir=In|App=" + path +
                                "|Name=Orvo Showcase|Desc=Showcase|EmbedCtxt=Orvo Showcase|");
  platform::FirewallRule expected;
  expected.name = "Orvo Showcase";
  expected.description = "Showcase";
  expected.application_name = path;
  expected.grouping = "Orvo Showcase";
  EXPECT_THAT(Rules(), ElementsAre(expected));
}

TEST_F(ActionTest, FirewallDescriptionIsTheFileNameWithoutItsLastFourCharacters) {
  const struct {
    const char* path;
    const char* description;
  } cases[] = {
      {R"(C:\Orvo\tool.exe)", "tool"},
      {R"(C:\Orvo\tool.json)", "tool."},  // a four-letter extension keeps its dot
      {"tool.exe", ""},                    // no folder, no description
      {R"(C:\Orvo\abc)", ""},
  };
  for (const auto& c : cases) {
    RunFirewallSection(json::array({{{"name", c.path}, {"path", c.path}}}), Direction(false));
  }
  const std::vector<platform::FirewallRule> rules = Rules();
  ASSERT_THAT(rules, SizeIs(std::size(cases)));
  for (std::size_t i = 0; i < rules.size(); ++i) {
    EXPECT_EQ(rules[i].description, cases[i].description) << cases[i].path;
    EXPECT_EQ(rules[i].application_name, cases[i].path);
  }
}

TEST_F(ActionTest, FirewallInstallAlwaysAddsAndUninstallRemovesOneRuleByName) {
  const json items = json::parse(R"([{"name": "Orvo", "path": "C:\\Orvo\\a.exe"}])");
  RunFirewallSection(items, Direction(false));
  RunFirewallSection(items, Direction(false));
  RunFirewallSection(json::parse(R"([{"name": "Other", "path": "C:\\Orvo\\b.exe"}])"), Direction(false));
  EXPECT_THAT(Rules(), SizeIs(3));

  log::ScopedCapture capture;
  RunFirewallSection(json::parse(R"([{"name": "ORVO"}])"), Direction(true));
  EXPECT_TRUE(capture.Contains(log::Level::kInfo, "RemoveApplicationToFirewallExceptionList ORVO\r\n"));
  std::vector<platform::FirewallRule> rules = Rules();
  ASSERT_THAT(rules, SizeIs(2));
  EXPECT_EQ(rules[0].name, "Orvo");
  EXPECT_EQ(rules[1].name, "Other");
  RunFirewallSection(json::parse(R"([{"name": "Missing"}, {"name": "Orvo"}])"), Direction(true));
  rules = Rules();
  ASSERT_THAT(rules, SizeIs(1));
  EXPECT_EQ(rules[0].name, "Other");
}

TEST_F(ActionTest, FirewallItemsWithoutNameOrPathAreSkipped) {
  RunFirewallSection(json::parse(R"([{"name": "", "path": "C:\\a.exe"}, {"name": "%empty%", "path": ""},
                                     {"name": "Orvo", "path": ""}, {"name": "Orvo"}, {"path": "C:\\a.exe"}])"),
                     Direction(false));
  RunFirewallSection(json::parse(R"([{"name": ""}, {"path": "C:\\a.exe"}])"), Direction(true));
  EXPECT_THAT(Rules(), IsEmpty());
  EXPECT_THAT(Messages(), ElementsAre("find one invalid netsh item, no name", "find one invalid netsh item, no name",
                                      "find one invalid netsh item, no path", "find one invalid netsh item, no name"));
}

TEST_F(ActionTest, FirewallRuleThatTheStoreCannotHoldIsReportedAndNotWritten) {
  RunFirewallSection(json::parse(R"([{"name": "Orvo|Allow", "path": "C:\\Orvo\\a.exe"}])"), Direction(false));
  EXPECT_THAT(Rules(), IsEmpty());
  EXPECT_TRUE(capture_.Contains(log::Level::kInfo, "Failed to add FirewallExceptionList, Name:Orvo|Allow, Path:C:\\Orvo\\a.exe"));
}

TEST(FirewallRuleString, PartialProfilesAndOtherSettingsSurviveTheRoundTrip) {
  platform::FirewallRule rule;
  rule.name = "Orvo";
  rule.application_name = R"(C:\Orvo\a.exe)";
  rule.profiles = platform::kFirewallProfileDomain | platform::kFirewallProfilePublic;
  rule.action = platform::FirewallAction::kBlock;
  rule.enabled = false;
  rule.direction = platform::FirewallDirection::kOut;
  const auto text = platform::FirewallRuleToString(rule);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, R"(v2.10|Action=Block|Active=FALSE|Dir=Out|Profile=Domain|Profile=Public|App=C:\Orvo\a.exe|Name=Orvo|)");
  EXPECT_EQ(platform::ParseFirewallRule(*text), rule);
  // Fields written by the firewall's own tools (ports, protocols) are passed over.
  const auto tool_rule = platform::ParseFirewallRule("v2.30|Action=Allow|Active=TRUE|Dir=In|Protocol=6|LPort=80|Name=Web|");
  ASSERT_TRUE(tool_rule.has_value());
  EXPECT_EQ(tool_rule->name, "Web");
  EXPECT_EQ(tool_rule->profiles, platform::kFirewallProfilesAll);
  EXPECT_FALSE(platform::ParseFirewallRule("not a rule").has_value());
  EXPECT_FALSE(platform::ParseFirewallRule("v2.10|Action").has_value());
}

// ---- "service" -------------------------------------------------------------------------------------

TEST_F(ActionTest, ServiceCommandsAreRunInOrderAndWaitedFor) {
  const json items = json::parse(R"([{"servicename": "OrvoSync", "binpath": "%~dp0sync.exe",
      "displayname": "Orvo Sync", "starttype": "auto", "description": "Keeps devices in step"}])");
  RunServiceSection(items, Direction(false));
  EXPECT_THAT(CommandLines(),
              ElementsAre(R"(cmd.exe /c "sc create OrvoSync binPath= "C:\Program Files (x86)\Orvo\Pkg\sync.exe"")",
                          R"(cmd.exe /c "sc config OrvoSync DisplayName= "Orvo Sync"")",
                          R"(cmd.exe /c "sc config OrvoSync start= auto")",
                          R"(cmd.exe /c "sc description OrvoSync "Keeps devices in step"")",
                          R"(cmd.exe /c "net Start OrvoSync")"));
  EXPECT_EQ(launcher_->waits, 5);
}

TEST_F(ActionTest, UninstallingAMissingServiceRunsBothCommandsAndLogsTheirCodes) {
  launcher_->answer = [](const platform::SpawnRequest& request) {
    return request.command_line.find("net stop") != std::string::npos ? 2LL : 1060LL;
  };
  RunServiceSection(json::parse(R"([{"servicename": "OrvoSync", "binpath": "ignored"}])"), Direction(true));
  EXPECT_THAT(Messages(), ElementsAre(R"(run cmd: /c "net stop OrvoSync", ret: 2)",
                                      R"(run cmd: /c "sc delete OrvoSync", ret: 1060)"));
}

TEST_F(ActionTest, ServiceWithoutNameRunsWithAnEmptyOneAndAnEmptyNameIsSkipped) {
  RunServiceSection(json::parse(R"([{"servicename": ""}, {"servicename": "%empty%"}, "OrvoSync"])"),
                    Direction(false));
  EXPECT_THAT(CommandLines(), IsEmpty());
  EXPECT_THAT(Messages(), ElementsAre("find one invalid service item, no name", "find one invalid service item, no name"));

  RunServiceSection(json::parse(R"([{"servicename": 5}])"), Direction(true));
  EXPECT_THAT(CommandLines(), ElementsAre(R"(cmd.exe /c "net stop ")", R"(cmd.exe /c "sc delete ")"));
}

}  // namespace
}  // namespace orvo::script
