#include "flow/retry_settings.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include <nlohmann/json.hpp>

#include "app/log.h"
#include "net/web_api.h"

namespace orvo::flow {
namespace {

using Json = nlohmann::json;

constexpr int kNotANumber = -1;

// The member as an integer (a floating value truncated toward zero); -1 when it is missing, not a number,
// or beyond int, which a cast could not represent.
int MemberAsInt(const Json& object, const char* name) {
  const auto member = object.find(name);
  if (member == object.end()) return kNotANumber;
  constexpr auto kMax = std::numeric_limits<int>::max();
  constexpr auto kMin = std::numeric_limits<int>::min();
  if (member->is_number_unsigned()) {
    const auto value = member->get<std::uint64_t>();
    return value <= static_cast<std::uint64_t>(kMax) ? static_cast<int>(value) : kNotANumber;
  }
  if (member->is_number_integer()) {
    const auto value = member->get<std::int64_t>();
    return value >= kMin && value <= kMax ? static_cast<int>(value) : kNotANumber;
  }
  if (member->is_number_float()) {
    const double value = std::trunc(member->get<double>());
    return std::isfinite(value) && value >= kMin && value <= kMax ? static_cast<int>(value) : kNotANumber;
  }
  return kNotANumber;
}

}  // namespace

RetrySettings FetchRetrySettings(const std::string& base, RetrySettings defaults) {
  std::string headers;
  std::string body;
  if (!net::WebAPIHelper::Request(base + "/api/setting/general", "", &headers, &body)) {
    log::Info("Request retry settings false");
    return defaults;
  }
  const Json answer = Json::parse(body, nullptr, false);
  if (!answer.is_object()) return defaults;
  const int numbers = MemberAsInt(answer, "download_retry_numbers");
  const int interval = MemberAsInt(answer, "download_retry_interval");
  if (numbers <= 0 || interval <= 0) return defaults;
  return RetrySettings{numbers, interval};
}

}  // namespace orvo::flow
