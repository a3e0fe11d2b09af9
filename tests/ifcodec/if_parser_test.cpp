// Tagvert: tests of the IF reader and writer (CIFParser).
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/if_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "markup/element.h"
#include "markup/elements_stack.h"
#include "storage/data_storage.h"
#include "storage/memory_stream.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::Printable;

// Everything written by `write` through a parser with flag 2, as UTF-16 units.
template <typename WriteFn>
std::u16string WriteIf(WriteFn write) {
  auto sink = std::make_shared<test::CSinkStream>();
  CDataStorage storage(kModeNone, kModeSingle);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  CIFParser parser(&storage, kIfParserWrite);
  write(parser);
  storage.Flush();
  return test::Utf16LeUnits(sink->Bytes());
}

std::u16string WriteOne(CElementX& element) {
  return WriteIf([&](CIFParser& parser) { parser.WriteElement(&element); });
}

// Every element a parser with flag 1 reads from the UTF-16 little-endian bytes of `units`,
// handed out by the source at most `chunk` bytes per read.
std::vector<std::unique_ptr<CElementX>> ReadIf(const std::u16string& units,
                                               std::uint32_t chunk = 4096) {
  auto source = std::make_shared<test::CChunkedStream>(test::Utf16LeBytes(units), chunk);
  CDataStorage storage(kModeUtf8, kModeNone);
  storage.Open(CEndpoint::Stream(source), CEndpoint());
  CIFParser parser(&storage, kIfParserRead);
  std::vector<std::unique_ptr<CElementX>> elements;
  for (;;) {
    auto element = std::make_unique<CElementX>();
    if (!parser.ReadElement(element.get())) break;
    elements.push_back(std::move(element));
    if (elements.size() > units.size() + 1) ADD_FAILURE() << "reader does not advance";
    if (elements.size() > units.size() + 1) break;
  }
  EXPECT_TRUE(parser.IsEnd());
  return elements;
}

CElementX Tag(int tagType, int pairId, const std::u16string& source) {
  CElementX element;
  element.SetIsTag(1);
  element.SetTagType(tagType);
  element.SetPairId(pairId);
  element.SetSourceText(source);
  return element;
}

CElementX Text(const std::u16string& source) {
  CElementX element;
  element.SetSourceText(source);
  return element;
}

// --- construction and pass-through -------------------------------------------------------

TEST(CIFParserTest, FlagsSetTheStorageModes) {
  const struct {
    int flags;
    std::int16_t input;
    std::int16_t output;
  } cases[] = {{0, kModeUtf8, kModeSingle},
               {kIfParserRead, kModeUtf16, kModeSingle},
               {kIfParserWrite, kModeUtf8, kModeUtf16},
               {kIfParserRead | kIfParserWrite, kModeUtf16, kModeUtf16}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    CDataStorage storage(kModeUtf8, kModeSingle);
    CIFParser parser(&storage, c.flags);
    EXPECT_EQ(storage.GetInputMode(), c.input);
    EXPECT_EQ(storage.GetOutputMode(), c.output);
  }
}

TEST(CIFParserTest, NullStorageIsRefused) {
  try {
    CIFParser parser(nullptr, kIfParserRead);
    FAIL() << "no exception";
  } catch (const CHResultError& error) {
    EXPECT_EQ(error.Code(), kEPointer);
  }
}

TEST(CIFParserTest, HeaderIsWrittenWithoutByteOrderMark) {
  const std::u16string written = WriteIf([](CIFParser& parser) {
    parser.WriteChar(kIfHeader);
    parser.WriteString(u"TTX");
    parser.WriteChar(kIfBoundary);
  });
  EXPECT_EQ(Printable(written), Printable(u"\uE804TTX\uE000"));
}

// --- writing -------------------------------------------------------------------------------

TEST(CIFParserTest, TextRunIsWrittenAsItIs) {
  CElementX element = Text(u"Hello");
  element.SetRuleType(kRuleBlock);  // a text run writes no codes, whatever its fields say
  element.SetFlagged(true);
  element.SetTransMethod(u"tm");
  element.AppendPropertyCode(0xE001);
  EXPECT_EQ(Printable(WriteOne(element)), "Hello");
}

TEST(CIFParserTest, PairedStartTagWritesTagGroup) {
  CElementX element = Tag(kTagPairedOpen, 0x65, u"<b>");
  EXPECT_EQ(Printable(WriteOne(element)), Printable(u"\uE805\u0065<b>\uE000"));
}

TEST(CIFParserTest, EndTagsWriteEndMarkFirst) {
  CElementX paired = Tag(kTagPairedClose, 0x65, u"</b>");
  EXPECT_EQ(Printable(WriteOne(paired)), Printable(u"\uE404\uE805\u0065</b>\uE000"));
  CElementX unpaired = Tag(kTagClose, 0x66, u"</i>");
  EXPECT_EQ(Printable(WriteOne(unpaired)), Printable(u"\uE404\uE805\u0066</i>\uE000"));
  paired.SetRuleType(kRuleBlock);
  EXPECT_EQ(Printable(WriteOne(paired)), Printable(u"\uE405\uE404\uE805\u0065</b>\uE000"));
}

TEST(CIFParserTest, BlockAndFlagMarksComeFirst) {
  CElementX element = Tag(kTagOpen, 7, u"<p>");
  element.SetRuleType(kRuleBlock);
  element.SetFlagged(true);
  EXPECT_EQ(Printable(WriteOne(element)), Printable(u"\uE405\uE411\uE805\u0007<p>\uE000"));
}

TEST(CIFParserTest, RemovedElementWritesOnlyItsMarks) {
  CElementX element = Tag(kTagPairedClose, 9, u"</p>");
  element.SetAlgorithm(kAlgorithmRemove);
  EXPECT_EQ(Printable(WriteOne(element)), "");
  element.SetRuleType(kRuleBlock);
  EXPECT_EQ(Printable(WriteOne(element)), Printable(u"\uE405"));
  element.SetFlagged(true);
  EXPECT_EQ(Printable(WriteOne(element)), Printable(u"\uE405\uE411"));
}

TEST(CIFParserTest, StandaloneTagWritesPairIdZero) {
  CElementX element = Tag(kTagSingle, 0x1234, u"<br/>");
  const std::u16string written = WriteOne(element);
  EXPECT_EQ(Printable(written), Printable(std::u16string(u"\uE805") + u'\0' + u"<br/>\uE000"));
  const auto read = ReadIf(written);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0]->GetTagType(), kTagSingle);
  EXPECT_EQ(read[0]->GetPairId(), 0);
  EXPECT_EQ(Printable(read[0]->GetSourceText()), "<br/>");
}

TEST(CIFParserTest, UnpairedStartTagWritesItsPairId) {
  CElementX element = Tag(kTagOpen, 0x0123, u"<x>");
  EXPECT_EQ(Printable(WriteOne(element)), Printable(u"\uE805\u0123<x>\uE000"));
}

TEST(CIFParserTest, PropertyCodesBecomeIfCodes) {
  CElementX element = Tag(kTagPairedOpen, 0x41, u"t");
  for (char16_t code : {0xE002, 0xE00B, 0xE041})
    element.AppendPropertyCode(code);
  EXPECT_EQ(Printable(WriteOne(element)), Printable(u"\uE701\uE402\uE805At\uE000"));
}

TEST(CIFParserTest, EveryPropertyCodeHasItsIfCode) {
  const struct {
    char16_t property;
    std::u16string code;
  } cases[] = {{0xE001, u"\uE700"}, {0xE002, u"\uE701"}, {0xE003, u"\uE702"}, {0xE004, u"\uE703"},
               {0xE005, u"\uE704"}, {0xE006, u"\uE705"}, {0xE007, u"\uE706"}, {0xE008, u"\uE707"},
               {0xE009, u"\uE708"}, {0xE00A, u"\uE411"}, {0xE00B, u"\uE402"}, {0xE00C, u"\uE40C"},
               {0xE000, u""},       {0xE00D, u""},       {u'a', u""},         {0xE700, u""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Printable(std::u16string(1, c.property)));
    CElementX element = Tag(kTagPairedOpen, 0x41, u"t");
    element.AppendPropertyCode(c.property);
    EXPECT_EQ(Printable(WriteOne(element)), Printable(c.code + u"\uE805At\uE000"));
  }
}

TEST(CIFParserTest, TransMethodComesBeforePropertyCodes) {
  CElementX element = Tag(kTagPairedClose, 0x42, u"</t>");
  element.SetRuleType(kRuleBlock);
  element.SetFlagged(true);
  element.SetTransMethod(u"mt");
  element.AppendPropertyCode(0xE003);
  EXPECT_EQ(Printable(WriteOne(element)),
            Printable(u"\uE405\uE411\uE404\uEC03mt\uE702\uE805B</t>\uE000"));
}

TEST(CIFParserTest, ReservedStartTagIsFollowedByReserveGroup) {
  CElementX element = Tag(kTagPairedOpen, 0x43, u"<r>");
  element.SetAlgorithm(kAlgorithmReserve);
  element.SetSemantic(5);
  element.SetTransliterate(true);
  EXPECT_EQ(Printable(WriteOne(element)), Printable(u"\uE805C<r>\uE000\uE80A\u0005\u0001\uE000"));
}

TEST(CIFParserTest, ReservedEndTagIsPrecededByReserveGroup) {
  CElementX element = Tag(kTagPairedClose, 0x43, u"</r>");
  element.SetAlgorithm(kAlgorithmReserve);
  element.SetRuleType(kRuleBlock);
  element.SetFlagged(true);
  element.SetSemantic(0x12345);  // written as its low 16 bits
  EXPECT_EQ(Printable(WriteOne(element)),
            Printable(std::u16string(u"\uE405\uE411\uE404\uE80A\u2345") + u'\0' +
                      u"\uE000\uE404\uE805C</r>\uE000"));
}

TEST(CIFParserTest, NegativeSemanticIsWrittenAsZero) {
  CElementX element = Tag(kTagPairedOpen, 0x43, u"<r>");
  element.SetAlgorithm(kAlgorithmReserve);
  ASSERT_EQ(element.GetSemantic(), -1);
  EXPECT_EQ(Printable(WriteOne(element)),
            Printable(std::u16string(u"\uE805C<r>\uE000\uE80A") + u'\0' + u'\0' + u"\uE000"));
}

TEST(CIFParserTest, ReserveGroupsOnlyForPairedTags) {
  for (int tagType : {kTagOpen, kTagSingle}) {
    CElementX element = Tag(tagType, 0x43, u"<r>");
    element.SetAlgorithm(kAlgorithmReserve);
    EXPECT_EQ(WriteOne(element).find(kIfReserveGroup), std::u16string::npos) << tagType;
  }
  CElementX unpairedEnd = Tag(kTagClose, 0x43, u"</r>");
  unpairedEnd.SetAlgorithm(kAlgorithmReserve);
  EXPECT_EQ(Printable(WriteOne(unpairedEnd)), Printable(u"\uE404\uE805C</r>\uE000"));
}

TEST(CIFParserTest, SkipAndLeaveWriteLikeTranslate) {
  for (int algorithm : {kAlgorithmTranslate, kAlgorithmSkip, kAlgorithmLeave}) {
    CElementX element = Tag(kTagPairedOpen, 0x44, u"<s>");
    element.SetAlgorithm(algorithm);
    EXPECT_EQ(Printable(WriteOne(element)), Printable(u"\uE805D<s>\uE000")) << algorithm;
  }
}

// An element that carries a nested list, as the element model allows.
class CNestingElement : public CElementX {
 public:
  CElementsStackX* GetSubElements() override { return &m_subElements; }

 private:
  CElementsStackX m_subElements;
};

TEST(CIFParserTest, SubElementsAreWrittenFirst) {
  CNestingElement outer;
  outer.SetIsTag(1);
  outer.SetTagType(kTagPairedOpen);
  outer.SetPairId(0x50);
  outer.SetSourceText(u"<o>");
  auto* inner = new CNestingElement;
  inner->SetSourceText(u"in");
  auto* innermost = new CElementX;
  innermost->SetIsTag(1);
  innermost->SetSourceText(u"<x/>");
  inner->GetSubElements()->Push(innermost);
  outer.GetSubElements()->Push(inner);
  outer.GetSubElements()->push_back(nullptr);  // skipped
  outer.GetSubElements()->Push(new CElementX(Text(u"!")));
  EXPECT_EQ(Printable(WriteOne(outer)),
            Printable(std::u16string(u"\uE805") + u'\0' + u"<x/>\uE000in!\uE805P<o>\uE000"));
}

// --- reading -------------------------------------------------------------------------------

// What the reader gives back for an element: the fields that IF carries.
struct Expected {
  int isTag;
  std::u16string source;
  int tagType;
  int ruleType;
  bool flagged;
  int pairId;
};

// Short names for the table below. kSingle is also a fresh element's type: the reader sets
// TagType only for an end mark (2) and for pair id 0 (0xFFFE).
constexpr int kSingle = kTagSingle;
constexpr int kEnd = kTagPairedClose;
constexpr int kBlock = kRuleBlock;
constexpr int kInline = kRuleInline;

void ExpectElements(const std::vector<std::unique_ptr<CElementX>>& read,
                    const std::vector<Expected>& expected) {
  EXPECT_EQ(read.size(), expected.size());
  for (std::size_t i = 0; i < std::min(read.size(), expected.size()); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(read[i]->GetIsTag(), expected[i].isTag);
    EXPECT_EQ(Printable(read[i]->GetSourceText()), Printable(expected[i].source));
    EXPECT_EQ(read[i]->GetTagType(), expected[i].tagType);
    EXPECT_EQ(read[i]->GetRuleType(), expected[i].ruleType);
    EXPECT_EQ(read[i]->GetFlagged(), expected[i].flagged);
    EXPECT_EQ(read[i]->GetPairId(), expected[i].pairId);
  }
}

std::u16string Units(std::initializer_list<char16_t> units) {
  return std::u16string(units);
}

TEST(CIFParserTest, ReadsEveryBandAndCode) {
  const struct {
    const char* what;
    std::u16string input;
    std::vector<Expected> elements;
  } cases[] = {
      {"text then tag",
       u"Hi\uE805\u0066b\uE000",
       {{0, u"Hi", kSingle, kInline, false, 0}, {1, u"b", kSingle, kInline, false, 0x66}}},
      {"flags apply to the tag",
       u"\uE405\uE404\uE411\uE805\u0066x\uE000",
       {{1, u"x", kEnd, kBlock, true, 0x66}}},
      {"other flags do nothing",
       u"\uE400\uE402\uE40C\uE700\uE7FF\uE805\u0066x\uE000",
       {{1, u"x", kSingle, kInline, false, 0x66}}},
      {"flags apply to text", u"\uE411\uE405ab", {{0, u"ab", kSingle, kBlock, true, 0}}},
      {"skipped text", u"\uEC03abc\uE805\u0066x\uE000", {{1, u"x", kSingle, kInline, false, 0x66}}},
      {"skipped text then flag", u"\uEFFFab\uE405c", {{0, u"c", kSingle, kBlock, false, 0}}},
      {"end after flag", u"\uE405", {}},
      {"end after flags", u"\uE404\uE411", {}},
      {"end in skipped text", u"\uEC03abc", {}},
      {"end after skip code", u"\uEC03", {}},
      {"text before a trailing flag", u"ab\uE405", {{0, u"ab", kSingle, kInline, false, 0}}},
      {"empty input", u"", {}},
      {"flagged boundary ends the group",
       u"\uE805\u0066x\uE012",
       {{1, u"x", kSingle, kInline, true, 0x66}, {1, u"", kSingle, kInline, true, 0}}},
      {"boundaries",
       u"\uE000\uE3FF\uE405\uE000",
       {{1, u"", kSingle, kInline, false, 0},
        {1, u"", kSingle, kInline, false, 0},
        {1, u"", kSingle, kBlock, false, 0}}},
      {"header",
       u"\uE804TTX\uE000Hello",
       {{1, u"", kSingle, kInline, false, 0}, {0, u"Hello", kSingle, kInline, false, 0}}},
      {"leading reserve group takes the marks",
       u"\uE405\uE411\uE404\uE80A\u0005\u0001\uE000\uE404\uE805C</r>\uE000",
       {{1, u"", kEnd, kBlock, true, 0}, {1, u"</r>", kEnd, kInline, false, 0x43}}},
      {"trailing reserve group",
       u"\uE805C<r>\uE000\uE80A\u0005\u0001\uE000",
       {{1, u"<r>", kSingle, kInline, false, 0x43}, {1, u"", kSingle, kInline, false, 0}}},
      {"group ended by another code",
       u"\uE805\u0066x\uE405y",
       {{1, u"x", kSingle, kInline, false, 0x66}, {0, u"y", kSingle, kBlock, false, 0}}},
      {"group ended by the input", u"\uE805\u0066xy", {{1, u"xy", kSingle, kInline, false, 0x66}}},
      {"input ends before the pair id", u"\uE404\uE805", {{1, u"", kEnd, kInline, false, 0}}},
      {"pair id taken as it is",
       u"\uE805\uE000x\uE000\uE805\uE805y\uE000",
       {{1, u"x", kSingle, kInline, false, 0xE000}, {1, u"y", kSingle, kInline, false, 0xE805}}},
      {"pair id 0 after an end mark",
       Units({0xE404, 0xE805, 0, u'x', 0xE000}),
       {{1, u"x", kSingle, kInline, false, 0}}},
      {"other groups dropped",
       u"\uE80Fzz\uE000\uEBFF\uE000a",
       {{1, u"", kSingle, kInline, false, 0},
        {1, u"", kSingle, kInline, false, 0},
        {0, u"a", kSingle, kInline, false, 0}}},
      {"byte-order mark is text", u"\uFEFFab", {{0, u"\uFEFFab", kSingle, kInline, false, 0}}},
      {"other units are text",
       Units({0xD83D, 0xDE00, 0xDC00, 0xF000, 0xFFFF, 0xDFFF, 0xE000}),
       {{0, Units({0xD83D, 0xDE00, 0xDC00, 0xF000, 0xFFFF, 0xDFFF}), kSingle, kInline, false, 0},
        {1, u"", kSingle, kInline, false, 0}}},
  };
  for (const auto& c : cases) {
    for (std::uint32_t chunk : {1u, 3u, 4096u}) {
      SCOPED_TRACE(std::string(c.what) + ", chunk " + std::to_string(chunk));
      ExpectElements(ReadIf(c.input, chunk), c.elements);
    }
  }
}

TEST(CIFParserTest, ConsecutiveTextRunsReadBackAsOne) {
  CElementX first = Text(u"ab");
  CElementX second = Text(u"cd");
  const std::u16string written = WriteIf([&](CIFParser& parser) {
    parser.WriteElement(&first);
    parser.WriteElement(&second);
  });
  const auto read = ReadIf(written);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(Printable(read[0]->GetSourceText()), "abcd");
}

// --- round trip ----------------------------------------------------------------------------

std::u16string RandomText(std::mt19937& random, std::size_t maxLength) {
  static const char16_t kPool[] = {u'a',   u'b',   u' ',   u'<',   u'>',   u'&',
                                   u'/',   u'"',   0x00A0, 0x0416, 0xD83D, 0xDE00,
                                   0xDFFF, 0xF8FF, 0xFFFD, 0xE000, 0};
  std::u16string text(random() % (maxLength + 1), u'x');
  for (char16_t& unit : text) {
    do {
      unit = kPool[random() % (sizeof(kPool) / sizeof(kPool[0]) - 1)];
    } while (unit == 0xE000);  // codes never stand in text
  }
  return text;
}

void AddExpectedText(std::vector<Expected>& expected, const std::u16string& text) {
  if (text.empty()) return;
  if (!expected.empty() && expected.back().isTag == 0) {
    expected.back().source += text;
    return;
  }
  expected.push_back({0, text, kTagSingle, kRuleInline, false, 0});
}

// A random element and what reading it back yields.
std::unique_ptr<CElementX> RandomElement(std::mt19937& random, std::vector<Expected>& expected) {
  auto element = std::make_unique<CElementX>();
  if (random() % 3 == 0) {
    element->SetSourceText(RandomText(random, 6));
    AddExpectedText(expected, element->GetSourceText());
    return element;
  }
  static const int kTypes[] = {kTagOpen, kTagClose, kTagSingle, kTagPairedOpen, kTagPairedClose};
  static const int kAlgorithms[] = {kAlgorithmTranslate, kAlgorithmSkip, kAlgorithmLeave,
                                    kAlgorithmReserve};
  const int tagType = kTypes[random() % 5];
  int pairId = static_cast<int>(random() % 0xDFFF) + 1;
  if (random() % 10 == 0) pairId = static_cast<int>(0xF000 + random() % 0xFFB);
  const int ruleType = random() % 2 == 0 ? kRuleBlock : kRuleInline;
  const bool flagged = random() % 4 == 0;
  const int algorithm = kAlgorithms[random() % 4];
  element->SetIsTag(1);
  element->SetTagType(tagType);
  element->SetPairId(pairId);
  element->SetRuleType(ruleType);
  element->SetFlagged(flagged);
  element->SetAlgorithm(algorithm);
  // The semantic unit is read like any unit of a group: its low 16 bits stay out of the codes.
  element->SetSemantic(static_cast<int>(random() % 0xE002) - 2 + (random() % 8 == 0 ? 0x10000 : 0));
  element->SetTransliterate(random() % 2 == 0);
  // Built by appending: GCC 12 warns falsely (-Wrestrict) on a literal + temporary string.
  std::u16string source(1, u'<');
  source += RandomText(random, 8);
  source += u'>';
  element->SetSourceText(source);
  if (random() % 4 == 0) element->SetTransMethod(RandomText(random, 4));
  for (int n = static_cast<int>(random() % 4); n > 0; --n) {
    element->AppendPropertyCode(static_cast<char16_t>(0xE000 + random() % 0x10));
  }

  const bool isEnd = tagType == kTagPairedClose || tagType == kTagClose;
  Expected tag{
      1,       element->GetSourceText(),          isEnd ? kTagPairedClose : kTagSingle, ruleType,
      flagged, tagType == kTagSingle ? 0 : pairId};
  bool flaggedByProperty = false;  // U+E00A is written as the flag code, after the marks
  for (char16_t code : element->GetPropertyCodes())
    flaggedByProperty |= code == 0xE00A;
  tag.flagged = flagged || flaggedByProperty;
  if (algorithm == kAlgorithmReserve && tagType == kTagPairedClose) {
    // The marks written before the leading reserve group land on its empty element.
    expected.push_back({1, u"", kTagPairedClose, ruleType, flagged, 0});
    tag.ruleType = kRuleInline;
    tag.flagged = flaggedByProperty;
  }
  expected.push_back(tag);
  if (algorithm == kAlgorithmReserve && tagType == kTagPairedOpen) {
    expected.push_back({1, u"", kTagSingle, kRuleInline, false, 0});
  }
  return element;
}

class CIFParserRoundTripTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(CIFParserRoundTripTest, RandomElementsReadBackWithTheirIfFields) {
  std::mt19937 random(1000 + GetParam());
  for (int document = 0; document < 40; ++document) {
    SCOPED_TRACE(document);
    std::vector<Expected> expected{{1, u"", kTagSingle, kRuleInline, false, 0}};  // the header
    std::vector<std::unique_ptr<CElementX>> elements;
    const int count = static_cast<int>(random() % 60);
    for (int i = 0; i < count; ++i)
      elements.push_back(RandomElement(random, expected));
    const std::u16string written = WriteIf([&](CIFParser& parser) {
      parser.WriteChar(kIfHeader);
      parser.WriteString(u"TTX");
      parser.WriteChar(kIfBoundary);
      for (auto& element : elements)
        parser.WriteElement(element.get());
    });
    const auto read = ReadIf(written, GetParam());
    if (read.size() != expected.size()) ADD_FAILURE() << Printable(written);
    ExpectElements(read, expected);
  }
}

// Chunk sizes of the source: every unit and every push-back may straddle a refill.
INSTANTIATE_TEST_SUITE_P(Chunks, CIFParserRoundTripTest, ::testing::Values(1u, 2u, 3u, 7u, 1024u));

}  // namespace
}  // namespace tagvert
