// The string table and the string cache.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "ui/ui_strings.h"

namespace orvo::ui {
namespace {

TEST(UiStringsTest, CachedEnglishTextsHaveTheProductNameFilled) {
  CUIStrings strings;
  strings.Load(kLanguageEnglishUs);
  EXPECT_EQ(strings.Language(), kLanguageEnglishUs);
  EXPECT_EQ(strings.Get(133), "Install Now");
  EXPECT_EQ(strings.Get(130), "Help us make Orvo Installer better");
  // "[CODE]" is never filled.
  EXPECT_NE(strings.Get(252).find("[CODE]"), std::string::npos);
  // Direct lookups keep their placeholders.
  EXPECT_EQ(LookupTableString(kLanguageEnglishUs, 130), "Help us make [PRODUCTNAME] better");
}

TEST(UiStringsTest, AnIdOutsideTheCacheOrALanguageWithoutTableIsEmpty) {
  CUIStrings strings;
  strings.Load(kLanguageEnglishUs);
  ASSERT_TRUE(LookupTableString(kLanguageEnglishUs, 103).has_value());  // in the table, not in the cache
  EXPECT_EQ(strings.Get(103), "");
  EXPECT_EQ(strings.Get(99999), "");

  strings.Load(1031);  // German: no table built in, and never the English text in its place
  EXPECT_EQ(strings.Get(133), "");
  EXPECT_FALSE(LookupTableString(1031, 133).has_value());
}

TEST(UiStringsTest, TheCachedSetIsInLoadOrderWithoutRepeats) {
  const std::vector<int>& ids = CachedStringIds();
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(ids.front(), 131);
  EXPECT_EQ(ids.back(), 380);
  EXPECT_EQ(std::set<int>(ids.begin(), ids.end()).size(), ids.size());
  EXPECT_NE(std::find(ids.begin(), ids.end(), 240), ids.end());  // "226 to 252" expanded
}

TEST(UiStringsTest, TheProcessWideCacheFollowsTheLastLoad) {
  LoadStrings(kLanguageEnglishUs);
  EXPECT_EQ(CurrentStringsLanguage(), kLanguageEnglishUs);
  EXPECT_EQ(GetString(142), "Close");
}

// Texts outside the cache come from the table of the cache's language, placeholders left for the caller.
TEST(UiStringsTest, TheDirectLookupGivesTheStoredTextInTheCachesLanguage) {
  LoadStrings(kLanguageEnglishUs);
  EXPECT_EQ(DirectString(147), "Downloading [PRODUCTNAME]");
  EXPECT_EQ(DirectString(221), "There was a problem installing [PRODUCTNAME].");
  EXPECT_EQ(DirectString(1), "");
  LoadStrings(1031);
  EXPECT_EQ(DirectString(147), "") << "a language without a table has no texts, not English ones";
  LoadStrings(kLanguageEnglishUs);
}

}  // namespace
}  // namespace orvo::ui
