// Whole install runs of the built installer against the local account service: silent installs of runtimes
// and setup programs, their failure paths, download verification and resume, and a host-mode run.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "e2e/install_fixture.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/win_types.h"

namespace orvo::test {
namespace {

namespace stdfs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::SizeIs;

constexpr const char* kPhoto = "OrvoPhotoSetup.exe";
constexpr const char* kVideo = "OrvoVideoSetup.exe";
constexpr const char* kVc = "vc_redist.x86.exe";
constexpr const char* kNdp = "ndp48-x86-x64-allos-enu.exe";

class InstallEndToEnd : public InstallFixture {
 protected:
  // Publishes the components, serves their configuration and makes a silent run.
  RunResult SilentInstall(std::vector<Component> components) {
    Publish(components);
    ServeConfiguration(components);
    return Run("/silent");
  }

  // The product started at the end is started, not waited for: give it a moment to note its run.
  std::size_t LaunchedProductRuns() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Runs("OrvoPhoto.exe").empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return Runs("OrvoPhoto.exe").size();
  }
};

TEST_F(InstallEndToEnd, SilentInstallRunsEveryRuntimeAndSetupProgramOnce) {
  const RunResult result = SilentInstall(StandardComponents());
  EXPECT_EQ(result.exit_code, 0) << result.log;

  // Each program ran once with the arguments of its configuration; setup programs get the MSI log first.
  EXPECT_THAT(Runs(kVc), ElementsAre(ElementsAre("/install", "/quiet", "/norestart")));
  EXPECT_THAT(Runs(kNdp), ElementsAre(ElementsAre("/q", "/norestart")));
  const auto photo = Runs(kPhoto), video = Runs(kVideo);
  ASSERT_THAT(photo, SizeIs(1));
  ASSERT_THAT(video, SizeIs(1));
  EXPECT_THAT(photo[0], ElementsAre("/log", EndsWith("_ISM.Log"), "/S"));
  EXPECT_THAT(video[0], ElementsAre("/log", EndsWith("_ISM.Log"), "/S", "/lang=en"));
  EXPECT_THAT(photo[0][1], HasSubstr("\\OrvoInstaller\\uqe9137\\"));
  // The configuration's launch file, left by the photo setup, is started at the end.
  EXPECT_EQ(LaunchedProductRuns(), 1u);

  // In plan order: the runtimes first, then the actions in file order.
  const std::string& log = result.log;
  const std::size_t vc = log.find("Install begin - Microsoft Visual C++"), ndp = log.find("Install begin - Microsoft .NET"),
                    first = log.find("Install begin - Orvo Photo"), second = log.find("Install begin - Orvo Video");
  ASSERT_NE(second, std::string::npos) << log;
  EXPECT_LT(vc, ndp);
  EXPECT_LT(ndp, first);
  EXPECT_LT(first, second);

  EXPECT_EQ(Count(log, "Debug Download Succ - MD5 validated.\r\n"), 4u) << log;
  EXPECT_EQ(Count(log, "Debug \r\nERROR CODE:0 dataname:vc_redist.x86.exe \r\n"), 1u);
  EXPECT_EQ(Count(log, "Debug \r\nERROR CODE:0 dataname:ndp48-x86-x64-allos-enu.exe \r\n"), 1u);
  EXPECT_EQ(Count(log, "Debug Install Complete.\r\n"), 2u);  // the two setup programs
  EXPECT_EQ(Count(log, "Debug install Orvo Photo success\r\n"), 1u);
  EXPECT_EQ(Count(log, "Debug install Orvo Video success\r\n"), 1u);
  EXPECT_EQ(Count(log, "Debug All finished.\r\n"), 1u);
  EXPECT_THAT(log, Not(HasSubstr("Handling")));

  // Downloaded setup programs are deleted after a good install; the runtimes' files stay.
  EXPECT_FALSE(stdfs::exists(WorkFolder() / kPhoto));
  EXPECT_FALSE(stdfs::exists(WorkFolder() / kVideo));
  EXPECT_TRUE(stdfs::exists(WorkFolder() / kVc));

  // One configuration request for the id, then one download per file.
  const auto config = RequestsFor(result, "/api/install/uqe9137");
  ASSERT_THAT(config, SizeIs(1));
  EXPECT_EQ(config[0].value("query", ""), "arch=x64&instver=2.0.1.46");
  for (const char* file : {kVc, kNdp, kPhoto, kVideo}) {
    EXPECT_THAT(RequestsFor(result, std::string("/files/") + file), SizeIs(1)) << file;
  }
}

TEST_F(InstallEndToEnd, RestartCodeCountsOnlyForRuntimes) {
  // A runtime asking for a restart: the run succeeds and ends with 3010.
  auto components = StandardComponents();
  components[0] = VcRuntime(3010);
  RunResult result = SilentInstall(components);
  EXPECT_EQ(result.exit_code, 3010) << result.log;
  EXPECT_EQ(Count(result.log, "Debug Install Complete - is restart code.\r\n"), 1u);
  EXPECT_THAT(Runs(kVideo), SizeIs(1));

  // A setup program ending with the same code has failed: no restart codes are listed for it.
  components = StandardComponents();
  components[2] = PhotoSetup(3010);
  result = SilentInstall(components);
  EXPECT_EQ(result.exit_code, -1) << result.log;
  EXPECT_EQ(Count(result.log, "Debug install Orvo Photo failed, error code:3010\r\n"), 1u);
  EXPECT_EQ(Count(result.log, "Debug Handling Install Failed - User skip.\r\n"), 1u);
}

TEST_F(InstallEndToEnd, FailingInstallEndsTheSilentRunAtOnce) {
  struct Case {
    std::size_t failing;  // index in the standard components
    int code;
    std::string result_line;
    std::string detail_line;
    std::vector<std::string> ran, not_ran;
  };
  const std::vector<Case> cases = {
      {2, 5, "install Orvo Photo failed, error code:5\r\n", "", {kVc, kNdp, kPhoto}, {kVideo}},
      {1, 7, "install Microsoft .NET Framework 4.8 failed, error code:7\r\n",
       "Handling Install Failed - product ndp48-x86-x64-allos-enu.exe, error code 7. error description:",
       {kVc, kNdp}, {kPhoto, kVideo}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result_line);
    stdfs::remove_all(root_.Root() / "e2e-runs");
    auto components = StandardComponents();
    components[c.failing] = c.failing == 2 ? PhotoSetup(c.code) : DotNetRuntime(c.code);
    const RunResult result = SilentInstall(components);
    EXPECT_EQ(result.exit_code, -1) << result.log;
    EXPECT_EQ(Count(result.log, "Debug " + c.result_line), 1u) << result.log;
    if (!c.detail_line.empty()) {
      EXPECT_EQ(Count(result.log, "Debug " + c.detail_line), 1u);
    }
    EXPECT_EQ(Count(result.log, "Debug Handling Install Failed - User skip.\r\n"), 1u);
    EXPECT_THAT(result.log, Not(HasSubstr("User try again")));
    EXPECT_THAT(result.log, Not(HasSubstr("All finished.")));
    for (const std::string& name : c.ran) EXPECT_THAT(Runs(name), SizeIs(1)) << name;
    for (const std::string& name : c.not_ran) EXPECT_THAT(Runs(name), IsEmpty()) << name;
  }
  EXPECT_THAT(Runs("OrvoPhoto.exe"), IsEmpty());  // a failed run starts no product
}

TEST_F(InstallEndToEnd, WrongDownloadIsTriedThreeTimesThenGivenUp) {
  auto components = StandardComponents();
  Publish(components);
  ServeConfiguration(components);
  // The service now serves other bytes than the configured MD5 describes.
  std::string other = components[2].bytes;
  other.replace(other.find("exit 0"), 6, "exit 1");
  service_->AddFile(std::string("files/") + kPhoto, other);

  const RunResult result = Run("/silent");
  EXPECT_EQ(result.exit_code, -1) << result.log;
  const auto downloads = RequestsFor(result, std::string("/files/") + kPhoto);
  ASSERT_THAT(downloads, SizeIs(3));
  for (const auto& request : downloads) {
    EXPECT_FALSE(request["headers"].contains("range")) << request.dump();  // the bad file was deleted
  }
  const std::string& log = result.log;
  EXPECT_EQ(Count(log, "Debug Download Succ - MD5 validate failed.\r\n"), 3u) << log;
  EXPECT_EQ(Count(log, "Debug Handling Download Valiable Failed.\r\n"), 3u);
  EXPECT_EQ(Count(log, "Debug Handling Download Valiable Failed - try again.\r\n"), 2u);
  EXPECT_EQ(Count(log, "Debug Handling Download Valiable Failed - skip.\r\n"), 1u);
  EXPECT_THAT(log, Not(HasSubstr("All finished.")));
  EXPECT_FALSE(stdfs::exists(WorkFolder() / kPhoto));
  EXPECT_THAT(Runs(kPhoto), IsEmpty());
  EXPECT_THAT(Runs(kVideo), IsEmpty());
  EXPECT_THAT(Runs(kNdp), SizeIs(1));  // the runtimes came before it
}

TEST_F(InstallEndToEnd, PartialDownloadIsResumedWhereItStopped) {
  auto components = StandardComponents();
  Publish(components);
  ServeConfiguration(components);
  // What an interrupted run left: the first part of the photo setup in the working folder.
  const std::string& bytes = components[2].bytes;
  const std::size_t part = bytes.size() / 2;
  stdfs::create_directories(WorkFolder());
  for (stdfs::path folder = WorkFolder(); folder != TempFolder(); folder = folder.parent_path()) {
    stdfs::permissions(folder, stdfs::perms::owner_all, stdfs::perm_options::replace);
  }
  std::ofstream(WorkFolder() / kPhoto, std::ios::binary) << bytes.substr(0, part);

  const RunResult result = Run("/silent");
  EXPECT_EQ(result.exit_code, 0) << result.log;
  const auto downloads = RequestsFor(result, std::string("/files/") + kPhoto);
  ASSERT_THAT(downloads, SizeIs(1));
  EXPECT_EQ(downloads[0]["headers"].value("range", ""), "bytes=" + std::to_string(part) + "-");
  EXPECT_EQ(downloads[0].value("status", 0), 206);
  EXPECT_THAT(result.log, HasSubstr("exists and MD5 is not the same.\r\n"));
  EXPECT_THAT(result.log, HasSubstr("Start Position: " + std::to_string(part) + " \r\n"));
  EXPECT_EQ(Count(result.log, "Debug Download Succ - MD5 validated.\r\n"), 4u);
  EXPECT_THAT(Runs(kPhoto), SizeIs(1));  // the joined file was whole
}

TEST_F(InstallEndToEnd, HostModeReportsEachStepAndGoesPastFailedProducts) {
  // A runtime that fails to install, a product whose download always fails, and one that installs.
  std::vector<Component> components = {VcRuntime(5), PhotoSetup(), VideoSetup()};
  Publish(components);
  service_->AddFault({{"path", std::string("/files/") + kPhoto}, {"status", 503}});

  const RunResult result = RunHost(ItemList(components));
  EXPECT_EQ(result.exit_code, 0) << result.errors << result.log;

  std::vector<std::pair<int, std::string>> reports;  // without the progress reports
  for (const auto& report : result.reports) {
    if (report.first != 5) {
      reports.push_back(report);
      continue;
    }
    EXPECT_THAT(report.second, ::testing::MatchesRegex(R"re(\{"id":"(vcx86|video)","progress":[0-9]+\})re"));
  }
  const std::vector<std::pair<int, std::string>> expected = {
      {1, ""},
      {4, R"({"id":"vcx86"})"},
      {6, R"({"id":"vcx86"})"},
      {8, R"({"id":"vcx86"})"},
      {11, R"({"id":"vcx86","installError":5})"},
      {4, R"({"id":"photo"})"},
      {4, R"({"id":"photo"})"},
      {4, R"({"id":"photo"})"},
      {7, R"({"id":"photo"})"},
      {4, R"({"id":"video"})"},
      {6, R"({"id":"video"})"},
      {8, R"({"id":"video"})"},
      {10, R"({"id":"video"})"},
      {2, ""},
  };
  EXPECT_EQ(reports, expected) << result.log;
  EXPECT_THAT(Runs(kVc), SizeIs(1));
  EXPECT_THAT(Runs(kPhoto), IsEmpty());
  EXPECT_THAT(Runs(kVideo), SizeIs(1));
  EXPECT_THAT(result.log, Not(HasSubstr("Handling Install Failed - User skip.")));  // host mode never gives up
}

}  // namespace
}  // namespace orvo::test
