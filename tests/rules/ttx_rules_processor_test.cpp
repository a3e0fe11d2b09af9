// Tagvert: tests of the TTX rules processor: language codes, target language, Tuv rules. Its
// classification with the built-in rules is tested with CRulesProcessor's.
// SPDX-License-Identifier: Apache-2.0
#include "rules/ttx_rules_processor.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "markup/elements_stack.h"
#include "rules/transml_rules.h"
#include "storage/memory_stream.h"

namespace tagvert {
namespace {

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
    SCOPED_TRACE(c.code);
    EXPECT_EQ(CTTXRulesProcessor::LanguageCode(c.code), c.tag);
    CElementsStackX list;  // the low word names the source language and does not count
    CTTXRulesProcessor processor;
    processor.Init(list, (static_cast<std::uint32_t>(c.code) << 16) | 0x0004);
    EXPECT_EQ(processor.GetTargetLanguage(), c.tag);
    EXPECT_TRUE(processor.IsInitialized());
  }
}

// The first element named exactly UserSettings gives the source language by the attribute named
// exactly SourceLanguage; the target language always comes from Direction.
TEST(CTTXRulesProcessorTest, UserSettingsGiveTheSourceLanguageOnly) {
  CElementsStackX list;
  using Attributes = std::initializer_list<std::pair<const char16_t*, const char16_t*>>;
  const auto add = [&](const char16_t* name, Attributes attributes) {
    list.Push(new CElementX());
    list.back()->SetName(name);
    for (const auto& [attribute, value] : attributes)
      list.back()->AddAttribute(attribute, value, 2);
  };
  add(u"usersettings", {{u"SourceLanguage", u"XX-XX"}});
  add(u"UserSettings", {{u"sourcelanguage", u"YY-YY"},
                        {u"SourceLanguage", u"EN-US"},
                        {u"TargetLanguage", u"FR-FR"}});
  add(u"UserSettings", {{u"SourceLanguage", u"JA-JP"}});
  CTTXRulesProcessor processor;
  processor.Init(list, 0x00040000);
  EXPECT_EQ(processor.GetSourceLanguage(), u"EN-US");
  EXPECT_EQ(processor.GetTargetLanguage(), u"DE-DE");
  CTTXRulesProcessor without;
  CElementsStackX none;
  without.Init(none, 0x00080000);
  EXPECT_EQ(without.GetSourceLanguage(), u"");
  EXPECT_EQ(without.GetTargetLanguage(), u"FR-FR");
}

TEST(CTTXRulesProcessorTest, ApplyTargetLanguageSetsTheFirstConditionOfTuvRules) {
  const std::string text =
      "<Orvel-TransML><Rules><Rule Name=\"TUV\"><Attribute-Condition Name=\"Lang\" Value=\"a\"/>"
      "<Attribute-Condition Name=\"Other\" Value=\"b\"/></Rule><Rule Name=\"tuv\"/>"
      "<Rule Name=\"Tuv\" NameCaseSensitive><Attribute-Condition Name=\"Lang\" Value=\"c\"/></Rule>"
      "<Rule Name=\"Tu\"><Attribute-Condition Name=\"Lang\" Value=\"d\"/></Rule></Rules>";
  CRules rules;
  ASSERT_TRUE(rules.LoadStream(std::make_shared<CMemoryStream>(text.data(), text.size()), false));
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

}  // namespace
}  // namespace tagvert
