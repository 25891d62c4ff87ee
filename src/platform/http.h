// HTTP through the platform's client stack, in the handle model of the system's own: a root (agent and
// proxy), a connection (host and port) and requests (verb, path, TLS). Every call blocks its thread;
// Close() may come from any other thread and makes the pending call, and every later one, fail with
// kErrorInternetOperationCancelled. Certificates are always verified: the system trust store plus the CA
// file named by ORVO_CA_BUNDLE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvo::platform::http {

// The system's Internet error codes, so callers log what they would log on Windows.
inline constexpr std::uint32_t kErrorInternetTimeout = 12002;
inline constexpr std::uint32_t kErrorInternetNameNotResolved = 12007;
inline constexpr std::uint32_t kErrorInternetOperationCancelled = 12017;
inline constexpr std::uint32_t kErrorInternetCannotConnect = 12029;
inline constexpr std::uint32_t kErrorInternetConnectionAborted = 12030;
inline constexpr std::uint32_t kErrorInternetConnectionReset = 12031;
inline constexpr std::uint32_t kErrorInternetInvalidCa = 12045;
inline constexpr std::uint32_t kErrorInternetSecCertRevFailed = 12057;
inline constexpr std::uint32_t kErrorHttpInvalidServerResponse = 12152;
inline constexpr std::uint32_t kErrorHttpRedirectFailed = 12156;
inline constexpr std::uint32_t kErrorInternetSecureFailure = 12175;

// Whether a failure code means the server's certificate was not accepted.
bool IsCertificateError(std::uint32_t code);

enum class ProxyMode {
  kPreconfigured,  // the user's own settings (on Linux: the proxy environment variables)
  kNamed,          // RootOptions::proxy
  kDirect,         // no proxy at all
};

struct RootOptions {
  std::string user_agent;
  ProxyMode proxy_mode = ProxyMode::kPreconfigured;
  std::string proxy;  // "host:port" for kNamed
  std::string proxy_user;
  std::string proxy_password;
};

// The internet root handle.
class Root {
 public:
  explicit Root(RootOptions options);
  ~Root();
  Root(const Root&) = delete;
  Root& operator=(const Root&) = delete;

  // Later requests use this proxy ("host:port"; empty = direct).
  void SetProxy(const std::string& proxy);
  void SetProxyCredentials(const std::string& user, const std::string& password);
  RootOptions Options() const;
  // Fails pending and later calls of every request opened under this root.
  void Close();
  bool Closed() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
  friend class Request;
};

// The connection handle: a host and the port to use (the URL's own port is the caller's business).
class Connection {
 public:
  Connection(std::shared_ptr<Root> root, std::string host, std::uint16_t port);
  const std::shared_ptr<Root>& GetRoot() const { return root_; }
  const std::string& Host() const { return host_; }
  std::uint16_t Port() const { return port_; }

 private:
  std::shared_ptr<Root> root_;
  std::string host_;
  std::uint16_t port_;
};

struct RequestOptions {
  std::string verb = "GET";
  std::string path = "/";  // path and query, as cracked from the URL
  bool secure = false;     // https
  bool follow_redirects = true;
};

// One request handle.
class Request {
 public:
  Request(std::shared_ptr<Connection> connection, RequestOptions options);
  ~Request();
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  // Sends the extra headers (CRLF-separated lines) and the body; returns once the final response's
  // headers have arrived. 0, or an Internet error code.
  std::uint32_t Send(std::string_view headers, std::string_view body);

  // The final response, after a successful Send: the status (0 before), all header lines as
  // "HTTP/1.1 200 OK\r\nName: value\r\n...\r\n", and one header's value (the last of that name, the name
  // compared without regard to case).
  int StatusCode() const;
  std::string RawHeaders() const;
  std::optional<std::string> Header(std::string_view name) const;

  // Reads up to `size` bytes of the body into `buffer`. True with *read 0 at the body's end; false with
  // *error set when the transfer failed.
  bool Read(void* buffer, std::size_t size, std::size_t* read, std::uint32_t* error);

  // The detail of the last failure (for a certificate error, the TLS library's reason).
  std::string ErrorText() const;

  // Thread-safe: unblocks a pending Send or Read, which then fails with kErrorInternetOperationCancelled.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvo::platform::http
