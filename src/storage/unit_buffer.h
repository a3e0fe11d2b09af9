// Tagvert: a growable buffer of UTF-16 units that is never zero-filled (CUnitBuffer).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

#include "storage/large_memory.h"

namespace tagvert {

/// Holds a document's decoded units. Unlike a string it does not write the room it grows by
/// before the decoder does: for a buffer of hundreds of MB that is one pass over memory less.
/// Large buffers come from CLargeAllocator (large pages where the system has them).
class CUnitBuffer {
 public:
  CUnitBuffer() = default;
  ~CUnitBuffer() { Release(); }
  CUnitBuffer(const CUnitBuffer&) = delete;
  CUnitBuffer& operator=(const CUnitBuffer&) = delete;

  const char16_t* Data() const { return m_units; }
  std::size_t Size() const { return m_size; }
  std::size_t Capacity() const { return m_capacity; }
  std::u16string_view View() const { return {m_units, m_size}; }

  /// Makes room for `n` units in all without growing again. Throws std::bad_alloc.
  void Reserve(std::size_t n) {
    if (n <= m_capacity) return;
    char16_t* units = CLargeAllocator<char16_t>().allocate(n);
    if (m_size != 0) std::memcpy(units, m_units, m_size * sizeof(char16_t));
    Release();
    m_units = units;
    m_capacity = n;
  }
  /// Has the system provide the memory for the first `n` units (at most the capacity) in the
  /// background, ahead of the writes (CPageBacker), where the buffer is large enough to come
  /// from the system and the system can. A writer that fills many megabytes calls this as it
  /// goes, with what it expects to write.
  void BackAhead(std::size_t n) {
    if (m_capacity * sizeof(char16_t) < kLargeBlockBytes || m_noBacker) return;
    if (!m_backer) {
      m_backer = PlatformBackPagesAhead(m_units, m_capacity * sizeof(char16_t));
      m_noBacker = !m_backer;
      if (m_noBacker) return;
    }
    m_backer->BackUpTo(std::min(n, m_capacity) * sizeof(char16_t));
  }
  /// Room for `n` more units at the end, to be written and then kept with Commit. The pointer
  /// is valid until the next call that grows the buffer.
  char16_t* Extend(std::size_t n) {
    if (m_capacity - m_size < n) Reserve(std::max(m_size + n, 2 * m_capacity));
    return m_units + m_size;
  }
  /// Keeps `n` units written after an Extend.
  void Commit(std::size_t n) { m_size += n; }
  void PushBack(char16_t c) {
    *Extend(1) = c;
    ++m_size;
  }
  /// Replaces the content by `units`.
  void Assign(std::u16string_view units) {
    m_size = 0;
    std::copy(units.begin(), units.end(), Extend(units.size()));
    m_size = units.size();
  }

 private:
  void Release() {
    // The backing stops before the block goes back.
    m_backer.reset();
    m_noBacker = false;
    if (m_units != nullptr) CLargeAllocator<char16_t>().deallocate(m_units, m_capacity);
  }

  char16_t* m_units = nullptr;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
  std::unique_ptr<CPageBacker> m_backer;
  bool m_noBacker = false;  // the system could not back this block
};

}  // namespace tagvert
