// Tagvert: tests of the TTX pass over ut placeholders (CTTXStackProcessor).
// SPDX-License-Identifier: Apache-2.0
#include "structure/ttx_stack_processor.h"

#include <gtest/gtest.h>

#include <string>

#include "structure/structure_test_support.h"

namespace tagvert {
namespace {

using test::Printable;

// Each ut as the collapsing of skipped blocks leaves it: one markup element with its attributes.
TEST(CTTXStackProcessorTest, UtItemsAreNamedTypedAndPairedByDisplayText) {
  const struct {
    const char16_t* document;
    const char* resolved;  // per element: Name/UpperName, type (o c O C or -), pair id, B for block
  } cases[] = {
      {u"<ut Type=\"start\" DisplayText=\"b\"/>bold<ut Type=\"end\" DisplayText=\"b\"/>",
       "b/B o101|/ -0|b/B c101"},
      {u"<ut Type=\"start\" DisplayText=\"b\"/><ut Type=\"end\" DisplayText=\"i\"/>",
       "b/B O101|i/I C102"},
      {u"<ut Type=\"start\" DisplayText=\"b\"/><ut Type=\"start\" DisplayText=\"i\"/>"
       u"<ut Type=\"end\" DisplayText=\"i\"/><ut Type=\"end\" DisplayText=\"b\"/>",
       "b/B o101|i/I o102|i/I c102|b/B c101"},
      // Type compares exactly; a start tag whose Type says nothing becomes standalone.
      {u"<ut Type=\"Start\"><ut Type=\"END\"/><ut Type=\"\"/><ut type=\"start\"/>"
       u"<ut Type=\"end\" Type=\"start\"/>",
       "ut/UT -0|ut/UT -0|ut/UT -0|ut/UT -0|ut/UT C102"},
      {u"<ut Style=\"external\"/><ut Style=\"External\"/><ut style=\"external\"/>",
       "ut/UT -0B|ut/UT -0|ut/UT -0"},
      {u"<UT Type=\"start\" DisplayText=\"b\" Style=\"external\"/><Ut Type=\"start\"/>",
       "UT/UT -0|Ut/UT -0"},
      {u"<ut DisplayText=\"\u00F1and\u00FA-\u0436x1\"/>",
       "\\u00F1and\\u00FA-\\u0436x1/\\u00F1AND\\u00FA-\\u0436X1 -0"},
      {u"<ut Type=\"start\"/><ut Type=\"end\" displaytext=\"x\"/>", "ut/UT o101|ut/UT c101"},
      // The second pairing renumbers the pairs of the first.
      {u"<Raw><df><ut Type=\"start\" DisplayText=\"b\"/></df><ut Type=\"end\" "
       u"DisplayText=\"b\"/></Raw>",
       "Raw/RAW o103|df/DF o104|b/B o105|df/DF c104|b/B c105|Raw/RAW c103"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Printable(c.document));
    auto list = test::ReadPaired(c.document);
    CTTXStackProcessor().ResolveUtTags(*list);
    std::string resolved;
    for (const IElementX* e : *list) {
      resolved +=
          test::Cat(resolved.empty() ? "" : "|", Printable(e->GetName()), "/",
                    Printable(e->GetUpperName()), " ", test::TypeLetter(e->GetTagType(), "-"),
                    std::to_string(e->GetPairId()), e->GetRuleType() == kRuleBlock ? "B" : "");
    }
    EXPECT_EQ(resolved, c.resolved);
  }
}

}  // namespace
}  // namespace tagvert
