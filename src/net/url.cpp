#include "net/url.h"

#include <charconv>

#include "platform/text.h"

namespace orvo::net {

std::optional<CrackedUrl> CrackUrl(const std::string& url) {
  CrackedUrl cracked;
  std::string_view rest;
  if (url.size() >= 8 && platform::EqualsNoCase(std::string_view(url).substr(0, 8), "https://")) {
    cracked.scheme = kSchemeHttps;
    cracked.port = 443;
    rest = std::string_view(url).substr(8);
  } else if (url.size() >= 7 && platform::EqualsNoCase(std::string_view(url).substr(0, 7), "http://")) {
    cracked.port = 80;
    rest = std::string_view(url).substr(7);
  } else {
    return std::nullopt;
  }
  const auto authority_end = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authority_end);
  const std::string_view path = authority_end == std::string_view::npos ? "" : rest.substr(authority_end);
  cracked.path = path.starts_with('/') ? std::string(path) : "/" + std::string(path);
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);

  std::string_view port_text;
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    cracked.host = std::string(authority.substr(1, close - 1));
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return std::nullopt;
      port_text = authority.substr(close + 2);
    }
  } else {
    const auto colon = authority.find(':');
    cracked.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) port_text = authority.substr(colon + 1);
  }
  if (cracked.host.empty()) return std::nullopt;
  if (!port_text.empty()) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), value);
    if (error != std::errc() || end != port_text.data() + port_text.size() || value == 0 || value > 65535) {
      return std::nullopt;
    }
    cracked.port = static_cast<std::uint16_t>(value);
  }
  return cracked;
}

}  // namespace orvo::net
