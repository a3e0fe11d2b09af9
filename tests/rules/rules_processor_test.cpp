// Tagvert: tests of rule application (CRulesProcessor, and CTTXRulesProcessor with the built-in
// rules) on documents cut by the markup reader.
// SPDX-License-Identifier: Apache-2.0
#include "rules/rules_processor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "markup/elements_stack.h"
#include "markup/sgml_parser.h"
#include "rules/builtin_rules.h"
#include "rules/transml_rules.h"
#include "rules/ttx_rules_processor.h"
#include "storage/memory_stream.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

// The elements of `document` as the reader cuts them, paired.
std::unique_ptr<CElementsStackX> Read(std::u16string_view document) {
  CDataStorage storage(kModeUtf8, kModeNone);
  storage.Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(test::Utf8Bytes(document))),
               CEndpoint());
  COrvelSgmlParser parser(&storage, 0, 0, 0);
  auto list = std::make_unique<CElementsStackX>();
  for (auto e = std::make_unique<CElementX>(); parser.ReadElement(e.get());
       e = std::make_unique<CElementX>())
    list->Push(e.release());
  list->PairTags();
  return list;
}

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

// One rule set for all cases, so that each conversion must use its own target language.
TEST(CTTXRulesProcessorTest, BuiltinRulesClassifyTtxDocuments) {
  const struct {
    const char16_t* document;
    std::uint32_t direction;
    const char* classes;
  } cases[] = {
      {u"<?xml version=\"1.0\"?><TRADOStag><FrontMatter><ToolSettings CreationTool=\"x\"> t "
       u"</ToolSettings><UserSettings SourceLanguage=\"EN-US\"></UserSettings></FrontMatter>"
       u"</TRADOStag>",
       0x00040000, "BTP BTP BSP ITP ITP ITP ITP ITP BSP BTP"},
      {u"<Tu MatchPercent=\"0\"></Tu><Tu MatchPercent=\"100\"></Tu><Tu></Tu>"
       u"<Tu MatchPercent=\"\"></Tu><TU MatchPercent=\"0\"></TU><tu MatchPercent=\"99\"></tu>",
       0x00040000, "BTN BTN BSP BSP BTP BTP BSP BSP BTN BTN BSP BSP"},
      {u"<Raw><Tu MatchPercent=\"0\"><Tuv Lang=\"EN-US\">Hello  <df>x</Tuv><Tuv Lang=\"DE-DE\">"
       u"Hallo<Tuv Lang=\"de-de\">x</Tuv></Tuv></Tu></Raw>",
       0x00040001, "BTN BTN BSP ITN ITN ITN BSP BTN ITN BSP ITN BSP BTN BTN BTN"},
      {u"<Raw>Intro <Tu><Tuv Lang=\"EN-US\">One</Tuv></Tu></Raw>", 0,
       "BTN ITN BTP BSP ITN BSP BTP BTN"},
      {u"<Tu MatchPercent=\"0\"><Tuv Lang=\"EN-US\">a</Tuv><Tuv Lang=\"DE-DE\">b</Tuv></Tu>",
       0x04010004, "BTN BTN ITN BTN BSP ITN BSP BTN"},
      {u"<df><ut Type=\"start\"><Tu MatchPercent=\"0\">x</Tu></ut><ut/></df>", 0x00040000,
       "ITN ISP ITN ITN ITN ISP ITP ITN"},
      {u"  loose <Unknown></Unknown></Stray><FrontMatter>", 0x00040000, "ITP ITP ITP ITP BTP"},
      {u"<UserSettings TargetLanguage=\"FR-FR\"/><Tu><Tuv Lang=\"FR-FR\"></Tuv>"
       u"<Tuv Lang=\"DE-DE\"></Tuv></Tu>",
       0x00040000, "BTP BTP BSP BSP BTN BTN BTP"},
  };
  CRules rules;
  ASSERT_TRUE(rules.LoadStream(OpenBuiltinRulesStream(), false));
  for (const auto& c : cases) {
    SCOPED_TRACE(test::Printable(c.document));
    auto list = Read(c.document);
    CTTXRulesProcessor processor;
    processor.Init(*list, c.direction);
    processor.ApplyTargetLanguage(rules);
    processor.Process(*list, &rules);
    EXPECT_EQ(Classes(*list), c.classes);
  }
}

TEST(CRulesProcessorTest, RulesApplyAndSpreadOverPairs) {
  const struct {
    const char* rules;
    const char16_t* document;
    const char* classes;
  } cases[] = {
      // Property is inline, leave is skip, no algorithm is translate, no whitespace keeps it.
      {"<Rule Name=\"p\" Type=\"Property\" Algorithm=\"Leave\"/><Rule Name=\"n\" Type=\"Inline\" "
       "Whitespace=\"Remove\"/><Rule Name=\"q\" Algorithm=\"Reserve\" "
       "Whitespace=\"NormalizeSignificant\"/>",
       u"<p></p><n></n><q></q>", "ISP ISP ITR ITR BVG BVG"},
      // Skip and reserve stick only to paired start tags and their end tags; remove sticks.
      {"<Rule Name=\"s\" Algorithm=\"Skip\"/><Rule Name=\"r\" Algorithm=\"Remove\"/>"
       "<Rule Name=\"v\" Algorithm=\"Reserve\"/>",
       u"</s><s><s/><r><r/><v/>", "BTP BTP BTP BXP BXP BTP"},
      {"<Rule Name=\"keep\" Algorithm=\"Reserve\" Whitespace=\"Remove\"/><Rule Name=\"drop\" "
       "Algorithm=\"Remove\"/><Rule Name=\"b\" Type=\"Block\" Algorithm=\"Remove\" "
       "Whitespace=\"Normalize\"/>",
       u"<keep><b>x</b></keep><drop><other>y</other></drop>",
       "BVR ITN ITR ITN BVR BXP IXP IXP IXP BXP"},
      // A range nested in another starts no range of its own; preserve spreads nothing.
      {"<Rule Name=\"outer\" Whitespace=\"Normalize\"/><Rule Name=\"inner\" Algorithm=\"Skip\" "
       "Whitespace=\"Remove\"/><Rule Name=\"keep\" Whitespace=\"Preserve\"/>",
       u"<outer><inner>a</inner></outer><keep>b</keep>c", "BTN BSR ITN BSR BTN BTP ITP BTP ITP"},
      // Nameless rules apply to every element; named ones override them.
      {"<Rule Type=\"Block\" Whitespace=\"Normalize\"/><Rule Type=\"Inline\" Algorithm=\"Reserve\" "
       "Whitespace=\"Remove\"><Attribute-Condition Name=\"mark\" Condition=\"Exist\"/></Rule>"
       "<Rule Name=\"em\" Type=\"Inline\"/>",
       u"<p>t<em></em><span mark=\"\"></span></p>", "BTN BTN ITN ITN IVR IVR BTN"},
      // Rule names match without regard to case, unless case-sensitive (then upper-cased).
      {"<Rule Name=\"code\" NameCaseSensitive Type=\"Inline\" Algorithm=\"Remove\"/>"
       "<Rule Name=\"Para\"/>",
       u"<CODE/><code/><PARA/><pArA/><Par/>", "IXP ITP BTP BTP ITP"},
      // The first named rule whose conditions all hold wins.
      {"<Rule Name=\"x\" Algorithm=\"Remove\"><Attribute-Condition Name=\"a\" Condition=\"Equal\" "
       "Value=\"1\"/><Attribute-Condition Name=\"b\" Condition=\"Exist\"/></Rule><Rule Name=\"x\" "
       "Algorithm=\"Reserve\" Whitespace=\"Remove\"/><Rule Name=\"x\" Algorithm=\"Skip\"/>",
       u"<x a=\"1\" b=\"\"></x><x a=\"1\"></x>", "BXP BXP BVR BVR"},
      // Equal with an empty value holds for an element without the attribute.
      {"<Rule Name=\"p\" Algorithm=\"Skip\"><Attribute-Condition Name=\"class\" "
       "Condition=\"Equal\" "
       "Value=\"\"/></Rule>",
       u"<p></p><p class=\"x\"></p>", "BSP BSP ITP ITP"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rules);
    CRules rules;
    const std::string text = std::string("<Orvel-TransML><Rules>") + c.rules + "</Rules>";
    ASSERT_TRUE(rules.LoadStream(std::make_shared<CMemoryStream>(text.data(), text.size()), false));
    auto list = Read(c.document);
    CRulesProcessor().Process(*list, &rules);
    EXPECT_EQ(Classes(*list), c.classes);
  }
}

TEST(CRulesProcessorTest, ConditionsCompareAttributeValues) {
  CElementX element;
  element.AddAttribute(u"Class", u"note big", 2);
  element.AddAttribute(u"class", u"second", 2);
  element.AddAttribute(u"empty", u"", 2);
  const struct {
    const char16_t* name;
    bool nameCaseSensitive;
    int condition;
    const char16_t* value;
    bool holds;
  } cases[] = {
      {u"class", false, kConditionEqual, u"note big", true},
      {u"class", true, kConditionEqual, u"second", true},
      {u"CLASS", false, kConditionEqual, u"NOTE BIG", false},
      {u"class", false, kConditionNotEqual, u"second", true},
      {u"missing", false, kConditionNotEqual, u"", false},
      {u"missing", false, kConditionExist, u"", false},
      {u"empty", false, kConditionExist, u"", true},
      {u"missing", false, kConditionNotExist, u"x", true},
      {u"empty", false, kConditionNotExist, u"", false},
      {u"class", false, kConditionContain, u"big", true},
      {u"class", false, kConditionContain, u"Big", false},
      {u"missing", false, kConditionContain, u"", true},
      {u"class", false, kConditionNotContain, u"small", true},
      {u"class", false, kConditionNotContain, u"note", false},
      {u"missing", false, kConditionNone, u"x", true},
      {u"class", false, 99, u"x", true},
  };
  CRulesProcessor processor;
  for (const auto& c : cases) {
    const CAttributeCondition condition{c.name, c.nameCaseSensitive, c.condition, c.value};
    EXPECT_EQ(processor.CheckCondition(condition, element), c.holds)
        << test::Printable(c.name) << " " << c.condition << " " << test::Printable(c.value);
  }
}

TEST(CRulesProcessorTest, PartnerIsTheFirstLaterElementWithTheSameId) {
  // Ids repeat as after the counter wrapped: each start tag finds the nearest later 7.
  CElementsStackX list;
  for (int id : {7, 8, 7, 0, 8, 7, 0, 7, 9}) {
    list.Push(new CElementX());
    list.back()->SetPairId(id);
  }
  EXPECT_EQ(CRulesProcessor::NextWithSamePairId(list),
            (std::vector<std::size_t>{2, 4, 5, 6, 9, 7, 9, 9, 9}));
}

}  // namespace
}  // namespace tagvert
