// Tagvert: tests of the IF reader and writer (CIFParser).
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/if_parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "markup/element.h"
#include "storage/data_storage.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using namespace std::literals;
using test::Printable;

// An element to write; the defaults are an inline, translated, paired start tag.
struct Spec {
  int isTag = 1, type = kTagPairedOpen, id = 0x41;
  std::u16string src = u"<t>";
  int rule = kRuleInline;
  bool flag = false;
  int alg = kAlgorithmTranslate, sem = -1;
  bool tl = false;
  std::u16string tm = u"", props = u"";
};

std::unique_ptr<CElementX> Make(const Spec& s) {
  auto e = std::make_unique<CElementX>();
  e->SetIsTag(s.isTag);
  e->SetTagType(s.type);
  e->SetPairId(s.id);
  e->SetSourceText(s.src);
  e->SetRuleType(s.rule);
  e->SetFlagged(s.flag);
  e->SetAlgorithm(s.alg);
  e->SetSemantic(s.sem);
  e->SetTransliterate(s.tl);
  if (!s.tm.empty()) e->SetTransMethod(s.tm);
  for (char16_t code : s.props)
    e->AppendPropertyCode(code);
  return e;
}

// The IF header and then every element, written through a parser with flag 2, as UTF-16 units.
std::u16string WriteIf(const std::vector<std::unique_ptr<CElementX>>& elements, bool header) {
  auto sink = std::make_shared<test::CSinkStream>();
  CDataStorage storage(kModeNone, kModeSingle);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  CIFParser parser(&storage, kIfParserWrite);
  if (header) {
    parser.WriteChar(kIfHeader);
    parser.WriteString(u"TTX");
    parser.WriteChar(kIfBoundary);
  }
  for (const auto& element : elements)
    parser.WriteElement(element.get());
  storage.Flush();
  return test::Utf16LeUnits(sink->Bytes());
}

// What reading gives back of an element: "[source]" for a tag or the text, then after "|" the
// pair id as # and hex digits, E for TagType 2, B for RuleType 0 and F for Flagged.
struct ReadBack {
  bool isTag = true;
  std::u16string source;
  int pairId = 0;
  bool end = false, block = false, flagged = false;
};

std::string Describe(const ReadBack& r) {
  std::string text = r.isTag ? "[" + Printable(r.source) + "]|" : Printable(r.source) + "|";
  char pairId[16] = "";
  if (r.pairId != 0) std::snprintf(pairId, sizeof pairId, "#%X", static_cast<unsigned>(r.pairId));
  text += pairId;
  return text + (r.end ? "E" : "") + (r.block ? "B" : "") + (r.flagged ? "F" : "");
}

// Every element a parser with flag 1 reads from `units`, handed out `chunk` bytes per read.
std::string ReadIf(const std::u16string& units, std::uint32_t chunk) {
  CDataStorage storage(kModeUtf8, kModeNone);
  storage.Open(
      CEndpoint::Stream(std::make_shared<test::CChunkedStream>(test::Utf16LeBytes(units), chunk)),
      CEndpoint());
  CIFParser parser(&storage, kIfParserRead);
  std::string read;
  for (std::size_t count = 0; count <= units.size(); ++count) {
    CElementX e;
    if (!parser.ReadElement(&e)) break;
    EXPECT_TRUE(e.GetTagType() == kTagSingle || e.GetTagType() == kTagPairedClose);
    read += read.empty() ? "" : " ";
    read += Describe({e.GetIsTag() == 1, e.GetSourceText(), e.GetPairId(),
                      e.GetTagType() == kTagPairedClose, e.GetRuleType() == kRuleBlock,
                      e.GetFlagged()});
  }
  EXPECT_TRUE(parser.IsEnd()) << "the reader stopped advancing";
  return read;
}

// Unpaired and standalone tags, skip and leave, and reserve on other tags than pairs are left to
// the round trip below.
TEST(CIFParserTest, WritesEachKindOfElement) {
  const struct {
    Spec element;
    std::u16string expected;
  } cases[] = {
      {{.isTag = 0, .src = u"Hi", .rule = kRuleBlock, .flag = true, .tm = u"m", .props = u"\uE001"},
       u"Hi"},
      {{.id = 0x65, .src = u"<b>"}, u"\uE805\u0065<b>\uE000"},
      {{.type = kTagPairedClose, .rule = kRuleBlock}, u"\uE405\uE404\uE805A<t>\uE000"},
      {{.type = kTagOpen, .id = 7, .rule = kRuleBlock, .flag = true},
       u"\uE405\uE411\uE805\u0007<t>\uE000"},
      {{.type = kTagPairedClose, .alg = kAlgorithmRemove}, u""},
      {{.rule = kRuleBlock, .flag = true, .alg = kAlgorithmRemove}, u"\uE405\uE411"},
      {{.type = kTagSingle, .id = 0x1234}, u"\uE805\0<t>\uE000"s},
      {{.props = u"\uE001\uE002\uE003\uE004\uE005\uE006\uE007\uE008\uE009\uE00A\uE00B\uE00C\uE000"
                 u"\uE041a"},
       u"\uE700\uE701\uE702\uE703\uE704\uE705\uE706\uE707\uE708\uE411\uE402\uE40C\uE805A<t>\uE000"},
      {{.type = kTagPairedClose, .rule = kRuleBlock, .flag = true, .tm = u"mt", .props = u"\uE003"},
       u"\uE405\uE411\uE404\uEC03mt\uE702\uE805A<t>\uE000"},
      {{.alg = kAlgorithmReserve, .sem = 5, .tl = true},
       u"\uE805A<t>\uE000\uE80A\u0005\u0001\uE000"},
      {{.type = kTagPairedClose,
        .rule = kRuleBlock,
        .flag = true,
        .alg = kAlgorithmReserve,
        .sem = 0x12345},
       u"\uE405\uE411\uE404\uE80A\u2345\0\uE000\uE404\uE805A<t>\uE000"s},
      {{.alg = kAlgorithmReserve}, u"\uE805A<t>\uE000\uE80A\0\0\uE000"s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Printable(c.expected));
    std::vector<std::unique_ptr<CElementX>> one;
    one.push_back(Make(c.element));
    EXPECT_EQ(Printable(WriteIf(one, false)), Printable(c.expected));
  }
  EXPECT_THROW(CIFParser(nullptr, kIfParserRead), CHResultError);
}

TEST(CIFParserTest, ReadsEveryBandAndCode) {
  const struct {
    const char* what;
    std::u16string input;
    const char* expected;
  } cases[] = {
      {"text then tag", u"Hi\uE805\u0066b\uE000", "Hi| [b]|#66"},
      {"flags apply to the tag", u"\uE405\uE404\uE411\uE805\u0066x\uE000", "[x]|#66EBF"},
      {"other flags do nothing", u"\uE400\uE402\uE40C\uE700\uE7FF\uE805\u0066x\uE000", "[x]|#66"},
      {"flags apply to text", u"\uE411\uE405ab", "ab|BF"},
      {"skipped text", u"\uEC03abc\uE805\u0066x\uE000", "[x]|#66"},
      {"skipped text then flag", u"\uEFFFab\uE405c", "c|B"},
      {"end after flags", u"\uE404\uE411", ""},
      {"end in skipped text", u"\uEC03abc", ""},
      {"text before a trailing flag", u"ab\uE405", "ab|"},
      {"empty input", u"", ""},
      {"flagged boundary ends the group", u"\uE805\u0066x\uE012", "[x]|#66F []|F"},
      {"boundaries", u"\uE000\uE3FF\uE405\uE000", "[]| []| []|B"},
      {"header", u"\uE804TTX\uE000Hello", "[]| Hello|"},
      {"leading reserve group takes the marks",
       u"\uE405\uE411\uE404\uE80A\u0005\u0001\uE000\uE404\uE805C</r>\uE000", "[]|EBF [</r>]|#43E"},
      {"trailing reserve group", u"\uE805C<r>\uE000\uE80A\u0005\u0001\uE000", "[<r>]|#43 []|"},
      {"group ended by another code", u"\uE805\u0066x\uE405y", "[x]|#66 y|B"},
      {"group ended by the input", u"\uE805\u0066xy", "[xy]|#66"},
      {"input ends before the pair id", u"\uE404\uE805", "[]|E"},
      {"pair id taken as it is", u"\uE805\uE000x\uE000\uE805\uE805y\uE000", "[x]|#E000 [y]|#E805"},
      {"pair id 0 makes a standalone tag", u"\uE404\uE805\0x\uE000"s, "[x]|"},
      {"other groups dropped", u"\uE80Fzz\uE000\uEBFF\uE000a", "[]| []| a|"},
      {"byte-order mark is text", u"\uFEFFab", "\\uFEFFab|"},
      {"other units are text", u"\xD83D\xDE00\xDC00\xF000\xFFFF\xE000",
       "\\uD83D\\uDE00\\uDC00\\uF000\\uFFFF| []|"},
  };
  for (const auto& c : cases) {
    for (std::uint32_t chunk : {1u, 3u, 4096u}) {
      SCOPED_TRACE(std::string(c.what) + ", chunk " + std::to_string(chunk));
      EXPECT_EQ(ReadIf(c.input, chunk), c.expected);
    }
  }
}

// A random element, and what reading it back yields appended to `expected`.
std::unique_ptr<CElementX> RandomElement(std::mt19937& random, std::vector<ReadBack>& expected) {
  const auto randomText = [&](std::size_t maxLength) {
    static const std::u16string kPool = u"ab <>&/\"\u00A0\u0416\xD83D\xDE00\xDFFF\xF8FF\xFFFD";
    std::u16string text(random() % (maxLength + 1), u'x');
    for (char16_t& unit : text)
      unit = kPool[random() % kPool.size()];
    return text;
  };
  if (random() % 3 == 0) {
    const std::u16string text = randomText(6);
    if (!text.empty() && !expected.back().isTag) {
      expected.back().source += text;  // consecutive text runs read back as one
    } else if (!text.empty()) {
      expected.push_back({false, text});
    }
    return Make({.isTag = 0, .src = text});
  }
  static const int kTypes[] = {kTagOpen, kTagClose, kTagSingle, kTagPairedOpen, kTagPairedClose};
  static const int kAlgorithms[] = {kAlgorithmTranslate, kAlgorithmSkip, kAlgorithmLeave,
                                    kAlgorithmReserve};
  // Pair ids and the semantic's low 16 bits stay out of the code range, as in real documents.
  Spec s{.type = kTypes[random() % 5],
         .id = static_cast<int>(random() % 10 == 0 ? 0xF000 + random() % 0xFFB
                                                   : 1 + random() % 0xDFFF),
         .src = std::u16string(1, u'<').append(randomText(8)),
         .rule = static_cast<int>(random() % 2),
         .flag = random() % 4 == 0,
         .alg = kAlgorithms[random() % 4],
         .sem = static_cast<int>(random() % 0xE002) - 2 + (random() % 8 == 0 ? 0x10000 : 0),
         .tl = random() % 2 == 0,
         .tm = random() % 4 == 0 ? randomText(4) : u""};
  s.src += u'>';
  for (int n = static_cast<int>(random() % 4); n > 0; --n)
    s.props += static_cast<char16_t>(0xE000 + random() % 0x10);

  const bool byProperty = s.props.find(u'\uE00A') != std::u16string::npos;
  ReadBack tag{true,
               s.src,
               s.type == kTagSingle ? 0 : s.id,
               s.type == kTagPairedClose || s.type == kTagClose,
               s.rule == kRuleBlock,
               s.flag || byProperty};
  if (s.alg == kAlgorithmReserve && s.type == kTagPairedClose) {
    // The marks written before the leading reserve group land on its empty element.
    expected.push_back({true, u"", 0, true, tag.block, s.flag});
    tag.block = false;
    tag.flagged = byProperty;
  }
  expected.push_back(tag);
  if (s.alg == kAlgorithmReserve && s.type == kTagPairedOpen) expected.push_back({});
  return Make(s);
}

class CIFParserRoundTripTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(CIFParserRoundTripTest, RandomElementsReadBackWithTheirIfFields) {
  std::mt19937 random(1000 + GetParam());
  for (int document = 0; document < 40; ++document) {
    std::vector<ReadBack> expected(1);  // the header reads back as an empty tag
    std::vector<std::unique_ptr<CElementX>> elements;
    for (int i = static_cast<int>(random() % 60); i > 0; --i)
      elements.push_back(RandomElement(random, expected));
    std::string described;
    for (const ReadBack& r : expected)
      described.append(described.empty() ? "" : " ").append(Describe(r));
    const std::u16string written = WriteIf(elements, true);
    EXPECT_EQ(ReadIf(written, GetParam()), described)
        << "document " << document << ": " << Printable(written);
  }
}

// Chunk sizes of the source: every unit and every push-back may straddle a refill.
INSTANTIATE_TEST_SUITE_P(Chunks, CIFParserRoundTripTest, ::testing::Values(1u, 2u, 3u, 7u, 1024u));

}  // namespace
}  // namespace tagvert
