#include "app/run_options.h"

#include <gtest/gtest.h>

#include <optional>

namespace orvo::app {
namespace {

RunOptions Parse(const std::vector<std::string>& arguments, std::vector<std::string>* excluded = nullptr) {
  std::vector<std::string> command_line{"C:\\Downloads\\OrvoInstaller.exe"};
  for (const auto& argument : arguments) command_line.push_back(argument);
  RunOptions options;
  std::vector<std::string> names;
  ParseArguments(command_line, options, names);
  if (excluded != nullptr) *excluded = names;
  return options;
}

TEST(RunOptions, NoArgumentsGiveTheDefaults) {
  const RunOptions options = Parse({});
  EXPECT_EQ(options.installId, "uqe9137");
  EXPECT_TRUE(options.selfUpdate);
  EXPECT_TRUE(options.mutexCheck);
  EXPECT_TRUE(options.useExtension);
  EXPECT_FALSE(options.silent || options.daemon || options.uninstall || options.acceptEula);
  EXPECT_TRUE(options.product.empty());
}

TEST(RunOptions, OptionsMatchWithoutRegardToCaseOrPrefix) {
  const RunOptions a = Parse({"INSTALL", "Orvo Photo", "/SILENT"});
  EXPECT_EQ(a.product, "Orvo Photo");
  EXPECT_FALSE(a.uninstall);
  EXPECT_TRUE(a.silent);
  const RunOptions b = Parse({"--installid", "orvo365_x", "-NoExt", "--nomutexcheck"});
  EXPECT_EQ(b.installId, "orvo365_x");
  EXPECT_FALSE(b.useExtension);
  EXPECT_FALSE(b.mutexCheck);
  const RunOptions c = Parse({"silently", "/unknown", "x"});  // no partial matches; unknown ones are ignored
  EXPECT_FALSE(c.silent);
}

TEST(RunOptions, AValueIsTakenWhateverItLooksLike) {
  const RunOptions options = Parse({"/installpath", "/silent", "/noext"});
  EXPECT_EQ(options.installPath, "/silent");
  EXPECT_FALSE(options.silent);
  EXPECT_FALSE(options.useExtension);
}

TEST(RunOptions, AMissingValueEndsTheScan) {
  const RunOptions path = Parse({"/noext", "/installpath"});
  EXPECT_TRUE(path.installPath.empty());
  EXPECT_FALSE(path.useExtension);

  const RunOptions uninstall = Parse({"/silent", "/uninstall"});
  EXPECT_FALSE(uninstall.uninstall);  // a value option without its value does nothing
  EXPECT_TRUE(uninstall.silent);

  const RunOptions daemon = Parse({"/daemon"});
  EXPECT_TRUE(daemon.silent);
  EXPECT_TRUE(daemon.daemon);
  EXPECT_EQ(daemon.hostWindow, platform::kNoWindow);
  EXPECT_FALSE(daemon.selfUpdate);
  EXPECT_TRUE(daemon.acceptEula);
}

TEST(RunOptions, DaemonReadsTheHandleAsADecimalNumber) {
  struct Case {
    const char* text;
    platform::WindowHandle handle;
  };
  for (const Case& c : {Case{"132456", 132456}, Case{"  42", 42}, Case{"77abc", 77}, Case{"abc", 0},
                        Case{"-5", 0}, Case{"", 0}, Case{"99999999999999999999999", 0}}) {
    const RunOptions options = Parse({"/daemon", c.text});
    EXPECT_EQ(options.hostWindow, c.handle) << c.text;
    EXPECT_TRUE(options.daemon && options.silent && options.acceptEula) << c.text;
    EXPECT_FALSE(options.selfUpdate) << c.text;
  }
}

TEST(RunOptions, UninstallThenInstallKeepsSelfUpdateOff) {
  const RunOptions options = Parse({"/uninstall", "Orvo A", "/install", "Orvo B"});
  EXPECT_FALSE(options.uninstall);
  EXPECT_EQ(options.product, "Orvo B");
  EXPECT_FALSE(options.selfUpdate);
}

TEST(RunOptions, SilentAcceptsTheLicenceAndSkipsSelfUpdate) {
  const RunOptions options = Parse({"/silent"});
  EXPECT_TRUE(options.acceptEula);
  EXPECT_FALSE(options.selfUpdate);
  EXPECT_FALSE(Parse({"/uninstall", "x"}).selfUpdate);
  EXPECT_TRUE(Parse({"/accepteula"}).selfUpdate);
}

TEST(RunOptions, FlagsOfTheTable) {
  const RunOptions options =
      Parse({"/accepteula", "/autoupdate", "/apptracking", "/nodesktopshortcut", "/noselfupdate"});
  EXPECT_TRUE(options.acceptEula && options.autoUpdate && options.appTracking && options.noDesktopShortcut);
  EXPECT_FALSE(options.selfUpdate);
}

TEST(RunOptions, ExcludedAppsAreNormalised) {
  std::vector<std::string> excluded;
  Parse({"/excludeapp", "Foo,orvoBar", "/excludeapp", "", "/excludeapp", "ORVOBaz,,x"}, &excluded);
  EXPECT_EQ(excluded, (std::vector<std::string>{"orvofoo", "orvobar", "orvobaz", "orvox"}));
}

class FakeClipboard : public platform::Clipboard {
 public:
  explicit FakeClipboard(std::optional<std::string> text) : text_(std::move(text)) {}
  std::optional<std::string> ReadText() override { return text_; }
  bool Empty() override {
    emptied_ = true;
    return true;
  }
  bool emptied_ = false;

 private:
  std::optional<std::string> text_;
};

TEST(StartInfo, TaggedObjectFillsTheStartInformationAndEmptiesTheClipboard) {
  FakeClipboard clipboard(R"({"howtoTag": "5F2EC3F8-5366-38E5-ECF4-74CD82746943", "appName": "Orvo Photo",
                              "usecaseId": "42", "startApp": "photo.exe"})");
  RunOptions options;
  ReadStartInfo(clipboard, options);
  EXPECT_EQ(options.howToAppName, "Orvo Photo");
  EXPECT_EQ(options.howToUseCaseId, "42");
  EXPECT_EQ(options.howToStartApp, "photo.exe");
  EXPECT_TRUE(clipboard.emptied_);
}

TEST(StartInfo, MembersOfOtherTypesAreIgnoredButTheTagStillEmpties) {
  FakeClipboard clipboard(R"({"howtoTag": "5F2EC3F8-5366-38E5-ECF4-74CD82746943", "appName": 7})");
  RunOptions options;
  ReadStartInfo(clipboard, options);
  EXPECT_TRUE(options.howToAppName.empty());
  EXPECT_TRUE(clipboard.emptied_);
}

TEST(StartInfo, AnythingElseLeavesTheClipboardAlone) {
  for (std::optional<std::string> text :
       {std::optional<std::string>{}, std::optional<std::string>{"not json"}, std::optional<std::string>{"[1]"},
        std::optional<std::string>{R"({"howtoTag": "5f2ec3f8-5366-38e5-ecf4-74cd82746943", "appName": "x"})"},
        std::optional<std::string>{R"({"howtoTag": 5, "appName": "x"})"}}) {
    FakeClipboard clipboard(text);
    RunOptions options;
    ReadStartInfo(clipboard, options);
    EXPECT_TRUE(options.howToAppName.empty());
    EXPECT_FALSE(clipboard.emptied_) << text.value_or("(none)");
  }
}

TEST(InstallerIdTraits, SubstringTestsWithoutRegardToCase) {
  const InstallerIdTraits settings("ORVO365_abc");
  EXPECT_TRUE(settings.installationSettingsOffered);
  EXPECT_FALSE(settings.managedDeployment);
  EXPECT_TRUE(InstallerIdTraits("x_orvo20").installationSettingsOffered);
  EXPECT_TRUE(InstallerIdTraits("DidiReza1").hubOnly);
  EXPECT_TRUE(InstallerIdTraits("vuriviRAV").benchmark);
  EXPECT_TRUE(InstallerIdTraits("abcVL9").managedDeployment);
  EXPECT_EQ(ConfigurationId("orvo365_de_x"), "orvo365");
  EXPECT_EQ(ConfigurationId("uqe9137"), "uqe9137");
}

TEST(InstallerIdTraits, DesktopShortcutBoxOnlyForInteractiveInstalls) {
  RunOptions options;
  EXPECT_TRUE(OffersDesktopShortcutBox(options));
  options.installId = "didireza";
  EXPECT_FALSE(OffersDesktopShortcutBox(options));
  options = RunOptions{};
  options.uninstall = true;
  EXPECT_FALSE(OffersDesktopShortcutBox(options));
}

TEST(ConsoleAnswer, VersionAndHelp) {
  EXPECT_EQ(ConsoleAnswer({"OrvoInstaller.exe", "--version"}), "2.0.1.46\n");
  EXPECT_NE(ConsoleAnswer({"OrvoInstaller.exe", "--help"}).find("/uninstall <product>"), std::string::npos);
  EXPECT_TRUE(ConsoleAnswer({"OrvoInstaller.exe", "/silent"}).empty());
}

}  // namespace
}  // namespace orvo::app
