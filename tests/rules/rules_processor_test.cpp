// Tagvert: tests of rule application and of the TTX rules processor: language codes, and the
// built-in rules on documents cut by the markup reader.
// SPDX-License-Identifier: Apache-2.0
#include "support/rules_processor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "rules/builtin_rules.h"
#include "rules/transml_rules.h"
#include "rules/ttx_rules_processor.h"
#include "storage/memory_stream.h"
#include "support/elements_stack.h"
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
    out += e->GetRuleType() == RuleType::Block    ? 'B'
           : e->GetRuleType() == RuleType::Inline ? 'I'
                                                  : '?';
    out += "TSLXV?"[std::min(static_cast<int>(e->GetAlgorithm()), 5)];
    out += "PRN?G?"[std::min(static_cast<int>(e->GetWhitespace()), 5)];
  }
  return out;
}

bool LoadText(CRules& rules, std::string_view text) {
  return rules.LoadStream(std::make_shared<CMemoryStream>(text.data(), text.size()), false);
}

// The target language comes only from Direction.
TEST(CTTXRulesProcessorTest, BuiltinRulesClassifyTtxDocuments) {
  const struct {
    const char16_t* document;
    std::uint32_t direction;
    const char* classes;
  } cases[] = {
      {u"<?xml version='1.0'?><TRADOStag><FrontMatter><ToolSettings CreationTool='x'> t "
       u"</ToolSettings><UserSettings SourceLanguage='EN-US'></UserSettings></FrontMatter>"
       u"</TRADOStag>",
       0x00040000, "BTP BTP BSP ITP ITP ITP ITP ITP BSP BTP"},
      {u"<Tu MatchPercent='0'></Tu><Tu MatchPercent='100'></Tu><Tu></Tu>", 0x00040000,
       "BTN BTN BSP BSP BTP BTP"},
      {u"<Raw><Tu MatchPercent='0'><Tuv Lang='EN-US'>Hello  <df>x</Tuv><Tuv Lang='DE-DE'>"
       u"Hallo<Tuv Lang='de-de'>x</Tuv></Tuv></Tu></Raw>",
       0x00040001, "BTN BTN BSP ITN ITN ITN BSP BTN ITN BSP ITN BSP BTN BTN BTN"},
      {u"<df><ut Type='start'><Tu MatchPercent='0'>x</Tu></ut><ut/></df>", 0x00040000,
       "ITN ISP ITN ITN ITN ISP ITP ITN"},
  };
  CRules rules;
  ASSERT_TRUE(rules.LoadStream(OpenBuiltinRulesStream(), false));
  for (const auto& c : cases) {
    SCOPED_TRACE(test::Printable(c.document));
    auto list = test::ReadPaired(c.document);
    CTTXRulesProcessor processor;
    processor.InitDirection(c.direction);
    processor.ApplyTargetLanguage(rules);
    CRulesProcessor().Process(*list, &rules);
    EXPECT_EQ(Classes(*list), c.classes);
  }
}

TEST(CTTXRulesProcessorTest, TargetLanguageComesFromTheHighWordOfDirection) {
  const struct {
    std::uint16_t code;
    const char16_t* tag;
  } cases[] = {
      {0x0001, u"EN-US"}, {0x0080, u"UK-UA"},   {0x0400, u"ZH-TW"},   {0x0402, u"EN-GB"},
      {0x0408, u"TR-TR"}, {0x0003, u"UNK-UNK"}, {0x0409, u"UNK-UNK"},
  };
  for (const auto& c : cases) {
    CTTXRulesProcessor processor;  // the low word names the source language and does not count
    processor.InitDirection((static_cast<std::uint32_t>(c.code) << 16) | 0x0004);
    EXPECT_EQ(processor.GetTargetLanguage(), c.tag) << c.code;
  }
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
      {"<Rule Name='keep' Algorithm='Reserve' Whitespace='Remove'/><Rule Name='drop' "
       "Algorithm='Remove'/><Rule Name='b' Type='Block' Algorithm='Remove' "
       "Whitespace='Normalize'/>",
       u"<keep><b>x</b></keep><drop><other>y</other></drop>",
       "BVR ITN ITR ITN BVR BXP IXP IXP IXP BXP"},
      // Nameless rules apply to every element; named ones override them.
      {"<Rule Type='Block' Whitespace='Normalize'/><Rule Type='Inline' Algorithm='Reserve' "
       "Whitespace='Remove'><Attribute-Condition Name='mark' Condition='Exist'/></Rule>"
       "<Rule Name='em' Type='Inline'/>",
       u"<p>t<em></em><span mark=''></span></p>", "BTN BTN ITN ITN IVR IVR BTN"},
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
      {u"CLASS", 1, u"note big", true}, {u"class", 1, u"NOTE BIG", false},
      {u"missing", 2, u"", false},      {u"empty", 3, u"", true},
      {u"empty", 4, u"", false},        {u"class", 5, u"big", true},
      {u"class", 6, u"Big", true},      {u"class", 99, u"x", true},
  };
  CRulesProcessor processor;
  for (const auto& c : cases) {
    const CAttributeCondition condition{c.name, false, static_cast<ConditionKind>(c.condition),
                                        c.value};
    EXPECT_EQ(processor.CheckCondition(condition, element), c.holds)
        << test::Printable(c.name) << " " << c.condition << " " << test::Printable(c.value);
  }
  // A case-sensitive name finds the attribute written exactly so.
  EXPECT_TRUE(processor.CheckCondition({u"class", true, ConditionKind::Equal, u"second"}, element));
}

}  // namespace
}  // namespace tagvert
