// The download client's second transport: one blocking libcurl transfer straight into a file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace orvo::net {

// Bytes received and bytes expected; a non-zero result aborts the transfer.
using CurlProgress = std::function<int(std::int64_t received, std::int64_t expected)>;

// Returns the status of the last response: 0 when none arrived, 200 when no curl handle could be made.
// header_kind 1 sends the header value as "Authorization", anything else as "Referer"; post_flag 1 POSTs.
int CurlTransfer(const std::string& url, const std::string& target_path, const std::string& unused_url,
                 const CurlProgress& progress, const std::string& header_value = "", int header_kind = 0,
                 int post_flag = 0, const std::string& post_body = "");

}  // namespace orvo::net
