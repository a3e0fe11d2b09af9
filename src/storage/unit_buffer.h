// Tagvert: a growable buffer of UTF-16 units that is never zero-filled (CUnitBuffer).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "ifcodec/if_code_range.h"
#include "storage/input_scan.h"
#include "storage/large_memory.h"

namespace tagvert {

/// Holds a document's decoded units. Unlike a string it does not write the room it grows by
/// before the decoder does: for a buffer of hundreds of MB that is one pass over memory less.
/// Large buffers come from CLargeAllocator (large pages where the system has them).
///
/// A buffer may be narrow: while every unit it holds is below U+0100 (ASCII and Latin-1 text,
/// most of the documents in Latin script) it keeps one byte per unit, half the memory. The
/// first unit from U+0100 on widens it for good: its content becomes UTF-16 and so does the
/// rest. Positions are units in both forms. Data and View serve a wide buffer, Bytes a narrow
/// one; UnitAt and Visit either.
class CUnitBuffer {
 public:
  CUnitBuffer() = default;
  ~CUnitBuffer() { Release(); }
  CUnitBuffer(const CUnitBuffer&) = delete;
  CUnitBuffer& operator=(const CUnitBuffer&) = delete;

  /// Makes an empty buffer narrow (one byte per unit until a unit from U+0100 on comes).
  void SetNarrow() {
    if (m_size == 0 && !m_narrow) {
      Release();
      m_units = nullptr;
      m_capacity = 0;
      m_narrow = true;
    }
  }
  bool Narrow() const { return m_narrow; }
  /// The units of a wide buffer.
  const char16_t* Data() const { return static_cast<const char16_t*>(m_units); }
  /// The units of a narrow buffer, one byte each.
  const std::uint8_t* Bytes() const { return static_cast<const std::uint8_t*>(m_units); }
  std::size_t Size() const { return m_size; }
  /// Whether no unit of the IF's code range (U+E000..U+EFFF) is in the buffer: true for a narrow
  /// buffer, and for a wide one while its filler (ReadAllUnits) has found none and nothing else
  /// wrote one. A writer of IF then copies the units as they are instead of looking for codes
  /// in them. Units written through Extend by others than that filler must clear it
  /// (NoteIfCodeUnits) where they may hold a code.
  bool FreeOfIfCodes() const { return m_narrow || m_freeOfIfCodes; }
  /// Says the units written from now on are checked for codes by their writer (ReadAllUnits).
  void MarkFreeOfIfCodes() { m_freeOfIfCodes = true; }
  /// Says the buffer may hold a unit of the code range.
  void NoteIfCodeUnits() { m_freeOfIfCodes = false; }
  std::size_t Capacity() const { return m_capacity; }
  std::u16string_view View() const { return {Data(), m_size}; }
  char16_t UnitAt(std::size_t i) const { return m_narrow ? Bytes()[i] : Data()[i]; }
  /// Calls `f(units, size)` with the units as `const std::uint8_t*` (narrow) or
  /// `const char16_t*` (wide).
  template <class F>
  decltype(auto) Visit(F&& f) const {
    return m_narrow ? f(Bytes(), m_size) : f(Data(), m_size);
  }

  /// Makes room for `n` units in all without growing again. Throws std::bad_alloc.
  void Reserve(std::size_t n) {
    if (n <= m_capacity) return;
    void* units = Allocate(n, m_narrow);
    if (m_size != 0) std::memcpy(units, m_units, m_size * Width());
    Release();
    m_units = units;
    m_capacity = n;
  }
  /// Has the room that the buffer holds now take small pages only (PlatformAdviseSmall), where
  /// it came from the system: for room reserved ahead of writes that may never come. Room that
  /// a later growth takes has the usual pages.
  void AdviseSmallPages() {
    if (m_capacity * Width() >= kLargeBlockBytes)
      PlatformAdviseSmall(m_units, m_capacity * Width());
  }
  /// Has the system provide the memory for the first `n` units (at most the capacity) in the
  /// background, ahead of the writes (CPageBacker), where the buffer is large enough to come
  /// from the system and the system can. A writer that fills many megabytes calls this as it
  /// goes, with what it expects to write.
  void BackAhead(std::size_t n) {
    if (m_capacity * Width() < kLargeBlockBytes || m_noBacker) return;
    if (!m_backer) {
      m_backer = PlatformBackPagesAhead(m_units, m_capacity * Width());
      m_noBacker = !m_backer;
      if (m_noBacker) return;
    }
    m_backer->BackUpTo(std::min(n, m_capacity) * Width());
  }
  /// Stops backing ahead and gives the memory of the room beyond the units back to the system
  /// (CLargeBlockReuse::Discard): for a writer that is done, whose backing ran ahead of the units
  /// that came.
  void DiscardUnused() {
    m_backer.reset();
    if (m_capacity * Width() < kLargeBlockBytes) return;
    CLargeBlockReuse::Discard(static_cast<std::uint8_t*>(m_units) + m_size * Width(),
                              (m_capacity - m_size) * Width());
  }
  /// Room for `n` more units at the end of a wide buffer, to be written and then kept with
  /// Commit. The pointer is valid until the next call that grows the buffer.
  char16_t* Extend(std::size_t n) {
    Grow(n);
    return static_cast<char16_t*>(m_units) + m_size;
  }
  /// Extend for a narrow buffer: room for `n` units of one byte.
  std::uint8_t* ExtendBytes(std::size_t n) {
    Grow(n);
    return static_cast<std::uint8_t*>(m_units) + m_size;
  }
  /// Keeps `n` units written after an Extend.
  void Commit(std::size_t n) { m_size += n; }
  void PushBack(char16_t c) {
    if (m_narrow) {
      if (c < 0x100) {
        *ExtendBytes(1) = static_cast<std::uint8_t>(c);
        ++m_size;
        return;
      }
      Widen();
    }
    if (IsIfCode(c)) m_freeOfIfCodes = false;
    *Extend(1) = c;
    ++m_size;
  }
  /// Replaces the content by `units` (a narrow buffer stays narrow if it can).
  void Assign(std::u16string_view units) {
    m_size = 0;
    if (m_narrow && std::all_of(units.begin(), units.end(), [](char16_t c) { return c < 0x100; })) {
      std::copy(units.begin(), units.end(), ExtendBytes(units.size()));
    } else {
      if (m_narrow) Widen();
      m_freeOfIfCodes = false;
      std::copy(units.begin(), units.end(), Extend(units.size()));
    }
    m_size = units.size();
  }
  /// Makes a narrow buffer wide, keeping its content and capacity (the narrow block goes back).
  void Widen() {
    if (!m_narrow) return;
    void* units = Allocate(std::max<std::size_t>(m_capacity, 1), false);
    WidenBytes(Bytes(), m_size, static_cast<char16_t*>(units));
    const std::size_t capacity = std::max<std::size_t>(m_capacity, 1);
    Release();
    m_narrow = false;
    m_units = units;
    m_capacity = capacity;
  }

 private:
  std::size_t Width() const { return m_narrow ? 1 : sizeof(char16_t); }
  static void* Allocate(std::size_t n, bool narrow) {
    if (narrow) return CLargeAllocator<std::uint8_t>().allocate(n);
    return CLargeAllocator<char16_t>().allocate(n);
  }
  void Grow(std::size_t n) {
    if (m_capacity - m_size < n) Reserve(std::max(m_size + n, 2 * m_capacity));
  }
  void Release() {
    // The backing stops before the block goes back.
    m_backer.reset();
    m_noBacker = false;
    if (m_units == nullptr) return;
    if (m_narrow) {
      CLargeAllocator<std::uint8_t>().deallocate(static_cast<std::uint8_t*>(m_units), m_capacity);
    } else {
      CLargeAllocator<char16_t>().deallocate(static_cast<char16_t*>(m_units), m_capacity);
    }
  }

  void* m_units = nullptr;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
  bool m_narrow = false;
  bool m_freeOfIfCodes = false;  // wide units: see FreeOfIfCodes
  std::unique_ptr<CPageBacker> m_backer;
  bool m_noBacker = false;  // the system could not back this block
};

}  // namespace tagvert
