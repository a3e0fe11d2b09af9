// Tagvert: tests of rule application (CRulesProcessor) with the built-in and hand-written rules.
// SPDX-License-Identifier: Apache-2.0
#include "rules/rules_processor.h"

#include <gtest/gtest.h>

#include <string>

#include "rules/rules_test_support.h"
#include "rules/ttx_rules_processor.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::CListBuilder;
using test::LoadBuiltinRules;
using test::LoadRulesText;

struct CFields {
  int ruleType;
  int algorithm;
  int whitespace;
};

void ExpectFields(IElementX& element, CFields expected) {
  EXPECT_EQ(element.GetRuleType(), expected.ruleType) << "RuleType";
  EXPECT_EQ(element.GetAlgorithm(), expected.algorithm) << "Algorithm";
  EXPECT_EQ(element.GetWhitespace(), expected.whitespace) << "Whitespace";
}

constexpr CFields kBlockTranslatePreserve{kRuleBlock, kAlgorithmTranslate, kWhitespacePreserve};
constexpr CFields kBlockTranslateNormalize{kRuleBlock, kAlgorithmTranslate, kWhitespaceNormalize};
constexpr CFields kBlockSkipPreserve{kRuleBlock, kAlgorithmSkip, kWhitespacePreserve};
constexpr CFields kInlineTranslatePreserve{kRuleInline, kAlgorithmTranslate, kWhitespacePreserve};
constexpr CFields kInlineTranslateNormalize{kRuleInline, kAlgorithmTranslate, kWhitespaceNormalize};
constexpr CFields kInlineSkipPreserve{kRuleInline, kAlgorithmSkip, kWhitespacePreserve};

// The built-in rules with the Tuv placeholder set to DE-DE, as a TTX conversion to German does.
class CBuiltinRulesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadBuiltinRules(m_rules));
    CTTXRulesProcessor ttx;
    CElementsStackX none;
    ttx.Init(none, 0x00040000);
    ttx.ApplyTargetLanguage(m_rules);
  }
  void Classify(CElementsStackX& list) {
    CRulesProcessor processor;
    processor.Process(list, &m_rules);
  }
  CRules m_rules;
};

TEST_F(CBuiltinRulesTest, FrontMatterIsSkippedWithEverythingInside) {
  CListBuilder b;
  const auto decl = b.Single(u"?xml", {{u"version", u"1.0"}});
  const auto root = b.Open(u"TRADOStag");
  const auto front = b.Open(u"FrontMatter");
  const auto tool = b.Open(u"ToolSettings", {{u"CreationTool", u"x"}});
  const auto toolText = b.Text(u"  t  ");
  const auto toolEnd = b.Close(u"ToolSettings");
  const auto user = b.Open(u"UserSettings", {{u"SourceLanguage", u"EN-US"}});
  const auto userEnd = b.Close(u"UserSettings");
  const auto frontEnd = b.Close(u"FrontMatter");
  const auto rootEnd = b.Close(u"TRADOStag");
  Classify(b.Paired());

  ExpectFields(b[decl], kBlockTranslatePreserve);
  ExpectFields(b[root], kBlockTranslatePreserve);
  ExpectFields(b[rootEnd], kBlockTranslatePreserve);
  ExpectFields(b[front], kBlockSkipPreserve);
  ExpectFields(b[frontEnd], kBlockSkipPreserve);
  for (auto i : {tool, toolText, toolEnd, user, userEnd}) {
    SCOPED_TRACE(i);
    ExpectFields(b[i], kInlineTranslatePreserve);
  }
}

TEST_F(CBuiltinRulesTest, TranslationUnitsFollowMatchPercent) {
  struct CCase {
    const char16_t* name;
    const char16_t* matchPercent;  // null: no attribute
    CFields expected;
  };
  const CCase cases[] = {
      {u"Tu", u"0", kBlockTranslateNormalize},   {u"Tu", u"100", kBlockSkipPreserve},
      {u"Tu", nullptr, kBlockTranslatePreserve}, {u"Tu", u"", kBlockSkipPreserve},
      {u"TU", u"0", kBlockTranslateNormalize},   {u"tu", u"99", kBlockSkipPreserve},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(test::Printable(c.name) + " " +
                 (c.matchPercent ? test::Printable(c.matchPercent) : "absent"));
    CListBuilder b;
    const auto tu = c.matchPercent ? b.Open(c.name, {{u"MatchPercent", c.matchPercent}})
                                   : b.Open(c.name, {{u"Origin", u"manual"}});
    const auto end = b.Close(c.name);
    Classify(b.Paired());
    ExpectFields(b[tu], c.expected);
    ExpectFields(b[end], c.expected);
  }
}

TEST_F(CBuiltinRulesTest, OnlyTheTargetLanguageTuvIsTranslated) {
  CListBuilder b;
  b.Open(u"Body");
  const auto raw = b.Open(u"Raw");
  const auto tu = b.Open(u"Tu", {{u"MatchPercent", u"0"}});
  const auto source = b.Open(u"Tuv", {{u"Lang", u"EN-US"}});
  const auto sourceText = b.Text(u"Hello  world");
  const auto sourceDf = b.Open(u"df", {{u"Size", u"2"}});
  const auto sourceEnd = b.Close(u"Tuv");
  const auto target = b.Open(u"Tuv", {{u"Lang", u"DE-DE"}});
  const auto targetText = b.Text(u"Hallo  Welt");
  const auto lowerCase = b.Open(u"Tuv", {{u"Lang", u"de-de"}});
  const auto lowerText = b.Text(u"x");
  b.Close(u"Tuv");
  const auto targetEnd = b.Close(u"Tuv");
  b.Close(u"Tu");
  b.Close(u"Raw");
  b.Close(u"Body");
  // sourceDf is never closed: it stays an unpaired start tag inside the source Tuv.
  Classify(b.Paired());

  ExpectFields(b[raw], kBlockTranslateNormalize);
  ExpectFields(b[tu], kBlockTranslateNormalize);
  ExpectFields(b[source], kBlockSkipPreserve);
  ExpectFields(b[sourceEnd], kBlockSkipPreserve);
  ExpectFields(b[target], kBlockTranslateNormalize);
  ExpectFields(b[targetEnd], kBlockTranslateNormalize);
  // Raw normalizes every text run inside it; the skipped Tuv flattens its content.
  ExpectFields(b[sourceText], kInlineTranslateNormalize);
  ExpectFields(b[sourceDf], kInlineTranslateNormalize);
  ExpectFields(b[targetText], kInlineTranslateNormalize);
  ExpectFields(b[lowerCase], kBlockSkipPreserve);
  ExpectFields(b[lowerText], kInlineTranslateNormalize);
}

TEST_F(CBuiltinRulesTest, PairedUtIsInlineSkippedAndFlattensItsContent) {
  CListBuilder b;
  const auto df = b.Open(u"df");
  const auto ut = b.Open(u"ut", {{u"Type", u"start"}});
  const auto inner = b.Open(u"Tu", {{u"MatchPercent", u"0"}});
  const auto innerText = b.Text(u"x");
  const auto innerEnd = b.Close(u"Tu");
  const auto utEnd = b.Close(u"ut");
  const auto single = b.Single(u"ut");
  const auto dfEnd = b.Close(u"df");
  Classify(b.Paired());
  ExpectFields(b[df], kInlineTranslateNormalize);
  ExpectFields(b[dfEnd], kInlineTranslateNormalize);
  ExpectFields(b[ut], kInlineSkipPreserve);
  ExpectFields(b[utEnd], kInlineSkipPreserve);
  // Inside ut the Tu keeps its normalize mode but is flattened to inline translate.
  ExpectFields(b[inner], kInlineTranslateNormalize);
  ExpectFields(b[innerEnd], kInlineTranslateNormalize);
  ExpectFields(b[innerText], kInlineTranslateNormalize);
  ExpectFields(b[single], kInlineTranslatePreserve);
}

TEST_F(CBuiltinRulesTest, ElementsNoRuleMatchesKeepTheDefaults) {
  CListBuilder b;
  const auto text = b.Text(u"  loose  text ");
  const auto other = b.Open(u"Unknown");
  const auto otherEnd = b.Close(u"Unknown");
  const auto stray = b.Close(u"Stray");
  Classify(b.Paired());
  for (auto i : {text, other, otherEnd, stray}) {
    SCOPED_TRACE(i);
    ExpectFields(b[i], kInlineTranslatePreserve);
  }
}

TEST(CRulesProcessorTest, UnpairedSkipBecomesTranslateButRemoveStays) {
  CRules rules;
  ASSERT_TRUE(
      LoadRulesText(rules,
                    "<Orvel-TransML><Rules>"
                    "<Rule Name=\"s\" Algorithm=\"Skip\"/><Rule Name=\"r\" Algorithm=\"Remove\"/>"
                    "<Rule Name=\"v\" Algorithm=\"Reserve\"/></Rules></Orvel-TransML>"));
  CListBuilder b;
  const auto sClose = b.Close(u"s");
  const auto s = b.Open(u"s");
  const auto sSingle = b.Single(u"s");
  const auto r = b.Open(u"r");
  const auto rSingle = b.Single(u"r");
  const auto v = b.Single(u"v");
  CRulesProcessor processor;
  processor.Process(b.Paired(), &rules);
  EXPECT_EQ(b[s].GetTagType(), kTagOpen);
  EXPECT_EQ(b[sClose].GetTagType(), kTagClose);
  EXPECT_EQ(b[s].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(b[sSingle].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(b[sClose].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(b[r].GetAlgorithm(), kAlgorithmRemove);
  EXPECT_EQ(b[rSingle].GetAlgorithm(), kAlgorithmRemove);
  EXPECT_EQ(b[v].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(b[r].GetRuleType(), kRuleBlock);
}

TEST(CRulesProcessorTest, RuleValuesAreMappedOntoTheElement) {
  CRules rules;
  ASSERT_TRUE(
      LoadRulesText(rules,
                    "<Orvel-TransML><Rules>"
                    "<Rule Name=\"p\" Type=\"Property\" Algorithm=\"Leave\"/>"
                    "<Rule Name=\"n\" Type=\"Inline\" Whitespace=\"Remove\"/>"
                    "<Rule Name=\"q\" Algorithm=\"Reserve\" Whitespace=\"NormalizeSignificant\"/>"
                    "</Rules></Orvel-TransML>"));
  CRulesProcessor processor;
  processor.Process(test::CListBuilder().Paired(), &rules);
  const auto& named = rules.GetNamedRules();

  CElementX p;
  p.SetWhitespace(kWhitespaceNormalize);
  ASSERT_TRUE(processor.ApplyRule(*named[0], p));
  ExpectFields(p, {kRuleInline, kAlgorithmSkip, kWhitespaceNormalize});

  CElementX n;
  n.SetAlgorithm(kAlgorithmRemove);
  n.SetRuleType(kRuleBlock);
  ASSERT_TRUE(processor.ApplyRule(*named[1], n));
  ExpectFields(n, {kRuleInline, kAlgorithmTranslate, kWhitespaceRemove});

  CElementX q;
  ASSERT_TRUE(processor.ApplyRule(*named[2], q));
  ExpectFields(q, {kRuleBlock, kAlgorithmReserve, kWhitespaceNormalizeSignificant});
}

TEST(CRulesProcessorTest, ReserveAndRemoveSpreadOverTheirContent) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(
      rules,
      "<Orvel-TransML><Rules>"
      "<Rule Name=\"keep\" Algorithm=\"Reserve\" Whitespace=\"Remove\"/>"
      "<Rule Name=\"drop\" Algorithm=\"Remove\"/>"
      "<Rule Name=\"b\" Type=\"Block\" Algorithm=\"Remove\" Whitespace=\"Normalize\"/>"
      "</Rules></Orvel-TransML>"));
  CListBuilder b;
  const auto keep = b.Open(u"keep");
  const auto keepInner = b.Open(u"b");
  const auto keepText = b.Text(u"x");
  b.Close(u"b");
  const auto keepEnd = b.Close(u"keep");
  const auto drop = b.Open(u"drop");
  const auto dropInner = b.Open(u"other");
  const auto dropText = b.Text(u"y");
  b.Close(u"other");
  const auto dropEnd = b.Close(u"drop");
  CRulesProcessor processor;
  processor.Process(b.Paired(), &rules);

  ExpectFields(b[keep], {kRuleBlock, kAlgorithmReserve, kWhitespaceRemove});
  ExpectFields(b[keepEnd], {kRuleBlock, kAlgorithmReserve, kWhitespaceRemove});
  ExpectFields(b[keepInner], {kRuleInline, kAlgorithmTranslate, kWhitespaceNormalize});
  ExpectFields(b[keepText], {kRuleInline, kAlgorithmTranslate, kWhitespaceRemove});
  ExpectFields(b[drop], {kRuleBlock, kAlgorithmRemove, kWhitespacePreserve});
  ExpectFields(b[dropEnd], {kRuleBlock, kAlgorithmRemove, kWhitespacePreserve});
  ExpectFields(b[dropInner], {kRuleInline, kAlgorithmRemove, kWhitespacePreserve});
  ExpectFields(b[dropText], {kRuleInline, kAlgorithmRemove, kWhitespacePreserve});
}

TEST(CRulesProcessorTest, NestedRangesDoNotStartTheirOwn) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(rules,
                            "<Orvel-TransML><Rules>"
                            "<Rule Name=\"outer\" Whitespace=\"Normalize\"/>"
                            "<Rule Name=\"inner\" Algorithm=\"Skip\" Whitespace=\"Remove\"/>"
                            "<Rule Name=\"keep\" Whitespace=\"Preserve\"/>"
                            "</Rules></Orvel-TransML>"));
  CListBuilder b;
  b.Open(u"outer");
  const auto inner = b.Open(u"inner");
  const auto innerText = b.Text(u"a");
  b.Close(u"inner");
  b.Close(u"outer");
  const auto keep = b.Open(u"keep");
  const auto keepText = b.Text(u"b");
  b.Close(u"keep");
  const auto after = b.Text(u"c");
  CRulesProcessor processor;
  processor.Process(b.Paired(), &rules);
  // The inner range lies inside outer's, so its Remove mode reaches no text run.
  EXPECT_EQ(b[innerText].GetWhitespace(), kWhitespaceNormalize);
  EXPECT_EQ(b[inner].GetWhitespace(), kWhitespaceRemove);
  EXPECT_EQ(b[innerText].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(b[keep].GetWhitespace(), kWhitespacePreserve);
  EXPECT_EQ(b[keepText].GetWhitespace(), kWhitespacePreserve);
  EXPECT_EQ(b[after].GetWhitespace(), kWhitespacePreserve);
}

TEST(CRulesProcessorTest, NamelessRulesApplyToEveryElementAndNamedOnesOverride) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(rules,
                            "<Orvel-TransML><Rules>"
                            "<Rule Type=\"Block\"/>"
                            "<Rule Type=\"Inline\" Algorithm=\"Reserve\" Whitespace=\"Remove\">"
                            "<Attribute-Condition Name=\"mark\" Condition=\"Exist\"/></Rule>"
                            "<Rule Name=\"em\" Type=\"Inline\"/>"
                            "</Rules></Orvel-TransML>"));
  CListBuilder b;
  const auto p = b.Open(u"p");
  const auto text = b.Text(u"t");
  const auto em = b.Open(u"em");
  b.Close(u"em");
  const auto marked = b.Open(u"span", {{u"mark", u""}});
  b.Close(u"span");
  b.Close(u"p");
  CRulesProcessor processor;
  processor.Process(b.Paired(), &rules);
  ExpectFields(b[p], kBlockTranslatePreserve);
  ExpectFields(b[text], kBlockTranslatePreserve);
  ExpectFields(b[em], kInlineTranslatePreserve);
  ExpectFields(b[marked], {kRuleInline, kAlgorithmReserve, kWhitespaceRemove});
}

TEST(CRulesProcessorTest, RuleNamesMatchWithoutCaseUnlessCaseSensitive) {
  CRules rules;
  ASSERT_TRUE(
      LoadRulesText(rules,
                    "<Orvel-TransML><Rules>"
                    "<Rule Name=\"code\" NameCaseSensitive Type=\"Inline\" Algorithm=\"Remove\"/>"
                    "<Rule Name=\"Para\"/>"
                    "</Rules></Orvel-TransML>"));
  CRulesProcessor processor;
  processor.Process(test::CListBuilder().Paired(), &rules);
  struct CCase {
    const char16_t* name;
    int algorithm;
    int ruleType;
  };
  // The case-sensitive rule's name was upper-cased by the loader, so only CODE matches it.
  const CCase cases[] = {
      {u"CODE", kAlgorithmRemove, kRuleInline},   {u"code", kAlgorithmTranslate, kRuleInline},
      {u"PARA", kAlgorithmTranslate, kRuleBlock}, {u"pArA", kAlgorithmTranslate, kRuleBlock},
      {u"Par", kAlgorithmTranslate, kRuleInline},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(test::Printable(c.name));
    CElementX element;
    element.SetName(c.name);
    element.SetUpperName(u"IGNORED");
    processor.ApplyRules(element);
    EXPECT_EQ(element.GetAlgorithm(), c.algorithm);
    EXPECT_EQ(element.GetRuleType(), c.ruleType);
  }
}

TEST(CRulesProcessorTest, FirstNamedRuleWhoseConditionsHoldWins) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(rules,
                            "<Orvel-TransML><Rules>"
                            "<Rule Name=\"x\" Algorithm=\"Remove\">"
                            "<Attribute-Condition Name=\"a\" Condition=\"Equal\" Value=\"1\"/>"
                            "<Attribute-Condition Name=\"b\" Condition=\"Exist\"/></Rule>"
                            "<Rule Name=\"x\" Algorithm=\"Reserve\"/>"
                            "<Rule Name=\"x\" Algorithm=\"Skip\"/>"
                            "</Rules></Orvel-TransML>"));
  CRulesProcessor processor;
  processor.Process(test::CListBuilder().Paired(), &rules);
  CElementX both;
  both.SetName(u"x");
  both.AddAttribute(u"a", u"1", 2);
  both.AddAttribute(u"b", u"", 2);
  processor.ApplyRules(both);
  EXPECT_EQ(both.GetAlgorithm(), kAlgorithmRemove);

  CElementX one;
  one.SetName(u"x");
  one.AddAttribute(u"a", u"1", 2);
  EXPECT_FALSE(processor.ApplyRule(*rules.GetNamedRules()[0], one));
  EXPECT_EQ(one.GetAlgorithm(), kAlgorithmTranslate);
  processor.ApplyRules(one);
  EXPECT_EQ(one.GetAlgorithm(), kAlgorithmReserve);
}

TEST(CRulesProcessorTest, ConditionsCompareAttributeValues) {
  CElementX element;
  element.AddAttribute(u"Class", u"note big", 2);
  element.AddAttribute(u"class", u"second", 2);
  element.AddAttribute(u"empty", u"", 2);
  struct CCase {
    const char16_t* name;
    bool nameCaseSensitive;
    int condition;
    const char16_t* value;
    bool expected;
  };
  const CCase cases[] = {
      {u"class", false, kConditionEqual, u"note big", true},
      {u"class", true, kConditionEqual, u"second", true},
      {u"CLASS", false, kConditionEqual, u"NOTE BIG", false},
      {u"class", false, kConditionNotEqual, u"second", true},
      {u"missing", false, kConditionEqual, u"", true},
      {u"missing", false, kConditionNotEqual, u"", false},
      {u"missing", false, kConditionExist, u"", false},
      {u"empty", false, kConditionExist, u"", true},
      {u"missing", false, kConditionNotExist, u"x", true},
      {u"empty", false, kConditionNotExist, u"", false},
      {u"class", false, kConditionContain, u"big", true},
      {u"class", false, kConditionContain, u"Big", false},
      {u"class", false, kConditionContain, u"", true},
      {u"missing", false, kConditionContain, u"", true},
      {u"class", false, kConditionNotContain, u"small", true},
      {u"class", false, kConditionNotContain, u"note", false},
      {u"missing", false, kConditionNone, u"x", true},
      {u"class", false, 99, u"x", true},
  };
  CRulesProcessor processor;
  for (const CCase& c : cases) {
    SCOPED_TRACE(test::Printable(c.name) + " " + std::to_string(c.condition) + " " +
                 test::Printable(c.value));
    CAttributeCondition condition;
    condition.m_name = c.name;
    condition.m_nameCaseSensitive = c.nameCaseSensitive;
    condition.m_condition = c.condition;
    condition.m_value = c.value;
    EXPECT_EQ(processor.CheckCondition(condition, element), c.expected);
  }
}

TEST(CRulesProcessorTest, EqualWithEmptyValueHoldsForAMissingAttribute) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(rules,
                            "<Orvel-TransML><Rules><Rule Name=\"p\" Algorithm=\"Skip\">"
                            "<Attribute-Condition Name=\"class\" Condition=\"Equal\" Value=\"\"/>"
                            "</Rule></Rules></Orvel-TransML>"));
  CListBuilder b;
  const auto bare = b.Open(u"p");
  b.Close(u"p");
  const auto classed = b.Open(u"p", {{u"class", u"x"}});
  b.Close(u"p");
  CRulesProcessor processor;
  processor.Process(b.Paired(), &rules);
  EXPECT_EQ(b[bare].GetAlgorithm(), kAlgorithmSkip);
  EXPECT_EQ(b[classed].GetAlgorithm(), kAlgorithmTranslate);
}

TEST(CRulesProcessorTest, NamesMatchFoldsOnlyAsciiLetters) {
  EXPECT_TRUE(CRulesProcessor::NamesMatch(u"Tuv", u"TUV", false));
  EXPECT_FALSE(CRulesProcessor::NamesMatch(u"Tuv", u"TUV", true));
  EXPECT_TRUE(CRulesProcessor::NamesMatch(u"Tuv", u"Tuv", true));
  EXPECT_FALSE(CRulesProcessor::NamesMatch(u"\u00E9", u"\u00C9", false));
  EXPECT_FALSE(CRulesProcessor::NamesMatch(u"Tu", u"Tuv", false));
  EXPECT_TRUE(CRulesProcessor::NamesMatch(u"", u"", false));
}

TEST(CRulesProcessorTest, WithoutRulesOnlyTheUnpairedAlgorithmIsReset) {
  CListBuilder b;
  const auto open = b.Open(u"a");
  b.Text(u"x");
  b.Close(u"a");
  const auto single = b.Single(u"s");
  b[single].SetAlgorithm(kAlgorithmSkip);
  b[open].SetAlgorithm(kAlgorithmSkip);
  CRulesProcessor processor;
  processor.Process(b.Paired(), nullptr);
  EXPECT_EQ(b[single].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(b[open].GetAlgorithm(), kAlgorithmSkip);
  EXPECT_EQ(b[open + 1].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(b[open + 2].GetAlgorithm(), kAlgorithmSkip);
}

// Builds a list by hand, without pairing it: tags named x with the given types and pair ids,
// and a text run for every TagSingle entry.
void AddWithIds(CListBuilder& b, std::initializer_list<std::pair<int, int>> typeAndId) {
  for (const auto& [type, id] : typeAndId) {
    const auto i = type == kTagSingle ? b.Text(u"t") : b.Single(u"x");
    b[i].SetTagType(type);
    b[i].SetPairId(id);
  }
}

TEST(CRulesProcessorTest, PartnerIsTheFirstLaterElementWithTheSameId) {
  // Ids repeat as after the counter wrapped: each start tag finds the nearest later 7.
  CListBuilder b;
  AddWithIds(b, {{kTagPairedOpen, 7},
                 {kTagPairedOpen, 8},
                 {kTagPairedClose, 7},
                 {kTagSingle, 0},
                 {kTagPairedClose, 8},
                 {kTagPairedOpen, 7},
                 {kTagSingle, 0},
                 {kTagPairedClose, 7},
                 {kTagPairedOpen, 9}});
  const auto next = CRulesProcessor::NextWithSamePairId(b.List());
  const std::vector<std::size_t> expected = {2, 4, 5, 6, 9, 7, 9, 9, 9};
  EXPECT_EQ(next, expected);
}

TEST(CRulesProcessorTest, EndTagTakesValuesOfTheNearestStartWithItsId) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(rules,
                            "<Orvel-TransML><Rules><Rule Name=\"x\" Algorithm=\"Skip\" "
                            "Whitespace=\"Remove\"/></Rules></Orvel-TransML>"));
  // An outer start tag whose id a later, inner pair reuses: its range ends at the reused id.
  CListBuilder b;
  AddWithIds(b, {{kTagPairedOpen, 300},
                 {kTagSingle, 0},
                 {kTagPairedOpen, 300},
                 {kTagSingle, 0},
                 {kTagPairedClose, 300},
                 {kTagSingle, 0},
                 {kTagPairedClose, 300}});
  CRulesProcessor processor;
  processor.Process(b.List(), &rules);
  // The outer range is element 1 alone: the start tag at 2 is the outer one's end tag.
  EXPECT_EQ(b[1].GetWhitespace(), kWhitespaceRemove);
  EXPECT_EQ(b[2].GetWhitespace(), kWhitespaceRemove);
  EXPECT_EQ(b[2].GetAlgorithm(), kAlgorithmSkip);
  // The walks go on after element 2, so the text runs at 3 and 5 lie in no range.
  EXPECT_EQ(b[3].GetWhitespace(), kWhitespacePreserve);
  EXPECT_EQ(b[3].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(b[5].GetWhitespace(), kWhitespacePreserve);
}

}  // namespace
}  // namespace tagvert
