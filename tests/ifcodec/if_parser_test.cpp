// Tagvert: tests of the IF reader and writer (CIFParser).
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/if_parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "markup/element.h"
#include "storage/data_storage.h"
#include "support/if_element_writer.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using namespace std::literals;
using test::Printable;

// An element to write; the defaults are an inline, translated, paired start tag.
struct CElementFields {
  bool isTag = true;
  TagType type = TagType::PairedOpen;
  int id = 0x41;
  RuleType rule = RuleType::Inline;
  bool flag = false;
  Algorithm alg = Algorithm::Translate;
  int sem = -1;
  bool tl = false;
  std::u16string src = u"<t>", tm = u"", props = u"";
};

// The UTF-16 units a parser with flag 2 writes for the element.
std::u16string WriteIf(const CElementFields& s) {
  CElementX e;
  e.SetIsTag(s.isTag);
  e.SetTagType(s.type);
  e.SetPairId(s.id);
  e.SetSourceText(s.src);
  e.SetRuleType(s.rule);
  e.SetFlagged(s.flag);
  e.SetAlgorithm(s.alg);
  e.SetSemantic(s.sem);
  e.SetTransliterate(s.tl);
  e.SetTransMethod(s.tm);
  for (char16_t code : s.props)
    e.AppendPropertyCode(code);
  auto sink = std::make_shared<test::CSinkStream>();
  CDataStorage storage(EncodingMode::None, EncodingMode::Single);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  CIFParser writer(&storage, IfParserMode::Write);
  test::WriteIfElement(writer, &e);
  storage.Flush();
  return test::Utf16LeUnits(sink->Bytes());
}

// What a parser with flag 1 reads from `units` at `chunk` bytes per read: per element "[source]"
// or the text, "|", #pair id (hex) when not 0, E for TagType 2, B for RuleType 0, F for Flagged.
std::string ReadIf(const std::u16string& units, std::uint32_t chunk) {
  CDataStorage storage(EncodingMode::Utf8, EncodingMode::None);
  storage.Open(
      CEndpoint::Stream(std::make_shared<test::CChunkedStream>(test::Utf16LeBytes(units), chunk)),
      CEndpoint());
  CIFParser parser(&storage, IfParserMode::Read);
  std::ostringstream read;
  for (std::size_t count = 0; count <= units.size(); ++count) {
    CElementX e;
    if (!parser.ReadElement(&e)) break;
    EXPECT_TRUE(e.GetTagType() == TagType::Single || e.GetTagType() == TagType::PairedClose);
    read << (count == 0 ? "" : " ") << (e.GetIsTag() ? "[" : "") << Printable(e.GetSourceText())
         << (e.GetIsTag() ? "]|" : "|");
    if (e.GetPairId() != 0) read << '#' << std::hex << std::uppercase << e.GetPairId();
    read << (e.GetTagType() == TagType::PairedClose ? "E" : "")
         << (e.GetRuleType() == RuleType::Block ? "B" : "") << (e.GetFlagged() ? "F" : "");
  }
  EXPECT_TRUE(parser.IsEnd()) << "the reader stopped advancing";
  return read.str();
}

TEST(CIFParserTest, WritesEachKindOfElement) {
  const std::pair<CElementFields, std::u16string> cases[] = {
      {{.isTag = false, .flag = true, .src = u"Hi", .tm = u"m", .props = u"\uE001"}, u"Hi"},
      {{.id = 0x65, .src = u"<b>"}, u"\uE805\u0065<b>\uE000"},
      {{.type = TagType::PairedClose, .rule = RuleType::Block}, u"\uE405\uE404\uE805A<t>\uE000"},
      {{.type = TagType::Open, .id = 7}, u"\uE805\u0007<t>\uE000"},
      {{.type = TagType::Single, .id = 0x1234}, u"\uE805\0<t>\uE000"s},
      {{.rule = RuleType::Block, .flag = true, .alg = Algorithm::Remove}, u"\uE405\uE411"},
      {{.props = u"\uE001\uE002\uE003\uE004\uE005\uE006\uE007\uE008\uE009\uE00A\uE00B\uE00C\uE000"
                 u"\uE041a"},
       u"\uE700\uE701\uE702\uE703\uE704\uE705\uE706\uE707\uE708\uE411\uE402\uE40C\uE805A<t>\uE000"},
      {{.type = TagType::Close,
        .rule = RuleType::Block,
        .flag = true,
        .tm = u"mt",
        .props = u"\uE003"},
       u"\uE405\uE411\uE404\uEC03mt\uE702\uE805A<t>\uE000"},
      {{.alg = Algorithm::Reserve, .tl = true}, u"\uE805A<t>\uE000\uE80A\0\u0001\uE000"s},
      {{.type = TagType::PairedClose, .flag = true, .alg = Algorithm::Reserve, .sem = 0x12345},
       u"\uE411\uE404\uE80A\u2345\0\uE000\uE404\uE805A<t>\uE000"s},
      // Code-range units of the document: inline single tags of their references in text, the
      // references in a tag's source text; the units next to the range stay as they are.
      {{.isTag = false, .src = u"a\uE000b\uEFFF\xDFFF\uF000"},
       u"a\uE805\0&#xE000;\uE000b\uE805\0&#xEFFF;\uE000\xDFFF\uF000"s},
      {{.isTag = false, .src = u"\uE805\uE00A"}, u"\uE805\0&#xE805;\uE000\uE805\0&#xE00A;\uE000"s},
      {{.id = 0x65, .src = u"<a t=\"\uE1A0\xDFFF\">"},
       u"\uE805\u0065<a t=\"&#xE1A0;\xDFFF\">\uE000"},
      {{.type = TagType::Single, .src = u"\uEABC"}, u"\uE805\0&#xEABC;\uE000"s},
  };
  for (const auto& [element, expected] : cases)
    EXPECT_EQ(Printable(WriteIf(element)), Printable(expected));
  EXPECT_THROW(CIFParser(nullptr, IfParserMode::Read), CHResultError);
}

TEST(CIFParserTest, ReadsEveryBandAndCode) {
  const std::pair<std::u16string, const char*> cases[] = {
      {u"Hi\uE805\u0066b\uE000", "Hi| [b]|#66"},
      {u"\uE405\uE400\uE404\uE402\uE411\uE40C\uE700\uE7FF\uE805\u0066x\uE000", "[x]|#66EBF"},
      {u"\uE411\uE405ab\uE405", "ab|BF"},
      {u"\uEC03abc\uE805\u0066x\uE000", "[x]|#66"},
      // A U+E000 after skipped text is a boundary of its own, not the end of a group.
      {u"\uEC03abc\uE000x\uE405\uE805\u0066y\uE000", "[]| x| [y]|#66B"},
      {u"\uEFFFabc", ""},
      {u"\uE805\u0066x\uE012", "[x]|#66F []|F"},
      {u"\uE804TTX\uE000\uE3FF\uE405\uE000Hello", "[]| []| []|B Hello|"},
      {u"\uE405\uE411\uE404\uE80A\u0005\u0001\uE000\uE404\uE805C</r>\uE000", "[]|EBF [</r>]|#43E"},
      {u"\uE805\u0066x\uE405y", "[x]|#66 y|B"},
      {u"\uE805\u0066xy", "[xy]|#66"},
      {u"\uE404\uE805", "[]|E"},
      {u"\uE805\uE000x\uE000\uE805\uE805y\uE000\uE404\uE805\0z\uE000"s, "[x]|#E000 [y]|#E805 [z]|"},
      {u"\uE80Fzz\uE000\uEBFF\uE000\uFEFFa\xD83D\xDE00\xF000",
       "[]| []| \\uFEFFa\\uD83D\\uDE00\\uF000|"},
  };
  for (const auto& [input, expected] : cases)
    for (std::uint32_t chunk : {1u, 3u, 4096u})
      EXPECT_EQ(ReadIf(input, chunk), expected) << Printable(input) << ", chunk " << chunk;
}

}  // namespace
}  // namespace tagvert
