// Registration of deployed products and the installer copy.
#include "deploy/uninstall_registration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/log.h"
#include "deploy/installed_products.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "support/pe_builder.h"
#include "support/test_root.h"

namespace orvo::deploy {
namespace {

using platform::Hive;
using platform::RegView;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kCopy = "C:\\Program Files (x86)\\Orvo\\OrvoInstaller\\OrvoInstaller.exe";
constexpr const char* kRunning = "C:\\Users\\Public\\Downloads\\OrvoInstaller.exe";
constexpr const char* kLocation = "C:\\Program Files (x86)\\Orvo\\Orvo Video";
constexpr const char* kVideoKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvo Video";

plan::PlanStep ZipStep(const std::string& uninstall_id, const std::string& display_name, bool top_level,
                       bool register_uninstall) {
  plan::PlanStep step(plan::StepType::PackageInstall);
  step.install_data.InstallType = plan::InstallKind::ZipPackage;
  step.install_data.uninstallId = uninstall_id;
  step.install_data.DisplayName = display_name;
  step.install_data.TopLevel = top_level;
  step.install_data.RegisterUninstall = register_uninstall;
  return step;
}

std::vector<std::string> ValueNames(const std::string& key, RegView view = RegView::kDefault) {
  std::vector<platform::RegValue> values;
  platform::Reg().ListValues(Hive::kLocalMachine, key, values, view);
  std::vector<std::string> names;
  for (const auto& value : values) names.push_back(value.name);
  return names;
}

std::optional<std::string> Text(const std::string& key, const std::string& name) {
  return platform::Reg().ReadString(Hive::kLocalMachine, key, name);
}

class RegistrationTest : public ::testing::Test {
 protected:
  RegistrationTest() { root_.WriteFile(kRunning, "running installer"); }
  bool CopyExists() const { return std::filesystem::exists(root_.Linux(kCopy)); }
  test::TestRoot root_;
};

TEST_F(RegistrationTest, AMainItemWithRegistrationWritesTheWholeEntryAndTheIndex) {
  const std::string main_file = std::string(kLocation) + "\\OrvoVideo.exe";
  const std::string image = test::BuildVersionedPe({24, 5, 1, 8}, {24, 5, 0, 0}, {});
  root_.WriteFile(main_file, image);
  // 2,500,999 bytes in all: 2500 when divided by 1000 (2442 by 1024).
  root_.WriteFile(std::string(kLocation) + "\\data\\media.bin", std::string(2'500'999 - image.size(), 'x'));

  log::ScopedCapture capture;
  AddUninstallThreadProc(ZipStep("Orvo Video", "Orvo Vid\xC3\xA9o \xF0\x9F\x92\xA1", true, true), kLocation,
                         main_file, false, kRunning);

  EXPECT_THAT(ValueNames(kVideoKey),
              ElementsAre("InstallLocation", "DisplayName", "DisplayIcon", "UninstallString", "QuietUninstallString",
                          "DisplayVersion", "Publisher", "NoModify", "EstimatedSize"));
  EXPECT_EQ(Text(kVideoKey, "InstallLocation"), kLocation);
  EXPECT_EQ(Text(kVideoKey, "DisplayName"), "Orvo Vid\xC3\xA9o \xF0\x9F\x92\xA1");
  EXPECT_EQ(Text(kVideoKey, "DisplayIcon"), main_file);
  EXPECT_EQ(Text(kVideoKey, "UninstallString"),
            "\"C:\\Program Files (x86)\\Orvo\\OrvoInstaller\\OrvoInstaller.exe\" uninstall \"Orvo Video\"");
  EXPECT_EQ(Text(kVideoKey, "QuietUninstallString"),
            "\"C:\\Program Files (x86)\\Orvo\\OrvoInstaller\\OrvoInstaller.exe\" uninstall \"Orvo Video\" /silent");
  EXPECT_EQ(Text(kVideoKey, "DisplayVersion"), "24.5.1.8");
  EXPECT_EQ(Text(kVideoKey, "Publisher"), "Orvo AG");
  EXPECT_EQ(platform::Reg().ReadDword(Hive::kLocalMachine, kVideoKey, "NoModify"), 1u);
  EXPECT_EQ(platform::Reg().ReadDword(Hive::kLocalMachine, kVideoKey, "EstimatedSize"), 2500u);
  EXPECT_EQ(Text(std::string(kProductIndexKey), kLocation), "Orvo Video");
  EXPECT_TRUE(CopyExists());

  // This 32-bit program's keys live in the 32-bit view of 64-bit Windows.
  EXPECT_THAT(ValueNames("SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvo Video",
                         RegView::kView64),
              ::testing::SizeIs(9));
  EXPECT_THAT(ValueNames(kVideoKey, RegView::kView64), IsEmpty());

  std::vector<std::string> debug;
  for (const auto& entry : capture.Entries()) {
    if (entry.level == log::Level::kDebug) debug.push_back(entry.message);
  }
  EXPECT_THAT(debug, ElementsAre("AddUninstallThreadProc Enter", "uninstallid: Orvo Video",
                                 "displayname: Orvo Vid\xC3\xA9o \xF0\x9F\x92\xA1",
                                 "location: C:\\Program Files (x86)\\Orvo\\Orvo Video", "filepath: " + main_file,
                                 "isMainItem: 1", "isCreateUninstall: 1", "isMutiFolder: 0",
                                 // Length in UTF-16 characters: the emoji counts twice, the accent once.
                                 "Set Uninstall DisplayName:Orvo Vid\xC3\xA9o \xF0\x9F\x92\xA1 Length:13",
                                 "AddUninstallThreadProc Leave"));
  EXPECT_TRUE(capture.Contains(log::Level::kInfo, "Copy OrvoInstall.exe succeusfully!"));
}

TEST_F(RegistrationTest, ASubPackageWritesOnlyItsLocation) {
  AddUninstallThreadProc(ZipStep("Orvo Video", "Orvo Video Codecs", false, true), kLocation, "codecs.dll", true,
                         kRunning);
  EXPECT_THAT(ValueNames(kVideoKey), ElementsAre("InstallLocation", "MultiFolder"));
  EXPECT_EQ(Text(kVideoKey, "MultiFolder"), "1");
  EXPECT_THAT(ValueNames(std::string(kProductIndexKey)), IsEmpty());
  EXPECT_FALSE(CopyExists());  // only main items keep the installer copy
}

TEST_F(RegistrationTest, AProductWithoutRegistrationIsIndexedButNotListed) {
  AddUninstallThreadProc(ZipStep("Orvo Video", "Orvo Video", true, false), kLocation, "OrvoVideo.exe", false,
                         kRunning);
  EXPECT_THAT(ValueNames(kVideoKey), ElementsAre("InstallLocation"));
  EXPECT_EQ(FindProductByLocation(kLocation), "Orvo Video");
  EXPECT_THAT(ListInstalledProducts(), ElementsAre("Orvo Video"));
  EXPECT_TRUE(CopyExists());
}

TEST_F(RegistrationTest, AMainFileThatWasNotFoundGivesTheDefaultVersion) {
  // The worker passes the bare name; a file of that name elsewhere (here the system folder) must not count.
  root_.WriteFile("C:\\Windows\\SysWOW64\\OrvoVideo.exe", test::BuildVersionedPe({9, 9, 9, 9}, {9, 9, 9, 9}, {}));
  AddUninstallThreadProc(ZipStep("Orvo Video", "Orvo Video", true, true), kLocation, "OrvoVideo.exe", false, kRunning);
  EXPECT_EQ(Text(kVideoKey, "DisplayVersion"), "1.0");
  EXPECT_EQ(Text(kVideoKey, "DisplayIcon"), "OrvoVideo.exe");
  EXPECT_EQ(platform::Reg().ReadDword(Hive::kLocalMachine, kVideoKey, "EstimatedSize"), 0u);  // no folder
}

TEST_F(RegistrationTest, PackagesSharingAnIdLeaveTheLastLocation) {
  AddUninstallThreadProc(ZipStep("Orvo Suite", "Orvo Suite", true, true), "C:\\Orvo\\Suite", "suite.exe", true,
                         kRunning);
  AddUninstallThreadProc(ZipStep("Orvo Suite", "Orvo Suite Data", false, true), "C:\\Orvo\\Suite\\Data", "data.bin",
                         true, kRunning);
  const std::string key = UninstallKeyPath("Orvo Suite");
  EXPECT_EQ(GetInstallLocation("Orvo Suite"), "C:\\Orvo\\Suite\\Data");
  EXPECT_TRUE(IsMultiFolderProduct("Orvo Suite"));
  EXPECT_EQ(Text(key, "DisplayName"), "Orvo Suite");  // the sub-package did not touch the display values
  EXPECT_THAT(ValueNames(std::string(kProductIndexKey)), ElementsAre("C:\\Orvo\\Suite"));
}

TEST_F(RegistrationTest, AnEmptyIdRegistersNothing) {
  AddUninstallThreadProc(ZipStep("", "Nameless", true, true), kLocation, "x.exe", false, kRunning);
  EXPECT_THAT(ValueNames(std::string(kUninstallRootKey)), IsEmpty());
  EXPECT_THAT(ValueNames(std::string(kProductIndexKey)), IsEmpty());
}

// The installer copy.

class InstallerCopyTest : public RegistrationTest {
 protected:
  std::string CopyBytes() const {
    std::ifstream in(root_.Linux(kCopy), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void SetWriteTime(const std::string& path, std::filesystem::file_time_type time) {
    std::filesystem::last_write_time(root_.Linux(path), time);
  }
};

TEST_F(InstallerCopyTest, CreatesTheCopyAndItsFolder) {
  EXPECT_EQ(InstallerCopyPath(), kCopy);
  EXPECT_EQ(UpdateInstallerCopy(kRunning), CopyOutcome::kCopied);
  EXPECT_EQ(CopyBytes(), "running installer");
}

TEST_F(InstallerCopyTest, RunningFromTheCopyNeverCopies) {
  root_.WriteFile(kCopy, "the copy itself");
  log::ScopedCapture capture;
  for (const char* same : {kCopy, "c:\\program files (x86)\\orvo\\orvoinstaller\\ORVOINSTALLER.EXE",
                           "C:/Program Files (x86)/Orvo/OrvoInstaller/OrvoInstaller.exe"}) {
    EXPECT_EQ(UpdateInstallerCopy(same), CopyOutcome::kSamePath) << same;
  }
  EXPECT_EQ(CopyBytes(), "the copy itself");  // not truncated by a copy onto itself
  EXPECT_THAT(capture.Entries(), IsEmpty());
}

TEST_F(InstallerCopyTest, AVersionedCopyIsReplacedUnlessItIsNewer) {
  struct Case {
    test::PeVersion copy_version;
    CopyOutcome outcome;
  };
  const Case cases[] = {
      {{2, 0, 1, 45}, CopyOutcome::kCopied},
      {{2, 0, 1, 46}, CopyOutcome::kCopied},  // the same version is refreshed
      {{1, 9, 99, 99}, CopyOutcome::kCopied},
      {{2, 0, 1, 47}, CopyOutcome::kKeptNewer},
      {{2, 1, 0, 0}, CopyOutcome::kKeptNewer},
  };
  for (const Case& c : cases) {
    const std::string image = test::BuildVersionedPe(c.copy_version, c.copy_version, {});
    root_.WriteFile(kCopy, image);
    EXPECT_EQ(UpdateInstallerCopy(kRunning), c.outcome) << c.copy_version[3];
    EXPECT_EQ(CopyBytes(), c.outcome == CopyOutcome::kCopied ? "running installer" : image);
  }
}

TEST_F(InstallerCopyTest, ACopyWithoutVersionIsJudgedByItsLastWrite) {
  const auto now = std::filesystem::file_time_type::clock::now();
  struct Case {
    std::chrono::seconds copy_offset;  // the copy's last write relative to the running executable's
    CopyOutcome outcome;
  };
  const Case cases[] = {
      {std::chrono::seconds(-3600), CopyOutcome::kCopied},
      {std::chrono::seconds(0), CopyOutcome::kCopied},
      {std::chrono::seconds(3600), CopyOutcome::kKeptNewer},
  };
  for (const Case& c : cases) {
    root_.WriteFile(kCopy, "an ELF build");
    SetWriteTime(kRunning, now - std::chrono::hours(24));
    SetWriteTime(kCopy, now - std::chrono::hours(24) + c.copy_offset);
    EXPECT_EQ(UpdateInstallerCopy(kRunning), c.outcome) << c.copy_offset.count();
    EXPECT_EQ(CopyBytes(), c.outcome == CopyOutcome::kCopied ? "running installer" : "an ELF build");
  }
}

TEST_F(InstallerCopyTest, AFailedCopyIsNotReportedAsSuccess) {
  log::ScopedCapture capture;
  EXPECT_EQ(UpdateInstallerCopy("C:\\Users\\Public\\Downloads\\missing.exe"), CopyOutcome::kFailed);
  EXPECT_FALSE(capture.Contains("Copy OrvoInstall.exe succeusfully!"));
  EXPECT_TRUE(capture.Contains(log::Level::kError, "Copy OrvoInstall.exe failed, error: 2"));
  EXPECT_FALSE(CopyExists());
}

}  // namespace
}  // namespace orvo::deploy
