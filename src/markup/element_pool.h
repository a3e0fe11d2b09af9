// Tagvert: a pool for the elements of one conversion (CElementPool).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tagvert {

/// While a pool lives, the CElementX objects created on its thread are carved out of large
/// blocks, and those destroyed on its thread go to a free list for the next ones, instead of
/// one heap allocation each: a document holds millions of them, and the heap's free lists grow
/// long once a pass has destroyed many. Elements created while no pool lives come from the heap
/// and go back to it wherever they are destroyed. Every element a pool served must be destroyed
/// before the pool, on the same thread (the TTX to IF driver creates the pool before its element
/// list). Pools nest: the newest one serves.
class CElementPool {
 public:
  CElementPool();
  ~CElementPool();
  CElementPool(const CElementPool&) = delete;
  CElementPool& operator=(const CElementPool&) = delete;

  /// Memory for one element of `size` bytes: from this thread's pool when there is one and the
  /// size is that of the pool's objects, else from the heap.
  static void* Allocate(std::size_t size);
  /// Gives back what Allocate returned.
  static void Release(void* p, std::size_t size);

  /// False in builds with AddressSanitizer, where every element comes from the heap.
  static bool IsEnabled();
  /// Objects served so far (for tests).
  std::size_t GetServedCount() const { return m_served; }

 private:
  struct CBlock {
    std::uintptr_t begin, end;
    std::unique_ptr<std::byte[]> bytes;
  };
  void* Take();
  bool Owns(const void* p) const;

  std::vector<CBlock> m_blocks;  // sorted by address
  void* m_free = nullptr;        // freed objects, linked through their first word
  std::byte* m_next = nullptr;   // the unused rest of the newest block
  std::byte* m_end = nullptr;
  std::size_t m_nextBlockObjects = 256;
  std::size_t m_served = 0;
  CElementPool* m_previous;
};

}  // namespace tagvert
