// Tagvert: tests of the structuring passes (CSgmlStackProcessor) and of the TTX pass over ut
// placeholders (CTTXStackProcessor), on documents read by the markup reader.
// SPDX-License-Identifier: Apache-2.0
#include "structure/sgml_stack_processor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <span>
#include <sstream>
#include <string>

#include "markup/elements_stack.h"
#include "markup/sgml_parser.h"
#include "rules/rules_processor.h"
#include "rules/transml_rules.h"
#include "storage/memory_stream.h"
#include "structure/ttx_stack_processor.h"
#include "support/read_document.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::Printable;

// o or c for a paired start or end tag, O or C for an unpaired one, `single` otherwise.
const char* TypeLetter(int tagType, const char* single) {
  return tagType == kTagPairedOpen    ? "o"
         : tagType == kTagPairedClose ? "c"
         : tagType == kTagOpen        ? "O"
         : tagType == kTagClose       ? "C"
                                      : single;
}

// Per element, separated by "|": a text run as it is; markup as [source], then o/c for a paired
// start/end tag, O/C unpaired, {value} of formatX, B when block, ~n for Algorithm n other than 0.
std::string Describe(std::span<IElementX* const> list) {
  std::ostringstream out;
  for (const IElementX* e : list) {
    out << (out.tellp() > 0 ? "|" : "");
    const bool tag = e->GetIsTag() != 0;
    out << (tag ? "[" : "") << Printable(e->GetSourceText()) << (tag ? "]" : "")
        << (tag ? TypeLetter(e->GetTagType(), "") : "");
    if (const int format = e->FindAttribute(kFormatAttributeName); format >= 0)
      out << '{' << Printable(e->GetAttributeValueAt(format)) << '}';
    out << (e->GetRuleType() == kRuleBlock ? "B" : "");
    if (e->GetAlgorithm() != kAlgorithmTranslate) out << '~' << e->GetAlgorithm();
  }
  return out.str();
}

// Element names s, r and v skip, remove and reserve; n, m and g normalize, remove and
// normalize-significant the whitespace of the text runs they enclose; p has no rule.
TEST(CSgmlStackProcessorTest, StructuresClassifiedDocuments) {
  const struct {
    const char16_t* document;
    const char* structured;
  } cases[] = {
      // A skipped block keeps its exact source; formatX holds its inside, normalized, when the
      // inside is not empty; a nested skipped block is swallowed whole.
      {u"<p><s> Hello\r\n   world &amp; more</s>after</p><s></s><s> \r\n </s>",
       "[<p>]o|[<s> Hello\\u000D\\u000A   world &amp; more</s>]{ Hello world &amp; more}B|after|"
       "[</p>]c|[<s></s>]B|[<s> \\u000D\\u000A </s>]{}B"},
      {u"<s><s>a</s>\n <p>b</p></s>x<s>1</s>",
       "[<s><s>a</s>\\u000A <p>b</p></s>]{<s>a</s> <p>b</p>}B|x|[<s>1</s>]{1}B"},
      {u"<r>a</r><v>b</v><p>c</p>",
       "[<r>]oB~3|a~3|[</r>]cB~3|[<v>]oB~4|b|[</v>]cB~4|[<p>]o|c|[</p>]c"},
      {u"<n>a\r\n  b\t</n><n> \n </n><m> \r\n\t</m><m>a\n\nb</m><g> \n </g><g>x\n\ny</g>"
       u" a\r\n\t b ",
       "[<n>]oB|a b |[</n>]cB|[<n>]oB||[</n>]cB|[<m>]oB||[</m>]cB|[<m>]oB|a\\u000A\\u000Ab|"
       "[</m>]cB|[<g>]oB| \\u000A |[</g>]cB|[<g>]oB|x y|[</g>]cB| a\\u000D\\u000A\\u0009 b "},
      // References are decoded after normalizing, in every mode.
      {u"<p> x &lt;\n y&amp;amp; </p><n>a&#10;\n b&amp;</n><m>&#x41;&foo;</m>",
       "[<p>]o| x <\\u000A y&amp; |[</p>]c|[<n>]oB|a\\u000A b&|[</n>]cB|[<m>]oB|A&foo;|[</m>]cB"},
      // Every no-break space becomes markup, followed by a text that begins with a space.
      {u"a\u00A0b<p title=\"\u00A0\"/>\u00A0lead<p/>end&nbsp;<p/>\u00A0\u00A0x y<r>c\u00A0</r>",
       "a|[\\u00A0]| b|[<p title=\"\\u00A0\"/>]|[\\u00A0]| lead|[<p/>]|end|[\\u00A0]| |[<p/>]|"
       "[\\u00A0]| |[\\u00A0]| x y|[<r>]oB~3|c|[\\u00A0]| |[</r>]cB~3"},
  };
  const std::string rules =
      "<Orvel-TransML><Rules><Rule Name='s' Algorithm='Skip'/><Rule Name='r' Algorithm='Remove'/>"
      "<Rule Name='v' Algorithm='Reserve'/><Rule Name='n' Whitespace='Normalize'/>"
      "<Rule Name='m' Whitespace='Remove'/><Rule Name='g' Whitespace='NormalizeSignificant'/>";
  CRules set;
  ASSERT_TRUE(set.LoadStream(std::make_shared<CMemoryStream>(rules.data(), rules.size()), false));
  for (const auto& c : cases) {
    SCOPED_TRACE(Printable(c.document));
    auto list = test::ReadPaired(c.document);
    CRulesProcessor().Process(*list, &set);
    CSgmlStackProcessor processor;
    processor.SetTextProcessor(new CTextProcessor(nullptr, 1));
    processor.CollapseSkipped(*list);
    processor.NormalizeTexts(*list);
    processor.DecodeTexts(*list);
    processor.SplitNonBreakingSpaces(*list);
    EXPECT_EQ(Describe(*list), c.structured);
  }
}

// Per round a skipped block and a normalized text run with a no-break space and a reference, paired
// as the pairing would pair them. Shifting the list once per block or run costs tens of
// seconds here even in an optimised build; one walk per pass takes 0.3 s (3 s with sanitizers).
TEST(CSgmlStackProcessorTest, LongListsTakeOneWalkPerPass) {
  constexpr int kBlocks = 200000;
  CElementsStackX list;
  const auto add = [&](const char16_t* source, int tagType, int id) {
    list.Push(new CElementX());
    list.back()->SetSourceText(source);
    list.back()->SetIsTag(tagType != kTagSingle);
    list.back()->SetTagType(tagType);
    list.back()->SetPairId(id);
    list.back()->SetAlgorithm(tagType == kTagSingle ? kAlgorithmTranslate : kAlgorithmSkip);
    list.back()->SetWhitespace(kWhitespaceNormalize);
  };
  for (int i = 0; i < kBlocks; ++i) {
    add(u"<ut>", kTagPairedOpen, 101 + i % 50000);
    add(u"&lt;b&gt;\n", kTagSingle, 0);
    add(u"</ut>", kTagPairedClose, 101 + i % 50000);
    add(u"a\u00A0b &amp;\n  c", kTagSingle, 0);
  }
  CSgmlStackProcessor processor;
  processor.SetTextProcessor(new CTextProcessor(nullptr, 1));
  const auto start = std::chrono::steady_clock::now();
  processor.CollapseSkipped(list);
  processor.NormalizeTexts(list);
  processor.DecodeTexts(list);
  processor.SplitNonBreakingSpaces(list);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
  ASSERT_EQ(list.size(), 4u * kBlocks);
  for (std::size_t first : {std::size_t{0}, list.size() - 8}) {
    EXPECT_EQ(Describe(std::span(list).subspan(first, 8)),
              "[<ut>&lt;b&gt;\\u000A</ut>]{&lt;b&gt; }|a|[\\u00A0]| b & c|"
              "[<ut>&lt;b&gt;\\u000A</ut>]{&lt;b&gt; }|a|[\\u00A0]| b & c");
  }
}

// Each ut as the collapsing of skipped blocks leaves it: one markup element with its attributes.
TEST(CTTXStackProcessorTest, UtItemsAreNamedTypedAndPairedByDisplayText) {
  const struct {
    const char16_t* document;
    const char* resolved;  // per element: Name/UpperName, type (o c O C or -), pair id, B for block
  } cases[] = {
      // Pairs by name (now the DisplayText) and depth; a start and an end of other names stay
      // unpaired.
      {u"<ut Type='start' DisplayText='b'/>bold<ut Type='start' DisplayText='i'/>"
       u"<ut Type='end' DisplayText='i'/><ut Type='end' DisplayText='b'/>"
       u"<ut Type='start' DisplayText='b'/><ut Type='end' DisplayText='u'/>",
       "b/B o101|/ -0|i/I o102|i/I c102|b/B c101|b/B O103|u/U C104"},
      // Type and DisplayText are found by exact name; Type compares exactly, and a start tag whose
      // Type says nothing becomes standalone.
      {u"<ut Type='start'/><ut Type='end' displaytext='x'/><ut Type='Start'><ut Type='END'/>"
       u"<ut Type=''/><ut type='start'/><ut Type='end' Type='start'/>",
       "ut/UT o102|ut/UT c102|ut/UT -0|ut/UT -0|ut/UT -0|ut/UT -0|ut/UT C103"},
      // Style external makes a block; elements named otherwise than ut are not touched; upper
      // case maps only ASCII letters.
      {u"<ut Style='external'/><ut Style='External'/><ut style='external'/><Ut Type='start'/>"
       u"<UT Type='start' DisplayText='b' Style='external'/><ut DisplayText='\u00F1and\u00FA-x1'/>",
       "ut/UT -0B|ut/UT -0|ut/UT -0|Ut/UT -0|UT/UT -0|"
       "\\u00F1and\\u00FA-x1/\\u00F1AND\\u00FA-X1 -0"},
      // The second pairing renumbers the pairs of the first.
      {u"<Raw><df><ut Type='start' DisplayText='b'/></df><ut Type='end' DisplayText='b'/></Raw>",
       "Raw/RAW o103|df/DF o104|b/B o105|df/DF c104|b/B c105|Raw/RAW c103"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Printable(c.document));
    auto list = test::ReadPaired(c.document);
    CTTXStackProcessor().ResolveUtTags(*list);
    std::ostringstream resolved;
    for (const IElementX* e : *list) {
      resolved << (resolved.tellp() > 0 ? "|" : "") << Printable(e->GetName()) << '/'
               << Printable(e->GetUpperName()) << ' ' << TypeLetter(e->GetTagType(), "-")
               << e->GetPairId() << (e->GetRuleType() == kRuleBlock ? "B" : "");
    }
    EXPECT_EQ(resolved.str(), c.resolved);
  }
}

}  // namespace
}  // namespace tagvert
