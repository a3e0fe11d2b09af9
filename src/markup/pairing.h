// Tagvert: the tag pairing walk, shared by the element list and the element table.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "markup/element_table.h"
#include "storage/large_memory.h"

namespace tagvert::detail {

/// Ids never enter the IF markup range U+E000..U+EFFF nor U+FFFB..U+FFFF; after 0xFFFA the
/// counter starts again at 100. Advances `counter` to the next id and returns it.
inline std::uint16_t NextPairId(std::uint32_t& counter) {
  constexpr std::uint32_t kReservedFirst = 0xE000;
  constexpr std::uint32_t kReservedLast = 0xEFFF;
  constexpr std::uint32_t kAfterReserved = 0xF000;
  constexpr std::uint32_t kWrapFirst = 0xFFFB;
  constexpr std::uint32_t kWrapLast = 0xFFFF;
  constexpr std::uint32_t kWrapTo = 100;
  ++counter;
  if (counter >= kReservedFirst && counter <= kReservedLast) counter = kAfterReserved;
  if (counter >= kWrapFirst && counter <= kWrapLast) counter = kWrapTo;
  return static_cast<std::uint16_t>(counter);
}

/// No partner: the largest position of the position type.
template <class Position>
inline constexpr Position kNoPartner = std::numeric_limits<Position>::max();

// The walk works on a list through an accessor `L` with:
//   using Position = ...;  // an unsigned type that holds every position (and one more value)
//   std::size_t Size() const;
//   bool Present(std::size_t i) const;  // false for a gap
//   std::optional<TagType> Type(std::size_t i) const;  // nothing for a gap or another value
//   void SetType(std::size_t i, TagType type);
//   int PairId(std::size_t i) const;
//   void SetPairId(std::size_t i, int id);
//   std::vector<Position>& OpenStack(std::size_t i);  // the stack of element i's name
//   std::uint16_t NextPairId();
//   void CheckStop() const;

/// For every TagOpen, the position of the end tag that the forward depth scan would choose, or
/// kNoPartner: a start tag is pushed on the stack of its name, an end tag pops the innermost
/// open start tag of its name. Also finds the first TagPairedOpen.
template <class L, class Partners, class Position = typename L::Position>
void MatchOpenTags(L& list, Partners& partner, Position& firstPairedOpen,
                   bool& pairedOpenWithoutId) {
  firstPairedOpen = kNoPartner<Position>;
  pairedOpenWithoutId = false;
  partner.assign(list.Size(), kNoPartner<Position>);
  for (Position i = 0; i < list.Size(); ++i) {
    list.CheckStop();
    const std::optional<TagType> type = list.Type(i);
    if (!type) continue;
    if (*type == TagType::Open) {
      list.OpenStack(i).push_back(i);
    } else if (*type == TagType::Close) {
      std::vector<Position>& stack = list.OpenStack(i);
      if (stack.empty()) continue;
      partner[stack.back()] = i;
      stack.pop_back();
    } else if (*type == TagType::PairedOpen) {
      if (firstPairedOpen == kNoPartner<Position>) firstPairedOpen = i;
      if (list.PairId(i) == 0) pairedOpenWithoutId = true;
    }
  }
}

/// Positions still ahead of the pairing walk, grouped by the PairId they carry. An entry is
/// valid while its position lies ahead of the walk and the element there still carries the
/// group's id. Every change of an id ahead of the walk adds an entry, so the valid entries of a
/// group are exactly the positions ahead carrying that id.
/// Ids are 16-bit values in practice: on long lists the positions found at the start lie in one
/// array sorted by id and then position (a counting sort), each group read front to back through
/// a cursor, and the positions added later sit in one slot per id (nearly every id is given to
/// one partner ahead) and, beyond that, in a min-heap per id; a lookup takes the smallest of the
/// first valid entries. On short lists, and for any other id value, each group is one min-heap in
/// a map. Invalid entries are dropped as the lookups meet them.
template <class L, class Position = typename L::Position>
class CPairIdIndex {
 public:
  // Id 0 (text runs and single items) is searched for only when a paired start tag carries it
  // at the start of the run; new ids are never 0.
  CPairIdIndex(L& list, Position from, bool withZero) : m_list(list) {
    const auto counted = [&](Position i) {
      return list.Present(i) && (list.PairId(i) != 0 || withZero);
    };
    if (list.Size() < kSmallIds) {
      for (Position i = from; i < list.Size(); ++i) {
        list.CheckStop();
        // Positions are added in ascending order, which already is a valid min-heap.
        if (counted(i)) m_other[list.PairId(i)].push_back(i);
      }
      return;
    }
    m_groupStart.assign(kSmallIds + 1, 0);
    for (Position i = from; i < list.Size(); ++i) {
      list.CheckStop();
      if (!counted(i)) continue;
      const int pairId = list.PairId(i);
      if (IsSmall(pairId)) {
        ++m_groupStart[static_cast<std::size_t>(pairId) + 1];
      } else {
        m_other[pairId].push_back(i);
      }
    }
    for (std::size_t id = 0; id < kSmallIds; ++id)
      m_groupStart[id + 1] += m_groupStart[id];
    m_cursor.assign(m_groupStart.begin(), m_groupStart.end() - 1);
    m_positions.resize(m_groupStart[kSmallIds]);
    for (Position i = from; i < list.Size(); ++i) {
      list.CheckStop();
      if (!counted(i)) continue;
      const int pairId = list.PairId(i);
      if (IsSmall(pairId)) m_positions[m_cursor[static_cast<std::size_t>(pairId)]++] = i;
    }
    m_cursor.assign(m_groupStart.begin(), m_groupStart.end() - 1);
    m_addedFirst.assign(kSmallIds, kNoPartner<Position>);
    m_added.resize(kSmallIds);
  }

  // Records that the element at `position` (ahead of the walk) now carries `pairId`.
  void Add(int pairId, Position position) {
    if (!m_added.empty() && IsSmall(pairId)) {
      Position& slot = m_addedFirst[static_cast<std::size_t>(pairId)];
      if (slot == kNoPartner<Position>) {
        slot = position;
        return;
      }
    }
    std::vector<Position>& heap = !m_added.empty() && IsSmall(pairId)
                                      ? m_added[static_cast<std::size_t>(pairId)]
                                      : m_other[pairId];
    heap.push_back(position);
    std::push_heap(heap.begin(), heap.end(), std::greater<>());
  }

  // The first position after `current` whose element carries `pairId` now, or kNoPartner.
  Position FindAfter(int pairId, Position current) {
    if (m_added.empty() || !IsSmall(pairId)) return FirstValid(m_other[pairId], pairId, current);
    const auto id = static_cast<std::size_t>(pairId);
    Position added = FirstValid(m_added[id], pairId, current);
    Position& slot = m_addedFirst[id];
    if (slot != kNoPartner<Position>) {
      // Dropped once invalid, as the heap's entries are: the walk only moves on, and an id given
      // again to the same position adds that position again.
      if (slot > current && m_list.PairId(slot) == pairId) {
        added = std::min(added, slot);
      } else {
        slot = kNoPartner<Position>;
      }
    }
    std::size_t& cursor = m_cursor[id];
    const std::size_t end = m_groupStart[id + 1];
    for (; cursor < end; ++cursor) {
      const Position found = m_positions[cursor];
      if (found > current && m_list.PairId(found) == pairId) return std::min(found, added);
    }
    return added;
  }

 private:
  static constexpr std::size_t kSmallIds = 0x10000;

  static bool IsSmall(int pairId) {
    return pairId >= 0 && static_cast<std::size_t>(pairId) < kSmallIds;
  }

  // The smallest valid entry of `heap` after dropping the invalid ones before it.
  Position FirstValid(std::vector<Position>& heap, int pairId, Position current) {
    while (!heap.empty()) {
      const Position top = heap.front();
      if (top > current && m_list.PairId(top) == pairId) return top;
      std::pop_heap(heap.begin(), heap.end(), std::greater<>());
      heap.pop_back();
    }
    return kNoPartner<Position>;
  }

  L& m_list;
  std::vector<std::size_t> m_groupStart;  // per id its first entry in m_positions; one more
  std::vector<std::size_t> m_cursor;      // per id its first entry not yet dropped
  std::vector<Position, CLargeAllocator<Position>> m_positions;
  std::vector<Position> m_addedFirst;  // per id one position added later, or kNoPartner
  std::vector<std::vector<Position>> m_added;
  std::unordered_map<int, std::vector<Position>> m_other;
};

/// The pairing pass. It visits the elements from first to last and acts on each by its TagType
/// at the moment of the visit. Two searches of that walk are answered from precomputed
/// structures instead of scanning forward, which would cost quadratic time on unclosed or
/// far-apart start tags:
///
/// 1. A TagOpen scans the later elements of its name with a depth counter: a TagOpen raises it,
///    a still unclaimed TagClose lowers it, and the TagClose that brings it to 0 is the partner.
///    Per-name stack matching over the types found at the start of the run (MatchOpenTags) gives
///    the same partner. Later start tags have not been visited yet, so they are still TagOpen.
///    An end tag already claimed by an earlier start tag k never lies inside the range that the
///    scan of a later start tag i examines: with k < i < partner(k), stack matching puts i above
///    k, so i is matched (by induction, as the scan would do) before partner(k) is reached, and
///    the scan of i stops there. Within the scanned range every element therefore has its start
///    type, and the depth scan and the stack agree on the first end tag that balances i.
///    Ids are still handed out in visiting order, when the start tag is visited.
///
/// 2. A TagPairedOpen (paired by an earlier run) looks for the first later element whose PairId
///    equals its own current one, and renumbers both. Ids may repeat after a wrap, and partners
///    receive new ids during the run, so the search must see the current values: CPairIdIndex
///    keeps, per id value, the positions ahead of the walk that currently carry it, and every id
///    given to an element ahead of the walk (a partner of case 1 or 2) is added to it. Its first
///    valid entry is the element the forward scan would stop at. The index is built only when
///    the list holds paired start tags.
///
/// Gaps are skipped.
/// `partner` is working room (its content is replaced), so that a caller can lend the same
/// memory to several passes.
template <class L, class Partners, class Position = typename L::Position>
void PairTags(L& list, Partners& partner) {
  const std::size_t count = list.Size();
  if (count == 0) return;

  Position firstPairedOpen = kNoPartner<Position>;
  bool pairedOpenWithoutId = false;
  MatchOpenTags(list, partner, firstPairedOpen, pairedOpenWithoutId);
  std::unique_ptr<CPairIdIndex<L>> index;
  if (firstPairedOpen != kNoPartner<Position>) {
    index = std::make_unique<CPairIdIndex<L>>(list, firstPairedOpen, pairedOpenWithoutId);
  }

  for (Position i = 0; i < count; ++i) {
    list.CheckStop();
    const std::optional<TagType> type = list.Type(i);
    if (!type) continue;
    switch (*type) {
      case TagType::Single:
        list.SetPairId(i, 0);
        break;
      case TagType::Close:
        list.SetPairId(i, list.NextPairId());
        break;
      case TagType::Open: {
        const int id = list.NextPairId();
        list.SetPairId(i, id);
        if (partner[i] == kNoPartner<Position>) break;
        list.SetPairId(partner[i], id);
        list.SetType(i, TagType::PairedOpen);
        list.SetType(partner[i], TagType::PairedClose);
        if (index) index->Add(id, partner[i]);
        break;
      }
      case TagType::PairedOpen: {
        const Position other = index->FindAfter(list.PairId(i), i);
        if (other == kNoPartner<Position>) break;
        const int id = list.NextPairId();
        list.SetPairId(i, id);
        list.SetPairId(other, id);
        index->Add(id, other);
        break;
      }
      default:
        break;
    }
  }
}

}  // namespace tagvert::detail
