// Tagvert: tests of the locale-independent character classes and case mapping.
// SPDX-License-Identifier: Apache-2.0
#include "storage/char_class.h"

#include <gtest/gtest.h>

namespace tagvert {
namespace {

TEST(CharClassTest, SpaceIsExactlyTheFixedSet) {
  const std::u16string spaces =
      u"\t\n\v\f\r \u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2008\u2009\u200A\u2028"
      u"\u2029\u205F\u3000";
  for (char32_t c = 0; c <= 0xFFFF; ++c) {
    const auto unit = static_cast<char16_t>(c);
    ASSERT_EQ(CharIsSpace(unit), spaces.find(unit) != std::u16string::npos) << static_cast<int>(c);
  }
}

TEST(CharClassTest, AlnumUpperAndCompareFollowTheirRules) {
  const struct {
    char16_t c;
    bool alnum;
    char16_t upper;
  } cases[] = {
      {0x00FF, true, 0x0178}, {0x0436, true, 0x0416},  {0x00DF, true, 0x00DF},
      {0x00B2, true, 0x00B2}, {0x00D7, false, 0x00D7}, {0xE000, false, 0xE000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.c));
    EXPECT_EQ(CharIsAlnum(c.c), c.alnum);
    EXPECT_EQ(CharToUpper(c.c), c.upper);
  }
  EXPECT_EQ(StringAsciiUpper(u"az\u00E9"), u"AZ\u00E9");
  EXPECT_TRUE(StringEqualsNoCase(u"TraDOStag", u"tradostag"));
  EXPECT_FALSE(StringEqualsNoCase(u"\u00E9", u"\u00C9"));
  EXPECT_TRUE(StringCompareNoCase(u"a", u"B") < 0 && StringCompareNoCase(u"ab", u"A") > 0);
}

}  // namespace
}  // namespace tagvert
