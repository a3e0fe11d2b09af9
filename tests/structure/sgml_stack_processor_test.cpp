// Tagvert: tests of the block and inline structuring passes (CSgmlStackProcessor).
// SPDX-License-Identifier: Apache-2.0
#include "structure/sgml_stack_processor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <span>
#include <string>

#include "rules/rules_processor.h"
#include "rules/transml_rules.h"
#include "storage/hresult.h"
#include "structure/structure_test_support.h"
#include "structure/ttx_stack_processor.h"

namespace tagvert {
namespace {

using test::Printable;

// Per element, separated by "|": a text run as it is; markup as [source], then o/c for a paired
// start/end tag, O/C unpaired, {value} of formatX, B when block, ~n for Algorithm n other than 0.
std::string Describe(std::span<IElementX* const> list) {
  std::string out;
  for (const IElementX* e : list) {
    out += out.empty() ? "" : "|";
    if (e->GetIsTag() == 0) {
      out += Printable(e->GetSourceText());
    } else {
      out +=
          test::Cat("[", Printable(e->GetSourceText()), "]", test::TypeLetter(e->GetTagType(), ""));
      const int format = e->FindAttribute(kFormatAttributeName);
      if (format >= 0) out += test::Cat("{", Printable(e->GetAttributeValueAt(format)), "}");
    }
    if (e->GetRuleType() == kRuleBlock) out += "B";
    if (e->GetAlgorithm() != kAlgorithmTranslate)
      out += test::Cat("~", std::to_string(e->GetAlgorithm()));
  }
  return out;
}

// Element names s, r and v skip, remove and reserve; n, m and g normalize, remove and
// normalize-significant the whitespace of the text runs they enclose; p has no rule.
TEST(CSgmlStackProcessorTest, StructuresClassifiedDocuments) {
  const struct {
    const char16_t* document;
    const char* structured;
  } cases[] = {
      // A skipped block keeps its exact source; formatX holds its inside, normalized.
      {u"<p><s> Hello\r\n   world &amp; more</s>after</p>",
       "[<p>]o|[<s> Hello\\u000D\\u000A   world &amp; more</s>]{ Hello world &amp; "
       "more}B|after|[</p>]c"},
      {u"<s></s><s> \r\n </s>", "[<s></s>]B|[<s> \\u000D\\u000A </s>]{}B"},
      {u"<s><s>a</s>\n <p>b</p></s>x<s>1</s>",
       "[<s><s>a</s>\\u000A <p>b</p></s>]{<s>a</s> <p>b</p>}B|x|[<s>1</s>]{1}B"},
      {u"<r>a</r><v>b</v><p>c</p>",
       "[<r>]oB~3|a~3|[</r>]cB~3|[<v>]oB~4|b|[</v>]cB~4|[<p>]o|c|[</p>]c"},
      {u"<n>a\r\n  b\t</n><n> \n </n><m> \r\n\t</m><m>a\n\nb</m>",
       "[<n>]oB|a b "
       "|[</n>]cB|[<n>]oB||[</n>]cB|[<m>]oB||[</m>]cB|[<m>]oB|a\\u000A\\u000Ab|[</m>]cB"},
      {u"<g> \n </g><g>x\n\ny</g> a\r\n\t b ",
       "[<g>]oB| \\u000A |[</g>]cB|[<g>]oB|x y|[</g>]cB| a\\u000D\\u000A\\u0009 b "},
      // References are decoded after normalizing, in every mode.
      {u"<p> x &lt;\n y&amp;amp; </p><n>a&#10;\n b&amp;</n><m>&#x41;&foo;</m>",
       "[<p>]o| x <\\u000A y&amp; |[</p>]c|[<n>]oB|a\\u000A b&|[</n>]cB|[<m>]oB|A&foo;|[</m>]cB"},
      // Every no-break space becomes markup of its own, followed by a text that begins with a
      // space.
      {u"a\u00A0b<p title=\"\u00A0\"/>\u00A0lead<p/>end&nbsp;<p/>\u00A0\u00A0x y<r>c\u00A0</r>",
       "a|[\\u00A0]| b|[<p title=\"\\u00A0\"/>]|[\\u00A0]| lead|[<p/>]|end|[\\u00A0]| "
       "|[<p/>]|[\\u00A0]| "
       "|[\\u00A0]| x y|[<r>]oB~3|c|[\\u00A0]| |[</r>]cB~3"},
  };
  const std::string rules =
      "<Orvel-TransML><Rules><Rule Name=\"s\" Algorithm=\"Skip\"/><Rule Name=\"r\" "
      "Algorithm=\"Remove\"/>"
      "<Rule Name=\"v\" Algorithm=\"Reserve\"/><Rule Name=\"n\" Whitespace=\"Normalize\"/>"
      "<Rule Name=\"m\" Whitespace=\"Remove\"/><Rule Name=\"g\" "
      "Whitespace=\"NormalizeSignificant\"/>";
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
  auto list = test::ReadPaired(u"&amp;");
  EXPECT_THROW(CSgmlStackProcessor().DecodeTexts(*list), CHResultError);  // no text processor
}

TEST(CSgmlStackProcessorTest, LongListsTakeOneWalkPerPass) {
  constexpr int kBlocks = 200000;
  CElementsStackX list;
  list.reserve(4 * kBlocks);
  const auto add = [&](const char16_t* source, int isTag, int tagType, int id, int algorithm) {
    auto* e = new CElementX();
    e->SetSourceText(source);
    e->SetIsTag(isTag);
    e->SetTagType(tagType);
    e->SetPairId(id);
    e->SetAlgorithm(algorithm);
    list.Push(e);
    return e;
  };
  // Per round a skipped ut block and a normalized text run with a no-break space and a reference;
  // the pair ids are set as the pairing would set them.
  for (int i = 0; i < kBlocks; ++i) {
    const int id = 101 + i % 50000;
    CElementX* ut = add(u"<ut>", 1, kTagPairedOpen, id, kAlgorithmSkip);
    ut->SetName(u"ut");
    ut->AddAttribute(u"Type", i % 2 == 0 ? u"start" : u"end", 2);
    ut->AddAttribute(u"DisplayText", u"b", 2);
    add(u"&lt;b&gt;\n", 0, kTagSingle, 0, kAlgorithmTranslate);
    add(u"</ut>", 1, kTagPairedClose, id, kAlgorithmSkip);
    add(u"a\u00A0b &amp;\n  c", 0, kTagSingle, 0, kAlgorithmTranslate)
        ->SetWhitespace(kWhitespaceNormalize);
  }
  CTTXStackProcessor processor;
  processor.SetTextProcessor(new CTextProcessor(nullptr, 1));
  const auto start = std::chrono::steady_clock::now();
  processor.CollapseSkipped(list);
  processor.NormalizeTexts(list);
  processor.DecodeTexts(list);
  processor.SplitNonBreakingSpaces(list);
  processor.ResolveUtTags(list);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(list.size(), 4u * kBlocks);
  for (std::size_t first : {std::size_t{0}, list.size() - 8}) {
    EXPECT_EQ(Describe(std::span(list).subspan(first, 8)),
              "[<ut>&lt;b&gt;\\u000A</ut>]o{&lt;b&gt; }|a|[\\u00A0]| b & c|"
              "[<ut>&lt;b&gt;\\u000A</ut>]c{&lt;b&gt; }|a|[\\u00A0]| b & c");
  }
  // Shifting the list once per block or per run costs tens of seconds here even in an optimised
  // build; one walk per pass takes 0.3 s (3 s under the sanitizers).
  EXPECT_LT(seconds, 10.0);
}

}  // namespace
}  // namespace tagvert
