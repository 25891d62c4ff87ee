// Opens the installer's encrypted statistic: Base64 of AES-256-CBC (PKCS#7) over the event text, which the
// sender zero-pads to a multiple of 16 first.
#pragma once

#include <string>

namespace svc {

// The plain event text (trailing zero bytes removed); false with a reason when it does not decode.
bool DecryptStat(const std::string& base64, std::string& plain, std::string& error);

}  // namespace svc
