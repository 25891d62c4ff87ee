// The web API client against the local account service, reached as host 127.0.0.1 on port 443 (the
// connect-to override leads that port to the service) over verified TLS.
#include "net/web_api.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/log.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/account_service.h"
#include "support/scoped_env.h"
#include "support/test_root.h"

namespace orvo::net {
namespace {

using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::StartsWith;

using test::ScopedEnv;

std::string HeaderOf(const nlohmann::json& request, const std::string& name) {
  const nlohmann::json headers = request.value("headers", nlohmann::json::object());
  for (const auto& [key, value] : headers.items()) {
    if (platform::EqualsNoCase(key, name)) return value.get<std::string>();
  }
  return "";
}

std::string ConnectTo(std::uint16_t port) { return "127.0.0.1:443:127.0.0.1:" + std::to_string(port); }

class WebApiTest : public ::testing::Test {
 protected:
  explicit WebApiTest(const std::string& profile_json = "") : root_(profile_json) {}

  void SetUp() override {
    service_ = test::AccountService::Start({.tls = true});
    ASSERT_NE(service_, nullptr);
    trust_ = std::make_unique<ScopedEnv>("ORVO_CA_BUNDLE", service_->CaFile().string());
    route_ = std::make_unique<ScopedEnv>("ORVO_CONNECT_TO", ConnectTo(service_->Port()));
  }

  bool Get(const std::string& url, std::string* body) {
    std::string headers;
    return WebAPIHelper::Request(url, "", &headers, body);
  }

  test::TestRoot root_;
  std::unique_ptr<test::AccountService> service_;
  std::unique_ptr<ScopedEnv> trust_;
  std::unique_ptr<ScopedEnv> route_;
  log::ScopedCapture log_;
};

TEST_F(WebApiTest, AGetAppendsTheBodyAndSendsTheDefaults) {
  const std::string json = "{\"download_retry_numbers\":3,\"download_retry_interval\":10}";
  service_->AddFile("files/general.json", json);
  std::string headers;
  std::string body = "earlier:";

  EXPECT_TRUE(WebAPIHelper::Request("https://127.0.0.1/files/general.json", "", &headers, &body));

  EXPECT_EQ(body, "earlier:" + json);
  EXPECT_THAT(headers, StartsWith("HTTP/1.1 200"));
  EXPECT_NE(headers.find("\r\n\r\n"), std::string::npos);
  EXPECT_EQ(WebAPIHelper::LastStatusCode(), 200u);
  EXPECT_EQ(WebAPIHelper::LastErrorCode(), 0u);
  const std::vector<nlohmann::json> seen = service_->RequestsTo("/files/general.json");
  ASSERT_THAT(seen, SizeIs(1));
  EXPECT_EQ(seen[0].value("method", ""), "GET");
  EXPECT_EQ(HeaderOf(seen[0], "Content-Type"), "application/json");
  EXPECT_EQ(HeaderOf(seen[0], "User-Agent"), "Orvo/1.0");
  EXPECT_EQ(seen[0].value("body_size", 1u), 0u);
}

TEST_F(WebApiTest, APostSendsTheBodyAndTheExtraHeadersInsteadOfTheDefault) {
  const std::string payload = "{\"stat\":\"QUJD\"}";
  std::string body;

  WebAPIHelper::Request("https://127.0.0.1/api/stat", payload, nullptr, &body, "POST",
                        "Content-Type: text/plain\r\nX-Orvo-Test: 1");

  const std::vector<nlohmann::json> seen = service_->RequestsTo("/api/stat");
  ASSERT_THAT(seen, SizeIs(1));
  EXPECT_EQ(seen[0].value("method", ""), "POST");
  EXPECT_EQ(seen[0].value("body_size", 0u), payload.size());
  EXPECT_EQ(HeaderOf(seen[0], "Content-Type"), "text/plain");
  EXPECT_EQ(HeaderOf(seen[0], "X-Orvo-Test"), "1");
  EXPECT_EQ(HeaderOf(seen[0], "Content-Length"), std::to_string(payload.size()));

  WebAPIHelper::Request("https://127.0.0.1/api/stat", "", nullptr, &body, "POST");
  ASSERT_THAT(service_->RequestsTo("/api/stat"), SizeIs(2));
  EXPECT_EQ(HeaderOf(service_->RequestsTo("/api/stat")[1], "Content-Length"), "0");
}

TEST_F(WebApiTest, TheUrlsPortIsIgnoredAndItsQueryKept) {
  service_->AddFile("files/general.json", "{}");
  std::string body;

  // Only port 443 leads to the service; 8443 would reach nothing.
  EXPECT_TRUE(Get("https://127.0.0.1:8443/files/general.json?instver=2.0.1.46&test=2", &body));

  EXPECT_EQ(body, "{}");
  const std::vector<nlohmann::json> seen = service_->RequestsTo("/files/general.json");
  ASSERT_THAT(seen, SizeIs(1));
  EXPECT_EQ(seen[0].value("query", ""), "instver=2.0.1.46&test=2");
}

TEST_F(WebApiTest, AClientErrorIsReadLikeAnyAnswer) {
  service_->AddFault({{"path", "/api/update/check"}, {"status", 404}});
  std::string body = "earlier:";

  EXPECT_TRUE(Get("https://127.0.0.1/api/update/check", &body));

  EXPECT_EQ(WebAPIHelper::LastStatusCode(), 404u);
  EXPECT_EQ(body, "earlier:Injected status 404\n");
}

TEST_F(WebApiTest, AServerErrorFailsWithoutReadingTheBody) {
  service_->AddFault({{"path", "/api/setting/general"}, {"status", 503}});
  std::string headers = "untouched";
  std::string body = "untouched";

  EXPECT_FALSE(WebAPIHelper::Request("https://127.0.0.1/api/setting/general", "", &headers, &body));

  EXPECT_EQ(WebAPIHelper::LastStatusCode(), 503u);
  EXPECT_EQ(body, "untouched");
  EXPECT_EQ(headers, "untouched");
  EXPECT_TRUE(log_.Contains(log::Level::kError, "Server error responses, dwStatusCode:503"));
  EXPECT_TRUE(
      log_.Contains(log::Level::kError, "WebAPIHelper::Request Error occurred, LastErrorCode:0, dwStatusCode:503"));
}

TEST_F(WebApiTest, AUrlThatCannotBeCrackedFailsBeforeAnyRequest) {
  for (const std::string url : {"", "127.0.0.1/api/missing", "https://", "https:///api/missing", "ftp://127.0.0.1/x",
                                "https://127.0.0.1:99999/api/missing", "https://127.0.0.1:44x/api/missing"}) {
    SCOPED_TRACE(url);
    std::string body;
    ASSERT_TRUE(Get("https://127.0.0.1/api/missing", &body));  // leaves a status other than 200 behind
    ASSERT_EQ(WebAPIHelper::LastStatusCode(), 404u);

    EXPECT_FALSE(Get(url, &body));

    EXPECT_EQ(WebAPIHelper::LastStatusCode(), 200u);
    EXPECT_EQ(WebAPIHelper::LastErrorCode(), 0u);
    EXPECT_TRUE(log_.Contains(log::Level::kError, "Invalid url: " + url));
  }
  EXPECT_THAT(service_->Requests(), SizeIs(7));  // only the 404 calls arrived
}

TEST_F(WebApiTest, AnUnreachableServerTakesTheErrorPath) {
  const ScopedEnv nowhere("ORVO_CONNECT_TO", ConnectTo(1));  // nothing listens on port 1
  std::string body;

  EXPECT_FALSE(Get("https://127.0.0.1/api/setting/general", &body));

  EXPECT_EQ(WebAPIHelper::LastErrorCode(), platform::http::kErrorInternetCannotConnect);
  EXPECT_EQ(WebAPIHelper::LastStatusCode(), 200u);
  EXPECT_TRUE(log_.Contains(log::Level::kError, "Error 12029 in WinHttpSendRequest"));
  EXPECT_TRUE(
      log_.Contains(log::Level::kError, "WebAPIHelper::Request Error occurred, LastErrorCode:12029, dwStatusCode:200"));
}

TEST_F(WebApiTest, AnUntrustedCertificateFailsWithItsOwnLogLine) {
  const std::unique_ptr<test::AccountService> stranger = test::AccountService::Start({.tls = true});
  ASSERT_NE(stranger, nullptr);
  const ScopedEnv to_stranger("ORVO_CONNECT_TO", ConnectTo(stranger->Port()));
  const std::string url = "https://127.0.0.1/api/setting/general";
  std::string body;

  EXPECT_FALSE(Get(url, &body));

  const std::uint32_t error = WebAPIHelper::LastErrorCode();
  EXPECT_TRUE(platform::http::IsCertificateError(error)) << error;
  bool certificate_line = false;
  for (const auto& entry : log_.Entries()) {
    certificate_line =
        certificate_line || (entry.level == log::Level::kError &&
                             entry.message.rfind("Certificate check failed on access: " + url + ", error: ", 0) == 0);
  }
  EXPECT_TRUE(certificate_line);
  EXPECT_TRUE(log_.Contains(log::Level::kError, "WebAPIHelper::Request Error occurred, LastErrorCode:" +
                                                    std::to_string(error) + ", dwStatusCode:200"));
  EXPECT_THAT(stranger->Requests(), IsEmpty());
}

// Before Windows 8.1 the system's automatic proxy is not used: the user's own setting is applied to the
// root instead, so a proxy in the registry settings decides; from 8.1 on the platform's own applies.
class WebApiProxyTest : public WebApiTest, public ::testing::WithParamInterface<const char*> {
 protected:
  WebApiProxyTest() : WebApiTest(GetParam()) {}
};

TEST_P(WebApiProxyTest, TheRegistryProxyIsAppliedOnlyBeforeWindows81) {
  constexpr const char* kSettings = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  ASSERT_EQ(platform::Reg().CreateKey(platform::Hive::kCurrentUser, kSettings), 0u);
  ASSERT_EQ(platform::Reg().SetDword(platform::Hive::kCurrentUser, kSettings, "ProxyEnable", 1), 0u);
  ASSERT_EQ(platform::Reg().SetString(platform::Hive::kCurrentUser, kSettings, "ProxyServer", "127.0.0.1:1"), 0u);
  service_->AddFile("files/general.json", "{}");
  std::string body;

  const bool answered = Get("https://127.0.0.1/files/general.json", &body);

  const platform::WindowsVersion version = platform::Current().profile.version;
  const bool before_81 = version.major == 6 && version.minor < 3;
  EXPECT_EQ(answered, !before_81);
  EXPECT_THAT(service_->RequestsTo("/files/general.json"), SizeIs(before_81 ? 0 : 1));
}

INSTANTIATE_TEST_SUITE_P(Versions, WebApiProxyTest,
                         ::testing::Values(R"({"windows": {"major": 6, "minor": 1, "build": 7601, "servicePack": 1}})",
                                           R"({"windows": {"major": 6, "minor": 3, "build": 9600}})",
                                           R"({"windows": {"major": 10, "minor": 0}})"));

}  // namespace
}  // namespace orvo::net
