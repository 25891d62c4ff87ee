// The "registry" section: one string or DWORD value per item in install mode; in uninstall mode the value
// (and its key when that is left empty) or the whole key goes, or everything stays.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/log.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/win_types.h"
#include "script/script_context.h"
#include "system/file_helpers.h"

namespace orvo::script {

namespace {

using platform::Hive;
using platform::RegView;

struct RegistryItem {
  Hive hive = Hive::kLocalMachine;
  std::string sub_key;
  RegView view = RegView::kDefault;
  std::string type;
  std::string name;
};

Hive RootKey(std::string_view name) {
  if (platform::EqualsNoCase(name, "HKCU") || platform::EqualsNoCase(name, "HKEY_CURRENT_USER")) {
    return Hive::kCurrentUser;
  }
  if (platform::EqualsNoCase(name, "HKCR") || platform::EqualsNoCase(name, "HKEY_CLASSES_ROOT")) {
    return Hive::kClassesRoot;
  }
  return Hive::kLocalMachine;  // "HKLM", "HKEY_LOCAL_MACHINE" and any other name
}

// The key an item addresses; nothing (after its log line) when "path" is missing, empty or has no backslash.
// An item without "path" would address a root key itself, so it is refused like an empty one.
std::optional<RegistryItem> ReadItem(const nlohmann::json& item, const ScriptContext& context) {
  const std::string path = StringField(item, "path", context).value_or("");
  if (path.empty()) {
    log::Info("find one invalid registry item, no key path");
    return std::nullopt;
  }
  const std::size_t backslash = path.find('\\');
  if (backslash == std::string::npos) {
    log::Info("find one invalid registry item, invalid key path");
    return std::nullopt;
  }
  RegistryItem parsed;
  parsed.hive = RootKey(std::string_view(path).substr(0, backslash));
  parsed.sub_key = path.substr(backslash + 1);
  parsed.view = BoolField(item, "64key").value_or(false) ? RegView::kView64 : RegView::kDefault;
  parsed.type = StringField(item, "type", context, true).value_or("REG_SZ");
  parsed.name = StringField(item, "name", context).value_or("");
  return parsed;
}

// A JSON number as a 32-bit integer: truncated toward zero and taken modulo 2^32 (so -1 is 0xFFFFFFFF).
std::uint32_t ToDword(double number) {
  if (!std::isfinite(number)) return 0;
  double wrapped = std::fmod(std::trunc(number), 4294967296.0);
  if (wrapped < 0) wrapped += 4294967296.0;
  return static_cast<std::uint32_t>(wrapped);
}

// The browser-emulation number for the installed HTML engine, from the major version of "mshtml.dll".
std::optional<std::uint32_t> BrowserEmulationValue() {
  const std::string version = sys::FileVersionText("mshtml.dll");
  const std::size_t dot = version.find('.');
  if (version.empty() || dot == std::string::npos) return std::nullopt;
  int major = 0;
  std::from_chars(version.data(), version.data() + dot, major);
  switch (major) {
    case 7:
      return 7000;
    case 8:
      return 8000;
    case 9:
      return 9000;
    case 10:
      return 10000;
    default:
      return 11000;
  }
}

void Install(const nlohmann::json& item, const RegistryItem& key, const ScriptContext& context) {
  platform::Registry& registry = platform::Reg();
  if (registry.OpenKey(key.hive, key.sub_key, key.view) != platform::error::kSuccess &&
      registry.CreateKey(key.hive, key.sub_key, key.view) != platform::error::kSuccess) {
    log::Info("Failed to create key %s", key.sub_key.c_str());
    return;
  }
  std::uint32_t result = platform::error::kSuccess;
  if (key.type == "REG_SZ") {
    const std::string data = StringField(item, "data", context).value_or("");
    result = registry.SetString(key.hive, key.sub_key, key.name, data, key.view);
  } else if (key.type == "REG_DWORD") {
    std::uint32_t data = ToDword(NumberField(item, "data").value_or(0));
    if (BoolField(item, "ieautomatic").value_or(false)) data = BrowserEmulationValue().value_or(data);
    result = registry.SetDword(key.hive, key.sub_key, key.name, data, key.view);
  } else {
    return;  // another type writes nothing
  }
  if (result != platform::error::kSuccess) {
    log::Info("Failed to set registry, keyPath:%s, keyName: %s", key.sub_key.c_str(), key.name.c_str());
  }
}

// Failures are not reported: a key or value that is gone already is what uninstalling wants. The key is
// deleted in the view it was opened in, so a "64key" item never removes the 32-bit twin of its key.
void Uninstall(const nlohmann::json& item, const RegistryItem& key) {
  const std::optional<double> remove = NumberField(item, "remove");
  // No "remove" deletes only the value; 0 keeps everything; 1 deletes the key's tree.
  const double whole = remove ? std::trunc(*remove) : -1.0;
  if (whole == 0) return;
  platform::Registry& registry = platform::Reg();
  if (registry.OpenKey(key.hive, key.sub_key, key.view) != platform::error::kSuccess) return;
  // A path of only a root names the whole hive: deleting it would wipe everything below the root.
  const bool is_root = key.sub_key.empty();
  if (whole == 1) {
    if (is_root) {
      log::Info("Refused to delete a registry root key with its tree");
      return;
    }
    registry.DeleteTree(key.hive, key.sub_key, key.view);
    return;
  }
  registry.DeleteValue(key.hive, key.sub_key, key.name, key.view);
  platform::RegKeyCounts counts;
  if (!is_root && registry.QueryCounts(key.hive, key.sub_key, counts, key.view) == platform::error::kSuccess &&
      counts.sub_keys == 0 && counts.values == 0) {
    registry.DeleteKey(key.hive, key.sub_key, key.view);
  }
}

}  // namespace

void RunRegistrySection(const nlohmann::json& items, const ScriptContext& context) {
  for (const auto& item : items) {
    const std::optional<RegistryItem> key = ReadItem(item, context);
    if (!key) continue;
    if (context.uninstall) {
      Uninstall(item, *key);
    } else {
      Install(item, *key, context);
    }
  }
}

}  // namespace orvo::script
