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
std::unique_ptr<CDataStorage> TagSource(std::string_view text) {
  auto storage = std::make_unique<CDataStorage>(kModeSingle, kModeNone);
  storage->Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(text.data(), text.size())),
                CEndpoint());
  char16_t c = 0;
  EXPECT_TRUE(storage->GetChar(c) && c == u'<');
  return storage;
}

// Attributes as name=value (decoded), a name alone when it has no value.
std::string Attributes(const CSgmlElementBase& tag) {
  std::string text;
  for (const auto& a : tag.GetAttributes()) {
    ((text += ' ') += Printable(a.m_name)) += a.m_noValue ? "" : "=";
    text += Printable(a.m_value);
  }
  return text;
}

TEST(CSgmlElementBaseTest, ParsesEachKindOfTag) {
  const struct {
    const char* text;
    int consumed;
    const char16_t* upperName;
    const char* flags;  // S special, E end tag, M empty
    const char* attributes;
  } cases[] = {
      {"<Rule>rest", 6, u"RULE", "", ""},
      {"<Rule/>rest", 7, u"RULE", "M", ""},
      {"</Rules >rest", 9, u"RULES", "E", ""},
      {"<Rule Name=a/>rest", 14, u"RULE", "", " Name=a/"},
      {"<?xml version=\"1.0\"?>rest", 21, u"?XML", "M", " version=1.0"},
      {"<a-c\tname='x\"'\r\nvalue=\"y&amp;z\"/>", 33, u"A-C", "M", " name=x\" value=y&z"},
      {"<Entity Char=x41 NeedBackward data-x.y:z = 'q' flag>", 52, u"ENTITY", "",
       " Char=x41 NeedBackward data-x.y:z=q flag"},
      {"<Rule \"junk\" =Name=\"a\"/>", 24, u"RULE", "M", " junk Name=a"},
      {"<!-- a > b -- c -->rest", 19, u"", "SM", ""},
      {"<![CDATA[ <x> ]] ]]>rest", 20, u"", "SM", ""},
      {"<!DOCTYPE r [ <!ENTITY e \"a>b\"> <x y=\">\"/> ]>rest", 45, u"", "SM", ""},
      {"<!x 'a>b' \"c>d\">rest", 16, u"", "SM", ""},
      {"<% if a > b %>rest", 14, u"", "SM", ""},
      {"<!-x>rest", 5, u"", "SM", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto storage = TagSource(c.text);
    CSgmlElementBase tag(*storage);
    EXPECT_EQ(tag.Parse(), c.consumed - 1);
    EXPECT_EQ(tag.GetUpperName(), c.upperName);
    EXPECT_EQ(std::string(tag.IsSpecial() ? "S" : "") + (tag.IsEndTag() ? "E" : "") +
                  (tag.IsEmpty() ? "M" : ""),
              c.flags);
    EXPECT_EQ(Attributes(tag), c.attributes);
    const std::string text(c.text, static_cast<std::size_t>(c.consumed));
    EXPECT_EQ(tag.GetText(), std::u16string(text.begin(), text.end()));
  }
}

TEST(CSgmlElementBaseTest, EndOfInputInsideATagThrowsZero) {
  for (const char* text : {"<", "<Rule", "<Rule Name=\"a", "<Rule Name", "<!-- x --", "<![CDATA[",
                           "<!DOCTYPE a [ <b> ", "<% x %", "<Rule Name='a'"}) {
    auto storage = TagSource(text);
    CSgmlElementBase tag(*storage);
    int code = -1;
    try {
      tag.Parse();
    } catch (int thrown) {
      code = thrown;
    }
    EXPECT_EQ(code, 0) << text;
  }
}

TEST(DecodeTransmlReferencesTest, ResolvesReferencesAndKeepsUnknownOnes) {
  const struct {
    const char16_t* raw;
    const char16_t* decoded;
  } cases[] = {
      {u"plain&amp;&amp-&lt;&gt;&quot;&apos;&eacute;&Eacute;&euro;&nbsp;&amp;amp;",
       u"plain&&-<>\"'\u00E9\u00C9\u20AC\u00A0&amp;"},
      {u"&#x41;&#X42;&#67;&#127;&#160;&#8364;&#x1F600;&#150;&#128;&#159;&#129;",
       u"ABC\u007F\u00A0\u20AC\xF600\u2013\u20AC\u0178\u0081"},
      {u"&zzz;&zzz&AMP;& &;&#;&#x;&#q;", u"&zzz;&zzz&AMP;& &;&#;&#x;&#q;"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Printable(DecodeTransmlReferences(c.raw)), Printable(c.decoded)) << Printable(c.raw);
}

}  // namespace
}  // namespace tagvert
