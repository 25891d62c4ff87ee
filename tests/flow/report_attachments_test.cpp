// The files a problem report attaches.
#include "flow/report_attachments.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/system_drive.h"
#include "support/test_root.h"
#include "system/file_helpers.h"

namespace orvo::flow {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

class ReportAttachmentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = platform::Drive().KnownFolderPath(platform::KnownFolder::kTemp);
    root_.WriteFile(kLog, "log");
  }
  std::string Temp(const std::string& name) const { return temp_ + "\\" + name; }

  static constexpr const char* kLog = "C:\\Work\\24_02_19_03-45PM.Log";
  static constexpr const char* kMsiLog = "C:\\Work\\24_02_19_03-45PM_ISM.Log";
  test::TestRoot root_;
  std::string temp_;
};

TEST_F(ReportAttachmentsTest, TheLogThenTheMsiLogWhenItExists) {
  EXPECT_THAT(CollectReportAttachments(false, kLog, kMsiLog), ElementsAre(kLog));
  root_.WriteFile(kMsiLog, "msi");
  EXPECT_THAT(CollectReportAttachments(false, kLog, kMsiLog), ElementsAre(kLog, kMsiLog));
  EXPECT_THAT(CollectReportAttachments(false, "", kMsiLog), ElementsAre(kMsiLog));
  EXPECT_THAT(CollectReportAttachments(false, "", ""), IsEmpty());
}

TEST_F(ReportAttachmentsTest, RuntimeLogsOfTheTemporaryFolderComeFirstWhenAsked) {
  for (const char* name : {"dd_vcredist_x86_20240219.log", "Microsoft .NET Framework 4.8 Setup.HTML",
                           "dd_VCREDIST_x64.txt", "setup_vcredist", "runtime.net", "vcredist.net.log",
                           "vcredist_x86.exe", "dotnet.log", "net.log", "other.log"}) {
    root_.WriteFile(Temp(name), "x");
  }
  root_.WriteFile(Temp("OrvoInstaller\\dd_vcredist_nested.log"), "below: not taken");
  ASSERT_TRUE(sys::N_CreateFolder(Temp("old_vcredist")));  // a folder is not a log
  ASSERT_TRUE(sys::N_CreateFolder(Temp("vcredist_logs.txt")));
  root_.WriteFile(kMsiLog, "msi");

  const std::vector<std::string> attachments = CollectReportAttachments(true, kLog, kMsiLog);
  ASSERT_EQ(attachments.size(), 8u);
  const std::vector<std::string> runtime(attachments.begin(), attachments.end() - 2);
  EXPECT_THAT(runtime, UnorderedElementsAre(Temp("dd_vcredist_x86_20240219.log"),
                                            Temp("Microsoft .NET Framework 4.8 Setup.HTML"),
                                            Temp("dd_VCREDIST_x64.txt"), Temp("setup_vcredist"),
                                            Temp("runtime.net"), Temp("vcredist.net.log")));
  EXPECT_EQ(attachments[6], kLog);
  EXPECT_EQ(attachments[7], kMsiLog);

  EXPECT_THAT(CollectReportAttachments(false, kLog, kMsiLog), ElementsAre(kLog, kMsiLog));
}

}  // namespace
}  // namespace orvo::flow
