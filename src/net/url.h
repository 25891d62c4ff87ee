// Splitting an absolute http(s) URL the way the system's URL cracker does: the path keeps the query.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvo::net {

inline constexpr int kSchemeHttp = 3;
inline constexpr int kSchemeHttps = 4;

struct CrackedUrl {
  int scheme = kSchemeHttp;
  std::string host;
  std::uint16_t port = 0;  // the URL's own port, or the scheme's default
  std::string path;        // "/" when the URL has none; the query string stays part of it
};

// Null for anything but an absolute http:// or https:// URL with a host.
std::optional<CrackedUrl> CrackUrl(const std::string& url);

}  // namespace orvo::net
