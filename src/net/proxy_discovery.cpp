#include "net/proxy_discovery.h"

#include <cstddef>
#include <mutex>
#include <optional>
#include <string_view>

#include "app/log.h"
#include "platform/http.h"
#include "platform/internet_settings.h"
#include "platform/text.h"

namespace orvo::net {

namespace {

// The download client's proxy buffer holds 256 bytes with its terminator.
constexpr std::size_t kMaxProxyText = 255;

// Automatic discovery for the download client is evaluated for this fixed address.
constexpr const char* kDiscoveryAddress = "0.0.0.0";

// The value of the entry "name=value" in a manual proxy text ("http=a:1;https=b:2"), the name compared
// without regard to case; null when there is no such entry or it names nothing.
std::optional<std::string> EntryValue(std::string_view text, std::string_view name) {
  for (const std::string& entry : platform::Split(text, ';')) {
    const auto first = entry.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    const std::string_view trimmed = std::string_view(entry).substr(first);
    if (trimmed.size() <= name.size() || !platform::StartsWithNoCase(trimmed, name) || trimmed[name.size()] != '=') {
      continue;
    }
    std::string_view value = trimmed.substr(name.size() + 1);
    value = value.substr(0, value.find_last_not_of(' ') + 1);
    if (!value.empty()) return std::string(value);
  }
  return std::nullopt;
}

bool IsProxyList(std::string_view text) { return text.find('=') != std::string_view::npos; }

// The proxy a manual text gives a URL: its scheme's entry, or the whole text when it is one proxy for all.
std::string ProxyForUrl(std::string_view text, std::string_view url) {
  if (!IsProxyList(text)) return std::string(text);
  std::string_view scheme;
  if (platform::StartsWithNoCase(url, "http://")) scheme = "http";
  if (platform::StartsWithNoCase(url, "https://")) scheme = "https";
  if (scheme.empty()) return {};
  return EntryValue(text, scheme).value_or(std::string());
}

std::mutex& SystemProxyMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& SystemProxySlot() {
  static std::string text;
  return text;
}

int Found(std::string* proxy, std::string_view text, int result) {
  proxy->assign(text.substr(0, kMaxProxyText));
  return result;
}

}  // namespace

int FindRequestProxy(std::string* proxy) {
  proxy->clear();
  const std::optional<platform::InternetSettings> settings = platform::ReadUserInternetSettings();
  if (!settings || settings->auto_detect || !settings->auto_config_url.empty()) {
    const std::string script = settings ? settings->auto_config_url : std::string();
    const std::optional<std::string> found = platform::CurrentProxyDiscovery().Discover(script, kDiscoveryAddress);
    if (found) return found->empty() ? -1 : Found(proxy, *found, 1);
  }
  if (!settings || settings->proxy.empty()) return 0;

  const std::string& text = settings->proxy;
  if (!IsProxyList(text)) return Found(proxy, text, 1);
  if (auto value = EntryValue(text, "https")) return Found(proxy, *value, 1);
  if (auto value = EntryValue(text, "http")) return Found(proxy, *value, 1);
  if (auto value = EntryValue(text, "socks")) return Found(proxy, *value, 4);
  // A list without any entry the download client knows ("ftp=...") names no proxy for it; the whole text
  // would be taken for a host name.
  return 0;
}

void ApplyWinHttpProxy(const std::string& url, platform::http::Root& root) {
  const std::optional<platform::InternetSettings> settings = platform::ReadUserInternetSettings();
  if (!settings) return;
  std::string candidate = settings->proxy;
  platform::ProxyDiscovery& discovery = platform::CurrentProxyDiscovery();
  if (!settings->auto_config_url.empty()) {
    if (auto found = discovery.Discover(settings->auto_config_url, url)) candidate = *found;
  }
  if (settings->auto_detect) {
    if (auto found = discovery.Discover(std::string(), url)) candidate = *found;
  }
  // The root takes one "host:port"; a per-scheme list is resolved for this URL as the system stack would.
  const std::string proxy = ProxyForUrl(candidate, url);
  if (!proxy.empty()) root.SetProxy(proxy);
}

void ReadSystemProxy() {
  const std::optional<platform::InternetSettings> settings = platform::ReadUserInternetSettings();
  if (settings && settings->proxy_enabled) SetSystemProxyText(settings->proxy);
  const std::string text = SystemProxyText();
  if (!text.empty()) log::Info("Proxy: %s", text.c_str());
}

std::string ChooseProxyForUrl(const std::string& url) { return ProxyForUrl(SystemProxyText(), url); }

std::string SystemProxyText() {
  std::lock_guard lock(SystemProxyMutex());
  return SystemProxySlot();
}

void SetSystemProxyText(const std::string& text) {
  std::lock_guard lock(SystemProxyMutex());
  SystemProxySlot() = text;
}

}  // namespace orvo::net
