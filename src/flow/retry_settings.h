// The download retry settings the account service hands out: how often, and how many seconds apart, a
// failed download is retried without the user.
#pragma once

#include <string>

namespace orvo::flow {

struct RetrySettings {
  int numbers = 10;
  int interval = 30;  // seconds
};

// GETs base + "/api/setting/general" (a JSON object with "download_retry_numbers" and
// "download_retry_interval") and returns its two numbers, truncated to integers, when both are greater
// than 0; otherwise, or when the request fails (Info "Request retry settings false"), the defaults. Blocks
// the calling thread for the request.
RetrySettings FetchRetrySettings(const std::string& base, RetrySettings defaults = {});

}  // namespace orvo::flow
