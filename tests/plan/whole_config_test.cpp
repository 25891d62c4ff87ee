// Whole configurations on a system root with real runtime detection (registry values and system files),
// checked by the plan dump the controller writes to the log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/log.h"
#include "deploy/installed_products.h"
#include "plan/plan_builder.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "support/pe_builder.h"
#include "support/test_root.h"

namespace orvo::plan {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr const char* kWork = "C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork";
constexpr const char* kConfig = "C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork\\uqe9137.ini";
constexpr const char* kAhead = "C:\\Users\\tester\\Downloads\\OrvoInstaller";
constexpr const char* kMsiLog = "C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork\\24_02_19_03-45PM_ISM.Log";
constexpr const char* kVcKey86 = "SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86";
constexpr const char* kVcKey64 = "SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64";
constexpr const char* kInstallRoot = "C:\\Program Files (x86)\\Orvo";
constexpr const char* kNetKey = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";

constexpr const char* kSuite = R"([setup]
productionname=Orvo 365
installfolder=Orvo 365
launchfile=OrvoStart.exe
launchid=61
launchname=Orvo Start

[vcredist2022]
filename=vc_redist.x86.exe
url=https://cdn.orvo.example/runtimes/vc_redist.x86.exe
parameter=/install /quiet /norestart
displayname=Microsoft Visual C++ Runtime (x86)
minversion=14.36.32532.0
checkreg=SOFTWARE\Microsoft\VisualStudio\14.0\VC\Runtimes\x86
checkfile=msvcp140.dll
size=13837672
md5=6f1b2f2a5b0e4c3d9a8b7c6d5e4f3a2b
systemcomponents=yes

[vcredist64_2022]
filename=vc_redist.x64.exe
url=https://cdn.orvo.example/runtimes/vc_redist.x64.exe
parameter=/install /quiet /norestart
displayname=Microsoft Visual C++ Runtime (x64)
minversion=14.36.32532.0
checkreg=SOFTWARE\Microsoft\VisualStudio\14.0\VC\Runtimes\x64
checkfile=vcruntime140_1.dll
systemcomponents=yes

[dotnet48]
id=dotnet
filename=ndp48-web.exe
url=https://cdn.orvo.example/runtimes/ndp48-web.exe
parameter=/q /norestart
displayname=Microsoft .NET Framework 4.8
minversion=528040
checkreg=SOFTWARE\Microsoft\NET Framework Setup\NDP\v4\Full

; the suite's packages, in the order they are installed
[action_common]
id=1
filename=OrvoCommon.zip
url=https://cdn.orvo.example/packages/OrvoCommon.zip
uninstallid=Orvo Common
displayname=Orvo Common
mainfile=OrvoCommon.dll
installfolder=%orvocommon%
version=3.0.0.12
size=2048000
md5=c0ffee00c0ffee00c0ffee00c0ffee00
orvocomponents=yes
notuninstall=yes

[action_start]
id=61
filename=OrvoStart.zip
url=https://cdn.orvo.example/packages/OrvoStart.zip
uninstallid=OrvoStart
displayname=Orvo Start
mainfile=OrvoStart.exe
installfolder=Orvo Start
version=1.4.2.0
checkversion=yes
shortcut=yes
startmenu=yes
startmenufolder=Orvo
appusermid=Orvo.Start

[action_video]
id=157
filename=OrvoVideo.zip
url=https://cdn.orvo.example/packages/OrvoVideo.zip
uninstallid=OrvoVideo
displayname=Orvo Video
mainfile=OrvoVideo.exe
installfolder=Orvo Video
version=20.1.0.3
shortcut=yes
shortcutnameandpath=Orvo Video,OrvoVideo.exe
shortcutnameandpath1=Orvo Video\Orvo Video Converter,Converter.exe

[action_video_codecs]
filename=OrvoVideoCodecs.zip
url=https://cdn.orvo.example/packages/OrvoVideoCodecs.zip
uninstallid=OrvoVideo
displayname=Orvo Video Codecs
mainfile=OrvoVideo.exe
installfolder=Orvo Video/Codecs
subaction=yes

[action_audio]
id=158
filename=OrvoAudio.zip
url=https://cdn.orvo.example/packages/OrvoAudio.zip
uninstallid=OrvoAudio
displayname=Orvo Audio
mainfile=OrvoAudio.exe
installfolder=Orvo Audio

[action_photo]
id=159
filename=OrvoPhoto.zip
url=https://cdn.orvo.example/packages/OrvoPhoto.zip
uninstallid=OrvoPhoto
displayname=Orvo Photo
mainfile=OrvoPhoto.exe
installfolder=Orvo Photo

[action_codecpack]
filename=OrvoCodecPack.msi
url=https://cdn.orvo.example/packages/OrvoCodecPack.msi
uninstallid=OrvoCodecPack
displayname=Orvo Codec Pack
mainfile=codecs.dll
upgradecode={6A2B0C1D-0E2F-4A3B-8C4D-5E6F7A8B9C0D}
parameter=/qn REBOOT=ReallySuppress

[action_widgets]
filename=OrvoWidgets.zip
url=https://cdn.orvo.example/packages/OrvoWidgets.zip
uninstallid=OrvoWidgets
displayname=Orvo Widgets
mainfile=OrvoWidgets.exe
unsupportedos=7,8

[action_legacy]
filename=OrvoLegacyBridge.zip
url=https://cdn.orvo.example/packages/OrvoLegacyBridge.zip
uninstallid=OrvoLegacyBridge
displayname=Orvo Legacy Bridge
mainfile=bridge.exe
arch=x86

[action_guide]
filename=OrvoGuide.zip
url=https://cdn.orvo.example/packages/OrvoGuide.zip
uninstallid=OrvoGuide
displayname=Orvo Guide
mainfile=OrvoGuide.exe
installfolder=Orvo Guide

[notes]
text=not a section kind, ignored
)";

class WholeConfigTest : public ::testing::Test {
 protected:
  explicit WholeConfigTest(const std::string& profile = "") : root_(profile) {
    inputs_.workFolder = kWork;
    inputs_.localConfigFolder = kAhead;
    inputs_.msiLogPath = kMsiLog;
    const platform::SystemProfile& machine = platform::Current().profile;
    inputs_.windows64 = machine.windows64;
    inputs_.windowsMajor = machine.version.major;
    inputs_.windowsMinor = machine.version.minor;
    suite_.installFolder = kInstallRoot;
    root_.WriteFile(kConfig, kSuite);
    root_.WriteFile(std::string(kAhead) + "\\OrvoGuide.zip", "PK");
  }

  void SetVersion(const char* key, const char* version) {
    platform::Reg().CreateKey(platform::Hive::kLocalMachine, key);
    platform::Reg().SetString(platform::Hive::kLocalMachine, key, "Version", version);
  }
  void SetRelease(std::uint32_t release) {
    platform::Reg().CreateKey(platform::Hive::kLocalMachine, kNetKey);
    platform::Reg().SetDword(platform::Hive::kLocalMachine, kNetKey, "Release", release);
  }
  void PutSystemFile(const std::string& folder, const char* name, std::uint16_t minor) {
    const std::string image = orvo::test::BuildVersionedPe({14, minor, 0, 0}, {14, minor, 0, 0}, {});
    root_.WriteFile("C:\\Windows\\" + folder + "\\" + name, image);
  }

  // What the controller does: the full plan for the settings dialog, the user's choice, then the plan.
  Plan BuildWithUserChoice(const std::vector<std::string>& unticked) {
    InstallSelection& selection = selection_;
    selection.NoFiltering = true;
    SuiteSettings scratch;
    scratch.installFolder = kInstallRoot;
    const Plan full = PlanBuilder(inputs_, selection, scratch).BuildPlanFromFile(kConfig);
    selection.NoFiltering = false;
    SetPlanCopy(selection, full);
    SetDeselectedNames(selection, unticked);
    return PlanBuilder(inputs_, selection, suite_).BuildPlanFromFile(kConfig);
  }

  // The plan dump as it reaches the log, cut into lines.
  static std::vector<std::string> DumpedLines(const Plan& plan) {
    log::ScopedCapture capture;
    DumpPlan(plan);
    std::vector<std::string> lines;
    for (const log::ScopedCapture::Entry& entry : capture.Entries()) {
      EXPECT_EQ(entry.level, log::Level::kDebug);
      for (const std::string& line : platform::Split(entry.message, '\n')) lines.push_back(line);
    }
    return lines;
  }

  orvo::test::TestRoot root_;
  BuildInputs inputs_;
  InstallSelection selection_;
  SuiteSettings suite_;
};

TEST_F(WholeConfigTest, SuiteOnWindows10x64) {
  SetVersion(kVcKey86, "v14.20.27508.01");  // too old
  PutSystemFile("SysWOW64", "msvcp140.dll", 20);
  SetVersion(kVcKey64, "v14.38.33130");  // new enough, but its file is missing: repair
  SetRelease(461808);                   // .NET 4.7.2
  selection_.ExcludedApps = {"orvophoto"};
  const Plan plan = BuildWithUserChoice({"Orvo Audio"});

  EXPECT_THAT(selection_.ContentNames, ElementsAre("Orvo Start", "Orvo Video", "Orvo Audio", "Orvo Widgets",
                                                   "Orvo Guide"));
  EXPECT_EQ(plan[3].install_data.RepairParameter, "/q /repair /norestart");
  EXPECT_TRUE(plan[1].install_data.RepairParameter.empty());
  EXPECT_TRUE(plan[11].install_data.SharedUninstallId);
  EXPECT_TRUE(plan[13].install_data.SharedUninstallId);
  EXPECT_FALSE(plan[9].install_data.SharedUninstallId);
  EXPECT_THAT(plan[11].install_data.Shortcuts,
              ElementsAre(std::pair<const std::string, std::string>("Orvo Video", "OrvoVideo.exe"),
                          std::pair<const std::string, std::string>("Orvo Video\\Orvo Video Converter",
                                                                    "Converter.exe")));
  EXPECT_EQ(suite_.installFolder, "C:\\Program Files (x86)\\Orvo\\Orvo 365");
  EXPECT_EQ(suite_.startAppId, 61);

  const std::vector<std::string> expected = {
      "current step:0 id: type:8 ",
      "current step:1 id: type:12 ",
      "current step:2 id: type:8 ",
      "current step:3 id: type:12 ",
      "current step:4 id:dotnet type:8 ",
      "current step:5 id:dotnet type:12 ",
      "current step:6 id:1 type:9 ",
      "----------------download_data-----------------",
      " UpdateType:setup  ReleaseNotes: URL:https://cdn.orvo.example/packages/OrvoCommon.zip DisplayName:Orvo Common "
      "ByteSize:2048000 Name:OrvoCommon.zip",
      "current step:7 id:1 type:13 ",
      "----------------install_data-----------------",
      " UpdateType:setup  InstallType:3  Name:OrvoCommon.zip "
      "FilePath:C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork\\OrvoCommon.zip DisplayName:Orvo Common "
      "Upgrade_code: ",
      " CommandLineParameter: InstallFolder:%orvocommon% checkVersionFile:OrvoCommon.dll ",
      " uninstallId:Orvo Common version:3.0.0.12 preexecfile:",
      "current step:8 id:61 type:9 ",
      "----------------download_data-----------------",
      " UpdateType:setup  ReleaseNotes: URL:https://cdn.orvo.example/packages/OrvoStart.zip DisplayName:Orvo Start "
      "ByteSize:0 Name:OrvoStart.zip",
      "current step:9 id:61 type:13 ",
      "----------------install_data-----------------",
      " UpdateType:setup  InstallType:3  Name:OrvoStart.zip "
      "FilePath:C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork\\OrvoStart.zip DisplayName:Orvo Start "
      "Upgrade_code: ",
      " CommandLineParameter: InstallFolder:Orvo Start checkVersionFile:OrvoStart.exe ",
      " uninstallId:OrvoStart version:1.4.2.0 preexecfile:",
      "current step:10 id:157 type:9 ",
      "----------------download_data-----------------",
      " UpdateType:setup  ReleaseNotes: URL:https://cdn.orvo.example/packages/OrvoVideo.zip DisplayName:Orvo Video "
      "ByteSize:0 Name:OrvoVideo.zip",
      "current step:11 id:157 type:13 ",
      "----------------install_data-----------------",
      " UpdateType:setup  InstallType:3  Name:OrvoVideo.zip "
      "FilePath:C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork\\OrvoVideo.zip DisplayName:Orvo Video "
      "Upgrade_code: ",
      " CommandLineParameter: InstallFolder:Orvo Video checkVersionFile:OrvoVideo.exe ",
      " uninstallId:OrvoVideo version:20.1.0.3 preexecfile:",
      "current step:12 id: type:9 ",
      "----------------download_data-----------------",
      " UpdateType:setup  ReleaseNotes: URL:https://cdn.orvo.example/packages/OrvoVideoCodecs.zip "
      "DisplayName:Orvo Video Codecs ByteSize:0 Name:OrvoVideoCodecs.zip",
      "current step:13 id: type:13 ",
      "----------------install_data-----------------",
      " UpdateType:setup  InstallType:3  Name:OrvoVideoCodecs.zip "
      "FilePath:C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork\\OrvoVideoCodecs.zip DisplayName:Orvo Video Codecs "
      "Upgrade_code: ",
      " CommandLineParameter: InstallFolder:Orvo Video\\Codecs checkVersionFile:OrvoVideo.exe ",
      " uninstallId:OrvoVideo version: preexecfile:",
      "current step:14 id: type:9 ",
      "----------------download_data-----------------",
      " UpdateType:setup  ReleaseNotes: URL:https://cdn.orvo.example/packages/OrvoCodecPack.msi "
      "DisplayName:Orvo Codec Pack ByteSize:0 Name:OrvoCodecPack.msi",
      "current step:15 id: type:13 ",
      "----------------install_data-----------------",
      " UpdateType:setup  InstallType:2  Name:OrvoCodecPack.msi "
      "FilePath:C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork\\OrvoCodecPack.msi DisplayName:Orvo Codec Pack "
      "Upgrade_code:{6A2B0C1D-0E2F-4A3B-8C4D-5E6F7A8B9C0D} ",
      " CommandLineParameter: /log \"C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork\\24_02_19_03-45PM_ISM.Log\" "
      "/qn REBOOT=ReallySuppress InstallFolder: checkVersionFile:codecs.dll ",
      " uninstallId: version: preexecfile:",
      "current step:16 id: type:9 ",
      "----------------download_data-----------------",
      " UpdateType:setup  ReleaseNotes: URL:https://cdn.orvo.example/packages/OrvoWidgets.zip "
      "DisplayName:Orvo Widgets ByteSize:0 Name:OrvoWidgets.zip",
      "current step:17 id: type:13 ",
      "----------------install_data-----------------",
      " UpdateType:setup  InstallType:3  Name:OrvoWidgets.zip "
      "FilePath:C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork\\OrvoWidgets.zip DisplayName:Orvo Widgets "
      "Upgrade_code: ",
      " CommandLineParameter: InstallFolder: checkVersionFile:OrvoWidgets.exe ",
      " uninstallId:OrvoWidgets version: preexecfile:",
      "current step:18 id: type:13 ",
      "----------------install_data-----------------",
      " UpdateType:setup  InstallType:3  Name:OrvoGuide.zip "
      "FilePath:C:\\Users\\tester\\Downloads\\OrvoInstaller\\OrvoGuide.zip DisplayName:Orvo Guide Upgrade_code: ",
      " CommandLineParameter: InstallFolder:Orvo Guide checkVersionFile:OrvoGuide.exe ",
      " uninstallId:OrvoGuide version: preexecfile:",
      "current step:19 id: type:14 ",
  };
  EXPECT_THAT(DumpedLines(plan), ElementsAreArray(expected));
}

class WholeConfigWindows7Test : public WholeConfigTest {
 protected:
  WholeConfigWindows7Test()
      : WholeConfigTest(R"({"windows": {"major": 6, "minor": 1, "build": 7601, "servicePack": 1},
                            "windows64": false})") {}
};

TEST_F(WholeConfigWindows7Test, SuiteOnWindows7x86WithItsRuntimesPresent) {
  SetVersion(kVcKey86, "v14.38.33130");
  PutSystemFile("System32", "msvcp140.dll", 38);
  SetRelease(528049);
  const Plan plan = BuildWithUserChoice({});
  // No runtimes; the x64 runtime is not even looked at; the widgets do not run on Windows 7; the x86
  // bridge does; the audio and photo apps are not deselected here.
  const std::vector<std::string> expected = {
      "current step:0 id:1 type:9 ",   "current step:1 id:1 type:13 ",   "current step:2 id:61 type:9 ",
      "current step:3 id:61 type:13 ", "current step:4 id:157 type:9 ",  "current step:5 id:157 type:13 ",
      "current step:6 id: type:9 ",    "current step:7 id: type:13 ",    "current step:8 id:158 type:9 ",
      "current step:9 id:158 type:13 ", "current step:10 id:159 type:9 ", "current step:11 id:159 type:13 ",
      "current step:12 id: type:9 ",   "current step:13 id: type:13 ",   "current step:14 id: type:9 ",
      "current step:15 id: type:13 ",  "current step:16 id: type:13 ",   "current step:17 id: type:14 "};
  std::vector<std::string> step_lines;
  for (const std::string& line : DumpedLines(plan)) {
    if (line.rfind("current step:", 0) == 0) step_lines.push_back(line);
  }
  EXPECT_THAT(step_lines, ElementsAreArray(expected));
  EXPECT_EQ(plan[15].install_data.Name, "OrvoLegacyBridge.zip");
  EXPECT_EQ(plan[16].install_data.Name, "OrvoGuide.zip");
}

TEST_F(WholeConfigTest, HostModeInstallListDump) {
  inputs_.hostMode = true;
  inputs_.product =
      R"([{"uninstallid":"vcredist","filename":"vc_redist.x86.exe","url":"https://cdn.orvo.example/vc.exe",)"
      R"("parameter":"/q","displayname":"VC","minversion":"14.36.32532.0","checkreg":")" +
      std::string("SOFTWARE\\\\Microsoft\\\\VisualStudio\\\\14.0\\\\VC\\\\Runtimes\\\\x86") +
      R"("},{"id":7,"uninstallid":"0","filename":"OrvoInstaller.zip","url":"https://cdn.orvo.example/i.zip",)"
      R"("displayname":"Orvo Installer","mainfile":"OrvoInstaller.exe","size":812345,"version":"2.0.1.47"},)"
      R"({"id":61,"uninstallid":"OrvoStart","filename":"OrvoStart.zip","url":"https://cdn.orvo.example/s.zip",)"
      R"("displayname":"Orvo Start","mainfile":"OrvoStart.exe","checkversion":true}])";
  SetVersion(kVcKey86, "v14.38.33130");
  const Plan plan = PlanBuilder(inputs_, selection_, suite_).BuildPlan("");
  ASSERT_GE(plan.size(), 2u);
  EXPECT_TRUE(plan[1].AlreadyInstalled);
  EXPECT_TRUE(plan[6].install_data.CheckVersion);
  EXPECT_THAT(
      DumpedLines(plan),
      ElementsAre("current step:0 id: type:8 ", "current step:1 id:vcredist type:12 ", "current step:2 id:7 type:9 ",
                  "----------------download_data-----------------",
                  " UpdateType:setup  ReleaseNotes: URL:https://cdn.orvo.example/i.zip DisplayName:Orvo Installer "
                  "ByteSize:812345 Name:OrvoInstaller.zip",
                  "current step:3 id:7 type:13 ", "----------------install_data-----------------",
                  " UpdateType:setup  InstallType:3  Name:OrvoInstaller.zip "
                  "FilePath:C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork\\OrvoInstaller.zip "
                  "DisplayName:Orvo Installer Upgrade_code: ",
                  " CommandLineParameter: InstallFolder: checkVersionFile:OrvoInstaller.exe ",
                  " uninstallId:0 version:2.0.1.47 preexecfile:", "current step:4 id: type:18 ",
                  "current step:5 id:61 type:9 ", "----------------download_data-----------------",
                  " UpdateType:setup  ReleaseNotes: URL:https://cdn.orvo.example/s.zip DisplayName:Orvo Start "
                  "ByteSize:0 Name:OrvoStart.zip",
                  "current step:6 id:61 type:13 ", "----------------install_data-----------------",
                  " UpdateType:setup  InstallType:3  Name:OrvoStart.zip "
                  "FilePath:C:\\Users\\tester\\AppData\\Local\\Temp\\OrvoWork\\OrvoStart.zip DisplayName:Orvo Start "
                  "Upgrade_code: ",
                  " CommandLineParameter: InstallFolder: checkVersionFile:OrvoStart.exe ",
                  " uninstallId:OrvoStart version: preexecfile:", "current step:7 id: type:14 "));
}

TEST_F(WholeConfigTest, UninstallAllFromTheRegisteredProducts) {
  const std::string index(deploy::kProductIndexKey);
  platform::Reg().CreateKey(platform::Hive::kLocalMachine, index);
  platform::Reg().SetString(platform::Hive::kLocalMachine, index, "C:\\Program Files (x86)\\Orvo\\Common",
                            "Orvo Common");
  platform::Reg().SetString(platform::Hive::kLocalMachine, index, "C:\\Program Files (x86)\\Orvo\\Orvo 365\\Video",
                            "OrvoVideo");
  inputs_.uninstall = true;
  inputs_.product = "all";
  const Plan plan = PlanBuilder(inputs_, selection_, suite_).BuildPlan(kConfig);
  EXPECT_THAT(DumpedLines(plan), ElementsAre("current step:0 id: type:17 ", "current step:1 id: type:17 ",
                                             "current step:2 id: type:14 "));
  ASSERT_EQ(plan.size(), 3u);
  EXPECT_EQ(plan[0].install_data.uninstallId, "OrvoVideo");
  EXPECT_EQ(plan[1].install_data.uninstallId, "Orvo Common");
  // A host asks by folder: the product registered at a parent of it.
  inputs_.product = R"({"installfolder":"C:/Program Files (x86)/Orvo/Orvo 365/Video/bin"})";
  const Plan by_folder = PlanBuilder(inputs_, selection_, suite_).BuildPlan(kConfig);
  ASSERT_EQ(by_folder.size(), 2u);
  EXPECT_EQ(by_folder[0].install_data.uninstallId, "OrvoVideo");
}

}  // namespace
}  // namespace orvo::plan
