// Tagvert: tests of the element list (CElementsStackX): ownership, pair ids and tag pairing.
// SPDX-License-Identifier: Apache-2.0
#include "markup/elements_stack.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace tagvert {
namespace {

// What one element of a test list is made of.
struct Item {
  std::u16string name;
  int tagType;
  int pairId = 0;
};

// The pairing pass exactly as described, with its forward scans: quadratic, used as the
// reference for the indexed implementation.
class CLiteralPairing {
 public:
  CLiteralPairing(std::vector<Item> items, std::uint32_t counter)
      : m_items(std::move(items)), m_counter(counter) {
    // Names never change during a run; numbering them keeps the scans of long lists cheap.
    std::map<std::u16string, int> numbers;
    for (const Item& item : m_items)
      m_nameNumbers.push_back(
          numbers.emplace(item.name, static_cast<int>(numbers.size())).first->second);
  }

  int Next() {
    ++m_counter;
    if (m_counter >= 0xE000 && m_counter <= 0xEFFF) m_counter = 0xF000;
    if (m_counter >= 0xFFFB && m_counter <= 0xFFFF) m_counter = 100;
    return static_cast<int>(m_counter);
  }

  void PairTags() {
    // Raw pointers keep the scans affordable in unoptimised sanitizer builds.
    Item* items = m_items.data();
    const int* names = m_nameNumbers.data();
    const std::size_t count = m_items.size();
    for (std::size_t i = 0; i < count; ++i) {
      Item& item = items[i];
      switch (item.tagType) {
        case kTagSingle:
          item.pairId = 0;
          break;
        case kTagClose:
          item.pairId = Next();
          break;
        case kTagOpen: {
          item.pairId = Next();
          int depth = 1;
          for (std::size_t j = i + 1; j < count; ++j) {
            Item& other = items[j];
            if (names[j] != names[i]) continue;
            if (other.tagType == kTagOpen) ++depth;
            if (other.tagType == kTagClose && --depth == 0) {
              other.pairId = item.pairId;
              item.tagType = kTagPairedOpen;
              other.tagType = kTagPairedClose;
              break;
            }
          }
          break;
        }
        case kTagPairedOpen:
          for (std::size_t j = i + 1; j < count; ++j) {
            if (items[j].pairId != item.pairId) continue;
            item.pairId = Next();
            items[j].pairId = item.pairId;
            break;
          }
          break;
        default:
          break;
      }
    }
  }

  std::vector<Item>& Items() { return m_items; }
  std::uint32_t Counter() const { return m_counter; }

 private:
  std::vector<Item> m_items;
  std::vector<int> m_nameNumbers;
  std::uint32_t m_counter;
};

void Fill(CElementsStackX& list, const std::vector<Item>& items) {
  for (const Item& item : items) {
    auto* element = new CElementX();
    element->SetName(item.name);
    element->SetTagType(item.tagType);
    element->SetPairId(item.pairId);
    list.Push(element);
  }
}

std::vector<Item> Snapshot(const CElementsStackX& list) {
  std::vector<Item> items;
  for (IElementX* element : list)
    items.push_back({element->GetName(), element->GetTagType(), element->GetPairId()});
  return items;
}

// Compares type and id at every position; stops at the first few differences.
void ExpectSameResult(const std::vector<Item>& expected, const std::vector<Item>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  int reported = 0;
  for (std::size_t i = 0; i < expected.size() && reported < 5; ++i) {
    if (expected[i].tagType == actual[i].tagType && expected[i].pairId == actual[i].pairId)
      continue;
    ADD_FAILURE() << "position " << i << ": expected type " << expected[i].tagType << " id "
                  << expected[i].pairId << ", got type " << actual[i].tagType << " id "
                  << actual[i].pairId;
    ++reported;
  }
}

// Builds a list from a compact notation: "<a" start tag, "</a" end tag, "-" single item.
std::vector<Item> Parse(std::initializer_list<const char16_t*> tokens) {
  std::vector<Item> items;
  for (std::u16string token : tokens) {
    if (token.starts_with(u"</")) {
      items.push_back({token.substr(2), kTagClose});
    } else if (token.starts_with(u"<")) {
      items.push_back({token.substr(1), kTagOpen});
    } else {
      items.push_back({u"", kTagSingle, 55});
    }
  }
  return items;
}

class CountingElement : public CElementX {
 public:
  explicit CountingElement(int* destroyed) : m_destroyed(destroyed) {}
  ~CountingElement() override { ++*m_destroyed; }

 private:
  int* m_destroyed;
};

TEST(CElementsStackXTest, OwnsAndDestroysItsElementsSkippingNullEntries) {
  int destroyed = 0;
  {
    CElementsStackX list;
    EXPECT_TRUE(list.Push(new CountingElement(&destroyed)));
    EXPECT_TRUE(list.Push(nullptr));
    EXPECT_TRUE(list.Push(new CountingElement(&destroyed)));
    EXPECT_EQ(list.size(), 3u);
  }
  EXPECT_EQ(destroyed, 2);
}

TEST(CElementsStackXTest, NextPairIdStartsAt101AndSkipsTheReservedRanges) {
  CElementsStackX list;
  EXPECT_EQ(list.GetPairIdCounter(), 100u);
  EXPECT_EQ(list.NextPairId(), 101);
  EXPECT_EQ(list.NextPairId(), 102);

  struct Case {
    std::uint32_t counter;
    std::uint16_t next;
  };
  const Case cases[] = {
      {0xDFFE, 0xDFFF}, {0xDFFF, 0xF000}, {0xE000, 0xF000}, {0xEFFE, 0xF000},
      {0xEFFF, 0xF000}, {0xF000, 0xF001}, {0xFFF9, 0xFFFA}, {0xFFFA, 100},
      {0xFFFB, 100},    {0xFFFE, 100},    {99, 100},        {0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.counter);
    list.SetPairIdCounter(c.counter);
    EXPECT_EQ(list.NextPairId(), c.next);
    EXPECT_EQ(list.GetPairIdCounter(), c.next);
  }
  list.SetPairIdCounter(0xFFFA);
  EXPECT_EQ(list.NextPairId(), 100);
  EXPECT_EQ(list.NextPairId(), 101);
}

TEST(CElementsStackXTest, NextPairIdNeverEntersTheReservedRanges) {
  CElementsStackX list;
  for (int i = 0; i < 0x20000; ++i) {
    const std::uint16_t id = list.NextPairId();
    ASSERT_FALSE(id >= 0xE000 && id <= 0xEFFF) << id;
    ASSERT_LT(id, 0xFFFB);
    ASSERT_GE(id, 100);
  }
}

TEST(CElementsStackXTest, PairTagsOnAnEmptyListDoesNothing) {
  CElementsStackX list;
  list.PairTags();
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.GetPairIdCounter(), 100u);
}

TEST(CElementsStackXTest, PairTagsEdgeCases) {
  struct Case {
    const char* title;
    std::vector<Item> input;
    std::vector<Item> expected;
  };
  const int o = kTagOpen, c = kTagClose, s = kTagSingle, po = kTagPairedOpen, pc = kTagPairedClose;
  const Case cases[] = {
      {"nested same names pair inside out",
       Parse({u"<b", u"<b", u"</b", u"</b"}),
       {{u"b", po, 101}, {u"b", po, 102}, {u"b", pc, 102}, {u"b", pc, 101}}},
      {"the first of two start tags stays open",
       Parse({u"<p", u"<p", u"</p"}),
       {{u"p", o, 101}, {u"p", po, 102}, {u"p", pc, 102}}},
      {"names compare with case", Parse({u"<a", u"</A"}), {{u"a", o, 101}, {u"A", c, 102}}},
      {"single items get 0, unpaired end tags an id of their own",
       Parse({u"-", u"</x", u"<y", u"-", u"</y", u"</y"}),
       {{u"", s, 0},
        {u"x", c, 101},
        {u"y", po, 102},
        {u"", s, 0},
        {u"y", pc, 102},
        {u"y", c, 103}}},
      {"other names do not change the depth",
       Parse({u"<a", u"<b", u"</a", u"</b"}),
       {{u"a", po, 101}, {u"b", po, 102}, {u"a", pc, 101}, {u"b", pc, 102}}},
      {"ids follow the start tags in document order",
       Parse({u"<a", u"<b", u"</b", u"</a", u"<c", u"</c"}),
       {{u"a", po, 101},
        {u"b", po, 102},
        {u"b", pc, 102},
        {u"a", pc, 101},
        {u"c", po, 103},
        {u"c", pc, 103}}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.title);
    CElementsStackX list;
    Fill(list, tc.input);
    list.PairTags();
    ExpectSameResult(tc.expected, Snapshot(list));
  }
}

TEST(CElementsStackXTest, OtherTagTypesAreLeftAlone) {
  CElementsStackX list;
  Fill(list, {{u"a", kTagOpen}, {u"a", 7, 33}, {u"a", kTagPairedClose, 44}, {u"a", kTagClose}});
  list.PairTags();
  ExpectSameResult({{u"a", kTagPairedOpen, 101},
                    {u"a", 7, 33},
                    {u"a", kTagPairedClose, 44},
                    {u"a", kTagPairedClose, 101}},
                   Snapshot(list));
}

TEST(CElementsStackXTest, SecondRunGivesEveryPairAFreshId) {
  CElementsStackX list;
  Fill(list, Parse({u"<a", u"<b", u"</b", u"-", u"</a", u"</c"}));
  list.PairTags();
  list.PairTags();
  // First run: a 101, b 102, c 103. Second run: a 104, b 105; the unpaired end tag and the
  // single item are not renumbered by a paired start tag.
  ExpectSameResult({{u"a", kTagPairedOpen, 104},
                    {u"b", kTagPairedOpen, 105},
                    {u"b", kTagPairedClose, 105},
                    {u"", kTagSingle, 0},
                    {u"a", kTagPairedClose, 104},
                    {u"c", kTagClose, 106}},
                   Snapshot(list));
}

TEST(CElementsStackXTest, PairTagsWrapsIdsAfterTheLastValue) {
  CElementsStackX list;
  Fill(list, Parse({u"<a", u"</a", u"<b", u"</b", u"<c", u"</c"}));
  list.SetPairIdCounter(0xFFF9);
  list.PairTags();
  ExpectSameResult({{u"a", kTagPairedOpen, 0xFFFA},
                    {u"a", kTagPairedClose, 0xFFFA},
                    {u"b", kTagPairedOpen, 100},
                    {u"b", kTagPairedClose, 100},
                    {u"c", kTagPairedOpen, 101},
                    {u"c", kTagPairedClose, 101}},
                   Snapshot(list));
}

TEST(CElementsStackXTest, RenumberingSeesIdsGivenEarlierInTheSameRun) {
  // After the wrap the first pair gets id 100, which the third pair carries already; the
  // third pair's start tag then finds the second end tag of id 100 in front of its own.
  CElementsStackX list;
  Fill(list, {{u"x", kTagPairedOpen, 7},
              {u"y", kTagPairedOpen, 100},
              {u"x", kTagPairedClose, 7},
              {u"z", kTagSingle, 100},
              {u"y", kTagPairedClose, 100}});
  list.SetPairIdCounter(0xFFFA);
  CLiteralPairing reference(Snapshot(list), 0xFFFA);
  list.PairTags();
  reference.PairTags();
  // x: 7 -> 100 (its end tag too). y: finds the end tag of x, now carrying 100, so both get 101
  // and y's own end tag keeps 100. z is single: 0.
  ExpectSameResult({{u"x", kTagPairedOpen, 100},
                    {u"y", kTagPairedOpen, 101},
                    {u"x", kTagPairedClose, 101},
                    {u"z", kTagSingle, 0},
                    {u"y", kTagPairedClose, 100}},
                   Snapshot(list));
  ExpectSameResult(reference.Items(), Snapshot(list));
}

TEST(CElementsStackXTest, NullEntriesAreSkipped) {
  CElementsStackX list;
  Fill(list, Parse({u"<a"}));
  list.Push(nullptr);
  Fill(list, Parse({u"</a"}));
  list.PairTags();
  EXPECT_EQ(list[0]->GetTagType(), kTagPairedOpen);
  EXPECT_EQ(list[2]->GetTagType(), kTagPairedClose);
  EXPECT_EQ(list[2]->GetPairId(), 101);
}

// Random lists: few names so that scans meet many candidates, every TagType, already paired
// tags carrying ids that collide with each other and with the ids the run hands out.
class CRandomLists {
 public:
  explicit CRandomLists(unsigned seed) : m_random(seed) {}

  std::vector<Item> Make(std::size_t length) {
    static const char16_t* const kNames[] = {u"a", u"b", u"A", u"tu"};
    std::vector<Item> items;
    for (std::size_t i = 0; i < length; ++i) {
      Item item{kNames[Pick(4)], kTagSingle, Id()};
      switch (Pick(10)) {
        case 0:
        case 1:
        case 2:
          item.tagType = kTagOpen;
          break;
        case 3:
        case 4:
        case 5:
          item.tagType = kTagClose;
          break;
        case 6:
          item.tagType = kTagPairedOpen;
          break;
        case 7:
          item.tagType = kTagPairedClose;
          break;
        case 8:
          item.tagType = Pick(2) == 0 ? 0 : 3;
          break;
        default:
          break;
      }
      items.push_back(item);
    }
    return items;
  }

  // Changes some items between two runs, as later passes do.
  void Disturb(std::vector<Item>& items) {
    for (Item& item : items) {
      if (Pick(8) != 0) continue;
      const int what = Pick(4);
      if (what == 0) item.tagType = kTagOpen;
      if (what == 1) item.tagType = kTagClose;
      if (what == 2) item.pairId = Id();
      if (what == 3) item.tagType = kTagSingle;
    }
  }

  std::uint32_t Counter() {
    static const std::uint32_t kStarts[] = {100, 0xDFF0, 0xDFFE, 0xFFF0, 0xFFF8, 0xFFFA};
    return kStarts[Pick(6)];
  }

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

 private:
  int Id() {
    static const int kIds[] = {0, 100, 101, 102, 103, 0xDFFF, 0xF000, 0xF001, 0xFFF9, 0xFFFA};
    return kIds[Pick(10)];
  }

  std::mt19937 m_random;
};

TEST(CElementsStackXTest, PairTagsMatchesTheLiteralPassOnRandomLists) {
  CRandomLists random(20240611);
  for (int round = 0; round < 3000; ++round) {
    const std::size_t length = static_cast<std::size_t>(random.Pick(round % 10 == 0 ? 400 : 40));
    const std::uint32_t counter = random.Counter();
    const std::vector<Item> items = random.Make(length);
    SCOPED_TRACE("round " + std::to_string(round) + ", counter " + std::to_string(counter));

    CLiteralPairing reference(items, counter);
    CElementsStackX list;
    Fill(list, items);
    list.SetPairIdCounter(counter);

    reference.PairTags();
    list.PairTags();
    {
      SCOPED_TRACE("first run");
      ExpectSameResult(reference.Items(), Snapshot(list));
      ASSERT_EQ(reference.Counter(), list.GetPairIdCounter());
    }

    reference.PairTags();
    list.PairTags();
    {
      SCOPED_TRACE("second run");
      ExpectSameResult(reference.Items(), Snapshot(list));
      ASSERT_EQ(reference.Counter(), list.GetPairIdCounter());
    }

    // A third run after changes in between, from a fresh list with the changed state.
    std::vector<Item> changed = reference.Items();
    random.Disturb(changed);
    CLiteralPairing changedReference(changed, reference.Counter());
    CElementsStackX changedList;
    Fill(changedList, changed);
    changedList.SetPairIdCounter(reference.Counter());
    changedReference.PairTags();
    changedList.PairTags();
    {
      SCOPED_TRACE("run after changes");
      ExpectSameResult(changedReference.Items(), Snapshot(changedList));
    }
    if (HasFailure()) return;
  }
}

TEST(CElementsStackXTest, PairTagsMatchesTheLiteralPassOnALongList) {
  // Long enough for the id index to use its flat table. Made of short random stretches, which
  // keeps most pairs short and the literal pass affordable under sanitizers.
  CRandomLists random(77);
  std::vector<Item> items;
  while (items.size() < 70000) {
    const std::vector<Item> stretch = random.Make(40);
    items.insert(items.end(), stretch.begin(), stretch.end());
  }
  CLiteralPairing reference(items, 0xFFF0);
  CElementsStackX list;
  Fill(list, items);
  list.SetPairIdCounter(0xFFF0);
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    reference.PairTags();
    list.PairTags();
    ExpectSameResult(reference.Items(), Snapshot(list));
    EXPECT_EQ(reference.Counter(), list.GetPairIdCounter());
  }
}

double SecondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The forward scans would take minutes on these lists. The bounds leave room for a loaded
// machine; sanitizers slow every memory access several times.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kPairTagsBound = 6.0;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr double kPairTagsBound = 6.0;
#else
constexpr double kPairTagsBound = 2.0;
#endif
#else
constexpr double kPairTagsBound = 2.0;
#endif

TEST(CElementsStackXTest, PairTagsIsFastOnManyUnclosedStartTags) {
  constexpr std::size_t kCount = 200000;
  CElementsStackX list;
  for (std::size_t i = 0; i < kCount; ++i) {
    auto* element = new CElementX();
    element->SetName(u"p");
    element->SetTagType(kTagOpen);
    list.Push(element);
  }
  const double first = SecondsOf([&] { list.PairTags(); });
  EXPECT_LT(first, kPairTagsBound);
  EXPECT_EQ(list.front()->GetTagType(), kTagOpen);
  EXPECT_EQ(list.back()->GetTagType(), kTagOpen);
  EXPECT_EQ(list[1]->GetPairId(), 102);
  std::printf("[ timing   ] 200000 unclosed start tags: %.3f s\n", first);
}

TEST(CElementsStackXTest, PairTagsIsFastOnDeeplyNestedPairs) {
  constexpr std::size_t kPairs = 1000000;
  CElementsStackX list;
  list.reserve(2 * kPairs);
  for (std::size_t i = 0; i < 2 * kPairs; ++i) {
    auto* element = new CElementX();
    element->SetName(u"b");
    element->SetTagType(i < kPairs ? kTagOpen : kTagClose);
    list.Push(element);
  }
  const double first = SecondsOf([&] { list.PairTags(); });
  EXPECT_LT(first, kPairTagsBound);
  // The outermost pair: the first start tag with the last end tag, both with id 101.
  EXPECT_EQ(list.front()->GetTagType(), kTagPairedOpen);
  EXPECT_EQ(list.back()->GetTagType(), kTagPairedClose);
  EXPECT_EQ(list.front()->GetPairId(), 101);
  EXPECT_EQ(list.back()->GetPairId(), 101);
  EXPECT_EQ(list[kPairs - 1]->GetPairId(), list[kPairs]->GetPairId());

  // The second run renumbers through the id index. Ids repeat every 61,000 or so pairs, so a
  // start tag may now share its id with a deeper start tag instead of its end tag, as the
  // forward search would give too; only the time is checked here, the results are checked
  // against the literal pass on the random lists.
  const double second = SecondsOf([&] { list.PairTags(); });
  EXPECT_LT(second, kPairTagsBound);
  EXPECT_EQ(list.front()->GetTagType(), kTagPairedOpen);
  std::printf("[ timing   ] 1000000 nested pairs: first run %.3f s, second run %.3f s\n", first,
              second);
}

}  // namespace
}  // namespace tagvert
