// What every libcurl transfer of the installer shares, on every platform: certificate verification against
// the system trust store plus ORVO_CA_BUNDLE, and the address overrides of ORVO_CONNECT_TO (entries
// "host:port:connect-host:connect-port", separated by ","), which let a test deployment answer for a host
// and port on a local server, as a hosts file would.
#pragma once

#include <string>
#include <vector>

namespace orvo::platform {

// Sets the trust and connect-to options on a CURL easy handle (passed as void* so that this header needs no
// libcurl include). The handle keeps pointers into process-wide storage that lives until exit.
void ApplyCurlTransportDefaults(void* curl_easy);

// Initialises libcurl once for the process (thread-safe; later calls do nothing).
void InitCurlOnce();

// The parsed ORVO_CONNECT_TO entries, and the CA file of ORVO_CA_BUNDLE (empty when unset).
std::vector<std::string> ConnectToRules();
std::string ExtraCaBundle();

}  // namespace orvo::platform
