// Tagvert: tests of the IF reader and writer (CIFParser).
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/if_parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "markup/element.h"
#include "storage/data_storage.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using namespace std::literals;
using test::Printable;

// An element to write; the defaults are an inline, translated, paired start tag.
struct CElementFields {
  int isTag = 1, type = kTagPairedOpen, id = 0x41;
  std::u16string src = u"<t>";
  int rule = kRuleInline;
  bool flag = false;
  int alg = kAlgorithmTranslate, sem = -1;
  bool tl = false;
  std::u16string tm = u"", props = u"";
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
  if (!s.tm.empty()) e.SetTransMethod(s.tm);
  for (char16_t code : s.props)
    e.AppendPropertyCode(code);
  auto sink = std::make_shared<test::CSinkStream>();
  CDataStorage storage(kModeNone, kModeSingle);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  CIFParser(&storage, kIfParserWrite).WriteElement(&e);
  storage.Flush();
  return test::Utf16LeUnits(sink->Bytes());
}

// Every element a parser with flag 1 reads from `units`, handed out `chunk` bytes per read:
// "[source]" for a tag or the text itself, "|", then #pair id (hex) when not 0, E for TagType 2,
// B for RuleType 0 and F for Flagged.
std::string ReadIf(const std::u16string& units, std::uint32_t chunk) {
  CDataStorage storage(kModeUtf8, kModeNone);
  storage.Open(
      CEndpoint::Stream(std::make_shared<test::CChunkedStream>(test::Utf16LeBytes(units), chunk)),
      CEndpoint());
  CIFParser parser(&storage, kIfParserRead);
  std::ostringstream read;
  for (std::size_t count = 0; count <= units.size(); ++count) {
    CElementX e;
    if (!parser.ReadElement(&e)) break;
    EXPECT_TRUE(e.GetTagType() == kTagSingle || e.GetTagType() == kTagPairedClose);
    read << (count == 0 ? "" : " ") << (e.GetIsTag() ? "[" : "") << Printable(e.GetSourceText())
         << (e.GetIsTag() ? "]|" : "|");
    if (e.GetPairId() != 0) read << '#' << std::hex << std::uppercase << e.GetPairId();
    read << (e.GetTagType() == kTagPairedClose ? "E" : "")
         << (e.GetRuleType() == kRuleBlock ? "B" : "") << (e.GetFlagged() ? "F" : "");
  }
  EXPECT_TRUE(parser.IsEnd()) << "the reader stopped advancing";
  return read.str();
}

TEST(CIFParserTest, WritesEachKindOfElement) {
  const struct {
    CElementFields element;
    std::u16string expected;
  } cases[] = {
      {{.isTag = 0, .src = u"Hi", .rule = kRuleBlock, .flag = true, .tm = u"m", .props = u"\uE001"},
       u"Hi"},
      {{.id = 0x65, .src = u"<b>"}, u"\uE805\u0065<b>\uE000"},
      {{.type = kTagPairedClose, .rule = kRuleBlock}, u"\uE405\uE404\uE805A<t>\uE000"},
      {{.type = kTagOpen, .id = 7}, u"\uE805\u0007<t>\uE000"},
      {{.type = kTagSingle, .id = 0x1234}, u"\uE805\0<t>\uE000"s},
      // Remove writes nothing after the block and flag marks.
      {{.rule = kRuleBlock, .flag = true, .alg = kAlgorithmRemove}, u"\uE405\uE411"},
      {{.props = u"\uE001\uE002\uE003\uE004\uE005\uE006\uE007\uE008\uE009\uE00A\uE00B\uE00C\uE000"
                 u"\uE041a"},
       u"\uE700\uE701\uE702\uE703\uE704\uE705\uE706\uE707\uE708\uE411\uE402\uE40C\uE805A<t>\uE000"},
      {{.type = kTagClose, .rule = kRuleBlock, .flag = true, .tm = u"mt", .props = u"\uE003"},
       u"\uE405\uE411\uE404\uEC03mt\uE702\uE805A<t>\uE000"},
      // Reserve: the group follows a start tag and precedes an end tag; semantic low 16 bits or 0.
      {{.alg = kAlgorithmReserve, .tl = true}, u"\uE805A<t>\uE000\uE80A\0\u0001\uE000"s},
      {{.type = kTagPairedClose, .flag = true, .alg = kAlgorithmReserve, .sem = 0x12345},
       u"\uE411\uE404\uE80A\u2345\0\uE000\uE404\uE805A<t>\uE000"s},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Printable(WriteIf(c.element)), Printable(c.expected));
  EXPECT_THROW(CIFParser(nullptr, kIfParserRead), CHResultError);
}

TEST(CIFParserTest, ReadsEveryBandAndCode) {
  const struct {
    const char* what;
    std::u16string input;
    const char* expected;
  } cases[] = {
      {"text then tag", u"Hi\uE805\u0066b\uE000", "Hi| [b]|#66"},
      {"flags apply to the tag, other flags do nothing",
       u"\uE405\uE400\uE404\uE402\uE411\uE40C\uE700\uE7FF\uE805\u0066x\uE000", "[x]|#66EBF"},
      {"flags apply to text, the input ends after a flag", u"\uE411\uE405ab\uE405", "ab|BF"},
      {"skipped text", u"\uEC03abc\uE805\u0066x\uE000", "[x]|#66"},
      {"end in skipped text", u"\uEFFFabc", ""},
      {"flagged boundary ends the group", u"\uE805\u0066x\uE012", "[x]|#66F []|F"},
      {"header and boundaries", u"\uE804TTX\uE000\uE3FF\uE405\uE000Hello", "[]| []| []|B Hello|"},
      {"leading reserve group takes the marks",
       u"\uE405\uE411\uE404\uE80A\u0005\u0001\uE000\uE404\uE805C</r>\uE000", "[]|EBF [</r>]|#43E"},
      {"group ended by another code", u"\uE805\u0066x\uE405y", "[x]|#66 y|B"},
      {"group ended by the input", u"\uE805\u0066xy", "[xy]|#66"},
      {"input ends before the pair id", u"\uE404\uE805", "[]|E"},
      {"pair id taken as it is, 0 makes a standalone tag",
       u"\uE805\uE000x\uE000\uE805\uE805y\uE000\uE404\uE805\0z\uE000"s, "[x]|#E000 [y]|#E805 [z]|"},
      {"other groups dropped; the mark and units outside the codes are text",
       u"\uE80Fzz\uE000\uEBFF\uE000\uFEFFa\xD83D\xDE00\xF000",
       "[]| []| \\uFEFFa\\uD83D\\uDE00\\uF000|"},
  };
  for (const auto& c : cases) {
    for (std::uint32_t chunk : {1u, 3u, 4096u}) {
      SCOPED_TRACE(std::string(c.what).append(", chunk ").append(std::to_string(chunk)));
      EXPECT_EQ(ReadIf(c.input, chunk), c.expected);
    }
  }
}

}  // namespace
}  // namespace tagvert
