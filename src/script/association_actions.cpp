// The "registertype" section: file associations through the command interpreter's "ftype" and "assoc".
// The commands are not waited for, so those of all extensions may run at the same time.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "script/hidden_command.h"
#include "script/script_context.h"

namespace orvo::script {

namespace {

// The extensions as they stand (not expanded); empty strings and other JSON types are dropped.
std::vector<std::string> Extensions(const nlohmann::json& item) {
  std::vector<std::string> extensions;
  const auto found = item.find("extensions");
  if (found == item.end() || !found->is_array()) return extensions;
  for (const nlohmann::json& entry : *found) {
    if (entry.is_string() && !entry.get_ref<const std::string&>().empty()) {
      extensions.push_back(entry.get<std::string>());
    }
  }
  return extensions;
}

void RunRegisterTypeItem(const nlohmann::json& item, const ScriptContext& context) {
  const std::vector<std::string> extensions = Extensions(item);
  if (extensions.empty()) return;
  const auto text = [&](const char* field) { return StringField(item, field, context).value_or(std::string()); };
  const std::string prekey = text("prekey");
  const std::string postkey = text("postkey");
  const std::string path = text("path");
  for (const std::string& extension : extensions) {
    // The extension brings its own leading dot; "." joins it to postkey.
    const std::string type_name = prekey + extension + "." + postkey;
    std::string ftype = "ftype " + type_name + "=";
    std::string assoc = "assoc " + extension + "=";
    if (!context.uninstall) {
      ftype += "\"" + path + "\" \"%1\"";
      assoc += "\"" + type_name + "\"";
    }
    RunHiddenCommand(ftype, false);
    RunHiddenCommand(assoc, false);
  }
}

}  // namespace

void RunRegisterTypeSection(const nlohmann::json& items, const ScriptContext& context) {
  if (!items.is_array()) return;
  for (const nlohmann::json& item : items) {
    if (item.is_object()) RunRegisterTypeItem(item, context);
  }
}

}  // namespace orvo::script
