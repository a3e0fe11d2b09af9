// Tagvert: tests of the pseudo-translation of an IF.
// SPDX-License-Identifier: Apache-2.0
#include "cli/pseudo.h"

#include <gtest/gtest.h>

namespace tagvert::cli {
namespace {

TEST(PseudoTest, TextRunIsAccentedBracketedAndLengthenedButWhiteSpaceStays) {
  const struct {
    std::u16string run;
    std::u16string expected;
  } rows[] = {
      {u"The quick brown fox", u"[Ŧĥé qüíçķ ƀŕöŵñ ƒöx······]"},
      {u"ABC xyz", u"[ÅƁÇ xýž···]"},
      {u"1 < 2 & 3", u"[1 < 2 & 3···]"},  // the way back escapes the text for XML
      {u"é", u"[é·]"},
      {u" \t\n", u" \t\n"},  // white space only stays
  };
  for (const auto& row : rows) {
    EXPECT_EQ(PseudoText(row.run), row.expected);
  }
}

TEST(PseudoTest, CodesAndGroupContentsStayUnchanged) {
  // Header, a block tag group with text in its source, text, a reserve group whose data units
  // look like letters, skipped text, a tag whose pair id is a letter, and a trailing run.
  const std::u16string in =
      u"\uE804TTX\uE000\uE405\uE805\u0066<p class=\"a\">\uE000Hi\uE80Aab\uE000\uEC03mt"
      u"\uE805a<b>\uE000yo";
  const std::u16string expected =
      u"\uE804TTX\uE000\uE405\uE805\u0066<p class=\"a\">\uE000[Ĥí·]\uE80Aab\uE000\uEC03mt"
      u"\uE805a<b>\uE000[ýö·]";
  EXPECT_EQ(PseudoTranslate(in), expected);
  // A run that goes on in the next piece is translated whole.
  for (std::size_t cut = 0; cut <= in.size(); ++cut) {
    CPseudoTranslator translator;
    std::u16string out;
    translator.Feed(std::u16string_view(in).substr(0, cut), out);
    translator.Feed(std::u16string_view(in).substr(cut), out);
    translator.Finish(out);
    EXPECT_EQ(out, expected) << "cut at " << cut;
  }
}

}  // namespace
}  // namespace tagvert::cli
