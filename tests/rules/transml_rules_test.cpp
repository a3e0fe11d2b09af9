// Tagvert: tests of the TransML rule set loader (its tag reader and references included) and the
// built-in TTX rules.
// SPDX-License-Identifier: Apache-2.0
#include "rules/transml_rules.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "rules/builtin_rules.h"
#include "storage/memory_stream.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::Printable;

bool LoadText(CRules& rules, std::string_view text, bool append = false) {
  return rules.LoadStream(std::make_shared<CMemoryStream>(text.data(), text.size()), append);
}

// Every rule, nameless ones first: name, "!" when NameCaseSensitive, ":", type, algorithm and
// whitespace digits, {TransMethod,Semantic,Transliterate} when not the defaults, then
// [name=type] per attribute type and (name condition value) per condition.
std::string Describe(const CRules& rules) {
  std::ostringstream out;
  const auto cs = [](bool yes) { return yes ? "!" : ""; };
  for (const auto* list : {&rules.GetNamelessRules(), &rules.GetNamedRules()}) {
    for (const auto& r : *list) {
      out << (out.tellp() > 0 ? " " : "") << Printable(r->m_name) << cs(r->m_nameCaseSensitive)
          << ':' << static_cast<int>(r->m_type)
          << (r->m_algorithm ? static_cast<int>(*r->m_algorithm) : 6)
          << (r->m_whitespace ? static_cast<int>(*r->m_whitespace) : 3);
      if (!r->m_transMethod.empty() || r->m_semantic != -1 || r->m_transliterate)
        out << '{' << Printable(r->m_transMethod) << ',' << r->m_semantic << ','
            << r->m_transliterate << '}';
      for (const auto& t : r->m_attributeTypes)
        out << '[' << Printable(t->m_name) << cs(t->m_nameCaseSensitive) << '='
            << static_cast<int>(t->m_type) << ']';
      for (const auto& c : r->m_conditions)
        out << '(' << Printable(c->m_name) << cs(c->m_nameCaseSensitive) << ' '
            << static_cast<int>(c->m_condition) << ' ' << Printable(c->m_value)
            << cs(c->m_caseSensitive) << ')';
    }
  }
  return out.str();
}

TEST(CRulesTest, BuiltinRulesLoadWithTheBasicEntities) {
  CRules rules;
  ASSERT_TRUE(rules.LoadStream(OpenBuiltinRulesStream(), false));
  EXPECT_EQ(rules.GetErrorCode(), RulesError::None);
  EXPECT_EQ(Describe(rules),
            "?xml:000 TRADOStag:000 FrontMatter:010 ToolSettings:010 UserSettings:010 Body:000 "
            "Raw:002 df:102 ut:110 tu:002(MatchPercent 1 0) tu:000(MatchPercent 4 0) "
            "tu:010(MatchPercent 2 0) tuv:002(Lang 1 tgt_lang) tuv:010(Lang 2 tgt_lang)");
  EXPECT_EQ(rules.GetEntityChars(), u"<>&\"'");
  for (const CEntity& entity : rules.GetEntities())
    EXPECT_TRUE(entity.m_hasChar && entity.m_needBackward && entity.m_value.empty());
}

TEST(CRulesTest, LoadsRulesAsWritten) {
  const struct {
    const char* document;
    const char* rules;
  } cases[] = {
      {"<orvel-transml><rules><rule name='x'/></RULES>", "x:063"},
      {"<Orvel-TransML><Rules><Rule Name='Para' NameCaseSensitive='no' TransMethod='MT &amp; "
       "more' Semantic='-17' Transliterate><Attribute-Type Name='alt' Type='Translate'/>"
       "<Attribute-Type Type='Unique'/><Attribute-Type Name='id' NameCaseSensitive "
       "Type='leave'/><Attribute-Condition Name='Class' NameCaseSensitive Condition='Equal' "
       "Value='note' CaseSensitive/></Rule>",
       "PARA!:063{MT & more,-17,1}[=3][alt=0][id!=2](Class! 1 NOTE!)"},
      // A comment with '>' and "--" inside; tab and line break between attributes, spaces around
      // '=', a value unquoted up to space or '>', a quote of the other kind inside a value;
      // references decoded once, unknown and incomplete ones kept as written.
      {"<Orvel-TransML><Rules><!-- a > b -- c --><Rule\tName=a/ TransMethod='\"&lt;&eacute;"
       "&amp;amp;&#x41;&#X42;&#67;&#8364;&#150;&#129;&zzz;&zzz&AMP;& &;&#;&#x;'\r\n"
       "Semantic = 2></Rule ></Rules >",
       "a/:063{\"<\\u00E9&amp;ABC\\u20AC\\u2013\\u0081&zzz;&zzz&AMP;& &;&#;&#x;,2,0}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document);
    CRules rules;
    EXPECT_TRUE(LoadText(rules, c.document));
    EXPECT_EQ(Describe(rules), c.rules);
  }
}

TEST(CRulesTest, MalformedRuleSetsFailWithCodeAndPosition) {
  // Position: the count just after the failing tag's "<" ("<Orvel-TransML><Rules>" is 22).
  const struct {
    const char* document;
    int code;
    int position;
    const char* kept;  // what was read before the failure stays loaded
  } cases[] = {
      {"<Orvel-TransML><Rules><Rule Name='a' Type='Paragraph'/></Rules>", 8, 23, ""},
      {"<Orvel-TransML><Rules><Rule/><Rule Name='b' Algorithm='Copy'/>", 9, 30, ":063"},
      {"<Orvel-TransML><Rules><Rule Name='a'><Attribute-Type Name='t'/>", 10, 38, "a:063"},
      {"<Orvel-TransML><Rules><Rule Name='a'><Attribute-Type Type='Keep'/>", 11, 38, "a:063"},
      {"<Orvel-TransML><Rules><Rule Name='a'><Attribute-Condition Condition='Like'/>", 12, 38,
       "a:063"},
      {"<Orvel-TransML><Rules><Rule Name='a'></Rules>", 6, 38, "a:063"},
      // The input ends inside a tag, a comment or a marked section.
      {"<Orvel-TransML><Rules><Rule Name='a", 0, 23, ""},
      {"<Orvel-TransML><Rules><Rule Name=\"a", 0, 23, ""},
      {"<Orvel-TransML><Rules><Rule", 0, 23, ""},
      {"<Orvel-TransML><Rules><!-- x --", 0, 23, ""},
      {"<Orvel-TransML><Rules><![CDATA[", 0, 23, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document);
    CRules rules;
    EXPECT_FALSE(LoadText(rules, c.document));
    EXPECT_EQ(static_cast<int>(rules.GetErrorCode()), c.code);
    EXPECT_EQ(rules.GetErrorPosition(), c.position);
    EXPECT_FALSE(rules.IsLoaded());
    EXPECT_EQ(Describe(rules), c.kept);
    EXPECT_TRUE(LoadText(rules, "<Orvel-TransML/>"));  // the next load starts afresh
    EXPECT_EQ(rules.GetErrorCode(), RulesError::None);
  }
  // A failing input stream is an exception other than a code: code 5.
  auto stream = std::make_shared<test::CChunkedStream>(
      test::Bytes("<Orvel-TransML><Rules><Rule Name='a'/></Rules>"), 1);
  stream->FailAfter(25, kEFail);
  CRules rules;
  EXPECT_FALSE(rules.LoadStream(stream, false));
  EXPECT_EQ(rules.GetErrorCode(), RulesError::Exception);
  EXPECT_EQ(rules.GetErrorPosition(), 23);
}

// An entity of the same name replaces the basic one in place; names compare with case.
TEST(CRulesTest, EntitiesReplaceByName) {
  CRules rules;
  ASSERT_TRUE(LoadText(rules,
                       "<Orvel-TransML><Entities><Entity Name='amp' Char='x41'/><Entity "
                       "Name='Amp' Char='X1F600' NeedBackward/><Entity Name='c' Value='(c) "
                       "&amp; more' NeedBackward/>"));
  EXPECT_EQ(Printable(rules.GetEntityChars()), "<>A\"'\\uF600\\uFFFF");
  const auto& entities = rules.GetEntities();
  ASSERT_EQ(entities.size(), 7u);
  EXPECT_TRUE(entities[5].m_name == u"Amp" && entities[5].m_needBackward);
  EXPECT_TRUE(!entities[6].m_hasChar && !entities[6].m_needBackward);
  EXPECT_EQ(entities[6].m_value, u"(c) & more");
  // USEHTML counts by its presence, whatever its value: all 251 further names.
  ASSERT_TRUE(LoadText(rules, "<Orvel-TransML><Entities UseHTML='no'/>"));
  EXPECT_EQ(rules.GetEntities().size(), 256u);
}

}  // namespace
}  // namespace tagvert
