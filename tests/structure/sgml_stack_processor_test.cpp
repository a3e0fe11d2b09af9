// Tagvert: tests of the structuring passes (CSgmlStackProcessor) and of the TTX pass over ut
// placeholders (CTTXStackProcessor), on documents read by the markup reader.
// SPDX-License-Identifier: Apache-2.0
#include "support/sgml_stack_processor.h"

#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <sstream>
#include <string>

#include "rules/transml_rules.h"
#include "storage/memory_stream.h"
#include "support/read_document.h"
#include "support/rules_processor.h"
#include "support/ttx_stack_processor.h"

namespace tagvert {
namespace {

using test::Printable;

// o or c for a paired start or end tag, O or C for an unpaired one, - otherwise.
char TypeLetter(TagType t) {
  return "-ocCO"[(t == TagType::PairedOpen) + 2 * (t == TagType::PairedClose) +
                 3 * (t == TagType::Close) + 4 * (t == TagType::Open)];
}

// Per element, "|"-separated: text as is, markup as [source] and type; {formatX}, B, ~Algorithm.
std::string Describe(std::span<IElementX* const> list) {
  std::ostringstream out;
  for (const IElementX* e : list) {
    const bool tag = e->GetIsTag();
    out << (out.tellp() > 0 ? "|" : "") << (tag ? "[" : "") << Printable(e->GetSourceText());
    if (tag) out << ']' << TypeLetter(e->GetTagType());
    if (const int format = e->FindAttribute(kFormatAttributeName); format >= 0)
      out << '{' << Printable(e->GetAttributeValueAt(format)) << '}';
    out << (e->GetRuleType() == RuleType::Block ? "B" : "");
    if (e->GetAlgorithm() != Algorithm::Translate)
      out << '~' << static_cast<int>(e->GetAlgorithm());
  }
  return out.str();
}

void Structure(CElementsStackX& list) {
  CSgmlStackProcessor processor;
  processor.SetTextProcessor(new CTextProcessor(nullptr, EscapeMode::Markup));
  processor.CollapseSkipped(list);
  processor.NormalizeTexts(list);
  processor.DecodeTexts(list);
  processor.SplitNonBreakingSpaces(list);
}

// Element names s, r and v skip, remove and reserve; n, m and g normalize, remove and
// normalize-significant the whitespace of the text runs they enclose; p has no rule.
TEST(CSgmlStackProcessorTest, StructuresClassifiedDocuments) {
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"<s> Hello\r\n   world &amp; more</s>after<s></s><s> \r\n </s>",
       "[<s> Hello\\u000D\\u000A   world &amp; more</s>]-{ Hello world &amp; more}B|after|"
       "[<s></s>]-B|[<s> \\u000D\\u000A </s>]-{}B"},
      {u"<s><s>a</s>\n <p>b</p></s>x", "[<s><s>a</s>\\u000A <p>b</p></s>]-{<s>a</s> <p>b</p>}B|x"},
      {u"<r>a</r><v>b</v><p>c</p>",
       "[<r>]oB~3|a~3|[</r>]cB~3|[<v>]oB~4|b|[</v>]cB~4|[<p>]o|c|[</p>]c"},
      {u"<n>a&#10;\r\n  b&amp;amp;\t</n><n> \n </n><m>a\n\nb</m><g> \n </g><g>x\n\ny</g> a\n b",
       "[<n>]oB|a\\u000A b&amp; |[</n>]cB|[<n>]oB||[</n>]cB|[<m>]oB|a\\u000A\\u000Ab|[</m>]cB|"
       "[<g>]oB| \\u000A |[</g>]cB|[<g>]oB|x y|[</g>]cB| a\\u000A b"},
      {u"a\u00A0b<p t=\"\u00A0\"/>\u00A0lead<p/>end&nbsp;<p/>\u00A0\u00A0x",
       "a|[\\u00A0]-| b|[<p t=\"\\u00A0\"/>]-|[\\u00A0]-| lead|[<p/>]-|end|[\\u00A0]-| |[<p/>]-|"
       "[\\u00A0]-| |[\\u00A0]-| x"},
  };
  const std::string rules =
      "<Orvel-TransML><Rules><Rule Name='s' Algorithm='Skip'/><Rule Name='r' Algorithm='Remove'/>"
      "<Rule Name='v' Algorithm='Reserve'/><Rule Name='n' Whitespace='Normalize'/>"
      "<Rule Name='m' Whitespace='Remove'/><Rule Name='g' Whitespace='NormalizeSignificant'/>";
  CRules set;
  ASSERT_TRUE(set.LoadStream(std::make_shared<CMemoryStream>(rules.data(), rules.size()), false));
  for (const auto& [document, structured] : cases) {
    SCOPED_TRACE(Printable(document));
    auto list = test::ReadPaired(document);
    CRulesProcessor().Process(*list, &set);
    Structure(*list);
    EXPECT_EQ(Describe(*list), structured);
  }
}

// Per ut as skipped blocks leave it: Name/UpperName, type, pair id, B for block.
TEST(CTTXStackProcessorTest, UtItemsAreNamedTypedAndPairedByDisplayText) {
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"<ut Type='start' DisplayText='b'/>bold<ut Type='start' DisplayText='i'/>"
       u"<ut Type='end' DisplayText='i'/><ut Type='end' DisplayText='b'/>"
       u"<ut Type='start' DisplayText='b'/><ut Type='end' DisplayText='u'/>",
       "b/B o101|/ -0|i/I o102|i/I c102|b/B c101|b/B O103|u/U C104"},
      {u"<ut Type='start'/><ut Type='end' displaytext='x'/><ut Type='Start'><ut Type='END'/>"
       u"<ut Type=''/><ut type='start'/><ut Type='end' Type='start'/>",
       "ut/UT o102|ut/UT c102|ut/UT -0|ut/UT -0|ut/UT -0|ut/UT -0|ut/UT C103"},
      {u"<ut Style='external'/><ut Style='External'/><ut style='external'/><Ut Type='start'/>"
       u"<UT Type='start' DisplayText='b' Style='external'/><ut DisplayText='\u00F1a-x1'/>",
       "ut/UT -0B|ut/UT -0|ut/UT -0|Ut/UT -0|UT/UT -0|\\u00F1a-x1/\\u00F1A-X1 -0"},
      {u"<Raw><df><ut Type='start' DisplayText='b'/></df><ut Type='end' DisplayText='b'/></Raw>",
       "Raw/RAW o103|df/DF o104|b/B o105|df/DF c104|b/B c105|Raw/RAW c103"},
  };
  for (const auto& [document, expected] : cases) {
    SCOPED_TRACE(Printable(document));
    auto list = test::ReadPaired(document);
    CTTXStackProcessor().ResolveUtTags(*list);
    std::ostringstream resolved;
    for (const IElementX* e : *list)
      resolved << (resolved.tellp() > 0 ? "|" : "") << Printable(e->GetName()) << '/'
               << Printable(e->GetUpperName()) << ' ' << TypeLetter(e->GetTagType())
               << e->GetPairId() << (e->GetRuleType() == RuleType::Block ? "B" : "");
    EXPECT_EQ(resolved.str(), expected);
  }
}

}  // namespace
}  // namespace tagvert
