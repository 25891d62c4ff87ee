#include "plan/config_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/text.h"
#include "support/test_root.h"

namespace orvo::plan {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

TEST(ConfigFileTest, SectionNamesAreStrippedOfBlanksThenSemicolonsAndEmptyOnesDropped) {
  const ConfigFile file = ConfigFile::Parse(
      "[ setup; ]\nproductionname=Orvo\n"
      "[;;]\nlost=1\n"
      "[ ; ]\n"
      "[action ;]\n"
      "[ Action1 ]\n");
  // "action ;" keeps its blank: the blanks go first, so the blank before ";" stays inside.
  EXPECT_THAT(file.SectionNames(), ElementsAre("setup", "action ", "Action1"));
  ASSERT_NE(file.Find("setup"), nullptr);
  EXPECT_EQ(file.Find("setup")->Get("productionname"), "Orvo");
  EXPECT_FALSE(file.Find("setup")->Has("lost"));  // a dropped section's lines go with it
  EXPECT_EQ(file.Find("Setup"), nullptr);
}

struct LineCase {
  const char* line;
  const char* key;
  const char* value;
};

class ConfigLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(ConfigLineTest, SplitsAtTheFirstEqualsAndStripsBothParts) {
  const ConfigFile file = ConfigFile::Parse(std::string("[s]\n") + GetParam().line + "\n");
  ASSERT_EQ(file.Sections().size(), 1u);
  EXPECT_THAT(file.Sections()[0].section.Entries(), ElementsAre(Pair(GetParam().key, GetParam().value)));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ConfigLineTest,
    ::testing::Values(LineCase{"url = http://a/b.zip ", "url", "http://a/b.zip"},
                      LineCase{"parameter=/a=1 /b=2", "parameter", "/a=1 /b=2"},
                      LineCase{"\tmd5\t=\tabc;", "md5", "abc"},
                      LineCase{";comment", "comment", "comment"},
                      LineCase{"key=; value ;", "key", " value "},
                      LineCase{"noequals here ", "noequals here", "noequals here"},
                      LineCase{"empty=", "empty", ""},
                      LineCase{"=orphan", "", "orphan"}));

TEST(ConfigFileTest, RepeatedKeysKeepFileOrderAndLookupsReturnTheFirst) {
  const ConfigFile file = ConfigFile::Parse("[s]\r\nk=1\r\nK=2\r\nk=3\r\n");
  const Section& s = file.Sections()[0].section;
  EXPECT_THAT(s.Entries(), ElementsAre(Pair("k", "1"), Pair("K", "2"), Pair("k", "3")));
  EXPECT_EQ(s.Get("k"), "1");
  EXPECT_EQ(s.Get("K"), "2");
  EXPECT_FALSE(s.Has("missing"));
}

TEST(ConfigFileTest, OnlyLowerCaseYesIsTrue) {
  const ConfigFile file = ConfigFile::Parse("[s]\na=yes\nb=Yes\nc=yes please\nd=YES\n");
  const Section& s = file.Sections()[0].section;
  EXPECT_TRUE(s.IsYes("a"));
  EXPECT_FALSE(s.IsYes("b"));
  EXPECT_FALSE(s.IsYes("c"));
  EXPECT_FALSE(s.IsYes("d"));
  EXPECT_FALSE(s.IsYes("absent"));
}

TEST(ConfigFileTest, NumberedKeysFormAChainThatStopsAtTheFirstGap) {
  const ConfigFile file = ConfigFile::Parse(
      "[s]\nk=a\nk1=b\nk12=c\nk123=d\nk2=not in chain\nk1234=e\nk123456=after gap\n");
  EXPECT_THAT(file.Sections()[0].section.Chain("k"), ElementsAre("a", "b", "c", "d", "e"));
  EXPECT_TRUE(file.Sections()[0].section.Chain("absent").empty());
}

TEST(ConfigFileTest, LinesBeforeTheFirstSectionAndBlankLinesAreIgnored) {
  const ConfigFile file = ConfigFile::Parse("stray=1\n\n   \n[s]\n\n  a=1  \n\n");
  ASSERT_EQ(file.Sections().size(), 1u);
  EXPECT_THAT(file.Sections()[0].section.Entries(), ElementsAre(Pair("a", "1")));
}

TEST(ConfigFileTest, RepeatedSectionNamesKeepTheirOwnLines) {
  const ConfigFile file = ConfigFile::Parse("[action]\nid=1\n[action]\nid=2\n");
  ASSERT_EQ(file.Sections().size(), 2u);
  EXPECT_EQ(file.Sections()[0].section.Get("id"), "1");
  EXPECT_EQ(file.Sections()[1].section.Get("id"), "2");
}

TEST(ConfigTextTest, Utf16LittleEndianWithByteOrderMarkIsRead) {
  const std::string text = "[setup]\r\nproductionname=Orvo Sch\xC3\xB6n\r\n";
  const std::string bytes = "\xFF\xFE" + platform::Utf16LeBytes(platform::Utf8ToUtf16(text));
  const ConfigFile file = ConfigFile::Parse(bytes);
  ASSERT_NE(file.Find("setup"), nullptr);
  EXPECT_EQ(file.Find("setup")->Get("productionname"), "Orvo Sch\xC3\xB6n");
}

TEST(ConfigTextTest, Utf8IsKeptAndItsByteOrderMarkSkipped) {
  const ConfigFile file = ConfigFile::Parse("\xEF\xBB\xBF[setup]\nname=\xE2\x82\xAC\n");
  ASSERT_NE(file.Find("setup"), nullptr);
  EXPECT_EQ(file.Find("setup")->Get("name"), "\xE2\x82\xAC");
}

TEST(ConfigTextTest, LinesThatAreNotUtf8AreReadAsWindows1252) {
  // "Sch\xF6n" and "\x80" are Windows-1252; the other line is UTF-8 and stays as it is.
  EXPECT_EQ(DecodeConfigText("a=Sch\xF6n \x80\nb=\xC3\xA9\n"), "a=Sch\xC3\xB6n \xE2\x82\xAC\nb=\xC3\xA9\n");
}

// The system's profile reader hands over at most 2,047 characters of names and of each section; here every
// section and every line must arrive.
TEST(ConfigFileTest, LargeFilesLoseNoSectionAndNoLine) {
  constexpr int kSections = 3000;
  const std::string long_value(5000, 'x');
  std::string text = "[setup]\nproductionname=Orvo\n";
  for (int n = 0; n < kSections; ++n) {
    text += "[action" + std::to_string(n) + "]\n";
    for (int k = 0; k < 40; ++k) text += "key" + std::to_string(k) + "=value" + std::to_string(k) + "\n";
    text += "last=" + long_value + "\n";
  }
  const ConfigFile file = ConfigFile::Parse(text);
  ASSERT_EQ(file.Sections().size(), static_cast<std::size_t>(kSections + 1));
  const NamedSection& last = file.Sections().back();
  EXPECT_EQ(last.name, "action" + std::to_string(kSections - 1));
  EXPECT_EQ(last.section.Entries().size(), 41u);
  EXPECT_EQ(last.section.Get("key39"), "value39");
  EXPECT_EQ(last.section.Get("last"), long_value);
}

TEST(ConfigFileTest, LoadsByWindowsPathAndAMissingFileHasNoSections) {
  test::TestRoot root;
  root.WriteFile("C:\\cfg\\install.ini", "[setup]\nx=1\n[action]\n");
  EXPECT_THAT(ConfigFile::Load("C:\\cfg\\install.ini").SectionNames(), ElementsAre("setup", "action"));
  EXPECT_TRUE(ConfigFile::Load("C:\\cfg\\missing.ini").Sections().empty());
}

}  // namespace
}  // namespace orvo::plan
