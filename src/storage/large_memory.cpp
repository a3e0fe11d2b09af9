// Tagvert: large blocks kept by a thread for its next large blocks (CLargeBlockReuse).
// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <cstring>

#include "storage/large_memory.h"
#include "storage/sanitizers.h"

namespace tagvert {

namespace {

thread_local CLargeBlockReuse* t_currentReuse = nullptr;

// Under AddressSanitizer every block goes back to the system at once, so that a use of a block
// after it was given back faults instead of reading the next user's data.
constexpr bool kReusing = !kAddressSanitizer;

}  // namespace

CLargeBlockReuse::CLargeBlockReuse(int fill)
    : m_fill(fill), m_divide(PlatformLargeBlocksDivide()), m_previous(t_currentReuse) {
  t_currentReuse = this;
}

CLargeBlockReuse::~CLargeBlockReuse() {
  while (m_count != 0)
    Drop(m_count - 1);
  t_currentReuse = m_previous;
}

bool CLargeBlockReuse::IsEnabled() {
  return kReusing;
}

void* CLargeBlockReuse::Allocate(std::size_t bytes) {
  CLargeBlockReuse* reuse = t_currentReuse;
  const std::size_t span = PlatformLargeBlockSpan(bytes);
  if (!kReusing || reuse == nullptr || span == 0) return PlatformAllocateLarge(bytes);
  void* block = reuse->Take(span);
  if (block != nullptr) {
    ++reuse->m_reused;
    PlatformAdviseLarge(block, bytes);
    if (reuse->m_fill >= 0) std::memset(block, reuse->m_fill, span);
  } else {
    block = PlatformAllocateLarge(bytes);
    if (block == nullptr && reuse->m_count != 0) {
      // Memory is short: what is kept goes back before the system is asked again.
      while (reuse->m_count != 0)
        reuse->Drop(reuse->m_count - 1);
      block = PlatformAllocateLarge(bytes);
    }
    if (block == nullptr) return nullptr;
  }
  // A block in use counts as the bytes asked for until a part of them is discarded.
  reuse->m_inUse.span += span;
  reuse->m_inUse.memory += bytes;
  reuse->m_mostInUse.span = std::max(reuse->m_mostInUse.span, reuse->m_inUse.span);
  reuse->m_mostInUse.memory = std::max(reuse->m_mostInUse.memory, reuse->m_inUse.memory);
  reuse->NoteInUse(static_cast<std::uint8_t*>(block), bytes);
  reuse->Trim();
  return block;
}

void CLargeBlockReuse::Free(void* block, std::size_t bytes) {
  if (block == nullptr) return;
  CLargeBlockReuse* reuse = t_currentReuse;
  const std::size_t span = PlatformLargeBlockSpan(bytes);
  if (!kReusing || reuse == nullptr || span == 0) {
    PlatformFreeLarge(block, bytes);
    return;
  }
  auto* const begin = static_cast<std::uint8_t*>(block);
  const std::size_t memory = reuse->EndUse(begin, bytes);
  // A block taken on another thread counts only as far as this thread's blocks in use go.
  reuse->m_inUse.span -= std::min(reuse->m_inUse.span, span);
  reuse->m_inUse.memory -= std::min(reuse->m_inUse.memory, memory);
  reuse->Keep(begin, {span, memory});
  reuse->Trim();
}

void CLargeBlockReuse::Discard(void* begin, std::size_t bytes) {
  PlatformDiscardLarge(begin, bytes);
  CLargeBlockReuse* reuse = t_currentReuse;
  if (kReusing && reuse != nullptr) reuse->NoteDiscard(static_cast<std::uint8_t*>(begin), bytes);
}

void* CLargeBlockReuse::Take(std::size_t span) {
  // The smallest kept block that serves and, among those of one span, the one with the most
  // memory still there (a document's buffer then takes the block its predecessor filled, not
  // the one whose end a table gave back). A larger block gives its start and keeps the rest,
  // where blocks may be cut.
  std::size_t best = m_count;
  for (std::size_t i = 0; i < m_count; ++i) {
    const CAmount size = m_ranges[i].size;
    if (size.span != span && !(m_divide && size.span > span)) continue;
    if (best == m_count || size.span < m_ranges[best].size.span ||
        (size.span == m_ranges[best].size.span && size.memory > m_ranges[best].size.memory)) {
      best = i;
    }
  }
  if (best == m_count) return nullptr;
  CKept& range = m_ranges[best];
  std::uint8_t* block = range.begin;
  if (range.size.span == span) {
    m_kept.span -= span;
    m_kept.memory -= range.size.memory;
    std::copy(m_ranges + best + 1, m_ranges + m_count, m_ranges + best);
    --m_count;
    return block;
  }
  // Where the memory of the rest lies is not known: it keeps as much as it can hold.
  const std::size_t restMemory = std::min(range.size.memory, range.size.span - span);
  m_kept.span -= span;
  m_kept.memory -= range.size.memory - restMemory;
  range.begin += span;
  range.size = {range.size.span - span, restMemory};
  return block;
}

void CLargeBlockReuse::Keep(std::uint8_t* begin, CAmount size) {
  const auto at = static_cast<std::size_t>(
      std::upper_bound(m_ranges, m_ranges + m_count, begin,
                       [](const std::uint8_t* a, const CKept& r) { return a < r.begin; }) -
      m_ranges);
  const bool joinsPrevious =
      m_divide && at != 0 && m_ranges[at - 1].begin + m_ranges[at - 1].size.span == begin;
  const bool joinsNext = m_divide && at != m_count && begin + size.span == m_ranges[at].begin;
  if (!joinsPrevious && !joinsNext && m_count == kSlots) {
    PlatformFreeLarge(begin, size.span);
    return;
  }
  m_kept.span += size.span;
  m_kept.memory += size.memory;
  if (joinsPrevious) {
    CKept& previous = m_ranges[at - 1];
    previous.size.span += size.span;
    previous.size.memory += size.memory;
    if (joinsNext) {
      previous.size.span += m_ranges[at].size.span;
      previous.size.memory += m_ranges[at].size.memory;
      std::copy(m_ranges + at + 1, m_ranges + m_count, m_ranges + at);
      --m_count;
    }
    return;
  }
  if (joinsNext) {
    m_ranges[at].begin = begin;
    m_ranges[at].size.span += size.span;
    m_ranges[at].size.memory += size.memory;
    return;
  }
  std::copy_backward(m_ranges + at, m_ranges + m_count, m_ranges + m_count + 1);
  m_ranges[at] = {begin, size};
  ++m_count;
}

void CLargeBlockReuse::Drop(std::size_t index) {
  const CKept range = m_ranges[index];
  std::copy(m_ranges + index + 1, m_ranges + m_count, m_ranges + index);
  --m_count;
  m_kept.span -= range.size.span;
  m_kept.memory -= range.size.memory;
  PlatformFreeLarge(range.begin, range.size.span);
}

void CLargeBlockReuse::Trim() {
  // Address space: the smallest kept blocks go back first, the larger ones serving more.
  while (m_count != 0 && m_inUse.span + m_kept.span > m_mostInUse.span) {
    std::size_t smallest = 0;
    for (std::size_t i = 1; i < m_count; ++i) {
      if (m_ranges[i].size.span < m_ranges[smallest].size.span) smallest = i;
    }
    Drop(smallest);
  }
  // Memory: the kept block whose memory is the least that covers the excess is discarded, or
  // the one with the most while none does.
  while (m_inUse.memory + m_kept.memory > m_mostInUse.memory) {
    const std::size_t excess = m_inUse.memory + m_kept.memory - m_mostInUse.memory;
    std::size_t pick = m_count;
    for (std::size_t i = 0; i < m_count; ++i) {
      const std::size_t memory = m_ranges[i].size.memory;
      if (memory == 0) continue;
      if (pick == m_count) {
        pick = i;
        continue;
      }
      const std::size_t best = m_ranges[pick].size.memory;
      const bool covers = memory >= excess;
      const bool bestCovers = best >= excess;
      if (covers ? !bestCovers || memory < best : !bestCovers && memory > best) pick = i;
    }
    if (pick == m_count) break;
    CKept& range = m_ranges[pick];
    PlatformDiscardLarge(range.begin, range.size.span);
    m_kept.memory -= range.size.memory;
    range.size.memory = 0;
  }
}

void CLargeBlockReuse::NoteInUse(std::uint8_t* begin, std::size_t bytes) {
  if (m_useCount == kSlots) return;  // counted whole until it is given back
  m_uses[m_useCount++] = {begin, bytes, 0, 0};
}

std::size_t CLargeBlockReuse::EndUse(std::uint8_t* begin, std::size_t bytes) {
  for (std::size_t i = 0; i < m_useCount; ++i) {
    const CInUse use = m_uses[i];
    if (use.begin != begin) continue;
    m_uses[i] = m_uses[--m_useCount];
    return use.bytes - (use.discardedTo - use.discardedFrom);
  }
  return bytes;  // taken on another thread, or while every slot was taken
}

void CLargeBlockReuse::NoteDiscard(std::uint8_t* begin, std::size_t bytes) {
  for (std::size_t i = 0; i < m_useCount; ++i) {
    CInUse& use = m_uses[i];
    if (begin < use.begin || begin >= use.begin + use.bytes) continue;
    const auto from = static_cast<std::size_t>(begin - use.begin);
    const std::size_t to = from + std::min(bytes, use.bytes - from);
    const std::size_t before = use.discardedTo - use.discardedFrom;
    if (before == 0 || (from <= use.discardedTo && to >= use.discardedFrom)) {
      // The first run, or one that meets the run before: they are one.
      use.discardedFrom = before == 0 ? from : std::min(from, use.discardedFrom);
      use.discardedTo = before == 0 ? to : std::max(to, use.discardedTo);
    } else if (to - from > before) {
      use.discardedFrom = from;  // apart from it: the larger run is counted
      use.discardedTo = to;
    }
    const std::size_t after = use.discardedTo - use.discardedFrom;
    m_inUse.memory -= std::min(m_inUse.memory, after - before);
    return;
  }
}

}  // namespace tagvert
