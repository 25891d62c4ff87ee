// The builder's item-list entries ("/install" and "/uninstall") and the controller's entry.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/log.h"
#include "plan/builder_fixture.h"
#include "plan/plan_builder.h"

namespace orvo::plan::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kVcItem =
    R"({"uninstallid":"vcredist","filename":"vc_redist.x86.exe","url":"https://cdn/vc.exe","parameter":"/q",)"
    R"("displayname":"VC","minversion":"14.0","checkreg":"K"})";
constexpr const char* kDotNetItem =
    R"({"uninstallid":"dotnet","filename":"ndp.exe","url":"https://cdn/ndp.exe","parameter":"/q",)"
    R"("displayname":".NET","minversion":"528040","checkreg":"R"})";
constexpr const char* kAppItem =
    R"({"uninstallid":"OrvoApp","filename":"app.zip","url":"https://cdn/app.zip","displayname":"Orvo App",)"
    R"("mainfile":"app.exe","id":"17"})";
constexpr const char* kInstallerItem =
    R"({"uninstallid":"OrvoInstaller","filename":"installer.zip","url":"https://cdn/i.zip","displayname":"I",)"
    R"("mainfile":"OrvoInstaller.exe"})";
constexpr const char* kStartItem =
    R"({"uninstallid":"OrvoStart","filename":"start.zip","url":"https://cdn/s.zip","displayname":"Orvo Start",)"
    R"("mainfile":"OrvoStart.exe"})";

std::string List(std::initializer_list<const char*> items) {
  std::string text = "[";
  for (const char* item : items) text += std::string(text.size() > 1 ? "," : "") + item;
  return text + "]";
}

struct ItemsCase {
  const char* name;
  std::string text;
  bool host;
  std::set<std::string> present;
  std::vector<std::string> summary;
};

TEST_F(BuilderTest, InstallListsByModeAndDetection) {
  const std::vector<ItemsCase> cases = {
      {"missing runtimes and an app", List({kVcItem, kDotNetItem, kAppItem}), false, {},
       {"8 vc_redist.x86.exe", "12 vc_redist.x86.exe", "8 ndp.exe", "12 ndp.exe", "9 app.zip", "13 app.zip", "14"}},
      {"present runtimes are left out", List({kVcItem, kDotNetItem, kAppItem}), false, {"K", "R"},
       {"9 app.zip", "13 app.zip", "14"}},
      {"host mode reports present runtimes too, and has no finish", List({kVcItem, kDotNetItem, kAppItem}), true,
       {"K", "R"},
       {"8 vc_redist.x86.exe", "12 vc_redist.x86.exe", "8 ndp.exe", "12 ndp.exe", "9 app.zip", "13 app.zip"}},
      {"host mode finishes with the hub", List({kAppItem, kStartItem}), true, {},
       {"9 app.zip", "13 app.zip", "9 start.zip", "13 start.zip", "14"}},
      {"host mode restarts after the installer package", List({kInstallerItem, kAppItem}), true, {},
       {"9 installer.zip", "13 installer.zip", "18", "9 app.zip", "13 app.zip"}},
      {"no restart outside host mode", List({kInstallerItem}), false, {},
       {"9 installer.zip", "13 installer.zip", "14"}},
      {"a single object is one item", kAppItem, false, {}, {"9 app.zip", "13 app.zip", "14"}},
      {"text that is not JSON has no items", "OrvoApp", false, {}, {"14"}},
  };
  for (const ItemsCase& c : cases) {
    inputs.hostMode = c.host;
    present = c.present;
    EXPECT_EQ(Summary(Builder().BuildPlanFromItems(c.text)), c.summary) << c.name;
  }
}

TEST_F(BuilderTest, HostModeStepOfAPresentRuntimeIsMarkedAlreadyInstalled) {
  inputs.hostMode = true;
  present = {"K"};
  const Plan plan = Builder().BuildPlanFromItems(kVcItem);
  ASSERT_EQ(plan.size(), 2u);
  EXPECT_TRUE(plan[1].AlreadyInstalled);
  EXPECT_EQ(plan[1].id, "vcredist");
}

TEST_F(BuilderTest, SixtyFourBitRuntimeItemIsSkippedOnThirtyTwoBitWindows) {
  inputs.windows64 = false;
  const std::string item = platform::ReplaceAll(kVcItem, "\"vcredist\"", "\"vcredist64\"");
  EXPECT_THAT(Summary(Builder().BuildPlanFromItems(item)), ElementsAre("14"));
  inputs.windows64 = true;
  EXPECT_THAT(Summary(Builder().BuildPlanFromItems(item)), ElementsAre("8 vc_redist.x86.exe", "12 vc_redist.x86.exe",
                                                                       "14"));
  EXPECT_THAT(calls, ElementsAre("reg K x64"));
}

TEST_F(BuilderTest, RestartFollowsOnlyAnInstallerPackageThatIsInstalled) {
  inputs.hostMode = true;
  selection.ExcludedApps = {"orvoinstaller"};
  EXPECT_THAT(Summary(Builder().BuildPlanFromItems(List({kInstallerItem, kAppItem}))),
              ElementsAre("9 app.zip", "13 app.zip"));
}

TEST_F(BuilderTest, ItemsWithMissingKeysLogTheItemTexts) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {R"({"uninstallid":"vcredist","filename":"a.exe","url":"u","parameter":"p","displayname":"d"})",
       {"parse ini item :vcredist error",
        platform::Format("essencial elements missing- %s %s %s %s %s", "", "", "", "", "minversion")}},
      {R"({"uninstallid":"dotnet","filename":"a.exe","parameter":"p","displayname":"d","minversion":"1"})",
       {"parse ini item :dotnet",
        platform::Format("essencial elements missing- %s %s %s %s %s", "", "url ", "", "", "checkreg")}},
      {List({kAppItem, R"({"uninstallid":"B","filename":"b.zip","url":"u","mainfile":"b.exe"})"}),
       {platform::Format("essencial elements missing- %s %s %s %s %s", "", "", "", "displayname ", "")}},
  };
  for (const Case& c : cases) {
    log::ScopedCapture capture;
    EXPECT_THAT(Summary(Builder().BuildPlanFromItems(c.text)), ElementsAre("16")) << c.text;
    for (const std::string& line : c.lines) EXPECT_TRUE(capture.Contains(log::Level::kError, line)) << line;
  }
}

TEST_F(BuilderTest, ItemsReadNoSuiteSettingsAndMarkNoSharedIds) {
  const std::string app2 = platform::ReplaceAll(kAppItem, "app.zip", "app2.zip");
  const Plan plan = Builder().BuildPlanFromItems(List({kAppItem, app2.c_str()}));
  ASSERT_EQ(plan.size(), 5u);
  EXPECT_FALSE(plan[1].install_data.SharedUninstallId);
  EXPECT_FALSE(plan[3].install_data.SharedUninstallId);
  EXPECT_EQ(plan[1].id, "17");
  EXPECT_EQ(suite.installFolder, kInstallRoot);
}

TEST_F(BuilderTest, UninstallPlans) {
  installed = {"Orvo Common", "OrvoVideo", "OrvoAudio"};
  EXPECT_THAT(Summary(Builder().BuildUninstallPlan("all")), ElementsAre("17 OrvoVideo", "17 OrvoAudio",
                                                                         "17 Orvo Common", "14"));
  inputs.hostMode = true;
  EXPECT_THAT(Summary(Builder().BuildUninstallPlan("all")), ElementsAre("17 OrvoVideo", "17 OrvoAudio",
                                                                         "17 Orvo Common"));
  const Plan plan = Builder().BuildUninstallPlan(R"({"uninstallid":"OrvoAudio","id":"9"})");
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_EQ(plan[0].id, "9");
  EXPECT_EQ(plan[0].install_data.uninstallId, "OrvoAudio");
  EXPECT_EQ(plan[0].install_data.DisplayName, "OrvoAudio");
  EXPECT_EQ(plan[0].install_data.ProgressInterval, 200);
}

TEST_F(BuilderTest, UninstallItemWithoutIdIsAnErrorExceptInSilentRuns) {
  {
    log::ScopedCapture capture;
    EXPECT_THAT(Summary(Builder().BuildUninstallPlan(R"({"id":"3"})")), ElementsAre("16"));
    EXPECT_TRUE(capture.Contains(log::Level::kError, "essencial elements uninstallid missing"));
  }
  inputs.silent = true;
  EXPECT_THAT(Summary(Builder().BuildUninstallPlan(R"({"uninstallid":""})")), ElementsAre("14"));
}

TEST_F(BuilderTest, BuildPlanChoosesTheSourceFromTheInputs) {
  root.WriteFile(kConfigPath, std::string(kSetup) + Action("action", "a.zip", "A"));
  EXPECT_THAT(Summary(Builder().BuildPlan(kConfigPath)), ElementsAre("9 a.zip", "13 a.zip", "14"));
  EXPECT_THAT(Builder().BuildPlan(""), IsEmpty());  // no configuration known yet
  inputs.product = kAppItem;
  EXPECT_THAT(Summary(Builder().BuildPlan(kConfigPath)), ElementsAre("9 app.zip", "13 app.zip", "14"));
  inputs.uninstall = true;
  inputs.product = "OrvoApp";
  EXPECT_THAT(Summary(Builder().BuildPlan(kConfigPath)), ElementsAre("17 OrvoApp", "14"));
}

}  // namespace
}  // namespace orvo::plan::test
