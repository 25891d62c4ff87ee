// What every section and phase action of a package script gets: the run's variables and direction, and
// the typed access to item fields ("a field of another JSON type counts as absent"; string fields are
// expanded before use).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace orvo::script {

// Key "%name%" (or "%~dp0") -> value, ordered by plain byte comparison of the keys.
using ScriptVariables = std::map<std::string, std::string>;

// Expands the variables in text (see package_script.cpp for the rules); logs the "not fully parsed" line.
std::string ExpandScriptVariables(std::string_view text, const ScriptVariables& variables);

struct ScriptContext {
  ScriptVariables variables;
  bool uninstall = false;
  std::string script_path;  // the path handed to the runner (Windows form)
};

// Typed field access of a section item or phase action. A missing field, or one of another JSON type,
// is absent (std::nullopt); strings come back expanded unless `raw`.
std::optional<std::string> StringField(const nlohmann::json& item, const char* name, const ScriptContext& context,
                                       bool raw = false);
std::optional<bool> BoolField(const nlohmann::json& item, const char* name);
std::optional<double> NumberField(const nlohmann::json& item, const char* name);
// "data"/"todata" lists: only non-empty strings, expanded (positions counted after dropping the rest).
std::vector<std::string> StringList(const nlohmann::json& item, const char* name, const ScriptContext& context);

// The sections and phases, each given the member's value (already known to be an array).
void RunRegistrySection(const nlohmann::json& items, const ScriptContext& context);      // "registry"
void RunRegisterTypeSection(const nlohmann::json& items, const ScriptContext& context);  // "registertype"
void RunRegsvr32Section(const nlohmann::json& items, const ScriptContext& context);      // "regsvr32"
void RunFirewallSection(const nlohmann::json& items, const ScriptContext& context);      // "firewall"
void RunServiceSection(const nlohmann::json& items, const ScriptContext& context);       // "service"
void RunPhase(const nlohmann::json& actions, const ScriptContext& context);              // the four phase lists

}  // namespace orvo::script
