// The current user's Internet settings, as the system keeps them: an "automatically detect" flag, a
// configuration script address, a manual proxy text ("host:port", or "http=h:p;https=h:p;socks=h:p") and a
// bypass list; and automatic proxy discovery for a URL.
//
// On Linux the settings are read from the registry store where Windows keeps them (HKCU
// "Software\Microsoft\Windows\CurrentVersion\Internet Settings": "ProxyEnable", "ProxyServer",
// "ProxyOverride", "AutoConfigURL", "AutoDetect"); when that key names no setting at all, the proxy
// environment variables (http_proxy, https_proxy, all_proxy, no_proxy) make the manual text. Discovery is
// libproxy's.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace orvo::platform {

struct InternetSettings {
  bool auto_detect = false;
  std::string auto_config_url;
  std::string proxy;   // empty = no manual proxy
  std::string bypass;
  bool proxy_enabled = false;  // "ProxyEnable" is non-zero, or the settings came from the environment
};

// Null when the settings cannot be read.
std::optional<InternetSettings> ReadUserInternetSettings();

// Automatic proxy discovery: evaluates a configuration script (script_url non-empty) or detects one
// (empty) for a URL. Null when discovery failed; an empty string when it succeeded and says "direct";
// else the proxy as "host:port".
class ProxyDiscovery {
 public:
  virtual ~ProxyDiscovery() = default;
  virtual std::optional<std::string> Discover(const std::string& script_url, const std::string& url) = 0;
};

// The process's discovery (libproxy); tests put their own in its place.
ProxyDiscovery& CurrentProxyDiscovery();
void SetProxyDiscovery(std::unique_ptr<ProxyDiscovery> discovery);  // null restores the system's

}  // namespace orvo::platform
