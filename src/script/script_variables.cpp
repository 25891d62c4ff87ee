// The variable table of a package script run and the expansion of "%name%" references in its strings.
#include <cfloat>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "app/log.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "script/package_script.h"
#include "script/script_context.h"
#include "system/folders.h"

namespace orvo::script {

namespace {

// Shell placeholders of command templates ("%1", "%L") are not variables: a text holding one is not
// reported as left unexpanded.
bool HasShellPlaceholder(std::string_view text) {
  return text.find("%1") != std::string_view::npos || text.find("%L") != std::string_view::npos;
}

// GetEnvironmentVariable into a buffer of 259 characters: a value that does not fit, like a missing
// variable, gives an empty text.
std::string EnvironmentValue(std::string_view name) {
  constexpr std::size_t kBufferCharacters = 259;
  const auto value = platform::Current().environment.Get(name);
  if (!value || platform::Utf8ToUtf16(*value).size() >= kBufferCharacters) return {};
  return *value;
}

std::string TimestampText() {
  const platform::LocalTime now = platform::LocalTimeNow();
  return platform::Format("%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour, now.minute,
                          now.second);
}

void AddBuiltInVariables(std::string_view script_path, ScriptVariables& variables) {
  const std::size_t backslash = script_path.rfind('\\');
  if (backslash != std::string_view::npos) variables["%~dp0"] = std::string(script_path.substr(0, backslash + 1));
  variables["%Timestamp%"] = TimestampText();
  variables["%ProgramData%"] = EnvironmentValue("ProgramData");
  variables["%public%"] = EnvironmentValue("public");
  variables["%systemroot%"] = EnvironmentValue("systemroot");
  variables["%commonfiles%"] = EnvironmentValue(sys::IsWindows64() ? "CommonProgramFiles(x86)" : "CommonProgramFiles");
  const std::string appdata = platform::Drive().KnownFolderPath(platform::KnownFolder::kRoamingAppData);
  if (!appdata.empty()) variables["%appdata%"] = appdata;
}

// A 32-bit float printed with "%f". Values beyond the float range become infinite, as the conversion of
// a double that does not fit would otherwise be undefined.
std::string FloatText(double value) {
  float narrow = 0.0f;
  if (value > static_cast<double>(FLT_MAX)) {
    narrow = std::numeric_limits<float>::infinity();
  } else if (value < -static_cast<double>(FLT_MAX)) {
    narrow = -std::numeric_limits<float>::infinity();
  } else {
    narrow = static_cast<float>(value);
  }
  return platform::Format("%f", static_cast<double>(narrow));
}

// The text a scalar member defines; empty for null, objects and arrays (and for an empty string).
std::string ScalarText(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::string:
      return value.get<std::string>();
    case nlohmann::json::value_t::number_integer:
      return std::to_string(value.get<std::int64_t>());
    case nlohmann::json::value_t::number_unsigned:
      return std::to_string(value.get<std::uint64_t>());
    case nlohmann::json::value_t::number_float:
      return FloatText(value.get<double>());
    case nlohmann::json::value_t::boolean:
      return value.get<bool>() ? "yes" : "no";
    default:
      return {};
  }
}

// Lets a value refer to variables that were stored after it (members sort by name). Only the references
// present when the entry's resolution starts are replaced, each by the referenced entry's current value.
void ResolveVariables(ScriptVariables& variables) {
  for (auto& [key, value] : variables) {
    if (value.find('%') == std::string::npos) continue;
    const std::string original = value;
    std::string working = original;
    for (const auto& [other_key, other_value] : variables) {
      if (original.find(other_key) != std::string::npos)
        working = platform::ReplaceAll(working, other_key, other_value);
    }
    value = working;
  }
}

}  // namespace

std::string ExpandScriptVariables(std::string_view text, const ScriptVariables& variables) {
  if (text.find('%') == std::string_view::npos) return std::string(text);
  std::string working(text);
  for (const auto& [key, value] : variables) {
    if (text.find(key) == std::string_view::npos) continue;
    working = platform::ReplaceAll(working, key, value);
    if (working.find('%') == std::string::npos) return working;
  }
  if (!HasShellPlaceholder(working)) {
    const std::string original(text);
    log::Info("It seems the original str is not fully parsed, oriStr: %s", original.c_str());
  }
  return working;
}

ScriptVariables BuildScriptVariables(const nlohmann::json& document, std::string_view script_path) {
  ScriptVariables variables;
  AddBuiltInVariables(script_path, variables);
  if (document.is_object()) {
    // nlohmann's objects keep their members sorted by name, the order in which they define variables.
    for (const auto& [name, value] : document.items()) {
      const std::string text = ScalarText(value);
      if (text.empty()) continue;
      std::string expanded = ExpandScriptVariables(text, variables);
      variables["%" + name + "%"] = std::move(expanded);
    }
  }
  ResolveVariables(variables);
  return variables;
}

}  // namespace orvo::script
