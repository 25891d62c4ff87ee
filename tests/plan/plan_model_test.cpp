#include "plan/plan_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/log.h"
#include "plan/install_selection.h"

namespace orvo::plan {
namespace {

using ::testing::ElementsAre;

TEST(PlanDumpTest, PrerequisiteStepDumpsOnlyItsStepLine) {
  PlanStep download(StepType::PrerequisiteDownload);
  download.download_data.URL = "http://x/vc_redist.x86.exe";
  PlanStep install(StepType::PrerequisiteInstall);
  install.id = "vc";
  install.install_data.Name = "vc_redist.x86.exe";
  EXPECT_THAT(PlanDumpLines({download, install}),
              ElementsAre("current step:0 id: type:8 ", "current step:1 id:vc type:12 "));
}

TEST(PlanDumpTest, PackageStepsDumpTheirBlocksExactly) {
  PlanStep download(StepType::PackageDownload);
  download.id = "7";
  download.download_data.UpdateType = "setup";
  download.download_data.URL = "https://cdn/app.zip";
  download.download_data.DisplayName = "Orvo App";
  download.download_data.ByteSize = 1234;
  download.download_data.Name = "app.zip";
  PlanStep install(StepType::PackageInstall);
  install.id = "7";
  InstallData& i = install.install_data;
  i.UpdateType = "setup";
  i.InstallType = InstallKind::ZipPackage;
  i.Name = "app.zip";
  i.FilePath = "C:\\work\\app.zip";
  i.DisplayName = "Orvo App";
  i.CommandLineParameter = "-q";
  i.InstallFolder = "Orvo\\App";
  i.checkVersionFile = "app.exe";
  i.uninstallId = "OrvoApp";
  i.version = "1.2.3.4";
  i.preexecfile = "pre.exe";
  EXPECT_THAT(
      PlanDumpLines({download, install, PlanStep(StepType::Finish)}),
      ElementsAre("current step:0 id:7 type:9 ",
                  "----------------download_data-----------------\n UpdateType:setup  ReleaseNotes: "
                  "URL:https://cdn/app.zip DisplayName:Orvo App ByteSize:1234 Name:app.zip",
                  "current step:1 id:7 type:13 ",
                  "----------------install_data-----------------\n UpdateType:setup  InstallType:3  Name:app.zip "
                  "FilePath:C:\\work\\app.zip DisplayName:Orvo App Upgrade_code: \n CommandLineParameter:-q "
                  "InstallFolder:Orvo\\App checkVersionFile:app.exe \n uninstallId:OrvoApp version:1.2.3.4 "
                  "preexecfile:pre.exe",
                  "current step:2 id: type:14 "));
}

TEST(PlanDumpTest, DumpWritesEachLineAtDebugLevel) {
  log::ScopedCapture capture;
  DumpPlan({PlanStep(StepType::Finish)});
  EXPECT_TRUE(capture.Contains(log::Level::kDebug, "current step:0 id: type:14 "));
}

PlanStep Product(const std::string& name, const std::string& uninstall_id, bool top_level,
                 bool prerequisite = false) {
  PlanStep step(StepType::PackageInstall);
  step.install_data.DisplayName = name;
  step.install_data.uninstallId = uninstall_id;
  step.install_data.TopLevel = top_level;
  step.install_data.IsPrerequisite = prerequisite;
  return step;
}

TEST(InstallSelectionTest, OffersTopLevelProductsOnlyInPlanOrder) {
  InstallSelection selection;
  const Plan plan = {Product("Orvo Video", "Video", true),
                     Product("Video Codecs", "Video", false),
                     Product("Orvo Common Files", kCommonUninstallId, true),
                     Product("Orvo Basic Content Pack", "Content", true),
                     Product("Runtime", "Runtime", true, true),
                     Product("", "Nameless", true),
                     Product("Orvo Audio", "Audio", true)};
  SetPlanCopy(selection, plan);
  EXPECT_THAT(selection.ContentNames, ElementsAre("Orvo Video", "Orvo Audio"));
  EXPECT_EQ(selection.PlanCopy.size(), plan.size());
}

TEST(InstallSelectionTest, DeselectedNamesCollectTheUninstallIdsOfTheirSteps) {
  InstallSelection selection;
  SetPlanCopy(selection, {Product("Orvo Video", "Video", true), Product("Orvo Video", "VideoExtra", false),
                          Product("Orvo Audio", "Audio", true)});
  SetDeselectedNames(selection, {"Orvo Video"});
  EXPECT_THAT(selection.DeselectedUninstallIds, ElementsAre("Video", "VideoExtra"));
}

TEST(InstallSelectionTest, ExcludedNamesAreNormalised) {
  EXPECT_EQ(NormaliseAppName("Foo"), "orvofoo");
  EXPECT_EQ(NormaliseAppName("OrvoBar.zip"), "orvobar.zip");
}

}  // namespace
}  // namespace orvo::plan
