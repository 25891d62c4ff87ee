#include "app/startup.h"

#include <gtest/gtest.h>

#include "app/log.h"
#include "app/main_window.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "support/test_root.h"

namespace orvo::app {
namespace {

using platform::Hive;

constexpr const char* kList = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\orvopack\\0";
constexpr const char* kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class StartupTest : public ::testing::Test {
 protected:
  platform::Registry& Reg() { return *root_.Platform().registry; }
  void Register(const std::string& value_name, const std::string& id, bool with_display_name) {
    ASSERT_EQ(Reg().CreateKey(Hive::kLocalMachine, kList), 0u);
    ASSERT_EQ(Reg().SetString(Hive::kLocalMachine, kList, value_name, id), 0u);
    ASSERT_EQ(Reg().CreateKey(Hive::kLocalMachine, kUninstall + id), 0u);
    if (with_display_name) {
      ASSERT_EQ(Reg().SetString(Hive::kLocalMachine, kUninstall + id, "DisplayName", id), 0u);
    }
  }
  test::TestRoot root_;
};

TEST_F(StartupTest, CommonComponentIsNeededOnlyByAnotherRegisteredProduct) {
  EXPECT_FALSE(CommonComponentStillNeeded());  // no product list at all
  Register("0", "Orvo Common", true);
  EXPECT_FALSE(CommonComponentStillNeeded());  // only itself
  Register("1", "Orvo Photo", false);
  EXPECT_FALSE(CommonComponentStillNeeded());  // its uninstall entry has no name
  Register("2", "Orvo Video", true);
  EXPECT_TRUE(CommonComponentStillNeeded());
}

// Counts message boxes instead of showing them.
class RecordingUi : public platform::UserInterface {
 public:
  int MessageBox(std::string_view text, std::string_view caption, std::uint32_t) override {
    texts.emplace_back(text);
    captions.emplace_back(caption);
    return platform::kIdOk;
  }
  std::vector<std::string> texts, captions;
};

TEST_F(StartupTest, RefusalsEndWithZero) {
  auto* ui = new RecordingUi;
  root_.Platform().ui.reset(ui);
  RunOptions uninstall_nothing;
  uninstall_nothing.uninstall = true;
  EXPECT_EQ(RunInstaller(uninstall_nothing), 0);

  Register("0", "Orvo Common", true);
  Register("1", "Orvo Video", true);
  RunOptions common = uninstall_nothing;
  common.product = "Orvo Common";
  EXPECT_EQ(RunInstaller(common), 0);
  ASSERT_EQ(ui->texts.size(), 1u);
  EXPECT_EQ(ui->texts[0],
            "Couldn't uninstall Orvo Start. You still have Orvo applications installed on your computer that "
            "require it.");
  EXPECT_EQ(ui->captions[0], "Orvo Installer");

  RunOptions gone_host;
  gone_host.daemon = gone_host.silent = true;
  gone_host.hostWindow = 123456789;
  EXPECT_EQ(RunInstaller(gone_host), 0);
  EXPECT_EQ(ui->texts.size(), 1u);  // no message for a host that is gone
}

TEST_F(StartupTest, WorkingFoldersAndFirstLogLines) {
  RunOptions options;
  options.installId = "orvo365_test";
  options.howToAppName = "Orvo Photo";
  options.howToUseCaseId = "7";
  options.howToStartApp = "photo";
  WorkingFolders folders;
  log::ScopedCapture capture;
  ASSERT_TRUE(PrepareWorkingFolders(options, folders));
  const std::string temp = root_.Platform().drive.KnownFolderPath(platform::KnownFolder::kTemp);
  EXPECT_EQ(folders.workFolder, temp + "\\OrvoInstaller\\orvo365_test");
  EXPECT_TRUE(platform::fs::IsFolder(folders.workFolder));
  EXPECT_EQ(folders.localConfigFolder.substr(folders.localConfigFolder.size() - 14), "\\OrvoInstaller");
  ASSERT_TRUE(OpenRunLog(options, folders));
  log::Close();
  EXPECT_EQ(log::GetPath().rfind(folders.workFolder + "\\", 0), 0u);
  EXPECT_TRUE(capture.Contains(log::Level::kDebug,
                               "Get Start Info from how to web, appName: Orvo Photo, usecaseId: 7, startApp: photo."));
  EXPECT_EQ(folders.msiLogPath.substr(folders.msiLogPath.size() - 8), "_ISM.Log");
}

TEST_F(StartupTest, APlantedWorkingFolderIsRefused) {
  const std::string temp = root_.Platform().drive.KnownFolderPath(platform::KnownFolder::kTemp);
  std::filesystem::create_directories(root_.Root() / "planted");
  std::filesystem::create_directory_symlink(root_.Root() / "planted", root_.Linux(temp) / "OrvoInstaller");
  RunOptions options;
  WorkingFolders folders;
  log::ScopedCapture capture;
  EXPECT_FALSE(PrepareWorkingFolders(options, folders));
  ASSERT_FALSE(capture.Entries().empty());
  EXPECT_EQ(capture.Entries().back().level, log::Level::kError);
  // A refused start ends with 0, like the other refusals.
  EXPECT_EQ(RunInstaller(options), 0);
}

}  // namespace
}  // namespace orvo::app
