// The Users-modify grant goes to the system's tool through the shell, hidden and not waited for.
#include "system/shell_helpers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/win_types.h"
#include "support/test_root.h"

namespace orvo::sys {
namespace {

using ::testing::ElementsAre;
using ::testing::SizeIs;

struct LauncherLog {
  std::vector<platform::SpawnRequest> requests;
  int waits = 0;
};

class FakeProcess : public platform::Process {
 public:
  explicit FakeProcess(LauncherLog* log) : log_(log) {}
  std::uint32_t Id() const override { return 4242; }
  std::uint32_t Wait(std::uint32_t) override {
    ++log_->waits;
    return platform::kWaitObject0;
  }
  std::uint32_t ExitCode() override { return 0; }
  bool Terminate(std::uint32_t) override { return true; }

 private:
  LauncherLog* log_;
};

// Records what would be started; starts nothing.
class RecordingLauncher : public platform::ProcessLauncher {
 public:
  RecordingLauncher(LauncherLog* log, bool fail) : log_(log), fail_(fail) {}
  std::unique_ptr<platform::Process> Spawn(const platform::SpawnRequest& request, std::uint32_t* error) override {
    log_->requests.push_back(request);
    if (fail_) {
      if (error != nullptr) *error = platform::error::kFileNotFound;
      return nullptr;
    }
    if (error != nullptr) *error = 0;
    return std::make_unique<FakeProcess>(log_);
  }

 private:
  LauncherLog* log_;
  bool fail_;
};

class GrantTest : public ::testing::Test {
 protected:
  void UseLauncher(bool fail) { root_.Platform().launcher = std::make_unique<RecordingLauncher>(&log_, fail); }

  LauncherLog log_;  // outlives the launcher that points at it
  test::TestRoot root_;
};

TEST(GrantParametersTest, QuoteThePathAndGrantModifyRecursively) {
  EXPECT_EQ(GrantUsersModifyParameters("C:\\Program Files (x86)\\Orvo\\setup.exe"),
            "\"C:\\Program Files (x86)\\Orvo\\setup.exe\" /grant Users:M /T");
  EXPECT_EQ(GrantUsersModifyParameters(""), "\"\" /grant Users:M /T");
}

TEST_F(GrantTest, StartsTheToolHiddenWithThePathAndDoesNotWait) {
  UseLauncher(false);
  const std::string path = "C:\\Users\\Public\\Orvo Downloads\\pack.zip";
  GrantUsersModify(path);

  ASSERT_THAT(log_.requests, SizeIs(1));
  const platform::SpawnRequest& request = log_.requests.front();
  EXPECT_TRUE(request.hidden);
  const std::vector<std::string> arguments = platform::SplitCommandLine(request.command_line);
  ASSERT_THAT(arguments, SizeIs(5)) << request.command_line;
  const std::string program = request.application.empty() ? arguments[0] : request.application;
  EXPECT_TRUE(platform::EndsWithNoCase(program, "icacls.exe")) << program;
  EXPECT_THAT(std::vector<std::string>(arguments.begin() + 1, arguments.end()),
              ElementsAre(path, "/grant", "Users:M", "/T"));
  EXPECT_EQ(log_.waits, 0);
}

TEST_F(GrantTest, AToolThatCannotStartIsIgnored) {
  UseLauncher(true);
  GrantUsersModify("C:\\Users\\Public\\pack.zip");
  EXPECT_THAT(log_.requests, SizeIs(1));
  EXPECT_EQ(log_.waits, 0);
}

}  // namespace
}  // namespace orvo::sys
