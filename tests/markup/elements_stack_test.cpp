// Tagvert: tests of the element list (CElementsStackX): pair ids and tag pairing.
// SPDX-License-Identifier: Apache-2.0
#include "support/elements_stack.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/growth.h"

namespace tagvert {
namespace {

// How many times as long as its linear baseline a near-linear pass may take (it is about 1 to 3
// times; a quadratic pass takes hundreds of times as long).
constexpr double kLinearMargin = 20.0;

// Name, tag type (none for a gap), pair id.
using Item = std::tuple<std::u16string, std::optional<TagType>, int>;

void Fill(CElementsStackX& list, const std::vector<Item>& items, bool gaps = true) {
  for (const auto& [name, type, id] : items) {
    if (!type && gaps) list.Push(nullptr);
    if (!type) continue;
    list.Push(new CElementX());
    list.back()->SetName(name);
    list.back()->SetTagType(*type);
    list.back()->SetPairId(id);
  }
}

std::vector<std::pair<int, int>> TypesAndIds(const CElementsStackX& list) {
  std::vector<std::pair<int, int>> result;
  for (const IElementX* e : list)
    if (e != nullptr) result.emplace_back(static_cast<int>(e->GetTagType()), e->GetPairId());
  return result;
}

// The pairing pass with its literal forward scans (quadratic).
void ReferencePairTags(CElementsStackX& list) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    IElementX& item = *list[i];
    if (item.GetTagType() == TagType::Single) item.SetPairId(0);
    if (item.GetTagType() == TagType::Close) item.SetPairId(list.NextPairId());
    if (item.GetTagType() == TagType::Open) {
      item.SetPairId(list.NextPairId());
      for (std::size_t j = i + 1, depth = 1; j < list.size(); ++j) {
        IElementX& other = *list[j];
        if (other.GetNameRef() != item.GetNameRef()) continue;
        if (other.GetTagType() == TagType::Open) ++depth;
        if (other.GetTagType() == TagType::Close && --depth == 0) {
          other.SetPairId(item.GetPairId());
          other.SetTagType(TagType::PairedClose);
          item.SetTagType(TagType::PairedOpen);
          break;
        }
      }
    } else if (item.GetTagType() == TagType::PairedOpen) {
      for (std::size_t j = i + 1; j < list.size(); ++j) {
        if (list[j]->GetPairId() != item.GetPairId()) continue;
        item.SetPairId(list.NextPairId());
        list[j]->SetPairId(item.GetPairId());
        break;
      }
    }
  }
}

TEST(CElementsStackXTest, NextPairIdSkipsTheReservedRangesAndWraps) {
  CElementsStackX list;
  EXPECT_EQ(list.NextPairId(), 101);
  const std::pair<std::uint32_t, int> cases[] = {
      {0xDFFE, 0xDFFF}, {0xDFFF, 0xF000}, {0xEFFF, 0xF000}, {0xFFF9, 0xFFFA}, {0xFFFA, 100}};
  for (const auto& [counter, next] : cases) {
    list.SetPairIdCounter(counter);
    EXPECT_EQ(list.NextPairId(), next) << counter;
  }
}

// Few names, every tag type and gaps, paired tags whose ids collide with each other and with the
// ids handed out, counters near the wrap points; first and second run. Some lists are padded to
// 0x10000 elements, from where the implementation keeps its id index in a flat table.
TEST(CElementsStackXTest, PairTagsMatchesTheLiteralPassOnRandomLists) {
  std::mt19937 random(20240611);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  const char16_t* const names[] = {u"a", u"b", u"A", u"tu"};
  // A value that no reader gives, and a gap.
  const std::optional<TagType> types[] = {
      TagType::Open,   TagType::Open,           TagType::Open,       TagType::Close,
      TagType::Close,  TagType::Close,          TagType::PairedOpen, TagType::PairedClose,
      TagType::Single, static_cast<TagType>(7), std::nullopt};
  const int ids[] = {0, 100, 101, 102, 103, 0xDFFF, 0xF000, 0xF001, 0xFFF9, 0xFFFA};
  const std::uint32_t counters[] = {100, 0xDFF0, 0xDFFE, 0xFFF0, 0xFFF8, 0xFFFA};
  for (int round = 0; round < 2000; ++round) {
    std::vector<Item> items(round % 50 == 0 ? 0x10000 : 0, {u"", TagType::Single, 0});
    for (int i = pick(round % 10 == 0 ? 400 : 40); i > 0; --i)
      items.emplace_back(names[pick(4)], types[pick(11)], ids[pick(10)]);
    CElementsStackX list, reference;
    Fill(list, items);
    Fill(reference, items, false);
    list.SetPairIdCounter(counters[pick(6)]);
    reference.SetPairIdCounter(list.GetPairIdCounter());
    for (int run = 1; run <= 2; ++run) {
      SCOPED_TRACE(testing::Message() << "round " << round << ", run " << run);
      ReferencePairTags(reference);
      list.PairTags();
      ASSERT_EQ(TypesAndIds(list), TypesAndIds(reference));
      ASSERT_EQ(list.GetPairIdCounter(), reference.GetPairIdCounter());
    }
  }
}

// More pairs than there are ids, so that ids come round within a run: the index then meets the
// entries an id was given the last time round, long behind the walk (adjacent pairs), and ones
// still ahead. The outer pair takes the run's first id (1001) for its partner at the end; when
// 1001 comes round, a pair whose end tag lies ahead takes it too; a lone paired start tag
// carrying 1001 right after that start tag finds that end tag, a later one finds the outer end.
TEST(CElementsStackXTest, PairTagsMatchesTheLiteralPassWhenIdsComeRound) {
  CElementsStackX ids;
  ids.SetPairIdCounter(1000);
  ids.NextPairId();
  int period = 1;
  while (ids.NextPairId() != 1001)
    ++period;
  std::mt19937 random(20261206);
  for (const bool around : {false, true}) {
    std::vector<Item> items;
    if (around) items.emplace_back(u"a", TagType::PairedOpen, 0xF001);
    for (int pair = 0; pair < period + 5000; ++pair) {
      const int id = 2000 + pair % 1000;
      if (!around) {
        if (pair % 997 == 0) {
          const TagType types[] = {TagType::Open, TagType::Close, TagType::Single};
          items.emplace_back(u"c", types[random() % 3], 0);
        }
        items.emplace_back(u"b", TagType::Open, 0);
        items.emplace_back(u"b", TagType::Close, 0);
        continue;
      }
      items.emplace_back(u"b", TagType::PairedOpen, id);
      if (pair == period - 1 || pair == period + 1000)
        items.emplace_back(u"c", TagType::PairedOpen, 1001);
      items.emplace_back(u"b", TagType::PairedClose, id);
    }
    if (around) items.emplace_back(u"a", TagType::PairedClose, 0xF001);
    CElementsStackX list, reference;
    Fill(list, items);
    Fill(reference, items);
    list.SetPairIdCounter(1000);
    reference.SetPairIdCounter(1000);
    for (int run = 1; run <= 3; ++run) {
      SCOPED_TRACE(testing::Message() << "around " << around << ", run " << run);
      ReferencePairTags(reference);
      list.PairTags();
      ASSERT_EQ(TypesAndIds(list), TypesAndIds(reference));
    }
  }
}

// The literal forward scans would take minutes here, hundreds of times as long as building the
// list (a linear baseline measured alongside, in processor time); near-linear pairing takes
// about as long as building.
TEST(CElementsStackXTest, PairTagsIsNearLinearOnUnclosedAndDeeplyNestedTags) {
  constexpr std::size_t kOpen = 200000, kPairs = 1000000;
  CElementsStackX list;
  const double building = test::CpuSeconds([&] {
    Fill(list, std::vector<Item>(kOpen, {u"p", TagType::Open, 0}));
    Fill(list, std::vector<Item>(kPairs, {u"b", TagType::Open, 0}));
    Fill(list, std::vector<Item>(kPairs, {u"b", TagType::Close, 0}));
  });
  const double pairing = test::CpuSeconds([&] {
    list.PairTags();
    list.PairTags();  // the second run renumbers every pair
  });
  EXPECT_LT(pairing, kLinearMargin * building);
  EXPECT_EQ(list[kOpen - 1]->GetTagType(), TagType::Open);
  EXPECT_EQ(list[kOpen + kPairs - 1]->GetPairId(), list[kOpen + kPairs]->GetPairId());
}

}  // namespace
}  // namespace tagvert
