// Tagvert: tests of the IF shown as a person reads it.
// SPDX-License-Identifier: Apache-2.0
#include "cli/if_view.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/record_feed.h"

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

TEST(IfViewTest, TagMarkersWrittenAsTheGroupStartsMatchTheWholeMarker) {
  // Flags before a tag, an empty source, an unknown flag, a tag and a pair id cut off by the end.
  const std::u16string units =
      u"ab\uE405\uE404\uE805\u0012<b>\uE000c\uE805\u0034\uE000\uE411\uE433\uE805\u0056\uE805"
      u"\u0078<p>x";
  const std::u16string pairCut = u"z\uE805\u0001y\uE405\uE805";
  const std::string dim = "\x1b[2m#", tag = " \x1b[0m\x1b[36m", reset = "\x1b[0m";
  const std::string cut = " (cut off by the end of the IF)";
  const std::pair<IfViewMode, std::string> cases[] = {
      {IfViewMode::Plain,
       "ab\n{#0012 block end: <b>}c{#0034}{#0056 flagged flag U+E433}{#0078" + cut + ": <p>x}\n"},
      {IfViewMode::Colour, "ab\n" + dim + "0012 block end" + tag + "<b>" + reset + "c" + dim +
                               "0034" + tag + reset + dim + "0056 flagged flag U+E433" + tag +
                               reset + dim + "0078" + cut + tag + "<p>x" + reset + "\n"},
  };
  for (const auto& [mode, shown] : cases) {
    for (std::size_t at = 0; at <= units.size(); ++at)
      EXPECT_EQ(Show(units, at, mode), shown) << "cut at " << at;
  }
  EXPECT_EQ(Show(pairCut, 3, IfViewMode::Plain), "z{#0001: y}\n{#???? block" + cut + "}\n");
}

// What `document` converted to IF shows in `mode`, twice: once from the IF written, once from
// the records it is written from.
std::pair<std::string, std::string> ShowBothWays(const std::string& document, IfViewMode mode) {
  std::string shown[2];
  for (const bool fromRecords : {false, true}) {
    std::ostringstream out;
    {
      CIfView view(out, mode);
      const std::u16string units = ConvertAsTheCommand(
          document, fromRecords ? CTagvertConverter::TableHook([&view](const CElementTable& table) {
            view.FeedTable(table);
          })
                                : nullptr);
      view.Feed(units.data(), units.size());
      view.Finish();
    }
    shown[fromRecords ? 1 : 0] = out.str();
  }
  return {shown[0], shown[1]};
}

TEST(IfViewTest, ShowsFromTheRecordsWhatTheIfWrittenShows) {
  const std::vector<std::string> documents = RecordTestDocuments();
  for (std::size_t i = 0; i < documents.size(); ++i) {
    for (const IfViewMode mode : {IfViewMode::Plain, IfViewMode::Colour, IfViewMode::Codes}) {
      const auto [fromIf, fromRecords] = ShowBothWays(documents[i], mode);
      EXPECT_EQ(fromRecords, fromIf) << "document " << i << ", mode " << static_cast<int>(mode);
    }
  }
}

}  // namespace
}  // namespace tagvert::cli
