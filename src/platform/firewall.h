// Windows Firewall application rules: the policy's rule collection (INetFwPolicy2 / INetFwRules). This
// layer keeps the rules where Windows keeps them, one REG_SZ value per rule under HKLM
// "SYSTEM\CurrentControlSet\Services\SharedAccess\Parameters\FirewallPolicy\FirewallRules", its name the
// rule id and its data the rule string ("v2.10|Action=Allow|Active=TRUE|Dir=In|App=...|Name=...|").
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::platform {

inline constexpr std::string_view kFirewallRulesKey =
    "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\FirewallRules";

// NET_FW_PROFILE2_*.
inline constexpr std::uint32_t kFirewallProfileDomain = 0x1;
inline constexpr std::uint32_t kFirewallProfilePrivate = 0x2;
inline constexpr std::uint32_t kFirewallProfilePublic = 0x4;
inline constexpr std::uint32_t kFirewallProfilesAll = 0x7;

enum class FirewallAction { kBlock, kAllow };
enum class FirewallDirection { kIn, kOut };

// The properties the installer sets (INetFwRule). Protocol, ports and addresses keep the firewall's
// defaults: any.
struct FirewallRule {
  std::string name;
  std::string description;
  std::string application_name;
  std::string grouping;
  std::uint32_t profiles = kFirewallProfilesAll;
  FirewallAction action = FirewallAction::kAllow;
  bool enabled = true;
  FirewallDirection direction = FirewallDirection::kIn;

  bool operator==(const FirewallRule&) const = default;
};

// The rule string. A text containing "|" cannot be written (the form has no escape for it).
std::optional<std::string> FirewallRuleToString(const FirewallRule& rule);
std::optional<FirewallRule> ParseFirewallRule(std::string_view text);

// The policy's rule collection.
class FirewallRules {
 public:
  virtual ~FirewallRules() = default;
  // INetFwRules::Add: every call adds a rule, whatever rules of the same name exist. 0, or
  // kInvalidParameter for a rule that has no name or cannot be written, or the store's error.
  virtual std::uint32_t Add(const FirewallRule& rule) = 0;
  // INetFwRules::Remove: the first rule of that name (names compare without regard to case); a name
  // that no rule carries is no error.
  virtual std::uint32_t Remove(std::string_view name) = 0;
  // Every readable rule, in the order they were added.
  virtual std::vector<FirewallRule> List() = 0;
};

// CoCreateInstance(NetFwPolicy2) + get_Rules over the process's registry store: null, with *error set,
// when the store cannot be reached.
std::unique_ptr<FirewallRules> OpenFirewallRules(std::uint32_t* error = nullptr);

}  // namespace orvo::platform
