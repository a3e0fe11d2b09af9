// Tagvert: tests of the element records whose length or name id takes more than 16 bits, which
// the table keeps apart from the records: long texts, tags, collapsed blocks and replaced texts,
// and documents of very many names.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "frame/frame_test_util.h"
#include "markup/element_table.h"

namespace tagvert {
namespace {

using test::Utf16LeUnits;
using test::Utf8Bytes;

constexpr std::size_t kLong = 70000;  // beyond 65,535

std::u16string Document(std::u16string_view front, std::u16string_view body) {
  return u"<TRADOStag><FrontMatter><UserSettings TargetLanguage=\"DE-DE\"/>" +
         std::u16string(front) + u"</FrontMatter><Body><Raw>" + std::u16string(body) +
         u"</Raw></Body></TRADOStag>\n";
}

// `text` with every `marker` unit (found nowhere else) replaced by `piece` `times` times.
std::u16string Repeat(std::u16string_view text, char16_t marker, std::u16string_view piece,
                      std::size_t times) {
  std::u16string out;
  for (const char16_t unit : text) {
    if (unit != marker) {
      out += unit;
      continue;
    }
    for (std::size_t k = 0; k < times; ++k)
      out += piece;
  }
  return out;
}

struct CCase {
  const char* what;
  std::u16string_view front;
  std::u16string_view body;
};

// Every `marker` of each case's document stands for `piece` repeated `times` times: the IF of the
// document so widened is that of the document itself with each `marker` of its IF widened the
// same way, in a narrow and in a wide source.
void ExpectWidenedAlike(std::span<const CCase> cases, char16_t marker, std::u16string_view piece,
                        std::size_t times) {
  CTagvertConverter converter;
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.what);
    for (const bool wide : {false, true}) {
      // A unit beyond U+00FF keeps the source wide.
      const std::u16string tail = wide ? u"\u0416" : u"";
      const auto shortIf = test::ToIf(Utf8Bytes(Document(c.front, c.body) + tail), &converter);
      const auto longIf = test::ToIf(Utf8Bytes(Document(Repeat(c.front, marker, piece, times),
                                                        Repeat(c.body, marker, piece, times)) +
                                               tail),
                                     &converter);
      ASSERT_EQ(shortIf.result, kSOk);
      ASSERT_EQ(longIf.result, kSOk);
      const std::u16string expected = Repeat(Utf16LeUnits(shortIf.output), marker, piece, times);
      EXPECT_TRUE(Utf16LeUnits(longIf.output) == expected) << "wide source " << wide;
    }
  }
}

// Every `q` stands for a run of kLong of them. A length or name id read wrongly from a long
// record would move, cut or rename its text.
TEST(LongValuesTest, LongTextsTagsBlocksAndReplacedTextsConvertAsShortOnes) {
  const CCase cases[] = {
      {"text run", u"", u"a q b"},
      {"tag", u"", u"<b a=\"q\">x</b>"},
      {"collapsed block", u"<x a=\"q\"/>q", u"y"},
      {"text replaced in the edited buffer", u"", u"q&#x20AC;"},
      {"text replaced in the source", u"", u"q&amp;"},
      {"placeholder", u"", u"<ut Type=\"start\" DisplayText=\"b\" x=\"q\">x</ut>"},
      {"placeholder's name", u"",
       u"<ut DisplayText=\"q\">x</ut><ut Type=\"end\" DisplayText=\"q\">y</ut>"},
  };
  ExpectWidenedAlike(cases, u'q', u"q", kLong);
}

// Blocks of many short records, which become long only when they are collapsed: the walks over
// the records were chosen for a table without long records by then. The IF holds a collapsed
// block's text as it is: every `Q` stands for 20,000 empty tags (80,000 units).
TEST(LongValuesTest, BlocksThatBecomeLongWhenCollapsedConvertAsShortOnes) {
  const CCase cases[] = {
      {"collapsed block", u"Q", u"y"},
      {"placeholder", u"", u"a<ut Type=\"start\" DisplayText=\"b\">Q</ut>c<ut>Q</ut>"},
  };
  ExpectWidenedAlike(cases, u'Q', u"<i/>", 20000);
}

// 70,000 start tags of distinct names, then their end tags in the order of the start tags: each
// end tag pairs with the start tag of its own name, which ids cut to 16 bits would confuse.
std::u16string ManyNames() {
  std::u16string body;
  const auto appendName = [&body](std::size_t k) {
    body += u'n';
    for (const char digit : std::to_string(k))
      body += static_cast<char16_t>(digit);
  };
  for (std::size_t k = 0; k < kLong; ++k) {
    body += u'<';
    appendName(k);
    body += u">t";
  }
  for (std::size_t k = 0; k < kLong; ++k) {
    body += u"</";
    appendName(k);
    body += u'>';
  }
  // A placeholder named by a name interned late.
  body += u"<ut DisplayText=\"n69999\">x</ut>";
  return Document(u"", body);
}

TEST(LongValuesTest, NamesBeyondSixteenBitsKeepTheirIdsAndPairs) {
  CElementTable table;
  table.Source().Assign(ManyNames());
  ScanElements(table, true);
  ASSERT_GT(table.Names().Size(), std::size_t{65536});
  std::unordered_map<std::u16string, std::uint16_t> openId;
  std::size_t closed = 0;
  for (const CElementRecord& record : table.Records()) {
    if (!record.IsTag()) continue;
    const std::u16string_view text = table.Text(record);
    const std::size_t from = text[1] == u'/' ? 2 : 1;
    const std::u16string_view name = text.substr(from, text.find_first_of(u" >", from) - from);
    ASSERT_EQ(table.Name(record), name);
    ASSERT_EQ(table.NameId(record), table.Names().Find(name));
    if (name.size() < 2 || name[0] != u'n') continue;
    if (record.tagType == TagType::PairedOpen) openId[std::u16string(name)] = record.pairId;
    if (record.tagType == TagType::PairedClose) {
      ASSERT_EQ(record.pairId, openId.at(std::u16string(name)));
      ++closed;
    }
  }
  EXPECT_EQ(closed, kLong);
}

// The IF of the document of many names as the converter wrote it with 32-bit name ids: its size
// and an FNV-1a hash of its units.
TEST(LongValuesTest, DocumentOfManyNamesConvertsAsBefore) {
  CTagvertConverter converter;
  const auto c = test::ToIf(Utf8Bytes(ManyNames()), &converter);
  ASSERT_EQ(c.result, kSOk);
  std::uint64_t hash = 0xCBF29CE484222325u;
  for (const std::uint8_t byte : c.output)
    hash = (hash ^ byte) * 0x100000001B3u;
  EXPECT_EQ(c.output.size(), std::size_t{3455932});
  EXPECT_EQ(hash, std::uint64_t{2118761114990298688u});
}

}  // namespace
}  // namespace tagvert
