// The main window's request handling against the local account service: resume, 416, drops, missing
// lengths, the curl fallback, certificates and the proxy of a record.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/log.h"
#include "net/request_owner.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "support/account_service.h"
#include "support/scoped_env.h"
#include "support/test_root.h"
#include "system/error_list.h"

namespace orvo::net {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kDone = 0x9007;
constexpr std::uint32_t kFailed = 0x9008;
constexpr char kTarget[] = "C:\\Temp\\component.bin";

struct Posted {
  std::uint32_t id;
  std::uintptr_t wparam;
  bool operator==(const Posted&) const = default;
};

class RecordingView : public RequestOwnerView {
 public:
  std::vector<int> progress;
  std::vector<int> host_percent;
  void SetProgress(int percent) override { progress.push_back(percent); }
  void ReportDownloadPercent(int percent) override { host_percent.push_back(percent); }
};

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + 7) % 256);
  return bytes;
}

class OwnerTest : public ::testing::Test {
 protected:
  explicit OwnerTest(bool tls = false) : service_(test::AccountService::Start({.tls = tls})) {}

  void SetUp() override {
    ASSERT_TRUE(service_);
    ASSERT_EQ(platform::fs::CreateFolder("C:\\Temp"), 0u);
    const char* port = service_->BaseUrl().rfind("https", 0) == 0 ? "443" : "80";
    connect_to_.emplace("ORVO_CONNECT_TO", std::string("127.0.0.1:") + port + ":127.0.0.1:" +
                                               std::to_string(service_->Port()));
    sys::TakeSharedErrors();
  }

  // Starts a component download of the service's file into kTarget, resuming from what is on disk.
  int StartDownload(const std::string& name, std::int64_t resume = 0) {
    FCHttpJob job;
    job.type = kJobComponent;
    job.target_path = kTarget;
    job.success_message = kDone;
    job.failure_message = kFailed;
    job.notify = true;
    job.resume_offset = resume;
    job.file = SharedFile(platform::fs::File::Open(
        kTarget, resume > 0 ? platform::fs::File::Mode::kOpenAlways : platform::fs::File::Mode::kCreateAlways));
    const int id = owner_.StartRequest(owner_.BuildRequestInfo(service_->BaseUrl() + "/files/" + name, job));
    owner_.SetCurrentDownload(id);
    return id;
  }

  // Runs the loop until the owner window got its success or failure message.
  Posted Outcome() {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (posted_.empty() && std::chrono::steady_clock::now() < deadline) loop_.PumpOne(20ms);
    if (posted_.empty()) return {0, 0};
    return posted_.front();
  }

  std::string OnDisk() const { return platform::fs::ReadFile(kTarget).value_or("<missing>"); }

  test::TestRoot root_;
  std::unique_ptr<test::AccountService> service_;
  std::optional<test::ScopedEnv> connect_to_;
  test::ScopedEnv no_proxy_{"http_proxy", std::nullopt};
  test::ScopedEnv no_tls_proxy_{"https_proxy", std::nullopt};
  platform::MessageLoop loop_;
  std::vector<Posted> posted_;
  platform::WindowHandle window_ = loop_.CreateWindow([this](const platform::Message& message) -> std::intptr_t {
    if (message.id == platform::kWmTimer && message.wparam == kProgressTimer) {
      owner_.OnProgressTimer();  // the owner exists by the time the loop runs
    } else if (message.id == kDone || message.id == kFailed) {
      posted_.push_back({message.id, message.wparam});
    }
    return 0;
  });
  RecordingView view_;
  RequestOwner owner_{loop_, window_, view_};
};

TEST_F(OwnerTest, AResumedDownloadAsksForTheRestAndCompletesWith206) {
  const std::string content = Pattern(1500);
  service_->AddFile("files/c.bin", content);
  root_.WriteFile(kTarget, content.substr(0, 1000));
  StartDownload("c.bin", 1000);
  EXPECT_EQ(Outcome(), (Posted{kDone, 0}));
  EXPECT_EQ(OnDisk(), content);
  const auto requests = service_->RequestsTo("/files/c.bin");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["headers"].value("range", ""), "bytes=1000-");
  EXPECT_EQ(requests[0]["status"], 206);
}

TEST_F(OwnerTest, A416DeletesThePartialFileAndReportsTheStatus) {
  const std::string content = Pattern(1500);
  service_->AddFile("files/c.bin", content);
  root_.WriteFile(kTarget, content);
  log::ScopedCapture capture;
  StartDownload("c.bin", 1500);
  EXPECT_EQ(Outcome(), (Posted{kFailed, 416}));
  EXPECT_FALSE(platform::fs::Exists(kTarget));
  EXPECT_EQ(sys::SharedErrors(), std::vector<std::string>{"HttpCode-416"});
  EXPECT_TRUE(capture.Contains(std::string("Delete the temp file: ") + kTarget + ", ret : 1\r\n"));
  EXPECT_TRUE(capture.Contains("Ticket send status:416."));
}

TEST_F(OwnerTest, ADroppedConnectionLeavesAPartialFileThatTheNextAttemptResumes) {
  const std::string content = Pattern(2 << 20);
  service_->AddFile("files/d.bin", content);
  service_->AddFault({{"path", "/files/d.bin"}, {"times", 1}, {"drop_after", 300000}});
  // The second attempt waits before its body, so the progress timer sees the resumed part alone.
  service_->AddFault({{"path", "/files/d.bin"}, {"stall_ms", 400}});
  StartDownload("d.bin");
  EXPECT_EQ(Outcome(), (Posted{kFailed, 200}));
  const std::string partial = OnDisk();
  ASSERT_EQ(partial.size(), 300000u);
  EXPECT_EQ(partial, content.substr(0, 300000));

  posted_.clear();
  StartDownload("d.bin", static_cast<std::int64_t>(partial.size()));
  EXPECT_EQ(Outcome(), (Posted{kDone, 0}));
  EXPECT_TRUE(OnDisk() == content);
  EXPECT_EQ(service_->RequestsTo("/files/d.bin").back()["headers"].value("range", ""), "bytes=300000-");
  // (300000 + 0) * 100 / (1797152 + 300000) is 14 %: the host gets it whole, the bar half of it.
  EXPECT_NE(std::find(view_.host_percent.begin(), view_.host_percent.end(), 14), view_.host_percent.end());
  EXPECT_NE(std::find(view_.progress.begin(), view_.progress.end(), 7), view_.progress.end());
  for (const int percent : view_.progress) EXPECT_LT(percent, 50);
}

TEST_F(OwnerTest, WithoutAContentLengthOnlyAnEmptyBodySucceeds) {
  struct Case {
    std::string name;
    std::string content;
    Posted expected;
  };
  for (const Case& c : {Case{"full.bin", Pattern(5000), {kFailed, 200}}, Case{"empty.bin", "", {kDone, 0}}}) {
    SCOPED_TRACE(c.name);
    posted_.clear();
    service_->AddFile("files/" + c.name, c.content);
    service_->AddFault({{"path", "/files/" + c.name}, {"no_content_length", true}});
    StartDownload(c.name);
    EXPECT_EQ(Outcome(), c.expected);
  }
}

TEST_F(OwnerTest, AnErrorStatusIsReportedAndListed) {
  service_->AddFile("files/e.bin", "x");
  service_->AddFault({{"path", "/files/e.bin"}, {"status", 503}});
  StartDownload("e.bin");
  EXPECT_EQ(Outcome(), (Posted{kFailed, 503}));
  EXPECT_EQ(sys::SharedErrors(), std::vector<std::string>{"HttpCode-503"});
}

TEST_F(OwnerTest, ASendFailureGoesThroughTheCurlFallback) {
  // Port 80 leads nowhere; the fallback uses the URL's own port.
  test::ScopedEnv closed{"ORVO_CONNECT_TO", "127.0.0.1:80:127.0.0.1:1"};
  const std::string content = Pattern(70000);
  service_->AddFile("files/f.bin", content);
  log::ScopedCapture capture;
  StartDownload("f.bin");
  EXPECT_EQ(Outcome(), (Posted{kDone, 0}));
  EXPECT_EQ(OnDisk(), content);
  EXPECT_TRUE(capture.Contains("Use curl retry! status error:0"));
  EXPECT_TRUE(capture.Contains("Curl retry result:200"));
}

TEST_F(OwnerTest, ThePlainProxyOfTheUserGoesIntoTheRecord) {
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  auto& registry = platform::Reg();
  ASSERT_EQ(registry.CreateKey(platform::Hive::kCurrentUser, key), 0u);
  ASSERT_EQ(registry.SetDword(platform::Hive::kCurrentUser, key, "ProxyEnable", 1), 0u);
  struct Case {
    std::string text;
    std::string host;
    int port;
  };
  for (const Case& c : {Case{"proxy.example:3128", "proxy.example", 3128}, Case{"proxy.example", "proxy.example", 80},
                        Case{"http=a.example:1;https=b.example:2", "b.example", 2}}) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(registry.SetString(platform::Hive::kCurrentUser, key, "ProxyServer", c.text), 0u);
    FCHttpJob job;
    job.resume_offset = 77;
    const FCHttpRequestInfo info = owner_.BuildRequestInfo("https://downloads.example/a.bin", job);
    EXPECT_EQ(info.proxy_host, c.host);
    EXPECT_EQ(info.proxy_port, c.port);
    EXPECT_EQ(info.url, "https://downloads.example/a.bin");
    EXPECT_EQ(info.range_start, 77);
    EXPECT_EQ(info.user_agent, "DUZERAR");
  }
  ASSERT_EQ(registry.SetDword(platform::Hive::kCurrentUser, key, "ProxyEnable", 0), 0u);
  EXPECT_EQ(owner_.BuildRequestInfo("https://downloads.example/a.bin", FCHttpJob{}).proxy_host, "");
}

class TlsOwnerTest : public OwnerTest {
 protected:
  TlsOwnerTest() : OwnerTest(true) {}
};

TEST_F(TlsOwnerTest, TheTestCaIsTrustedThroughTheBundleAndNothingElseIs) {
  const std::string content = Pattern(4096);
  service_->AddFile("files/t.bin", content);
  {
    test::ScopedEnv trusted{"ORVO_CA_BUNDLE", service_->CaFile().string()};
    StartDownload("t.bin");
    EXPECT_EQ(Outcome(), (Posted{kDone, 0}));
    EXPECT_EQ(OnDisk(), content);
  }
  posted_.clear();
  test::ScopedEnv untrusted{"ORVO_CA_BUNDLE", std::nullopt};
  log::ScopedCapture capture;
  StartDownload("t.bin");
  // The certificate fails the first transport and the fallback alike: no byte of the body is taken.
  EXPECT_EQ(Outcome(), (Posted{kFailed, 0}));
  const auto entries = capture.Entries();
  EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const log::ScopedCapture::Entry& entry) {
    return entry.level == log::Level::kError && entry.message.rfind("Certificate of https://127.0.0.1:", 0) == 0;
  }));
  EXPECT_EQ(service_->RequestsTo("/files/t.bin").size(), 1u);
}

}  // namespace
}  // namespace orvo::net
