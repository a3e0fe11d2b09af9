// Tagvert: memory for the buffers of many megabytes that a conversion fills once (CLargeAllocator).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace tagvert {

/// Takes `bytes` (at least kLargeBlockBytes) of zero-filled, writable memory straight from the
/// system, marked for large pages where the system offers them: a buffer of hundreds of MB then
/// costs a few hundred page faults instead of tens of thousands, each of which is dear on a
/// virtual machine. Returns null when the memory cannot be had. Never throws; safe to call
/// from several threads at once. Implemented once per platform.
void* PlatformAllocateLarge(std::size_t bytes);
/// Gives back a block of PlatformAllocateLarge with the size it was asked for.
void PlatformFreeLarge(void* block, std::size_t bytes);

/// Gives the memory of the whole pages within [begin, begin + bytes), a part of a block of
/// PlatformAllocateLarge, back to the system while the block stays: a conversion that is done
/// with the end of a buffer (records dropped, room reserved for units that never came) lowers
/// its peak for the stages after it. The content there is lost; the pages read as zero or as
/// before when next touched. Only advice: a system may keep the memory. Implemented once per
/// platform.
void PlatformDiscardLarge(void* begin, std::size_t bytes);

/// Has the system provide the pages of a block ahead of the code that fills it from its start.
/// A virtual machine may hand out fresh memory slowly: touching a fresh 100 MB can cost as much
/// as decoding a document into it. Backing the pages on another processor, a little ahead of the
/// writer, takes that cost off the conversion's path. Backing never changes the block's content,
/// so it may run while the block is written and read.
class CPageBacker {
 public:
  CPageBacker() = default;
  CPageBacker(const CPageBacker&) = delete;
  CPageBacker& operator=(const CPageBacker&) = delete;
  /// Stops the backing; returns once the pages in progress are done, so that the block may
  /// then be given back.
  virtual ~CPageBacker() = default;
  /// Lets the pages up to `bytes` from the block's start be backed (more than the block's size
  /// means all of it). Backed pages stay backed when a later call asks for fewer.
  virtual void BackUpTo(std::size_t bytes) = 0;
};

/// Starts backing `block` (of PlatformAllocateLarge, `bytes` long) as CPageBacker says, on a
/// thread of its own. Null where the system offers no way to back pages in advance or no thread
/// can be started: the writer then takes each page at its first touch, as it would anyway. The
/// block must outlive the result. Implemented once per platform.
std::unique_ptr<CPageBacker> PlatformBackPagesAhead(void* block, std::size_t bytes);

/// Blocks from this size on come from PlatformAllocateLarge: from half a large page on, one
/// large page costs less than the hundreds of small ones the free store would map.
inline constexpr std::size_t kLargeBlockBytes = std::size_t{1} << 20;

/// A standard allocator that takes blocks of kLargeBlockBytes and more from
/// PlatformAllocateLarge and smaller ones from the free store. Throws std::bad_alloc.
template <class T>
class CLargeAllocator {
 public:
  using value_type = T;

  CLargeAllocator() = default;
  template <class U>
  CLargeAllocator(const CLargeAllocator<U>& /*other*/) noexcept {}

  T* allocate(std::size_t n) {
    // Guard: size overflow
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    if (n * sizeof(T) < kLargeBlockBytes) return std::allocator<T>().allocate(n);
    void* block = PlatformAllocateLarge(n * sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n * sizeof(T) < kLargeBlockBytes) {
      std::allocator<T>().deallocate(p, n);
    } else {
      PlatformFreeLarge(p, n * sizeof(T));
    }
  }

  template <class U>
  bool operator==(const CLargeAllocator<U>& /*other*/) const noexcept {
    return true;
  }
};

/// Discards the memory of the room of `v` beyond its size (PlatformDiscardLarge) when it came
/// from the system.
template <class T>
void DiscardUnusedCapacity(std::vector<T, CLargeAllocator<T>>& v) {
  if (v.capacity() * sizeof(T) < kLargeBlockBytes) return;
  PlatformDiscardLarge(v.data() + v.size(), (v.capacity() - v.size()) * sizeof(T));
}

/// Gives back a byte block of CLargeAllocator of `bytes` bytes (the deleter of CLargeBlock).
struct CLargeBlockDelete {
  std::size_t bytes = 0;
  void operator()(std::uint8_t* block) const noexcept {
    CLargeAllocator<std::uint8_t>().deallocate(block, bytes);
  }
};
/// A byte block of CLargeAllocator, written before it is read.
using CLargeBlock = std::unique_ptr<std::uint8_t[], CLargeBlockDelete>;
/// A CLargeBlock of `bytes` bytes. Throws std::bad_alloc.
inline CLargeBlock MakeLargeBlock(std::size_t bytes) {
  return CLargeBlock(CLargeAllocator<std::uint8_t>().allocate(bytes), CLargeBlockDelete{bytes});
}

}  // namespace tagvert
