// Readers of the installed products' registry records.
#include "deploy/installed_products.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/test_root.h"

namespace orvo::deploy {
namespace {

using platform::Hive;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class InstalledProductsTest : public ::testing::Test {
 protected:
  void SetText(const std::string& key, const std::string& name, const std::string& text) {
    ASSERT_EQ(platform::Reg().CreateKey(Hive::kLocalMachine, key), 0u);
    ASSERT_EQ(platform::Reg().SetString(Hive::kLocalMachine, key, name, text), 0u);
  }
  void Index(const std::string& location, const std::string& id) {
    SetText(std::string(kProductIndexKey), location, id);
  }
  test::TestRoot root_;
};

TEST_F(InstalledProductsTest, ReadsTheLocationOfAnEntry) {
  SetText(UninstallKeyPath("Orvo Video"), "InstallLocation", "C:\\Orvo\\Video");
  EXPECT_EQ(GetInstallLocation("Orvo Video"), "C:\\Orvo\\Video");
  EXPECT_EQ(GetInstallLocation("orvo video"), "C:\\Orvo\\Video");  // key names ignore case
  EXPECT_EQ(GetInstallLocation("Orvo Audio"), "");
  EXPECT_EQ(GetInstallLocation(""), "");

  const std::string longest = "C:\\" + std::string(256, 'a');  // 259 characters
  SetText(UninstallKeyPath("Long"), "InstallLocation", longest);
  EXPECT_EQ(GetInstallLocation("Long"), longest);
  SetText(UninstallKeyPath("Long"), "InstallLocation", longest + "b");
  EXPECT_EQ(GetInstallLocation("Long"), "");  // never a cut path
}

TEST_F(InstalledProductsTest, MultiFolderMustBeExactlyOne) {
  const std::string key = UninstallKeyPath("Orvo Suite");
  EXPECT_FALSE(IsMultiFolderProduct("Orvo Suite"));
  for (const auto& [text, result] : std::vector<std::pair<std::string, bool>>{
           {"1", true}, {"01", false}, {"1 ", false}, {"true", false}, {"", false}}) {
    SetText(key, "MultiFolder", text);
    EXPECT_EQ(IsMultiFolderProduct("Orvo Suite"), result) << '"' << text << '"';
  }
  ASSERT_EQ(platform::Reg().SetDword(Hive::kLocalMachine, key, "MultiFolder", 1), 0u);
  EXPECT_FALSE(IsMultiFolderProduct("Orvo Suite"));
}

TEST_F(InstalledProductsTest, ListsTheIndexInEnumerationOrder) {
  EXPECT_THAT(ListInstalledProducts(), IsEmpty());
  Index("C:\\Orvo\\Video", "Orvo Video");
  Index("C:\\Orvo\\Common", "Orvo Common");
  Index("C:\\Orvo\\Empty", "");
  ASSERT_EQ(platform::Reg().SetDword(Hive::kLocalMachine, kProductIndexKey, "C:\\Orvo\\Number", 5), 0u);
  Index("C:\\Orvo\\Audio", "Orvo Audio");
  EXPECT_THAT(ListInstalledProducts(), ElementsAre("Orvo Video", "Orvo Common", "Orvo Audio"));
}

TEST_F(InstalledProductsTest, FindsTheProductByItsLocationOrAParentOfIt) {
  Index("C:\\Orvo\\Video", "Video");
  Index("C:\\Orvo\\Video\\Plugins", "Plugins");
  Index("C:\\Orvo\\App", "App");
  Index("C:\\Orvo\\Tools\\", "Tools");
  struct Case {
    const char* folder;
    const char* id;
  };
  const Case cases[] = {
      {"C:\\Orvo\\Video", "Video"},
      {"c:/orvo/VIDEO/bin", "Video"},
      {"C:\\Orvo\\Video\\Plugins\\x", "Plugins"},  // both match; the last value wins
      {"C:\\Orvo\\App\\", "App"},
      {"C:\\Orvo\\App2", ""},  // a sibling whose name merely starts alike is not inside
      {"C:\\Orvo\\Tools", "Tools"},
      {"C:\\Orvo", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(FindProductByLocation(c.folder), c.id) << c.folder;
}

TEST_F(InstalledProductsTest, TheLastMatchingValueWinsNotTheLongest) {
  Index("C:\\Orvo\\Video\\Plugins", "Plugins");
  Index("C:\\Orvo\\Video", "Video");
  EXPECT_EQ(FindProductByLocation("C:\\Orvo\\Video\\Plugins"), "Video");
}

TEST(RegistrationDateTest, ReadsBothFormsAndRejectsOthers) {
  struct Case {
    const char* text;
    std::optional<RegistrationDate> date;
  };
  const Case cases[] = {
      {"2023-5-1 10:0:0", RegistrationDate{2023, 5, 1, 10, 0, 0}},
      {"6/2/2023 8:30:0", RegistrationDate{2023, 6, 2, 8, 30, 0}},  // month, day, year
      {"2024-02-29 23:59:59", RegistrationDate{2024, 2, 29, 23, 59, 59}},
      {"12/31/1999 0:0:0", RegistrationDate{1999, 12, 31, 0, 0, 0}},
      {"2023-5-1  10:0:0 ", RegistrationDate{2023, 5, 1, 10, 0, 0}},
      {"2023-2-29 0:0:0", std::nullopt},  // not a leap year
      {"2023-13-1 0:0:0", std::nullopt},
      {"13/1/2023 0:0:0", std::nullopt},  // no thirteenth month in the second form either
      {"2023/5/1 0:0:0", std::nullopt},   // slashes put the month first
      {"2023-5/1 0:0:0", std::nullopt},
      {"2023-5-1 24:0:0", std::nullopt},
      {"2023-5-1 10:60:0", std::nullopt},
      {"2023-5-1", std::nullopt},
      {"2023-5-1 10:0", std::nullopt},
      {"2023-5-1 10:0:0 PM", std::nullopt},
      {"2023-5-1T10:0:0", std::nullopt},
      {"-2023-5-1 10:0:0", std::nullopt},
      {"202300-5-1 10:0:0", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseRegistrationDate(c.text), c.date) << '"' << c.text << '"';
}

class NewestRegisteredFileTest : public InstalledProductsTest {
 protected:
  struct File {
    const char* name;
    const char* date;
    bool exists = true;
  };
  // Registers the files in this order under a fresh application number and returns the winner's name.
  std::string Newest(const std::vector<File>& files) {
    const int number = next_number_++;
    for (const File& file : files) {
      const std::string path = "C:\\Orvo\\App" + std::to_string(number) + "\\" + file.name;
      if (file.exists) root_.WriteFile(path, "program");
      SetText(ApplicationFileListKey(number), path, file.date);
    }
    const std::string newest = NewestRegisteredFile(number);
    return newest.empty() ? "" : newest.substr(newest.rfind('\\') + 1);
  }
  int next_number_ = 61;
};

TEST_F(NewestRegisteredFileTest, ComparesTheDatesOfBothForms) {
  struct Case {
    std::vector<File> files;
    const char* newest;
  };
  const std::vector<Case> cases = {
      {{{"a.exe", "2023-5-1 10:0:0"}, {"b.exe", "6/2/2023 8:30:0"}}, "b.exe"},
      // Dates, not texts: an ordinal comparison would choose the second value in each of these.
      {{{"a.exe", "2023-10-1 0:0:0"}, {"b.exe", "9/1/2023 0:0:0"}}, "a.exe"},
      {{{"a.exe", "2023-10-1 0:0:0"}, {"b.exe", "2023-9-30 23:59:59"}}, "a.exe"},
      // Month first: 6/2 is the second of June, later than the first of March.
      {{{"a.exe", "6/2/2023 8:30:0"}, {"b.exe", "2023-3-1 0:0:0"}}, "a.exe"},
      // An equal date keeps the earlier value.
      {{{"a.exe", "6/2/2023 8:30:0"}, {"b.exe", "2023-6-2 8:30:0"}}, "a.exe"},
      {{{"a.exe", "2023-1-1 0:0:0"}, {"b.exe", "2024-1-1 0:0:0"}, {"c.exe", "2023-6-1 0:0:0"}}, "b.exe"},
      // Files that do not exist are passed over, whatever their date.
      {{{"a.exe", "2023-1-1 0:0:0"}, {"gone.exe", "2030-1-1 0:0:0", false}}, "a.exe"},
      {{{"gone.exe", "2030-1-1 0:0:0", false}, {"b.exe", "garbage"}}, "b.exe"},
      {{{"gone.exe", "2030-1-1 0:0:0", false}}, ""},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(Newest(cases[i].files), cases[i].newest) << "case " << i;
}

TEST_F(NewestRegisteredFileTest, FallsBackToTheTextWhenADateCannotBeRead) {
  struct Case {
    std::vector<File> files;
    const char* newest;
  };
  const std::vector<Case> cases = {
      {{{"a.exe", "yesterday"}, {"b.exe", "2023-1-1 0:0:0"}}, "a.exe"},  // "2023..." is smaller
      {{{"a.exe", "2023-1-1 0:0:0"}, {"b.exe", "yesterday"}}, "b.exe"},  // not smaller: replaces
      {{{"a.exe", "2023-2-30 0:0:0"}, {"b.exe", "2023-1-1 0:0:0"}}, "a.exe"},
      {{{"a.exe", "same"}, {"b.exe", "same"}}, "b.exe"},  // equal texts are not smaller
  };
  for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(Newest(cases[i].files), cases[i].newest) << "case " << i;
}

TEST_F(NewestRegisteredFileTest, AnApplicationWithoutListHasNoFile) {
  EXPECT_EQ(NewestRegisteredFile(157), "");
  EXPECT_EQ(ApplicationFileListKey(157), "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\orvopack\\157");
}

}  // namespace
}  // namespace orvo::deploy
