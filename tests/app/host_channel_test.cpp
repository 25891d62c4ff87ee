#include "app/host_channel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/message_loop.h"
#include "support/fake_host.h"
#include "support/test_root.h"

namespace orvo::app {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr platform::WindowHandle kMainWindow = 0x5150000000001234;

using Report = test::HostReport;
using test::FakeHost;

plan::PlanStep Step(const std::string& id) {
  plan::PlanStep step(plan::StepType::PackageDownload);
  step.id = id;
  return step;
}

TEST(HostReportTextTest, CompactJsonInAlphabeticalOrder) {
  struct Case {
    std::string id;
    std::optional<int> progress;
    int error;
    std::string expected;
  };
  const Case cases[] = {
      {"", std::nullopt, 0, ""},
      {"", 42, 1603, ""},
      {"x", 42, 0, R"({"id":"x","progress":42})"},
      {"x", std::nullopt, 1603, R"({"id":"x","installError":1603})"},
      {"x", std::nullopt, 0, R"({"id":"x"})"},
      {"x", 0, 0, R"({"id":"x","progress":0})"},
      {"x", 99, -1, R"({"id":"x","installError":-1,"progress":99})"},
      {"say \"hi\"", std::nullopt, 0, R"({"id":"say \"hi\""})"},
      // Bytes that are not UTF-8 are replaced rather than ending the run.
      {"a\xff", std::nullopt, 0, "{\"id\":\"a\xEF\xBF\xBD\"}"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HostReportText(c.id, c.progress, c.error), c.expected) << c.id;
  }
}

class HostChannelTest : public ::testing::Test {
 protected:
  test::TestRoot root_;
  FakeHost host_;
  HostReporter reporter_{kMainWindow, true, host_.Window()};
};

TEST_F(HostChannelTest, ReportsCarryStatusSenderAndTextOnlyForStepsWithAnId) {
  const plan::PlanStep x = Step("x");
  const plan::PlanStep unnamed = Step("");
  reporter_.ReportToHost(1, nullptr);
  reporter_.ReportToHost(4, &x);
  reporter_.ReportToHost(5, &x, 42);
  reporter_.ReportToHost(6, &x, 42);  // progress belongs to status 5 only
  reporter_.ReportToHost(11, &x, 0, 1603);
  reporter_.ReportToHost(8, &unnamed);
  reporter_.ReportToHost(5, &unnamed, 42);
  EXPECT_THAT(host_.Take(), ElementsAre(Report{1, "", kMainWindow}, Report{4, R"({"id":"x"})", kMainWindow},
                                        Report{5, R"({"id":"x","progress":42})", kMainWindow},
                                        Report{6, R"({"id":"x"})", kMainWindow},
                                        Report{11, R"({"id":"x","installError":1603})", kMainWindow},
                                        Report{8, "", kMainWindow}, Report{5, "", kMainWindow}));
}

TEST_F(HostChannelTest, NoReportsOutsideHostModeOrAfterTheHostWent) {
  const plan::PlanStep x = Step("x");
  HostReporter not_host(kMainWindow, false, host_.Window());
  not_host.ReportToHost(4, &x);
  EXPECT_THAT(host_.Take(), IsEmpty());

  host_.Stop();
  EXPECT_FALSE(platform::WindowExists(host_.Window()));
  reporter_.ReportToHost(4, &x);  // returns at once; the run goes on
  HostReporter no_window(kMainWindow, true, platform::kNoWindow);
  no_window.ReportToHost(4, &x);
}

// Records what the host's commands asked for, in order.
class RecordingSink : public HostCommandSink {
 public:
  std::map<std::string, int> steps_for_list;
  std::vector<std::string> calls;

  void SetInstallFolder(const std::string& folder) override { calls.push_back("folder " + folder); }
  void SetLaunchFile(const std::string& file) override { calls.push_back("launch " + file); }
  void AppendFinishStep() override { calls.push_back("finish"); }
  int AppendInstallProducts(const std::string& list) override {
    calls.push_back("install " + list);
    return steps_for_list[list];
  }
  int AppendUninstallProducts(const std::string& list) override {
    calls.push_back("uninstall " + list);
    return steps_for_list[list];
  }
  void DispatchIfIdle() override { calls.push_back("dispatch"); }
};

TEST_F(HostChannelTest, CommandsRunAndThenDispatch) {
  struct Case {
    std::uint64_t command;
    std::string text;
    std::vector<std::string> calls;
    std::vector<Report> reports;
  };
  const Report nothing_to_do{3, "", kMainWindow};
  const std::vector<Case> cases = {
      {1, R"({"installfolder":"C:\\Apps\\Orvo","launchfile":"run.exe","other":1})",
       {"folder C:\\Apps\\Orvo", "launch run.exe", "dispatch"}, {}},
      {1, R"({"installfolder":"","launchfile":""})", {"launch ", "dispatch"}, {}},
      {1, R"({"installfolder":5,"launchfile":null})", {"dispatch"}, {}},
      {1, "not json", {"dispatch"}, {}},
      {1, R"(["installfolder","C:\\x"])", {"dispatch"}, {}},
      {1, R"("C:\\x")", {"dispatch"}, {}},
      {1, "", {"dispatch"}, {}},
      {2, "ignored", {"finish", "dispatch"}, {}},
      {3, "p1,p2", {"install p1,p2", "dispatch"}, {}},
      {3, "nothing", {"install nothing", "dispatch"}, {nothing_to_do}},
      {4, "p1,p2", {"uninstall p1,p2", "dispatch"}, {}},
      {4, "", {"uninstall ", "dispatch"}, {nothing_to_do}},
      {0, "p1", {}, {}},
      {5, "p1", {}, {}},
  };
  for (const Case& c : cases) {
    RecordingSink sink;
    sink.steps_for_list["p1,p2"] = 2;
    HandleHostCommand(true, platform::CopyData{c.command, c.text}, sink, reporter_);
    EXPECT_EQ(sink.calls, c.calls) << c.command << " " << c.text;
    EXPECT_EQ(host_.Take(), c.reports) << c.command << " " << c.text;
  }
}

TEST_F(HostChannelTest, CommandsDoNothingOutsideHostMode) {
  for (std::uint64_t command = 1; command <= 4; ++command) {
    RecordingSink sink;
    HandleHostCommand(false, platform::CopyData{command, R"({"installfolder":"C:\\x"})"}, sink, reporter_);
    EXPECT_THAT(sink.calls, IsEmpty()) << command;
  }
  EXPECT_THAT(host_.Take(), IsEmpty());
}

}  // namespace
}  // namespace orvo::app
