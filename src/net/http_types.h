// The records of the download client: what a request asks for, what the owner does with its result, and
// what the response said.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/file_system.h"

namespace orvo::net {

// Stage messages of the engine's hidden window, its purge timer, and the early-drain notice.
inline constexpr std::uint32_t kMsgRequestStage = 0x8030;     // wParam request id, lParam stage
inline constexpr std::uint32_t kMsgFallbackProgress = 0x8031;  // wParam percent / 2
inline constexpr std::uint32_t kMsgReceiveBufferHigh = 0x8032;  // wParam request id
inline constexpr std::uintptr_t kPurgeTimer = 30;
inline constexpr std::intptr_t kStageConnected = 0;
inline constexpr std::intptr_t kStageHeaders = 1;
inline constexpr std::intptr_t kStageFinished = 2;

inline constexpr std::uint32_t kDefaultOpenFlags = 0x84080000;  // reload, no cache write, no cookies
inline constexpr std::uint32_t kFlagSecure = 0x00800000;

// Job types of the main window; 5 is set by the engine when the fallback transport ran.
inline constexpr int kJobConfiguration = 1;
inline constexpr int kJobComponent = 2;
inline constexpr int kJobAddressOnly = 3;
inline constexpr int kJobTicket = 4;
inline constexpr int kJobFallback = 5;
inline constexpr int kJobUpdatePackage = 6;

// An open file that copies of a record share, as copies of a handle value do: closing it through one copy
// closes it for all. An empty object is the invalid handle.
class SharedFile {
 public:
  SharedFile() = default;
  explicit SharedFile(std::unique_ptr<platform::fs::File> file);
  bool Valid() const;
  bool Write(const std::string& bytes) const;
  void Close() const;

 private:
  struct Box {
    std::mutex mutex;
    std::unique_ptr<platform::fs::File> file;
  };
  std::shared_ptr<Box> box_;
};

struct FCHttpJob {
  int type = 0;
  std::string target_path;  // Windows path
  std::uint32_t success_message = 0;
  std::uint32_t failure_message = 0;
  bool notify = false;
  // Bytes already on disk. 64 bits: components above 2 GiB must not wrap.
  std::int64_t resume_offset = 0;
  SharedFile file;
};

struct FCHttpRequestInfo {
  std::string post_body;
  int verb = 0;  // 0 GET, 1 and 2 POST, 3 DELETE, anything else GET
  std::string url;
  std::int64_t range_start = 0;
  std::string user_agent = "DUZERAR";
  std::string extra_headers;
  std::uint32_t open_flags = kDefaultOpenFlags;
  std::uint32_t timeout_ms = 0;
  std::string proxy_host;
  int proxy_port = 80;
  std::string proxy_user;
  std::string proxy_password;
  FCHttpJob job;
};

struct FCHttpResponseInfo {
  int status_code = 0;
  std::int64_t content_length = 0;
  std::string last_modified;
  std::string server;
  std::string raw_headers;
  bool read_complete = false;
};

// The verb's text.
const char* VerbText(int verb);

}  // namespace orvo::net
