// Small registry readers shared by the installer's parts, over the platform registry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace orvo::sys {

// The values of a key under HKEY_LOCAL_MACHINE (default view) in index order, appended to values as
// (name, text) pairs; a value that holds no text (a number) comes with empty text. 0, or -1 when the key
// cannot be opened.
int ReadValueList(std::string_view key, std::vector<std::pair<std::string, std::string>>& values);

// The names of the key's direct sub-keys in enumeration order; none when the key does not exist.
std::vector<std::string> ListSubKeys(platform::Hive hive, std::string_view key,
                                     platform::RegView view = platform::RegView::kDefault);

// The text of a string value: 0 with text set, else the registry's error (kFileNotFound for a missing key
// or value, kInvalidData for a value that is not a string) with text cleared.
std::uint32_t ReadStringValue(platform::Hive hive, std::string_view key, std::string_view name, std::string& text,
                              platform::RegView view = platform::RegView::kDefault);

}  // namespace orvo::sys
