// Tagvert: tests of the TTX pass over ut placeholders (CTTXStackProcessor).
// SPDX-License-Identifier: Apache-2.0
#include "structure/ttx_stack_processor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "structure/structure_test_support.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::AttributeList;
using test::CStructureListBuilder;
using test::SourceTexts;

// A ut as CollapseSkipped leaves it: one inline markup element carrying the whole ut.
std::size_t AddCollapsedUt(CStructureListBuilder& b, const AttributeList& attributes,
                           const std::u16string& content = u"") {
  const auto index = b.Single(u"ut", attributes);
  if (!content.empty()) b[index].AddAttribute(u"formatX", content, 1);
  return index;
}

TEST(CTTXStackProcessorTest, StartAndEndUtWithOneDisplayTextBecomeAPair) {
  CStructureListBuilder b;
  AddCollapsedUt(b, {{u"Type", u"start"}, {u"DisplayText", u"b"}}, u"<b>");
  b.Text(u"bold");
  AddCollapsedUt(b, {{u"Type", u"end"}, {u"DisplayText", u"b"}}, u"</b>");
  b.Paired();
  const std::u16string startSource = b[0].GetSourceText();

  CTTXStackProcessor processor;
  processor.ResolveUtTags(b.List());

  EXPECT_EQ(b[0].GetName(), u"b");
  EXPECT_EQ(b[0].GetUpperName(), u"B");
  EXPECT_EQ(b[2].GetName(), u"b");
  EXPECT_EQ(b[0].GetTagType(), kTagPairedOpen);
  EXPECT_EQ(b[2].GetTagType(), kTagPairedClose);
  EXPECT_NE(b[0].GetPairId(), 0);
  EXPECT_EQ(b[0].GetPairId(), b[2].GetPairId());
  // Everything else of the ut stays.
  EXPECT_EQ(b[0].GetSourceText(), startSource);
  EXPECT_EQ(b[0].GetIsTag(), 1);
  EXPECT_EQ(b[0].GetRuleType(), kRuleInline);
  EXPECT_EQ(b[0].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(b[0].GetAttributeValue(u"formatX"), u"<b>");
  EXPECT_EQ(b[1].GetTagType(), kTagSingle);
  EXPECT_EQ(b[1].GetPairId(), 0);
}

TEST(CTTXStackProcessorTest, UtItemsOfDifferentNamesStayUnpaired) {
  CStructureListBuilder b;
  AddCollapsedUt(b, {{u"Type", u"start"}, {u"DisplayText", u"b"}});
  AddCollapsedUt(b, {{u"Type", u"end"}, {u"DisplayText", u"i"}});
  b.Paired();

  CTTXStackProcessor processor;
  processor.ResolveUtTags(b.List());

  EXPECT_EQ(b[0].GetTagType(), kTagOpen);
  EXPECT_EQ(b[1].GetTagType(), kTagClose);
  EXPECT_NE(b[0].GetPairId(), 0);
  EXPECT_NE(b[1].GetPairId(), 0);
  EXPECT_NE(b[0].GetPairId(), b[1].GetPairId());
}

TEST(CTTXStackProcessorTest, NestedUtPairsPairByNameAndDepth) {
  CStructureListBuilder b;
  AddCollapsedUt(b, {{u"Type", u"start"}, {u"DisplayText", u"b"}});
  AddCollapsedUt(b, {{u"Type", u"start"}, {u"DisplayText", u"b"}});
  AddCollapsedUt(b, {{u"Type", u"start"}, {u"DisplayText", u"i"}});
  AddCollapsedUt(b, {{u"Type", u"end"}, {u"DisplayText", u"i"}});
  AddCollapsedUt(b, {{u"Type", u"end"}, {u"DisplayText", u"b"}});
  AddCollapsedUt(b, {{u"Type", u"end"}, {u"DisplayText", u"b"}});
  b.Paired();

  CTTXStackProcessor processor;
  processor.ResolveUtTags(b.List());

  const std::vector<int> expectedTypes = {kTagPairedOpen,  kTagPairedOpen,  kTagPairedOpen,
                                          kTagPairedClose, kTagPairedClose, kTagPairedClose};
  for (std::size_t i = 0; i < expectedTypes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(b[i].GetTagType(), expectedTypes[i]);
  }
  EXPECT_EQ(b[0].GetPairId(), b[5].GetPairId());
  EXPECT_EQ(b[1].GetPairId(), b[4].GetPairId());
  EXPECT_EQ(b[2].GetPairId(), b[3].GetPairId());
  EXPECT_NE(b[0].GetPairId(), b[1].GetPairId());
  EXPECT_NE(b[1].GetPairId(), b[2].GetPairId());
}

TEST(CTTXStackProcessorTest, TypeValuesCompareExactly) {
  struct Case {
    const char* label;
    AttributeList attributes;
    int expected;
  };
  const Case cases[] = {
      {"start", {{u"Type", u"start"}}, kTagOpen},
      {"end", {{u"Type", u"end"}}, kTagClose},
      {"capital Start", {{u"Type", u"Start"}}, kTagSingle},
      {"END", {{u"Type", u"END"}}, kTagSingle},
      {"empty", {{u"Type", u""}}, kTagSingle},
      {"no Type", {{u"Style", u"x"}}, kTagSingle},
      {"type lower-case name", {{u"type", u"start"}}, kTagSingle},
      {"first Type wins", {{u"Type", u"end"}, {u"Type", u"start"}}, kTagClose},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CStructureListBuilder b;
    AddCollapsedUt(b, c.attributes);
    b.Paired();
    // Also a ut that arrives as a start tag is made standalone when its Type says nothing.
    b[0].SetTagType(kTagOpen);
    CTTXStackProcessor processor;
    processor.ResolveUtTags(b.List());
    EXPECT_EQ(b[0].GetTagType(), c.expected);
    EXPECT_EQ(b[0].GetPairId() != 0, c.expected != kTagSingle);
  }
}

TEST(CTTXStackProcessorTest, ExternalStyleMakesABlock) {
  struct Case {
    const char* label;
    AttributeList attributes;
    int expected;
  };
  const Case cases[] = {
      {"external", {{u"Style", u"external"}}, kRuleBlock},
      {"External", {{u"Style", u"External"}}, kRuleInline},
      {"internal", {{u"Style", u"internal"}}, kRuleInline},
      {"no Style", {{u"Type", u"start"}}, kRuleInline},
      {"style lower-case name", {{u"style", u"external"}}, kRuleInline},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CStructureListBuilder b;
    AddCollapsedUt(b, c.attributes);
    b.Paired();
    CTTXStackProcessor processor;
    processor.ResolveUtTags(b.List());
    EXPECT_EQ(b[0].GetRuleType(), c.expected);
  }
}

TEST(CTTXStackProcessorTest, OnlyElementsNamedExactlyUtAreTouched) {
  for (const char16_t* name : {u"UT", u"Ut", u"uts", u""}) {
    SCOPED_TRACE(test::Printable(name));
    CStructureListBuilder b;
    b.Single(name, {{u"Type", u"start"}, {u"DisplayText", u"b"}, {u"Style", u"external"}});
    b.Paired();
    const std::u16string upper = b[0].GetUpperName();
    CTTXStackProcessor processor;
    processor.ResolveUtTags(b.List());
    EXPECT_EQ(b[0].GetName(), name);
    EXPECT_EQ(b[0].GetUpperName(), upper);
    EXPECT_EQ(b[0].GetTagType(), kTagSingle);
    EXPECT_EQ(b[0].GetRuleType(), kRuleInline);
  }
}

TEST(CTTXStackProcessorTest, UpperNameMapsOnlyAsciiLetters) {
  CStructureListBuilder b;
  AddCollapsedUt(b, {{u"DisplayText", u"\u00f1and\u00fa-\u0436x1"}});
  b.Paired();
  CTTXStackProcessor processor;
  processor.ResolveUtTags(b.List());
  EXPECT_EQ(b[0].GetName(), u"\u00f1and\u00fa-\u0436x1");
  EXPECT_EQ(b[0].GetUpperName(), u"\u00f1AND\u00fa-\u0436X1");
}

TEST(CTTXStackProcessorTest, UtWithoutDisplayTextKeepsItsName) {
  CStructureListBuilder b;
  AddCollapsedUt(b, {{u"Type", u"start"}});
  AddCollapsedUt(b, {{u"Type", u"end"}, {u"displaytext", u"x"}});
  b.Paired();
  CTTXStackProcessor processor;
  processor.ResolveUtTags(b.List());
  // Both keep the name ut, so the two pair with each other.
  EXPECT_EQ(b[0].GetName(), u"ut");
  EXPECT_EQ(b[0].GetUpperName(), u"UT");
  EXPECT_EQ(b[1].GetName(), u"ut");
  EXPECT_EQ(b[0].GetTagType(), kTagPairedOpen);
  EXPECT_EQ(b[1].GetTagType(), kTagPairedClose);
}

TEST(CTTXStackProcessorTest, SecondPairingRenumbersOtherPairs) {
  CStructureListBuilder b;
  b.Open(u"Raw");
  b.Open(u"df");
  AddCollapsedUt(b, {{u"Type", u"start"}, {u"DisplayText", u"b"}});
  b.Close(u"df");
  AddCollapsedUt(b, {{u"Type", u"end"}, {u"DisplayText", u"b"}});
  b.Close(u"Raw");
  b.Paired();
  ASSERT_EQ(b[0].GetPairId(), 101);
  ASSERT_EQ(b[1].GetPairId(), 102);

  CTTXStackProcessor processor;
  processor.ResolveUtTags(b.List());

  const std::vector<int> expectedIds = {103, 104, 105, 104, 105, 103};
  const std::vector<int> expectedTypes = {kTagPairedOpen,  kTagPairedOpen,  kTagPairedOpen,
                                          kTagPairedClose, kTagPairedClose, kTagPairedClose};
  for (std::size_t i = 0; i < expectedIds.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(b[i].GetPairId(), expectedIds[i]);
    EXPECT_EQ(b[i].GetTagType(), expectedTypes[i]);
  }
  EXPECT_EQ(b[1].GetName(), u"df");
}

TEST(CTTXStackProcessorTest, WorkedTranslationUnitExample) {
  // Tu (MatchPercent 0), a Tuv in another language (skipped) and a Tuv in the target language.
  CStructureListBuilder b;
  const auto tu = b.Open(u"Tu", {{u"MatchPercent", u"0"}});
  const auto source = b.Open(u"Tuv", {{u"Lang", u"EN-US"}});
  b.Text(u"Hello");
  b.Close(u"Tuv");
  const auto target = b.Open(u"Tuv", {{u"Lang", u"DE-DE"}});
  b.Text(u"Hallo");
  b.Close(u"Tuv");
  b.Close(u"Tu");
  b.Paired();
  ASSERT_EQ(b[tu].GetPairId(), 101);
  ASSERT_EQ(b[source].GetPairId(), 102);
  ASSERT_EQ(b[target].GetPairId(), 103);
  b.ClassifyBlock(tu, kAlgorithmTranslate, kWhitespaceNormalize);
  b.ClassifyBlock(source, kAlgorithmSkip);
  b.ClassifyBlock(target, kAlgorithmTranslate);

  CTTXStackProcessor processor;
  processor.SetTextProcessor(new CTextProcessor(nullptr, 1));
  processor.CollapseSkipped(b.List());
  processor.NormalizeTexts(b.List());
  processor.DecodeTexts(b.List());
  processor.SplitNonBreakingSpaces(b.List());
  processor.ResolveUtTags(b.List());

  ASSERT_EQ(
      SourceTexts(b.List()),
      (std::vector<std::u16string>{u"<Tu MatchPercent=\"0\">", u"<Tuv Lang=\"EN-US\">Hello</Tuv>",
                                   u"<Tuv Lang=\"DE-DE\">", u"Hallo", u"</Tuv>", u"</Tu>"}));
  const std::vector<int> expectedIds = {104, 0, 105, 0, 105, 104};
  for (std::size_t i = 0; i < expectedIds.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(b[i].GetPairId(), expectedIds[i]);
  }
  EXPECT_EQ(b[1].GetTagType(), kTagSingle);
  EXPECT_EQ(b[1].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(b[1].GetRuleType(), kRuleBlock);
  EXPECT_EQ(b[1].GetAttributeValue(u"formatX"), u"Hello");
}

}  // namespace
}  // namespace tagvert
