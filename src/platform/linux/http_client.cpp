// The HTTP client handles over libcurl. Each request drives its own multi handle on the calling thread, so
// a blocked Send or Read waits in curl_multi_poll, which Close() interrupts with curl_multi_wakeup.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/curl_support.h"
#include "platform/http.h"
#include "platform/text.h"

namespace orvo::platform::http {

inline constexpr std::uint32_t kErrorInternetInternalError = 12004;

bool IsCertificateError(std::uint32_t code) {
  // Invalid CA, revocation failed, date invalid, name invalid, invalid certificate.
  return code == kErrorInternetInvalidCa || code == kErrorInternetSecCertRevFailed || code == 12037 ||
         code == 12038 || code == 12169;
}

namespace {

std::uint32_t InternetError(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return 0;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kErrorInternetNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kErrorInternetCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return kErrorInternetTimeout;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_ISSUER_ERROR:
      return kErrorInternetInvalidCa;
    case CURLE_SSL_CONNECT_ERROR:
      return kErrorInternetSecureFailure;
    case CURLE_TOO_MANY_REDIRECTS:
      return kErrorHttpRedirectFailed;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return kErrorHttpInvalidServerResponse;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
      return kErrorInternetConnectionAborted;
    case CURLE_SEND_ERROR:
      return kErrorInternetConnectionReset;
    case CURLE_ABORTED_BY_CALLBACK:
      return kErrorInternetOperationCancelled;
    default:
      return kErrorInternetInternalError;
  }
}

bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Above this much body data held for the next Read, the transfer is paused: memory stays bounded
// whatever the link speed.
constexpr std::size_t kPendingLimit = 1 << 20;
constexpr long kReceiveBufferSize = 256 * 1024;

}  // namespace

// ---- Root ------------------------------------------------------------------------------------------------

struct Root::State {
  mutable std::mutex mutex;
  RootOptions options;
  bool closed = false;
  std::set<CURLM*> live;  // multi handles of pending calls, woken by Close()
};

Root::Root(RootOptions options) : state_(std::make_shared<State>()) { state_->options = std::move(options); }

Root::~Root() = default;

void Root::SetProxy(const std::string& proxy) {
  std::lock_guard lock(state_->mutex);
  state_->options.proxy = proxy;
  state_->options.proxy_mode = proxy.empty() ? ProxyMode::kDirect : ProxyMode::kNamed;
}

void Root::SetProxyCredentials(const std::string& user, const std::string& password) {
  std::lock_guard lock(state_->mutex);
  state_->options.proxy_user = user;
  state_->options.proxy_password = password;
}

RootOptions Root::Options() const {
  std::lock_guard lock(state_->mutex);
  return state_->options;
}

void Root::Close() {
  std::lock_guard lock(state_->mutex);
  state_->closed = true;
  for (CURLM* multi : state_->live) curl_multi_wakeup(multi);
}

bool Root::Closed() const {
  std::lock_guard lock(state_->mutex);
  return state_->closed;
}

Connection::Connection(std::shared_ptr<Root> root, std::string host, std::uint16_t port)
    : root_(std::move(root)), host_(std::move(host)), port_(port) {}

// ---- Request ---------------------------------------------------------------------------------------------

struct Request::Impl {
  std::shared_ptr<Connection> connection;
  std::shared_ptr<Root::State> root;
  RequestOptions options;
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  std::string body;
  std::string url;
  char error_buffer[CURL_ERROR_SIZE] = {};
  std::atomic<bool> closed{false};
  bool started = false;

  // Response headers: the block being received, then the final one.
  int block_status = 0;
  std::string block;
  bool block_has_location = false;
  bool headers_done = false;
  int status = 0;
  std::string raw_headers;

  // Transfer state.
  bool transfer_done = false;
  CURLcode result = CURLE_OK;
  std::uint32_t error = 0;
  std::string error_text;

  // Body: copied straight into the reader's buffer while a Read waits, the rest held in `pending`.
  char* target = nullptr;
  std::size_t target_size = 0;
  std::size_t target_filled = 0;
  std::string pending;
  std::size_t pending_offset = 0;
  bool paused = false;

  bool Cancelled() const {
    if (closed.load()) return true;
    std::lock_guard lock(root->mutex);
    return root->closed;
  }

  void Fail(std::uint32_t code, std::string text) {
    error = code;
    error_text = std::move(text);
  }

  void EndOfHeaderBlock() {
    const bool interim = block_status >= 100 && block_status < 200;
    const bool followed = options.follow_redirects && IsRedirect(block_status) && block_has_location;
    if (interim || followed) return;
    headers_done = true;
    status = block_status;
    raw_headers = block + "\r\n";
  }

  void OnHeaderLine(std::string_view line) {
    if (line.rfind("HTTP/", 0) == 0) {
      block.clear();
      block_has_location = false;
      const auto space = line.find(' ');
      block_status = space == std::string_view::npos ? 0 : std::atoi(std::string(line.substr(space + 1)).c_str());
    }
    if (line == "\r\n" || line == "\n") {
      EndOfHeaderBlock();
      return;
    }
    std::string_view text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    if (text.size() >= 9 && EqualsNoCase(text.substr(0, 9), "location:")) block_has_location = true;
    block.append(text).append("\r\n");
  }

  std::size_t OnBody(const char* data, std::size_t size) {
    if (!headers_done) EndOfHeaderBlock();
    const std::size_t room = target != nullptr ? target_size - target_filled : 0;
    if (room == 0 && pending.size() - pending_offset >= kPendingLimit) {
      paused = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    const std::size_t direct = std::min(room, size);
    if (direct > 0) {
      std::memcpy(target + target_filled, data, direct);
      target_filled += direct;
    }
    if (direct < size) {
      if (pending_offset == pending.size()) {
        pending.clear();
        pending_offset = 0;
      }
      pending.append(data + direct, size - direct);
    }
    return size;
  }

  // Runs the transfer until `ready` holds, the transfer ends or the request is closed. False when closed.
  template <typename Ready>
  bool Drive(Ready ready) {
    while (true) {
      if (Cancelled()) return false;
      int running = 0;
      curl_multi_perform(multi, &running);
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE) {
          transfer_done = true;
          result = message->data.result;
        }
      }
      if (ready() || transfer_done) return !Cancelled() || ready();
      curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
  }

  void Configure(const RootOptions& root_options, std::string_view extra_headers) {
    const std::string& host = connection->Host();
    const bool ipv6 = host.find(':') != std::string::npos && host.front() != '[';
    url = std::string(options.secure ? "https://" : "http://") + (ipv6 ? "[" + host + "]" : host) + ":" +
          std::to_string(connection->Port()) + options.path;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_buffer);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 60L);
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (!root_options.user_agent.empty()) curl_easy_setopt(easy, CURLOPT_USERAGENT, root_options.user_agent.c_str());
    if (options.follow_redirects) {
      curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
      curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    }
    ConfigureProxy(root_options);
    ConfigureVerb(extra_headers);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HeaderCallback);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &WriteCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    ApplyCurlTransportDefaults(easy);
  }

  void ConfigureProxy(const RootOptions& root_options) {
    switch (root_options.proxy_mode) {
      case ProxyMode::kPreconfigured:
        break;  // libcurl reads the user's proxy environment variables itself
      case ProxyMode::kDirect:
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        break;
      case ProxyMode::kNamed:
        curl_easy_setopt(easy, CURLOPT_PROXY, root_options.proxy.c_str());
        if (!root_options.proxy_user.empty()) {
          curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, root_options.proxy_user.c_str());
        }
        if (!root_options.proxy_password.empty()) {
          curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, root_options.proxy_password.c_str());
        }
        break;
    }
  }

  void ConfigureVerb(std::string_view extra_headers) {
    const std::string& verb = options.verb;
    if (verb == "HEAD") {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (verb != "GET" || !body.empty()) {
      if (!body.empty() || verb == "POST") {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
      }
      if (verb != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }
    bool content_type = false;
    for (const auto& line : Split(ReplaceAll(std::string(extra_headers), "\r\n", "\n"), '\n')) {
      if (line.empty()) continue;
      headers = curl_slist_append(headers, line.c_str());
      content_type = content_type || (line.size() >= 13 && EqualsNoCase(line.substr(0, 13), "content-type:"));
    }
    // The system stack sends only the caller's headers: no "Expect: 100-continue", and no form content
    // type of its own for a body.
    headers = curl_slist_append(headers, "Expect:");
    if (!content_type) headers = curl_slist_append(headers, "Content-Type:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  }

  void TakeFailure() {
    error = InternetError(result);
    error_text = error_buffer[0] != '\0' ? error_buffer : curl_easy_strerror(result);
  }

  static std::size_t HeaderCallback(char* data, std::size_t size, std::size_t count, void* self) {
    static_cast<Impl*>(self)->OnHeaderLine(std::string_view(data, size * count));
    return size * count;
  }
  static std::size_t WriteCallback(char* data, std::size_t size, std::size_t count, void* self) {
    return static_cast<Impl*>(self)->OnBody(data, size * count);
  }
};

Request::Request(std::shared_ptr<Connection> connection, RequestOptions options) : impl_(std::make_unique<Impl>()) {
  InitCurlOnce();
  impl_->root = connection->GetRoot()->state_;
  impl_->connection = std::move(connection);
  impl_->options = std::move(options);
  impl_->multi = curl_multi_init();
  impl_->easy = curl_easy_init();
  std::lock_guard lock(impl_->root->mutex);
  impl_->root->live.insert(impl_->multi);
}

Request::~Request() {
  {
    std::lock_guard lock(impl_->root->mutex);
    impl_->root->live.erase(impl_->multi);
  }
  if (impl_->started) curl_multi_remove_handle(impl_->multi, impl_->easy);
  curl_easy_cleanup(impl_->easy);
  curl_multi_cleanup(impl_->multi);
  curl_slist_free_all(impl_->headers);
}

std::uint32_t Request::Send(std::string_view headers, std::string_view body) {
  Impl& impl = *impl_;
  if (impl.multi == nullptr || impl.easy == nullptr) {
    impl.Fail(kErrorInternetInternalError, "no transfer handle");
    return impl.error;
  }
  if (impl.started) {
    // A repeated send (after a revocation failure) starts the same request afresh.
    curl_multi_remove_handle(impl.multi, impl.easy);
    curl_slist_free_all(std::exchange(impl.headers, nullptr));
    impl.headers_done = impl.transfer_done = impl.paused = false;
    impl.pending.clear();
    impl.pending_offset = 0;
    impl.status = impl.block_status = 0;
  }
  impl.body.assign(body);
  impl.Configure(impl.connection->GetRoot()->Options(), headers);
  curl_multi_add_handle(impl.multi, impl.easy);
  impl.started = true;
  if (!impl.Drive([&] { return impl.headers_done; })) {
    impl.Fail(kErrorInternetOperationCancelled, "the request was closed");
    return impl.error;
  }
  if (!impl.headers_done) {
    impl.TakeFailure();
    if (impl.error == 0) impl.Fail(kErrorHttpInvalidServerResponse, "no response headers");
    return impl.error;
  }
  return 0;
}

int Request::StatusCode() const { return impl_->status; }

std::string Request::RawHeaders() const { return impl_->raw_headers; }

std::optional<std::string> Request::Header(std::string_view name) const {
  std::optional<std::string> found;
  for (const auto& line : Split(ReplaceAll(impl_->raw_headers, "\r\n", "\n"), '\n')) {
    const auto colon = line.find(':');
    if (colon == std::string::npos || !EqualsNoCase(std::string_view(line).substr(0, colon), name)) continue;
    std::string value = line.substr(colon + 1);
    const auto first = value.find_first_not_of(" \t");
    found = first == std::string::npos ? "" : value.substr(first);
  }
  return found;
}

bool Request::Read(void* buffer, std::size_t size, std::size_t* read, std::uint32_t* error) {
  Impl& impl = *impl_;
  *read = 0;
  const auto cancelled = [&] {
    impl.Fail(kErrorInternetOperationCancelled, "the request was closed");
    *error = impl.error;
    return false;
  };
  if (!impl.started || impl.Cancelled()) return cancelled();
  if (size == 0) return true;
  if (impl.pending_offset < impl.pending.size()) {
    *read = std::min(size, impl.pending.size() - impl.pending_offset);
    std::memcpy(buffer, impl.pending.data() + impl.pending_offset, *read);
    impl.pending_offset += *read;
    return true;
  }
  impl.target = static_cast<char*>(buffer);
  impl.target_size = size;
  impl.target_filled = 0;
  if (impl.paused && !impl.transfer_done) {
    impl.paused = false;
    curl_easy_pause(impl.easy, CURLPAUSE_CONT);
  }
  const bool live = impl.target_filled > 0 || impl.Drive([&] { return impl.target_filled > 0; });
  *read = impl.target_filled;
  impl.target = nullptr;
  if (!live) return cancelled();
  if (*read > 0) return true;
  if (impl.result != CURLE_OK) {
    impl.TakeFailure();
    *error = impl.error;
    return false;
  }
  return true;
}

std::string Request::ErrorText() const { return impl_->error_text; }

void Request::Close() {
  impl_->closed.store(true);
  if (impl_->multi != nullptr) curl_multi_wakeup(impl_->multi);
}

}  // namespace orvo::platform::http
