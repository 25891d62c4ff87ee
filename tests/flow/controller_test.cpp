// The install controller's rules that whole runs reach only slowly or not at all: the Retry countdown, the
// progress schedule, the step counters, the judging of install results, the dispatcher, the download cache
// and host mode, driven by posted messages, scripted dialogs and fake workers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/host_channel.h"
#include "app/log.h"
#include "flow/controller_fixture.h"
#include "flow/controller_ids.h"
#include "flow/progress_schedule.h"

namespace orvo::flow::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Json = nlohmann::json;

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + 7) % 256);
  return bytes;
}

int CountOf(const log::ScopedCapture& capture, const std::string& text) {
  const auto entries = capture.Entries();
  return static_cast<int>(
      std::count_if(entries.begin(), entries.end(), [&](const log::ScopedCapture::Entry& e) { return e.message == text; }));
}

HarnessOptions SilentRun() {
  HarnessOptions options;
  options.silent = true;
  return options;
}

HarnessOptions HostRun() {
  HarnessOptions options;
  options.host = true;
  return options;
}

bool OnPage(ControllerHarness& h, int page_id) { return h.Controller().PageId() == page_id; }

// ---------------------------------------------------------------------------------------------------------
// Progress

TEST(ProgressScheduleTest, NextCreepPeriodFollowsTheTwoSchedulesAndKeepsThePeriodBetweenBands) {
  struct Case {
    bool from_download;
    int position;
    std::optional<std::uint32_t> period;
  };
  const Case cases[] = {
      {false, 0, std::nullopt}, {false, 1, 1000u},  {false, 60, 1000u},        {false, 61, std::nullopt},
      {false, 62, 3000u},       {false, 80, 3000u}, {false, 81, std::nullopt}, {false, 82, 5000u},
      {false, 99, 5000u},       {false, 100, std::nullopt},
      {true, 1, std::nullopt},  {true, 50, std::nullopt}, {true, 51, 1000u},   {true, 80, 1000u},
      {true, 81, 3000u},        {true, 90, 3000u},  {true, 91, 15000u},        {true, 99, 15000u},
      {true, 100, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NextCreepPeriod(c.from_download, c.position), c.period)
        << (c.from_download ? "after a download, " : "from 0, ") << "position " << c.position;
  }
}

TEST(ControllerProgressTest, SetProgressClampsAndLeavesAValueAlreadyShown) {
  ControllerHarness h;
  h.Start();
  CMainDlg& controller = h.Controller();
  controller.SetProgress(120);
  controller.SetProgress(100);
  controller.SetProgress(-4);
  controller.SetProgress(0);
  controller.SetProgress(42);
  // The self-update thread's WM_SET_PROGRESS takes the same way.
  h.loop.Post(h.Window(), msg::kSetProgress, 42);
  h.loop.Post(h.Window(), msg::kSetProgress, 77);
  ASSERT_TRUE(h.PumpUntil([&] { return controller.Progress() == 77; }));
  EXPECT_THAT(h.view.progress, ElementsAre(100, 0, 42, 77));
  EXPECT_EQ(h.view.model.Progress(), 77);
  EXPECT_EQ(h.view.model.Text(control::kPercentLabel), "77%");
}

// ---------------------------------------------------------------------------------------------------------
// The Retry dialog of a download

TEST(RetryCountdownTest, TheCountdownPressesRetryThenStopsOnceTheStepsRetriesPassTheRetryNumbers) {
  ControllerHarness h;
  // The connection drops after two bytes of the body: a failure with status 200, so Retry is offered.
  h.service->AddFault({{"path", "/files/a.exe"}, {"drop_after", 2}});
  h.options.product = Json::array({SetupProgramItem("a", "a.exe", h.Publish("a.exe", Pattern(5000)))}).dump();
  h.Start();
  // Retry numbers 0: the first failure (RetryCount 0) counts down, the second (RetryCount 1) does not.
  h.Controller().RetryNumbers().numbers = 0;
  h.Controller().RetryNumbers().interval = 1;
  h.dialogs.errorScript = {{.waitForCountdown = true}, {.pumpFirst = 1500ms}};
  log::ScopedCapture capture;
  h.PressInstallNow();
  ASSERT_TRUE(h.PumpUntil([&] { return OnPage(h, page::kFailureOrReport); }));

  ASSERT_EQ(h.dialogs.errors.size(), 2u);
  const ShownError& first = h.dialogs.errors[0];
  EXPECT_EQ(first.request.message,
            "There was a problem downloading Product a. Please make sure you are connected to the internet.");
  EXPECT_EQ(first.request.caption, "Orvo Installer");
  EXPECT_EQ(first.request.retry_text, "Retry");
  EXPECT_EQ(first.request.cancel_text, "Cancel");
  EXPECT_TRUE(first.request.retry_offered);
  EXPECT_FALSE(first.request.help_link);
  EXPECT_THAT(first.retryTexts, ElementsAre("Retry (1s)", "Retry (0s)"));
  EXPECT_TRUE(first.pressedByCountdown);

  const ShownError& second = h.dialogs.errors[1];
  EXPECT_TRUE(second.request.retry_offered);
  EXPECT_THAT(second.retryTexts, IsEmpty());  // 1.5 s went by without a tick
  EXPECT_FALSE(second.pressedByCountdown);

  EXPECT_EQ(h.FileRequests("a.exe").size(), 2u);
  EXPECT_EQ(CountOf(capture, "Handling Download Failed.\r\n"), 2);
  EXPECT_EQ(CountOf(capture, "Handling Download Failed - User try again.\r\n"), 1);
  EXPECT_EQ(CountOf(capture, "Handling Download Failed - User skip.\r\n"), 1);
  EXPECT_EQ(h.Controller().Phase(), phase::kFailure);
  EXPECT_THAT(h.workers->Installs(), IsEmpty());
}

TEST(RetryCountdownTest, ANotFoundDownloadOffersCancelOnlyWithoutACountdownAndEndsOnTheFailurePage) {
  ControllerHarness h;
  // Nothing is served under this name: the service answers 404.
  h.options.product = Json::array({SetupProgramItem("a", "a.exe", "https://127.0.0.1/files/missing.exe")}).dump();
  h.Start();
  h.Controller().RetryNumbers().interval = 1;
  h.dialogs.errorScript = {{.pumpFirst = 1500ms}};  // long enough for a countdown to show itself
  log::ScopedCapture capture;
  h.PressInstallNow();
  ASSERT_TRUE(h.PumpUntil([&] { return OnPage(h, page::kFailureOrReport); }));

  ASSERT_EQ(h.dialogs.errors.size(), 1u);
  const ShownError& shown = h.dialogs.errors[0];
  EXPECT_EQ(shown.request.message,
            "There was a problem downloading Product a. Please make sure you are connected to the internet.");
  EXPECT_FALSE(shown.request.retry_offered);
  EXPECT_THAT(shown.retryTexts, IsEmpty());
  EXPECT_EQ(h.service->RequestsTo("/files/missing.exe").size(), 1u);
  EXPECT_TRUE(capture.Contains("Handling Download Failed - User skip.\r\n"));
  EXPECT_FALSE(h.Controller().Succeeded());
  EXPECT_EQ(h.Controller().Phase(), phase::kFailure);
  EXPECT_EQ(h.view.model.Text(control::kTitle), "Send report");
  EXPECT_EQ(h.view.model.Text(control::kInstallNow), "Send report");
}

// ---------------------------------------------------------------------------------------------------------
// Step counters

TEST(StepCounterTest, DownloadsCountTheirInstallStepAndInstallsTheirOwn) {
  ControllerHarness h;
  Json runtime = VcRuntimeItem("vc_redist.x86.exe", h.Publish("vc_redist.x86.exe", "MZ runtime"));
  runtime["systemcomponents"] = "yes";
  h.options.product = Json::array({runtime, SetupProgramItem("a", "a.exe", h.Publish("a.exe", "MZ a")),
                                   SetupProgramItem("b", "b.exe", h.Publish("b.exe", "MZ b"))})
                          .dump();
  h.Start();
  h.PressInstallNow();
  ASSERT_TRUE(h.PumpUntil([&] { return OnPage(h, page::kCompleted); }));
  EXPECT_EQ(h.Controller().InstallStepTotal(), 3);
  // Strings 147, 148 and 381 are outside the cached set: they come from the table directly.
  EXPECT_THAT(h.view.statusLines, ElementsAre("(1/3) Downloading Windows system components: Visual C++ Runtime...",
                                              "(1/3) Installing Windows system components: Visual C++ Runtime...",
                                              "(2/3) Downloading Product a...", "(2/3) Installing Product a...",
                                              "(3/3) Downloading Product b...", "(3/3) Installing Product b..."));
  EXPECT_TRUE(h.Controller().Succeeded());
}

TEST(StepCounterTest, AnUninstallLineHasNoEllipsis) {
  ControllerHarness h;
  h.options.uninstall = true;
  h.options.product = "Orvo Video";
  h.Start();
  h.PressInstallNow();
  ASSERT_TRUE(h.PumpUntil([&] { return OnPage(h, page::kCompleted); }));
  // The product's name, not the "Orvo Installer" the string cache puts into 314.
  EXPECT_THAT(h.view.statusLines, ElementsAre("(1/1) Uninstall Orvo Video"));
  ASSERT_EQ(h.workers->Uninstalls().size(), 1u);
  EXPECT_EQ(h.workers->Uninstalls()[0].step.install_data.uninstallId, "Orvo Video");
}

// A removal has no install kind of its own: only exit code 0 counts as removed.
TEST(InstallResultTest, ARemovalSucceedsOnlyWithExitCodeZero) {
  for (const std::intptr_t code : {std::intptr_t{0}, std::intptr_t{-1}, std::intptr_t{5}}) {
    ControllerHarness h(SilentRun());
    h.options.uninstall = true;
    h.options.product = "Orvo Video";
    h.workers->Script({{0, code}});
    h.Start();
    h.PressInstallNow();
    EXPECT_TRUE(h.RunToEnd().has_value());
    ASSERT_EQ(h.workers->Uninstalls().size(), 1u);
    EXPECT_EQ(h.Controller().Succeeded(), code == 0) << code;
  }
}

// ---------------------------------------------------------------------------------------------------------
// Install results

TEST(InstallResultTest, EachResultIsJudgedByTheStepsKind) {
  struct Case {
    std::string name;
    std::string kind;  // "vc", "prerequisite", "setup", "zip"
    WorkerResult result;
    bool succeeded;
    bool restart;
    std::string succeeded_list;
    std::string failed_list;
    std::string log_line;  // "" when nothing particular is logged
  };
  const Case cases[] = {
      {"runtime exits 0", "vc", {0, 0}, true, false, "install Visual C++ Runtime success\r\n", "",
       "\r\nERROR CODE:0 dataname:vc_redist.x86.exe \r\n"},
      {"runtime asks for a restart", "vc", {0, 3010}, true, true, "",
       "install Visual C++ Runtime failed, error code:3010\r\n", "Install Complete - is restart code.\r\n"},
      {"runtime asks for a restart (1641)", "vc", {0, 1641}, true, true, "",
       "install Visual C++ Runtime failed, error code:1641\r\n", "Install Complete - is restart code.\r\n"},
      {"runtime fails", "vc", {0, 1603}, false, false, "", "install Visual C++ Runtime failed, error code:1603\r\n",
       "Handling Install Failed - User skip.\r\n"},
      {"other prerequisite with an unlisted code", "prerequisite", {0, 5}, true, false, "",
       "install Visual C++ Runtime failed, error code:5\r\n", "\r\nERROR CODE:5 dataname:runtime.exe \r\n"},
      {"setup program asks for a restart", "setup", {0, 3010}, false, false, "",
       "install Product a failed, error code:3010\r\n", "Handling Install Failed - User skip.\r\n"},
      {"setup program file not found", "setup", {0, -1}, false, false, "",
       "install Product a failed, error code:-1\r\n", "Handling Install Failed - User skip.\r\n"},
      {"setup program with a failed batch script", "setup", {2, 0}, true, false,
       "install Product a complete but running bat error\r\n", "", "Install Complete.\r\n"},
      {"zip package with a failed batch script", "zip", {2, 0}, true, false,
       "install Package z complete but running bat error\r\n", "", "Install Complete.\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerHarness h(SilentRun());
    Json item;
    if (c.kind == "vc") item = VcRuntimeItem("vc_redist.x86.exe", h.PutLocal("C:\\Packages\\vc_redist.x86.exe", "MZ"));
    if (c.kind == "prerequisite") item = VcRuntimeItem("runtime.exe", h.PutLocal("C:\\Packages\\runtime.exe", "MZ"));
    if (c.kind == "setup") item = SetupProgramItem("a", "a.exe", h.PutLocal("C:\\Packages\\a.exe", "MZ"));
    if (c.kind == "zip") item = ZipItem("z", "z.zip", h.PutLocal("C:\\Packages\\z.zip", "PK"));
    h.options.product = Json::array({item}).dump();
    h.workers->Script({c.result});
    h.Start();
    log::ScopedCapture capture;
    h.PressInstallNow();
    EXPECT_EQ(h.RunToEnd(), 0);
    EXPECT_EQ(h.workers->Installs().size(), 1u);
    EXPECT_EQ(h.Controller().Succeeded(), c.succeeded);
    EXPECT_EQ(h.Controller().RestartRequired(), c.restart);
    EXPECT_EQ(h.Controller().PageId(), c.succeeded ? page::kCompleted : page::kFailureOrReport);
    EXPECT_EQ(app::ExitCodeOverride(), c.succeeded ? 0 : -1);
    EXPECT_EQ(h.Controller().SucceededList(), c.succeeded_list);
    EXPECT_EQ(h.Controller().FailedList(), c.failed_list);
    EXPECT_TRUE(capture.Contains(c.log_line));
    EXPECT_THAT(h.dialogs.errors, IsEmpty());  // a silent run asks nothing
  }
}

TEST(InstallResultTest, RetryAfterAFailedInstallRunsTheSameStepWithTheSameFileAndNoNewDownload) {
  ControllerHarness h;
  const std::string bytes = "MZ setup a";
  Json item = SetupProgramItem("a", "a.exe", h.Publish("a.exe", bytes));
  item["md5"] = Md5Of(h.root, bytes);
  item["size"] = bytes.size();
  h.options.product = Json::array({item}).dump();
  h.workers->Script({{0, 1603}, {0, 0}});
  h.dialogs.errorScript = {{.answer = kAnswerRetry}};
  h.Start();
  log::ScopedCapture capture;
  h.PressInstallNow();
  ASSERT_TRUE(h.PumpUntil([&] { return OnPage(h, page::kCompleted); }));

  ASSERT_EQ(h.dialogs.errors.size(), 1u);
  // The failed product is named, not the "Orvo Installer" the string cache puts into 221.
  EXPECT_EQ(h.dialogs.errors[0].request.message, "There was a problem installing Product a.");
  EXPECT_TRUE(h.dialogs.errors[0].request.retry_offered);
  EXPECT_FALSE(h.dialogs.errors[0].request.help_link);
  const auto installs = h.workers->Installs();
  ASSERT_EQ(installs.size(), 2u);
  for (const auto& run : installs) {
    EXPECT_EQ(run.step.type, plan::StepType::PackageInstall);
    EXPECT_EQ(run.step.install_data.FilePath, h.WorkPath("a.exe"));
  }
  EXPECT_EQ(h.FileRequests("a.exe").size(), 1u);
  EXPECT_TRUE(capture.Contains("Handling Install Failed - User try again.\r\n"));
  EXPECT_EQ(h.Controller().FailedList(), "install Product a failed, error code:1603\r\n");
  EXPECT_EQ(h.Controller().SucceededList(), "install Product a success\r\n");
  EXPECT_TRUE(h.Controller().Succeeded());
}

TEST(InstallResultTest, ARuntimeFailingOnWindows81WithoutItsUpdateShowsTheUpdateTextAndOpensTheArticleOnCancel) {
  struct Case {
    std::string name;
    std::string profile;
    std::string message;
    bool article;
  };
  const Case cases[] = {
      {"8.1 without KB2919355", R"({"windows": {"major": 6, "minor": 3}})",
       "An error occurred when installing Visual C++ Redistributable for VS2015. To complete the installation, "
       "please install Windows 8.1 April 2014 Update via Windows Update first.",
       true},
      {"8.1 with KB2919355", R"({"windows": {"major": 6, "minor": 3}, "hotfixes": ["KB2919355"]})",
       "There was a problem installing Visual C++ Runtime.", false},
      {"Windows 10", "", "There was a problem installing Visual C++ Runtime.", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerHarness h({.profile = c.profile});
    h.options.product =
        Json::array({VcRuntimeItem("vc_redist.x64.exe", h.PutLocal("C:\\Packages\\vc_redist.x64.exe", "MZ"))}).dump();
    h.workers->Script({{0, 1603}});
    h.Start();
    log::ScopedCapture capture;
    h.PressInstallNow();
    ASSERT_TRUE(h.PumpUntil([&] { return OnPage(h, page::kFailureOrReport); }));
    ASSERT_EQ(h.dialogs.errors.size(), 1u);
    EXPECT_EQ(h.dialogs.errors[0].request.message, c.message);
    EXPECT_TRUE(h.dialogs.errors[0].request.help_link);  // the runtime's "Get help" link
    EXPECT_EQ(capture.Contains("version is 6.3"), c.article);
    EXPECT_EQ(capture.Contains("KB2919355 not installed"), c.article);
    const auto started = h.Started();
    const bool opened = std::any_of(started.begin(), started.end(), [](const std::string& line) {
      return line.find("https://support.microsoft.com/help/2919355") != std::string::npos;
    });
    EXPECT_EQ(opened, c.article);
    EXPECT_FALSE(h.Controller().Succeeded());
  }
}

// ---------------------------------------------------------------------------------------------------------
// The dispatcher

TEST(DispatchTest, AStepOfATypeOutsideTheTableIsDroppedAndTheNextOneDispatched) {
  ControllerHarness h;
  h.Start();
  // No builder makes such a step; it goes into the plan as it is.
  plan::Plan steps;
  steps.emplace_back(static_cast<plan::StepType>(7));
  steps.emplace_back(static_cast<plan::StepType>(99));
  h.Controller().AppendSteps(steps);
  h.Controller().AppendFinishStep();
  log::ScopedCapture capture;
  h.Controller().DispatchIfIdle();
  ASSERT_TRUE(h.PumpUntil([&] { return OnPage(h, page::kCompleted); }));
  EXPECT_TRUE(h.Controller().Plan().empty());
  EXPECT_EQ(h.Controller().CurrentStep().type, plan::StepType::Finish);
  EXPECT_EQ(CountOf(capture, "Start Install Action"), 3);
  EXPECT_TRUE(capture.Contains("All finished.\r\n"));
  EXPECT_FALSE(h.Controller().Dispatching());
}

// ---------------------------------------------------------------------------------------------------------
// The download cache

TEST(DownloadCacheTest, ACachedFileIsUsedResumedOrReplacedByItsMd5AndSize) {
  const std::string content = Pattern(1000);
  struct Case {
    std::string name;
    std::string cached;
    int byte_size;
    bool with_md5;
    std::size_t requests;
    std::string range;       // the Range header of the request
    std::string log_format;  // %s: the target path
  };
  const Case cases[] = {
      {"right MD5", content, 1000, true, 0, "", "The File %s exists and MD5 is the same.\r\n"},
      {"700 bytes of 1000", content.substr(0, 700), 1000, true, 1, "bytes=700-",
       "Resume to download file %s. Start Position: 700 \r\n"},
      {"700 bytes, size 700", content.substr(0, 700), 700, true, 1, "",
       "The cache file size is lager than downloading file size, create a new one: %s. \r\n"},
      {"700 bytes, size 600", content.substr(0, 700), 600, true, 1, "",
       "The cache file size is lager than downloading file size, create a new one: %s. \r\n"},
      {"no MD5", content.substr(0, 700), 1000, false, 1, "", "The file do not have MD5.\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerHarness h(SilentRun());
    Json item = SetupProgramItem("c", "c.exe", h.Publish("c.exe", content));
    if (c.with_md5) item["md5"] = Md5Of(h.root, content);
    item["size"] = c.byte_size;
    h.options.product = Json::array({item}).dump();
    h.Start();
    const std::string target = h.WorkPath("c.exe");
    h.root.WriteFile(target, c.cached);
    log::ScopedCapture capture;
    h.PressInstallNow();
    EXPECT_EQ(h.RunToEnd(), 0);

    const auto requests = h.FileRequests("c.exe");
    ASSERT_EQ(requests.size(), c.requests);
    if (!requests.empty()) {
      EXPECT_EQ(requests[0]["headers"].value("range", ""), c.range);
    }
    std::string expected_log = c.log_format;
    if (const std::size_t at = expected_log.find("%s"); at != std::string::npos) expected_log.replace(at, 2, target);
    EXPECT_TRUE(capture.Contains(expected_log)) << expected_log;
    // The file that was installed passed its check: nothing was retried or refused.
    EXPECT_EQ(h.workers->Installs().size(), 1u);
    EXPECT_TRUE(h.Controller().Succeeded());
    EXPECT_FALSE(capture.Contains("Handling Download Valiable Failed.\r\n"));
  }
}

// ---------------------------------------------------------------------------------------------------------
// Host mode

TEST(HostModeTest, AProductWhoseDownloadFailsThreeTimesIsDroppedAndTheOthersStillInstall) {
  ControllerHarness h(HostRun());
  h.service->AddFault({{"path", "/files/a.exe"}, {"status", 503}});
  const Json list = Json::array({SetupProgramItem("a", "a.exe", h.Publish("a.exe", "MZ a")),
                                 SetupProgramItem("b", "b.exe", h.Publish("b.exe", "MZ b"))});
  h.Start();  // accepted licence: Install Now runs at once and reports 1
  ASSERT_TRUE(h.PumpUntil([&] { return !h.Host().Reports().empty(); }));
  log::ScopedCapture capture;
  h.SendHostCommand(app::host_command::kInstallProducts, list.dump());
  h.SendHostCommand(app::host_command::kFinish, "");
  EXPECT_EQ(h.RunToEnd(), 0);

  std::vector<std::pair<int, std::string>> reports;
  for (const auto& report : h.Host().Reports()) {
    if (report.status != app::host_status::kDownloadProgress) {
      reports.emplace_back(static_cast<int>(report.status), report.text);
    }
  }
  const std::string a = R"({"id":"a"})";
  const std::string b = R"({"id":"b"})";
  EXPECT_THAT(reports, ElementsAreArray(std::vector<std::pair<int, std::string>>{
                           {1, ""}, {4, a}, {4, a}, {4, a}, {7, a}, {4, b}, {6, b}, {8, b}, {10, b}, {2, ""}}));
  EXPECT_EQ(h.FileRequests("a.exe").size(), 3u);
  EXPECT_EQ(CountOf(capture, "Handling Download Valiable Failed - try again.\r\n"), 2);
  const auto installs = h.workers->Installs();
  ASSERT_EQ(installs.size(), 1u);
  EXPECT_EQ(installs[0].step.install_data.Name, "b.exe");
  EXPECT_TRUE(h.Controller().Succeeded());
  EXPECT_THAT(h.dialogs.errors, IsEmpty());
}

// A product without an id shares its empty id with the host's Finish step: dropping it must keep that step,
// or the run would never end.
TEST(HostModeTest, DroppingAProductWithoutIdKeepsTheFinishStep) {
  ControllerHarness h(HostRun());
  h.service->AddFault({{"path", "/files/a.exe"}, {"status", 503}});
  Json item = SetupProgramItem("a", "a.exe", h.Publish("a.exe", "MZ a"));
  item.erase("id");
  h.Start();
  ASSERT_TRUE(h.PumpUntil([&] { return !h.Host().Reports().empty(); }));
  h.SendHostCommand(app::host_command::kInstallProducts, Json::array({item}).dump());
  h.SendHostCommand(app::host_command::kFinish, "");
  EXPECT_EQ(h.RunToEnd(), 0);
  EXPECT_EQ(h.FileRequests("a.exe").size(), 3u);
  EXPECT_TRUE(h.workers->Installs().empty());
  ASSERT_FALSE(h.Host().Reports().empty());
  EXPECT_EQ(h.Host().Reports().back().status, static_cast<std::uint64_t>(app::host_status::kRunEnding));
}

// ---------------------------------------------------------------------------------------------------------
// The configuration from the account service

TEST(ConfigurationTest, ASilentRunBuildsItsPlanFromTheServedConfiguration) {
  ControllerHarness h(SilentRun());
  const std::string url = h.Publish("a.exe", "MZ a");
  h.service->AddFile("configs/uqe9137.ini", "[setup]\r\nproductionname=Orvo Suite\r\ninstallfolder=Suite\r\n\r\n"
                                            "[action_a]\r\nid=a\r\nfilename=a.exe\r\nurl=" +
                                                url +
                                                "\r\nuninstallid=A\r\ndisplayname=Product a\r\nmainfile=a.exe\r\n");
  h.Start();
  h.PressInstallNow();
  EXPECT_EQ(h.RunToEnd(), 0);
  const auto fetched = h.service->RequestsTo("/api/install/uqe9137");
  ASSERT_EQ(fetched.size(), 1u);
  EXPECT_EQ(fetched[0].value("query", ""), "arch=x64&instver=2.0.1.46");
  EXPECT_EQ(h.Controller().ConfigPath(), h.WorkPath("OrvoInstaller.ini"));
  EXPECT_EQ(h.Controller().Suite().productName, "Orvo Suite");
  const auto installs = h.workers->Installs();
  ASSERT_EQ(installs.size(), 1u);
  EXPECT_EQ(installs[0].install_folder, h.Controller().InstallFolder());
  EXPECT_THAT(h.Controller().InstallFolder(), HasSubstr("\\Suite"));
  EXPECT_TRUE(h.Controller().Succeeded());
  // The suite's name, not the "Orvo Installer" the string cache puts into 347.
  EXPECT_EQ(h.view.model.MessageLink(),
            "Please wait while Orvo Installer is downloading and installing Orvo Suite, this may take several minutes.");
}

TEST(ConfigurationTest, AnUnknownInstallerIdOffersCancelOnlyAndShowsTheFailurePage) {
  ControllerHarness h;  // no configs/uqe9137.ini: 404
  h.Start();
  log::ScopedCapture capture;
  h.PressInstallNow();
  ASSERT_TRUE(h.PumpUntil([&] { return OnPage(h, page::kFailureOrReport); }));
  ASSERT_EQ(h.dialogs.errors.size(), 1u);
  EXPECT_EQ(h.dialogs.errors[0].request.message,
            "There was a problem initiating the download. Please make sure you are connected to the internet.");
  EXPECT_FALSE(h.dialogs.errors[0].request.retry_offered);
  EXPECT_TRUE(capture.Contains("Ini Error - User skip"));
  EXPECT_EQ(h.Controller().ConfigRetryCount(), 0);
}

}  // namespace
}  // namespace orvo::flow::test
