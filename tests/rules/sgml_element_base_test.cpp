// Tagvert: tests of the TransML tag reader and the decoding of attribute references.
// SPDX-License-Identifier: Apache-2.0
#include "rules/sgml_element_base.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "rules/transml_rules.h"
#include "storage/data_storage.h"
#include "storage/memory_stream.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::Printable;

// A storage over `text` (one byte one unit) with its leading "<" already read.
std::unique_ptr<CDataStorage> TagSource(std::string_view text) {
  auto storage = std::make_unique<CDataStorage>(EncodingMode::Single, EncodingMode::None);
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
      {"<Rule/>rest", 7, u"RULE", "M", ""},
      {"</Rules >rest", 9, u"RULES", "E", ""},
      {"<Rule Name=a/>rest", 14, u"RULE", "", " Name=a/"},
      {"<a-c\tname='x\"'\r\nvalue=\"y&amp;z\" flag/>", 38, u"A-C", "M", " name=x\" value=y&z flag"},
      {"<!-- a > b -- c -->rest", 19, u"", "SM", ""},
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

TEST(DecodeTransmlReferencesTest, ResolvesReferencesAndKeepsUnknownOnes) {
  const struct {
    const char16_t* raw;
    const char16_t* decoded;
  } cases[] = {
      {u"a&amp;b&lt;&eacute;&amp;amp;", u"a&b<\u00E9&amp;"},
      {u"&#x41;&#X42;&#67;&#8364;&#150;&#129;", u"ABC\u20AC\u2013\u0081"},
      {u"&zzz;&zzz&AMP;& &;&#;&#x;", u"&zzz;&zzz&AMP;& &;&#;&#x;"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Printable(DecodeTransmlReferences(c.raw)), Printable(c.decoded)) << Printable(c.raw);
}

}  // namespace
}  // namespace tagvert
