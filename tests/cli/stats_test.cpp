// Tagvert: tests of the word and run counts of an IF.
// SPDX-License-Identifier: Apache-2.0
#include "cli/stats.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/document_scan.h"
#include "frame/ttx_converter.h"
#include "storage/memory_stream.h"

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

// The counts of `document` (its bytes) converted to IF, twice: once from the IF written, once
// from the records it is written from.
std::pair<CCounts, CCounts> CountBothWays(const std::string& document) {
  CCounts counts[2] = {};
  for (const bool fromRecords : {false, true}) {
    CTagvertConverter converter;
    converter.SetLanguageMatch(LanguageMatch::Language);
    // The target language the document names, so that its Tuvs are classified as the command's.
    converter.SetDocumentReadHook([](const CDocumentFacts& facts) -> std::optional<std::int32_t> {
      if (!facts.targetLanguage) return std::nullopt;
      return DirectionOfLanguage(*facts.targetLanguage);
    });
    CIfCounter counter;
    if (fromRecords) {
      converter.SetTableHook([&counter](const CElementTable& table) { counter.FeedTable(table); });
    }
    const auto target = std::make_shared<CMemoryStream>();
    converter.ConvertToIF(CEndpoint::Stream(std::make_shared<CMemoryStream>(
                              std::vector<std::uint8_t>(document.begin(), document.end()))),
                          CEndpoint::Stream(target));
    const std::vector<std::uint8_t>& bytes = target->Bytes();
    EXPECT_EQ(bytes.empty(), fromRecords);
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
      units[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    counter.Feed(units.data(), units.size());
    counter.Finish();
    counts[fromRecords ? 1 : 0] = {counter.Runs(), counter.Words(), counter.Tags()};
  }
  return {counts[0], counts[1]};
}

TEST(IfRecordCountTest, CountsWhatTheIfWrittenFromTheRecordsHolds) {
  std::vector<std::string> documents;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(TAGVERT_TEST_DATA_DIR)) {
    if (entry.path().extension() != ".ttx") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    documents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_FALSE(documents.empty());
  // Narrow and wide sources (one character above U+00FF makes the whole source wide), with what
  // the writer turns into tag groups or leaves out: no-break spaces, units of the code range
  // (literal and as references), skipped units, a placeholder's text, words across records,
  // white space only runs, CJK and a surrogate pair, Latin-1 letters, long runs of ASCII.
  const std::string head =
      "<TRADOStag><FrontMatter><UserSettings SourceLanguage=\"EN-US\" "
      "TargetLanguage=\"DE-DE\"/></FrontMatter><Body><Raw>";
  const std::string tail = "</Raw></Body></TRADOStag>";
  const std::string bodies[] = {
      "Tea\u00A0&amp; milk\u00A0\u00A0at five p.m. \u00E9l\u00E8ve na\u00EFve "
      "<ut Type=\"start\">&lt;b&gt;</ut>bo<ut>x</ut>ld<ut Type=\"end\">&lt;/b&gt;</ut>   \n ",
      "<Tu MatchPercent=\"0\"><Tuv Lang=\"EN-US\">Hello world, the quick brown fox jumps over "
      "the lazy dog 12345 times</Tuv><Tuv Lang=\"DE-DE\">Hallo\u00A0Welt &#xE805;x&#xE000;y"
      "</Tuv></Tu> \u65E5\u672C\u8A9E\u306E\u30C6\u30AD\u30B9\u30C8 \U00020B9F\U0001D400x",
      "a\uE000b\uE805c &#xE804;d \u00A0\u4E2D\u00A0e <Tu MatchPercent=\"100\"><Tuv "
      "Lang=\"EN-US\">skipped unit</Tuv><Tuv Lang=\"DE-DE\">\u00A0</Tuv></Tu>\u00A0",
      "0123456789abcdef0123456789abcdef\u00C0\u00C1 0123456789 abcdef<ut>&lt;i/&gt;</ut>"
      "ghijklmnopqrstuvwxyz0123456789\u00FF",
  };
  for (const std::string& body : bodies) {
    // The body in a narrow source, then in a wide one.
    for (const char* widening : {"", "\u0100"}) {
      std::string document = head;
      document.append(body).append(widening).append(tail);
      documents.push_back(std::move(document));
    }
  }
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const auto [fromIf, fromRecords] = CountBothWays(documents[i]);
    EXPECT_EQ(fromRecords, fromIf) << "document " << i;
  }
}

}  // namespace
}  // namespace tagvert::cli
