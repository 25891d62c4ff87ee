// Typed access to the fields of section items and phase actions: a field of another JSON type than the one
// expected counts as absent, and so does every field of an item that is not an object.
#include <nlohmann/json.hpp>

#include "script/script_context.h"

namespace orvo::script {

namespace {

const nlohmann::json* Field(const nlohmann::json& item, const char* name) {
  if (!item.is_object()) return nullptr;
  const auto it = item.find(name);
  return it == item.end() ? nullptr : &*it;
}

}  // namespace

std::optional<std::string> StringField(const nlohmann::json& item, const char* name, const ScriptContext& context,
                                       bool raw) {
  const nlohmann::json* field = Field(item, name);
  if (field == nullptr || !field->is_string()) return std::nullopt;
  const auto& text = field->get_ref<const std::string&>();
  return raw ? text : ExpandScriptVariables(text, context.variables);
}

std::optional<bool> BoolField(const nlohmann::json& item, const char* name) {
  const nlohmann::json* field = Field(item, name);
  if (field == nullptr || !field->is_boolean()) return std::nullopt;
  return field->get<bool>();
}

std::optional<double> NumberField(const nlohmann::json& item, const char* name) {
  const nlohmann::json* field = Field(item, name);
  if (field == nullptr || !field->is_number()) return std::nullopt;
  return field->get<double>();
}

std::vector<std::string> StringList(const nlohmann::json& item, const char* name, const ScriptContext& context) {
  std::vector<std::string> list;
  const nlohmann::json* field = Field(item, name);
  if (field == nullptr || !field->is_array()) return list;
  for (const auto& entry : *field) {
    if (!entry.is_string()) continue;
    const auto& text = entry.get_ref<const std::string&>();
    if (!text.empty()) list.push_back(ExpandScriptVariables(text, context.variables));
  }
  return list;
}

}  // namespace orvo::script
