// Tagvert: tests of the element and attribute model (CElementX, CAttributeX).
// SPDX-License-Identifier: Apache-2.0
#include "markup/element.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

namespace tagvert {
namespace {

TEST(CElementXTest, RebuildSourceTextWritesTagsFromNameTypeAndAttributes) {
  // clang-format off
  const std::tuple<int, std::vector<CAttributeX>, const char16_t*> cases[] = {
      {kTagClose, {}, u"</x>"}, {kTagPairedClose, {}, u"</x>"}, {kTagPairedOpen, {}, u"<x>"},
      {kTagSingle, {}, u"<x/>"}, {12345, {}, u"<x/>"},
      {kTagOpen, {{u"href", u"p q", 2}, {kHiddenAttributeName, u"v", 2}, {u"t", u"\"hi\" & <", 2},
                  {u"CL976P", u"shown", 2}, {u"nowrap", u"", 2}},
       u"<x href=\"p q\" t=\"\"hi\" & <\" CL976P=\"shown\" nowrap=\"\">"}};
  // clang-format on
  for (const auto& [tagType, attributes, expected] : cases) {
    SCOPED_TRACE(tagType);
    CElementX element;
    element.SetName(u"x");
    element.SetTagType(tagType);
    element.GetAttributes() = attributes;
    for (CAttributeX& attribute : element.GetAttributes())
      attribute.m_noValue = attribute.m_value.empty();  // still written with empty quotes
    element.SetModified(true);
    EXPECT_EQ(element.RebuildSourceText(), expected);
    EXPECT_EQ(element.GetSourceText(), expected);
    EXPECT_FALSE(element.IsModified());
  }
}

TEST(CElementXTest, AttributeLookupModifiedAndReset) {
  CElementX element;
  element.AddAttribute(u"Lang", u"EN", 2);
  element.AddAttribute(u"type", u"first", 2);
  EXPECT_EQ(element.AddAttribute(u"type", u"second", 2), 2);
  const std::pair<const char16_t*, int> lookups[] = {
      {u"Lang", 0}, {u"lang", -1}, {u"type", 1}, {u"TYPE", -1}, {u"", -1}};
  for (const auto& [name, index] : lookups) {
    SCOPED_TRACE(testing::PrintToString(name));
    EXPECT_EQ(element.FindAttribute(name), index);
    EXPECT_EQ(element.GetAttributeValue(name), element.GetAttributeValueAt(index));
  }
  EXPECT_EQ(element.GetAttributeValue(u"type"), u"first");

  element.SetSourceText(u"<a>");
  element.SetModified(false);
  EXPECT_EQ(element.GetSourceText(), u"<a>");
  element.SetModified(true);
  EXPECT_EQ(element.GetSourceText(), u"");

  element.SetTagType(kTagPairedOpen);
  element.SetSemantic(3);
  element.AppendPropertyCode(0xE001);
  element.SetTransMethod(u"m");
  element.Reset();
  EXPECT_EQ(element.GetTagType(), kTagSingle);
  EXPECT_EQ(element.GetSemantic(), -1);
  EXPECT_FALSE(element.HasAttributes());
  EXPECT_FALSE(element.IsModified());
  EXPECT_EQ(element.GetPropertyCodes(), std::u16string(1, 0xE001));
  EXPECT_EQ(element.GetTransMethod(), u"m");
}

}  // namespace
}  // namespace tagvert
