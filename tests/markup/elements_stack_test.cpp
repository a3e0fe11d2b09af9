// Tagvert: tests of the element list (CElementsStackX): pair ids and tag pairing.
// SPDX-License-Identifier: Apache-2.0
#include "markup/elements_stack.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace tagvert {
namespace {

using Item = std::tuple<std::u16string, int, int>;  // name, TagType, PairId

void Fill(CElementsStackX& list, const std::vector<Item>& items) {
  for (const auto& [name, type, id] : items) {
    list.Push(new CElementX());
    list.back()->SetName(name);
    list.back()->SetTagType(type);
    list.back()->SetPairId(id);
  }
}

std::vector<std::pair<int, int>> TypesAndIds(const CElementsStackX& list, std::size_t from = 0) {
  std::vector<std::pair<int, int>> result;
  for (auto element = list.begin() + from; element != list.end(); ++element)
    if (*element != nullptr) result.emplace_back((*element)->GetTagType(), (*element)->GetPairId());
  return result;
}

// The pairing pass with its literal forward scans (quadratic); returns the new counter.
std::uint32_t ReferencePairTags(CElementsStackX& list, std::uint32_t counter) {
  auto next = [&] {
    if (++counter == 0xE000) counter = 0xF000;
    if (counter == 0xFFFB) counter = 100;
    return static_cast<int>(counter);
  };
  for (std::size_t i = 0; i < list.size(); ++i) {
    IElementX& item = *list[i];
    if (item.GetTagType() == kTagSingle) item.SetPairId(0);
    if (item.GetTagType() == kTagClose) item.SetPairId(next());
    if (item.GetTagType() == kTagOpen) {
      item.SetPairId(next());
      for (std::size_t j = i + 1, depth = 1; j < list.size(); ++j) {
        IElementX& other = *list[j];
        if (other.GetNameRef() != item.GetNameRef()) continue;
        if (other.GetTagType() == kTagOpen) ++depth;
        if (other.GetTagType() == kTagClose && --depth == 0) {
          other.SetPairId(item.GetPairId());
          other.SetTagType(kTagPairedClose);
          item.SetTagType(kTagPairedOpen);
          break;
        }
      }
    } else if (item.GetTagType() == kTagPairedOpen) {
      for (std::size_t j = i + 1; j < list.size(); ++j) {
        if (list[j]->GetPairId() != item.GetPairId()) continue;
        item.SetPairId(next());
        list[j]->SetPairId(item.GetPairId());
        break;
      }
    }
  }
  return counter;
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

TEST(CElementsStackXTest, PairTagsPairsByExactNameAndDepth) {
  const int o = kTagOpen, c = kTagClose, s = kTagSingle, po = kTagPairedOpen, pc = kTagPairedClose;
  CElementsStackX list;
  Fill(list, {{u"b", o, 0}, {u"b", o, 0}, {u"b", c, 0}, {u"b", c, 0}, {u"p", o, 0}});
  list.Push(nullptr);
  Fill(list, {{u"p", o, 0}, {u"p", c, 0}, {u"a", o, 0}, {u"A", c, 0}, {u"", s, 9}, {u"", 7, 9}});
  list.PairTags();
  const std::vector<std::pair<int, int>> expected = {{po, 101}, {po, 102}, {pc, 102}, {pc, 101},
                                                     {o, 103},  {po, 104}, {pc, 104}, {o, 105},
                                                     {c, 106},  {s, 0},    {7, 9}};
  EXPECT_EQ(TypesAndIds(list), expected);
}

// Few names, every tag type, paired tags whose ids collide with each other and with the ids
// handed out, counters near the wrap points; first and second run. Some lists are padded to
// 0x10000 elements, from where the implementation keeps its id index in a flat table.
TEST(CElementsStackXTest, PairTagsMatchesTheLiteralPassOnRandomLists) {
  std::mt19937 random(20240611);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  const char16_t* const names[] = {u"a", u"b", u"A", u"tu"};
  const int types[] = {kTagOpen,  kTagOpen,       kTagOpen,        kTagClose,  kTagClose,
                       kTagClose, kTagPairedOpen, kTagPairedClose, kTagSingle, 3};
  const int ids[] = {0, 100, 101, 102, 103, 0xDFFF, 0xF000, 0xF001, 0xFFF9, 0xFFFA};
  const std::uint32_t counters[] = {100, 0xDFF0, 0xDFFE, 0xFFF0, 0xFFF8, 0xFFFA};
  for (int round = 0; round < 2000; ++round) {
    const std::size_t padding = round % 400 == 0 ? 0x10000 : 0;
    std::vector<Item> items(padding, {u"", kTagSingle, 0});
    for (int i = pick(round % 10 == 0 ? 400 : 40); i > 0; --i)
      items.emplace_back(names[pick(4)], types[pick(10)], ids[pick(10)]);
    std::uint32_t counter = counters[pick(6)];
    CElementsStackX list, reference;
    Fill(list, items);
    Fill(reference, items);
    list.SetPairIdCounter(counter);
    for (int run = 1; run <= 2; ++run) {
      SCOPED_TRACE(testing::Message() << "round " << round << ", run " << run);
      counter = ReferencePairTags(reference, counter);
      list.PairTags();
      ASSERT_EQ(TypesAndIds(list, padding), TypesAndIds(reference, padding));
      ASSERT_EQ(list.GetPairIdCounter(), counter);
    }
  }
}

// The literal forward scans would take minutes here; the bound leaves room for sanitizers.
TEST(CElementsStackXTest, PairTagsIsNearLinearOnUnclosedAndDeeplyNestedTags) {
  auto seconds = [](CElementsStackX& list) {
    const auto start = std::chrono::steady_clock::now();
    list.PairTags();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  CElementsStackX unclosed, nested;
  Fill(unclosed, std::vector<Item>(200000, {u"p", kTagOpen, 0}));
  EXPECT_LT(seconds(unclosed), 6.0);
  EXPECT_EQ(unclosed.back()->GetTagType(), kTagOpen);
  constexpr std::size_t kPairs = 1000000;
  Fill(nested, std::vector<Item>(kPairs, {u"b", kTagOpen, 0}));
  Fill(nested, std::vector<Item>(kPairs, {u"b", kTagClose, 0}));
  EXPECT_LT(seconds(nested), 6.0);
  EXPECT_EQ(TypesAndIds(nested).back(), std::make_pair(kTagPairedClose, 101));
  EXPECT_EQ(nested[kPairs - 1]->GetPairId(), nested[kPairs]->GetPairId());
  EXPECT_LT(seconds(nested), 6.0);  // the second run renumbers every pair
}

}  // namespace
}  // namespace tagvert
