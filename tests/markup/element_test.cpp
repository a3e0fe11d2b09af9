// Tagvert: tests of the element and attribute model (CElementX, CAttributeX).
// SPDX-License-Identifier: Apache-2.0
#include "markup/element.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::Printable;

// Every field that construction and Reset define, checked against the initial values.
void ExpectInitialState(CElementX& element) {
  EXPECT_TRUE(element.GetNameRef().empty());
  EXPECT_TRUE(element.GetUpperNameRef().empty());
  EXPECT_TRUE(element.GetSourceTextRef().empty());
  EXPECT_EQ(element.GetPairId(), 0);
  EXPECT_EQ(element.GetTagType(), kTagSingle);
  EXPECT_EQ(element.GetRuleType(), kRuleInline);
  EXPECT_EQ(element.GetIsTag(), 0);
  EXPECT_EQ(element.GetWhitespace(), kWhitespacePreserve);
  EXPECT_EQ(element.GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_FALSE(element.GetTransliterate());
  EXPECT_EQ(element.GetSemantic(), -1);
  EXPECT_FALSE(element.HasAttributes());
  EXPECT_FALSE(element.GetFlagged());
  EXPECT_FALSE(element.IsModified());
  EXPECT_EQ(element.GetSubElements(), nullptr);
}

TEST(CElementXTest, StartsInTheInitialState) {
  CElementX element;
  ExpectInitialState(element);
  EXPECT_TRUE(element.GetPropertyCodes().empty());
  EXPECT_TRUE(element.GetTransMethod().empty());
}

TEST(CElementXTest, CreateElementGivesAFreshElement) {
  CElementX element;
  element.SetName(u"a");
  element.SetTagType(kTagOpen);
  std::unique_ptr<IElementX> created(element.CreateElement());
  auto* fresh = dynamic_cast<CElementX*>(created.get());
  ASSERT_NE(fresh, nullptr);
  ExpectInitialState(*fresh);
}

TEST(CElementXTest, ResetClearsEverythingButPropertyCodesAndTransMethod) {
  CElementX element;
  element.SetName(u"a");
  element.SetUpperName(u"A");
  element.SetSourceText(u"<a>");
  element.SetPairId(7);
  element.SetTagType(kTagPairedOpen);
  element.SetRuleType(kRuleBlock);
  element.SetIsTag(1);
  element.SetWhitespace(kWhitespaceNormalize);
  element.SetAlgorithm(kAlgorithmReserve);
  element.SetTransliterate(true);
  element.SetSemantic(5);
  element.AddAttribute(u"x", u"y", 1);
  element.SetFlagged(true);
  element.SetModified(true);
  element.AppendPropertyCode(0xE001);
  element.SetTransMethod(u"m");

  element.Reset();

  ExpectInitialState(element);
  EXPECT_EQ(element.GetPropertyCodes(), std::u16string(1, 0xE001));
  EXPECT_EQ(element.GetTransMethod(), u"m");
}

TEST(CElementXTest, AttributeLookupsOnAnElementWithoutAttributes) {
  CElementX element;
  EXPECT_EQ(element.FindAttribute(u"a"), -1);
  EXPECT_EQ(element.FindAttribute(u""), -1);
  EXPECT_EQ(element.GetAttributeValue(u"a"), u"");
  EXPECT_EQ(element.GetAttributeValueAt(0), u"");
  EXPECT_EQ(element.FindAttributeByMark(0), -1);
}

TEST(CElementXTest, FindAttributeIsExactAndFindsTheFirstOfEqualNames) {
  CElementX element;
  EXPECT_EQ(element.AddAttribute(u"Lang", u"EN", 2), 0);
  EXPECT_EQ(element.AddAttribute(u"type", u"first", 2), 1);
  EXPECT_EQ(element.AddAttribute(u"type", u"second", 2), 2);

  EXPECT_EQ(element.FindAttribute(u"lang"), -1);
  EXPECT_EQ(element.FindAttribute(u"LANG"), -1);
  EXPECT_EQ(element.FindAttribute(u"Lang"), 0);
  EXPECT_EQ(element.FindAttribute(u"type"), 1);
  EXPECT_EQ(element.GetAttributeValue(u"type"), u"first");
  EXPECT_EQ(element.GetAttributeValue(u"Type"), u"");
  EXPECT_EQ(element.GetAttributeValueAt(2), u"second");
  EXPECT_EQ(element.GetAttributeValueAt(3), u"");
  EXPECT_EQ(element.GetAttributeValueAt(-1), u"");
}

TEST(CElementXTest, AddedAttributesCarryKindAndDefaults) {
  CElementX element;
  element.AddCharAttribute(u'Z');
  EXPECT_EQ(element.AddAttribute(u"formatX", u"v", 1), 1);
  EXPECT_EQ(element.AddBlankAttribute(), 2);

  const std::vector<CAttributeX>& attributes = element.GetAttributes();
  ASSERT_EQ(attributes.size(), 3u);
  EXPECT_EQ(attributes[0].m_name, u"Z");
  EXPECT_EQ(attributes[0].m_value, u"");
  EXPECT_EQ(attributes[0].m_kind, 2);
  EXPECT_EQ(attributes[1].m_kind, 1);
  EXPECT_TRUE(attributes[2].m_name.empty());
  EXPECT_EQ(attributes[2].m_kind, 2);
  for (const CAttributeX& attribute : attributes) {
    EXPECT_FALSE(attribute.m_noValue);
    EXPECT_EQ(attribute.m_mark, 0);
  }
  EXPECT_TRUE(element.HasAttributes());
  EXPECT_EQ(element.FindAttribute(u""), 2);
}

TEST(CElementXTest, FindAttributeByMarkFindsTheFirstMatch) {
  CElementX element;
  element.AddAttribute(u"a", u"", 2);
  element.AddAttribute(u"b", u"", 2);
  element.AddAttribute(u"c", u"", 2);
  element.GetAttributes()[1].m_mark = 'x';
  element.GetAttributes()[2].m_mark = 'x';
  EXPECT_EQ(element.FindAttributeByMark('x'), 1);
  EXPECT_EQ(element.FindAttributeByMark(0), 0);
  EXPECT_EQ(element.FindAttributeByMark('y'), -1);
}

TEST(CElementXTest, SetModifiedEmptiesSourceTextOnlyWhenSet) {
  CElementX element;
  element.SetSourceText(u"<a>");
  element.SetModified(false);
  EXPECT_EQ(element.GetSourceText(), u"<a>");
  EXPECT_FALSE(element.IsModified());
  element.SetModified(true);
  EXPECT_TRUE(element.GetSourceText().empty());
  EXPECT_TRUE(element.IsModified());
}

TEST(CElementXTest, RebuildSourceTextWritesTheMarkupOfEveryTagType) {
  struct Case {
    int tagType;
    const char16_t* expected;
  };
  const Case cases[] = {
      {kTagOpen, u"<x k=\"v\">"},    {kTagPairedOpen, u"<x k=\"v\">"},
      {kTagClose, u"</x k=\"v\">"},  {kTagPairedClose, u"</x k=\"v\">"},
      {kTagSingle, u"<x k=\"v\"/>"}, {0, u"<x k=\"v\"/>"},
      {12345, u"<x k=\"v\"/>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tagType);
    CElementX element;
    element.SetName(u"x");
    element.SetTagType(c.tagType);
    element.AddAttribute(u"k", u"v", 2);
    element.SetModified(true);
    EXPECT_EQ(Printable(element.RebuildSourceText()), Printable(c.expected));
    EXPECT_EQ(element.GetSourceText(), c.expected);
    EXPECT_FALSE(element.IsModified());
  }
}

TEST(CElementXTest, RebuildSourceTextEdgeCases) {
  {
    SCOPED_TRACE("end tag without attributes");
    CElementX element;
    element.SetName(u"x");
    element.SetTagType(kTagClose);
    EXPECT_EQ(element.RebuildSourceText(), u"</x>");
  }
  {
    SCOPED_TRACE("empty-element tag");
    CElementX element;
    element.SetName(u"br");
    EXPECT_EQ(element.RebuildSourceText(), u"<br/>");
  }
  {
    SCOPED_TRACE("hidden attribute left out, values unescaped, bare attribute quoted");
    CElementX element;
    element.SetName(u"a");
    element.SetTagType(kTagOpen);
    element.AddAttribute(u"href", u"p q", 2);
    element.AddAttribute(kHiddenAttributeName, u"secret", 2);
    element.AddAttribute(u"t", u"say \"hi\" & <bye>", 2);
    element.AddAttribute(u"CL976P", u"shown", 2);
    element.GetAttributes().emplace_back(u"nowrap", u"", 2);
    element.GetAttributes().back().m_noValue = true;
    EXPECT_EQ(Printable(element.RebuildSourceText()),
              Printable(u"<a href=\"p q\" t=\"say \"hi\" & <bye>\" CL976P=\"shown\" nowrap=\"\">"));
  }
  {
    SCOPED_TRACE("only the hidden attribute");
    CElementX element;
    element.SetName(u"b");
    element.SetTagType(kTagPairedOpen);
    element.AddAttribute(kHiddenAttributeName, u"", 2);
    EXPECT_EQ(element.RebuildSourceText(), u"<b>");
  }
}

}  // namespace
}  // namespace tagvert
