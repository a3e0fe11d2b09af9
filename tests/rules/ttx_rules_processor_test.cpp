// Tagvert: tests of the TTX rules processor: language codes, target language, Tuv rules.
// SPDX-License-Identifier: Apache-2.0
#include "rules/ttx_rules_processor.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "rules/rules_test_support.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::CListBuilder;
using test::LoadBuiltinRules;
using test::LoadRulesText;
using test::Printable;

TEST(CTTXRulesProcessorTest, LanguageCodeCoversTheWholeTable) {
  struct CCase {
    std::uint16_t code;
    const char16_t* expected;
  };
  const CCase cases[] = {
      {0x0001, u"EN-US"},   {0x0002, u"RU-RU"},   {0x0004, u"DE-DE"},   {0x0008, u"FR-FR"},
      {0x0010, u"IT-IT"},   {0x0020, u"ES-ES"},   {0x0040, u"PT-PT"},   {0x0080, u"UK-UA"},
      {0x0100, u"LT-LT"},   {0x0200, u"ZH-CN"},   {0x0400, u"ZH-TW"},   {0x0401, u"EN-US"},
      {0x0402, u"EN-GB"},   {0x0403, u"LV-LV"},   {0x0404, u"PL-PL"},   {0x0405, u"KK-KZ"},
      {0x0406, u"JA-JP"},   {0x0407, u"NL-NL"},   {0x0408, u"TR-TR"},   {0x0000, u"UNK-UNK"},
      {0x0003, u"UNK-UNK"}, {0x0409, u"UNK-UNK"}, {0xFFFF, u"UNK-UNK"},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(CTTXRulesProcessor::LanguageCode(c.code), c.expected);
  }
}

TEST(CTTXRulesProcessorTest, LanguageTableListsLowerCaseTagsInOrder) {
  const auto table = CTTXRulesProcessor::LanguageTable();
  ASSERT_EQ(table.size(), 19u);
  EXPECT_EQ(table.front().code, 0x0001);
  EXPECT_EQ(std::u16string(table.front().tag), u"en-us");
  EXPECT_EQ(table.back().code, 0x0408);
  EXPECT_EQ(std::u16string(table.back().tag), u"tr-tr");
  std::set<std::uint16_t> codes;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const std::u16string tag = table[i].tag;
    SCOPED_TRACE(Printable(tag));
    EXPECT_TRUE(codes.insert(table[i].code).second) << "code listed twice";
    if (i > 0) {
      EXPECT_LT(table[i - 1].code, table[i].code);
    }
    EXPECT_EQ(StringAsciiUpper(tag), CTTXRulesProcessor::LanguageCode(table[i].code));
    EXPECT_EQ(tag.size(), 5u);
    EXPECT_EQ(tag[2], u'-');
    for (char16_t c : tag)
      EXPECT_TRUE(c == u'-' || (c >= u'a' && c <= u'z'));
  }
}

TEST(CTTXRulesProcessorTest, InitTakesTheTargetFromTheHighWordOfDirection) {
  struct CCase {
    std::uint32_t direction;
    const char16_t* expected;
  };
  const CCase cases[] = {
      {0x00040001, u"DE-DE"},   {0x04010000, u"EN-US"},   {0x00010004, u"EN-US"},
      {0x0402FFFF, u"EN-GB"},   {0x00000000, u"UNK-UNK"}, {0x00000004, u"UNK-UNK"},
      {0xFFFF0004, u"UNK-UNK"},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.direction);
    CListBuilder b;
    CTTXRulesProcessor processor;
    EXPECT_FALSE(processor.IsInitialized());
    processor.Init(b.Paired(), c.direction);
    EXPECT_TRUE(processor.IsInitialized());
    EXPECT_EQ(processor.GetTargetLanguage(), c.expected);
    EXPECT_EQ(processor.GetSourceLanguage(), u"");
  }
}

TEST(CTTXRulesProcessorTest, UserSettingsGiveTheSourceButNotTheTarget) {
  CListBuilder b;
  b.Open(u"FrontMatter");
  b.Single(u"usersettings", {{u"SourceLanguage", u"XX-XX"}});
  b.Single(u"UserSettings", {{u"TargetLanguage", u"FR-FR"}, {u"SourceLanguage", u"EN-US"}});
  b.Single(u"UserSettings", {{u"SourceLanguage", u"JA-JP"}});
  b.Close(u"FrontMatter");
  CTTXRulesProcessor processor;
  processor.Init(b.Paired(), 0x00040000);
  EXPECT_EQ(processor.GetSourceLanguage(), u"EN-US");
  EXPECT_EQ(processor.GetTargetLanguage(), u"DE-DE");
}

TEST(CTTXRulesProcessorTest, SourceLanguageAttributeNameIsCaseSensitive) {
  CListBuilder b;
  b.Single(u"UserSettings", {{u"sourcelanguage", u"EN-US"}});
  CTTXRulesProcessor processor;
  processor.Init(b.Paired(), 0x00010000);
  EXPECT_EQ(processor.GetSourceLanguage(), u"");
}

TEST(CTTXRulesProcessorTest, ApplyTargetLanguageFillsTheTuvRules) {
  CRules rules;
  ASSERT_TRUE(LoadBuiltinRules(rules));
  CListBuilder b;
  CTTXRulesProcessor processor;
  processor.Init(b.Paired(), 0x00040001);
  processor.ApplyTargetLanguage(rules);
  const auto& named = rules.GetNamedRules();
  ASSERT_EQ(named.size(), 14u);
  EXPECT_EQ(named[12]->m_conditions[0]->m_value, u"DE-DE");
  EXPECT_EQ(named[13]->m_conditions[0]->m_value, u"DE-DE");
  for (std::size_t i = 9; i < 12; ++i)
    EXPECT_EQ(named[i]->m_conditions[0]->m_value, u"0");
}

TEST(CTTXRulesProcessorTest, ApplyTargetLanguageTouchesOnlyTheFirstConditionOfTuvRules) {
  CRules rules;
  ASSERT_TRUE(
      LoadRulesText(rules,
                    "<Orvel-TransML><Rules>"
                    "<Rule Name=\"TUV\"><Attribute-Condition Name=\"Lang\" Value=\"a\"/>"
                    "<Attribute-Condition Name=\"Other\" Value=\"b\"/></Rule>"
                    "<Rule Name=\"tuv\"/>"
                    "<Rule Name=\"Tuv\" NameCaseSensitive>"
                    "<Attribute-Condition Name=\"Lang\" Value=\"c\"/></Rule>"
                    "<Rule Name=\"Tu\"><Attribute-Condition Name=\"Lang\" Value=\"d\"/></Rule>"
                    "</Rules></Orvel-TransML>"));
  CListBuilder b;
  CTTXRulesProcessor processor;
  processor.Init(b.Paired(), 0x00080000);
  processor.ApplyTargetLanguage(rules);
  const auto& named = rules.GetNamedRules();
  EXPECT_EQ(named[0]->m_conditions[0]->m_value, u"FR-FR");
  EXPECT_EQ(named[0]->m_conditions[1]->m_value, u"b");
  EXPECT_TRUE(named[1]->m_conditions.empty());
  // The case-sensitive rule is named TUV after loading, which does not equal Tuv exactly.
  EXPECT_EQ(named[2]->m_conditions[0]->m_value, u"c");
  EXPECT_EQ(named[3]->m_conditions[0]->m_value, u"d");
}

// A small TTX document: a translation unit with an English and a German Tuv.
struct CTtxDocument {
  CListBuilder b;
  std::size_t english = 0;
  std::size_t englishText = 0;
  std::size_t german = 0;
  std::size_t germanText = 0;
  std::size_t body = 0;
  std::size_t bodyText = 0;

  CTtxDocument() {
    b.Single(u"?xml", {{u"version", u"1.0"}});
    b.Open(u"TRADOStag");
    b.Open(u"FrontMatter");
    b.Single(u"UserSettings", {{u"SourceLanguage", u"EN-US"}, {u"TargetLanguage", u"FR-FR"}});
    b.Close(u"FrontMatter");
    body = b.Open(u"Body");
    b.Open(u"Raw");
    bodyText = b.Text(u"Title  ");
    b.Open(u"Tu", {{u"MatchPercent", u"0"}});
    english = b.Open(u"Tuv", {{u"Lang", u"EN-US"}});
    englishText = b.Text(u"Hello");
    b.Close(u"Tuv");
    german = b.Open(u"Tuv", {{u"Lang", u"DE-DE"}});
    germanText = b.Text(u"Hallo");
    b.Close(u"Tuv");
    b.Close(u"Tu");
    b.Close(u"Raw");
    b.Close(u"Body");
    b.Close(u"TRADOStag");
    b.Paired();
  }
};

void Convert(CTtxDocument& document, CRules& rules, std::uint32_t direction) {
  CTTXRulesProcessor processor;
  processor.Init(document.b.List(), direction);
  processor.ApplyTargetLanguage(rules);
  processor.Process(document.b.List(), &rules);
}

TEST(CTTXRulesProcessorTest, TwoConversionsInARowUseTheirOwnTarget) {
  CRules rules;
  ASSERT_TRUE(LoadBuiltinRules(rules));

  CTtxDocument toGerman;
  Convert(toGerman, rules, 0x00040001);
  EXPECT_EQ(toGerman.b[toGerman.german].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(toGerman.b[toGerman.german].GetWhitespace(), kWhitespaceNormalize);
  EXPECT_EQ(toGerman.b[toGerman.english].GetAlgorithm(), kAlgorithmSkip);
  EXPECT_EQ(toGerman.b[toGerman.englishText].GetRuleType(), kRuleInline);

  CTtxDocument toEnglish;
  Convert(toEnglish, rules, 0x04010004);
  EXPECT_EQ(rules.GetNamedRules()[12]->m_conditions[0]->m_value, u"EN-US");
  EXPECT_EQ(toEnglish.b[toEnglish.english].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(toEnglish.b[toEnglish.german].GetAlgorithm(), kAlgorithmSkip);
  EXPECT_EQ(toEnglish.b[toEnglish.german].GetRuleType(), kRuleBlock);
  EXPECT_EQ(toEnglish.b[toEnglish.germanText].GetRuleType(), kRuleInline);
}

TEST(CTTXRulesProcessorTest, UnknownDirectionSkipsEveryTuvButNotTheBody) {
  CRules rules;
  ASSERT_TRUE(LoadBuiltinRules(rules));
  CTtxDocument document;
  Convert(document, rules, 0);
  EXPECT_EQ(document.b[document.english].GetAlgorithm(), kAlgorithmSkip);
  EXPECT_EQ(document.b[document.german].GetAlgorithm(), kAlgorithmSkip);
  EXPECT_EQ(document.b[document.body].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(document.b[document.body].GetRuleType(), kRuleBlock);
  EXPECT_EQ(document.b[document.bodyText].GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(document.b[document.bodyText].GetWhitespace(), kWhitespaceNormalize);
}

TEST(CTTXRulesProcessorTest, UserSettingsTargetLanguageDoesNotChooseTheTuv) {
  CRules rules;
  ASSERT_TRUE(LoadBuiltinRules(rules));
  CTtxDocument document;  // its UserSettings name FR-FR
  Convert(document, rules, 0x00040000);
  EXPECT_EQ(rules.GetNamedRules()[13]->m_conditions[0]->m_value, u"DE-DE");
  EXPECT_EQ(document.b[document.german].GetAlgorithm(), kAlgorithmTranslate);
}

}  // namespace
}  // namespace tagvert
