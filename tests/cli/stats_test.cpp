// Tagvert: tests of the word and run counts of an IF.
// SPDX-License-Identifier: Apache-2.0
#include "cli/stats.h"

#include <gtest/gtest.h>

#include "cli/record_feed.h"

namespace tagvert::cli {
namespace {

struct CCounts {
  std::uint64_t runs, words, tags;
  bool operator==(const CCounts&) const = default;
};

CCounts Count(const std::u16string& units) {
  CCounts whole{};
  // Fed whole and cut in two at every place: the counts must not depend on where it is cut.
  for (std::size_t cut = 0; cut <= units.size(); ++cut) {
    CIfCounter counter;
    counter.Feed(units.data(), cut);
    counter.Feed(units.data() + cut, units.size() - cut);
    counter.Finish();
    const CCounts counts{counter.Runs(), counter.Words(), counter.Tags()};
    if (cut == 0) whole = counts;
    EXPECT_EQ(counts, whole) << "cut at " << cut;
  }
  return whole;
}

TEST(IfCounterTest, CountsTextRunsWordsAndTagGroups) {
  const struct {
    const char* name;
    std::u16string units;
    CCounts expected;
  } rows[] = {
      {"plain words", u"The quick brown fox", {1, 4, 0}},
      {"digits and punctuation split words", u"Version 2.0, page 17-18!", {1, 6, 0}},
      {"accented letters", u"Très élégant, naïve", {1, 3, 0}},
      {"CJK characters are words", u"日本語のテキスト abc", {1, 9, 0}},
      {"Hangul syllables", u"한국어", {1, 3, 0}},
      {"a CJK character ends a word", u"abc日本def Ωμέγα語ж", {1, 7, 0}},
      {"beyond U+FFFF: plane 2 ideograph, then a letter-like symbol",
       std::u16string{0xD840, 0xDC0B, 0xD835, 0xDC00, u'x'},
       {1, 2, 0}},
      {"white space only is no run", u" \n\t", {0, 0, 0}},
      {"header and tag source text are not text",
       u"\uE804TTX\uE000\uE405\uE805\u0066<b class=\"x\">\uE000Bold\uE404\uE805\u0066</b>\uE000 "
       u"text",
       {2, 2, 2}},
      {"a pair id in the code range is data", u"\uE805\uE000<i>\uE000word", {1, 1, 1}},
      {"reserve data and skipped text are not text",
       u"a\uE80A\u0041\u0042\uE000\uEC03mt\uE805\u0007<br/>\uE000b",
       {2, 2, 1}},
      {"a word cut by a tag is two", u"in\uE805\u0001<b>\uE000side", {2, 2, 1}},
      {"runs and pair ids in the code range across blocks of sixteen units",
       u"0123456789abcd\uE805\uE000<i>\uE000ab cd\tef-12 gh,ij kl\uE805\uE805<b/>\uE000x",
       {3, 9, 2}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Count(row.units), row.expected) << row.name;
  }
}

// The counts of `document` converted to IF, twice: once from the IF written, once from the
// records it is written from.
std::pair<CCounts, CCounts> CountBothWays(const std::string& document) {
  CCounts counts[2] = {};
  for (const bool fromRecords : {false, true}) {
    CIfCounter counter;
    const std::u16string units = ConvertAsTheCommand(
        document, fromRecords
                      ? CTagvertConverter::TableHook(
                            [&counter](const CElementTable& table) { counter.FeedTable(table); })
                      : nullptr);
    counter.Feed(units.data(), units.size());
    counter.Finish();
    counts[fromRecords ? 1 : 0] = {counter.Runs(), counter.Words(), counter.Tags()};
  }
  return {counts[0], counts[1]};
}

TEST(IfRecordCountTest, CountsWhatTheIfWrittenFromTheRecordsHolds) {
  const std::vector<std::string> documents = RecordTestDocuments();
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const auto [fromIf, fromRecords] = CountBothWays(documents[i]);
    EXPECT_EQ(fromRecords, fromIf) << "document " << i;
  }
}

}  // namespace
}  // namespace tagvert::cli
