// Tagvert: tests of the text processor: escaping, reference resolution, whitespace modes and
// no-break spaces.
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/text_processor.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "storage/char_class.h"
#include "storage/data_storage.h"
#include "storage/memory_stream.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::Printable;

constexpr char16_t kNbsp = 0x00A0;

std::u16string Decoded(std::u16string text) {
  CTextProcessor(nullptr, 1).DecodeEntities(text);
  return text;
}

std::u16string Normalized(std::u16string text, int mode) {
  CTextProcessor::NormalizeWhitespace(text, mode);
  return text;
}

std::u16string Collapsed(std::u16string text) {
  CTextProcessor(nullptr, 1).CollapseNbsp(text);
  return text;
}

struct TextCase {
  std::u16string input;
  std::u16string expected;
};

void ExpectCases(const std::vector<TextCase>& cases, std::u16string (*apply)(std::u16string)) {
  for (const TextCase& c : cases) {
    SCOPED_TRACE(Printable(c.input));
    EXPECT_EQ(Printable(apply(c.input)), Printable(c.expected));
  }
}

// A storage opened on memory streams, writing single-byte code page index 0 (units up to
// U+00FF only).
class CSingleByteOutput {
 public:
  CSingleByteOutput() : m_storage(kModeNone, kModeSingle) {
    m_storage.Open(CEndpoint(), CEndpoint::Stream(std::make_shared<CMemoryStream>()));
  }
  CDataStorage* Storage() { return &m_storage; }

 private:
  CDataStorage m_storage;
};

TEST(CTextProcessorTest, ModeSelectsTheEscapeCount) {
  EXPECT_EQ(CTextProcessor(nullptr, 0).GetEscapeCount(), 5);
  EXPECT_EQ(CTextProcessor(nullptr, 1).GetEscapeCount(), 2);
  EXPECT_EQ(CTextProcessor(nullptr, 2).GetEscapeCount(), 0);
  EXPECT_EQ(CTextProcessor(nullptr, -1).GetEscapeCount(), 0);
}

TEST(CTextProcessorTest, EscapeCountTwoEscapesOnlyLessThanAndAmpersand) {
  std::u16string text = u"a<b&c>d\"e'f";
  CTextProcessor(nullptr, 1).EscapeText(text);
  EXPECT_EQ(Printable(text), Printable(u"a&lt;b&amp;c>d\"e'f"));
}

TEST(CTextProcessorTest, EscapeCountFiveEscapesTheFiveBasicUnits) {
  std::u16string text = u"<>&\"'x";
  CTextProcessor(nullptr, 0).EscapeText(text);
  EXPECT_EQ(Printable(text), Printable(u"&lt;&gt;&amp;&quot;&apos;x"));
}

TEST(CTextProcessorTest, EscapeCountZeroLeavesMarkupCharacters) {
  std::u16string text = u"<&>";
  CTextProcessor(nullptr, 2).EscapeText(text);
  EXPECT_EQ(Printable(text), Printable(u"<&>"));
}

TEST(CTextProcessorTest, EscapeCharWritesNumericReferenceForUnencodableUnit) {
  CSingleByteOutput output;
  const CTextProcessor processor(output.Storage(), 1);
  EXPECT_EQ(Printable(processor.EscapeChar(0x0416)), "&#1046;");
  EXPECT_EQ(Printable(processor.EscapeChar(0x0100)), "&#256;");
  EXPECT_EQ(Printable(processor.EscapeChar(0xFFFF)), "&#65535;");
  EXPECT_EQ(Printable(processor.EscapeChar(0x00FF)), Printable(u"\u00FF"));
  EXPECT_EQ(Printable(processor.EscapeChar(u'A')), "A");
  EXPECT_EQ(Printable(processor.EscapeChar(u'<')), "&lt;");
}

TEST(CTextProcessorTest, EscapeTextMixesReferencesAndUnits) {
  CSingleByteOutput output;
  std::u16string text = u"\u0416a<\u00E9&\u20AC";
  CTextProcessor(output.Storage(), 1).EscapeText(text);
  EXPECT_EQ(Printable(text), Printable(u"&#1046;a&lt;\u00E9&amp;&#8364;"));
}

TEST(CTextProcessorTest, EscapeTextWithUtf8OutputKeepsEveryUnit) {
  CDataStorage storage(kModeNone, kModeUtf8);
  storage.Open(CEndpoint(), CEndpoint::Stream(std::make_shared<CMemoryStream>()));
  std::u16string text = u"\u0416\uFFFF\u00A0";
  CTextProcessor(&storage, 1).EscapeText(text);
  EXPECT_EQ(Printable(text), Printable(u"\u0416\uFFFF\u00A0"));
}

TEST(CTextProcessorTest, DecodeEntitiesResolvesNamedAndNumericReferences) {
  ExpectCases(
      {
          {u"x&lt;y", u"x<y"},
          {u"&#65;&#x42;&#X43;", u"ABC"},
          {u"&#150;", u"\u2013"},
          {u"&nbsp", u"\u00A0"},
          {u"&amp", u"&"},
          {u"&amp&lt;", u"&<"},
          {u"&lt-", u"<-"},
          {u"&#65 x", u"A x"},
          {u"&Agrave;&agrave;", u"\u00C0\u00E0"},
          {u"&apos;&brkbar;&die;&hibar;", u"'\u00A6\u00A8\u00AF"},
          {u"&euro;&sum;&diams;", u"\u20AC\u2211\u2666"},
          {u"no references", u"no references"},
          {u"", u""},
      },
      Decoded);
}

TEST(CTextProcessorTest, DecodeEntitiesDecodesOnce) {
  ExpectCases(
      {
          {u"&amp;lt;", u"&lt;"},
          {u"&amp;#65;", u"&#65;"},
          {u"&#38;amp;", u"&amp;"},
          {u"&#38;#38;", u"&#38;"},
          {u"&amp;amp;amp;", u"&amp;amp;"},
      },
      Decoded);
}

TEST(CTextProcessorTest, DecodeEntitiesLeavesUnknownReferences) {
  ExpectCases(
      {
          {u"&foo;", u"&foo;"},
          {u"&", u"&"},
          {u"a & b", u"a & b"},
          {u"&;", u"&;"},
          {u"&&", u"&&"},
          {u"&AMP;", u"&AMP;"},
          {u"&ampx;", u"&ampx;"},
          {u"&\u00E9;", u"&\u00E9;"},
          {u"&foo&lt;", u"&foo<"},
          {u"&##65;", u"&##65;"},
          {u"&#-5;", u"&#-5;"},
      },
      Decoded);
}

// Numeric references that give no usable character stay as written: no digits, the value 0,
// values past U+10FFFF (also those that overflow any integer).
TEST(CTextProcessorTest, DecodeEntitiesLeavesUnreadableNumericReferences) {
  ExpectCases(
      {
          {u"&#;", u"&#;"},
          {u"&#x;", u"&#x;"},
          {u"&#X;", u"&#X;"},
          {u"&#xZ;", u"&#xZ;"},
          {u"&#", u"&#"},
          {u"&#x", u"&#x"},
          {u"&#abc;", u"&#abc;"},
          {u"&#0;", u"&#0;"},
          {u"&#x0;", u"&#x0;"},
          {u"&#000", u"&#000"},
          {u"&#x110000;", u"&#x110000;"},
          {u"&#1114112;", u"&#1114112;"},
          {u"&#99999999999999999999999;", u"&#99999999999999999999999;"},
          {u"&#xFFFFFFFFFFFFFFFFFFFF;", u"&#xFFFFFFFFFFFFFFFFFFFF;"},
      },
      Decoded);
}

TEST(CTextProcessorTest, DecodeEntitiesGivesSurrogatePairsAboveTheBmp) {
  ExpectCases(
      {
          {u"&#x1F600;", u"\U0001F600"},
          {u"&#65536;", u"\U00010000"},
          {u"&#x10FFFF;", u"\U0010FFFF"},
          {u"&#xFFFF;", u"\uFFFF"},
      },
      Decoded);
}

// "%d" and "%x" read the leading digits and ignore the rest of the name.
TEST(CTextProcessorTest, DecodeEntitiesReadsLeadingDigitsOnly) {
  ExpectCases(
      {
          {u"&#12ab;", u"\u000C"},
          {u"&#x41zz;", u"A"},
          {u"&#x0x41;", u"A"},
          {u"&#0065;", u"A"},
          {u"&#66\u0661;", u"B"},
      },
      Decoded);
}

TEST(CTextProcessorTest, NumericReferencesFrom128To159UseCodePage1252) {
  ExpectCases(
      {
          {u"&#128;", u"\u20AC"},
          {u"&#x80;", u"\u20AC"},
          {u"&#129;", u"\u0081"},
          {u"&#x9D;", u"\u009D"},
          {u"&#153;", u"\u2122"},
          {u"&#159;", u"\u0178"},
          {u"&#127;", u"\u007F"},
          {u"&#160;", u"\u00A0"},
      },
      Decoded);
}

TEST(CTextProcessorTest, ResolveEntityHandlesEmptyNames) {
  EXPECT_EQ(Printable(CTextProcessor::ResolveEntity(u"", true)), "&;");
  EXPECT_EQ(Printable(CTextProcessor::ResolveEntity(u"", false)), "&");
  EXPECT_EQ(Printable(CTextProcessor::ResolveEntity(u"bogus", false)), "&bogus");
  EXPECT_EQ(Printable(CTextProcessor::ResolveEntity(u"quot", false)), "\"");
}

// The step-by-step statement of the decoding: replace each reference in place and continue at
// the second unit of the replacement. Written naively on purpose, to compare the one-walk
// decoder against it.
std::u16string DecodeInPlace(std::u16string text) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != u'&') {
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    if (end < text.size() && text[end] == u'#') ++end;
    while (end < text.size() && CharIsAlnum(text[end]))
      ++end;
    const std::u16string name = text.substr(i + 1, end - i - 1);
    const bool semicolon = end < text.size() && text[end] == u';';
    const std::u16string replacement = CTextProcessor::ResolveEntity(name, semicolon);
    text.replace(i, end - i + (semicolon ? 1 : 0), replacement);
    i += replacement.size() > 1 ? 1 : replacement.size();
  }
  return text;
}

TEST(CTextProcessorTest, DecodeEntitiesMatchesTheStepwiseDecodingOnRandomText) {
  const std::u16string alphabet = u"&&&#;xXampltgo1269AF ";
  std::mt19937 random(20240607);
  for (int round = 0; round < 3000; ++round) {
    std::u16string text(random() % 24, u' ');
    for (char16_t& unit : text)
      unit = alphabet[random() % alphabet.size()];
    SCOPED_TRACE(Printable(text));
    EXPECT_EQ(Printable(Decoded(text)), Printable(DecodeInPlace(text)));
  }
}

TEST(CTextProcessorTest, DecodeEntitiesScalesLinearly) {
  std::u16string text;
  for (int i = 0; i < 200000; ++i)
    text += u"&amp;x";
  std::u16string expected;
  for (int i = 0; i < 200000; ++i)
    expected += u"&x";
  EXPECT_TRUE(Decoded(text) == expected);
}

TEST(CTextProcessorTest, NormalizeModeTwoEmptiesAllSpaceText) {
  EXPECT_EQ(Printable(Normalized(u"   \n", 2)), "");
  EXPECT_EQ(Printable(Normalized(u"", 2)), "");
  EXPECT_EQ(Printable(Normalized(u"\u3000\u2028\t", 2)), "");
}

TEST(CTextProcessorTest, NormalizeModeTwoFoldsLineBreaksAndTabs) {
  ExpectCases(
      {
          {u"a\r\n  b", u"a b"},
          {u"a  b", u"a  b"},
          {u"a\t", u"a "},
          {u"\n a", u" a"},
          {u"a\n ", u"a "},
          {u"a \n b", u"a  b"},
          {u"a\n\t\n  \tb", u"a b"},
          {u"a\n\rb", u"a b"},
          {u"a\n \rb", u"a \rb"},
          {u"a\u3000\nb", u"a\u3000 b"},
          {u"a\u000Bb", u"a\u000Bb"},
      },
      [](std::u16string text) { return Normalized(std::move(text), 2); });
}

TEST(CTextProcessorTest, NoBreakSpaceIsNotWhitespace) {
  EXPECT_EQ(Printable(Normalized(u"\u00A0", 2)), Printable(u"\u00A0"));
  EXPECT_EQ(Printable(Normalized(u" \u00A0 ", 1)), Printable(u" \u00A0 "));
  EXPECT_EQ(Printable(Normalized(u"\n\u00A0", 2)), Printable(u" \u00A0"));
}

TEST(CTextProcessorTest, NormalizeModeFourKeepsAllSpaceText) {
  EXPECT_EQ(Printable(Normalized(u"  \n", 4)), Printable(u"  \n"));
  EXPECT_EQ(Printable(Normalized(u"a\n b", 4)), "a b");
}

TEST(CTextProcessorTest, NormalizeModeOneOnlyEmptiesAllSpaceText) {
  EXPECT_EQ(Printable(Normalized(u"  \t\r\n", 1)), "");
  EXPECT_EQ(Printable(Normalized(u"a\n b", 1)), Printable(u"a\n b"));
}

TEST(CTextProcessorTest, OtherModesLeaveTheText) {
  for (int mode : {0, 3, 5, -1}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(Printable(Normalized(u" \n a\t", mode)), Printable(u" \n a\t"));
    EXPECT_EQ(Printable(Normalized(u" \n", mode)), Printable(u" \n"));
  }
}

TEST(CTextProcessorTest, NbspQueries) {
  EXPECT_TRUE(CTextProcessor::IsNbsp(kNbsp));
  EXPECT_FALSE(CTextProcessor::IsNbsp(u' '));
  EXPECT_FALSE(CTextProcessor::IsNbsp(0x202F));
  EXPECT_TRUE(CTextProcessor::ContainsNbsp(u"ab\u00A0"));
  EXPECT_FALSE(CTextProcessor::ContainsNbsp(u"ab \u202F"));
}

TEST(CTextProcessorTest, SpaceAfterNbspInsertsOneSpaceAfterEach) {
  ExpectCases(
      {
          {u"a\u00A0b", u"a\u00A0 b"},
          {u"\u00A0\u00A0", u"\u00A0 \u00A0 "},
          {u"\u00A0 ", u"\u00A0  "},
          {u"plain", u"plain"},
      },
      [](std::u16string text) {
        CTextProcessor::SpaceAfterNbsp(text);
        return text;
      });
}

TEST(CTextProcessorTest, CollapseNbspRemovesSpacesOnBothSides) {
  ExpectCases(
      {
          {u"  \u00A0 ", u"\u00A0"},
          {u"a \u00A0 b", u"a\u00A0b"},
          {u"a   \u00A0\u00A0   b", u"a\u00A0\u00A0b"},
          {u"\u00A0 x \u00A0", u"\u00A0x\u00A0"},
          {u"a  b", u"a  b"},
          {u"a \u00A0", u"a\u00A0"},
          {u"\t\u00A0\t", u"\t\u00A0\t"},
          {u"x \u00A0 y z", u"x\u00A0y z"},
          {u"\u00A0", u"\u00A0"},
          {u"", u""},
      },
      Collapsed);
}

// The stated procedure, naively: first every nbsp+space pair, then every space+nbsp pair,
// searching again from each replacement.
std::u16string CollapseByPairs(std::u16string text) {
  for (std::size_t at = text.find(u"\u00A0 "); at != std::u16string::npos;
       at = text.find(u"\u00A0 ", at)) {
    text.erase(at + 1, 1);
  }
  for (std::size_t at = text.find(u" \u00A0"); at != std::u16string::npos;
       at = text.find(u" \u00A0", at == 0 ? 0 : at - 1)) {
    text.erase(at, 1);
  }
  return text;
}

TEST(CTextProcessorTest, CollapseNbspMatchesThePairwiseProcedureOnRandomText) {
  const std::u16string alphabet = u"  a\u00A0\t";
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::u16string text(random() % 16, u' ');
    for (char16_t& unit : text)
      unit = alphabet[random() % alphabet.size()];
    SCOPED_TRACE(Printable(text));
    EXPECT_EQ(Printable(Collapsed(text)), Printable(CollapseByPairs(text)));
  }
}

TEST(CTextProcessorTest, CollapseNbspScalesLinearly) {
  const std::u16string spaces(400000, u' ');
  EXPECT_TRUE(Collapsed(spaces + u"\u00A0" + spaces) == u"\u00A0");
  EXPECT_TRUE(Collapsed(spaces + u"x" + spaces) == spaces + u"x" + spaces);
}

}  // namespace
}  // namespace tagvert
