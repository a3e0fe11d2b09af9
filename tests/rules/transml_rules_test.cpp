// Tagvert: tests of the TransML rule set loader and the built-in TTX rules.
// SPDX-License-Identifier: Apache-2.0
#include "rules/transml_rules.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ifcodec/entity_tables.h"
#include "rules/builtin_rules.h"
#include "rules/rules_test_support.h"
#include "storage/data_storage.h"
#include "storage/memory_stream.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::LoadBuiltinRules;
using test::LoadRulesText;
using test::Printable;

struct CExpectedRule {
  const char16_t* name;
  int type;
  int algorithm;
  int whitespace;
  const char16_t* conditionName;  // null: no condition
  int condition;
  const char16_t* conditionValue;
};

constexpr CExpectedRule kBuiltinRules[] = {
    {u"?xml", kRuleTypeBlock, kRuleAlgorithmTranslate, kRuleWhitespacePreserve, nullptr, 0,
     nullptr},
    {u"TRADOStag", kRuleTypeBlock, kRuleAlgorithmTranslate, kRuleWhitespacePreserve, nullptr, 0,
     nullptr},
    {u"FrontMatter", kRuleTypeBlock, kRuleAlgorithmSkip, kRuleWhitespacePreserve, nullptr, 0,
     nullptr},
    {u"ToolSettings", kRuleTypeBlock, kRuleAlgorithmSkip, kRuleWhitespacePreserve, nullptr, 0,
     nullptr},
    {u"UserSettings", kRuleTypeBlock, kRuleAlgorithmSkip, kRuleWhitespacePreserve, nullptr, 0,
     nullptr},
    {u"Body", kRuleTypeBlock, kRuleAlgorithmTranslate, kRuleWhitespacePreserve, nullptr, 0,
     nullptr},
    {u"Raw", kRuleTypeBlock, kRuleAlgorithmTranslate, kRuleWhitespaceNormalize, nullptr, 0,
     nullptr},
    {u"df", kRuleTypeInline, kRuleAlgorithmTranslate, kRuleWhitespaceNormalize, nullptr, 0,
     nullptr},
    {u"ut", kRuleTypeInline, kRuleAlgorithmSkip, kRuleWhitespacePreserve, nullptr, 0, nullptr},
    {u"tu", kRuleTypeBlock, kRuleAlgorithmTranslate, kRuleWhitespaceNormalize, u"MatchPercent",
     kConditionEqual, u"0"},
    {u"tu", kRuleTypeBlock, kRuleAlgorithmTranslate, kRuleWhitespacePreserve, u"MatchPercent",
     kConditionNotExist, u"0"},
    {u"tu", kRuleTypeBlock, kRuleAlgorithmSkip, kRuleWhitespacePreserve, u"MatchPercent",
     kConditionNotEqual, u"0"},
    {u"tuv", kRuleTypeBlock, kRuleAlgorithmTranslate, kRuleWhitespaceNormalize, u"Lang",
     kConditionEqual, u"tgt_lang"},
    {u"tuv", kRuleTypeBlock, kRuleAlgorithmSkip, kRuleWhitespacePreserve, u"Lang",
     kConditionNotEqual, u"tgt_lang"},
};

TEST(CRulesTest, BuiltinRulesLoadIntoFourteenNamedRules) {
  CRules rules;
  ASSERT_TRUE(LoadBuiltinRules(rules));
  EXPECT_TRUE(rules.IsLoaded());
  EXPECT_EQ(rules.GetErrorCode(), kRulesNoErrorCode);
  EXPECT_EQ(rules.GetErrorMessage(), u"");
  EXPECT_EQ(rules.GetLoadState(), RulesLoadState::Done);
  EXPECT_EQ(rules.GetRuleSetName(), u"TTX");
  EXPECT_TRUE(rules.GetNamelessRules().empty());
  ASSERT_EQ(rules.GetNamedRules().size(), std::size(kBuiltinRules));

  for (std::size_t i = 0; i < std::size(kBuiltinRules); ++i) {
    const CExpectedRule& expected = kBuiltinRules[i];
    const CRule& rule = *rules.GetNamedRules()[i];
    SCOPED_TRACE(testing::Message() << "rule " << i + 1 << " " << Printable(expected.name));
    EXPECT_EQ(rule.m_name, expected.name);
    EXPECT_FALSE(rule.m_nameCaseSensitive);
    EXPECT_EQ(rule.m_type, expected.type);
    EXPECT_EQ(rule.m_algorithm, expected.algorithm);
    EXPECT_EQ(rule.m_whitespace, expected.whitespace);
    EXPECT_EQ(rule.m_semantic, -1);
    EXPECT_FALSE(rule.m_transliterate);
    EXPECT_TRUE(rule.m_transMethod.empty());
    EXPECT_TRUE(rule.m_attributeTypes.empty());
    if (expected.conditionName == nullptr) {
      EXPECT_TRUE(rule.m_conditions.empty());
      continue;
    }
    ASSERT_EQ(rule.m_conditions.size(), 1u);
    const CAttributeCondition& condition = *rule.m_conditions.front();
    EXPECT_EQ(condition.m_name, expected.conditionName);
    EXPECT_EQ(condition.m_condition, expected.condition);
    EXPECT_EQ(condition.m_value, expected.conditionValue);
    EXPECT_FALSE(condition.m_caseSensitive);
    EXPECT_FALSE(condition.m_nameCaseSensitive);
  }
}

TEST(CRulesTest, BuiltinRulesCarryTheFiveBasicEntities) {
  CRules rules;
  ASSERT_TRUE(LoadBuiltinRules(rules));
  EXPECT_EQ(rules.GetEntityChars(), u"<>&\"'");
  const char16_t* names[] = {u"lt", u"gt", u"amp", u"quot", u"apos"};
  ASSERT_EQ(rules.GetEntities().size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    const CEntity& entity = rules.GetEntities()[i];
    EXPECT_EQ(entity.m_name, names[i]);
    EXPECT_TRUE(entity.m_hasChar);
    EXPECT_TRUE(entity.m_needBackward);
    EXPECT_EQ(entity.m_char, rules.GetEntityChars()[i]);
    EXPECT_TRUE(entity.m_value.empty());
  }
}

TEST(CRulesTest, BuiltinBytesAreTheTransmlFileWithCrlfAndNoMark) {
  const auto bytes = BuiltinRulesBytes();
  const std::vector<std::uint8_t> file =
      test::ReadFileBytes(TAGVERT_TEST_DATA_DIR "/../../src/rules/ttx_rules.transml");
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), file);

  ASSERT_GE(bytes.size(), 3u);
  EXPECT_EQ(bytes[0], '<');  // no byte-order mark, no XML declaration
  std::size_t lineEnds = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\n') continue;
    ++lineEnds;
    EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare line feed at byte " << i;
  }
  EXPECT_GT(lineEnds, 20u);
  EXPECT_EQ(bytes.back(), '\n');
}

TEST(CRulesTest, BuiltinFileHasOneCommentBeforeEachTuvRule) {
  const auto bytes = BuiltinRulesBytes();
  const std::string text(bytes.begin(), bytes.end());
  const std::size_t firstTuv = text.find("Name=\"tuv\"");
  const std::size_t secondTuv = text.find("Name=\"tuv\"", firstTuv + 1);
  ASSERT_NE(secondTuv, std::string::npos);
  const std::size_t firstComment = text.find("<!--");
  const std::size_t secondComment = text.find("<!--", firstComment + 1);
  EXPECT_EQ(text.find("<!--", secondComment + 1), std::string::npos);
  EXPECT_GT(firstComment, text.rfind("Name=\"tu\""));
  EXPECT_LT(firstComment, firstTuv);
  EXPECT_GT(secondComment, firstTuv);
  EXPECT_LT(secondComment, secondTuv);
  EXPECT_NE(text.find("<Orvel-TransML Name=\"TTX\">"), std::string::npos);
}

struct CErrorCase {
  const char* document;
  int code;
  std::int32_t position;
};

// Every document fails; position is the character count just after the failing tag's "<".
// "<Orvel-TransML>" is 15 characters, "<Rules>" 7.
constexpr CErrorCase kErrorCases[] = {
    {"<?xml version=\"1.0\"?><Orvel-TransML></Orvel-TransML>", 6, 1},
    {"<Wrong-Root/>", 6, 1},
    {"</Orvel-TransML>", 6, 1},
    {"<Orvel-TransML><Rule Name=\"a\"/></Orvel-TransML>", 6, 16},
    {"<Orvel-TransML><?pi x?></Orvel-TransML>", 6, 16},
    {"<Orvel-TransML><Rules><Entity Name=\"a\" Char=\"65\"/></Rules>", 6, 23},
    {"<Orvel-TransML><Rules></Rule>", 6, 23},
    {"<Orvel-TransML><Rules><Attribute-Condition Name=\"a\"/></Rules>", 6, 23},
    {"<Orvel-TransML><Rules><?pi?></Rules>", 6, 23},
    {"<Orvel-TransML><Rules><Rule Name=\"a\" Type=\"Paragraph\"/></Rules>", 8, 23},
    {"<Orvel-TransML><Rules><Rule Name=\"a\"/><Rule Name=\"b\" Algorithm=\"Copy\"/>", 9, 39},
    {"<Orvel-TransML><Rules><Rule Name=\"a\"><Attribute-Type Name=\"t\"/></Rule>", 10, 38},
    {"<Orvel-TransML><Rules><Rule Name=\"a\"><Attribute-Type Type=\"Keep\"/></Rule>", 11, 38},
    {"<Orvel-TransML><Rules><Rule Name=\"a\"><Attribute-Condition Condition=\"Like\"/>", 12, 38},
    {"<Orvel-TransML><Rules><Rule Name=\"a\"><Attribute-Condition Name=\"x\"></Rule>", 6, 38},
    {"<Orvel-TransML><Rules><Rule Name=\"a\"><Rule Name=\"b\"/></Rule>", 6, 38},
    {"<Orvel-TransML><Rules><Rule Name=\"a\"></Rules>", 6, 38},
    {"<Orvel-TransML><Entities><Entity Name=\"a\" Char=\"65\"></Entities>", 6, 26},
    {"<Orvel-TransML><Entities></Entity></Entities>", 6, 26},
    {"<Orvel-TransML><Entities><Rule Name=\"a\"/></Entities>", 6, 26},
    {"<Orvel-TransML><Rules><Rule Name=\"a\"", 0, 23},
    {"<Orvel-TransML><Rules><Rule Name=\"a", 0, 23},
    {"<Orvel-TransML><!-- never closed -", 0, 16},
    {"<Orvel-TransML><![CDATA[ never closed ]]", 0, 16},
    {"<", 0, 1},
};

TEST(CRulesTest, MalformedRuleSetsFailWithCodeAndPosition) {
  for (const CErrorCase& c : kErrorCases) {
    SCOPED_TRACE(c.document);
    CRules rules;
    EXPECT_FALSE(LoadRulesText(rules, c.document));
    EXPECT_EQ(rules.GetErrorCode(), c.code);
    EXPECT_EQ(rules.GetErrorPosition(), c.position);
    EXPECT_FALSE(rules.IsLoaded());
    // Platforms without message texts give the empty text for every code.
    EXPECT_EQ(rules.GetErrorMessage(), GetMessageText(c.code));
  }
}

TEST(CRulesTest, RulesReadBeforeAFailureStayLoaded) {
  CRules rules;
  EXPECT_FALSE(LoadRulesText(rules,
                             "<Orvel-TransML><Rules><Rule Name=\"a\"/><Rule/>"
                             "<Rule Name=\"b\" Type=\"Wrong\"/></Rules></Orvel-TransML>"));
  EXPECT_EQ(rules.GetErrorCode(), kRulesErrorRuleType);
  ASSERT_EQ(rules.GetNamedRules().size(), 1u);
  EXPECT_EQ(rules.GetNamedRules()[0]->m_name, u"a");
  EXPECT_EQ(rules.GetNamelessRules().size(), 1u);
  EXPECT_EQ(rules.GetLoadState(), RulesLoadState::InRules);
}

TEST(CRulesTest, ASuccessfulLoadClearsThePreviousError) {
  CRules rules;
  ASSERT_FALSE(LoadRulesText(rules, "<Bad/>"));
  EXPECT_FALSE(rules.IsLoaded());
  ASSERT_TRUE(LoadRulesText(rules, "<Orvel-TransML/>"));
  EXPECT_EQ(rules.GetErrorCode(), kRulesNoErrorCode);
  EXPECT_TRUE(rules.IsLoaded());
}

TEST(CRulesTest, RootNameIsAcceptedInAnyCase) {
  for (const char* root : {"<ORVEL-TRANSML>", "<orvel-transml>", "<Orvel-TransML>"}) {
    SCOPED_TRACE(root);
    CRules rules;
    EXPECT_TRUE(LoadRulesText(rules, std::string(root) + "<rules><rule name=\"x\"/></RULES>"));
    EXPECT_EQ(rules.GetNamedRules().size(), 1u);
  }
}

TEST(CRulesTest, CommentsDeclarationsAndTextAreSkipped) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(rules,
                            "<!-- before the root --><!DOCTYPE x [ <!ENTITY a \"<b>\"> ]>"
                            "<Orvel-TransML> text <Rules>\r\n"
                            "<!-- between --><Rule Name=\"a\"/><![CDATA[ <Rule Name=\"no\"/> ]]>"
                            "<% <Rule Name=\"no\"/> %><Rule Name=\"b\">"
                            "<!-- inside --><Attribute-Condition Name=\"c\"/></Rule>"
                            "</Rules></Orvel-TransML>"));
  ASSERT_EQ(rules.GetNamedRules().size(), 2u);
  EXPECT_EQ(rules.GetNamedRules()[0]->m_name, u"a");
  EXPECT_EQ(rules.GetNamedRules()[1]->m_name, u"b");
  EXPECT_EQ(rules.GetNamedRules()[1]->m_conditions.size(), 1u);
}

TEST(CRulesTest, EmptyRuleWithLowerCaseSkipGetsDefaults) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(
      rules,
      "<Orvel-TransML><Rules><Rule Name=\"p\" Algorithm=\"skip\"/></Rules></Orvel-TransML>"));
  ASSERT_EQ(rules.GetNamedRules().size(), 1u);
  const CRule& rule = *rules.GetNamedRules()[0];
  EXPECT_EQ(rule.m_type, kRuleTypeBlock);
  EXPECT_EQ(rule.m_algorithm, kRuleAlgorithmSkip);
  EXPECT_EQ(rule.m_whitespace, kRuleWhitespaceNone);
  EXPECT_TRUE(rule.m_conditions.empty());
}

TEST(CRulesTest, KeywordsCompareWithoutCase) {
  CRules rules;
  ASSERT_TRUE(
      LoadRulesText(rules,
                    "<Orvel-TransML><Rules>"
                    "<Rule Name=\"a\" TYPE=\"property\" algorithm=\"ReSeRvE\" "
                    "whitespace=\"normalizesignificant\"/>"
                    "<Rule Name=\"b\" Type=\"INLINE\" Algorithm=\"leave\" Whitespace=\"remove\">"
                    "<Attribute-Condition Name=\"x\" Condition=\"notcontain\" Value=\"v\"/>"
                    "<Attribute-Condition Name=\"y\" Condition=\"Exist\"/>"
                    "<Attribute-Condition Name=\"z\"/></Rule>"
                    "<Rule Name=\"c\" Whitespace=\"collapse\"/>"
                    "</Rules></Orvel-TransML>"));
  const auto& named = rules.GetNamedRules();
  ASSERT_EQ(named.size(), 3u);
  EXPECT_EQ(named[0]->m_type, kRuleTypeProperty);
  EXPECT_EQ(named[0]->m_algorithm, kRuleAlgorithmReserve);
  EXPECT_EQ(named[0]->m_whitespace, kRuleWhitespaceNormalizeSignificant);
  EXPECT_EQ(named[1]->m_type, kRuleTypeInline);
  EXPECT_EQ(named[1]->m_algorithm, kRuleAlgorithmLeave);
  EXPECT_EQ(named[1]->m_whitespace, kRuleWhitespaceRemove);
  ASSERT_EQ(named[1]->m_conditions.size(), 3u);
  EXPECT_EQ(named[1]->m_conditions[0]->m_condition, kConditionNotContain);
  EXPECT_EQ(named[1]->m_conditions[1]->m_condition, kConditionExist);
  EXPECT_EQ(named[1]->m_conditions[2]->m_condition, kConditionNone);
  // A whitespace word that is no keyword is not an error: the rule gives no mode.
  EXPECT_EQ(named[2]->m_whitespace, kRuleWhitespaceNone);
}

TEST(CRulesTest, RuleFieldsAreReadFromTheirAttributes) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(
      rules,
      "<Orvel-TransML><Rules>"
      "<Rule Name=\"Para\" NameCaseSensitive=\"no\" TransMethod=\"MT &amp; more\" Semantic=\"-17\" "
      "Transliterate>"
      "<Attribute-Type Name=\"alt\" Type=\"Translate\"/>"
      "<Attribute-Type Type=\"Unique\"/>"
      "<Attribute-Type Name=\"id\" NameCaseSensitive Type=\"leave\"/>"
      "<Attribute-Condition Name=\"Class\" NameCaseSensitive Condition=\"Equal\" Value=\"note\" "
      "CaseSensitive/>"
      "</Rule></Rules></Orvel-TransML>"));
  ASSERT_EQ(rules.GetNamedRules().size(), 1u);
  const CRule& rule = *rules.GetNamedRules()[0];
  EXPECT_EQ(rule.m_name, u"PARA");
  EXPECT_TRUE(rule.m_nameCaseSensitive);
  EXPECT_EQ(rule.m_transMethod, u"MT & more");
  EXPECT_EQ(rule.m_semantic, -17);
  EXPECT_TRUE(rule.m_transliterate);
  EXPECT_EQ(rule.m_algorithm, kRuleAlgorithmNone);
  // A nameless attribute type goes to the front, named ones to the back.
  ASSERT_EQ(rule.m_attributeTypes.size(), 3u);
  EXPECT_EQ(rule.m_attributeTypes[0]->m_name, u"");
  EXPECT_EQ(rule.m_attributeTypes[0]->m_type, kAttributeTypeUnique);
  EXPECT_EQ(rule.m_attributeTypes[1]->m_name, u"alt");
  EXPECT_EQ(rule.m_attributeTypes[1]->m_type, kAttributeTypeTranslate);
  EXPECT_FALSE(rule.m_attributeTypes[1]->m_nameCaseSensitive);
  EXPECT_EQ(rule.m_attributeTypes[2]->m_name, u"id");
  EXPECT_EQ(rule.m_attributeTypes[2]->m_type, kAttributeTypeLeave);
  EXPECT_TRUE(rule.m_attributeTypes[2]->m_nameCaseSensitive);
  ASSERT_EQ(rule.m_conditions.size(), 1u);
  const CAttributeCondition& condition = *rule.m_conditions[0];
  EXPECT_EQ(condition.m_name, u"Class");
  EXPECT_TRUE(condition.m_nameCaseSensitive);
  EXPECT_EQ(condition.m_value, u"NOTE");
  EXPECT_TRUE(condition.m_caseSensitive);
}

TEST(CRulesTest, NamelessRulesAreKeptApart) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(rules,
                            "<Orvel-TransML><Rules><Rule Type=\"Inline\"/><Rule Name=\"\"/>"
                            "<Rule Name=\"a\"/></Rules></Orvel-TransML>"));
  EXPECT_EQ(rules.GetNamelessRules().size(), 2u);
  EXPECT_EQ(rules.GetNamelessRules()[0]->m_type, kRuleTypeInline);
  EXPECT_EQ(rules.GetNamedRules().size(), 1u);
}

TEST(CRulesTest, RootAttributesAreStoredAndAffixesKeptWhenAbsent) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(
      rules,
      "<Orvel-TransML Name=\"N\" Comment=\"C\" RootTag=\"R\" UWPrefix=\"[\" UWSuffix=\"]\" "
      "PWPrefix=\"{\" PWSuffix=\"}\" UWTag=\"u\" PWTag=\"p\" DHTag=\"d\" TMHTag=\"t\" "
      "PETag=\"e\"/>"));
  EXPECT_EQ(rules.GetRuleSetName(), u"N");
  EXPECT_EQ(rules.GetComment(), u"C");
  EXPECT_EQ(rules.GetRootTag(), u"R");
  EXPECT_EQ(rules.GetUwPrefix(), u"[");
  EXPECT_EQ(rules.GetUwSuffix(), u"]");
  EXPECT_EQ(rules.GetPwPrefix(), u"{");
  EXPECT_EQ(rules.GetPwSuffix(), u"}");
  EXPECT_EQ(rules.GetUwTag(), u"u");
  EXPECT_EQ(rules.GetPwTag(), u"p");
  EXPECT_EQ(rules.GetDhTag(), u"d");
  EXPECT_EQ(rules.GetTmhTag(), u"t");
  EXPECT_EQ(rules.GetPeTag(), u"e");

  ASSERT_TRUE(LoadRulesText(rules, "<Orvel-TransML PWSuffix=\"|\"/>"));
  EXPECT_EQ(rules.GetRuleSetName(), u"");
  EXPECT_EQ(rules.GetComment(), u"");
  EXPECT_EQ(rules.GetRootTag(), u"");
  EXPECT_EQ(rules.GetUwTag(), u"");
  EXPECT_EQ(rules.GetPeTag(), u"");
  EXPECT_EQ(rules.GetUwPrefix(), u"[");
  EXPECT_EQ(rules.GetUwSuffix(), u"]");
  EXPECT_EQ(rules.GetPwPrefix(), u"{");
  EXPECT_EQ(rules.GetPwSuffix(), u"|");
}

TEST(CRulesTest, UseHtmlWithAnyValueLoadsTheWholeTable) {
  for (const char* value : {"\"no\"", "\"0\"", "", "=\"\""}) {
    SCOPED_TRACE(value);
    CRules rules;
    const std::string attribute = *value == '"' ? std::string("=") + value : value;
    ASSERT_TRUE(LoadRulesText(
        rules, "<Orvel-TransML><Entities UseHTML" + attribute + "/></Orvel-TransML>"));
    ASSERT_EQ(rules.GetEntities().size(), 256u);
    ASSERT_EQ(rules.GetEntityChars().size(), 256u);
    for (int i = 0; i < kEntityTableSize; ++i) {
      ASSERT_EQ(rules.GetEntities()[i].m_name, kRulesTable[i].name) << i;
      ASSERT_EQ(rules.GetEntityChars()[i], kRulesTable[i].unit) << i;
      ASSERT_TRUE(rules.GetEntities()[i].m_needBackward) << i;
    }
  }
}

TEST(CRulesTest, EntitiesWithoutUseHtmlKeepTheBasicFive) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(rules, "<Orvel-TransML><Entities/></Orvel-TransML>"));
  EXPECT_EQ(rules.GetEntities().size(), 5u);
}

TEST(CRulesTest, EntityRedefinitionReplacesInPlace) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(rules,
                            "<Orvel-TransML><Entities UseHTML=\"no\"/><Entities>"
                            "<Entity Name=\"amp\" Char=\"x41\"/>"
                            "<Entity Name=\"Amp\" Char=\"66\" NeedBackward/>"
                            "<Entity Name=\"copyright\" Value=\"(c) &amp; more\" NeedBackward/>"
                            "</Entities></Orvel-TransML>"));
  ASSERT_EQ(rules.GetEntities().size(), 258u);
  ASSERT_EQ(rules.GetEntityChars().size(), 258u);
  const CEntity& amp = rules.GetEntities()[2];
  EXPECT_EQ(amp.m_name, u"amp");
  EXPECT_TRUE(amp.m_hasChar);
  EXPECT_EQ(amp.m_char, u'A');
  EXPECT_FALSE(amp.m_needBackward);
  EXPECT_EQ(rules.GetEntityChars()[2], u'A');

  const CEntity& upperAmp = rules.GetEntities()[256];
  EXPECT_EQ(upperAmp.m_name, u"Amp");
  EXPECT_EQ(upperAmp.m_char, u'B');
  EXPECT_TRUE(upperAmp.m_needBackward);

  const CEntity& copyright = rules.GetEntities()[257];
  EXPECT_FALSE(copyright.m_hasChar);
  EXPECT_FALSE(copyright.m_needBackward);
  EXPECT_EQ(copyright.m_char, 0xFFFF);
  EXPECT_EQ(copyright.m_value, u"(c) & more");
  EXPECT_EQ(rules.GetEntityChars()[257], 0xFFFF);
}

TEST(CRulesTest, EntityCharTakesTheLowSixteenBits) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(rules,
                            "<Orvel-TransML><Entities><Entity Name=\"a\" Char=\"X1F600\"/>"
                            "<Entity Name=\"b\" Char=\"8364\"/></Entities></Orvel-TransML>"));
  ASSERT_EQ(rules.GetEntities().size(), 7u);
  EXPECT_EQ(rules.GetEntities()[5].m_char, 0xF600);
  EXPECT_EQ(rules.GetEntities()[6].m_char, 0x20AC);
  EXPECT_EQ(rules.GetEntityChars().substr(5), u"\xF600\x20AC");
}

TEST(CRulesTest, AttributeValueReferencesAreDecoded) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(rules,
                            "<Orvel-TransML><Rules>"
                            "<Rule Name='a&amp;b&#x41;&#150;&zzz;&#65&eacute;&' />"
                            "</Rules></Orvel-TransML>"));
  ASSERT_EQ(rules.GetNamedRules().size(), 1u);
  EXPECT_EQ(rules.GetNamedRules()[0]->m_name, u"a&bA\u2013&zzz;A\u00E9&");
}

TEST(CRulesTest, TextAfterTheRootEndTagIsNeverRead) {
  const std::string document = "<Orvel-TransML><Rules/></Orvel-TransML><Rule Name=\"unterminated";
  CDataStorage storage(kModeSingle, kModeNone);
  storage.Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(document.data(), document.size())),
               CEndpoint());
  CRules rules;
  EXPECT_TRUE(rules.Load(storage, false));
  EXPECT_EQ(rules.GetLoadState(), RulesLoadState::Done);
  const std::string rootEnd = "</Orvel-TransML>";
  EXPECT_EQ(storage.GetCharCount(),
            static_cast<std::int32_t>(document.find(rootEnd) + rootEnd.size()));
}

TEST(CRulesTest, InputWithoutRootEndTagStillLoads) {
  CRules rules;
  EXPECT_TRUE(LoadRulesText(rules, "<Orvel-TransML><Rules><Rule Name=\"a\"/>"));
  EXPECT_EQ(rules.GetLoadState(), RulesLoadState::InRules);
  EXPECT_EQ(rules.GetNamedRules().size(), 1u);
}

TEST(CRulesTest, LoadReadsUtf16WithAByteOrderMark) {
  const auto bytes = test::Utf16LeBytes(u"<Orvel-TransML><Rules><Rule Name=\"\u00FCber\"/>", true);
  CRules rules;
  ASSERT_TRUE(rules.LoadStream(std::make_shared<CMemoryStream>(bytes), false));
  ASSERT_EQ(rules.GetNamedRules().size(), 1u);
  EXPECT_EQ(rules.GetNamedRules()[0]->m_name, u"\u00FCber");
}

TEST(CRulesTest, AppendKeepsRulesAndEntities) {
  CRules rules;
  ASSERT_TRUE(LoadRulesText(rules,
                            "<Orvel-TransML><Rules><Rule Name=\"a\"/></Rules><Entities>"
                            "<Entity Name=\"x\" Char=\"1\"/></Entities></Orvel-TransML>"));
  const std::string second =
      "<Orvel-TransML><Rules><Rule Name=\"b\"/><Rule/></Rules></Orvel-TransML>";
  ASSERT_TRUE(
      rules.LoadStream(std::make_shared<CMemoryStream>(second.data(), second.size()), true));
  ASSERT_EQ(rules.GetNamedRules().size(), 2u);
  EXPECT_EQ(rules.GetNamedRules()[1]->m_name, u"b");
  EXPECT_EQ(rules.GetNamelessRules().size(), 1u);
  EXPECT_EQ(rules.GetEntities().size(), 6u);

  ASSERT_TRUE(LoadRulesText(rules, second));
  EXPECT_EQ(rules.GetNamedRules().size(), 1u);
  EXPECT_EQ(rules.GetEntities().size(), 5u);
}

TEST(CRulesTest, StorageWithoutInputChangesNothing) {
  CRules rules;
  ASSERT_TRUE(LoadBuiltinRules(rules));
  CDataStorage storage(kModeSingle, kModeNone);
  EXPECT_FALSE(rules.Load(storage, false));
  EXPECT_EQ(rules.GetNamedRules().size(), 14u);
  EXPECT_TRUE(rules.IsLoaded());
}

// A storage whose GetChar throws once `after` characters have been delivered.
template <typename Exception>
class CThrowingStorage : public CDataStorage {
 public:
  CThrowingStorage(int after, Exception exception)
      : CDataStorage(kModeSingle, kModeNone), m_after(after), m_exception(std::move(exception)) {}
  bool GetChar(char16_t& ch) override {
    if (GetCharCount() >= m_after) throw m_exception;
    return CDataStorage::GetChar(ch);
  }

 private:
  int m_after;
  Exception m_exception;
};

template <typename Exception>
std::unique_ptr<CRules> LoadThrowing(int after, Exception exception) {
  static const std::string kDocument = "<Orvel-TransML><Rules><Rule Name=\"a\"/></Rules>";
  CThrowingStorage<Exception> storage(after, std::move(exception));
  storage.Open(
      CEndpoint::Stream(std::make_shared<CMemoryStream>(kDocument.data(), kDocument.size())),
      CEndpoint());
  auto rules = std::make_unique<CRules>();
  EXPECT_FALSE(rules->Load(storage, false));
  return rules;
}

TEST(CRulesTest, ThrownWideStringBecomesTheMessage) {
  auto rules = LoadThrowing(25, std::u16string(u"broken stream"));
  EXPECT_EQ(rules->GetErrorMessage(), u"broken stream");
  EXPECT_EQ(rules->GetErrorCode(), kRulesNoErrorCode);
  EXPECT_EQ(rules->GetErrorPosition(), 23);
  // The next load starts with an empty message.
  EXPECT_TRUE(LoadRulesText(*rules, "<Orvel-TransML/>"));
  EXPECT_EQ(rules->GetErrorMessage(), u"");
}

TEST(CRulesTest, OtherExceptionsBecomeCodeFive) {
  const auto rules = LoadThrowing(30, CHResultError(kEFail));
  EXPECT_EQ(rules->GetErrorCode(), kRulesErrorException);
  EXPECT_EQ(rules->GetErrorMessage(), GetMessageText(kRulesErrorException));
  EXPECT_EQ(rules->GetErrorPosition(), 23);
}

TEST(CRulesTest, ThrownCodeIsKept) {
  const auto rules = LoadThrowing(3, 42);
  EXPECT_EQ(rules->GetErrorCode(), 42);
  EXPECT_EQ(rules->GetErrorPosition(), 1);
}

}  // namespace
}  // namespace tagvert
