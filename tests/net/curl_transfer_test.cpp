// The curl fallback against the local account service over verified TLS: exact bytes in the file, the
// permission grant, the redirect limit, unreachable and untrusted servers, and targets that cannot be opened.
#include "net/curl_transfer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/log.h"
#include "net/proxy_discovery.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/account_service.h"
#include "support/scoped_env.h"
#include "support/recording_launcher.h"
#include "support/test_root.h"

namespace orvo::net {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

using test::ScopedEnv;

std::string Bytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 12345;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string HeaderOf(const nlohmann::json& request, const std::string& name) {
  const nlohmann::json headers = request.value("headers", nlohmann::json::object());
  for (const auto& [key, value] : headers.items()) {
    if (platform::EqualsNoCase(key, name)) return value.get<std::string>();
  }
  return "";
}

bool HasMessageStartingWith(const log::ScopedCapture& capture, log::Level level, const std::string& prefix) {
  for (const auto& entry : capture.Entries()) {
    if (entry.level == level && entry.message.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

class CurlTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    launches_ = test::RecordingLauncher::Install();
    service_ = test::AccountService::Start({.tls = true});
    ASSERT_NE(service_, nullptr);
    trust_ = std::make_unique<ScopedEnv>("ORVO_CA_BUNDLE", service_->CaFile().string());
  }

  std::string Url(const std::string& path) const { return service_->BaseUrl() + path; }
  int Fetch(const std::string& url, const std::string& target, const CurlProgress& progress = {}) {
    return CurlTransfer(url, target, "", progress);
  }

  test::TestRoot root_;
  std::shared_ptr<test::RecordingLauncher::Shared> launches_;
  std::unique_ptr<test::AccountService> service_;
  std::unique_ptr<ScopedEnv> trust_;
  log::ScopedCapture log_;
  const std::string target_ = "C:\\ProgramData\\pack.bin";
};

TEST_F(CurlTransferTest, WritesTheExactBodyOverAnOldFileAndGrantsUsersModify) {
  const std::string body = Bytes(300 * 1024);
  service_->AddFile("files/pack.bin", body);
  root_.WriteFile(target_, std::string(400 * 1024, 'x'));  // longer than the body: must be truncated
  std::int64_t last_received = -1;
  std::int64_t last_expected = -1;
  const CurlProgress progress = [&](std::int64_t received, std::int64_t expected) {
    last_received = received;
    last_expected = expected;
    return 0;
  };

  EXPECT_EQ(Fetch(Url("/files/pack.bin"), target_, progress), 200);

  EXPECT_EQ(platform::fs::ReadFile(target_), body);
  EXPECT_EQ(last_received, static_cast<std::int64_t>(body.size()));
  EXPECT_EQ(last_expected, static_cast<std::int64_t>(body.size()));
  EXPECT_TRUE(log_.Contains(log::Level::kInfo, "Succeed on access: " + Url("/files/pack.bin")));

  std::lock_guard lock(launches_->mutex);
  ASSERT_THAT(launches_->requests, SizeIs(1));
  const platform::SpawnRequest& grant = launches_->requests.front();
  EXPECT_TRUE(grant.hidden);
  const std::vector<std::string> arguments = platform::SplitCommandLine(grant.command_line);
  ASSERT_THAT(arguments, SizeIs(5)) << grant.command_line;
  EXPECT_TRUE(platform::EndsWithNoCase(grant.application.empty() ? arguments[0] : grant.application, "icacls.exe"));
  EXPECT_THAT(std::vector<std::string>(arguments.begin() + 1, arguments.end()),
              ElementsAre(target_, "/grant", "Users:M", "/T"));
  EXPECT_EQ(launches_->waits, 0);
}

TEST_F(CurlTransferTest, SendsTheHeaderByKindAndPostsTheBody) {
  service_->AddFile("files/small.txt", "small");
  struct Case {
    int kind;
    const char* header;
  };
  for (const Case& c : {Case{1, "Authorization"}, Case{0, "Referer"}, Case{7, "Referer"}}) {
    SCOPED_TRACE(c.kind);
    EXPECT_EQ(CurlTransfer(Url("/files/small.txt"), target_, "", {}, "value-" + std::to_string(c.kind), c.kind), 200);
    const nlohmann::json request = service_->RequestsTo("/files/small.txt").back();
    EXPECT_EQ(HeaderOf(request, c.header), "value-" + std::to_string(c.kind));
    EXPECT_EQ(HeaderOf(request, c.kind == 1 ? "Referer" : "Authorization"), "");
  }

  const std::string payload = "{\"stat\":\"abc\"}";
  CurlTransfer(Url("/api/stat"), target_, "", {}, "", 0, 1, payload);
  const std::vector<nlohmann::json> posts = service_->RequestsTo("/api/stat");
  ASSERT_THAT(posts, SizeIs(1));
  EXPECT_EQ(posts[0].value("method", ""), "POST");
  EXPECT_EQ(posts[0].value("body_size", 0u), payload.size());
}

TEST_F(CurlTransferTest, AServerThatAlwaysRedirectsIsAskedElevenTimesAndGives302) {
  service_->AddFault({{"path", "/files/loop.bin"}, {"redirect_loop", true}});

  EXPECT_EQ(Fetch(Url("/files/loop.bin"), target_), 302);

  EXPECT_THAT(service_->RequestsTo("/files/loop.bin"), SizeIs(11));
  EXPECT_TRUE(
      HasMessageStartingWith(log_, log::Level::kInfo, "RedirectTimes:10, RedirectURL: " + Url("/files/loop.bin")));
  EXPECT_FALSE(HasMessageStartingWith(log_, log::Level::kInfo, "RedirectTimes:11,"));
  EXPECT_TRUE(HasMessageStartingWith(log_, log::Level::kError,
                                     "Failed on access: " + Url("/files/loop.bin") + ", status error:302, error: "));
  // The redirects' own bodies never reach the file.
  EXPECT_EQ(platform::fs::ReadFile(target_), "");
}

TEST_F(CurlTransferTest, ARedirectIsFollowedAndOnlyTheFinalBodyIsWritten) {
  const std::string body = Bytes(20 * 1024);
  service_->AddFile("files/pack.bin", body);
  service_->AddFault({{"path", "/files/pack.bin"}, {"redirect_loop", true}, {"times", 1}});

  EXPECT_EQ(Fetch(Url("/files/pack.bin"), target_), 200);

  EXPECT_THAT(service_->RequestsTo("/files/pack.bin"), SizeIs(2));
  EXPECT_EQ(platform::fs::ReadFile(target_), body);
  EXPECT_TRUE(log_.Contains(log::Level::kInfo,
                            "RedirectTimes:1, RedirectURL: " + Url("/files/pack.bin") + ", RedirectResponescode: 200"));
  EXPECT_TRUE(log_.Contains(log::Level::kInfo, "Succeed on access: " + Url("/files/pack.bin")));
}

TEST_F(CurlTransferTest, AnUnreachableServerGivesZeroAndTheCurlErrorText) {
  const std::string url = "https://127.0.0.1:1/files/pack.bin";  // nothing listens on port 1

  EXPECT_EQ(Fetch(url, target_), 0);

  EXPECT_TRUE(log_.Contains(
      log::Level::kError, "Failed on access: " + url + ", status error:0, error: Couldn't connect to server, res: 7"));
}

TEST_F(CurlTransferTest, ATargetThatCannotBeOpenedStillTransfersAndDropsTheBody) {
  service_->AddFile("files/pack.bin", "payload");
  const std::string target = "C:\\No Such Folder\\pack.bin";

  EXPECT_EQ(Fetch(Url("/files/pack.bin"), target), 200);

  EXPECT_THAT(service_->RequestsTo("/files/pack.bin"), SizeIs(1));
  EXPECT_FALSE(platform::fs::Exists(target));
  std::lock_guard lock(launches_->mutex);
  EXPECT_THAT(launches_->requests, IsEmpty());  // nothing to grant
}

TEST_F(CurlTransferTest, AProgressCallbackThatRefusesAbortsTheTransfer) {
  service_->AddFile("files/pack.bin", Bytes(64 * 1024));

  Fetch(Url("/files/pack.bin"), target_, [](std::int64_t, std::int64_t) { return 1; });

  bool aborted = false;
  for (const auto& entry : log_.Entries()) {
    aborted = aborted || (entry.message.rfind("Failed on access: " + Url("/files/pack.bin"), 0) == 0 &&
                          platform::EndsWithNoCase(entry.message, ", res: 42"));
  }
  EXPECT_TRUE(aborted);
  EXPECT_NE(platform::fs::ReadFile(target_).value_or(""), Bytes(64 * 1024));
}

TEST_F(CurlTransferTest, TheSystemProxyIsUsedForItsSchemeOnly) {
  service_->AddFile("files/pack.bin", "payload");
  struct Case {
    const char* proxy_text;
    int status;
  };
  // Nothing listens on port 1: a transfer that goes through that proxy cannot connect.
  for (const Case& c : {Case{"https=127.0.0.1:1", 0}, Case{"127.0.0.1:1", 0}, Case{"http=127.0.0.1:1", 200},
                        Case{"socks=127.0.0.1:1", 200}}) {
    SCOPED_TRACE(c.proxy_text);
    SetSystemProxyText(c.proxy_text);
    EXPECT_EQ(Fetch(Url("/files/pack.bin"), target_), c.status);
  }
  SetSystemProxyText("");
}

TEST_F(CurlTransferTest, AnUntrustedCertificateFailsWithItsOwnLogLine) {
  const std::unique_ptr<test::AccountService> stranger = test::AccountService::Start({.tls = true});
  ASSERT_NE(stranger, nullptr);
  stranger->AddFile("files/pack.bin", "payload");
  const std::string url = stranger->BaseUrl() + "/files/pack.bin";

  EXPECT_EQ(Fetch(url, target_), 0);

  EXPECT_TRUE(
      HasMessageStartingWith(log_, log::Level::kError, "Certificate check failed on access: " + url + ", error: "));
  EXPECT_TRUE(
      HasMessageStartingWith(log_, log::Level::kError, "Failed on access: " + url + ", status error:0, error: "));
  EXPECT_THAT(stranger->RequestsTo("/files/pack.bin"), IsEmpty());
  EXPECT_EQ(platform::fs::ReadFile(target_), "");
}

}  // namespace
}  // namespace orvo::net
