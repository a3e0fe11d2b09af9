// Tagvert: tests of the element table (CElementTable): its tag reader gives what the element
// reader gives for the same document, and pairing while scanning what pairing afterwards gives.
// (Its ids against the element list's: the frame's pipeline test, tests/frame.)
// SPDX-License-Identifier: Apache-2.0
#include "markup/element_table.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "markup/sgml_parser.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::Printable;

// One line per element: text, type letter (lower case for a text run), name and attributes.
std::u16string Describe(std::u16string_view text, bool isTag, char16_t type,
                        std::u16string_view name) {
  std::u16string line(text);
  line += u'|';
  line += isTag ? type : static_cast<char16_t>(type + 32);
  line += u'|';
  line += name;
  return line;
}

char16_t TypeLetter(TagType type) {
  constexpr char16_t kLetters[] = u"OCSPQ";
  return kLetters[static_cast<int>(type)];
}

std::vector<std::u16string> ReadWithElementReader(std::u16string_view input) {
  CDataStorage storage(EncodingMode::Utf16, EncodingMode::None);
  storage.Open(
      CEndpoint::Stream(std::make_shared<test::CChunkedStream>(test::Utf16LeBytes(input), 1024)),
      CEndpoint());
  COrvelSgmlParser parser(&storage);
  std::vector<std::u16string> lines;
  for (CElementX element; parser.ReadElement(&element); element.Reset()) {
    std::u16string line = Describe(element.GetSourceTextRef(), element.GetIsTag(),
                                   TypeLetter(element.GetTagType()), element.GetNameRef());
    for (const CAttributeX& attribute : element.GetAttributes())
      (((line += u' ') += attribute.m_name) += u'=') += attribute.m_value;
    lines.push_back(std::move(line));
  }
  return lines;
}

// `narrow`: the source keeps a byte per unit (all units of these inputs are below U+0100).
std::vector<std::u16string> ReadWithTable(std::u16string_view input, bool narrow = false) {
  CElementTable table;
  if (narrow) table.Source().SetNarrow();
  table.Source().Assign(input);
  ScanElements(table);
  std::vector<std::u16string> lines;
  for (const CElementRecord& record : table.Records()) {
    std::u16string line = Describe(table.Text(record), record.IsTag(), TypeLetter(record.tagType),
                                   table.Name(record));
    std::vector<CAttributeSpan> attributes;
    table.ReadAttributes(record, attributes);
    for (const CAttributeSpan& span : attributes)
      (((line += u' ') += table.AttributeName(span)) += u'=') += table.AttributeValue(span);
    lines.push_back(std::move(line));
  }
  return lines;
}

// Pieces that reach every branch of the tag reader: strays, broken tags, specials whose names
// lose units, CDATA near misses, quotes, `/` in values, and cut-off markup at the end; names
// of more than sixteen units, and names with units outside ASCII.
// clang-format off
constexpr const char16_t* kPieces[] = {
    u"<", u">", u"</", u"/>", u"<!--", u"-->", u"<![CDATA[", u"]]>", u"<!DOC\"q>\" x>",
    u"<?xml v='1'?>", u"\"", u"'", u"=", u" ", u"\t", u"\n", u"&amp;", u"\u00A0", u"x", u"ut",
    u"<ut a=b/>", u"<%x%>", u"<!x", u"<!-", u"<![CD", u"<![CDATA", u"<a b=c/>", u"<a b='q'>",
    u"<a/b>", u"<a b", u" c=\"d\"", u"<a b=\"<\">", u"<a b=c/d>", u"<a =x>", u"<!- x>", u"<! x>",
    u"<!-x\"y\"z>", u"<a b c>", u"<a b = 'c' >", u"</a>", u"<b>", u"</b>",
    u"<Name_of.more:than-16units Attribute_of.more:than-16units='v'>", u"<t\u00E9 n\u00E9='x'>",
    u"<a b='1'c=\"2\" />", u"<a\tb='1'\n/>", u"<a b='x>y'>", u"<a b='x>"};
// clang-format on

std::u16string RandomDocument(std::mt19937& random, std::size_t pieces) {
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
  std::u16string document;
  for (std::size_t i = 0; i < pieces; ++i)
    document += kPieces[pick(random)];
  return document;
}

TEST(CElementTableTest, ScanGivesTheElementsOfTheElementReader) {
  // clang-format off
  const std::u16string cases[] = {
      u"", u"text only", u"<<<", u"<a", u"<a b=\"c", u"<a b=\"c\"", u"<![CDATA[x]]>y",
      u"<![CDX>y>z", u"<!DOCTYPE\"x\">", u"<!-->", u"<%a>%>", u"<a b<c>", u"<a b=c<d>", u"<a/ b>",
      u"</a x='1'/>", u"<a b=c/>", u"<![CDATA[]>]]]]>", u"<a b='x<y'>", u"<!-x\"y>\"z>",
      u"<%a'%>'%>",
  };
  // clang-format on
  for (const std::u16string& input : cases) {
    SCOPED_TRACE(Printable(input));
    EXPECT_EQ(ReadWithTable(input), ReadWithElementReader(input));
    EXPECT_EQ(ReadWithTable(input, true), ReadWithElementReader(input));
  }
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    const std::u16string input = RandomDocument(random, static_cast<std::size_t>(1 + round % 60));
    SCOPED_TRACE(Printable(input));
    const std::vector<std::u16string> expected = ReadWithElementReader(input);
    ASSERT_EQ(ReadWithTable(input), expected);
    ASSERT_EQ(ReadWithTable(input, true), expected);
  }
}

// A wide source is searched for `<` and `>` many units a step, each unit squeezed into a byte:
// units that share a byte with `<` or `>` (U+013C, U+3C00, U+803C, U+FF3E) must not end a text
// run or a tag, wherever they fall among the units of a step.
TEST(CElementTableTest, WideUnitsThatShareAByteWithMarkupAreText) {
  const std::u16string lookalikes = u"\u013C\u3C00\u803C\uFF3E\u013E\u3E3C";
  for (std::size_t before = 0; before < 40; ++before) {
    std::u16string text;
    for (std::size_t k = 0; k < before; ++k)
      text += lookalikes[k % lookalikes.size()];
    const std::u16string input = text + u"<a b='" + text + u"'>" + text + u"</a>" + text;
    SCOPED_TRACE(before);
    EXPECT_EQ(ReadWithTable(input), ReadWithElementReader(input));
  }
}

// Repeated tags are taken from what the cut remembers of their text: a tag that shares its
// length and its first and last eight bytes with one read before, but not the bytes between, is
// read on its own (here it is not of the plain shape, or has another type), also where the tags
// before it were followed by the one it resembles and the input goes on for long enough that
// the cut expects that one again.
TEST(CElementTableTest, RepeatedTagsDifferingInTheMiddleAreReadAgain) {
  const std::u16string seen = u"<Name first=\"1\" second=\"2\" third=\"3\">";
  const std::u16string others[] = {
      u"<Name first=\"1\"<second=\"2\" third=\"3\">",
      u"<Name first=\"1\" second=2\"2 third=\"3\">",
      u"<Name first=\"1\" second=\"2\"/third=\"3\">",
      u"<Name first=\"1\" secon\u00E9=\"2\" third=\"3\">",
      u"<Name first=\"1\" second=\"2\" third<\"3\">",
  };
  for (const std::u16string& other : others) {
    SCOPED_TRACE(Printable(other));
    ASSERT_EQ(other.size(), seen.size());
    const std::u16string input = seen + u"x" + other + u"y" + seen + u"z" + other + seen + seen +
                                 seen + other + seen + seen + other + std::u16string(200, u'w');
    EXPECT_EQ(ReadWithTable(input), ReadWithElementReader(input));
    EXPECT_EQ(ReadWithTable(input, true), ReadWithElementReader(input));
  }
}

// The remembered text is compared in steps of sixteen and 32 bytes whose number and overlap
// follow from its length: a tag that differs from it in any one unit, at every length up to
// what the cut remembers, is read on its own (a `<` in the value ends it early).
TEST(CElementTableTest, RepeatedTagsDifferingInAnyUnitAreReadAgain) {
  for (std::size_t length = 1; length <= 90; ++length) {
    const std::u16string seen = u"<a b=\"" + std::u16string(length, u'v') + u"\">";
    for (std::size_t at = 0; at < length; ++at) {
      std::u16string other = seen;
      other[6 + at] = u'<';
      SCOPED_TRACE(Printable(other));
      const std::u16string input = seen + u"x" + other + seen + seen + seen + other + seen + seen +
                                   other + std::u16string(200, u'w');
      const std::vector<std::u16string> expected = ReadWithElementReader(input);
      ASSERT_EQ(ReadWithTable(input), expected);
      ASSERT_EQ(ReadWithTable(input, true), expected);
    }
  }
}

TEST(CElementTableTest, AttributesBeyondSixteenBitsAreReadAgain) {
  std::u16string input = u"<a";
  constexpr std::size_t kCount = 70000;
  for (std::size_t i = 0; i < kCount; ++i)
    input += u" b";
  input += u" last=v>";
  CElementTable table;
  table.Source().Assign(input);
  ScanElements(table);
  ASSERT_EQ(table.Records().size(), 1u);
  const CElementRecord& record = table.Records()[0];
  std::vector<CAttributeSpan> attributes;
  table.ReadAttributes(record, attributes);
  EXPECT_EQ(attributes.size(), kCount + 1);
  std::u16string_view value;
  ASSERT_TRUE(table.FindAttribute(record, u"last", value));
  EXPECT_EQ(value, u"v");
}

// The look-ups by name give the first attribute of each name among those ReadAttributes gives,
// for plain tags (walked only up to the names asked for) and others, in narrow and wide
// sources; CAttributeLookup gives the same again for tags of equal texts.
TEST(CElementTableTest, LookupsGiveTheFirstAttributeOfEachName) {
  std::mt19937 random(5);
  for (int round = 0; round < 300; ++round) {
    // Repeated plain tags among the pieces, so that the lookup's memory answers, and more tags
    // of one length than it has room for, which differ only in a value.
    std::u16string input = RandomDocument(random, static_cast<std::size_t>(1 + round % 40));
    input += u"<a b='1' B=\"2\" c='3'><a b='1' B=\"2\" c='3'><a c='4' b=''>";
    for (int i = 0; i < 100; ++i) {
      (((input += u"<a b='") += static_cast<char16_t>(u'A' + i / 10)) +=
       static_cast<char16_t>(u'A' + i % 10)) += u"'>";
    }
    SCOPED_TRACE(Printable(input));
    for (const bool narrow : {false, true}) {
      CElementTable table;
      if (narrow) table.Source().SetNarrow();
      table.Source().Assign(input);
      ScanElements(table);
      CAttributeLookup lookup(table, {{u"b"}, {u"C", false}, {u"zz"}});
      for (const CElementRecord& record : table.Records()) {
        std::vector<CAttributeSpan> attributes;
        table.ReadAttributes(record, attributes);
        std::u16string expected[3];
        unsigned expectedFound = 0;
        for (const CAttributeSpan& span : attributes) {
          const std::u16string_view name = table.AttributeName(span);
          const int k = name == u"b" ? 0 : (name == u"c" || name == u"C") ? 1 : -1;
          if (k < 0 || (expectedFound & (1u << k)) != 0) continue;
          expectedFound |= 1u << k;
          expected[k] = table.AttributeValue(span);
        }
        std::u16string_view values[3];
        ASSERT_EQ(lookup.Find(record, values), expectedFound);
        for (int k = 0; k < 2; ++k) {
          if ((expectedFound & (1u << k)) != 0) {
            EXPECT_EQ(values[k], expected[k]);
          }
        }
      }
    }
  }
}

// Records and units keep their values when their storage grows from the free store to large
// blocks and from one large block to a larger one.
TEST(CElementTableTest, StorageGrowsPastTheLargeBlockSize) {
  CElementTable table;
  const std::size_t count = 3 * kLargeBlockBytes / sizeof(CElementRecord);
  for (std::size_t i = 0; i < count; ++i) {
    CElementRecord record;
    record.textStart = static_cast<std::uint32_t>(i);
    record.pairId = static_cast<std::uint16_t>(i);
    record.tagType = i % 2 == 0 ? TagType::PairedOpen : TagType::Close;
    table.Records().push_back(record);
    table.Source().PushBack(static_cast<char16_t>(i));
  }
  for (std::size_t i = 0; i < count; i += 4099) {
    SCOPED_TRACE(i);
    const CElementRecord& record = table.Records()[i];
    EXPECT_EQ(record.textStart, i);
    EXPECT_EQ(record.pairId, static_cast<std::uint16_t>(i));
    EXPECT_EQ(TypeLetter(record.tagType), i % 2 == 0 ? u'P' : u'C');
    EXPECT_EQ(table.Source().Data()[i], static_cast<char16_t>(i));
  }
}

// A replaced text goes over its own units in the source only where it fits there: no longer,
// and in a narrow source no unit from U+0100 on (which a byte would cut). The other records'
// texts stay as they were.
TEST(CElementTableTest, ReplacedTextsGoInPlaceWhereTheyFit) {
  for (const bool narrow : {false, true}) {
    SCOPED_TRACE(narrow);
    CElementTable table;
    if (narrow) table.Source().SetNarrow();
    table.Source().Assign(u"a&amp;b<x>c&lt;d<y>e\u00A0f<z>");
    ScanElements(table);
    CRecordVector& records = table.Records();
    ASSERT_EQ(records.size(), 6u);
    table.ReplaceText(records[0], u"a&b");
    table.ReplaceText(records[2], u"c\u2039d");
    table.ReplaceText(records[4], u"e\u00A0 f");
    const std::u16string_view texts[] = {u"a&b", u"<x>", u"c\u2039d", u"<y>", u"e\u00A0 f", u"<z>"};
    for (std::size_t i = 0; i < records.size(); ++i)
      EXPECT_EQ(Printable(table.Text(records[i])), Printable(texts[i])) << i;
    const auto edited = [&](std::size_t i) {
      return (records[i].bits & CElementRecord::kRecordEdited) != 0;
    };
    EXPECT_FALSE(edited(0));
    EXPECT_EQ(edited(2), narrow);
    EXPECT_TRUE(edited(4));
  }
}

// A reference decoded into a unit of the IF's code range and put over a wide source's own units
// makes the source say it may hold codes, which its decoder did not see; other units do not.
TEST(CElementTableTest, ReplacedTextWithIfCodeClearsTheSourcesFlag) {
  for (const bool code : {false, true}) {
    SCOPED_TRACE(code);
    CElementTable table;
    table.Source().Assign(u"a&#xE000;b<x>\u4E2D");
    table.Source().MarkFreeOfIfCodes();
    ScanElements(table);
    CRecordVector& records = table.Records();
    ASSERT_EQ(records.size(), 3u);
    table.ReplaceText(records[0], code ? u"a\uE000b" : u"a\uF000b");
    EXPECT_FALSE((records[0].bits & CElementRecord::kRecordEdited) != 0);
    EXPECT_EQ(table.Source().FreeOfIfCodes(), !code);
  }
}

TEST(CElementTableTest, NamesAreInternedOnce) {
  CNameTable names;
  EXPECT_EQ(names.Intern(u""), 0u);
  const std::uint32_t tu = names.Intern(u"Tu");
  EXPECT_EQ(names.Intern(std::u16string(u"Tu")), tu);
  EXPECT_NE(names.Intern(u"tu"), tu);
  EXPECT_EQ(names.Find(u"Tuv"), CNameTable::kNoName);
  EXPECT_EQ(names.Name(tu), u"Tu");
}

// Pairing while cutting gives the records that cutting and then pairing give.
TEST(CElementTableTest, ScanThatPairsGivesScanThenPairRecords) {
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    const std::u16string input = RandomDocument(random, static_cast<std::size_t>(1 + round % 80));
    SCOPED_TRACE(Printable(input));
    CElementTable separate;
    separate.Source().Assign(input);
    ScanElements(separate);
    PairRecords(separate);
    CElementTable fused;
    fused.Source().Assign(input);
    ScanElements(fused, true);
    EXPECT_FALSE(fused.Unpaired());
    ASSERT_EQ(fused.Records().size(), separate.Records().size());
    for (std::size_t i = 0; i < fused.Records().size(); ++i) {
      ASSERT_EQ(fused.Records()[i].pairId, separate.Records()[i].pairId) << i;
      ASSERT_EQ(TypeLetter(fused.Records()[i].tagType), TypeLetter(separate.Records()[i].tagType));
    }
    EXPECT_EQ(fused.PairIdCounter(), separate.PairIdCounter());
  }
}

// Pairing paired records again from what a pass that wrote them gathered (CPairingStart) gives
// what pairing them with the walks of its own gives, on tables of few records and of more
// records than there are ids; there with the room beyond the records too small for the index of
// ids, large enough for its groups only, and large enough for all of it (which it then uses).
TEST(CElementTableTest, PairingFromAPassGivesPairRecords) {
  std::mt19937 random(13);
  for (int round = 0; round < 53; ++round) {
    std::u16string input = RandomDocument(random, static_cast<std::size_t>(1 + round));
    // The last rounds: more records than there are ids, and ids that come round.
    for (int k = 0; round >= 50 && k < 30000; ++k)
      input += RandomDocument(random, 3) + u"<b><a b='q'>y</a></b><c>";
    SCOPED_TRACE(round);
    CElementTable walked, gathered;
    for (CElementTable* table : {&walked, &gathered}) {
      table->Source().Assign(input);
      ScanElements(*table, true);
    }
    PairRecords(walked);
    if (round >= 51) {
      // The index takes 16 bytes for each of the 65,536 ids, 4 for each record and 4 to align.
      const std::size_t groups = std::size_t{16} << 16;
      const std::size_t all = groups + 4 + 4 * gathered.Records().size();
      const std::size_t room = round == 51 ? groups + 4 : all;
      gathered.Records().reserve(gathered.Records().size() + room / sizeof(CElementRecord) + 1);
    }
    CPairingStart start(gathered);
    for (std::size_t i = 0; i < gathered.Records().size(); ++i) {
      const CElementRecord& record = gathered.Records()[i];
      start.Add(record, static_cast<std::uint32_t>(i), gathered.NameId(record));
    }
    PairRecords(gathered, start);
    ASSERT_EQ(gathered.Records().size(), walked.Records().size());
    if (round >= 50) {
      ASSERT_GT(walked.Records().size(), std::size_t{0x10000});
    }
    for (std::size_t i = 0; i < gathered.Records().size(); ++i) {
      ASSERT_EQ(gathered.Records()[i].pairId, walked.Records()[i].pairId) << i;
      ASSERT_EQ(TypeLetter(gathered.Records()[i].tagType), TypeLetter(walked.Records()[i].tagType));
    }
    EXPECT_EQ(gathered.PairIdCounter(), walked.PairIdCounter());
  }
}

}  // namespace
}  // namespace tagvert
