// The install flow's building blocks: deployment addresses, the configuration address and local file,
// the retry settings against the local account service, and file digests.
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/log.h"
#include "flow/config_source.h"
#include "flow/file_md5.h"
#include "flow/retry_settings.h"
#include "support/account_service.h"
#include "support/scoped_env.h"
#include "support/test_root.h"
#include "system/deployment.h"

namespace orvo::flow {
namespace {

using test::ScopedEnv;

// ---- Deployment values ----

TEST(DeploymentTest, BuiltInAddressesWithoutTheEnvironment) {
  const ScopedEnv account("ORVO_ACCOUNT_SERVICE", std::nullopt);
  const ScopedEnv helpdesk("ORVO_HELPDESK", "");  // empty counts as not set
  const ScopedEnv redirect("ORVO_REDIRECT_SERVICE", std::nullopt);
  EXPECT_EQ(sys::AccountServiceBase(), "https://account.orvo-suite.example");
  EXPECT_EQ(sys::HelpdeskBase(), "https://orvo-suite.example.freshdesk.example");
  EXPECT_EQ(sys::RedirectServiceBase(), "https://go.orvo-suite.example");
}

TEST(DeploymentTest, EnvironmentReplacesThemWithoutTrailingSlash) {
  const ScopedEnv account("ORVO_ACCOUNT_SERVICE", "https://127.0.0.1:8443/");
  const ScopedEnv helpdesk("ORVO_HELPDESK", "https://desk.test");
  const ScopedEnv redirect("ORVO_REDIRECT_SERVICE", "https://go.test//");
  EXPECT_EQ(sys::AccountServiceBase(), "https://127.0.0.1:8443");
  EXPECT_EQ(sys::HelpdeskBase(), "https://desk.test");
  EXPECT_EQ(sys::RedirectServiceBase(), "https://go.test");
}

// ---- Configuration address and local configuration ----

TEST(ConfigSourceTest, ConfigurationAddress) {
  struct Case {
    const char* id;
    bool windows64;
    const char* executable;
    const char* expected;
  };
  const std::string base = "https://account.test";
  const std::vector<Case> cases = {
      {"abc_def", true, "C:\\Down\\OrvoInstaller.exe", "/api/install/abc?arch=x64&instver=2.0.1.46"},
      {"abc_def_ghi", false, "C:\\Down\\OrvoInstaller.exe", "/api/install/abc?instver=2.0.1.46"},
      {"uqe9137", true, "C:\\Down\\OrvoInstaller-testing.exe", "/api/install/uqe9137?arch=x64&instver=2.0.1.46&test=2"},
      {"uqe9137", false, "C:\\Down\\ORVOINSTALLER-TESTING.EXE", "/api/install/uqe9137?instver=2.0.1.46&test=2"},
      {"uqe9137", false, "C:\\Down\\Orvo-Testing.exe.bak", "/api/install/uqe9137?instver=2.0.1.46"},
      {"uqe9137", false, "C:\\Down\\testing.exe", "/api/install/uqe9137?instver=2.0.1.46"},
      {"_abc", true, "C:\\Down\\OrvoInstaller.exe", "/api/install/?arch=x64&instver=2.0.1.46"},
      // An id from the command line cannot add query members or path levels.
      {"a b&test=2/x_y", false, "C:\\Down\\OrvoInstaller.exe", "/api/install/a%20b%26test%3D2%2Fx?instver=2.0.1.46"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id + std::string(" ") + c.executable);
    EXPECT_EQ(ConfigurationAddress(base, c.id, c.windows64, c.executable), base + c.expected);
  }
}

TEST(ConfigSourceTest, FirstIniFileOfTheFolderListing) {
  test::TestRoot root;
  const std::string folder = "C:\\Down\\OrvoInstaller";
  root.WriteFile(folder + "\\a.txt", "x");
  root.WriteFile(folder + "\\a.ini\\inside.txt", "a folder named like a configuration");
  root.WriteFile(folder + "\\c.ini", "[Setup]\n");
  root.WriteFile(folder + "\\b.INI", "[Setup]\n");
  root.WriteFile(folder + "\\deeper\\d.ini", "[Setup]\n");
  EXPECT_EQ(FindLocalConfiguration(folder), folder + "\\b.INI");
}

TEST(ConfigSourceTest, NoLocalConfiguration) {
  test::TestRoot root;
  const std::string folder = "C:\\Down\\OrvoInstaller";
  root.WriteFile(folder + "\\readme.txt", "x");
  root.WriteFile(folder + "\\setupini", "x");
  root.WriteFile(folder + "\\sub\\inner.ini", "[Setup]\n");
  EXPECT_EQ(FindLocalConfiguration(folder), std::nullopt);
  EXPECT_EQ(FindLocalConfiguration("C:\\Down\\Missing"), std::nullopt);
}

// ---- Retry settings ----

class RetrySettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::AccountServiceOptions options;
    options.tls = true;
    service_ = test::AccountService::Start(options);
    ASSERT_NE(service_, nullptr);
    trust_ = std::make_unique<ScopedEnv>("ORVO_CA_BUNDLE", service_->CaFile().string());
    route_ = std::make_unique<ScopedEnv>("ORVO_CONNECT_TO",
                                         "127.0.0.1:443:127.0.0.1:" + std::to_string(service_->Port()));
  }

  test::TestRoot root_;
  std::unique_ptr<test::AccountService> service_;
  std::unique_ptr<ScopedEnv> trust_;
  std::unique_ptr<ScopedEnv> route_;
};

TEST_F(RetrySettingsTest, TakesBothNumbersOnlyWhenBothArePositive) {
  struct Case {
    const char* answer;
    int numbers;
    int interval;
  };
  const RetrySettings defaults{4, 7};
  const std::vector<Case> cases = {
      {R"({"download_retry_numbers": 5, "download_retry_interval": 12.7})", 5, 12},
      {R"({"download_retry_numbers": 2.9, "download_retry_interval": 1, "other": "x"})", 2, 1},
      {R"({"download_retry_numbers": 3, "download_retry_interval": 0})", 4, 7},
      {R"({"download_retry_numbers": 0.5, "download_retry_interval": 9})", 4, 7},
      {R"({"download_retry_numbers": -3, "download_retry_interval": 9})", 4, 7},
      {R"({"download_retry_numbers": 3})", 4, 7},
      {R"({"download_retry_numbers": "5", "download_retry_interval": "12"})", 4, 7},
      {R"({"download_retry_numbers": true, "download_retry_interval": 12})", 4, 7},
      {R"({"download_retry_numbers": 1e20, "download_retry_interval": 12})", 4, 7},
      {R"({"download_retry_numbers": 3, "download_retry_interval": 99999999999})", 4, 7},
      {R"([5, 12])", 4, 7},
      {"5", 4, 7},
      {"not json", 4, 7},
      {"", 4, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    service_->AddFile("settings.json", c.answer);
    const RetrySettings got = FetchRetrySettings(service_->BaseUrl(), defaults);
    EXPECT_EQ(got.numbers, c.numbers);
    EXPECT_EQ(got.interval, c.interval);
  }
  const auto requests = service_->RequestsTo("/api/setting/general");
  ASSERT_EQ(requests.size(), cases.size());
  EXPECT_EQ(requests.front().value("method", ""), "GET");
  EXPECT_EQ(requests.front().value("body_size", -1), 0);
}

TEST_F(RetrySettingsTest, StandardDefaultsWhenTheAnswerHasNone) {
  service_->AddFile("settings.json", R"({"download_retry_numbers": 3, "download_retry_interval": 0})");
  const RetrySettings got = FetchRetrySettings(service_->BaseUrl());
  EXPECT_EQ(got.numbers, 10);
  EXPECT_EQ(got.interval, 30);
}

TEST_F(RetrySettingsTest, FailedRequestKeepsTheDefaultsAndSaysSo) {
  service_->AddFault({{"path", "/api/setting/general"}, {"status", 503}});
  service_->AddFile("settings.json", R"({"download_retry_numbers": 5, "download_retry_interval": 12})");
  const log::ScopedCapture capture;
  const RetrySettings got = FetchRetrySettings(service_->BaseUrl(), {4, 7});
  EXPECT_EQ(got.numbers, 4);
  EXPECT_EQ(got.interval, 7);
  EXPECT_TRUE(capture.Contains(log::Level::kInfo, "Request retry settings false"));
}

TEST_F(RetrySettingsTest, ErrorPageIsNoAnswerButNoFailedRequest) {
  service_->AddFault({{"path", "/api/setting/general"}, {"status", 404}});
  const log::ScopedCapture capture;
  const RetrySettings got = FetchRetrySettings(service_->BaseUrl(), {4, 7});
  EXPECT_EQ(got.numbers, 4);
  EXPECT_EQ(got.interval, 7);
  EXPECT_FALSE(capture.Contains(log::Level::kInfo, "Request retry settings false"));
}

// ---- File MD5 ----

std::string OneShotMd5(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_md5(), nullptr) != 1) return "";
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    text.push_back(kDigits[digest[i] >> 4]);
    text.push_back(kDigits[digest[i] & 0x0f]);
  }
  return text;
}

// Bytes that differ from block to block, so a block hashed twice or skipped changes the digest.
std::string PatternBytes(std::size_t size) {
  std::string bytes(size, '\0');
  unsigned state = 12345;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return bytes;
}

TEST(FileMd5Test, DigestAsLowercaseTextWithACallAfterEachBlock) {
  test::TestRoot root;
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  const std::string big = PatternBytes(3 * kMiB);
  const std::string odd = PatternBytes(kMiB + 5);
  struct Case {
    const char* name;
    std::string bytes;
    std::string expected;
    int blocks;
  };
  const std::vector<Case> cases = {
      {"empty.bin", "", "d41d8cd98f00b204e9800998ecf8427e", 0},
      {"abc.bin", "abc", "900150983cd24fb0d6963f7d28e17f72", 1},
      {"three.bin", big, OneShotMd5(big), 3},
      {"odd.bin", odd, OneShotMd5(odd), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.expected.size(), 32u);
    const std::string path = std::string("C:\\Work\\") + c.name;
    root.WriteFile(path, c.bytes);
    int calls = 0;
    EXPECT_EQ(FileMd5Text(path, [&calls] { ++calls; }), c.expected);
    EXPECT_EQ(calls, c.blocks);
    EXPECT_EQ(FileMd5Text(path), c.expected);  // without a callback
  }
}

TEST(FileMd5Test, NoDigestForWhatCannotBeRead) {
  test::TestRoot root;
  root.WriteFile("C:\\Work\\Folder\\x.bin", "x");
  EXPECT_EQ(FileMd5Text("C:\\Work\\missing.bin"), std::nullopt);
  EXPECT_EQ(FileMd5Text("C:\\Work\\Folder"), std::nullopt);
}

}  // namespace
}  // namespace orvo::flow
