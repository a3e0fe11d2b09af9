// Tagvert: TTX to IF end to end with the classification and structuring stage (FrontMatter
// and no-break spaces: the golden documents of the command tests).
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>

#include "frame/frame_test_util.h"

namespace tagvert {
namespace {

using test::Printable;
using test::Utf16LeUnits;
using test::Utf8Bytes;

std::u16string ConvertToIf(const std::u16string& ttx, std::int32_t direction) {
  CTagvertConverter converter;
  EXPECT_EQ(converter.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(direction)),
            kSOk);
  const auto c = test::ToIf(Utf8Bytes(ttx), &converter);
  EXPECT_EQ(c.result, kSOk);
  return Utf16LeUnits(c.output);
}

constexpr char16_t kHeader[] = u"\uE804TTX\uE000";

// The pair-id unit, the source text and the end of a tag group.
std::u16string Tag(char16_t pairId, const std::u16string& source) {
  return std::u16string(u"\uE805") + pairId + source + u"\uE000";
}

TEST(StageTest, SourceTuvIsCarriedAsATagAndTargetTuvTextIsTranslated) {
  const std::u16string tu = u"<Tu MatchPercent=\"0\">";
  const std::u16string tuvEn = u"<Tuv Lang=\"EN-US\">";
  const std::u16string tuvDe = u"<Tuv Lang=\"DE-DE\">";
  const std::u16string source = tu + tuvEn + u"Hello</Tuv>" + tuvDe + u"Hallo</Tuv></Tu>";
  const std::u16string expected = std::u16string(kHeader) + u"\uE405" + Tag(0x68, tu) + u"\uE405" +
                                  Tag(0x00, tuvEn + u"Hello</Tuv>") + u"\uE405" + Tag(0x69, tuvDe) +
                                  u"Hallo" + u"\uE405\uE404" + Tag(0x69, u"</Tuv>") +
                                  u"\uE405\uE404" + Tag(0x68, u"</Tu>");
  EXPECT_EQ(Printable(ConvertToIf(source, 0x00040000)), Printable(expected));
}

TEST(StageTest, MatchedUnitIsCarriedWhole) {
  const std::u16string unit =
      u"<Tu MatchPercent=\"100\"><Tuv Lang=\"EN-US\">A &amp; B</Tuv>"
      u"<Tuv Lang=\"DE-DE\">A &amp; B</Tuv></Tu>";
  const std::u16string expected = std::u16string(kHeader) + u"\uE405" + Tag(0, unit);
  EXPECT_EQ(Printable(ConvertToIf(unit, 0x00040000)), Printable(expected));
}

TEST(StageTest, DirectionZeroSkipsEveryTuvButTranslatesOutsideText) {
  const std::u16string source = u"<Raw>Intro  text\r\n<Tu><Tuv Lang=\"EN-US\">One</Tuv></Tu></Raw>";
  const std::u16string expected = std::u16string(kHeader) + u"\uE405" + Tag(0x68, u"<Raw>") +
                                  u"Intro  text " + u"\uE405" + Tag(0x69, u"<Tu>") + u"\uE405" +
                                  Tag(0, u"<Tuv Lang=\"EN-US\">One</Tuv>") + u"\uE405\uE404" +
                                  Tag(0x69, u"</Tu>") + u"\uE405\uE404" + Tag(0x68, u"</Raw>");
  EXPECT_EQ(Printable(ConvertToIf(source, 0)), Printable(expected));
}

TEST(StageTest, UtPlaceholdersPairByDisplayText) {
  const std::u16string start = u"<ut Type=\"start\" DisplayText=\"b\">&lt;b&gt;</ut>";
  const std::u16string end = u"<ut Type=\"end\" DisplayText=\"b\">&lt;/b&gt;</ut>";
  const std::u16string external = u"<ut Style=\"external\" DisplayText=\"br\">&lt;br&gt;</ut>";
  const std::u16string source = start + u"bold" + end + external;
  // First pairing: the three ut pairs get 101..103; the second renumbers the b pair to 104.
  const std::u16string expected = std::u16string(kHeader) + Tag(0x68, start) + u"bold" + u"\uE404" +
                                  Tag(0x68, end) + u"\uE405" + Tag(0, external);
  EXPECT_EQ(Printable(ConvertToIf(source, 0x00040000)), Printable(expected));
}

TEST(StageTest, ConversionsInARowUseTheirOwnDirection) {
  const std::u16string source =
      u"<Tu MatchPercent=\"0\"><Tuv Lang=\"FR-FR\">Bonjour</Tuv><Tuv Lang=\"DE-DE\">Hallo</Tuv>"
      u"</Tu>";
  CTagvertConverter converter;
  converter.PutProperty(CVariant::Int32(0), CVariant::Int32(0x00040000));
  const auto german = Utf16LeUnits(test::ToIf(Utf8Bytes(source), &converter).output);
  converter.PutProperty(CVariant::Int32(0), CVariant::Int32(0x00080000));
  const auto french = Utf16LeUnits(test::ToIf(Utf8Bytes(source), &converter).output);
  // The translated Tuv stays open as text; the other one is collapsed with its text.
  EXPECT_NE(german.find(u"Hallo\uE405\uE404"), std::u16string::npos) << Printable(german);
  EXPECT_NE(french.find(u"Bonjour\uE405\uE404"), std::u16string::npos) << Printable(french);
  EXPECT_NE(french.find(u"Hallo</Tuv>\uE000"), std::u16string::npos) << Printable(french);
}

}  // namespace
}  // namespace tagvert
