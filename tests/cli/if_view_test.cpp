// Tagvert: tests of the IF shown as a person reads it.
// SPDX-License-Identifier: Apache-2.0
#include "cli/if_view.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tagvert::cli {
namespace {

std::string Show(const std::u16string& units, std::size_t cut, IfViewMode mode) {
  std::ostringstream out;
  {
    CIfView view(out, mode);
    view.Feed(units.data(), cut);
    view.Feed(units.data() + cut, units.size() - cut);
    view.Finish();
  }
  return out.str();
}

TEST(IfViewTest, SurrogatePairsCutBetweenPiecesStayOneCharacter) {
  // A pair in text and in a tag's source, a high surrogate before a letter and one at the end.
  const std::u16string units = u"x\xD83D\xDE00\uE805\u0001<\xD83D\xDE00>\uE000\xD83Dy\xD83D";
  EXPECT_EQ(Show(units, units.size(), IfViewMode::Plain),
            "x\xF0\x9F\x98\x80{#0001: <\xF0\x9F\x98\x80>}\xEF\xBF\xBDy\xEF\xBF\xBD\n");
  for (const IfViewMode mode : {IfViewMode::Plain, IfViewMode::Codes}) {
    const std::string whole = Show(units, units.size(), mode);
    for (std::size_t cut = 0; cut < units.size(); ++cut)
      EXPECT_EQ(Show(units, cut, mode), whole) << "cut at " << cut;
  }
}

}  // namespace
}  // namespace tagvert::cli
