// The small registry readers over the registry store.
#include "system/registry_helpers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/win_types.h"
#include "support/test_root.h"

namespace orvo::sys {
namespace {

using platform::Hive;
using platform::RegView;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

constexpr const char* kList = "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\orvopack\\157";

class RegistryHelpersTest : public ::testing::Test {
 protected:
  platform::Registry& Reg() { return platform::Reg(); }
  test::TestRoot root_;
};

TEST_F(RegistryHelpersTest, ReadValueListGivesThePairsInTheOrderTheyWereSet) {
  ASSERT_EQ(Reg().CreateKey(Hive::kLocalMachine, kList), 0u);
  ASSERT_EQ(Reg().SetString(Hive::kLocalMachine, kList, "C:\\Orvo\\b.exe", "2024-5-1 10:0:0"), 0u);
  ASSERT_EQ(Reg().SetString(Hive::kLocalMachine, kList, "C:\\Orvo\\a.exe", "5/1/2024 10:0:0"), 0u);
  ASSERT_EQ(Reg().SetDword(Hive::kLocalMachine, kList, "Count", 7), 0u);
  ASSERT_EQ(Reg().SetString(Hive::kLocalMachine, kList, "", "default"), 0u);

  std::vector<std::pair<std::string, std::string>> values = {{"earlier", "kept"}};
  EXPECT_EQ(ReadValueList(kList, values), 0);
  EXPECT_THAT(values, ElementsAre(Pair("earlier", "kept"), Pair("C:\\Orvo\\b.exe", "2024-5-1 10:0:0"),
                                  Pair("C:\\Orvo\\a.exe", "5/1/2024 10:0:0"), Pair("Count", ""),
                                  Pair("", "default")));
}

TEST_F(RegistryHelpersTest, ReadValueListReadsTheDefaultViewAndFailsForAMissingKey) {
  std::vector<std::pair<std::string, std::string>> values;
  EXPECT_EQ(ReadValueList(kList, values), -1);

  // Only in the 64-bit view: this 32-bit program's default view does not see it.
  ASSERT_EQ(Reg().CreateKey(Hive::kLocalMachine, kList, RegView::kView64), 0u);
  ASSERT_EQ(Reg().SetString(Hive::kLocalMachine, kList, "C:\\x.exe", "t", RegView::kView64), 0u);
  EXPECT_EQ(ReadValueList(kList, values), -1);
  EXPECT_THAT(values, IsEmpty());

  ASSERT_EQ(Reg().CreateKey(Hive::kLocalMachine, kList), 0u);
  EXPECT_EQ(ReadValueList(kList, values), 0);
  EXPECT_THAT(values, IsEmpty());
}

TEST_F(RegistryHelpersTest, ListSubKeysGivesTheDirectSubKeysInEnumerationOrder) {
  const std::string uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  for (const char* name : {"{B-2}", "Orvo Start", "alpha", "{B-2}\\Nested"}) {
    ASSERT_EQ(Reg().CreateKey(Hive::kLocalMachine, uninstall + "\\" + name), 0u);
  }
  EXPECT_THAT(ListSubKeys(Hive::kLocalMachine, uninstall), ElementsAre("alpha", "Orvo Start", "{B-2}"));
  EXPECT_THAT(ListSubKeys(Hive::kLocalMachine, uninstall + "\\Missing"), IsEmpty());
  EXPECT_THAT(ListSubKeys(Hive::kLocalMachine, uninstall, RegView::kView64), IsEmpty());
}

TEST_F(RegistryHelpersTest, ReadStringValueGivesTextOnlyForStrings) {
  const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvo Start";
  ASSERT_EQ(Reg().CreateKey(Hive::kLocalMachine, key), 0u);
  ASSERT_EQ(Reg().SetString(Hive::kLocalMachine, key, "UninstallString", "MsiExec.exe /X{1}"), 0u);
  ASSERT_EQ(Reg().SetDword(Hive::kLocalMachine, key, "EstimatedSize", 12), 0u);

  std::string text = "stale";
  EXPECT_EQ(ReadStringValue(Hive::kLocalMachine, key, "uninstallstring", text), 0u);
  EXPECT_EQ(text, "MsiExec.exe /X{1}");

  text = "stale";
  EXPECT_EQ(ReadStringValue(Hive::kLocalMachine, key, "QuietUninstallString", text),
            platform::error::kFileNotFound);
  EXPECT_EQ(text, "");
  text = "stale";
  EXPECT_EQ(ReadStringValue(Hive::kLocalMachine, key + "\\Missing", "UninstallString", text),
            platform::error::kFileNotFound);
  EXPECT_EQ(text, "");
  text = "stale";
  EXPECT_NE(ReadStringValue(Hive::kLocalMachine, key, "EstimatedSize", text), 0u);
  EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace orvo::sys
