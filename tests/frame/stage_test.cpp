// Tagvert: TTX to IF end to end with the classification and structuring stage: matched units,
// no target language, ut placeholders and a direction per conversion (a Tu with its target Tuv
// is the golden document utf8_nobom_tu_target_de).
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "frame/frame_test_util.h"

namespace tagvert {
namespace {

using test::Printable;
using test::Utf16LeUnits;
using test::Utf8Bytes;

std::u16string ConvertToIf(CTagvertConverter& converter, const std::u16string& ttx,
                           std::int32_t direction) {
  EXPECT_EQ(converter.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(direction)),
            kSOk);
  const auto c = test::ToIf(Utf8Bytes(ttx), &converter);
  EXPECT_EQ(c.result, kSOk);
  return Utf16LeUnits(c.output);
}

// The pair-id unit, the source text and the end of a tag group.
std::u16string Tag(char16_t pairId, const std::u16string& source) {
  return std::u16string(u"\uE805") + pairId + source + u"\uE000";
}

// The pieces one after another (appending keeps clear of a false overlap warning of GCC 12 on
// prepending a literal to a temporary string).
std::u16string Cat(std::initializer_list<std::u16string_view> pieces) {
  std::u16string text;
  for (const std::u16string_view piece : pieces)
    text += piece;
  return text;
}

TEST(StageTest, UnitsTuvsAndPlaceholdersBecomeTheirTagGroups) {
  const std::u16string matched =
      u"<Tu MatchPercent=\"100\"><Tuv Lang=\"EN-US\">A &amp; B</Tuv>"
      u"<Tuv Lang=\"DE-DE\">A &amp; B</Tuv></Tu>";
  const std::u16string start = u"<ut Type=\"start\" DisplayText=\"b\">&lt;b&gt;</ut>";
  const std::u16string end = u"<ut Type=\"end\" DisplayText=\"b\">&lt;/b&gt;</ut>";
  const std::u16string external = u"<ut Style=\"external\" DisplayText=\"br\">&lt;br&gt;</ut>";
  const struct {
    const char* name;
    std::int32_t direction;
    std::u16string ttx, ifBody;  // the IF after its header
  } cases[] = {
      {"a matched unit is carried whole", 0x00040000, matched, Cat({u"\uE405", Tag(0, matched)})},
      // Without a target every Tuv is carried, the text outside units translated.
      {"direction 0", 0, u"<Raw>Intro  text\r\n<Tu><Tuv Lang=\"EN-US\">One</Tuv></Tu></Raw>",
       Cat({u"\uE405", Tag(0x68, u"<Raw>"), u"Intro  text \uE405", Tag(0x69, u"<Tu>"), u"\uE405",
            Tag(0, u"<Tuv Lang=\"EN-US\">One</Tuv>"), u"\uE405\uE404", Tag(0x69, u"</Tu>"),
            u"\uE405\uE404", Tag(0x68, u"</Raw>")})},
      // ut placeholders pair by DisplayText; the external one stands alone.
      {"ut placeholders", 0x00040000, Cat({start, u"bold", end, external}),
       Cat({Tag(0x68, start), u"bold\uE404", Tag(0x68, end), u"\uE405", Tag(0, external)})},
  };
  CTagvertConverter converter;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Printable(ConvertToIf(converter, c.ttx, c.direction)),
              Printable(Cat({u"\uE804TTX\uE000", c.ifBody})));
  }
}

TEST(StageTest, ConversionsInARowUseTheirOwnDirection) {
  const std::u16string source =
      u"<Tu MatchPercent=\"0\"><Tuv Lang=\"FR-FR\">Bonjour</Tuv><Tuv Lang=\"DE-DE\">Hallo</Tuv>"
      u"</Tu>";
  CTagvertConverter converter;
  const auto german = ConvertToIf(converter, source, 0x00040000);
  const auto french = ConvertToIf(converter, source, 0x00080000);
  // The translated Tuv stays open as text; the other one is collapsed with its text.
  EXPECT_NE(german.find(u"Hallo\uE405\uE404"), std::u16string::npos) << Printable(german);
  EXPECT_NE(french.find(u"Bonjour\uE405\uE404"), std::u16string::npos) << Printable(french);
  EXPECT_NE(french.find(u"Hallo</Tuv>\uE000"), std::u16string::npos) << Printable(french);
}

}  // namespace
}  // namespace tagvert
