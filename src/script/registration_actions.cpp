// The "regsvr32", "firewall" and "service" sections: COM registration, firewall application rules and
// Windows services of the unpacked files. Each item stands on its own: a failure is logged and the next
// item runs. Items that are not objects carry no fields and are passed over.
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "app/log.h"
#include "platform/firewall.h"
#include "script/hidden_command.h"
#include "script/script_context.h"
#include "system/file_helpers.h"
#include "system/folders.h"

namespace orvo::script {

namespace {

// The text after the last backslash without its last four characters (a three-letter extension and its
// dot); empty when there is no backslash or the name is shorter.
std::string RuleDescription(const std::string& path) {
  const std::size_t cut = path.rfind('\\');
  if (cut == std::string::npos) return {};
  const std::string name = path.substr(cut + 1);
  return name.size() > 4 ? name.substr(0, name.size() - 4) : std::string();
}

bool AddApplicationToFirewallExceptionList(const std::string& name, const std::string& path) {
  if (name.empty() || path.empty()) return false;
  log::Info("AddApplicationToFirewallExceptionList Name:%s, Path:%s", name.c_str(), path.c_str());
  std::unique_ptr<platform::FirewallRules> rules = platform::OpenFirewallRules();
  if (!rules) {
    log::Info("Failed to create NetFwPolicy2");
    return false;
  }
  platform::FirewallRule rule;
  rule.name = name;
  rule.description = RuleDescription(path);
  rule.application_name = path;
  rule.grouping = name;
  rule.profiles = platform::kFirewallProfilesAll;
  rule.action = platform::FirewallAction::kAllow;
  rule.enabled = true;
  if (rules->Add(rule) != 0) {
    log::Info("Failed to add FirewallExceptionList, Name:%s, Path:%s", name.c_str(), path.c_str());
  }
  return true;
}

bool RemoveApplicationToFirewallExceptionList(const std::string& name) {
  if (name.empty()) return false;
  log::Info("RemoveApplicationToFirewallExceptionList %s\r\n", name.c_str());
  if (std::unique_ptr<platform::FirewallRules> rules = platform::OpenFirewallRules()) rules->Remove(name);
  return true;
}

struct ServiceItem {
  std::string name;
  std::string bin_path;
  std::string display_name;
  std::string start_type;
  std::string description;
};

void InstallService(const ServiceItem& service) {
  const std::string& name = service.name;
  RunHiddenCommand("sc create " + name + " binPath= \"" + service.bin_path + "\"", true);
  RunHiddenCommand("sc config " + name + " DisplayName= \"" + service.display_name + "\"", true);
  RunHiddenCommand("sc config " + name + " start= " + service.start_type, true);
  RunHiddenCommand("sc description " + name + " \"" + service.description + "\"", true);
  RunHiddenCommand("net Start " + name, true);
}

void UninstallService(const std::string& name) {
  RunHiddenCommand("net stop " + name, true);
  RunHiddenCommand("sc delete " + name, true);
}

void RunRegsvr32Item(const nlohmann::json& item, const ScriptContext& context) {
  const std::optional<std::string> field = StringField(item, "path", context);
  if (field && field->empty()) {
    log::Info("find one invalid regsvr32 item, no path");
    return;
  }
  const std::string path = field.value_or(std::string());
  if (BoolField(item, "64bitosonly").value_or(false) && !sys::IsWindows64()) return;
  if (!RegisterComServer(path, context.uninstall)) {
    log::Info("failed to regsvr32 %s, install: %d", path.c_str(), context.uninstall ? 0 : 1);
  }
  if (!context.uninstall || !BoolField(item, "removefile").value_or(false)) return;
  // The unregistration was only handed to the shell; the file may still be held, hence the shell restart.
  if (sys::FileExists(path)) sys::DeletePath(path);
  if (sys::FileExists(path) && BoolField(item, "restartexplorer").value_or(false)) RelaunchShell();
}

void RunFirewallItem(const nlohmann::json& item, const ScriptContext& context) {
  const std::optional<std::string> name = StringField(item, "name", context);
  if (name && name->empty()) {
    log::Info("find one invalid netsh item, no name");
    return;
  }
  const std::optional<std::string> path = StringField(item, "path", context);
  if (path && path->empty()) {
    log::Info("find one invalid netsh item, no path");
    return;
  }
  if (context.uninstall) {
    RemoveApplicationToFirewallExceptionList(name.value_or(std::string()));
  } else {
    AddApplicationToFirewallExceptionList(name.value_or(std::string()), path.value_or(std::string()));
  }
}

void RunServiceItem(const nlohmann::json& item, const ScriptContext& context) {
  const auto text = [&](const char* field) { return StringField(item, field, context).value_or(std::string()); };
  const std::optional<std::string> name = StringField(item, "servicename", context);
  if (name && name->empty()) {
    log::Info("find one invalid service item, no name");
    return;
  }
  ServiceItem service{name.value_or(std::string()), text("binpath"), text("displayname"), text("starttype"),
                      text("description")};
  if (context.uninstall) {
    UninstallService(service.name);
  } else {
    InstallService(service);
  }
}

template <typename Handler>
void ForEachObject(const nlohmann::json& items, Handler handler) {
  if (!items.is_array()) return;
  for (const nlohmann::json& item : items) {
    if (item.is_object()) handler(item);
  }
}

}  // namespace

void RunRegsvr32Section(const nlohmann::json& items, const ScriptContext& context) {
  ForEachObject(items, [&](const nlohmann::json& item) { RunRegsvr32Item(item, context); });
}

void RunFirewallSection(const nlohmann::json& items, const ScriptContext& context) {
  ForEachObject(items, [&](const nlohmann::json& item) { RunFirewallItem(item, context); });
}

void RunServiceSection(const nlohmann::json& items, const ScriptContext& context) {
  ForEachObject(items, [&](const nlohmann::json& item) { RunServiceItem(item, context); });
}

}  // namespace orvo::script
