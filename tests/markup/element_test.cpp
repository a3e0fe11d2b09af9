// Tagvert: tests of the element and attribute model (CElementX, CAttributeX).
// SPDX-License-Identifier: Apache-2.0
#include "markup/element.h"

#include <gtest/gtest.h>

namespace tagvert {
namespace {

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
  EXPECT_TRUE(element.GetAttributes().empty());
  EXPECT_EQ(copy.GetTransMethod(), u"mt");  // copies carry their own
}

}  // namespace
}  // namespace tagvert
