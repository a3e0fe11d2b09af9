// Tagvert: the tag pairing walk over the element table (and over the element list of the tests).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "ifcodec/if_code_range.h"
#include "markup/element_table.h"
#include "storage/large_memory.h"

namespace tagvert::detail {

inline constexpr std::uint32_t kPairIdReservedFirst = kIfCodeFirst;
inline constexpr std::uint32_t kPairIdReservedLast = kIfCodeLast;
inline constexpr std::uint32_t kPairIdWrapFirst = 0xFFFB;
inline constexpr std::uint32_t kPairIdWrapTo = 100;
/// The ids NextPairId hands out before one comes again: any two records that took the same id
/// from it took it at least this many ids apart.
inline constexpr std::uint32_t kPairIdRound =
    (kPairIdWrapFirst - kPairIdWrapTo) - (kPairIdReservedLast - kPairIdReservedFirst + 1);

/// Ids never enter the IF code range (kIfCodeFirst..kIfCodeLast) nor U+FFFB..U+FFFF; after 0xFFFA
/// the counter starts again at 100. Advances `counter` to the next id and returns it.
inline std::uint16_t NextPairId(std::uint32_t& counter) {
  constexpr std::uint32_t kReservedFirst = kPairIdReservedFirst;
  constexpr std::uint32_t kReservedLast = kPairIdReservedLast;
  constexpr std::uint32_t kAfterReserved = kReservedLast + 1;
  constexpr std::uint32_t kWrapFirst = kPairIdWrapFirst;
  constexpr std::uint32_t kWrapLast = 0xFFFF;
  constexpr std::uint32_t kWrapTo = kPairIdWrapTo;
  static_assert(kReservedFirst < kWrapFirst);
  ++counter;
  // Both ranges lie at or above kReservedFirst: an id below it costs one test.
  if (counter >= kReservedFirst) [[unlikely]] {
    if (counter <= kReservedLast) counter = kAfterReserved;
    if (counter >= kWrapFirst && counter <= kWrapLast) counter = kWrapTo;
  }
  return static_cast<std::uint16_t>(counter);
}

/// No partner: the largest position of the position type.
template <class Position>
inline constexpr Position kNoPartner = std::numeric_limits<Position>::max();

/// Calls `visit(i)` for every i in [from, to) in order, and list.CheckStopAt(i - from) before
/// each i whose i - from is a multiple of the table's stop interval: the checks that a call of
/// CheckStopAt at every element makes, without a test of the index at every element.
template <class L, class Position, class F>
inline void ForEachWithStopChecks(const L& list, Position from, Position to, F&& visit) {
  constexpr std::size_t kInterval = CElementTable::kStopInterval;
  for (Position block = from; block < to;) {
    list.CheckStopAt(block - from);
    const Position blockEnd =
        to - block > kInterval ? static_cast<Position>(block + kInterval) : to;
    for (Position i = block; i < blockEnd; ++i)
      visit(i);
    block = blockEnd;
  }
}

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
//   void CheckStopAt(std::size_t i) const;  // a stop check at the walk's i-th element (the
//                                           // walks call it at multiples of the table's
//                                           // stop interval, where the table checks)

/// For every TagOpen, the position of the end tag that the forward depth scan would choose, or
/// kNoPartner: a start tag is pushed on the stack of its name, an end tag pops the innermost
/// open start tag of its name. Also finds the first TagPairedOpen.
template <class L, class Partners, class Position = typename L::Position>
void MatchOpenTags(L& list, Partners& partner, Position& firstPairedOpen,
                   bool& pairedOpenWithoutId) {
  firstPairedOpen = kNoPartner<Position>;
  pairedOpenWithoutId = false;
  // The size is read once: the walk's stores to the elements would make the compiler read it
  // again at every step.
  const std::size_t size = list.Size();
  partner.assign(size, kNoPartner<Position>);
  for (Position i = 0; i < size; ++i) {
    list.CheckStopAt(i);
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
/// The groups and the sorted positions of a long list take their memory from `room` where it
/// holds them (RoomBytes), else blocks of their own: a caller that has memory written and done
/// with lends it, and the index then faults in no fresh pages.
template <class L, class Position = typename L::Position>
class CPairIdIndex {
 public:
  // Id 0 (text runs and single items) is searched for only when a paired start tag carries it
  // at the start of the run; new ids are never 0.
  CPairIdIndex(L& list, Position from, bool withZero, std::span<std::byte> room = {})
      : m_list(list) {
    const auto counted = [&](Position i) {
      return list.Present(i) && (list.PairId(i) != 0 || withZero);
    };
    const std::size_t size = list.Size();
    if (size < kSmallIds) {
      for (Position i = from; i < size; ++i) {
        list.CheckStopAt(i - from);
        // Positions are added in ascending order, which already is a valid min-heap.
        if (counted(i)) m_other[list.PairId(i)].push_back(i);
      }
      return;
    }
    m_groups = Take<CGroup>(room, kSmallIds);
    if (m_groups == nullptr) {
      m_ownGroups.resize(kSmallIds);
      m_groups = m_ownGroups.data();
    }
    const auto end = static_cast<Position>(size);
    ForEachWithStopChecks(list, from, end, [&](Position i) {
      if (!counted(i)) return;
      const int pairId = list.PairId(i);
      if (IsSmall(pairId)) {
        ++m_groups[static_cast<std::size_t>(pairId)].end;  // counts the group's entries
      } else {
        m_other[pairId].push_back(i);
      }
    });
    // Each group's entries start where the previous group's end; `end` then serves as the
    // filling cursor and ends one past the group's last entry.
    Position start = 0;
    for (CGroup& group : std::span(m_groups, kSmallIds)) {
      const Position entries = group.end;
      group.cursor = start;
      group.end = start;
      start += entries;
    }
    // Every entry is written below before any is read.
    m_positions = Take<Position>(room, start);
    if (m_positions == nullptr) {
      m_ownPositions.resize(start);
      m_positions = m_ownPositions.data();
    }
    ForEachWithStopChecks(list, from, end, [&](Position i) {
      if (!counted(i)) return;
      const int pairId = list.PairId(i);
      if (IsSmall(pairId)) m_positions[m_groups[static_cast<std::size_t>(pairId)].end++] = i;
    });
  }

  // The groups and positions may lie in the room lent, which a copy would share.
  CPairIdIndex(const CPairIdIndex&) = delete;
  CPairIdIndex& operator=(const CPairIdIndex&) = delete;

  // The bytes of room that an index of a list of `size` elements, built from `from`, takes all it
  // needs from (0: it takes none).
  static std::size_t RoomBytes(std::size_t size, Position from) {
    if (size < kSmallIds) return 0;
    return sizeof(CGroup) * kSmallIds + alignof(Position) + sizeof(Position) * (size - from);
  }

  // Records that the element at `position` (ahead of the walk, which is at `current`) now
  // carries `pairId`.
  [[gnu::always_inline]] void Add(int pairId, Position position, Position current) {
    CGroup* group = GroupOf(pairId);
    if (group != nullptr) {
      // The slot takes the position when it is free or holds an entry no longer valid (behind
      // the walk, or renumbered), which a lookup would drop anyway: ids come round again every
      // 65,535 pairs, and the slot then nearly always holds one long passed.
      Position& slot = group->addedFirst;
      if (slot == kNoPartner<Position> || slot <= current || m_list.PairId(slot) != pairId) {
        slot = position;
        return;
      }
    }
    std::vector<Position>& heap = group != nullptr ? HeapOf(*group) : m_other[pairId];
    heap.push_back(position);
    std::push_heap(heap.begin(), heap.end(), std::greater<>());
  }

  // The first position after `current` whose element carries `pairId` now, or kNoPartner.
  Position FindAfter(int pairId, Position current) {
    CGroup* const group = GroupOf(pairId);
    if (group == nullptr) return FirstValid(m_other[pairId], pairId, current);
    Position added = group->heap == kNoHeap ? kNoPartner<Position>
                                            : FirstValid(m_heaps[group->heap], pairId, current);
    Position& slot = group->addedFirst;
    if (slot != kNoPartner<Position>) {
      // Dropped once invalid, as the heap's entries are: the walk only moves on, and an id given
      // again to the same position adds that position again.
      if (slot > current && m_list.PairId(slot) == pairId) {
        added = std::min(added, slot);
      } else {
        slot = kNoPartner<Position>;
      }
    }
    Position& cursor = group->cursor;
    const Position end = group->end;
    for (; cursor < end; ++cursor) {
      const Position found = m_positions[cursor];
      if (found > current && m_list.PairId(found) == pairId) return std::min(found, added);
    }
    return added;
  }

 private:
  static constexpr std::size_t kSmallIds = 0x10000;

  // Per id value below kSmallIds: its entries of m_positions not yet dropped, [cursor, end),
  // one position added later (or kNoPartner) and the index in m_heaps of a min-heap of further
  // ones (or kNoHeap): 16 bytes per id, a megabyte for all of them.
  static constexpr std::uint32_t kNoHeap = UINT32_MAX;
  struct CGroup {
    Position cursor = 0;
    Position end = 0;
    Position addedFirst = kNoPartner<Position>;
    std::uint32_t heap = kNoHeap;
  };

  static bool IsSmall(int pairId) {
    return pairId >= 0 && static_cast<std::size_t>(pairId) < kSmallIds;
  }
  std::vector<Position>& HeapOf(CGroup& group) {
    if (group.heap == kNoHeap) {
      group.heap = static_cast<std::uint32_t>(m_heaps.size());
      m_heaps.emplace_back();
    }
    return m_heaps[group.heap];
  }
  // The group of `pairId`, or null where its positions sit in the map.
  CGroup* GroupOf(int pairId) {
    return m_groups != nullptr && IsSmall(pairId) ? &m_groups[static_cast<std::size_t>(pairId)]
                                                  : nullptr;
  }

  // `count` objects of T made without a value (a group's defaults, a position not yet written)
  // at the start of `room`, which then holds the rest; null when it does not hold them.
  template <class T>
  static T* Take(std::span<std::byte>& room, std::size_t count) {
    void* at = room.data();
    std::size_t space = room.size();
    if (count == 0 || count > space / sizeof(T) ||
        std::align(alignof(T), count * sizeof(T), at, space) == nullptr) {
      return nullptr;
    }
    room = room.last(space - count * sizeof(T));
    auto* const objects = static_cast<T*>(at);
    std::uninitialized_default_construct_n(objects, count);
    return objects;
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
  // On long lists, the kSmallIds groups and the positions sorted by id: in the room lent, or in
  // the blocks below (a megabyte and more, so from the large allocator).
  CGroup* m_groups = nullptr;
  Position* m_positions = nullptr;
  std::vector<CGroup, CLargeAllocator<CGroup>> m_ownGroups;
  std::vector<Position, CLargeUnwrittenAllocator<Position>> m_ownPositions;
  std::vector<std::vector<Position>> m_heaps;  // the groups' heaps, made as they are needed
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
  PairTagsWalk(list, partner, index.get());
}

/// The walk of PairTags, after MatchOpenTags gave `partner` (read only at TagOpen elements) and
/// with the index of the ids ahead (null when the list holds no TagPairedOpen).
template <class L, class Partners, class Position = typename L::Position>
void PairTagsWalk(L& list, Partners& partner, CPairIdIndex<L>* index) {
  const auto count = static_cast<Position>(list.Size());
  ForEachWithStopChecks(list, Position{0}, count, [&](Position i) {
    const std::optional<TagType> type = list.Type(i);
    if (!type) return;
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
        if (index) index->Add(id, partner[i], i);
        break;
      }
      case TagType::PairedOpen: {
        const Position other = index->FindAfter(list.PairId(i), i);
        if (other == kNoPartner<Position>) break;
        const int id = list.NextPairId();
        list.SetPairId(i, id);
        list.SetPairId(other, id);
        index->Add(id, other, i);
        break;
      }
      default:
        break;
    }
  });
}

}  // namespace tagvert::detail
