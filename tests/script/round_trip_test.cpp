// One script with every section and phase, run in install and then in uninstall mode on a fresh system
// root: afterwards the registry is as it was, but for what "remove" 0 keeps.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/firewall.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "script/cipher.h"
#include "script/package_script.h"
#include "support/recording_launcher.h"
#include "support/test_root.h"

namespace orvo::script {
namespace {

using platform::Hive;
using platform::RegView;

constexpr const char* kFolder = "C:\\Program Files (x86)\\Orvo\\RoundTrip";
constexpr std::string_view kFirewallKey = platform::kFirewallRulesKey;

// Every key and value of a hive, in the 64-bit view (which shows WOW6432Node as an ordinary key).
void Walk(Hive hive, const std::string& prefix, const std::string& path, std::set<std::string>& out) {
  platform::Registry& registry = platform::Reg();
  out.insert(prefix + path);
  std::vector<platform::RegValue> values;
  registry.ListValues(hive, path, values, RegView::kView64);
  for (const auto& value : values) {
    out.insert(prefix + path + "|" + value.name + "=" +
               (value.type == platform::RegType::kDword ? std::to_string(value.number) : value.text));
  }
  std::vector<std::string> names;
  registry.ListSubKeys(hive, path, names, RegView::kView64);
  for (const auto& name : names) Walk(hive, prefix, path.empty() ? name : path + "\\" + name, out);
}

std::set<std::string> Snapshot() {
  std::set<std::string> all;
  Walk(Hive::kLocalMachine, "HKLM\\", "", all);
  Walk(Hive::kCurrentUser, "HKCU\\", "", all);
  return all;
}

TEST(PackageScriptRoundTrip, UninstallLeavesTheRegistryAsItWasButForWhatIsKept) {
  test::TestRoot root;
  auto launcher = test::RecordingLauncher::Install();
  // What Windows itself has: the firewall's rule store exists before any package.
  ASSERT_EQ(platform::Reg().CreateKey(Hive::kLocalMachine, kFirewallKey, RegView::kView64), 0u);
  root.WriteFile(std::string(kFolder) + "\\leftover.txt", "x");
  const std::string script = std::string(kFolder) + "\\orvopack.bin";
  root.WriteFile(script, AesCipher::ForPackageScripts().Encrypt(R"({
    "app": "%~dp0app.exe",
    "beforeinstall": [{"name": "taskkill", "data": ["OrvoNotRunning.exe"]}, {"name": "cmd", "data": ["echo in"]}],
    "registry": [
      {"path": "HKLM\\SOFTWARE\\OrvoRoundTrip", "name": "Path", "data": "%~dp0"},
      {"path": "HKLM\\SOFTWARE\\OrvoRoundTrip", "type": "REG_DWORD", "name": "Count", "data": 3},
      {"path": "HKLM\\SOFTWARE\\OrvoWide", "name": "w", "data": "64", "64key": true},
      {"path": "HKCU\\Software\\OrvoTree\\A", "name": "x", "data": "1"},
      {"path": "HKCU\\Software\\OrvoTree", "name": "y", "data": "2", "remove": 1},
      {"path": "HKCU\\Software\\OrvoKept", "name": "k", "data": "stays", "remove": 0}
    ],
    "registertype": [{"extensions": [".orv"], "prekey": "Orvo", "postkey": "1", "path": "%app%"}],
    "regsvr32": [{"path": "%~dp0codec.dll"}],
    "firewall": [{"name": "Orvo Round Trip", "path": "%app%"}],
    "service": [{"servicename": "OrvoRT", "binpath": "%~dp0svc.exe", "displayname": "Orvo RT",
                 "starttype": "auto", "description": "round trip"}],
    "afterinstall": [{"name": "checkfrsdk", "data": ["%~dp0plain.dll"], "todata": ["%~dp0target.dll"]}],
    "beforeuninstall": [{"name": "uninstallmsi", "data": ["Orvo Nothing"]}],
    "afteruninstall": [{"name": "fileremove", "data": ["%~dp0leftover.txt"]}]})"));

  const std::set<std::string> before = Snapshot();
  ASSERT_TRUE(RunPackageScript(script, false, true));
  const std::set<std::string> installed = Snapshot();
  EXPECT_TRUE(installed.count("HKLM\\SOFTWARE\\WOW6432Node\\OrvoRoundTrip|Count=3"));
  EXPECT_TRUE(installed.count("HKLM\\SOFTWARE\\OrvoWide|w=64"));
  EXPECT_TRUE(installed.count("HKCU\\Software\\OrvoTree\\A|x=1"));
  std::vector<platform::RegValue> rules;
  platform::Reg().ListValues(Hive::kLocalMachine, kFirewallKey, rules, RegView::kView64);
  ASSERT_EQ(rules.size(), 1u);
  EXPECT_NE(rules[0].text.find("Name=Orvo Round Trip"), std::string::npos);
  EXPECT_FALSE(launcher->requests.empty());

  ASSERT_TRUE(RunPackageScript(script, true, false));
  std::set<std::string> left = Snapshot();
  for (const auto& entry : before) left.erase(entry);
  EXPECT_EQ(left, (std::set<std::string>{"HKCU\\Software\\OrvoKept", "HKCU\\Software\\OrvoKept|k=stays"}));
  for (const auto& entry : before) EXPECT_TRUE(Snapshot().count(entry)) << entry;
  EXPECT_FALSE(std::filesystem::exists(root.Linux(std::string(kFolder) + "\\leftover.txt")));
}

}  // namespace
}  // namespace orvo::script
