// The libcurl fallback of the download client: one blocking GET (or POST) written straight into the target
// file, with libcurl's own diagnostics sent to the log.
#include "net/curl_transfer.h"

#include <curl/curl.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "app/log.h"
#include "net/proxy_discovery.h"
#include "platform/curl_support.h"
#include "platform/file_system.h"
#include "system/shell_helpers.h"

namespace orvo::net {
namespace {

namespace pfs = platform::fs;

// How often a redirect answer is followed after the first request.
constexpr int kMaxRedirectRetries = 10;

struct EasyDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

// What the callbacks of one transfer share.
struct Sink {
  std::string path;
  std::unique_ptr<pfs::File> file;  // null when the target could not be opened: the body is dropped
  const CurlProgress* progress = nullptr;
  bool write_failed = false;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
  Sink* sink = static_cast<Sink*>(user);
  const std::size_t bytes = size * count;
  if (sink->file && !sink->write_failed && !sink->file->Write(data, bytes)) {
    // The transfer goes on (the caller judges by the status and checks the file's hash), but the reason a
    // download turns out short must be in the log.
    sink->write_failed = true;
    log::Error("Failed to write the download to %s", sink->path.c_str());
  }
  return bytes;
}

int ForwardProgress(void* user, curl_off_t expected, curl_off_t received, curl_off_t, curl_off_t) {
  const Sink* sink = static_cast<const Sink*>(user);
  if (sink->progress == nullptr || !*sink->progress) return 0;
  return (*sink->progress)(static_cast<std::int64_t>(received), static_cast<std::int64_t>(expected));
}

// Verbose mode stays on for diagnostics, but its informational lines belong in the run's log at Debug
// level, not on a standard error stream nobody sees; headers and data are left out.
int LogCurlText(CURL*, curl_infotype type, char* data, std::size_t size, void*) {
  if (type != CURLINFO_TEXT) return 0;
  std::string_view text(data, size);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  if (!text.empty()) log::Debug("%.*s", static_cast<int>(text.size()), text.data());
  return 0;
}

bool IsCertificateFailure(CURLcode code) {
  switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return true;
    default:
      return false;
  }
}

bool IsRedirectStatus(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

CURLcode Perform(CURL* curl, long* status) {
  const CURLcode result = curl_easy_perform(curl);
  long code = 0;
  if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK) *status = code;
  return result;
}

HeaderList MakeHeaderList(const std::string& value, int kind) {
  if (value.empty()) return nullptr;
  const std::string line = std::string(kind == 1 ? "Authorization" : "Referer") + ": " + value;
  return HeaderList(curl_slist_append(nullptr, line.c_str()));
}

void SetCallbacks(CURL* curl, Sink* sink) {
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, sink);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(WriteBody));
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, static_cast<curl_xferinfo_callback>(ForwardProgress));
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, sink);
}

void SetProxy(CURL* curl, const std::string& url) {
  if (SystemProxyText().empty()) return;
  const std::string proxy = ChooseProxyForUrl(url);
  if (!proxy.empty()) curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());  // libcurl copies the text
}

// The redirects are followed here, one request per perform: libcurl is told to recognise a redirect
// (FOLLOWLOCATION 1, so it skips the redirect's own body and the file receives only the final body) but
// to follow none itself (MAXREDIRS 0); it then reports the target as CURLINFO_REDIRECT_URL. Left to
// libcurl, every perform would chase a server that always redirects up to libcurl's own limit (unlimited
// or large) and the retries below would multiply the requests. This way such a server gets the first
// request and 10 retries, 11 in all, and the call returns 302. The effective URL cannot serve as the next
// address: with libcurl not following, it is the address just requested.
CURLcode FollowRedirects(CURL* curl, long* status, CURLcode result) {
  for (int attempt = 1; attempt <= kMaxRedirectRetries && IsRedirectStatus(*status); ++attempt) {
    char* target = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &target) != CURLE_OK || target == nullptr || *target == '\0') {
      break;
    }
    const std::string next_url = target;  // the handle's text is replaced by the next perform
    curl_easy_setopt(curl, CURLOPT_URL, next_url.c_str());
    result = Perform(curl, status);
    log::Info("RedirectTimes:%d, RedirectURL: %s, RedirectResponescode: %d", attempt, next_url.c_str(),
              static_cast<int>(*status));
  }
  return result;
}

void LogOutcome(const std::string& url, long status, CURLcode result, const char* detail) {
  if (result == CURLE_OK) {
    log::Info("Succeed on access: %s", url.c_str());
    return;
  }
  if (IsCertificateFailure(result)) {
    log::Error("Certificate check failed on access: %s, error: %s", url.c_str(),
               *detail != '\0' ? detail : curl_easy_strerror(result));
  }
  log::Error("Failed on access: %s, status error:%d, error: %s, res: %d", url.c_str(), static_cast<int>(status),
             curl_easy_strerror(result), static_cast<int>(result));
}

}  // namespace

int CurlTransfer(const std::string& url, const std::string& target_path, const std::string& /*unused_url*/,
                 const CurlProgress& progress, const std::string& header_value, int header_kind, int post_flag,
                 const std::string& post_body) {
  platform::InitCurlOnce();
  EasyHandle handle(curl_easy_init());
  if (!handle) return 200;
  CURL* curl = handle.get();
  char error_detail[CURL_ERROR_SIZE] = {};

  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 100L);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  // Certificates are verified: the system trust store plus the installer's own bundle.
  platform::ApplyCurlTransportDefaults(curl);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_detail);
  if (!post_body.empty()) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post_body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, post_body.data());  // not copied: post_body outlives the call
  }

  const HeaderList headers = MakeHeaderList(header_value, header_kind);

  Sink sink;
  sink.path = target_path;
  sink.progress = &progress;
  sink.file = pfs::File::Open(target_path, pfs::File::Mode::kCreateAlways);
  if (sink.file) sys::GrantUsersModify(target_path);

  if (headers) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 0L);  // see FollowRedirects
  SetCallbacks(curl, &sink);
  SetProxy(curl, url);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, static_cast<curl_debug_callback>(LogCurlText));
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
  if (post_flag == 1) curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 600L);

  long status = 200;
  CURLcode result = Perform(curl, &status);
  result = FollowRedirects(curl, &status, result);
  LogOutcome(url, status, result, error_detail);

  sink.file.reset();
  return static_cast<int>(status);
}

}  // namespace orvo::net
