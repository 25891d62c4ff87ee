#include "plan/section_values.h"

#include <algorithm>
#include <charconv>

namespace orvo::plan {

std::optional<std::int32_t> ParseDecimal(std::string_view text) {
  std::int32_t number = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number, 10);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return number;
}

std::string BackslashPath(std::string text) {
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  while (!folder.empty() && folder.back() == '\\') folder.remove_suffix(1);
  while (!name.empty() && name.front() == '\\') name.remove_prefix(1);
  std::string joined(folder);
  joined += '\\';
  joined += name;
  return joined;
}

}  // namespace orvo::plan
