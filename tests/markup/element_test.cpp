// Tagvert: tests of the element and attribute model (CElementX, CAttributeX).
// SPDX-License-Identifier: Apache-2.0
#include "markup/element.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace tagvert {
namespace {

TEST(CElementXTest, RebuildSourceTextWritesTagsFromNameTypeAndAttributes) {
  // clang-format off
  const std::tuple<TagType, std::vector<CAttributeX>, const char16_t*> cases[] = {
      {TagType::Close, {}, u"</x>"}, {TagType::PairedClose, {}, u"</x>"}, {TagType::PairedOpen, {}, u"<x>"},
      {TagType::Single, {}, u"<x/>"}, {static_cast<TagType>(7), {}, u"<x/>"},
      {TagType::Open, {{u"href", u"p q", 2}, {kHiddenAttributeName, u"v", 2}, {u"t", u"\"hi\" & <", 2},
                  {u"CL976P", u"shown", 2}, {u"nowrap", u"", 2}},
       u"<x href=\"p q\" t=\"\"hi\" & <\" CL976P=\"shown\" nowrap=\"\">"}};
  // clang-format on
  for (const auto& [tagType, attributes, expected] : cases) {
    CElementX element;
    element.SetName(u"x");
    element.SetTagType(tagType);
    element.GetAttributes() = attributes;
    for (CAttributeX& attribute : element.GetAttributes())
      attribute.m_noValue = attribute.m_value.empty();  // still written with empty quotes
    element.SetModified(true);
    EXPECT_EQ(element.RebuildSourceText(), expected) << static_cast<int>(tagType);
    EXPECT_EQ(element.GetSourceText(), expected);
    EXPECT_FALSE(element.IsModified());
  }
}

TEST(CElementXTest, ResetKeepsPropertyCodesAndTransMethod) {
  CElementX element;
  element.AppendPropertyCode(u'\uE002');
  element.SetTransMethod(u"mt");
  element.SetSemantic(4);
  element.AddAttribute(u"a", u"b", 2);
  const CElementX copy = element;
  element.Reset();
  EXPECT_EQ(element.GetPropertyCodes(), u"\uE002");
  EXPECT_EQ(element.GetTransMethod(), u"mt");
  EXPECT_EQ(element.GetSemantic(), -1);
  EXPECT_FALSE(element.HasAttributes());
  EXPECT_EQ(copy.GetTransMethod(), u"mt");  // copies carry their own
}

}  // namespace
}  // namespace tagvert
