// Small value rules of the configuration shared by the builder's files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvo::plan {

// A whole text as a 32-bit decimal number (an optional leading "-"), else none.
std::optional<std::int32_t> ParseDecimal(std::string_view text);
// Every "/" turned into a backslash.
std::string BackslashPath(std::string text);
// The folder and the name with exactly one backslash between them; an empty folder gives the name.
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace orvo::plan
