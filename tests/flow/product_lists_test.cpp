// The housekeeping of the application file lists "61" and "157" at install start.
#include "flow/product_lists.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/log.h"
#include "deploy/installed_products.h"
#include "platform/platform.h"
#include "support/pe_builder.h"
#include "support/recording_launcher.h"
#include "support/test_root.h"
#include "system/file_helpers.h"

namespace orvo::flow {
namespace {

using platform::Hive;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ProductListsTest : public ::testing::Test {
 protected:
  void Register(int list, const std::string& path, const std::string& date = "2024-3-1 10:0:0") {
    const std::string key = deploy::ApplicationFileListKey(list);
    ASSERT_EQ(platform::Reg().CreateKey(Hive::kLocalMachine, key), 0u);
    ASSERT_EQ(platform::Reg().SetString(Hive::kLocalMachine, key, path, date), 0u);
  }
  std::vector<std::string> Registered(int list) {
    std::vector<platform::RegValue> values;
    platform::Reg().ListValues(Hive::kLocalMachine, deploy::ApplicationFileListKey(list), values);
    std::vector<std::string> names;
    for (const auto& value : values) names.push_back(value.name);
    return names;
  }
  // The program and (entries - 1) other files beside it.
  void ProgramInFolderOf(const std::string& path, int entries) {
    root_.WriteFile(path, "program");
    const std::string folder = sys::SplitPath(path).folder;
    for (int i = 1; i < entries; ++i) root_.WriteFile(folder + "\\file" + std::to_string(i) + ".dll", "x");
  }
  void VersionedProgram(const std::string& path, const test::PeVersion& version) {
    root_.WriteFile(path, test::BuildVersionedPe(version, version, {{"FileVersion", "x"}}));
  }

  test::TestRoot root_;
};

// ---- "61" ----

TEST_F(ProductListsTest, List61WithOneValueIsLeftAlone) {
  Register(61, "C:\\Orvo\\Gone\\app.exe");
  CleanApplicationList61();
  EXPECT_THAT(Registered(61), ElementsAre("C:\\Orvo\\Gone\\app.exe"));
}

TEST_F(ProductListsTest, List61DropsMissingFilesAndFilesInNearlyEmptyFolders) {
  ProgramInFolderOf("C:\\Orvo\\Four\\app.exe", 4);
  ProgramInFolderOf("C:\\Orvo\\Five\\app.exe", 5);
  ProgramInFolderOf("C:\\Orvo\\Mixed\\app.exe", 4);
  ASSERT_TRUE(sys::N_CreateFolder("C:\\Orvo\\Mixed\\plugins"));  // a folder counts as an entry too
  Register(61, "C:\\Orvo\\Gone\\app.exe");
  Register(61, "C:\\Orvo\\Four\\app.exe");
  Register(61, "C:\\Orvo\\Five\\app.exe");
  Register(61, "C:\\Orvo\\Mixed\\app.exe");
  Register(61, "C:\\Orvo\\Five");  // a folder is not a file that exists

  CleanApplicationList61();
  EXPECT_THAT(Registered(61), ElementsAre("C:\\Orvo\\Five\\app.exe", "C:\\Orvo\\Mixed\\app.exe"));
}

TEST_F(ProductListsTest, List61LosesEveryValueWhenNoneQualifies) {
  // Adjacent values deleted in one walk: none may be skipped.
  for (int i = 0; i < 4; ++i) Register(61, "C:\\Orvo\\Gone" + std::to_string(i) + "\\app.exe");
  CleanApplicationList61();
  EXPECT_THAT(Registered(61), IsEmpty());
}

TEST_F(ProductListsTest, MissingListsAreNoError) {
  std::vector<std::string> run;
  CleanApplicationList61();
  CleanApplicationList157([&](const std::string& command) { run.push_back(command); });
  EXPECT_THAT(run, IsEmpty());
  EXPECT_EQ(platform::Reg().OpenKey(Hive::kLocalMachine, deploy::ApplicationFileListKey(61)), 2u);
  EXPECT_EQ(platform::Reg().OpenKey(Hive::kLocalMachine, deploy::ApplicationFileListKey(157)), 2u);
}

// ---- "157" ----

TEST_F(ProductListsTest, List157DropsMissingFilesAndCreatesTasksUpToTheVersion) {
  struct Case {
    const char* path;
    test::PeVersion version;
    bool task;
  };
  const Case cases[] = {
      {"C:\\Orvo\\A\\Older.exe", {23, 9, 9, 9}, true},
      {"C:\\Orvo\\B\\Equal.exe", {24, 5, 1, 8}, true},
      {"C:\\Orvo\\C\\Revision.exe", {24, 5, 1, 9}, false},
      {"C:\\Orvo\\D\\Minor.exe", {24, 6, 0, 0}, false},
      {"C:\\Orvo\\E\\Build.exe", {24, 5, 0, 99}, true},
  };
  Register(157, "C:\\Orvo\\Gone\\Info.exe");
  for (const Case& c : cases) {
    VersionedProgram(c.path, c.version);
    Register(157, c.path);
  }
  const log::ScopedCapture capture;
  std::vector<std::string> run;
  CleanApplicationList157([&](const std::string& command) { run.push_back(command); });

  std::vector<std::string> expected_run;
  std::vector<std::string> kept;
  for (const Case& c : cases) {
    kept.push_back(c.path);
    if (!c.task) continue;
    const std::string command = "\"" + std::string(c.path) + "\" -createtask";
    expected_run.push_back(command);
    EXPECT_TRUE(capture.Contains(log::Level::kInfo, "create orvo info task, run : " + command)) << c.path;
  }
  EXPECT_EQ(run, expected_run);
  EXPECT_EQ(Registered(157), kept);
}

TEST_F(ProductListsTest, TheDefaultRunnerStartsTheCommandHiddenThroughCmdAndWaits) {
  const auto launched = test::RecordingLauncher::Install();
  VersionedProgram("C:\\Program Files (x86)\\Orvo\\Info\\Orvo Info.exe", {20, 1, 0, 0});
  Register(157, "C:\\Program Files (x86)\\Orvo\\Info\\Orvo Info.exe");

  CleanApplicationList157();
  ASSERT_EQ(launched->requests.size(), 1u);
  EXPECT_EQ(launched->requests[0].command_line,
            "cmd.exe /c \"\"C:\\Program Files (x86)\\Orvo\\Info\\Orvo Info.exe\" -createtask\"");
  EXPECT_TRUE(launched->requests[0].hidden);
  EXPECT_EQ(launched->waits, 1);
}

}  // namespace
}  // namespace orvo::flow
