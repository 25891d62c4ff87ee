// What the completion button needs: the hub's settings file, the launch file search, starting the product
// and the product pages.
#include "flow/completion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "deploy/installed_products.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "support/recording_launcher.h"
#include "support/scoped_env.h"
#include "support/test_root.h"
#include "system/file_helpers.h"

namespace orvo::flow {
namespace {

namespace stdfs = std::filesystem;
using platform::Hive;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class CompletionTest : public ::testing::Test {
 protected:
  std::optional<std::string> Settings() const { return platform::fs::ReadFile(HubSettingsPath()); }
  test::TestRoot root_;
};

// ---- The hub's settings file ----

TEST_F(CompletionTest, HubSettingsLiveInTheCommonApplicationData) {
  EXPECT_EQ(HubSettingsPath(), "C:\\ProgramData\\Orvo\\Orvo Start\\Settings.json");
}

TEST_F(CompletionTest, RewritesOnlyTheInstallPathAndKeepsEverythingElse) {
  const std::string original =
      R"({"language": "de", "installPath": "C:\\Old", "window": {"x": 10, "y": -3.5, "tags": ["a", null, true]},)"
      R"( "name": "Grüße", "big": 18446744073709551615})";
  root_.WriteFile(HubSettingsPath(), original);

  EXPECT_TRUE(UpdateHubSettings("D:\\Programme\\Orvo Ä"));
  const auto written = Settings();
  ASSERT_TRUE(written);
  const auto after = nlohmann::ordered_json::parse(*written);
  auto expected = nlohmann::ordered_json::parse(original);
  expected["installPath"] = "D:\\Programme\\Orvo Ä";
  EXPECT_EQ(after, expected);
  std::vector<std::string> order;
  for (const auto& item : after.items()) order.push_back(item.key());
  EXPECT_THAT(order, ElementsAre("language", "installPath", "window", "name", "big"));

  // Written through a temporary file that does not stay behind.
  std::vector<platform::fs::FileInfo> entries;
  ASSERT_EQ(platform::fs::ListFolder("C:\\ProgramData\\Orvo\\Orvo Start", entries), 0u);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "Settings.json");
}

TEST_F(CompletionTest, AByteOrderMarkStaysInFront) {
  root_.WriteFile(HubSettingsPath(), "\xEF\xBB\xBF{\"installPath\":\"C:\\\\Old\"}");
  EXPECT_TRUE(UpdateHubSettings("C:\\New"));
  EXPECT_EQ(Settings(), "\xEF\xBB\xBF{\"installPath\":\"C:\\\\New\"}");
}

TEST_F(CompletionTest, OtherContentIsLeftUntouched) {
  const char* contents[] = {
      "",
      "not json",
      R"({"installPath": "C:\\Old")",  // cut short
      R"(["installPath", "C:\\Old"])",
      R"("C:\\Old")",
      R"({"installpath": "C:\\Old"})",  // member names keep their case
      R"({"installPath": 5})",
      R"({"installPath": null})",
      R"({"installPath": ["C:\\Old"]})",
      R"({"other": {"installPath": "C:\\Old"}})",
  };
  for (const char* content : contents) {
    root_.WriteFile(HubSettingsPath(), content);
    EXPECT_FALSE(UpdateHubSettings("C:\\New")) << content;
    EXPECT_EQ(Settings(), content);
  }
  root_.WriteFile(HubSettingsPath(), R"({"installPath": "C:\\Old"})");
  EXPECT_FALSE(UpdateHubSettings(""));
  EXPECT_EQ(Settings(), R"({"installPath": "C:\\Old"})");

  ASSERT_TRUE(sys::DeletePath(HubSettingsPath()));
  EXPECT_FALSE(UpdateHubSettings("C:\\New"));
  EXPECT_FALSE(sys::FileExists(HubSettingsPath())) << "a missing file is not created";
}

// ---- The launch file ----

TEST_F(CompletionTest, FindsTheLaunchFileSixLevelsDeep) {
  const std::string base = "C:\\Orvo";
  root_.WriteFile(base + "\\1\\2\\3\\4\\5\\Deep Video.exe", "6");
  EXPECT_EQ(FindLaunchFile(base, "video.exe"), base + "\\1\\2\\3\\4\\5\\Deep Video.exe");

  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // distinct creation times, not a timing check
  root_.WriteFile(base + "\\1\\2\\3\\4\\5\\6\\Video.exe", "7");  // a seventh level is not searched
  ASSERT_TRUE(sys::N_CreateFolder(base + "\\1\\2\\3\\4\\5\\Newer Video.exe"));  // a folder is never started
  EXPECT_EQ(FindLaunchFile(base, "video.exe"), base + "\\1\\2\\3\\4\\5\\Deep Video.exe");
}

TEST_F(CompletionTest, TakesTheLaunchFileCreatedLast) {
  const std::string base = "C:\\Orvo";
  root_.WriteFile(base + "\\Video 1\\VIDEO.EXE", "old");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  root_.WriteFile(base + "\\Video 2\\bin\\Video.exe", "new");
  root_.WriteFile(base + "\\Video 2\\bin\\Video.exe.config", "no match");

  EXPECT_EQ(FindLaunchFile(base, "video.exe"), base + "\\Video 2\\bin\\Video.exe");
  EXPECT_EQ(FindLaunchFile(base, "audio.exe"), "");
  EXPECT_EQ(FindLaunchFile(base, ""), "");
  EXPECT_EQ(FindLaunchFile("C:\\Missing", "video.exe"), "");
  EXPECT_EQ(FindLaunchFile("", "video.exe"), "");
}

TEST_F(CompletionTest, SearchStartsAtTheCommonLocationWhenItExists) {
  std::string read = "stale";
  EXPECT_EQ(LaunchSearchFolder("C:\\Custom", &read), "C:\\Custom");
  EXPECT_EQ(read, "");

  const std::string key = deploy::UninstallKeyPath("Orvo Common");
  ASSERT_EQ(platform::Reg().CreateKey(Hive::kLocalMachine, key), 0u);
  ASSERT_EQ(platform::Reg().SetString(Hive::kLocalMachine, key, "InstallLocation", "C:\\Orvo\\Common"), 0u);
  EXPECT_EQ(LaunchSearchFolder("C:\\Custom", &read), "C:\\Custom");  // not there yet
  EXPECT_EQ(read, "C:\\Orvo\\Common");

  ASSERT_TRUE(sys::N_CreateFolder("C:\\Orvo\\Common"));
  EXPECT_EQ(LaunchSearchFolder("C:\\Custom", &read), "C:\\Orvo\\Common");
  EXPECT_EQ(LaunchSearchFolder("C:\\Custom"), "C:\\Orvo\\Common");

  root_.WriteFile("C:\\Orvo\\File", "x");
  ASSERT_EQ(platform::Reg().SetString(Hive::kLocalMachine, key, "InstallLocation", "C:\\Orvo\\File"), 0u);
  EXPECT_EQ(LaunchSearchFolder("C:\\Custom"), "C:\\Custom");  // a file is not a folder
}

// ---- Starting the product ----

TEST(LauncherArgumentsTest, OneQuotedArgumentWithTheEscapedObject) {
  EXPECT_EQ(LauncherArguments({"Orvo Video", "42", "editor"}),
            "\"--ns-arguments={\\\"type\\\":\\\"open\\\",\\\"page\\\":\\\"open\\\",\\\"appid\\\":\\\"\\\","
            "\\\"appName\\\":\\\"Orvo Video\\\",\\\"usecaseId\\\":\\\"42\\\",\\\"startApp\\\":\\\"editor\\\"}\"");
}

TEST(LauncherArgumentsTest, AnyValueArrivesIntactAsOneArgument) {
  const HowToStart cases[] = {
      {"", "", ""},
      {"say \"hi\"", "a\\b", "ends with \\"},
      {"\\\"", "\"\" \"", "C:\\Program Files\\Orvo\\"},
      {"Grüße 日本", "tab\there", "new\nline"},
  };
  for (const HowToStart& how_to : cases) {
    // The program name comes first: it is split by rules of its own.
    const std::vector<std::string> words = platform::SplitCommandLine("OrvoLauncher.exe " + LauncherArguments(how_to));
    ASSERT_EQ(words.size(), 2u) << LauncherArguments(how_to);
    const std::string prefix = "--ns-arguments=";
    ASSERT_EQ(words[1].rfind(prefix, 0), 0u) << words[1];
    const auto object = nlohmann::json::parse(words[1].substr(prefix.size()), nullptr, false);
    ASSERT_TRUE(object.is_object()) << words[1];
    EXPECT_EQ(object, (nlohmann::json{{"type", "open"},
                                      {"page", "open"},
                                      {"appid", ""},
                                      {"appName", how_to.appName},
                                      {"usecaseId", how_to.useCaseId},
                                      {"startApp", how_to.startApp}}));
  }
}

class LaunchTest : public CompletionTest {
 protected:
  void SetUp() override { launched_ = test::RecordingLauncher::Install(); }
  std::shared_ptr<test::RecordingLauncher::Shared> launched_;
};

TEST_F(LaunchTest, StartsTheProgramOrTheHubLauncherWithTheHowToArguments) {
  const std::string video = "C:\\Program Files (x86)\\Orvo\\Video\\Orvo Video.exe";
  const std::string launcher = "C:\\Program Files (x86)\\Orvo\\Orvo Start\\OrvoLauncher.exe";
  const std::string lower_launcher = "C:\\Program Files (x86)\\Orvo\\Start\\orvolauncher.exe";
  for (const std::string& path : {video, launcher, lower_launcher}) root_.WriteFile(path, "program");
  const HowToStart how_to{"Orvo Video", "7", "editor"};
  struct Case {
    std::string path;
    HowToStart how_to;
    std::string command_line;
  };
  const Case cases[] = {
      {video, how_to, "\"" + video + "\""},
      {launcher, how_to, "\"" + launcher + "\" " + LauncherArguments(how_to)},
      {launcher, {"", "7", "editor"}, "\"" + launcher + "\""},  // no application named: no arguments
      {lower_launcher, how_to, "\"" + lower_launcher + "\""},    // the name's case matters
  };
  for (const Case& c : cases) {
    launched_->requests.clear();
    EXPECT_TRUE(LaunchApplication(c.path, c.how_to)) << c.path;
    ASSERT_EQ(launched_->requests.size(), 1u) << c.path;
    EXPECT_EQ(launched_->requests[0].command_line, c.command_line);
    EXPECT_FALSE(launched_->requests[0].hidden) << c.path;
  }
}

TEST_F(LaunchTest, NothingStartsWithoutAnExistingFile) {
  ASSERT_TRUE(sys::N_CreateFolder("C:\\Orvo\\Folder.exe"));
  for (const char* path : {"", "C:\\Orvo\\Missing.exe", "C:\\Orvo\\Folder.exe"}) {
    EXPECT_FALSE(LaunchApplication(path, {"Orvo Video", "7", "editor"})) << path;
  }
  EXPECT_THAT(launched_->requests, IsEmpty());
}

TEST_F(LaunchTest, AStartThatFailsIsReported) {
  root_.WriteFile("C:\\Orvo\\Video.exe", "program");
  launched_->answer = [](const platform::SpawnRequest&) { return -5; };
  EXPECT_FALSE(LaunchApplication("C:\\Orvo\\Video.exe", {}));
  EXPECT_EQ(launched_->requests.size(), 1u);
}

// ---- Product pages ----

TEST(ProductPageTest, AddressesOnTheRedirectService) {
  const test::ScopedEnv redirect("ORVO_REDIRECT_SERVICE", "https://go.test");
  EXPECT_EQ(ProductPageUrl(ProductPage::kGeneral), "https://go.test/link.php?to=153998414");
  EXPECT_EQ(ProductPageUrl(ProductPage::kInstall), "https://go.test/link.php?to=153998094");
  EXPECT_EQ(ProductPageUrl(ProductPage::kContent), "https://go.test/link.php?to=153998413");
}

TEST_F(LaunchTest, OpensThePageWithTheDesktopOpener) {
  const test::ScopedEnv redirect("ORVO_REDIRECT_SERVICE", "https://go.test");
  const stdfs::path bin = root_.Root() / "bin";
  stdfs::create_directories(bin);
  std::ofstream(bin / "xdg-open") << "#!/bin/sh\n";
  stdfs::permissions(bin / "xdg-open", stdfs::perms::owner_all);
  const test::ScopedEnv path("PATH", bin.string());

  OpenProductPage(ProductPage::kContent);
  ASSERT_EQ(launched_->requests.size(), 1u);
  EXPECT_THAT(platform::SplitCommandLine(launched_->requests[0].command_line),
              ElementsAre(root_.Platform().drive.ToWindows(bin / "xdg-open"), "https://go.test/link.php?to=153998413"));

  launched_->answer = [](const platform::SpawnRequest&) { return -2; };
  OpenProductPage(ProductPage::kGeneral);  // a failure is only passed over
  EXPECT_EQ(launched_->requests.size(), 2u);
}

// After an install the install page; after a removal the content page only when content went.
TEST(CompletedRunPageTest, TheRunsKindAndTheRemovedProductsChooseThePage) {
  EXPECT_EQ(CompletedRunPage(false, ""), ProductPage::kInstall);
  EXPECT_EQ(CompletedRunPage(false, "Orvo Content"), ProductPage::kInstall);
  for (const char* product : {"Orvo Content Pack", "Themes", "all Orvo Common"}) {
    EXPECT_EQ(CompletedRunPage(true, product), ProductPage::kContent) << product;
  }
  for (const char* product : {"Orvo Video", "themes", ""}) {
    EXPECT_EQ(CompletedRunPage(true, product), std::nullopt) << product;
  }
}

}  // namespace
}  // namespace orvo::flow
