#include "plan/plan_builder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/log.h"
#include "plan/builder_fixture.h"

namespace orvo::plan::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

const char* kVcSection =
    "[vcredist2019]\nfilename=vc_redist.x86.exe\nurl=https://cdn.example/vc_redist.x86.exe\nparameter=/q\n"
    "displayname=VC 2019 x86\nminversion=14.20.0.0\n";

// --- Configuration errors ---------------------------------------------------------------------------------

TEST_F(BuilderTest, FileWithoutTwoSectionsOrWithoutSetupIsAConfigurationError) {
  for (const char* ini : {"[setup]\nproductionname=x\n", "[Setup]\n[action]\n", "", "[ setup ;]\n[action]\n"}) {
    log::ScopedCapture capture;
    EXPECT_THAT(Summary(FromFile(ini)), ElementsAre("16")) << ini;
    EXPECT_TRUE(capture.Contains(log::Level::kError, "essencial elements setup missing")) << ini;
  }
}

TEST_F(BuilderTest, MissingFileIsAConfigurationError) {
  log::ScopedCapture capture;
  EXPECT_THAT(Summary(Builder().BuildPlanFromFile("C:\\nowhere\\install.ini")), ElementsAre("16"));
  EXPECT_TRUE(capture.Contains("essencial elements setup missing"));
}

std::string Missing5(const char* a, const char* b, const char* c, const char* d, const char* e) {
  return platform::Format("essencial elements missing- %s %s %s %s %s", a, b, c, d, e);
}

TEST_F(BuilderTest, MissingRequiredKeysLogTheirNamesAndDiscardEveryStep) {
  struct Case {
    std::string ini;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"[vcredist]\nfilename=a.exe\nparameter=/q\ndisplayname=VC\n",
       {"parse ini item vcredist error", Missing5("", "url ", "", "", "minversion")}},
      {"[dotnet48]\nurl=u\nparameter=p\ndisplayname=d\nminversion=1\n",
       {"parse ini item dotnet error",
        platform::Format("essencial elements missing- %s %s %s %s %s %s", "filename ", "", "", "", "", "checkreg")}},
      {Action("action1", "a.zip", "A") + "[action2]\nfilename=b.zip\nurl=u\nuninstallid=B\ndisplayname=B\n",
       {"parse ini item :action2 error", Missing5("", "", "", "", "mainfile")}},
  };
  for (const Case& c : cases) {
    log::ScopedCapture capture;
    EXPECT_THAT(Summary(FromFile(std::string(kSetup) + c.ini)), ElementsAre("16")) << c.ini;
    for (const std::string& line : c.lines) EXPECT_TRUE(capture.Contains(log::Level::kError, line)) << line;
  }
  // The suite settings were read before the error and stay.
  EXPECT_EQ(suite.productName, "Orvo Suite");
}

// --- Suite settings ---------------------------------------------------------------------------------------

TEST_F(BuilderTest, SetupSectionFillsTheSuiteSettings) {
  log::ScopedCapture capture;
  FromFile("[setup]\nproductionname=Orvo 365\ninstallfolder=Orvo/365\nlaunchfile=OrvoStart.exe\nlaunchid=61\n"
           "launchname=Orvo Start\n" + Action("action", "a.zip", "A"));
  EXPECT_EQ(suite.productName, "Orvo 365");
  EXPECT_EQ(suite.installFolder, "C:\\Program Files (x86)\\Orvo\\Orvo\\365");
  EXPECT_EQ(suite.launchFile, "OrvoStart.exe");
  EXPECT_EQ(suite.startAppId, 61);
  EXPECT_EQ(suite.launchName, "Orvo Start");
  EXPECT_TRUE(capture.Contains(log::Level::kInfo, "**************Install Product Name :Orvo 365 *************"));
  EXPECT_TRUE(capture.Contains(log::Level::kDebug, "Start Applicatoin Id: 61"));
}

TEST_F(BuilderTest, UnreadableLaunchIdIsMinusOneAndAbsentKeysKeepTheirValues) {
  suite.startAppId = 5;
  suite.launchFile = "kept.exe";
  suite.installFolder = "C:\\Custom\\";
  log::ScopedCapture capture;
  FromFile("[setup]\nlaunchid=61a\ninstallfolder=Suite\n" + Action("action", "a.zip", "A"));
  EXPECT_EQ(suite.startAppId, -1);
  EXPECT_EQ(suite.launchFile, "kept.exe");
  EXPECT_EQ(suite.installFolder, "C:\\Custom\\Suite");  // one backslash between
  EXPECT_TRUE(capture.Contains(log::Level::kError, "Cannot parse lauchid: 61a"));
}

// --- Runtime prerequisites --------------------------------------------------------------------------------

struct VcCase {
  const char* name;
  std::string checks;  // keys added to the section
  std::set<std::string> present;
  std::vector<std::string> summary;
  const char* repair;
};

TEST_F(BuilderTest, VcRuntimeIsInstalledOrRepairedByItsChecks) {
  const std::string both = "checkreg=K\ncheckfile=msvcp140.dll\n";
  const std::vector<std::string> installs = {"8 vc_redist.x86.exe", "12 vc_redist.x86.exe", "14"};
  const std::vector<VcCase> cases = {
      {"both fail", both, {}, installs, ""},
      {"reg fails", both, {"msvcp140.dll"}, installs, kRepairParameter},
      {"file fails", both, {"K"}, installs, kRepairParameter},
      {"both pass", both, {"K", "msvcp140.dll"}, {"14"}, ""},
      {"only reg, failing", "checkreg=K\n", {}, installs, kRepairParameter},
      {"no checks", "", {}, {"14"}, ""},
  };
  for (const VcCase& c : cases) {
    present = c.present;
    const Plan plan = FromFile(std::string(kSetup) + kVcSection + c.checks);
    EXPECT_EQ(Summary(plan), c.summary) << c.name;
    if (plan.size() == 3) {
      EXPECT_EQ(plan[1].install_data.RepairParameter, c.repair) << c.name;
      EXPECT_EQ(plan[1].install_data.CommandLineParameter, "/q") << c.name;
    }
  }
}

TEST_F(BuilderTest, SixtyFourBitRuntimeOnlyOnSixtyFourBitWindows) {
  const std::string ini = std::string(kSetup) +
                          "[vcredist64_2019]\nfilename=vc_redist.x64.exe\nurl=u\nparameter=/q\ndisplayname=VC x64\n"
                          "minversion=14.0\ncheckreg=K64\n" + kVcSection + "checkreg=K86\n";
  inputs.windows64 = false;
  EXPECT_THAT(Summary(FromFile(ini)), ElementsAre("8 vc_redist.x86.exe", "12 vc_redist.x86.exe", "14"));
  EXPECT_THAT(calls, ElementsAre("reg K86 x86"));
  calls.clear();
  inputs.windows64 = true;
  EXPECT_THAT(Summary(FromFile(ini)), ElementsAre("8 vc_redist.x64.exe", "12 vc_redist.x64.exe",
                                                  "8 vc_redist.x86.exe", "12 vc_redist.x86.exe", "14"));
  EXPECT_THAT(calls, ElementsAre("reg K64 x64", "reg K86 x86"));
}

TEST_F(BuilderTest, PrerequisiteStepsCarryTheirFields) {
  log::ScopedCapture capture;
  const Plan plan = FromFile(std::string(kSetup) + kVcSection +
                             "checkreg=K\nuninstallid=vcredist\nsize=13000000\nmd5=ABC\nsystemcomponents=yes\n"
                             "isPrerequisite=yes\n");
  ASSERT_EQ(plan.size(), 3u);
  const DownloadData& d = plan[0].download_data;
  EXPECT_TRUE(d.UpdateType.empty());
  EXPECT_EQ(d.URL, "https://cdn.example/vc_redist.x86.exe");
  EXPECT_EQ(d.ByteSize, 13000000);
  EXPECT_EQ(d.Md5, "ABC");
  EXPECT_TRUE(d.SystemComponents);
  EXPECT_EQ(plan[0].id, "");
  const InstallData& i = plan[1].install_data;
  EXPECT_EQ(plan[1].id, "vcredist");  // no id: the uninstall id
  EXPECT_TRUE(i.UpdateType.empty());
  EXPECT_EQ(i.InstallType, InstallKind::Prerequisite);
  EXPECT_EQ(i.FilePath, std::string(kWorkFolder) + "\\vc_redist.x86.exe");
  EXPECT_THAT(i.SuccessExitCodes, ElementsAre(Pair(1641, 1), Pair(3010, 1)));
  EXPECT_EQ(i.ProgressInterval, 1000);
  EXPECT_TRUE(i.DownloadFirst);
  EXPECT_TRUE(i.IsPrerequisite);
  EXPECT_TRUE(i.SystemComponents);
  EXPECT_FALSE(plan[1].AlreadyInstalled);
  EXPECT_TRUE(capture.Contains("Download GetPreRequestActon file:VC 2019 x86 MD5:ABC \r\n"));
  EXPECT_TRUE(capture.Contains("Download GetPreRequestActon file:VC 2019 x86 size:13000000 \r\n"));
  EXPECT_TRUE(capture.Contains("Download GetPreRequestActon install_data md5:ABC \r\n"));
}

TEST_F(BuilderTest, DotNetIsInstalledBelowItsReleaseNumber) {
  const std::string ini = std::string(kSetup) +
                          "[dotnet48]\nfilename=ndp48.exe\nurl=u\nparameter=/q\ndisplayname=.NET\nminversion=528040\n"
                          "checkreg=SOFTWARE\\NDP\\v4\\Full\n";
  EXPECT_THAT(Summary(FromFile(ini)), ElementsAre("8 ndp48.exe", "12 ndp48.exe", "14"));
  present = {"SOFTWARE\\NDP\\v4\\Full"};
  EXPECT_THAT(Summary(FromFile(ini)), ElementsAre("14"));
}

TEST_F(BuilderTest, RuntimesComeBeforeActionsWhateverTheFileOrder) {
  const std::string ini = std::string(kSetup) + Action("action1", "a.zip", "A") +
                          "[dotnet]\nfilename=ndp.exe\nurl=u\nparameter=p\ndisplayname=d\nminversion=1\ncheckreg=R\n" +
                          kVcSection + "checkreg=K\n";
  EXPECT_THAT(Summary(FromFile(ini)), ElementsAre("8 vc_redist.x86.exe", "12 vc_redist.x86.exe", "8 ndp.exe",
                                                  "12 ndp.exe", "9 a.zip", "13 a.zip", "14"));
}

// --- Actions ----------------------------------------------------------------------------------------------

TEST_F(BuilderTest, SectionNamesAndFileEndingsDecideWhatAnActionIs) {
  const Plan plan = FromFile(std::string(kSetup) + Action("myaction", "a.zip", "A") +
                             Action("Action2", "b.zip", "B") + Action("x_action_y", "SETUP.EXE", "C") +
                             Action("action4", "d.7z", "D") + Action("action5", "e.Msi", "E"));
  EXPECT_THAT(Summary(plan), ElementsAre("9 a.zip", "13 a.zip", "9 SETUP.EXE", "13 SETUP.EXE", "9 e.Msi", "13 e.Msi",
                                         "14"));
  EXPECT_EQ(plan[3].install_data.InstallType, InstallKind::Installer);
  EXPECT_EQ(plan[1].install_data.InstallType, InstallKind::ZipPackage);
}

TEST_F(BuilderTest, InstallerActionStepsCarryTheLogOptionAndTheirFields) {
  log::ScopedCapture capture;
  const Plan plan = FromFile(std::string(kSetup) +
                             Action("action", "codec.msi", "Codec",
                                    "id=12\nparameter=/qn ALLUSERS=1\nupgradecode={UP}\ninstallfolder=Orvo/Codec\n"
                                    "size=oops\n"));
  ASSERT_EQ(plan.size(), 3u);
  EXPECT_EQ(plan[0].download_data.UpdateType, "setup");
  EXPECT_EQ(plan[0].download_data.ByteSize, 0);
  EXPECT_EQ(plan[0].id, "12");
  const InstallData& i = plan[1].install_data;
  EXPECT_EQ(i.CommandLineParameter, std::string(" /log \"") + kMsiLog + "\" /qn ALLUSERS=1");
  EXPECT_EQ(i.Upgrade_code, "{UP}");
  EXPECT_EQ(i.InstallFolder, "Orvo\\Codec");
  EXPECT_EQ(i.checkVersionFile, "Codec.exe");
  EXPECT_EQ(i.ProgressInterval, 300);
  EXPECT_TRUE(i.uninstallId.empty());
  EXPECT_TRUE(capture.Contains("GetMSIAction download_data fileName:codec.msi no md5 \r\n"));
}

TEST_F(BuilderTest, FileLocationRule) {
  root.WriteFile("C:\\Packages\\local.zip", "zip");
  root.WriteFile(std::string(kLocalConfigFolder) + "\\ahead.zip", "zip");
  root.WriteFile(std::string(kLocalConfigFolder) + "\\folder.msi\\x", "x");
  const std::string ini =
      std::string(kSetup) +
      "[action1]\nfilename=local.zip\nurl=C:\\Packages\\local.zip\nuninstallid=A\ndisplayname=A\nmainfile=a\n"
      "[action2]\nfilename=ahead.zip\nurl=HTTPS://cdn/ahead.zip\nuninstallid=B\ndisplayname=B\nmainfile=b\n"
      "[action4]\nfilename=gone.zip\nurl=C:\\Packages\\gone.zip\nuninstallid=D\ndisplayname=D\nmainfile=d\n"
      "[action5]\nfilename=folder.msi\nurl=http://cdn/folder.msi\nuninstallid=E\ndisplayname=E\nmainfile=e\n";
  const Plan plan = FromFile(ini);
  ASSERT_THAT(Summary(plan), ElementsAre("13 local.zip", "13 ahead.zip", "9 gone.zip", "13 gone.zip",
                                         "9 folder.msi", "13 folder.msi", "14"));
  EXPECT_EQ(plan[0].install_data.FilePath, "C:\\Packages\\local.zip");
  EXPECT_FALSE(plan[0].install_data.DownloadFirst);
  EXPECT_EQ(plan[1].install_data.FilePath, std::string(kLocalConfigFolder) + "\\ahead.zip");
  EXPECT_FALSE(plan[1].install_data.DownloadFirst);
  // A local path that does not exist is fetched like an address, into the work folder.
  EXPECT_EQ(plan[2].download_data.URL, "C:\\Packages\\gone.zip");
  EXPECT_EQ(plan[3].install_data.FilePath, std::string(kWorkFolder) + "\\gone.zip");
  EXPECT_TRUE(plan[3].install_data.DownloadFirst);
  // For installer programs a folder of that name does not count.
  EXPECT_TRUE(plan[5].install_data.DownloadFirst);
}

TEST_F(BuilderTest, ZipFolderSuppliedAheadCountsAsTheFile) {
  root.WriteFile(std::string(kLocalConfigFolder) + "\\app.zip\\orvopack.bin", "x");
  const Plan plan = FromFile(std::string(kSetup) + Action("action", "app.zip", "App"));
  ASSERT_THAT(Summary(plan), ElementsAre("13 app.zip", "14"));
  EXPECT_EQ(plan[0].install_data.FilePath, std::string(kLocalConfigFolder) + "\\app.zip");
}

struct MachineCase {
  const char* keys;
  bool windows64;
  std::uint32_t major, minor;
  bool applies;
};

TEST_F(BuilderTest, ZipActionsSkippedByArchitectureAndWindowsGeneration) {
  const std::vector<MachineCase> cases = {
      {"is64BitOnly=yes\n", false, 10, 0, false}, {"is64BitOnly=yes\n", true, 10, 0, true},
      {"is64BitOnly=Yes\n", false, 10, 0, true},  {"arch=x64\n", false, 10, 0, false},
      {"arch=x64\n", true, 10, 0, true},          {"arch=x86\n", true, 10, 0, false},
      {"arch=x86\n", false, 10, 0, true},         {"unsupportedos=7,8\n", true, 6, 1, false},
      {"unsupportedos=7,8\n", true, 6, 3, false}, {"unsupportedos=7,8\n", true, 6, 2, false},
      {"unsupportedos=7,8\n", true, 10, 0, true}, {"unsupportedos=6\n", true, 6, 0, false},
      {"unsupportedos=10\n", true, 11, 0, false}, {"unsupportedos=\n", true, 6, 1, true},
  };
  for (const MachineCase& c : cases) {
    inputs.windows64 = c.windows64;
    inputs.windowsMajor = c.major;
    inputs.windowsMinor = c.minor;
    const Plan plan = FromFile(std::string(kSetup) + Action("action", "a.zip", "A", c.keys));
    EXPECT_EQ(plan.size(), c.applies ? 3u : 1u) << c.keys << " 64-bit " << c.windows64 << " " << c.major << "."
                                                << c.minor;
  }
}

TEST_F(BuilderTest, ZipInstallStepCarriesItsFields) {
  log::ScopedCapture capture;
  const Plan plan = FromFile(std::string(kSetup) +
                             Action("action", "video.zip", "Video",
                                    "id=3\ninstallfolder=%orvocommon%/Video\ncheckversion=yes\nversion=2.1.0.5\n"
                                    "subaction=yes\nnotuninstall=yes\npreexecfile=pre.exe\nparameter=-x\nmd5=M5\n"
                                    "orvocomponents=yes\nstartmenu=yes\nstartmenufolder=Orvo\nappusermid=Orvo.Video\n"
                                    "activatorid={AC}\nshortcut=desktop,yes\n"));
  ASSERT_EQ(plan.size(), 3u);
  EXPECT_TRUE(plan[0].download_data.OrvoComponents);
  const InstallData& i = plan[1].install_data;
  EXPECT_EQ(plan[1].id, "3");
  EXPECT_EQ(i.ProgressInterval, 160);
  EXPECT_EQ(i.InstallFolder, "%orvocommon%\\Video");
  EXPECT_TRUE(i.CheckVersion);
  EXPECT_EQ(i.version, "2.1.0.5");
  EXPECT_FALSE(i.TopLevel);
  EXPECT_FALSE(i.RegisterUninstall);
  EXPECT_EQ(i.preexecfile, "pre.exe");
  EXPECT_EQ(i.CommandLineParameter, "-x");
  EXPECT_EQ(i.uninstallId, "Video");
  EXPECT_EQ(i.Md5, "M5");
  EXPECT_TRUE(i.OrvoComponents);
  EXPECT_TRUE(i.StartMenu);
  EXPECT_EQ(i.StartMenuFolder, "Orvo");
  EXPECT_EQ(i.AppUserModelId, "Orvo.Video");
  EXPECT_EQ(i.ActivatorId, "{AC}");
  EXPECT_TRUE(i.CreateShortcut);
  EXPECT_THAT(i.ShortcutOptions, ElementsAre("desktop", "yes"));
  EXPECT_TRUE(capture.Contains("Pending unzip action file path :https://cdn.example/video.zip "));
  EXPECT_TRUE(capture.Contains("GetUnzipAction download_data fileName:video.zip md5:M5 \r\n"));
  EXPECT_TRUE(capture.Contains("Add download action :https://cdn.example/video.zip "));
}

TEST_F(BuilderTest, StartMenuValuesAreReadOnlyWithStartMenu) {
  const Plan plan =
      FromFile(std::string(kSetup) + Action("action", "a.zip", "A", "startmenufolder=Orvo\nappusermid=X\n"));
  EXPECT_TRUE(plan[1].install_data.StartMenuFolder.empty());
  EXPECT_TRUE(plan[1].install_data.AppUserModelId.empty());
  EXPECT_TRUE(plan[1].install_data.TopLevel);
  EXPECT_TRUE(plan[1].install_data.RegisterUninstall);
}

struct ShortcutCase {
  const char* keys;
  bool desktop;  // createDesktopShortcuts
  std::map<std::string, std::string> shortcuts;
  std::vector<std::string> options;
};

TEST_F(BuilderTest, ShortcutsFromTheKeyChain) {
  const std::vector<ShortcutCase> cases = {
      {"shortcut=yes\nshortcutnameandpath=Orvo\\Video,video.exe\nshortcutnameandpath1=Tools\n"
       "shortcutnameandpath2=Not Read,x.exe\n",
       false, {{"Orvo\\Video", "video.exe"}, {"Tools", "A.exe"}}, {}},
      {"shortcut=yes\nshortcutnameandpath=Same,first.exe\nshortcutnameandpath1=Same,second.exe\n", false,
       {{"Same", "second.exe"}}, {}},
      {"shortcut=yes\n", false, {{"A Name", "A.exe"}}, {}},
      {"shortcut=no\n", false, {}, {}},
      {"shortcut=no\n", true, {{"A Name", "A.exe"}}, {}},
      {"startmenu=yes\n", false, {{"A Name", "A.exe"}}, {}},
      {"shortcut=yes\nnoshortcut=yes\n", true, {}, {}},
      {"shortcut=myyesterday\n", false, {{"A Name", "A.exe"}}, {}},
      {"shortcut=desktop,startmenu\n", false, {}, {"desktop", "startmenu"}},
      {"shortcut=yes\nshortcutnameandpath=\nshortcutnameandpath1=,x.exe\n", false, {{"A Name", "A.exe"}}, {}},
  };
  for (const ShortcutCase& c : cases) {
    inputs.createDesktopShortcuts = c.desktop;
    const Plan plan = FromFile(std::string(kSetup) + Action("action", "a.zip", "A", c.keys));
    ASSERT_EQ(plan.size(), 3u);
    EXPECT_EQ(plan[1].install_data.Shortcuts, c.shortcuts) << c.keys;
    EXPECT_EQ(plan[1].install_data.ShortcutOptions, c.options) << c.keys;
  }
}

TEST_F(BuilderTest, ShortcutFallsBackToTheUninstallIdWithoutDisplayName) {
  const Plan plan = FromFile(std::string(kSetup) +
                             "[action]\nfilename=a.zip\nurl=u\nuninstallid=OrvoA\ndisplayname=\nmainfile=a.exe\n"
                             "shortcut=yes\n");
  EXPECT_EQ(plan.back().type, StepType::Finish);
  EXPECT_THAT(plan[1].install_data.Shortcuts, ElementsAre(Pair("OrvoA", "a.exe")));
}

TEST_F(BuilderTest, UrlShortcutsFromTheKeyChainWithoutEmptyValues) {
  const Plan plan = FromFile(std::string(kSetup) +
                             Action("action", "a.zip", "A",
                                    "urlshortcutnameandpath=Help,https://help\nurlshortcutnameandpath1=\n"
                                    "urlshortcutnameandpath12=Shop,https://shop\n"));
  EXPECT_TRUE(plan[1].install_data.HasUrlShortcuts);
  EXPECT_THAT(plan[1].install_data.UrlShortcuts, ElementsAre("Help,https://help", "Shop,https://shop"));
}

// --- Selection, exclusion, shared uninstall ids -----------------------------------------------------------

const std::string kThreeProducts = std::string(kSetup) + Action("action1", "orvovideo.zip", "Video") +
                                   Action("action2", "codecs.zip", "VideoCodecs", "subaction=yes\n") +
                                   Action("action3", "orvoaudio.msi", "Audio") +
                                   Action("action4", "orvophoto.zip", "Photo");

TEST_F(BuilderTest, DeselectedProductLosesBothStepsAndOthersKeepTheirOrder) {
  selection.DeselectedNames = {"Audio Name"};
  EXPECT_THAT(Summary(FromFile(kThreeProducts)),
              ElementsAre("9 orvovideo.zip", "13 orvovideo.zip", "9 codecs.zip", "13 codecs.zip",
                          "9 orvophoto.zip", "13 orvophoto.zip", "14"));
}

TEST_F(BuilderTest, SubPackageGoesWithItsDeselectedProduct) {
  // The settings dialog saw the codecs as part of the video product (same uninstall id "Video").
  PlanStep codec(StepType::PackageInstall);
  codec.install_data.DisplayName = "VideoCodecs Name";
  codec.install_data.uninstallId = "Video";
  selection.PlanCopy = {codec};
  selection.DeselectedNames = {"Video Name"};
  selection.DeselectedUninstallIds = {"Video"};
  EXPECT_THAT(Summary(FromFile(kThreeProducts)),
              ElementsAre("9 orvoaudio.msi", "13 orvoaudio.msi", "9 orvophoto.zip", "13 orvophoto.zip", "14"));
  selection.NoFiltering = true;
  EXPECT_EQ(FromFile(kThreeProducts).size(), 9u);
}

TEST_F(BuilderTest, IsDeselectedRules) {
  PlanStep step(StepType::PackageInstall);
  step.install_data.DisplayName = "Part";
  step.install_data.uninstallId = "P";
  selection.PlanCopy = {step};
  const PlanBuilder empty = Builder();
  EXPECT_FALSE(empty.IsDeselected("Part", false));  // nothing deselected
  selection.DeselectedNames = {"Product"};
  selection.DeselectedUninstallIds = {"P"};
  const PlanBuilder builder = Builder();
  EXPECT_TRUE(builder.IsDeselected("Product", true));
  EXPECT_TRUE(builder.IsDeselected("Part", false));
  EXPECT_FALSE(builder.IsDeselected("Part", true));
  EXPECT_FALSE(builder.IsDeselected("", false));
  EXPECT_FALSE(builder.IsDeselected("Other", false));
}

TEST_F(BuilderTest, ExcludedAppIsLeftOutEvenWithoutFiltering) {
  selection.ExcludedApps = {"orvoaudio", "orvophoto"};
  selection.NoFiltering = true;
  log::ScopedCapture capture;
  EXPECT_THAT(Summary(FromFile(kThreeProducts)),
              ElementsAre("9 orvovideo.zip", "13 orvovideo.zip", "9 codecs.zip", "13 codecs.zip", "14"));
  EXPECT_TRUE(capture.Contains(log::Level::kInfo, "Exclude App: orvoaudio"));
  const PlanBuilder builder = Builder();
  EXPECT_TRUE(builder.IsExcludedApp("Audio.zip"));  // "orvo" put in front, lower-cased
  EXPECT_TRUE(builder.IsExcludedApp("ORVOPHOTO_X64.ZIP"));
  EXPECT_FALSE(builder.IsExcludedApp("video.zip"));
}

TEST_F(BuilderTest, ActionsSharingAnUninstallIdAreMarked) {
  const Plan plan = FromFile(std::string(kSetup) + Action("action1", "core.zip", "Video") +
                             Action("action2", "extra.zip", "Video") + Action("action3", "audio.zip", "Audio") +
                             Action("action4", "photo.zip", "Photo", "arch=x86\n") +
                             Action("action5", "photo64.zip", "Photo", "arch=x64\n"));
  ASSERT_EQ(plan.size(), 9u);
  EXPECT_TRUE(plan[1].install_data.SharedUninstallId);
  EXPECT_TRUE(plan[3].install_data.SharedUninstallId);
  EXPECT_FALSE(plan[5].install_data.SharedUninstallId);
  // The x86 package made no steps on 64-bit Windows, so the x64 one is the product's only package.
  EXPECT_FALSE(plan[7].install_data.SharedUninstallId);
}

// A large configuration must keep every action: the old profile reader cut names after 2,047 characters.
TEST_F(BuilderTest, ThousandsOfActionSectionsAllMakeSteps) {
  constexpr int kActions = 4000;
  std::string ini = kSetup;
  for (int n = 0; n < kActions; ++n) {
    ini += Action("action" + std::to_string(n), "p" + std::to_string(n) + ".zip", "P" + std::to_string(n));
  }
  const Plan plan = FromFile(ini);
  ASSERT_EQ(plan.size(), 2u * kActions + 1);
  EXPECT_EQ(plan[2 * kActions - 1].install_data.Name, "p3999.zip");
}

}  // namespace
}  // namespace orvo::plan::test
