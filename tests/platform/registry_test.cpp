#include "platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/win_types.h"
#include "support/test_root.h"

extern char** environ;

namespace orvo::platform {
namespace {

constexpr Hive kHklm = Hive::kLocalMachine;
constexpr Hive kHkcu = Hive::kCurrentUser;
constexpr Hive kHkcr = Hive::kClassesRoot;
constexpr const char* kChildDatabaseVariable = "ORVO_REGISTRY_CHILD_DB";

class RegistryStoreTest : public ::testing::Test {
 protected:
  // A parent folder that does not exist yet: the store creates it.
  std::string File() const { return (folder_.Path() / "system root" / "registry.db").string(); }

  std::unique_ptr<Registry> Open(bool windows64 = true) {
    std::uint32_t problem = 12345;
    auto store = OpenRegistryStore(File(), windows64, &problem);
    EXPECT_EQ(problem, error::kSuccess);
    EXPECT_NE(store, nullptr);
    return store;
  }

  std::vector<std::string> ValueNames(Registry& store, Hive hive, const std::string& path,
                                      RegView view = RegView::kDefault) {
    std::vector<RegValue> values;
    EXPECT_EQ(store.ListValues(hive, path, values, view), error::kSuccess);
    std::vector<std::string> names;
    for (const RegValue& value : values) names.push_back(value.name);
    return names;
  }

  std::vector<std::string> SubKeys(Registry& store, Hive hive, const std::string& path,
                                   RegView view = RegView::kDefault) {
    std::vector<std::string> names;
    EXPECT_EQ(store.ListSubKeys(hive, path, names, view), error::kSuccess);
    return names;
  }

  test::TempFolder folder_;
};

using Names = std::vector<std::string>;

TEST_F(RegistryStoreTest, KeyNamesIgnoreCaseAndKeepTheFirstSpelling) {
  auto store = Open();
  ASSERT_EQ(store->CreateKey(kHkcu, "Software\\Orvo\\Shared"), error::kSuccess);
  EXPECT_EQ(store->CreateKey(kHkcu, "SOFTWARE\\ORVO\\shared\\Extra"), error::kSuccess);
  EXPECT_EQ(store->OpenKey(kHkcu, "software\\orvo\\SHARED\\extra"), error::kSuccess);
  EXPECT_EQ(SubKeys(*store, kHkcu, "Software"), Names{"Orvo"});
  EXPECT_EQ(SubKeys(*store, kHkcu, "software\\oRVO"), Names{"Shared"});
  EXPECT_EQ(SubKeys(*store, kHkcu, "Software\\Orvo\\Shared"), Names{"Extra"});

  // Beyond ASCII: Latin, Greek and Cyrillic letters fold as well.
  ASSERT_EQ(store->CreateKey(kHkcu, "Software\\Ärger\\Σίσυφος\\Ключ"), error::kSuccess);
  EXPECT_EQ(store->OpenKey(kHkcu, "SOFTWARE\\äRGER\\σίσυφοσ\\КЛЮЧ"), error::kSuccess);
  EXPECT_EQ(SubKeys(*store, kHkcu, "software\\ÄRGER\\ΣΊΣΥΦΟΣ"), Names{"Ключ"});
  EXPECT_EQ(store->OpenKey(kHkcu, "Software\\Orvo\\Share"), error::kFileNotFound);
}

TEST_F(RegistryStoreTest, ValueNamesIgnoreCaseAndKeepTheirFirstPlace) {
  auto store = Open();
  const std::string key = "Software\\Orvo";
  ASSERT_EQ(store->CreateKey(kHkcu, key), error::kSuccess);
  ASSERT_EQ(store->SetString(kHkcu, key, "Beta", "1"), error::kSuccess);
  ASSERT_EQ(store->SetDword(kHkcu, key, "alpha", 2), error::kSuccess);
  ASSERT_EQ(store->SetString(kHkcu, key, "", "default"), error::kSuccess);
  ASSERT_EQ(store->SetString(kHkcu, key, "Gamma", "3"), error::kSuccess);
  // Setting again under another spelling changes the value, not its name or place.
  ASSERT_EQ(store->SetString(kHkcu, key, "BETA", "one"), error::kSuccess);
  EXPECT_EQ(ValueNames(*store, kHkcu, key), (Names{"Beta", "alpha", "", "Gamma"}));
  EXPECT_EQ(store->ReadString(kHkcu, key, "beta"), "one");
  EXPECT_EQ(store->ReadString(kHkcu, key, ""), "default");

  RegValue value;
  std::vector<std::string> enumerated;
  std::uint32_t index = 0;
  for (; store->EnumValue(kHkcu, key, index, value) == error::kSuccess; ++index) enumerated.push_back(value.name);
  EXPECT_EQ(index, 4u);
  EXPECT_EQ(enumerated, ValueNames(*store, kHkcu, key));
  EXPECT_EQ(store->EnumValue(kHkcu, key, 4, value), error::kNoMoreItems);

  // A value deleted and set again is a new value: it goes last.
  ASSERT_EQ(store->DeleteValue(kHkcu, key, "ALPHA"), error::kSuccess);
  EXPECT_EQ(store->DeleteValue(kHkcu, key, "alpha"), error::kFileNotFound);
  ASSERT_EQ(store->SetDword(kHkcu, key, "Alpha", 5), error::kSuccess);
  EXPECT_EQ(ValueNames(*store, kHkcu, key), (Names{"Beta", "", "Gamma", "Alpha"}));
}

TEST_F(RegistryStoreTest, SubKeysEnumerateSortedByFoldedName) {
  auto store = Open();
  const std::string key = "Software\\Sorted";
  // Folded to upper case, "_" (0x5F) sorts after the letters, unlike a lower-case comparison.
  for (const char* name : {"b", "_x", "A", "c", "Ab"}) ASSERT_EQ(store->CreateKey(kHkcu, key + "\\" + name), 0u);
  ASSERT_EQ(store->CreateKey(kHkcu, key + "\\b\\grandchild"), error::kSuccess);
  const Names expected = {"A", "Ab", "b", "c", "_x"};
  EXPECT_EQ(SubKeys(*store, kHkcu, key), expected);

  std::string name;
  for (std::uint32_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(store->EnumKey(kHkcu, key, i, name), error::kSuccess);
    EXPECT_EQ(name, expected[i]);
  }
  EXPECT_EQ(store->EnumKey(kHkcu, key, 5, name), error::kNoMoreItems);
  EXPECT_EQ(store->EnumKey(kHkcu, key + "\\A", 0, name), error::kNoMoreItems);

  RegValue value;
  std::vector<std::string> names;
  std::vector<RegValue> values;
  EXPECT_EQ(store->EnumKey(kHkcu, "Software\\Missing", 0, name), error::kFileNotFound);
  EXPECT_EQ(store->EnumValue(kHkcu, "Software\\Missing", 0, value), error::kFileNotFound);
  EXPECT_EQ(store->ListSubKeys(kHkcu, "Software\\Missing", names), error::kFileNotFound);
  EXPECT_EQ(store->ListValues(kHkcu, "Software\\Missing", values), error::kFileNotFound);
}

TEST_F(RegistryStoreTest, QueryCountsCountsDirectSubKeysAndValues) {
  auto store = Open();
  const std::string key = "Software\\Counted";
  ASSERT_EQ(store->CreateKey(kHkcu, key + "\\One\\Deeper"), error::kSuccess);
  ASSERT_EQ(store->CreateKey(kHkcu, key + "\\Two"), error::kSuccess);
  ASSERT_EQ(store->SetString(kHkcu, key, "", "x"), error::kSuccess);
  ASSERT_EQ(store->SetString(kHkcu, key, "a", "x"), error::kSuccess);
  ASSERT_EQ(store->SetDword(kHkcu, key, "b", 1), error::kSuccess);
  ASSERT_EQ(store->SetDword(kHkcu, key + "\\One", "c", 1), error::kSuccess);

  RegKeyCounts counts;
  ASSERT_EQ(store->QueryCounts(kHkcu, key, counts), error::kSuccess);
  EXPECT_EQ(counts.sub_keys, 2u);
  EXPECT_EQ(counts.values, 3u);
  ASSERT_EQ(store->QueryCounts(kHkcu, key + "\\Two", counts), error::kSuccess);
  EXPECT_EQ(counts.sub_keys, 0u);
  EXPECT_EQ(counts.values, 0u);
  EXPECT_EQ(store->QueryCounts(kHkcu, key + "\\Three", counts), error::kFileNotFound);
}

TEST_F(RegistryStoreTest, DeleteKeyOnlyDeletesKeysWithoutSubKeys) {
  auto store = Open();
  ASSERT_EQ(store->CreateKey(kHkcu, "Software\\Parent\\Child"), error::kSuccess);
  ASSERT_EQ(store->SetString(kHkcu, "Software\\Parent", "kept", "yes"), error::kSuccess);
  ASSERT_EQ(store->SetString(kHkcu, "Software\\Parent\\Child", "gone", "yes"), error::kSuccess);

  EXPECT_EQ(store->DeleteKey(kHkcu, "Software\\Parent"), error::kAccessDenied);
  EXPECT_EQ(store->ReadString(kHkcu, "Software\\Parent", "kept"), "yes");
  EXPECT_EQ(store->DeleteKey(kHkcu, "SOFTWARE\\parent\\CHILD"), error::kSuccess);
  EXPECT_EQ(store->OpenKey(kHkcu, "Software\\Parent\\Child"), error::kFileNotFound);
  EXPECT_EQ(store->DeleteKey(kHkcu, "Software\\Parent\\Child"), error::kFileNotFound);

  // The values went with the key: a new key of that name starts empty.
  ASSERT_EQ(store->CreateKey(kHkcu, "Software\\Parent\\Child"), error::kSuccess);
  EXPECT_EQ(store->ReadString(kHkcu, "Software\\Parent\\Child", "gone"), std::nullopt);
  ASSERT_EQ(store->DeleteKey(kHkcu, "Software\\Parent\\Child"), error::kSuccess);
  EXPECT_EQ(store->DeleteKey(kHkcu, "Software\\Parent"), error::kSuccess);
  EXPECT_EQ(SubKeys(*store, kHkcu, "Software"), Names{});
}

TEST_F(RegistryStoreTest, DeleteTreeRemovesEveryDescendantAndNothingElse) {
  auto store = Open();
  std::string deep = "Software\\Tree";
  for (int level = 0; level < 60; ++level) {
    deep += "\\Level" + std::to_string(level);
    ASSERT_EQ(store->CreateKey(kHkcu, deep + "\\Side"), error::kSuccess);
    ASSERT_EQ(store->SetDword(kHkcu, deep, "depth", static_cast<std::uint32_t>(level)), error::kSuccess);
  }
  // Neighbours whose names start alike, and the same path in the other hive.
  for (const char* other : {"Software\\Tree2", "Software\\TreeX\\Sub", "Software\\Tre"}) {
    ASSERT_EQ(store->CreateKey(kHkcu, other), error::kSuccess);
    ASSERT_EQ(store->SetString(kHkcu, other, "v", other), error::kSuccess);
  }
  ASSERT_EQ(store->CreateKey(kHklm, "Software\\Tree\\Level0", RegView::kView64), error::kSuccess);

  ASSERT_EQ(store->DeleteTree(kHkcu, "software\\TREE"), error::kSuccess);
  EXPECT_EQ(store->OpenKey(kHkcu, "Software\\Tree"), error::kFileNotFound);
  EXPECT_EQ(store->DeleteTree(kHkcu, "Software\\Tree"), error::kFileNotFound);
  EXPECT_EQ(SubKeys(*store, kHkcu, "Software"), (Names{"Tre", "Tree2", "TreeX"}));
  for (const char* other : {"Software\\Tree2", "Software\\TreeX\\Sub", "Software\\Tre"}) {
    EXPECT_EQ(store->ReadString(kHkcu, other, "v"), other);
  }
  EXPECT_EQ(store->OpenKey(kHklm, "Software\\Tree\\Level0", RegView::kView64), error::kSuccess);

  ASSERT_EQ(store->CreateKey(kHkcu, "Software\\Tree\\Level0"), error::kSuccess);
  RegKeyCounts counts;
  ASSERT_EQ(store->QueryCounts(kHkcu, "Software\\Tree\\Level0", counts), error::kSuccess);
  EXPECT_EQ(counts.sub_keys, 0u);
  EXPECT_EQ(counts.values, 0u);
}

TEST_F(RegistryStoreTest, HiveRootsAndMountedKeysAlwaysExistAndCannotBeDeleted) {
  struct Case {
    Hive hive;
    const char* path;
    RegView view;
  };
  const Case cases[] = {
      {kHklm, "", RegView::kDefault},         {kHkcu, "", RegView::kDefault},
      {kHkcr, "", RegView::kDefault},         {kHkcr, "\\", RegView::kView32},
      {kHklm, "SOFTWARE", RegView::kView64},  {kHklm, "Software", RegView::kDefault},
      {kHklm, "SOFTWARE\\Classes", RegView::kView64}, {kHkcu, "Software", RegView::kDefault},
  };
  auto store = Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("path \"") + c.path + "\" hive " + std::to_string(static_cast<int>(c.hive)));
    EXPECT_EQ(store->OpenKey(c.hive, c.path, c.view), error::kSuccess);
    EXPECT_EQ(store->CreateKey(c.hive, c.path, c.view), error::kSuccess);
    EXPECT_EQ(store->DeleteKey(c.hive, c.path, c.view), error::kAccessDenied);
    EXPECT_EQ(store->DeleteTree(c.hive, c.path, c.view), error::kAccessDenied);
    EXPECT_EQ(store->SetDword(c.hive, c.path, "root value", 1, c.view), error::kSuccess);
    EXPECT_EQ(store->ReadDword(c.hive, c.path, "ROOT VALUE", c.view), 1u);
  }
}

TEST(RegistryPathTest, RedirectsTheThirtyTwoBitViewLikeWindows) {
  struct Case {
    Hive hive;
    const char* path;
    RegView view;
    bool windows64;
    Hive stored_hive;
    const char* stored_path;
  };
  const RegView d = RegView::kDefault;
  const RegView v32 = RegView::kView32;
  const RegView v64 = RegView::kView64;
  const Case cases[] = {
      {kHklm, "SOFTWARE\\Orvo", d, true, kHklm, "SOFTWARE\\WOW6432Node\\Orvo"},
      {kHklm, "SOFTWARE\\Orvo", v32, true, kHklm, "SOFTWARE\\WOW6432Node\\Orvo"},
      {kHklm, "SOFTWARE\\Orvo", v64, true, kHklm, "SOFTWARE\\Orvo"},
      {kHklm, "SOFTWARE\\Orvo", d, false, kHklm, "SOFTWARE\\Orvo"},
      {kHklm, "SOFTWARE\\Orvo", v32, false, kHklm, "SOFTWARE\\Orvo"},
      {kHklm, "software\\orvo", d, true, kHklm, "software\\WOW6432Node\\orvo"},
      {kHklm, "SOFTWARE", d, true, kHklm, "SOFTWARE\\WOW6432Node"},
      {kHklm, "SOFTWARE\\Wow6432Node\\Orvo", d, true, kHklm, "SOFTWARE\\Wow6432Node\\Orvo"},
      {kHklm, "SYSTEM\\CurrentControlSet", d, true, kHklm, "SYSTEM\\CurrentControlSet"},
      {kHklm, "", d, true, kHklm, ""},
      {kHklm, "\\SOFTWARE\\\\Orvo\\", d, true, kHklm, "SOFTWARE\\WOW6432Node\\Orvo"},
      {kHklm, "\\SOFTWARE\\\\Orvo\\", v64, true, kHklm, "SOFTWARE\\Orvo"},
      // The classes are shared, but for the few keys that keep a 32-bit copy.
      {kHklm, "SOFTWARE\\Classes", d, true, kHklm, "SOFTWARE\\Classes"},
      {kHklm, "SOFTWARE\\Classes\\.orvo", d, true, kHklm, "SOFTWARE\\Classes\\.orvo"},
      {kHklm, "SOFTWARE\\Classes\\CLSID\\{1}", d, true, kHklm, "SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{1}"},
      {kHklm, "SOFTWARE\\classes\\clsid", v32, true, kHklm, "SOFTWARE\\classes\\WOW6432Node\\clsid"},
      {kHklm, "SOFTWARE\\Classes\\CLSID\\{1}", v64, true, kHklm, "SOFTWARE\\Classes\\CLSID\\{1}"},
      {kHklm, "SOFTWARE\\Classes\\CLSID\\{1}", d, false, kHklm, "SOFTWARE\\Classes\\CLSID\\{1}"},
      {kHklm, "SOFTWARE\\Classes\\DirectShow", d, true, kHklm, "SOFTWARE\\Classes\\WOW6432Node\\DirectShow"},
      {kHklm, "SOFTWARE\\Classes\\Interface\\{2}", d, true, kHklm,
       "SOFTWARE\\Classes\\WOW6432Node\\Interface\\{2}"},
      {kHklm, "SOFTWARE\\Classes\\media type", d, true, kHklm, "SOFTWARE\\Classes\\WOW6432Node\\media type"},
      {kHklm, "SOFTWARE\\Classes\\MediaFoundation", d, true, kHklm,
       "SOFTWARE\\Classes\\WOW6432Node\\MediaFoundation"},
      {kHklm, "SOFTWARE\\Classes\\CLSIDs", d, true, kHklm, "SOFTWARE\\Classes\\CLSIDs"},
      {kHklm, "SOFTWARE\\Classes\\Wow6432Node\\CLSID", d, true, kHklm, "SOFTWARE\\Classes\\Wow6432Node\\CLSID"},
      {kHklm, "SOFTWARE\\Orvo\\Classes\\CLSID", d, true, kHklm, "SOFTWARE\\WOW6432Node\\Orvo\\Classes\\CLSID"},
      // The user's software is shared; only its redirected classes are not.
      {kHkcu, "Software\\Orvo", d, true, kHkcu, "Software\\Orvo"},
      {kHkcu, "Software", d, true, kHkcu, "Software"},
      {kHkcu, "Software\\Classes\\CLSID\\{1}", d, true, kHkcu, "Software\\Classes\\WOW6432Node\\CLSID\\{1}"},
      {kHkcu, "Software\\Classes\\Interface", v32, true, kHkcu, "Software\\Classes\\WOW6432Node\\Interface"},
      {kHkcu, "Software\\Classes\\CLSID\\{1}", v64, true, kHkcu, "Software\\Classes\\CLSID\\{1}"},
      {kHkcu, "Software\\Classes\\CLSID", d, false, kHkcu, "Software\\Classes\\CLSID"},
      {kHkcu, "Software\\Classes\\.orvo", d, true, kHkcu, "Software\\Classes\\.orvo"},
      {kHkcu, "Software\\Classes\\WOW6432Node\\CLSID", d, true, kHkcu, "Software\\Classes\\WOW6432Node\\CLSID"},
      // HKCR is the machine's classes.
      {kHkcr, "", d, true, kHklm, "SOFTWARE\\Classes"},
      {kHkcr, ".orvo", d, true, kHklm, "SOFTWARE\\Classes\\.orvo"},
      {kHkcr, "Orvo.File\\shell\\open", v32, true, kHklm, "SOFTWARE\\Classes\\Orvo.File\\shell\\open"},
      {kHkcr, "CLSID\\{1}", d, true, kHklm, "SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{1}"},
      {kHkcr, "CLSID\\{1}", v64, true, kHklm, "SOFTWARE\\Classes\\CLSID\\{1}"},
      {kHkcr, "CLSID\\{1}", d, false, kHklm, "SOFTWARE\\Classes\\CLSID\\{1}"},
      {kHkcr, "Wow6432Node\\CLSID", d, true, kHklm, "SOFTWARE\\Classes\\Wow6432Node\\CLSID"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " view " + std::to_string(static_cast<int>(c.view)) +
                 (c.windows64 ? " on 64-bit" : " on 32-bit"));
    const RegLocation location = ResolveRegistryPath(c.hive, c.path, c.view, c.windows64);
    EXPECT_EQ(location.hive, c.stored_hive);
    EXPECT_EQ(location.path, c.stored_path);
  }
}

TEST_F(RegistryStoreTest, ViewsReachTheRedirectedKeys) {
  {
    auto store = Open(true);
    ASSERT_EQ(store->CreateKey(kHklm, "SOFTWARE\\Orvo"), error::kSuccess);
    ASSERT_EQ(store->SetString(kHklm, "SOFTWARE\\Orvo", "Bits", "32"), error::kSuccess);
    EXPECT_EQ(store->OpenKey(kHklm, "SOFTWARE\\Orvo", RegView::kView64), error::kFileNotFound);
    EXPECT_EQ(store->ReadString(kHklm, "SOFTWARE\\WOW6432Node\\Orvo", "Bits", RegView::kView64), "32");
    EXPECT_EQ(SubKeys(*store, kHklm, "SOFTWARE"), Names{"Orvo"});

    // Shared classes are one key for both views; CLSID has a copy per view.
    ASSERT_EQ(store->CreateKey(kHkcr, ".orvo"), error::kSuccess);
    ASSERT_EQ(store->SetString(kHkcr, ".orvo", "", "Orvo.File"), error::kSuccess);
    EXPECT_EQ(store->ReadString(kHklm, "SOFTWARE\\Classes\\.orvo", "", RegView::kView64), "Orvo.File");
    EXPECT_EQ(store->ReadString(kHkcr, ".ORVO", "", RegView::kView64), "Orvo.File");
    ASSERT_EQ(store->CreateKey(kHkcr, "CLSID\\{1}"), error::kSuccess);
    EXPECT_EQ(store->OpenKey(kHkcr, "CLSID\\{1}", RegView::kView64), error::kFileNotFound);
    EXPECT_EQ(store->OpenKey(kHklm, "SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{1}", RegView::kView64),
              error::kSuccess);
  }
  // The same file seen as a 32-bit Windows: no redirection at all.
  auto store = Open(false);
  EXPECT_EQ(store->OpenKey(kHklm, "SOFTWARE\\Orvo"), error::kFileNotFound);
  EXPECT_EQ(store->ReadString(kHklm, "SOFTWARE\\Wow6432Node\\Orvo", "Bits"), "32");
  EXPECT_EQ(store->OpenKey(kHkcr, "Wow6432Node\\CLSID\\{1}"), error::kSuccess);
}

TEST_F(RegistryStoreTest, SettingAnotherTypeReplacesTheValue) {
  auto store = Open();
  const std::string key = "Software\\Typed";
  ASSERT_EQ(store->CreateKey(kHkcu, key), error::kSuccess);
  ASSERT_EQ(store->SetString(kHkcu, key, "Before", "b"), error::kSuccess);
  ASSERT_EQ(store->SetString(kHkcu, key, "Version", "7"), error::kSuccess);
  ASSERT_EQ(store->SetString(kHkcu, key, "After", "a"), error::kSuccess);
  ASSERT_EQ(store->SetDword(kHkcu, key, "VERSION", 0xFFFFFFFFu), error::kSuccess);

  RegValue value;
  ASSERT_EQ(store->QueryValue(kHkcu, key, "version", value), error::kSuccess);
  EXPECT_EQ(value.name, "Version");
  EXPECT_EQ(value.type, RegType::kDword);
  EXPECT_EQ(value.number, 0xFFFFFFFFu);
  EXPECT_EQ(store->ReadDword(kHkcu, key, "Version"), 0xFFFFFFFFu);
  EXPECT_EQ(store->ReadString(kHkcu, key, "Version"), std::nullopt);
  EXPECT_EQ(ValueNames(*store, kHkcu, key), (Names{"Before", "Version", "After"}));

  ASSERT_EQ(store->SetString(kHkcu, key, "Version", ""), error::kSuccess);
  EXPECT_EQ(store->ReadString(kHkcu, key, "Version"), "");
  EXPECT_EQ(store->ReadDword(kHkcu, key, "Version"), std::nullopt);
  std::vector<RegValue> values;
  ASSERT_EQ(store->ListValues(kHkcu, key, values), error::kSuccess);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[1].type, RegType::kString);
  EXPECT_EQ(values[1].text, "");

  // Text is kept byte for byte, a NUL inside included.
  const std::string text = std::string("Z:\\work\\Ünïcødé") + std::string(1, '\0') + "tail";
  ASSERT_EQ(store->SetString(kHkcu, key, "Path", text), error::kSuccess);
  EXPECT_EQ(store->ReadString(kHkcu, key, "path"), text);
}

TEST_F(RegistryStoreTest, MissingKeysAndValuesAreNotFoundAndNotCreated) {
  auto store = Open();
  const std::string missing = "Software\\Missing\\Key";
  RegValue value;
  EXPECT_EQ(store->SetString(kHkcu, missing, "a", "b"), error::kFileNotFound);
  EXPECT_EQ(store->SetDword(kHkcu, missing, "a", 1), error::kFileNotFound);
  EXPECT_EQ(store->OpenKey(kHkcu, "Software\\Missing"), error::kFileNotFound);
  EXPECT_EQ(store->QueryValue(kHkcu, missing, "a", value), error::kFileNotFound);
  EXPECT_EQ(store->DeleteValue(kHkcu, missing, "a"), error::kFileNotFound);
  EXPECT_EQ(store->ReadString(kHkcu, missing, "a"), std::nullopt);

  ASSERT_EQ(store->CreateKey(kHkcu, missing), error::kSuccess);
  EXPECT_EQ(store->QueryValue(kHkcu, missing, "a", value), error::kFileNotFound);
  EXPECT_EQ(store->QueryValue(kHkcu, missing, "", value), error::kFileNotFound);
  EXPECT_EQ(store->ReadDword(kHkcu, missing, "a"), std::nullopt);
}

TEST_F(RegistryStoreTest, EmptyPathPartsAreIgnored) {
  auto store = Open();
  ASSERT_EQ(store->CreateKey(kHkcu, "\\Software\\\\Orvo\\Part\\"), error::kSuccess);
  EXPECT_EQ(store->OpenKey(kHkcu, "Software\\Orvo\\Part"), error::kSuccess);
  EXPECT_EQ(SubKeys(*store, kHkcu, "Software\\"), Names{"Orvo"});
  ASSERT_EQ(store->SetDword(kHkcu, "Software\\Orvo\\\\Part", "n", 3), error::kSuccess);
  EXPECT_EQ(store->ReadDword(kHkcu, "Software\\Orvo\\Part", "n"), 3u);
}

TEST_F(RegistryStoreTest, MalformedUtf8NamesAreRefused) {
  auto store = Open();
  const std::string bad = "Bad\xC3(";
  EXPECT_EQ(store->CreateKey(kHkcu, "Software\\" + bad), error::kInvalidParameter);
  ASSERT_EQ(store->CreateKey(kHkcu, "Software\\Good"), error::kSuccess);
  EXPECT_EQ(store->SetString(kHkcu, "Software\\Good", bad, "x"), error::kInvalidParameter);
  EXPECT_EQ(ValueNames(*store, kHkcu, "Software\\Good"), Names{});
  EXPECT_EQ(SubKeys(*store, kHkcu, "Software"), Names{"Good"});
}

TEST_F(RegistryStoreTest, ReopeningKeepsEverything) {
  {
    auto store = Open();
    ASSERT_EQ(store->CreateKey(kHklm, "SOFTWARE\\Orvo\\Shared"), error::kSuccess);
    ASSERT_EQ(store->SetString(kHklm, "SOFTWARE\\Orvo", "Zeta", "z"), error::kSuccess);
    ASSERT_EQ(store->SetDword(kHklm, "SOFTWARE\\Orvo", "Alpha", 42), error::kSuccess);
  }
  auto store = Open();
  EXPECT_EQ(store->OpenKey(kHklm, "software\\orvo\\shared"), error::kSuccess);
  EXPECT_EQ(SubKeys(*store, kHklm, "SOFTWARE\\ORVO"), Names{"Shared"});
  EXPECT_EQ(ValueNames(*store, kHklm, "SOFTWARE\\Orvo"), (Names{"Zeta", "Alpha"}));
  EXPECT_EQ(store->ReadDword(kHklm, "SOFTWARE\\Orvo", "alpha"), 42u);
  // New values still go after the old ones.
  ASSERT_EQ(store->SetString(kHklm, "SOFTWARE\\Orvo", "Beta", "b"), error::kSuccess);
  EXPECT_EQ(ValueNames(*store, kHklm, "SOFTWARE\\Orvo"), (Names{"Zeta", "Alpha", "Beta"}));
}

TEST_F(RegistryStoreTest, TwoStoresOnOneFileSeeEachOthersWrites) {
  auto first = Open();
  auto second = Open();
  ASSERT_EQ(first->CreateKey(kHkcu, "Software\\Shared\\Sub"), error::kSuccess);
  ASSERT_EQ(first->SetString(kHkcu, "Software\\Shared", "from", "first"), error::kSuccess);
  EXPECT_EQ(second->ReadString(kHkcu, "Software\\Shared", "FROM"), "first");
  ASSERT_EQ(second->SetDword(kHkcu, "Software\\Shared", "from", 2), error::kSuccess);
  EXPECT_EQ(first->ReadDword(kHkcu, "Software\\Shared", "from"), 2u);
  ASSERT_EQ(second->DeleteTree(kHkcu, "Software\\Shared"), error::kSuccess);
  EXPECT_EQ(first->OpenKey(kHkcu, "Software\\Shared\\Sub"), error::kFileNotFound);
  // Readers and the writer do not block each other in WAL mode.
  EXPECT_TRUE(std::filesystem::exists(File() + "-wal"));
}

TEST_F(RegistryStoreTest, StoresOpeningAFreshFileAtOnceAllSucceed) {
  for (int round = 0; round < 5; ++round) {
    const std::string file = (folder_.Path() / ("fresh" + std::to_string(round)) / "registry.db").string();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&file, t] {
        std::uint32_t problem = 12345;
        auto store = OpenRegistryStore(file, true, &problem);
        ASSERT_NE(store, nullptr) << problem;
        EXPECT_EQ(store->CreateKey(kHkcu, "Software\\Fresh"), error::kSuccess);
        EXPECT_EQ(store->SetDword(kHkcu, "Software\\Fresh", "t" + std::to_string(t), 1), error::kSuccess);
      });
    }
    for (std::thread& thread : threads) thread.join();
    auto store = OpenRegistryStore(file, true);
    ASSERT_NE(store, nullptr);
    RegKeyCounts counts;
    ASSERT_EQ(store->QueryCounts(kHkcu, "Software\\Fresh", counts), error::kSuccess);
    EXPECT_EQ(counts.values, 4u);
  }
}

TEST_F(RegistryStoreTest, ThreadsShareOneStore) {
  auto store = Open();
  const std::string key = "Software\\Threads";
  ASSERT_EQ(store->CreateKey(kHkcu, key), error::kSuccess);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
        EXPECT_EQ(store->SetString(kHkcu, key, name, name), error::kSuccess);
        EXPECT_EQ(store->ReadString(kHkcu, key, name), name);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  RegKeyCounts counts;
  ASSERT_EQ(store->QueryCounts(kHkcu, key, counts), error::kSuccess);
  EXPECT_EQ(counts.values, 800u);
}

constexpr int kValuesPerProcess = 500;
const std::string kRaceKey = "Software\\Race";
const std::string kSyncKey = "Software\\RaceStart";

// Both processes announce themselves and wait for the other, so their writes overlap.
bool MeetTheOther(Registry& store, const std::string& me, const std::string& other) {
  if (store.SetDword(kHkcu, kSyncKey, me, 1) != error::kSuccess) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!store.ReadDword(kHkcu, kSyncKey, other)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void WriteHalf(Registry& store, const std::string& prefix) {
  for (int i = 0; i < kValuesPerProcess; ++i) {
    const std::string name = prefix + std::to_string(i);
    ASSERT_EQ(store.SetDword(kHkcu, kRaceKey, name, static_cast<std::uint32_t>(i)), error::kSuccess) << name;
  }
}

// The child half of TwoProcessesWriteOneKeyAtOnce; does nothing when run on its own.
TEST(RegistryStoreChild, WritesItsHalf) {
  const char* file = std::getenv(kChildDatabaseVariable);
  if (file == nullptr) GTEST_SKIP() << "runs only as the child of TwoProcessesWriteOneKeyAtOnce";
  auto store = OpenRegistryStore(file, true);
  ASSERT_NE(store, nullptr);
  ASSERT_TRUE(MeetTheOther(*store, "child", "parent"));
  WriteHalf(*store, "child-");
}

// A process that stops dead after its writes: no close, no checkpoint of the journal.
TEST(RegistryStoreChild, CrashesAfterWriting) {
  const char* file = std::getenv(kChildDatabaseVariable);
  if (file == nullptr) GTEST_SKIP() << "runs only as the child of CommittedWritesSurviveACrash";
  auto store = OpenRegistryStore(file, true);
  ASSERT_NE(store, nullptr);
  ASSERT_EQ(store->CreateKey(kHkcu, "Software\\Crash\\Sub"), error::kSuccess);
  for (std::uint32_t i = 0; i < 100; ++i) {
    ASSERT_EQ(store->SetDword(kHkcu, "Software\\Crash", "v" + std::to_string(i), i), error::kSuccess);
  }
  std::fflush(nullptr);
  _exit(3);
}

pid_t SpawnChild(const std::string& test_name, const std::string& database_file) {
  std::vector<std::string> environment = {std::string(kChildDatabaseVariable) + "=" + database_file};
  for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = "/proc/self/exe";
  std::string filter = "--gtest_filter=RegistryStoreChild." + test_name;
  char* argv[] = {program.data(), filter.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
  return pid;
}

TEST_F(RegistryStoreTest, TwoProcessesWriteOneKeyAtOnce) {
  auto store = Open();
  ASSERT_EQ(store->CreateKey(kHkcu, kRaceKey), error::kSuccess);
  ASSERT_EQ(store->CreateKey(kHkcu, kSyncKey), error::kSuccess);
  const pid_t child = SpawnChild("WritesItsHalf", File());
  ASSERT_GT(child, 0);
  const bool met = MeetTheOther(*store, "parent", "child");
  if (met) WriteHalf(*store, "parent-");
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(met);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  std::vector<RegValue> values;
  ASSERT_EQ(store->ListValues(kHkcu, kRaceKey, values), error::kSuccess);
  EXPECT_EQ(values.size(), 2u * kValuesPerProcess);
  std::set<std::string> names;
  for (const RegValue& value : values) names.insert(value.name);
  for (int i = 0; i < kValuesPerProcess; ++i) {
    EXPECT_EQ(names.count("parent-" + std::to_string(i)), 1u) << i;
    EXPECT_EQ(names.count("child-" + std::to_string(i)), 1u) << i;
  }
}

TEST_F(RegistryStoreTest, CommittedWritesSurviveACrash) {
  const pid_t child = SpawnChild("CrashesAfterWriting", File());
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 3);
  auto store = Open();
  EXPECT_EQ(store->OpenKey(kHkcu, "Software\\Crash\\Sub"), error::kSuccess);
  RegKeyCounts counts;
  ASSERT_EQ(store->QueryCounts(kHkcu, "Software\\Crash", counts), error::kSuccess);
  EXPECT_EQ(counts.values, 100u);
  EXPECT_EQ(store->ReadDword(kHkcu, "Software\\Crash", "v99"), 99u);
}

TEST_F(RegistryStoreTest, AFileThatIsNoDatabaseIsReported) {
  std::filesystem::create_directories(std::filesystem::path(File()).parent_path());
  std::ofstream(File(), std::ios::binary) << std::string(8192, 'x');
  std::uint32_t problem = 0;
  EXPECT_EQ(OpenRegistryStore(File(), true, &problem), nullptr);
  EXPECT_EQ(problem, error::kInvalidData);
}

TEST_F(RegistryStoreTest, AFolderInTheWayIsReported) {
  std::filesystem::create_directories(File());
  std::uint32_t problem = 0;
  EXPECT_EQ(OpenRegistryStore(File(), true, &problem), nullptr);
  EXPECT_NE(problem, error::kSuccess);
}

// Caps the size of files this process writes for the life of the object (a full disk).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_limit_);
    rlimit limit = old_limit_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_limit_);
    signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_limit_{};
  sighandler_t old_handler_;
};

TEST_F(RegistryStoreTest, AFailedWriteIsReportedAndLeavesNoTrace) {
  auto store = Open();
  const std::string key = "Software\\Full";
  ASSERT_EQ(store->CreateKey(kHkcu, key), error::kSuccess);
  const std::string big(64 * 1024, 'v');
  std::uint32_t result = error::kSuccess;
  std::string failed_name;
  {
    FileSizeLimit limit(512 * 1024);
    for (int i = 0; i < 64 && result == error::kSuccess; ++i) {
      failed_name = "big" + std::to_string(i);
      result = store->SetString(kHkcu, key, failed_name, big);
    }
  }
  EXPECT_TRUE(result == error::kWriteFault || result == error::kDiskFull) << result;
  EXPECT_EQ(store->ReadString(kHkcu, key, failed_name), std::nullopt);
  // Once there is room again, the store works on.
  EXPECT_EQ(store->SetString(kHkcu, key, "after", "ok"), error::kSuccess);
  EXPECT_EQ(store->ReadString(kHkcu, key, "after"), "ok");
  EXPECT_EQ(store->ReadString(kHkcu, key, "big0"), big);
}

}  // namespace
}  // namespace orvo::platform
