// Tagvert: tests of rule application (CRulesProcessor) and of the TTX rules processor
// (CTTXRulesProcessor): language codes, target language, and the built-in rules on documents cut
// by the markup reader.
// SPDX-License-Identifier: Apache-2.0
#include "rules/rules_processor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "markup/elements_stack.h"
#include "markup/sgml_parser.h"
#include "rules/builtin_rules.h"
#include "rules/transml_rules.h"
#include "rules/ttx_rules_processor.h"
#include "storage/memory_stream.h"
#include "support/read_document.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

// Per element: B block or I inline; T translate, S skip, X remove or V reserve; whitespace P
// preserve, R remove, N normalize or G normalize-significant.
std::string Classes(const CElementsStackX& list) {
  std::string out;
  for (const IElementX* e : list) {
    out += out.empty() ? "" : " ";
    out += e->GetRuleType() == kRuleBlock ? 'B' : e->GetRuleType() == kRuleInline ? 'I' : '?';
    out += "TSLXV?"[std::min(e->GetAlgorithm(), 5)];
    out += "PRN?G?"[std::min(e->GetWhitespace(), 5)];
  }
  return out;
}

bool LoadText(CRules& rules, std::string_view text) {
  return rules.LoadStream(std::make_shared<CMemoryStream>(text.data(), text.size()), false);
}

// One rule set for all cases, so that each conversion must use its own target language. The
// source language comes from the first element named exactly UserSettings, by the attribute named
// exactly SourceLanguage; the target language only from Direction.
TEST(CTTXRulesProcessorTest, BuiltinRulesClassifyTtxDocuments) {
  const struct {
    const char16_t* document;
    std::uint32_t direction;
    const char16_t* source;
    const char* classes;
  } cases[] = {
      {u"<?xml version='1.0'?><TRADOStag><FrontMatter><ToolSettings CreationTool='x'> t "
       u"</ToolSettings><UserSettings SourceLanguage='EN-US'></UserSettings></FrontMatter>"
       u"</TRADOStag>",
       0x00040000, u"EN-US", "BTP BTP BSP ITP ITP ITP ITP ITP BSP BTP"},
      {u"<Tu MatchPercent='0'></Tu><Tu MatchPercent='100'></Tu><Tu></Tu>"
       u"<Tu MatchPercent=''></Tu><TU MatchPercent='0'></TU>",
       0x00040000, u"", "BTN BTN BSP BSP BTP BTP BSP BSP BTN BTN"},
      {u"<Raw><Tu MatchPercent='0'><Tuv Lang='EN-US'>Hello  <df>x</Tuv><Tuv Lang='DE-DE'>"
       u"Hallo<Tuv Lang='de-de'>x</Tuv></Tuv></Tu></Raw>",
       0x00040001, u"", "BTN BTN BSP ITN ITN ITN BSP BTN ITN BSP ITN BSP BTN BTN BTN"},
      {u"<Raw>Intro <Tu><Tuv Lang='EN-US'>One</Tuv></Tu></Raw>", 0, u"",
       "BTN ITN BTP BSP ITN BSP BTP BTN"},
      {u"<df><ut Type='start'><Tu MatchPercent='0'>x</Tu></ut><ut/></df>", 0x00040000, u"",
       "ITN ISP ITN ITN ITN ISP ITP ITN"},
      {u"  loose <Unknown></Unknown></Stray><FrontMatter>", 0x00040000, u"", "ITP ITP ITP ITP BTP"},
      {u"<usersettings SourceLanguage='XX'/><UserSettings sourcelanguage='YY' "
       u"SourceLanguage='JA-JP' TargetLanguage='FR-FR'/><UserSettings SourceLanguage='ZZ'/>"
       u"<Tu><Tuv Lang='FR-FR'></Tuv><Tuv Lang='DE-DE'></Tuv></Tu>",
       0x00040000, u"JA-JP", "BTP BTP BTP BTP BSP BSP BTN BTN BTP"},
  };
  CRules rules;
  ASSERT_TRUE(rules.LoadStream(OpenBuiltinRulesStream(), false));
  for (const auto& c : cases) {
    SCOPED_TRACE(test::Printable(c.document));
    auto list = test::ReadPaired(c.document);
    CTTXRulesProcessor processor;
    processor.Init(*list, c.direction);
    processor.ApplyTargetLanguage(rules);
    processor.Process(*list, &rules);
    EXPECT_EQ(Classes(*list), c.classes);
    EXPECT_EQ(processor.GetSourceLanguage(), c.source);
  }
}

TEST(CTTXRulesProcessorTest, TargetLanguageComesFromTheHighWordOfDirection) {
  const struct {
    std::uint16_t code;
    const char16_t* tag;
  } cases[] = {
      {0x0001, u"EN-US"},   {0x0002, u"RU-RU"},   {0x0004, u"DE-DE"},   {0x0008, u"FR-FR"},
      {0x0010, u"IT-IT"},   {0x0020, u"ES-ES"},   {0x0040, u"PT-PT"},   {0x0080, u"UK-UA"},
      {0x0100, u"LT-LT"},   {0x0200, u"ZH-CN"},   {0x0400, u"ZH-TW"},   {0x0401, u"EN-US"},
      {0x0402, u"EN-GB"},   {0x0403, u"LV-LV"},   {0x0404, u"PL-PL"},   {0x0405, u"KK-KZ"},
      {0x0406, u"JA-JP"},   {0x0407, u"NL-NL"},   {0x0408, u"TR-TR"},   {0x0000, u"UNK-UNK"},
      {0x0003, u"UNK-UNK"}, {0x0409, u"UNK-UNK"}, {0xFFFF, u"UNK-UNK"},
  };
  for (const auto& c : cases) {
    CElementsStackX list;  // the low word names the source language and does not count
    CTTXRulesProcessor processor;
    processor.Init(list, (static_cast<std::uint32_t>(c.code) << 16) | 0x0004);
    EXPECT_EQ(processor.GetTargetLanguage(), c.tag) << c.code;
    EXPECT_TRUE(processor.IsInitialized());
  }
}

// Only rules named Tuv (as NamesMatch compares) change, and only their first condition.
TEST(CTTXRulesProcessorTest, ApplyTargetLanguageSetsTheFirstConditionOfTuvRules) {
  CRules rules;
  ASSERT_TRUE(LoadText(
      rules,
      "<Orvel-TransML><Rules><Rule Name='TUV'><Attribute-Condition Name='Lang' Value='a'/>"
      "<Attribute-Condition Name='Other' Value='b'/></Rule><Rule Name='tuv'/>"
      "<Rule Name='Tuv' NameCaseSensitive><Attribute-Condition Name='Lang' Value='c'/></Rule>"
      "<Rule Name='Tu'><Attribute-Condition Name='Lang' Value='d'/></Rule></Rules>"));
  CElementsStackX none;
  CTTXRulesProcessor processor;
  processor.Init(none, 0x00080000);
  processor.ApplyTargetLanguage(rules);
  const auto& named = rules.GetNamedRules();
  EXPECT_EQ(named[0]->m_conditions[0]->m_value, u"FR-FR");
  EXPECT_EQ(named[0]->m_conditions[1]->m_value, u"b");
  EXPECT_TRUE(named[1]->m_conditions.empty());
  // The case-sensitive rule is named TUV after loading, which does not equal Tuv exactly.
  EXPECT_EQ(named[2]->m_conditions[0]->m_value, u"c");
  EXPECT_EQ(named[3]->m_conditions[0]->m_value, u"d");
}

TEST(CRulesProcessorTest, RulesApplyAndSpreadOverPairs) {
  const struct {
    const char* rules;
    const char16_t* document;
    const char* classes;
  } cases[] = {
      // Property is inline, leave is skip, no algorithm is translate, no whitespace keeps it.
      {"<Rule Name='p' Type='Property' Algorithm='Leave'/><Rule Name='n' Type='Inline' "
       "Whitespace='Remove'/><Rule Name='q' Algorithm='Reserve' "
       "Whitespace='NormalizeSignificant'/>",
       u"<p></p><n></n><q></q>", "ISP ISP ITR ITR BVG BVG"},
      // Skip and reserve stick only to paired start tags and their end tags; remove sticks.
      {"<Rule Name='s' Algorithm='Skip'/><Rule Name='r' Algorithm='Remove'/>"
       "<Rule Name='v' Algorithm='Reserve'/>",
       u"</s><s><s/><r><r/><v/>", "BTP BTP BTP BXP BXP BTP"},
      {"<Rule Name='keep' Algorithm='Reserve' Whitespace='Remove'/><Rule Name='drop' "
       "Algorithm='Remove'/><Rule Name='b' Type='Block' Algorithm='Remove' "
       "Whitespace='Normalize'/>",
       u"<keep><b>x</b></keep><drop><other>y</other></drop>",
       "BVR ITN ITR ITN BVR BXP IXP IXP IXP BXP"},
      // A range nested in another starts no range of its own; preserve spreads nothing.
      {"<Rule Name='outer' Whitespace='Normalize'/><Rule Name='inner' Algorithm='Skip' "
       "Whitespace='Remove'/><Rule Name='keep' Whitespace='Preserve'/>",
       u"<outer><inner>a</inner></outer><keep>b</keep>c", "BTN BSR ITN BSR BTN BTP ITP BTP ITP"},
      // Nameless rules apply to every element; named ones override them.
      {"<Rule Type='Block' Whitespace='Normalize'/><Rule Type='Inline' Algorithm='Reserve' "
       "Whitespace='Remove'><Attribute-Condition Name='mark' Condition='Exist'/></Rule>"
       "<Rule Name='em' Type='Inline'/>",
       u"<p>t<em></em><span mark=''></span></p>", "BTN BTN ITN ITN IVR IVR BTN"},
      // Rule names match without regard to case, unless case-sensitive (then upper-cased).
      {"<Rule Name='code' NameCaseSensitive Type='Inline' Algorithm='Remove'/>"
       "<Rule Name='Para'/>",
       u"<CODE/><code/><PARA/><pArA/><Par/>", "IXP ITP BTP BTP ITP"},
      // The first named rule whose conditions all hold wins.
      {"<Rule Name='x' Algorithm='Remove'><Attribute-Condition Name='a' Condition='Equal' "
       "Value='1'/><Attribute-Condition Name='b' Condition='Exist'/></Rule><Rule Name='x' "
       "Algorithm='Reserve' Whitespace='Remove'/><Rule Name='x' Algorithm='Skip'/>",
       u"<x a='1' b=''></x><x a='1'></x>", "BXP BXP BVR BVR"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rules);
    CRules rules;
    ASSERT_TRUE(LoadText(rules, std::string("<Orvel-TransML><Rules>").append(c.rules)));
    auto list = test::ReadPaired(c.document);
    CRulesProcessor().Process(*list, &rules);
    EXPECT_EQ(Classes(*list), c.classes);
  }
}

// Conditions 1 equal, 2 not equal, 3 exist, 4 not exist, 5 contain, 6 not contain; any other
// holds. A missing attribute has the empty value.
TEST(CRulesProcessorTest, ConditionsCompareAttributeValues) {
  CElementX element;
  element.AddAttribute(u"Class", u"note big", 2);
  element.AddAttribute(u"class", u"second", 2);
  element.AddAttribute(u"empty", u"", 2);
  const struct {
    const char16_t* name;
    int condition;
    const char16_t* value;
    bool holds;
  } cases[] = {
      {u"class", 1, u"note big", true}, {u"CLASS", 1, u"NOTE BIG", false},
      {u"missing", 1, u"", true},       {u"missing", 2, u"", false},
      {u"missing", 3, u"", false},      {u"empty", 3, u"", true},
      {u"missing", 4, u"x", true},      {u"empty", 4, u"", false},
      {u"class", 5, u"big", true},      {u"class", 5, u"Big", false},
      {u"missing", 5, u"", true},       {u"class", 6, u"big", false},
      {u"class", 6, u"small", true},    {u"class", 99, u"x", true},
  };
  CRulesProcessor processor;
  for (const auto& c : cases) {
    const CAttributeCondition condition{c.name, false, c.condition, c.value};
    EXPECT_EQ(processor.CheckCondition(condition, element), c.holds)
        << test::Printable(c.name) << " " << c.condition << " " << test::Printable(c.value);
  }
  // A case-sensitive name finds the attribute written exactly so.
  EXPECT_TRUE(processor.CheckCondition({u"class", true, kConditionEqual, u"second"}, element));
}

}  // namespace
}  // namespace tagvert
