// Tagvert: the ordered, owning list of a document's elements and tag pairing (CElementsStackX).
// SPDX-License-Identifier: Apache-2.0
#include "markup/elements_stack.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace tagvert {

namespace {

constexpr std::size_t kNoPartner = std::numeric_limits<std::size_t>::max();

// Ids never enter the IF markup range U+E000..U+EFFF nor U+FFFB..U+FFFF.
constexpr std::uint32_t kReservedFirst = 0xE000;
constexpr std::uint32_t kReservedLast = 0xEFFF;
constexpr std::uint32_t kAfterReserved = 0xF000;
constexpr std::uint32_t kWrapFirst = 0xFFFB;
constexpr std::uint32_t kWrapLast = 0xFFFF;
constexpr std::uint32_t kWrapTo = 100;

// For every TagOpen, the position of the end tag that the forward depth scan would choose, or
// kNoPartner. Per-name stack matching: a start tag is pushed on the stack of its name, an end
// tag pops the innermost open start tag of its name. Also finds the first TagPairedOpen.
std::vector<std::size_t> MatchOpenTags(CElementsStackX& elements, std::size_t& firstPairedOpen,
                                       bool& pairedOpenWithoutId) {
  firstPairedOpen = kNoPartner;
  pairedOpenWithoutId = false;
  std::vector<std::size_t> partner(elements.size(), kNoPartner);
  std::unordered_map<std::u16string_view, std::vector<std::size_t>> openByName;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    elements.CheckStop();
    IElementX* element = elements[i];
    if (element == nullptr) continue;
    const int tagType = element->GetTagType();
    if (tagType == kTagOpen) {
      openByName[element->GetNameRef()].push_back(i);
    } else if (tagType == kTagClose) {
      auto it = openByName.find(element->GetNameRef());
      if (it == openByName.end() || it->second.empty()) continue;
      partner[it->second.back()] = i;
      it->second.pop_back();
    } else if (tagType == kTagPairedOpen) {
      if (firstPairedOpen == kNoPartner) firstPairedOpen = i;
      if (element->GetPairId() == 0) pairedOpenWithoutId = true;
    }
  }
  return partner;
}

// Positions still ahead of the pairing walk, grouped by the PairId they carry. Each group is a
// min-heap with lazy deletion: an entry is valid while its position lies ahead of the walk and
// the element there still carries the group's id. Every change of an id ahead of the walk adds
// an entry, so the valid entries of a group are exactly the positions ahead carrying that id.
// Ids are 16-bit values in practice: on long lists they index a flat table, whose setup cost is
// small next to the list; on short lists and for any other value the groups sit in a map.
class CPairIdIndex {
 public:
  // Id 0 (text runs and single items) is searched for only when a paired start tag carries it
  // at the start of the run; new ids are never 0.
  CPairIdIndex(CElementsStackX& elements, std::size_t from, bool withZero) : m_elements(elements) {
    if (elements.size() >= kSmallIds) m_small.resize(kSmallIds);
    for (std::size_t i = from; i < elements.size(); ++i) {
      elements.CheckStop();
      if (elements[i] == nullptr) continue;
      const int pairId = elements[i]->GetPairId();
      // Positions are added in ascending order, which already is a valid min-heap.
      if (pairId != 0 || withZero) Group(pairId).push_back(i);
    }
  }

  // Records that the element at `position` (ahead of the walk) now carries `pairId`.
  void Add(int pairId, std::size_t position) {
    std::vector<std::size_t>& heap = Group(pairId);
    heap.push_back(position);
    std::push_heap(heap.begin(), heap.end(), std::greater<>());
  }

  // The first position after `current` whose element carries `pairId` now, or kNoPartner.
  std::size_t FindAfter(int pairId, std::size_t current) {
    std::vector<std::size_t>& heap = Group(pairId);
    while (!heap.empty()) {
      const std::size_t top = heap.front();
      if (top > current && m_elements[top]->GetPairId() == pairId) return top;
      std::pop_heap(heap.begin(), heap.end(), std::greater<>());
      heap.pop_back();
    }
    return kNoPartner;
  }

 private:
  static constexpr std::size_t kSmallIds = 0x10000;

  std::vector<std::size_t>& Group(int pairId) {
    if (pairId >= 0 && static_cast<std::size_t>(pairId) < m_small.size())
      return m_small[static_cast<std::size_t>(pairId)];
    return m_other[pairId];
  }

  CElementsStackX& m_elements;
  std::vector<std::vector<std::size_t>> m_small;
  std::unordered_map<int, std::vector<std::size_t>> m_other;
};

}  // namespace

CElementsStackX::~CElementsStackX() {
  for (IElementX* element : *this)
    delete element;
}

bool CElementsStackX::Push(IElementX* element) {
  push_back(element);
  return true;
}

std::uint16_t CElementsStackX::NextPairId() {
  ++m_pairIdCounter;
  if (m_pairIdCounter >= kReservedFirst && m_pairIdCounter <= kReservedLast)
    m_pairIdCounter = kAfterReserved;
  if (m_pairIdCounter >= kWrapFirst && m_pairIdCounter <= kWrapLast) m_pairIdCounter = kWrapTo;
  return static_cast<std::uint16_t>(m_pairIdCounter);
}

// The pass visits the elements from first to last and acts on each by its TagType at the moment
// of the visit. Two searches of that walk are answered from precomputed structures instead of
// scanning forward, which would cost quadratic time on unclosed or far-apart start tags:
//
// 1. A TagOpen scans the later elements of its name with a depth counter: a TagOpen raises it,
//    a still unclaimed TagClose lowers it, and the TagClose that brings it to 0 is the partner.
//    Per-name stack matching over the types found at the start of the run (MatchOpenTags) gives
//    the same partner. Later start tags have not been visited yet, so they are still TagOpen.
//    An end tag already claimed by an earlier start tag k never lies inside the range that the
//    scan of a later start tag i examines: with k < i < partner(k), stack matching puts i above
//    k, so i is matched (by induction, as the scan would do) before partner(k) is reached, and
//    the scan of i stops there. Within the scanned range every element therefore has its start
//    type, and the depth scan and the stack agree on the first end tag that balances i.
//    Ids are still handed out in visiting order, when the start tag is visited.
//
// 2. A TagPairedOpen (paired by an earlier run) looks for the first later element whose PairId
//    equals its own current one, and renumbers both. Ids may repeat after a wrap, and partners
//    receive new ids during the run, so the search must see the current values: CPairIdIndex
//    keeps, per id value, the positions ahead of the walk that currently carry it, and every id
//    given to an element ahead of the walk (a partner of case 1 or 2) is added to it. Its first
//    valid entry is the element the forward scan would stop at. The index is built only when
//    the list holds paired start tags.
//
// Null entries are skipped.
void CElementsStackX::PairTags() {
  const std::size_t count = size();
  if (count == 0) return;

  std::size_t firstPairedOpen = kNoPartner;
  bool pairedOpenWithoutId = false;
  const std::vector<std::size_t> partner =
      MatchOpenTags(*this, firstPairedOpen, pairedOpenWithoutId);
  std::unique_ptr<CPairIdIndex> index;
  if (firstPairedOpen != kNoPartner) {
    index = std::make_unique<CPairIdIndex>(*this, firstPairedOpen, pairedOpenWithoutId);
  }

  for (std::size_t i = 0; i < count; ++i) {
    CheckStop();
    IElementX* element = (*this)[i];
    if (element == nullptr) continue;
    switch (element->GetTagType()) {
      case kTagSingle:
        element->SetPairId(0);
        break;
      case kTagClose:
        element->SetPairId(NextPairId());
        break;
      case kTagOpen: {
        const int id = NextPairId();
        element->SetPairId(id);
        if (partner[i] == kNoPartner) break;
        IElementX* end = (*this)[partner[i]];
        end->SetPairId(id);
        element->SetTagType(kTagPairedOpen);
        end->SetTagType(kTagPairedClose);
        if (index) index->Add(id, partner[i]);
        break;
      }
      case kTagPairedOpen: {
        const std::size_t other = index->FindAfter(element->GetPairId(), i);
        if (other == kNoPartner) break;
        const int id = NextPairId();
        element->SetPairId(id);
        (*this)[other]->SetPairId(id);
        index->Add(id, other);
        break;
      }
      default:
        break;
    }
  }
}

}  // namespace tagvert
