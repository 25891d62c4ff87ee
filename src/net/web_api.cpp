// The account service's JSON calls: one blocking HTTPS request on the platform's HTTP client, always on
// port 443 and always with TLS, with the outcome kept process-wide for the caller to read afterwards.
#include "net/web_api.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/log.h"
#include "net/proxy_discovery.h"
#include "net/url.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace orvo::net {
namespace {

namespace http = platform::http;

constexpr const char* kUserAgent = "Orvo/1.0";
constexpr const char* kDefaultHeaders = "Content-Type: application/json";
constexpr std::uint16_t kHttpsPort = 443;

// Written by each call and read by its caller right after it returns.
std::atomic<std::uint32_t> g_last_status{200};
std::atomic<std::uint32_t> g_last_error{0};

bool AutomaticProxyAvailable() {
  const platform::WindowsVersion& version = platform::Current().profile.version;
  return version.major > 6 || (version.major == 6 && version.minor >= 3);
}

std::shared_ptr<http::Root> OpenRoot(const std::string& url) {
  http::RootOptions options;
  options.user_agent = kUserAgent;
  if (AutomaticProxyAvailable()) {
    options.proxy_mode = http::ProxyMode::kPreconfigured;
    return std::make_shared<http::Root>(options);
  }
  options.proxy_mode = http::ProxyMode::kDirect;
  auto root = std::make_shared<http::Root>(options);
  ApplyWinHttpProxy(url, *root);
  return root;
}

// The platform sends and waits for the response in one call; a failure to reach or trust the server is
// what the system reports from sending, anything after that from receiving.
const char* FailedStage(std::uint32_t error) {
  switch (error) {
    case http::kErrorInternetNameNotResolved:
    case http::kErrorInternetCannotConnect:
    case http::kErrorInternetOperationCancelled:
    case http::kErrorInternetSecureFailure:
      return "WinHttpSendRequest";
    default:
      return http::IsCertificateError(error) ? "WinHttpSendRequest" : "WinHttpReceiveResponse";
  }
}

bool FailRequest(const http::Request& request, std::uint32_t error) {
  g_last_error = error;
  if (const int status = request.StatusCode(); status > 0) g_last_status = static_cast<std::uint32_t>(status);
  log::Error("WebAPIHelper::Request Error occurred, LastErrorCode:%u, dwStatusCode:%u", g_last_error.load(),
             g_last_status.load());
  return false;
}

// Appends every byte that arrives; 0 when the body is complete, else the error of the failed read.
std::uint32_t ReadBody(http::Request& request, std::string* body) {
  char buffer[16384];
  for (;;) {
    std::size_t read = 0;
    std::uint32_t error = 0;
    if (!request.Read(buffer, sizeof buffer, &read, &error)) {
      log::Error("Error %u in WinHttpReadData", error);
      return error != 0 ? error : http::kErrorInternetConnectionAborted;
    }
    if (read == 0) return 0;
    body->append(buffer, read);
  }
}

}  // namespace

bool WebAPIHelper::Request(const std::string& url, const std::string& body, std::string* raw_headers,
                           std::string* response_body, const std::string& verb, const std::string& extra_headers) {
  g_last_error = 0;
  g_last_status = 200;
  const std::optional<CrackedUrl> cracked = CrackUrl(url);
  if (!cracked) {
    log::Error("Invalid url: %s", url.c_str());
    return false;
  }

  const std::shared_ptr<http::Root> root = OpenRoot(url);
  // The TLS protocol versions of Windows 7 and 8 (TLS 1.0 to 1.2) need no setting here: the platform's
  // client negotiates the versions its TLS library allows, on every system version.
  auto connection = std::make_shared<http::Connection>(root, cracked->host, kHttpsPort);
  http::RequestOptions options;
  options.verb = verb;
  options.path = cracked->path;
  options.secure = true;
  http::Request request(connection, options);
  // No certificate relaxations: the server's certificate is verified.

  const std::uint32_t sent = request.Send(extra_headers.empty() ? kDefaultHeaders : extra_headers, body);
  if (sent != 0) {
    log::Error("Error %u in %s", sent, FailedStage(sent));
    if (http::IsCertificateError(sent)) {
      log::Error("Certificate check failed on access: %s, error: %s", url.c_str(), request.ErrorText().c_str());
    }
    return FailRequest(request, sent);
  }

  const int status = request.StatusCode();
  g_last_status = static_cast<std::uint32_t>(status);
  if (status >= 500 && status <= 599) {
    log::Error("Server error responses, dwStatusCode:%d", status);
    return FailRequest(request, 0);
  }

  if (raw_headers != nullptr) *raw_headers = request.RawHeaders();
  std::string discarded;
  const std::uint32_t read_error = ReadBody(request, response_body != nullptr ? response_body : &discarded);
  if (read_error != 0) return FailRequest(request, read_error);
  return true;
}

std::uint32_t WebAPIHelper::LastStatusCode() { return g_last_status; }
std::uint32_t WebAPIHelper::LastErrorCode() { return g_last_error; }

}  // namespace orvo::net
