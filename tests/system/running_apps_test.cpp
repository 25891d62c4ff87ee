// The running suite applications: the company test of a process, the scan, the quit switches with their
// version thresholds, the termination, and the decision logic of the close-applications prompt.
#include "system/running_apps.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/log.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/pe_builder.h"
#include "support/recording_launcher.h"
#include "support/test_root.h"

namespace orvo::sys {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

constexpr const char* kFolder = R"(C:\Program Files (x86)\Orvo\)";

// A process table of our own making.
class FakeProcesses : public ProcessAccess {
 public:
  struct Entry {
    std::uint32_t id;
    std::string name;
    std::string path;
  };
  std::vector<Entry> entries;
  std::vector<std::uint32_t> terminated;

  std::vector<std::uint32_t> ProcessIds() override {
    std::vector<std::uint32_t> ids;
    for (const Entry& entry : entries) ids.push_back(entry.id);
    return ids;
  }
  std::string BaseName(std::uint32_t id) override {
    const Entry* entry = Find(id);
    return entry ? entry->name : std::string();
  }
  std::string ImagePath(std::uint32_t id) override {
    const Entry* entry = Find(id);
    return entry ? entry->path : std::string();
  }
  bool Terminate(std::uint32_t id, std::uint32_t exit_code, std::uint32_t wait_ms) override {
    EXPECT_EQ(exit_code, 0u);
    EXPECT_EQ(wait_ms, kTerminateWaitMs);
    terminated.push_back(id);
    std::erase_if(entries, [&](const Entry& entry) { return entry.id == id; });
    return true;
  }

 private:
  const Entry* Find(std::uint32_t id) const {
    for (const Entry& entry : entries) {
      if (entry.id == id) return &entry;
    }
    return nullptr;
  }
};

class RunningAppsTest : public ::testing::Test {
 protected:
  RunningAppsTest() : launcher_(test::RecordingLauncher::Install()) {}

  // A program file with a version resource of one string table.
  std::string Program(const std::string& file, const std::string& company, test::PeVersion version = {1, 0, 0, 0},
                      const std::string& language = "040904b0") {
    test::PeImageOptions options;
    test::PeVersionResource resource;
    resource.file_version = version;
    resource.string_tables = {test::PeStringTable{language, {{"CompanyName", company}, {"FileVersion", "1.0"}}}};
    options.version = resource;
    const std::string path = kFolder + file;
    root_.WriteFile(path, test::BuildPeImage(options).bytes);
    return path;
  }
  std::vector<std::string> DebugMessages() const {
    std::vector<std::string> messages;
    for (const auto& entry : capture_.Entries()) {
      if (entry.level == log::Level::kDebug) messages.push_back(entry.message);
    }
    return messages;
  }

  test::TestRoot root_;
  std::shared_ptr<test::RecordingLauncher::Shared> launcher_;
  log::ScopedCapture capture_;
  FakeProcesses processes_;
};

TEST(KnownExecutables, FortyDistinctNamesWithTheQuitSwitchApplicationsAndWithoutTheInstaller) {
  const std::vector<std::string>& names = KnownExecutables();
  std::set<std::string> folded;
  for (const std::string& name : names) folded.insert(platform::FoldCase(name));
  EXPECT_EQ(names.size(), 40u);
  EXPECT_EQ(folded.size(), names.size()) << "a name is listed twice";
  for (const char* name : {"SHOWCASE.EXE", "VIEWFINDER.EXE", "SAVEBOX.EXE", "DISKLINE.EXE", "SHUTTLE.EXE"}) {
    EXPECT_TRUE(folded.count(name)) << name;
  }
  EXPECT_FALSE(folded.count("ORVOINSTALLER.EXE"));
}

TEST_F(RunningAppsTest, ScanListsKnownProcessesWhoseCompanyTextNamesOrvo) {
  const std::string showcase = Program("Showcase.exe", "Orvo AG");
  processes_.entries = {
      {10, "Showcase.exe", showcase},
      {11, "savebox.exe", Program("Savebox.exe", "orvo ag")},  // both compared without regard to case
      {12, "Viewfinder.exe", Program("Viewfinder.exe", "Other Corp")},
      {13, "notepad.exe", Program("notepad.exe", "Orvo AG")},  // not a known executable
      {14, "Diskline.exe", ""},                                 // image path unreadable
      {15, "Shuttle.exe", kFolder + std::string("plain.txt")},  // no version resource
      {16, "Showcase.exe", showcase},                           // a second instance
      {17, "", showcase},                                       // module list unreadable
  };
  root_.WriteFile(kFolder + std::string("plain.txt"), "text");
  RunningAppList list(processes_);
  list.FindRunningApplications();
  EXPECT_THAT(list.Found(), ElementsAre("Showcase.exe", "savebox.exe", "Showcase.exe"));
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Name(1), "savebox.exe");
  EXPECT_EQ(list.Name(3), "");
  EXPECT_THAT(DebugMessages(), ElementsAre("Check is Orvo application failed: Viewfinder.exe",
                                           "Check is Orvo application failed: Diskline.exe",
                                           "Check is Orvo application failed: Shuttle.exe"));
  // Every scan starts from an empty list.
  processes_.entries.clear();
  list.FindRunningApplications();
  EXPECT_THAT(list.Found(), IsEmpty());
}

TEST_F(RunningAppsTest, CompanyTextIsReadFromTheRawBytesAndFromTheNamedLanguageBlocks) {
  const auto suite = [&](const std::vector<test::PeStringTable>& tables) {
    test::PeImageOptions options;
    test::PeVersionResource resource;
    resource.string_tables = tables;
    options.version = resource;
    root_.WriteFile(kFolder + std::string("Savebox.exe"), test::BuildPeImage(options).bytes);
    processes_.entries = {{20, "Savebox.exe", kFolder + std::string("Savebox.exe")}};
    return RunningAppList(processes_).IsSuiteApplication(20, "Savebox.exe");
  };
  // The raw bytes give the first seven characters of the first company value, whatever its language.
  EXPECT_TRUE(suite({{"041104b0", {{"CompanyName", "Orvo AG"}}}}));
  EXPECT_FALSE(suite({{"041104b0", {{"CompanyName", "The Orvo Company"}}}}));
  // The named blocks give the whole value, the first non-empty one in their order.
  EXPECT_TRUE(suite({{"040904b0", {{"CompanyName", "The Orvo Company"}}}}));
  EXPECT_TRUE(suite({{"040904b0", {{"CompanyName", "Other Corporation"}}}, {"040704b0", {{"CompanyName", "Die Orvo GmbH"}}}}));
  EXPECT_TRUE(suite({{"040904b0", {{"CompanyName", ""}}}, {"040C04b0", {{"CompanyName", "La Orvo SA"}}}}));
  EXPECT_FALSE(suite({{"040904b0", {{"ProductName", "Orvo Savebox"}}}}));
}

TEST(CompanyText, DamagedResourcesAreReadWithinTheirBounds) {
  test::PeImageOptions options;
  options.version->string_tables = {test::PeStringTable{"040904b0", {{"CompanyName", "Orvo AG"}}}};
  const test::PeImage image = test::BuildPeImage(options);
  const std::string_view resource = FindVersionResource(image.bytes);
  ASSERT_FALSE(resource.empty());
  EXPECT_EQ(RawCompanyText(resource), "Orvo AG");
  EXPECT_EQ(QueryCompanyName(resource), "Orvo AG");
  // Cut inside the company value: the raw text ends with the bytes, the tree no longer parses.
  const std::size_t value = image.layout.first_string - image.layout.resource_data + 32;
  const std::string cut(resource.substr(0, value + 4));
  EXPECT_EQ(RawCompanyText(cut), "Or");
  EXPECT_EQ(QueryCompanyName(cut), "");
  EXPECT_EQ(RawCompanyText(resource.substr(0, value - 10)), "");
  EXPECT_TRUE(FindVersionResource(image.bytes.substr(0, image.layout.resource_data + 40)).empty());
  EXPECT_TRUE(FindVersionResource("MZ no resource").empty());
}

TEST_F(RunningAppsTest, QuitSwitchesFollowTheVersionThresholds) {
  const struct {
    const char* file;
    test::PeVersion version;
    const char* expected_switch;  // null: not asked to quit
  } cases[] = {
      {"Showcase.exe", {3, 8, 0, 15}, " /stopMediaServer"}, {"Showcase.exe", {3, 8, 1, 14}, nullptr},
      {"Showcase.exe", {3, 8, 2, 0}, " /stopMediaServer"},  {"Showcase.exe", {3, 9, 0, 0}, " /stopMediaServer"},
      {"Showcase.exe", {4, 0, 0, 0}, " /stopMediaServer"},  {"Showcase.exe", {3, 7, 9, 99}, nullptr},
      {"Viewfinder.exe", {3, 8, 0, 15}, " /stop"},          {"Viewfinder.exe", {2, 0, 0, 0}, nullptr},
      {"Savebox.exe", {19, 2, 0, 9}, " /stop"},             {"Savebox.exe", {19, 2, 3, 8}, nullptr},
      {"Savebox.exe", {19, 2, 4, 0}, " /stop"},             {"Savebox.exe", {19, 3, 0, 0}, " /stop"},
      {"Savebox.exe", {20, 0, 0, 0}, " /stop"},             {"Savebox.exe", {18, 9, 9, 9}, nullptr},
      {"Diskline.exe", {0, 0, 0, 1}, " /stop"},             {"OrvoStart.exe", {99, 0, 0, 0}, nullptr},
  };
  for (const auto& c : cases) {
    const std::string path = Program(c.file, "Orvo AG", c.version);
    processes_.entries = {{30, platform::ToLowerAscii(c.file), path}};
    launcher_->requests.clear();
    log::ScopedCapture capture;
    RunningAppList(processes_).SendStopCommands();
    const std::string label = std::string(c.file) + " " + std::to_string(c.version[0]) + "." +
                              std::to_string(c.version[1]) + "." + std::to_string(c.version[2]) + "." +
                              std::to_string(c.version[3]);
    if (c.expected_switch == nullptr) {
      EXPECT_THAT(launcher_->requests, IsEmpty()) << label;
      continue;
    }
    ASSERT_EQ(launcher_->requests.size(), 1u) << label;
    // The path as it is, unquoted, and named as the program so that its blanks cannot mislead the start.
    EXPECT_EQ(launcher_->requests[0].command_line, path + c.expected_switch) << label;
    EXPECT_EQ(launcher_->requests[0].application, path) << label;
    EXPECT_TRUE(capture.Contains(log::Level::kDebug, "Exit Orvo Application = " + path + c.expected_switch)) << label;
  }
}

TEST_F(RunningAppsTest, TransferApplicationIsRecognisedByItsPathAndOthersNeedAReadableVersion) {
  processes_.entries = {
      {40, "x.exe", R"(C:\Apps\Orvo\SHUTTLE.EXE)"},       // no file needed, no version read
      {41, "Shuttle.exe", "Shuttle.exe"},                  // only the name: not longer than it
      {42, "Diskline.exe", kFolder + std::string("Diskline.exe")},  // file missing: no version
      {43, "Showcase.exe", ""},                            // no image path
  };
  RunningAppList(processes_).SendStopCommands();
  ASSERT_EQ(launcher_->requests.size(), 1u);
  EXPECT_EQ(launcher_->requests[0].command_line, R"(C:\Apps\Orvo\SHUTTLE.EXE /stop)");
}

TEST_F(RunningAppsTest, TerminationEndsEverySuiteProcessButNeverTheInstaller) {
  const std::string showcase = Program("Showcase.exe", "Orvo AG");
  const std::uint32_t self = platform::CurrentProcessId();
  processes_.entries = {
      {50, "Showcase.exe", showcase},
      {51, "Viewfinder.exe", Program("Viewfinder.exe", "Other Corp")},
      {52, "Showcase.exe", showcase},
      {self, "Showcase.exe", showcase},
  };
  RunningAppList(processes_).TerminateSuiteApplications();
  EXPECT_THAT(processes_.terminated, ElementsAre(50u, 52u));
  EXPECT_THAT(DebugMessages(), ElementsAre("Terminal Orvo Application = Showcase.exe",
                                           "Check is Orvo application failed: Viewfinder.exe",
                                           "Terminal Orvo Application = Showcase.exe"));
}

// ---- the close-applications prompt -----------------------------------------------------------------

class ScriptedPrompt : public CloseApplicationsPrompt {
 public:
  std::vector<CloseChoice> answers;
  std::vector<std::vector<std::string>> shown;
  std::function<void()> on_ask;  // what the user does meanwhile
  int closed = 0;

  CloseChoice Ask(const std::vector<std::string>& applications) override {
    shown.push_back(applications);
    if (on_ask) on_ask();
    if (shown.size() > answers.size()) return CloseChoice::kCancel;
    return answers[shown.size() - 1];
  }
  void Close() override { ++closed; }
};

class ClosePromptTest : public RunningAppsTest {
 protected:
  ClosePromptTest() {
    const std::string showcase = Program("Showcase.exe", "Orvo AG", {3, 8, 0, 15});
    processes_.entries = {{60, "Showcase.exe", showcase}, {61, "Savebox.exe", Program("Savebox.exe", "Orvo AG")}};
  }
  ScriptedPrompt prompt_;
};

TEST_F(ClosePromptTest, NothingRunningGoesOnWithoutAsking) {
  processes_.entries.clear();
  RunningAppList list(processes_);
  const ClosePromptResult result = RunCloseApplicationsPrompt(list, prompt_);
  EXPECT_EQ(result.result, kPromptGoOn);
  EXPECT_FALSE(result.automatic);
  EXPECT_THAT(prompt_.shown, IsEmpty());
  EXPECT_EQ(prompt_.closed, 0);
  EXPECT_TRUE(CheckRunningApplications(prompt_, processes_));
  EXPECT_THAT(launcher_->requests, IsEmpty());
}

TEST_F(ClosePromptTest, AutomaticClosingAsksToQuitAndThenTerminates) {
  prompt_.answers = {CloseChoice::kCloseAutomatically};
  EXPECT_TRUE(CheckRunningApplications(prompt_, processes_));
  EXPECT_THAT(prompt_.shown, ElementsAre(ElementsAre("Showcase.exe", "Savebox.exe")));
  EXPECT_EQ(prompt_.closed, 1);
  ASSERT_EQ(launcher_->requests.size(), 1u);
  EXPECT_EQ(launcher_->requests[0].command_line, kFolder + std::string("Showcase.exe /stopMediaServer"));
  EXPECT_THAT(processes_.terminated, UnorderedElementsAre(60u, 61u));
}

TEST_F(ClosePromptTest, ManualClosingScansAgainAndStaysOpenWhileApplicationsRun) {
  prompt_.answers = {CloseChoice::kClosedManually, CloseChoice::kClosedManually};
  // The user closes one application before the first OK and the other before the second.
  prompt_.on_ask = [&] { processes_.entries.erase(processes_.entries.begin()); };
  RunningAppList list(processes_);
  const ClosePromptResult result = RunCloseApplicationsPrompt(list, prompt_);
  EXPECT_EQ(result.result, kPromptGoOn);
  EXPECT_FALSE(result.automatic);
  EXPECT_THAT(prompt_.shown, ElementsAre(ElementsAre("Showcase.exe", "Savebox.exe"), ElementsAre("Savebox.exe")));
  EXPECT_EQ(prompt_.closed, 1);
  EXPECT_THAT(processes_.terminated, IsEmpty());
}

TEST_F(ClosePromptTest, CancelStopsTheInstallationAndLeavesTheApplicationsAlone) {
  prompt_.answers = {CloseChoice::kClosedManually, CloseChoice::kCancel};
  RunningAppList list(processes_);
  EXPECT_EQ(RunCloseApplicationsPrompt(list, prompt_).result, kPromptCancelled);
  EXPECT_EQ(prompt_.shown.size(), 2u);
  EXPECT_EQ(prompt_.closed, 1);

  ScriptedPrompt cancel;
  cancel.answers = {CloseChoice::kCancel};
  EXPECT_FALSE(CheckRunningApplications(cancel, processes_));
  EXPECT_THAT(processes_.terminated, IsEmpty());
  EXPECT_THAT(launcher_->requests, IsEmpty());
}

TEST(SystemProcesses, SeesThisProcessByItsName) {
  test::TestRoot root;
  ProcessAccess& access = SystemProcesses();
  const std::vector<std::uint32_t> ids = access.ProcessIds();
  EXPECT_LE(ids.size(), kMaxProcessIds);
  EXPECT_NE(std::find(ids.begin(), ids.end(), platform::CurrentProcessId()), ids.end());
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 0u), 0);
  EXPECT_EQ(access.BaseName(platform::CurrentProcessId()), "running_apps_tests");
}

}  // namespace
}  // namespace orvo::sys
