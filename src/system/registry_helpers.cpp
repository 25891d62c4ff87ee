#include "system/registry_helpers.h"

#include <utility>

#include "platform/platform.h"
#include "platform/win_types.h"

namespace orvo::sys {

namespace error = platform::error;

int ReadValueList(std::string_view key, std::vector<std::pair<std::string, std::string>>& values) {
  // One read, so the list is one state of the key even while another process writes it.
  std::vector<platform::RegValue> listed;
  if (platform::Reg().ListValues(platform::Hive::kLocalMachine, key, listed) != error::kSuccess) return -1;
  for (auto& value : listed) {
    values.emplace_back(std::move(value.name),
                        value.type == platform::RegType::kString ? std::move(value.text) : std::string());
  }
  return 0;
}

std::vector<std::string> ListSubKeys(platform::Hive hive, std::string_view key, platform::RegView view) {
  std::vector<std::string> names;
  if (platform::Reg().ListSubKeys(hive, key, names, view) != error::kSuccess) names.clear();
  return names;
}

std::uint32_t ReadStringValue(platform::Hive hive, std::string_view key, std::string_view name, std::string& text,
                              platform::RegView view) {
  text.clear();
  platform::RegValue value;
  const std::uint32_t result = platform::Reg().QueryValue(hive, key, name, value, view);
  if (result != error::kSuccess) return result;
  if (value.type != platform::RegType::kString) return error::kInvalidData;
  text = std::move(value.text);
  return error::kSuccess;
}

}  // namespace orvo::sys
