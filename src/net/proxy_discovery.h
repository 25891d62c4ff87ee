// Finding the user's proxy, the three ways the installer's transports do it.
#pragma once

#include <string>

namespace orvo::platform::http {
class Root;
}

namespace orvo::net {

// Download client: 1 with "host:port" in *proxy, 4 when only a SOCKS entry exists (*proxy holds it), 0 for
// no proxy, -1 when automatic discovery succeeded without naming one. The text is cut to 255 bytes.
int FindRequestProxy(std::string* proxy);

// Web API client: sets the proxy for this URL on the root, or leaves it unset.
void ApplyWinHttpProxy(const std::string& url, platform::http::Root& root);

// Curl fallback: ReadSystemProxy refreshes the process-wide system proxy text (and logs "Proxy: %s");
// ChooseProxyForUrl picks the entry for the URL's scheme from it.
void ReadSystemProxy();
std::string ChooseProxyForUrl(const std::string& url);
std::string SystemProxyText();
void SetSystemProxyText(const std::string& text);  // tests

}  // namespace orvo::net
