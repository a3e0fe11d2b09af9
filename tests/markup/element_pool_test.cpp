// Tagvert: tests of the element pool: which elements it serves, reuse, heap elements destroyed
// while a pool lives, nesting.
// SPDX-License-Identifier: Apache-2.0
#include "markup/element_pool.h"

#include <gtest/gtest.h>

#include <memory>

#include "markup/element.h"

namespace tagvert {
namespace {

TEST(CElementPoolTest, ServesElementsOfItsThreadAndReusesThem) {
  if (!CElementPool::IsEnabled()) GTEST_SKIP() << "elements come from the heap in this build";
  // Made before any pool: from the heap, and given back to it while a pool lives.
  std::unique_ptr<IElementX> before(new CElementX());
  CElementPool outer;
  std::unique_ptr<IElementX> a(new CElementX());
  IElementX* const aAddress = a.get();
  a->GetSourceTextRef() = u"a text longer than the short-string buffer";
  before.reset();
  a.reset();
  // The freed slot is served again, in its initial state.
  std::unique_ptr<IElementX> b(new CElementX());
  EXPECT_EQ(b.get(), aAddress);
  EXPECT_EQ(b->GetSourceTextRef(), u"");
  EXPECT_EQ(b->GetTagType(), TagType::Single);
  EXPECT_EQ(outer.GetServedCount(), 2u);
  {
    // The newest pool serves; an element of the outer pool destroyed meanwhile goes back to it.
    CElementPool inner;
    std::unique_ptr<IElementX> c(new CElementX());
    b.reset();
    EXPECT_EQ(inner.GetServedCount(), 1u);
  }
  // Many elements: blocks are added as needed and every element is distinct.
  std::vector<std::unique_ptr<IElementX>> many;
  for (int i = 0; i < 5000; ++i) {
    many.emplace_back(new CElementX());
    many.back()->SetPairId(i);
  }
  for (int i = 0; i < 5000; ++i)
    EXPECT_EQ(many[static_cast<std::size_t>(i)]->GetPairId(), i);
  EXPECT_EQ(outer.GetServedCount(), 5002u);
}

}  // namespace
}  // namespace tagvert
