#include "platform/text.h"

#include <gtest/gtest.h>

namespace orvo::platform {
namespace {

TEST(Text, Utf16RoundTripKeepsEveryPlane) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  const std::u16string wide = Utf8ToUtf16(text);
  ASSERT_EQ(wide.size(), 6u);  // the emoji is a surrogate pair
  EXPECT_EQ(wide[3], 0xD83D);
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf16LeBytes(u"A\u20AC"), std::string("A\0\xAC\x20", 4));
  EXPECT_EQ(WideToUtf8(L"a\u00E9\U0001F600"), "a\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(Text, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("\xFF" "a"), std::u16string(u"\uFFFDa"));
  EXPECT_EQ(Utf8ToUtf16("\xC3"), std::u16string(u"\uFFFD"));         // truncated sequence
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), std::u16string(u"\uFFFD\uFFFD"));  // overlong "/"
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_TRUE(IsValidUtf8("plain \xEF\xBF\xBD and \xC3\xA9"));
  EXPECT_FALSE(IsValidUtf8("bad \xE2\x82"));
}

TEST(Text, CaseInsensitiveComparisonsCoverNonAsciiLetters) {
  EXPECT_TRUE(EqualsNoCase("SOFTWARE\\Orvo", "software\\ORVO"));
  EXPECT_TRUE(EqualsNoCase("\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"));  // été / ÉTÉ
  EXPECT_TRUE(EndsWithNoCase("Dir\\ORVOPACK.BIN", "orvopack.bin"));
  EXPECT_FALSE(EndsWithNoCase("bin", "orvopack.bin"));
  EXPECT_TRUE(StartsWithNoCase("OrvoStart", "orvo"));
  EXPECT_TRUE(ContainsNoCase("Stub Installer", "INSTALL"));
  EXPECT_EQ(LowerCase("Orvo\xC3\x89"), "orvo\xC3\xA9");
}

TEST(Text, FormatHasNoLengthLimit) {
  const std::string big(100000, 'x');
  EXPECT_EQ(Format("<%s>", big.c_str()).size(), big.size() + 2);
  EXPECT_EQ(Format("%d%%", 42), "42%");
}

TEST(Text, SplitAndReplace) {
  EXPECT_EQ(Split("a,,b", ','), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(Split("", ','), (std::vector<std::string>{""}));
  EXPECT_EQ(ReplaceAll("a\r\nb\r\n", "\r\n", "<br/>"), "a<br/>b<br/>");
  EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");  // replacement text is not searched again
}

}  // namespace
}  // namespace orvo::platform
