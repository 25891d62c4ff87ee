// The "registry" section: every item form in both directions, on the registry store of a test root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/log.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/win_types.h"
#include "script/script_context.h"
#include "support/pe_builder.h"
#include "support/test_root.h"

namespace orvo::script {
namespace {

using platform::Hive;
using platform::Registry;
using platform::RegKeyCounts;
using platform::RegValue;
using platform::RegView;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The store with a record of the deletions, and failures on demand for keys whose path holds a marker.
class WatchedRegistry : public Registry {
 public:
  explicit WatchedRegistry(std::unique_ptr<Registry> inner) : inner_(std::move(inner)) {}

  std::vector<std::string> deletions;  // "tree <path>" / "key <path>"
  std::string fail_create;             // CreateKey and OpenKey fail for paths containing it
  std::string fail_set;                // SetString / SetDword fail for paths containing it

  std::uint32_t CreateKey(Hive hive, std::string_view path, RegView view) override {
    if (Marked(path, fail_create)) return platform::error::kAccessDenied;
    return inner_->CreateKey(hive, path, view);
  }
  std::uint32_t OpenKey(Hive hive, std::string_view path, RegView view) override {
    if (Marked(path, fail_create)) return platform::error::kFileNotFound;
    return inner_->OpenKey(hive, path, view);
  }
  std::uint32_t DeleteKey(Hive hive, std::string_view path, RegView view) override {
    deletions.push_back("key " + std::string(path));
    return inner_->DeleteKey(hive, path, view);
  }
  std::uint32_t DeleteTree(Hive hive, std::string_view path, RegView view) override {
    deletions.push_back("tree " + std::string(path));
    return inner_->DeleteTree(hive, path, view);
  }
  std::uint32_t SetString(Hive hive, std::string_view path, std::string_view name, std::string_view text,
                          RegView view) override {
    if (Marked(path, fail_set)) return platform::error::kAccessDenied;
    return inner_->SetString(hive, path, name, text, view);
  }
  std::uint32_t SetDword(Hive hive, std::string_view path, std::string_view name, std::uint32_t number,
                         RegView view) override {
    if (Marked(path, fail_set)) return platform::error::kAccessDenied;
    return inner_->SetDword(hive, path, name, number, view);
  }
  std::uint32_t QueryValue(Hive hive, std::string_view path, std::string_view name, RegValue& value,
                           RegView view) override {
    return inner_->QueryValue(hive, path, name, value, view);
  }
  std::uint32_t DeleteValue(Hive hive, std::string_view path, std::string_view name, RegView view) override {
    return inner_->DeleteValue(hive, path, name, view);
  }
  std::uint32_t EnumKey(Hive hive, std::string_view path, std::uint32_t index, std::string& name,
                        RegView view) override {
    return inner_->EnumKey(hive, path, index, name, view);
  }
  std::uint32_t EnumValue(Hive hive, std::string_view path, std::uint32_t index, RegValue& value,
                          RegView view) override {
    return inner_->EnumValue(hive, path, index, value, view);
  }
  std::uint32_t ListSubKeys(Hive hive, std::string_view path, std::vector<std::string>& names, RegView view) override {
    return inner_->ListSubKeys(hive, path, names, view);
  }
  std::uint32_t ListValues(Hive hive, std::string_view path, std::vector<RegValue>& values, RegView view) override {
    return inner_->ListValues(hive, path, values, view);
  }
  std::uint32_t QueryCounts(Hive hive, std::string_view path, RegKeyCounts& counts, RegView view) override {
    return inner_->QueryCounts(hive, path, counts, view);
  }

 private:
  static bool Marked(std::string_view path, const std::string& marker) {
    return !marker.empty() && path.find(marker) != std::string_view::npos;
  }
  std::unique_ptr<Registry> inner_;
};

constexpr const char* kKey = "SOFTWARE\\Orvo\\Test";

class RegistrySectionTest : public ::testing::Test {
 protected:
  RegistrySectionTest() {
    auto& slot = root_.Platform().registry;
    auto watched = std::make_unique<WatchedRegistry>(std::move(slot));
    watched_ = watched.get();
    slot = std::move(watched);
    context_.variables = {{"%~dp0", "C:\\Pkg\\"}, {"%vendor%", "Orvo"}, {"%value%", "Path"}, {"%t%", "REG_SZ"}};
  }

  void Run(const std::string& items, bool uninstall = false) {
    context_.uninstall = uninstall;
    RunRegistrySection(nlohmann::json::parse(items), context_);
  }
  Registry& Reg() { return platform::Reg(); }
  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const auto& entry : capture_.Entries()) messages.push_back(entry.message);
    return messages;
  }
  // A key with two values and a sub-key, in the default view.
  void Populate(const std::string& key) {
    ASSERT_EQ(Reg().CreateKey(Hive::kLocalMachine, key + "\\Sub"), 0u);
    ASSERT_EQ(Reg().SetString(Hive::kLocalMachine, key, "A", "a"), 0u);
    ASSERT_EQ(Reg().SetString(Hive::kLocalMachine, key, "B", "b"), 0u);
  }
  void PutHtmlEngine(const std::string& folder, const test::PeVersion& version) {
    root_.WriteFile(folder + "\\mshtml.dll", test::BuildVersionedPe(version, version, {}));
  }

  test::TestRoot root_;
  WatchedRegistry* watched_ = nullptr;
  ScriptContext context_;
  log::ScopedCapture capture_;
};

struct RootCase {
  const char* path;
  Hive hive;
  const char* sub_key;
};

TEST_F(RegistrySectionTest, RootNamesMapWithoutRegardToCaseAndUnknownOnesToLocalMachine) {
  const RootCase cases[] = {
      {"HKCU\\Software\\Orvo\\1", Hive::kCurrentUser, "Software\\Orvo\\1"},
      {"hkcu\\Software\\Orvo\\2", Hive::kCurrentUser, "Software\\Orvo\\2"},
      {"HKEY_CURRENT_USER\\Software\\Orvo\\3", Hive::kCurrentUser, "Software\\Orvo\\3"},
      {"HKLM\\SOFTWARE\\Orvo\\4", Hive::kLocalMachine, "SOFTWARE\\Orvo\\4"},
      {"Hkey_Local_Machine\\SOFTWARE\\Orvo\\5", Hive::kLocalMachine, "SOFTWARE\\Orvo\\5"},
      {"HKCR\\.orvo6", Hive::kClassesRoot, ".orvo6"},
      {"hkey_classes_root\\.orvo7", Hive::kClassesRoot, ".orvo7"},
      {"HKU\\Software\\Orvo\\8", Hive::kLocalMachine, "Software\\Orvo\\8"},
  };
  for (const RootCase& c : cases) {
    Run(nlohmann::json::array({{{"path", c.path}, {"name", "N"}, {"data", c.path}}}).dump());
    EXPECT_EQ(Reg().ReadString(c.hive, c.sub_key, "N"), c.path);
    const Hive other = c.hive == Hive::kCurrentUser ? Hive::kLocalMachine : Hive::kCurrentUser;
    EXPECT_EQ(Reg().OpenKey(other, c.sub_key), platform::error::kFileNotFound) << c.path;
  }
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(RegistrySectionTest, StringItemsExpandPathNameAndDataAndARootWithBackslashWritesUnderTheRoot) {
  Run(R"([{"path": "HKLM\\SOFTWARE\\%vendor%\\App", "name": "Install%value%", "data": "%~dp0bin"},
          {"path": "HKCU\\", "name": "AtRoot", "data": "r"},
          {"path": "HKCU\\Software\\Orvo\\Typed", "type": "REG_SZ", "data": "default value"},
          {"path": "HKCU\\Software\\Orvo\\Number", "name": "N", "data": 12}])");
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, "SOFTWARE\\Orvo\\App", "InstallPath"), "C:\\Pkg\\bin");
  EXPECT_EQ(Reg().ReadString(Hive::kCurrentUser, "", "AtRoot"), "r");
  EXPECT_EQ(Reg().ReadString(Hive::kCurrentUser, "Software\\Orvo\\Typed", ""), "default value");
  // A number is not string data: the value is written empty.
  EXPECT_EQ(Reg().ReadString(Hive::kCurrentUser, "Software\\Orvo\\Number", "N"), "");
}

TEST_F(RegistrySectionTest, ItemsGoToTheDefaultViewUnlessTheyAskForThe64BitOne) {
  Run(R"([{"path": "HKLM\\SOFTWARE\\Orvo\\V32", "name": "n", "data": "32"},
          {"path": "HKLM\\SOFTWARE\\Orvo\\V64", "name": "n", "data": "64", "64key": true},
          {"path": "HKLM\\SOFTWARE\\Orvo\\NotBool", "name": "n", "data": "x", "64key": "true"}])");
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, "SOFTWARE\\Orvo\\V32", "n"), "32");
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, "SOFTWARE\\Orvo\\V32", "n", RegView::kView64), std::nullopt);
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, "SOFTWARE\\WOW6432Node\\Orvo\\V32", "n", RegView::kView64), "32");
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, "SOFTWARE\\Orvo\\V64", "n", RegView::kView64), "64");
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, "SOFTWARE\\Orvo\\V64", "n"), std::nullopt);
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, "SOFTWARE\\Orvo\\NotBool", "n"), "x");
}

TEST_F(RegistrySectionTest, DwordDataIsTheNumberAndOtherTypesWriteNothing) {
  Run(R"([{"path": "HKCU\\Software\\Orvo\\D", "type": "REG_DWORD", "name": "int", "data": 5},
          {"path": "HKCU\\Software\\Orvo\\D", "type": "REG_DWORD", "name": "float", "data": 2.9},
          {"path": "HKCU\\Software\\Orvo\\D", "type": "REG_DWORD", "name": "minusOne", "data": -1},
          {"path": "HKCU\\Software\\Orvo\\D", "type": "REG_DWORD", "name": "max", "data": 4294967295},
          {"path": "HKCU\\Software\\Orvo\\D", "type": "REG_DWORD", "name": "wraps", "data": 4294967301},
          {"path": "HKCU\\Software\\Orvo\\D", "type": "REG_DWORD", "name": "string", "data": "7"},
          {"path": "HKCU\\Software\\Orvo\\D", "type": "REG_DWORD", "name": "absent"},
          {"path": "HKCU\\Software\\Orvo\\D", "type": "reg_sz", "name": "lower", "data": "x"},
          {"path": "HKCU\\Software\\Orvo\\D", "type": "%t%", "name": "unexpanded", "data": "x"},
          {"path": "HKCU\\Software\\Orvo\\D", "type": "REG_BINARY", "name": "binary", "data": "x"}])");
  const std::string key = "Software\\Orvo\\D";
  EXPECT_EQ(Reg().ReadDword(Hive::kCurrentUser, key, "int"), 5u);
  EXPECT_EQ(Reg().ReadDword(Hive::kCurrentUser, key, "float"), 2u);
  EXPECT_EQ(Reg().ReadDword(Hive::kCurrentUser, key, "minusOne"), 0xFFFFFFFFu);
  EXPECT_EQ(Reg().ReadDword(Hive::kCurrentUser, key, "max"), 0xFFFFFFFFu);
  EXPECT_EQ(Reg().ReadDword(Hive::kCurrentUser, key, "wraps"), 5u);
  EXPECT_EQ(Reg().ReadDword(Hive::kCurrentUser, key, "string"), 0u);
  EXPECT_EQ(Reg().ReadDword(Hive::kCurrentUser, key, "absent"), 0u);
  std::vector<RegValue> values;
  ASSERT_EQ(Reg().ListValues(Hive::kCurrentUser, key, values), 0u);
  EXPECT_EQ(values.size(), 7u);  // nothing for the other types, and no log line for them
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(RegistrySectionTest, BrowserEmulationFollowsTheMajorVersionOfTheHtmlEngine) {
  const std::string system = "C:\\Windows\\SysWOW64";  // what this 32-bit process finds as its system folder
  const struct {
    std::uint16_t major;
    std::uint32_t expected;
  } cases[] = {{7, 7000}, {8, 8000}, {9, 9000}, {10, 10000}, {11, 11000}, {12, 11000}, {6, 11000}};
  for (const auto& c : cases) {
    PutHtmlEngine(system, {c.major, 0, 9600, 19003});
    Run(R"([{"path": "HKCU\\Software\\Orvo\\Ie", "type": "REG_DWORD", "name": "app.exe", "data": 1,
             "ieautomatic": true}])");
    EXPECT_EQ(Reg().ReadDword(Hive::kCurrentUser, "Software\\Orvo\\Ie", "app.exe"), c.expected) << c.major;
  }
  // Only for DWORD items, and only when the flag is a boolean true.
  Run(R"([{"path": "HKCU\\Software\\Orvo\\Ie", "name": "text", "data": "1", "ieautomatic": true},
          {"path": "HKCU\\Software\\Orvo\\Ie", "type": "REG_DWORD", "name": "off", "data": 3, "ieautomatic": false},
          {"path": "HKCU\\Software\\Orvo\\Ie", "type": "REG_DWORD", "name": "notBool", "data": 4,
           "ieautomatic": 1}])");
  EXPECT_EQ(Reg().ReadString(Hive::kCurrentUser, "Software\\Orvo\\Ie", "text"), "1");
  EXPECT_EQ(Reg().ReadDword(Hive::kCurrentUser, "Software\\Orvo\\Ie", "off"), 3u);
  EXPECT_EQ(Reg().ReadDword(Hive::kCurrentUser, "Software\\Orvo\\Ie", "notBool"), 4u);
}

TEST_F(RegistrySectionTest, WithoutAReadableHtmlEngineTheNumericDataIsWritten) {
  const std::string item = R"([{"path": "HKCU\\Software\\Orvo\\Ie", "type": "REG_DWORD", "name": "app.exe",
                                "data": 8888, "ieautomatic": true}])";
  Run(item);  // no mshtml.dll anywhere
  EXPECT_EQ(Reg().ReadDword(Hive::kCurrentUser, "Software\\Orvo\\Ie", "app.exe"), 8888u);

  // The 64-bit system folder is not this 32-bit process's system folder.
  PutHtmlEngine("C:\\Windows\\Sysnative", {9, 0, 0, 0});
  Run(item);
  EXPECT_EQ(Reg().ReadDword(Hive::kCurrentUser, "Software\\Orvo\\Ie", "app.exe"), 8888u);

  // A file without a version resource.
  test::PeImageOptions options;
  options.version.reset();
  root_.WriteFile("C:\\Windows\\SysWOW64\\mshtml.dll", test::BuildPeImage(options).bytes);
  Run(item);
  EXPECT_EQ(Reg().ReadDword(Hive::kCurrentUser, "Software\\Orvo\\Ie", "app.exe"), 8888u);
}

TEST(RegistrySectionOn32BitWindows, TheHtmlEngineIsFoundInSystem32) {
  test::TestRoot root(R"({"windows64": false})");
  root.WriteFile("C:\\Windows\\System32\\mshtml.dll", test::BuildVersionedPe({9, 0, 8112, 16421}, {9, 0, 0, 0}, {}));
  ScriptContext context;
  RunRegistrySection(nlohmann::json::parse(R"([{"path": "HKLM\\SOFTWARE\\Orvo", "type": "REG_DWORD",
                                                "name": "app.exe", "data": 1, "ieautomatic": true}])"),
                     context);
  EXPECT_EQ(platform::Reg().ReadDword(Hive::kLocalMachine, "SOFTWARE\\Orvo", "app.exe"), 9000u);
}

TEST_F(RegistrySectionTest, InvalidItemsAreLoggedAndSkippedAndTheOthersRun) {
  Run(R"([{"path": "", "data": "x"},
          {"path": "%nothing%", "data": "x"},
          {"path": "HKLM", "data": "x"},
          {"data": "no path at all"},
          {"path": 5, "data": "path of another type"},
          "not an object", 7,
          {"path": "HKCU\\Software\\Orvo\\After", "name": "n", "data": "written"}])");
  EXPECT_THAT(
      Messages(),
      ElementsAre("find one invalid registry item, no key path",
                  "It seems the original str is not fully parsed, oriStr: %nothing%",
                  "find one invalid registry item, invalid key path",
                  "find one invalid registry item, invalid key path", "find one invalid registry item, no key path",
                  "find one invalid registry item, no key path", "find one invalid registry item, no key path",
                  "find one invalid registry item, no key path"));
  EXPECT_EQ(Reg().ReadString(Hive::kCurrentUser, "Software\\Orvo\\After", "n"), "written");
  // Nothing landed on a root key.
  std::vector<RegValue> values;
  ASSERT_EQ(Reg().ListValues(Hive::kLocalMachine, "", values), 0u);
  EXPECT_THAT(values, IsEmpty());
}

TEST_F(RegistrySectionTest, KeysThatCannotBeCreatedAndValuesThatCannotBeSetAreLogged) {
  watched_->fail_create = "NoCreate";
  watched_->fail_set = "NoSet";
  Run(R"([{"path": "HKLM\\SOFTWARE\\NoCreate\\%vendor%", "name": "n", "data": "x"},
          {"path": "HKLM\\SOFTWARE\\NoSet", "name": "Value%value%", "data": "x"},
          {"path": "HKLM\\SOFTWARE\\NoSet", "type": "REG_DWORD", "name": "Number", "data": 1},
          {"path": "HKLM\\SOFTWARE\\NoSet", "type": "REG_BINARY", "name": "Ignored", "data": "x"},
          {"path": "HKLM\\SOFTWARE\\Fine", "name": "n", "data": "y"}])");
  EXPECT_THAT(Messages(), ElementsAre("Failed to create key SOFTWARE\\NoCreate\\Orvo",
                                      "Failed to set registry, keyPath:SOFTWARE\\NoSet, keyName: ValuePath",
                                      "Failed to set registry, keyPath:SOFTWARE\\NoSet, keyName: Number"));
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, "SOFTWARE\\Fine", "n"), "y");
}

TEST_F(RegistrySectionTest, InstallingIntoAnExistingKeyKeepsItsOtherValues) {
  Populate(kKey);
  Run(R"([{"path": "HKLM\\SOFTWARE\\Orvo\\Test", "name": "A", "data": "new"}])");
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, kKey, "A"), "new");
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, kKey, "B"), "b");
}

TEST_F(RegistrySectionTest, UninstallWithoutRemoveDeletesTheValueAndTheKeyOnlyWhenItIsLeftEmpty) {
  ASSERT_EQ(Reg().CreateKey(Hive::kLocalMachine, "SOFTWARE\\Orvo\\Lone"), 0u);
  ASSERT_EQ(Reg().SetString(Hive::kLocalMachine, "SOFTWARE\\Orvo\\Lone", "A", "a"), 0u);
  Populate(kKey);
  ASSERT_EQ(Reg().CreateKey(Hive::kLocalMachine, "SOFTWARE\\Orvo\\WithSub\\Sub"), 0u);
  ASSERT_EQ(Reg().SetString(Hive::kLocalMachine, "SOFTWARE\\Orvo\\WithSub", "A", "a"), 0u);

  // type, data and ieautomatic play no part in uninstalling.
  Run(R"([{"path": "HKLM\\SOFTWARE\\Orvo\\Lone", "name": "A", "type": "bogus", "data": 1},
          {"path": "HKLM\\SOFTWARE\\Orvo\\Test", "name": "A"},
          {"path": "HKLM\\SOFTWARE\\Orvo\\WithSub", "name": "A", "remove": "1"},
          {"path": "HKLM\\SOFTWARE\\Orvo\\Missing", "name": "A"},
          {"path": "HKLM\\SOFTWARE\\Orvo\\Test", "name": "NotThere"}])",
      true);
  EXPECT_EQ(Reg().OpenKey(Hive::kLocalMachine, "SOFTWARE\\Orvo\\Lone"), platform::error::kFileNotFound);
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, kKey, "A"), std::nullopt);
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, kKey, "B"), "b");
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, "SOFTWARE\\Orvo\\WithSub", "A"), std::nullopt);
  EXPECT_EQ(Reg().OpenKey(Hive::kLocalMachine, "SOFTWARE\\Orvo\\WithSub\\Sub"), 0u);
  EXPECT_THAT(watched_->deletions, ElementsAre("key SOFTWARE\\Orvo\\Lone"));
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(RegistrySectionTest, UninstallRemoveZeroKeepsAndRemoveOneDeletesTheWholeKey) {
  Populate(kKey);
  Populate("SOFTWARE\\Orvo\\Kept");
  Run(R"([{"path": "HKLM\\SOFTWARE\\Orvo\\Kept", "name": "A", "remove": 0},
          {"path": "HKLM\\SOFTWARE\\Orvo\\Test", "name": "A", "remove": 1},
          {"path": "HKLM\\SOFTWARE\\Orvo\\Missing", "remove": 1}])",
      true);
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, "SOFTWARE\\Orvo\\Kept", "A"), "a");
  EXPECT_EQ(Reg().OpenKey(Hive::kLocalMachine, kKey), platform::error::kFileNotFound);
  EXPECT_EQ(Reg().OpenKey(Hive::kLocalMachine, "SOFTWARE\\Orvo"), 0u);
  EXPECT_THAT(watched_->deletions, ElementsAre("tree SOFTWARE\\Orvo\\Test"));
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(RegistrySectionTest, Uninstalling64BitItemsWorksInThe64BitViewOnly) {
  for (RegView view : {RegView::kDefault, RegView::kView64}) {
    ASSERT_EQ(Reg().CreateKey(Hive::kLocalMachine, "SOFTWARE\\Orvo\\Tree\\Sub", view), 0u);
    ASSERT_EQ(Reg().CreateKey(Hive::kLocalMachine, "SOFTWARE\\Orvo\\Lone", view), 0u);
    ASSERT_EQ(Reg().SetString(Hive::kLocalMachine, "SOFTWARE\\Orvo\\Lone", "A", "a", view), 0u);
  }
  Run(R"([{"path": "HKLM\\SOFTWARE\\Orvo\\Tree", "remove": 1, "64key": true},
          {"path": "HKLM\\SOFTWARE\\Orvo\\Lone", "name": "A", "64key": true}])",
      true);
  EXPECT_EQ(Reg().OpenKey(Hive::kLocalMachine, "SOFTWARE\\Orvo\\Tree", RegView::kView64), 2u);
  EXPECT_EQ(Reg().OpenKey(Hive::kLocalMachine, "SOFTWARE\\Orvo\\Lone", RegView::kView64), 2u);
  // The 32-bit twins stay as they were.
  EXPECT_EQ(Reg().OpenKey(Hive::kLocalMachine, "SOFTWARE\\Orvo\\Tree\\Sub"), 0u);
  EXPECT_EQ(Reg().ReadString(Hive::kLocalMachine, "SOFTWARE\\Orvo\\Lone", "A"), "a");
}

TEST_F(RegistrySectionTest, UninstallNeverDeletesARootKey) {
  ASSERT_EQ(Reg().CreateKey(Hive::kCurrentUser, "Software\\Other"), 0u);
  ASSERT_EQ(Reg().SetString(Hive::kCurrentUser, "", "AtRoot", "r"), 0u);
  Run(R"([{"path": "HKCU\\", "remove": 1}, {"path": "HKCU\\", "name": "AtRoot"}])", true);
  EXPECT_THAT(watched_->deletions, IsEmpty());
  EXPECT_EQ(Reg().ReadString(Hive::kCurrentUser, "", "AtRoot"), std::nullopt);  // the value itself goes
  EXPECT_EQ(Reg().OpenKey(Hive::kCurrentUser, "Software\\Other"), 0u);
  EXPECT_THAT(Messages(), ElementsAre("Refused to delete a registry root key with its tree"));
}

}  // namespace
}  // namespace orvo::script
