// Tagvert: tests of the TransML tag reader and the decoding of attribute references.
// SPDX-License-Identifier: Apache-2.0
#include "rules/sgml_element_base.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "storage/data_storage.h"
#include "storage/memory_stream.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::Printable;

// A storage over `text` (one byte one unit) with its leading "<" already read.
class CTagSource {
 public:
  explicit CTagSource(std::string_view text) : m_storage(kModeSingle, kModeNone) {
    m_storage.Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(text.data(), text.size())),
                   CEndpoint());
    char16_t c = 0;
    EXPECT_TRUE(m_storage.GetChar(c));
    EXPECT_EQ(c, u'<');
  }
  CDataStorage& Storage() { return m_storage; }

 private:
  CDataStorage m_storage;
};

struct CTagCase {
  const char* text;
  int consumed;
  const char16_t* upperName;
  bool special;
  bool endTag;
  bool empty;
  std::size_t attributes;
};

constexpr CTagCase kTagCases[] = {
    {"<Rule>rest", 6, u"RULE", false, false, false, 0},
    {"<Rule/>rest", 7, u"RULE", false, false, true, 0},
    {"</Rules >rest", 9, u"RULES", false, true, false, 0},
    {"<Rule Name=\"a\" />rest", 17, u"RULE", false, false, true, 1},
    {"<Rule Name=a/>rest", 14, u"RULE", false, false, false, 1},
    {"<?xml version=\"1.0\"?>rest", 21, u"?XML", false, false, true, 1},
    {"<attribute-condition\tname='x'\r\nvalue=\"y\"/>rest", 42, u"ATTRIBUTE-CONDITION", false,
     false, true, 2},
    {"<!-- a > b -- c -->rest", 19, u"", true, false, true, 0},
    {"<!---->rest", 7, u"", true, false, true, 0},
    {"<![CDATA[ <x> ]] ]]>rest", 20, u"", true, false, true, 0},
    {"<![IGNORE[ x ]]>rest", 16, u"", true, false, true, 0},
    {"<!DOCTYPE r [ <!ENTITY e \"a>b\"> <x y=\">\"/> ]>rest", 45, u"", true, false, true, 0},
    {"<!x 'a>b' \"c>d\">rest", 16, u"", true, false, true, 0},
    {"<% if a > b %>rest", 14, u"", true, false, true, 0},
    {"<!-x>rest", 5, u"", true, false, true, 0},
};

TEST(CSgmlElementBaseTest, ParsesEachKindOfTag) {
  for (const CTagCase& c : kTagCases) {
    SCOPED_TRACE(c.text);
    CTagSource source(c.text);
    CSgmlElementBase tag(source.Storage());
    EXPECT_EQ(tag.Parse(), c.consumed - 1);
    EXPECT_EQ(tag.GetUpperName(), c.upperName);
    EXPECT_EQ(tag.IsSpecial(), c.special);
    EXPECT_EQ(tag.IsEndTag(), c.endTag);
    EXPECT_EQ(tag.IsEmpty(), c.empty);
    EXPECT_EQ(tag.GetAttributes().size(), c.attributes);
    const std::string consumed = std::string(c.text).substr(0, c.consumed);
    EXPECT_EQ(tag.GetText(), std::u16string(consumed.begin(), consumed.end()));
  }
}

TEST(CSgmlElementBaseTest, ReadsAttributesInTheirForms) {
  CTagSource source("<Entity name = \"a&amp;b\" Char=x41 NeedBackward data-x.y:z='q\"' flag>");
  CSgmlElementBase tag(source.Storage());
  tag.Parse();
  EXPECT_EQ(tag.GetName(), u"Entity");
  const auto& attributes = tag.GetAttributes();
  ASSERT_EQ(attributes.size(), 5u);
  EXPECT_EQ(attributes[0].m_name, u"name");
  EXPECT_EQ(attributes[0].m_upperName, u"NAME");
  EXPECT_EQ(attributes[0].m_rawValue, u"a&amp;b");
  EXPECT_EQ(attributes[0].m_value, u"a&b");
  EXPECT_FALSE(attributes[0].m_noValue);
  EXPECT_EQ(attributes[1].m_value, u"x41");
  EXPECT_EQ(attributes[2].m_upperName, u"NEEDBACKWARD");
  EXPECT_TRUE(attributes[2].m_noValue);
  EXPECT_EQ(attributes[2].m_value, u"");
  EXPECT_EQ(attributes[3].m_name, u"data-x.y:z");
  EXPECT_EQ(attributes[3].m_value, u"q\"");
  EXPECT_TRUE(attributes[4].m_noValue);
  EXPECT_FALSE(tag.IsEmpty());
}

TEST(CSgmlElementBaseTest, FindsAttributesByUpperCaseName) {
  CTagSource source("<Rule Name=\"first\" NAME=\"second\" type=\"Block\">");
  CSgmlElementBase tag(source.Storage());
  tag.Parse();
  EXPECT_EQ(tag.IndexOfAttribute(u"NAME"), 0);
  EXPECT_EQ(tag.IndexOfAttribute(u"TYPE"), 2);
  EXPECT_EQ(tag.IndexOfAttribute(u"Type"), -1);
  EXPECT_EQ(tag.IndexOfAttribute(u"ALGORITHM"), -1);
  EXPECT_EQ(tag.AttributeOr(u"NAME"), u"first");
  EXPECT_EQ(tag.AttributeOr(u"ALGORITHM"), u"");
  const std::u16string fallback = u"kept";
  EXPECT_EQ(tag.AttributeOr(u"ALGORITHM", &fallback), u"kept");
  EXPECT_EQ(tag.AttributeOr(u"TYPE", &fallback), u"Block");
}

TEST(CSgmlElementBaseTest, SkipsCharactersThatStartNoName) {
  CTagSource source("<Rule \"junk\" =Name=\"a\"/>");
  CSgmlElementBase tag(source.Storage());
  tag.Parse();
  ASSERT_EQ(tag.GetAttributes().size(), 2u);
  EXPECT_EQ(tag.GetAttributes()[0].m_name, u"junk");
  EXPECT_EQ(tag.GetAttributes()[1].m_name, u"Name");
  EXPECT_EQ(tag.GetAttributes()[1].m_value, u"a");
  EXPECT_TRUE(tag.IsEmpty());
}

TEST(CSgmlElementBaseTest, EndOfInputInsideATagThrowsZero) {
  for (const char* text : {"<", "<Rule", "<Rule Name=\"a", "<Rule Name", "<!-- x --", "<![CDATA[",
                           "<!DOCTYPE a [ <b> ", "<% x %", "<Rule Name='a'"}) {
    SCOPED_TRACE(text);
    CTagSource source(text);
    CSgmlElementBase tag(source.Storage());
    try {
      tag.Parse();
      ADD_FAILURE() << "no exception";
    } catch (int code) {
      EXPECT_EQ(code, 0);
    }
  }
}

TEST(CSgmlElementBaseTest, CountsFromConstruction) {
  CTagSource source("<a><bb x='1'/>");
  CSgmlElementBase first(source.Storage());
  EXPECT_EQ(first.Parse(), 2);
  char16_t c = 0;
  ASSERT_TRUE(source.Storage().GetChar(c));
  CSgmlElementBase second(source.Storage());
  EXPECT_EQ(second.Parse(), 10);
  EXPECT_EQ(second.GetText(), u"<bb x='1'/>");
}

struct CDecodeCase {
  const char16_t* raw;
  const char16_t* decoded;
};

constexpr CDecodeCase kDecodeCases[] = {
    {u"plain", u"plain"},
    {u"&amp;", u"&"},
    {u"&amp", u"&"},
    {u"&lt;&gt;&quot;&apos;", u"<>\"'"},
    {u"&#x41;&#X42;&#67;", u"ABC"},
    {u"&#150;&#128;&#159;&#129;", u"\u2013\u20AC\u0178\u0081"},
    {u"&#127;&#160;&#8364;", u"\u007F\u00A0\u20AC"},
    {u"&#x1F600;", u"\xF600"},
    {u"&zzz;", u"&zzz;"},
    {u"&zzz", u"&zzz"},
    {u"&AMP;", u"&AMP;"},
    {u"&", u"&"},
    {u"&;", u"&;"},
    {u"a & b", u"a & b"},
    {u"&#;&#x;&#q;", u"&#;&#x;&#q;"},
    {u"&eacute;&Eacute;&euro;&nbsp;", u"\u00E9\u00C9\u20AC\u00A0"},
    {u"&amp;amp;", u"&amp;"},
    {u"x&amp-y", u"x&-y"},
};

TEST(DecodeTransmlReferencesTest, ResolvesReferencesAndKeepsUnknownOnes) {
  for (const CDecodeCase& c : kDecodeCases) {
    SCOPED_TRACE(Printable(c.raw));
    EXPECT_EQ(Printable(DecodeTransmlReferences(c.raw)), Printable(c.decoded));
  }
}

TEST(ParseTransmlNumberTest, ReadsDecimalAndHexadecimal) {
  EXPECT_EQ(ParseTransmlNumber(u"65", true), 65u);
  EXPECT_EQ(ParseTransmlNumber(u" 65abc", false), 65u);
  EXPECT_EQ(ParseTransmlNumber(u"x41", true), 0x41u);
  EXPECT_EQ(ParseTransmlNumber(u"XfF", true), 0xFFu);
  EXPECT_EQ(ParseTransmlNumber(u"-17", false), static_cast<std::uint32_t>(-17));
  EXPECT_EQ(ParseTransmlNumber(u"+3", false), 3u);
  EXPECT_FALSE(ParseTransmlNumber(u"x41", false).has_value());
  EXPECT_FALSE(ParseTransmlNumber(u"", true).has_value());
  EXPECT_FALSE(ParseTransmlNumber(u"x", true).has_value());
  EXPECT_FALSE(ParseTransmlNumber(u"-", false).has_value());
  EXPECT_EQ(ParseTransmlNumber(u"4294967297", false), 1u);
}

}  // namespace
}  // namespace tagvert
