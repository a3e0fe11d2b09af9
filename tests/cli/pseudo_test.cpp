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
    CUnitBlock out;
    translator.Feed(std::u16string_view(in).substr(0, cut), out);
    translator.Feed(std::u16string_view(in).substr(cut), out);
    translator.Finish(out);
    EXPECT_EQ(out.View(), expected) << "cut at " << cut;
  }
}

TEST(PseudoTest, LongRunMapsEachUnitAsAOneUnitRunDoes) {
  // A long run is mapped eight units at a time, passing over those eight at once when none is
  // an ASCII letter; a one-unit run goes unit by unit. Every unit, at every place in a step of
  // eight, must come out the same.
  std::u16string units;
  for (char16_t c = 1; c < 0x300; ++c)
    units += c;
  units += u"\u3042\uFF21\uFF41\uFF5A\uD7FF\uFFFF";
  const auto alone = [](char16_t c) {
    const std::u16string out = PseudoText(std::u16string(1, c));
    return out.size() == 1 ? out[0] : out[1];  // white space alone stays as it is
  };
  for (std::size_t shift = 0; shift < 8; ++shift) {
    const std::u16string run = std::u16string(shift, u'x') + units;
    const std::u16string out = PseudoText(run);
    ASSERT_EQ(out.size(), run.size() + (run.size() * 3 + 9) / 10 + 2);
    for (std::size_t k = 0; k < run.size(); ++k)
      ASSERT_EQ(out[k + 1], alone(run[k])) << "unit " << k << " shifted by " << shift;
  }
}

}  // namespace
}  // namespace tagvert::cli
