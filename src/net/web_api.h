// The synchronous HTTPS JSON client of the account service.
#pragma once

#include <cstdint>
#include <string>

namespace orvo::net {

class WebAPIHelper {
 public:
  // One whole request on the calling thread. The body is appended to *response_body. True when the whole
  // response body was read. Never throws.
  static bool Request(const std::string& url, const std::string& body, std::string* raw_headers,
                      std::string* response_body, const std::string& verb = "GET",
                      const std::string& extra_headers = "");

  // The results of the most recent call in the process.
  static std::uint32_t LastStatusCode();
  static std::uint32_t LastErrorCode();
};

}  // namespace orvo::net
