// Firewall rules in the registry store, in the rule-string form of the firewall service. The store is the
// machine's: it is seen the same from the 32- and the 64-bit view (the key is not redirected).
#include "platform/firewall.h"

#include <array>
#include <random>
#include <utility>

#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win_types.h"

namespace orvo::platform {

namespace {

constexpr std::string_view kRuleVersion = "v2.10";

struct ProfileTag {
  std::uint32_t bit;
  const char* text;
};
constexpr std::array<ProfileTag, 3> kProfileTags{{{kFirewallProfileDomain, "Domain"},
                                                  {kFirewallProfilePrivate, "Private"},
                                                  {kFirewallProfilePublic, "Public"}}};

bool Writable(std::string_view text) { return text.find('|') == std::string_view::npos; }

void AppendField(std::string& out, std::string_view key, std::string_view value) {
  out.append(key).append("=").append(value).append("|");
}

// A rule id as the firewall gives to rules made through its policy object: a GUID in braces.
std::string NewRuleId() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  const std::uint64_t high = generator();
  const std::uint64_t low = generator();
  return Format("{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFFu), static_cast<unsigned>(high & 0xFFFFu),
                static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
}

// Fields this layer does not set (ports, protocols, ...) are passed over.
void ApplyField(FirewallRule& rule, std::string_view key, std::string_view value, std::uint32_t& profiles) {
  if (key == "Action") {
    rule.action = value == "Allow" ? FirewallAction::kAllow : FirewallAction::kBlock;
  } else if (key == "Active") {
    rule.enabled = EqualsNoCase(value, "TRUE");
  } else if (key == "Dir") {
    rule.direction = value == "Out" ? FirewallDirection::kOut : FirewallDirection::kIn;
  } else if (key == "Profile") {
    for (const ProfileTag& tag : kProfileTags) {
      if (value == tag.text) profiles |= tag.bit;
    }
  } else if (key == "App") {
    rule.application_name = std::string(value);
  } else if (key == "Name") {
    rule.name = std::string(value);
  } else if (key == "Desc") {
    rule.description = std::string(value);
  } else if (key == "EmbedCtxt") {
    rule.grouping = std::string(value);
  }
}

class RegistryFirewallRules : public FirewallRules {
 public:
  std::uint32_t Add(const FirewallRule& rule) override {
    if (rule.name.empty()) return error::kInvalidParameter;
    const std::optional<std::string> text = FirewallRuleToString(rule);
    if (!text) return error::kInvalidParameter;
    std::string id = NewRuleId();
    RegValue existing;
    while (Reg().QueryValue(Hive::kLocalMachine, kFirewallRulesKey, id, existing, RegView::kView64) ==
           error::kSuccess) {
      id = NewRuleId();
    }
    return Reg().SetString(Hive::kLocalMachine, kFirewallRulesKey, id, *text, RegView::kView64);
  }

  std::uint32_t Remove(std::string_view name) override {
    std::vector<RegValue> values;
    if (std::uint32_t failure = Reg().ListValues(Hive::kLocalMachine, kFirewallRulesKey, values, RegView::kView64)) {
      return failure;
    }
    for (const RegValue& value : values) {
      if (value.type != RegType::kString) continue;
      const std::optional<FirewallRule> rule = ParseFirewallRule(value.text);
      if (rule && EqualsNoCase(rule->name, name)) {
        return Reg().DeleteValue(Hive::kLocalMachine, kFirewallRulesKey, value.name, RegView::kView64);
      }
    }
    return error::kSuccess;
  }

  std::vector<FirewallRule> List() override {
    std::vector<RegValue> values;
    std::vector<FirewallRule> rules;
    if (Reg().ListValues(Hive::kLocalMachine, kFirewallRulesKey, values, RegView::kView64) != error::kSuccess) {
      return rules;
    }
    for (const RegValue& value : values) {
      if (value.type != RegType::kString) continue;
      if (std::optional<FirewallRule> rule = ParseFirewallRule(value.text)) rules.push_back(std::move(*rule));
    }
    return rules;
  }
};

}  // namespace

std::optional<std::string> FirewallRuleToString(const FirewallRule& rule) {
  for (std::string_view text : {std::string_view(rule.name), std::string_view(rule.description),
                                std::string_view(rule.application_name), std::string_view(rule.grouping)}) {
    if (!Writable(text)) return std::nullopt;
  }
  std::string out = std::string(kRuleVersion) + "|";
  AppendField(out, "Action", rule.action == FirewallAction::kAllow ? "Allow" : "Block");
  AppendField(out, "Active", rule.enabled ? "TRUE" : "FALSE");
  AppendField(out, "Dir", rule.direction == FirewallDirection::kIn ? "In" : "Out");
  // A rule of every profile names none, as the service writes it.
  const std::uint32_t profiles = rule.profiles & kFirewallProfilesAll;
  if (profiles != kFirewallProfilesAll) {
    for (const ProfileTag& tag : kProfileTags) {
      if ((profiles & tag.bit) != 0) AppendField(out, "Profile", tag.text);
    }
  }
  if (!rule.application_name.empty()) AppendField(out, "App", rule.application_name);
  AppendField(out, "Name", rule.name);
  if (!rule.description.empty()) AppendField(out, "Desc", rule.description);
  if (!rule.grouping.empty()) AppendField(out, "EmbedCtxt", rule.grouping);
  return out;
}

std::optional<FirewallRule> ParseFirewallRule(std::string_view text) {
  std::vector<std::string> fields = Split(text, '|');
  if (fields.empty() || fields[0].size() < 2 || fields[0][0] != 'v') return std::nullopt;
  FirewallRule rule;
  std::uint32_t profiles = 0;
  for (std::size_t i = 1; i < fields.size(); ++i) {
    const std::string& field = fields[i];
    if (field.empty()) continue;
    const std::size_t equals = field.find('=');
    if (equals == std::string::npos) return std::nullopt;
    ApplyField(rule, std::string_view(field).substr(0, equals), std::string_view(field).substr(equals + 1),
               profiles);
  }
  rule.profiles = profiles == 0 ? kFirewallProfilesAll : profiles;
  return rule;
}

std::unique_ptr<FirewallRules> OpenFirewallRules(std::uint32_t* error) {
  std::uint32_t failure = Installed() ? Reg().CreateKey(Hive::kLocalMachine, kFirewallRulesKey, RegView::kView64)
                                      : error::kInvalidHandle;
  if (error != nullptr) *error = failure;
  if (failure != error::kSuccess) return nullptr;
  return std::make_unique<RegistryFirewallRules>();
}

}  // namespace orvo::platform
