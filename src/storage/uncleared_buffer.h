// Tagvert: a growing array written in place, its room never filled first (CUnclearedBuffer).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>

namespace tagvert {

/// A growing array of units (bytes or UTF-16 units) for writers that encode or translate
/// straight into their output: Room gives space that is not filled first (as a string's resize
/// fills it), the writer writes there and Commit keeps what it wrote. Short appends copy without
/// a call. The growth at least doubles the capacity.
template <class T>
class CUnclearedBuffer {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  CUnclearedBuffer() = default;
  CUnclearedBuffer(CUnclearedBuffer&& other) noexcept
      : m_data(std::move(other.m_data)),
        m_size(std::exchange(other.m_size, 0)),
        m_capacity(std::exchange(other.m_capacity, 0)) {}
  CUnclearedBuffer& operator=(CUnclearedBuffer&& other) noexcept {
    m_data = std::move(other.m_data);
    m_size = std::exchange(other.m_size, 0);
    m_capacity = std::exchange(other.m_capacity, 0);
    return *this;
  }
  CUnclearedBuffer(const CUnclearedBuffer&) = delete;
  CUnclearedBuffer& operator=(const CUnclearedBuffer&) = delete;
  ~CUnclearedBuffer() = default;

  const T* data() const { return m_data.get(); }
  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  T back() const { return m_data[m_size - 1]; }
  std::basic_string_view<T> View() const { return {m_data.get(), m_size}; }
  void clear() { m_size = 0; }
  /// Keeps the first `size` units.
  void Truncate(std::size_t size) { m_size = size; }
  /// Room for `capacity` units in all, the units kept.
  void reserve(std::size_t capacity) {
    if (capacity > m_capacity) Grow(capacity);
  }
  /// Room for `n` more units at the end, to be written there and then kept by Commit.
  T* Room(std::size_t n) {
    if (m_capacity - m_size < n) Grow(m_size + n);
    return m_data.get() + m_size;
  }
  void Commit(std::size_t n) { m_size += n; }

  /// Appends the `n` units at `from`. Most appends of the writers are a few units (codes between
  /// two text runs, a marker's digits): two overlapping fixed-size copies move them.
  void append(const T* from, std::size_t n) {
    T* const at = Room(n);
    if (n >= 4 && n <= 8) {
      std::memcpy(at, from, 4 * sizeof(T));
      std::memcpy(at + n - 4, from + n - 4, 4 * sizeof(T));
    } else if (n >= 2 && n < 4) {
      std::memcpy(at, from, 2 * sizeof(T));
      std::memcpy(at + n - 2, from + n - 2, 2 * sizeof(T));
    } else if (n == 1) {
      *at = *from;
    } else if (n != 0) {
      std::memcpy(at, from, n * sizeof(T));
    }
    m_size += n;
  }
  CUnclearedBuffer& operator+=(std::basic_string_view<T> units) {
    append(units.data(), units.size());
    return *this;
  }
  CUnclearedBuffer& operator+=(T unit) {
    *Room(1) = unit;
    ++m_size;
    return *this;
  }
  /// Puts `units` in front of the unit at `at`.
  void Insert(std::size_t at, std::basic_string_view<T> units) {
    Room(units.size());
    T* const from = m_data.get() + at;
    std::memmove(from + units.size(), from, (m_size - at) * sizeof(T));
    std::memcpy(from, units.data(), units.size() * sizeof(T));
    m_size += units.size();
  }

 private:
  [[gnu::noinline]] void Grow(std::size_t capacity) {
    capacity = std::max(capacity, 2 * m_capacity);
    std::unique_ptr<T[]> data = std::make_unique_for_overwrite<T[]>(capacity);
    if (m_size != 0) std::memcpy(data.get(), m_data.get(), m_size * sizeof(T));
    m_data = std::move(data);
    m_capacity = capacity;
  }

  std::unique_ptr<T[]> m_data;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};

}  // namespace tagvert
