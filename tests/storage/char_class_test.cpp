// Tagvert: tests of the locale-independent character classes.
// SPDX-License-Identifier: Apache-2.0
#include "storage/char_class.h"

#include <gtest/gtest.h>

namespace tagvert {
namespace {

TEST(CharClassTest, SpaceIsTheFixedSet) {
  for (char16_t c : {u'\t', u'\n', u'\v', u'\f', u'\r', u' ', u'\u1680', u'\u2000', u'\u2006',
                     u'\u2008', u'\u200A', u'\u2028', u'\u2029', u'\u205F', u'\u3000'}) {
    EXPECT_TRUE(CharIsSpace(c)) << static_cast<int>(c);
  }
  for (char16_t c : {u'\u00A0', u'\u2007', u'\u202F', u'\u0085', u'a', u'\0', u'\u200B'}) {
    EXPECT_FALSE(CharIsSpace(c)) << static_cast<int>(c);
  }
}

TEST(CharClassTest, AlnumFollowsGeneralCategory) {
  for (char16_t c : {u'a', u'Z', u'0', u'9', u'\u00E9', u'\u0416', u'\u4E2D', u'\u00B2', u'\u2160',
                     u'\u0661', u'\u00AA'}) {
    EXPECT_TRUE(CharIsAlnum(c)) << static_cast<int>(c);
  }
  for (char16_t c : {u'_', u'-', u' ', u'\u00A0', u'\u00D7', u'\u2013', u'\uE000', u'#'}) {
    EXPECT_FALSE(CharIsAlnum(c)) << static_cast<int>(c);
  }
  EXPECT_FALSE(CharIsAlnum(static_cast<char16_t>(0xD800)));
  EXPECT_FALSE(CharIsAlnum(static_cast<char16_t>(0xDFFF)));
}

TEST(CharClassTest, UpperUsesSimpleMapping) {
  EXPECT_EQ(CharToUpper(u'a'), u'A');
  EXPECT_EQ(CharToUpper(u'\u00E9'), u'\u00C9');
  EXPECT_EQ(CharToUpper(u'\u00FF'), u'\u0178');
  EXPECT_EQ(CharToUpper(u'\u0436'), u'\u0416');
  EXPECT_EQ(CharToUpper(u'\u00DF'), u'\u00DF');  // no one-unit upper case
  EXPECT_EQ(CharToUpper(u'\u0131'), u'I');       // dotless i
  EXPECT_EQ(CharToUpper(u'\u1F80'), u'\u1F88');  // simple, not full, mapping
  EXPECT_EQ(CharToUpper(u'1'), u'1');
  EXPECT_EQ(CharAsciiUpper(u'\u00E9'), u'\u00E9');
}

TEST(CharClassTest, CompareNoCaseFoldsOnlyAscii) {
  EXPECT_TRUE(StringEqualsNoCase(u"TraDOStag", u"tradostag"));
  EXPECT_FALSE(StringEqualsNoCase(u"\u00E9", u"\u00C9"));
  EXPECT_LT(StringCompareNoCase(u"a", u"B"), 0);
  EXPECT_GT(StringCompareNoCase(u"ab", u"A"), 0);
  EXPECT_EQ(StringCompareNoCase(u"", u""), 0);
}

TEST(CharClassTest, Utf8RoundTrip) {
  const std::u16string s = u"a\u00E9\u20AC\U0001F600";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
  EXPECT_EQ(Utf16ToUtf8(u"\u00E9"), "\xC3\xA9");
  EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");
}

}  // namespace
}  // namespace tagvert
