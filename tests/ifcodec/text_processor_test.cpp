// Tagvert: tests of the text processor (escaping, references, whitespace, no-break spaces).
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/text_processor.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "storage/data_storage.h"
#include "storage/memory_stream.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::Printable;

struct TextCase {
  std::u16string text, expected;
  int mode = 0;  // the escape or whitespace mode, where the operation takes one
};

template <typename Apply>
void ExpectCases(std::initializer_list<TextCase> cases, Apply apply) {
  for (TextCase c : cases) {
    SCOPED_TRACE(Printable(c.text) + " mode " + std::to_string(c.mode));
    apply(c.text, c.mode);
    EXPECT_EQ(Printable(c.text), Printable(c.expected));
  }
}

// Mode: the escape mode, +10 for a single-byte output (to U+00FF), +30 for UTF-8, else none.
TEST(CTextProcessorTest, EscapeText) {
  CDataStorage singleByte(EncodingMode::None, EncodingMode::Single),
      utf8(EncodingMode::None, EncodingMode::Utf8);
  for (CDataStorage* storage : {&singleByte, &utf8})
    storage->Open(CEndpoint(), CEndpoint::Stream(std::make_shared<CMemoryStream>()));
  ExpectCases({{u"a<b&c>d\"e'f", u"a&lt;b&amp;c>d\"e'f", 1},
               {u"<>&\"'x", u"&lt;&gt;&amp;&quot;&apos;x", 0},
               {u"<&>\u0416", u"<&>\u0416", 2},
               {u"\u0416<\u00E9\u20AC\uFFFF\u00FF", u"&#1046;&lt;\u00E9&#8364;&#65535;\u00FF", 11},
               {u"\u0416\uFFFF\u00A0<", u"\u0416\uFFFF\u00A0&lt;", 31},
               // A plain ASCII stretch before the first unit to escape, and nothing else.
               {u"plain words, then x<y", u"plain words, then x&lt;y", 31},
               {u"plain words, then \u0416", u"plain words, then &#1046;", 11},
               {u"only plain ASCII: a-z 0-9 ()[]/", u"only plain ASCII: a-z 0-9 ()[]/", 31},
               // Units to escape side by side, first and last, with plain stretches between.
               {u"<<ab&&\u0416c]\u0416<", u"&lt;&lt;ab&amp;&amp;&#1046;c]&#1046;&lt;", 11},
               {u"&x\u00E9\u00A0<", u"&amp;x\u00E9\u00A0&lt;", 31}},
              [&](std::u16string& text, int mode) {
                CDataStorage* output = mode < 10 ? nullptr : mode < 30 ? &singleByte : &utf8;
                CTextProcessor(output, static_cast<EscapeMode>(mode % 10)).EscapeText(text);
              });
}

// Unknown names stay as written, references are decoded once; numeric references without a
// usable value (no digits, 0, above U+10FFFF) stay as written, values above U+FFFF give their
// surrogate pair, "%d" and "%x" read the leading digits, 128..159 go through code page 1252.
TEST(CTextProcessorTest, DecodeEntities) {
  ExpectCases(
      {{u"x&lt;y&#65;&#x42;&#X43;&nbsp&amp&lt;&lt-&#65 x", u"x<yABC\u00A0&<<-A x"},
       {u"&Agrave;&agrave;&apos;&brkbar;&die;&hibar;&euro;&sum;",
        u"\u00C0\u00E0'\u00A6\u00A8\u00AF\u20AC\u2211"},
       {u"&amp;lt;&#38;#38;&amp;amp;amp;", u"&lt;&#38;&amp;amp;"},
       {u"&foo; & &;&&&AMP;&ampx;&\u00E9;&foo&lt;", u"&foo; & &;&&&AMP;&ampx;&\u00E9;&foo<"},
       {u"&quot;&gt;&quo;&gt&apo;&aposx;&q;&l;&apos", u"\">&quo;>&apo;&aposx;&q;&l;'"},
       {u"&##65;&#-5;&#;&#x;&#X;&#xZ;&#abc;&#0;&#x0;&#x110000;&#99999999999999999999999;&#",
        u"&##65;&#-5;&#;&#x;&#X;&#xZ;&#abc;&#0;&#x0;&#x110000;&#99999999999999999999999;&#"},
       {u"&#x1F600;&amp;&#65536;&#x10FFFF;&#xFFFF;", u"\U0001F600&\U00010000\U0010FFFF\uFFFF"},
       {u"&#12ab;&#x41zz;&#x0x41;&#0065;&#66\u0661;", u"\u000CAAAB"},
       {u"&#128;&#x80;&#129;&#x9D;&#150;&#153;&#159;&#127;&#160;",
        u"\u20AC\u20AC\u0081\u009D\u2013\u2122\u0178\u007F\u00A0"}},
      [](std::u16string& text, int) {
        // The one-walk form, appended after what a buffer holds already, also spaces the
        // no-break spaces, those that references give included.
        std::u16string fused = u"kept";
        const bool nbsp = CTextProcessor::AppendDecoded(text + u"\u00A0&#xA0;", fused, true);
        CTextProcessor(nullptr, EscapeMode::Markup).DecodeEntities(text);
        std::u16string spaced = text + u"\u00A0\u00A0";
        CTextProcessor::SpaceAfterNbsp(spaced);
        EXPECT_EQ(Printable(fused), Printable(u"kept" + spaced));
        EXPECT_TRUE(nbsp);
      });
}

// Only CR, LF and TAB start a break, and a CR ends the skipping of the spaces after one; a
// no-break space is not whitespace.
TEST(CTextProcessorTest, NormalizeWhitespace) {
  ExpectCases({{u"   \n\u3000\u2028\t", u"", 2},
               {u"\n a \n b\r\n  c  d\t", u" a  b c  d ", 2},
               {u"a\n \rb\u3000\nc\u000Bd", u"a \rb\u3000 c\u000Bd", 2},
               {u"  \n", u"  \n", 4},
               {u"a\n b", u"a b", 4},
               {u"  \t\r\n", u"", 1},
               {u"a\n b", u"a\n b", 1},
               {u" \n a\t", u" \n a\t", 0},
               {u" \n", u" \n", 3}},
              [](std::u16string& text, int mode) {
                CTextProcessor::NormalizeWhitespace(text, static_cast<Whitespace>(mode));
              });
}

TEST(CTextProcessorTest, NoBreakSpaces) {
  ExpectCases({{u"a\u00A0b\u00A0\u00A0 x", u"a\u00A0 b\u00A0 \u00A0  x"}},
              [](std::u16string& text, int) { CTextProcessor::SpaceAfterNbsp(text); });
  ExpectCases({{u"  \u00A0 ", u"\u00A0"},
               {u"a   \u00A0\u00A0   b", u"a\u00A0\u00A0b"},
               {u"\u00A0 x \u00A0 y z", u"\u00A0x\u00A0y z"},
               {u"\t\u00A0\t", u"\t\u00A0\t"}},
              [](std::u16string& text, int) {
                CTextProcessor(nullptr, EscapeMode::Markup).CollapseNbsp(text);
              });
}

}  // namespace
}  // namespace tagvert
