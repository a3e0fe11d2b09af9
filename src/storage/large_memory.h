// Tagvert: memory for the buffers of many megabytes that a conversion fills once (CLargeAllocator).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace tagvert {

/// Takes `bytes` (at least kLargeBlockBytes) of zero-filled, writable memory straight from the
/// system, marked for large pages where the system offers them: a buffer of hundreds of MB then
/// costs a few hundred page faults instead of tens of thousands, each of which is dear on a
/// virtual machine. Returns null when the memory cannot be had. Never throws; safe to call
/// from several threads at once. Implemented once per platform.
void* PlatformAllocateLarge(std::size_t bytes);
/// Gives a block of `bytes` that is reused for them (a kept block, or the start of one) the
/// advice on the size of its pages that PlatformAllocateLarge gives a fresh one, for the pages
/// it takes from now on; the pages it holds stay as they are. Implemented once per platform.
void PlatformAdviseLarge(void* block, std::size_t bytes);
/// Has the block of `bytes` (of PlatformAllocateLarge, or reused for them) take small pages only
/// from now on, whatever its size: for room reserved far beyond what most documents write into
/// it, where a large page would make memory resident that is never written. The pages it holds
/// stay as they are. Implemented once per platform.
void PlatformAdviseSmall(void* block, std::size_t bytes);
/// Gives back a block of PlatformAllocateLarge with the size it was asked for.
void PlatformFreeLarge(void* block, std::size_t bytes);

/// The bytes that a block of PlatformAllocateLarge of `bytes` spans: `bytes` rounded up to the
/// system's unit for such blocks; 0 when no block of `bytes` can be had. Implemented once per
/// platform.
std::size_t PlatformLargeBlockSpan(std::size_t bytes);
/// Whether the blocks of PlatformAllocateLarge may be cut and joined: whether a part of a block
/// that starts and ends on a span boundary (PlatformLargeBlockSpan of a size), or two blocks
/// that lie next to each other, may be given back as one block of that size. Implemented once
/// per platform.
bool PlatformLargeBlocksDivide();

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

/// While it lives, the large blocks that its thread gives back are kept for the large blocks
/// the thread takes next, instead of going back to the system: a thread that runs one
/// conversion after another then maps, zeroes and faults in its buffers about once, not once per
/// document, and unmaps them (which makes every other thread of the process drop them from its
/// address cache) once at the end. A kept block serves a later block of its span or, where the
/// system lets blocks be cut and joined (PlatformLargeBlocksDivide), any smaller one, and the
/// kept blocks that lie next to each other serve as one. A reused block holds what it held
/// before: its content is unspecified, as that of CLargeAllocator's blocks is.
///
/// The thread never holds more than the most it has held in use at once, counted twice: the
/// blocks' spans (its address space) and their memory, which is the bytes asked for less what
/// was given back of them with Discard (a table's room beyond its records). When a block is taken,
/// kept blocks go back to the system (the smallest first) until the spans in use and kept are
/// within the first mark, and the memory of kept blocks is discarded (PlatformDiscardLarge)
/// until the memory in use and kept is within the second. A block that waits through a stage
/// of a conversion (the input buffer while the records are cut) thus costs no memory there, and
/// a larger document than those before takes the kept blocks' place instead of adding to them:
/// a batch of like documents holds what one conversion holds at its peak. Only large blocks are
/// counted: a user that builds much on the heap after giving its blocks back holds the kept ones
/// besides, and is better served without reuse. Everything kept goes back when the object ends.
/// Only the newest object of a thread serves it (they nest); blocks given back on a thread without
/// one go straight back to the system. Under AddressSanitizer nothing is kept, so that a use of a
/// block after it was given back still faults.
class CLargeBlockReuse {
 public:
  /// `fill`: for tests, a byte (0 to 255) that every reused block is filled with before it is
  /// handed out, so that a reader of memory it never wrote finds neither zeros nor an earlier
  /// conversion's data; -1 leaves reused blocks as they are.
  explicit CLargeBlockReuse(int fill = -1);
  ~CLargeBlockReuse();
  CLargeBlockReuse(const CLargeBlockReuse&) = delete;
  CLargeBlockReuse& operator=(const CLargeBlockReuse&) = delete;

  /// A block of at least `bytes` (kLargeBlockBytes and more): a kept block of this thread's
  /// newest CLargeBlockReuse, else one of PlatformAllocateLarge. Null when no memory can be had.
  static void* Allocate(std::size_t bytes);
  /// Gives back a block of Allocate (on any thread) with the size it was asked for.
  static void Free(void* block, std::size_t bytes);
  /// PlatformDiscardLarge of a part of a block of Allocate, which the thread's CLargeBlockReuse
  /// then no longer counts as the block's memory.
  static void Discard(void* begin, std::size_t bytes);

  /// False in builds with AddressSanitizer, where every block goes back to the system.
  static bool IsEnabled();
  /// The spans of the blocks kept now, and the blocks served from them so far (for tests).
  std::size_t KeptBytes() const { return m_kept.span; }
  std::size_t ReusedCount() const { return m_reused; }

 private:
  // Bytes of address space (spans) and of memory: the bytes asked for, less what was discarded
  // of them.
  struct CAmount {
    std::size_t span = 0;
    std::size_t memory = 0;
  };
  struct CKept {
    std::uint8_t* begin;
    CAmount size;
  };
  // A block in use, the bytes asked for, and the one run of them that was discarded (runs that
  // meet are joined).
  struct CInUse {
    std::uint8_t* begin;
    std::size_t bytes;
    std::size_t discardedFrom;
    std::size_t discardedTo;
  };
  // Enough for the few large buffers of a conversion: a block given back when every slot is
  // taken goes back to the system, and one taken then counts as whole until it is given back.
  static constexpr std::size_t kSlots = 16;

  void* Take(std::size_t span);
  void Keep(std::uint8_t* begin, CAmount size);
  void Drop(std::size_t index);
  void Trim();
  void NoteInUse(std::uint8_t* begin, std::size_t bytes);
  std::size_t EndUse(std::uint8_t* begin, std::size_t bytes);
  void NoteDiscard(std::uint8_t* begin, std::size_t bytes);

  CKept m_ranges[kSlots] = {};  // the kept blocks, in address order
  std::size_t m_count = 0;
  CInUse m_uses[kSlots] = {};
  std::size_t m_useCount = 0;
  CAmount m_kept;
  CAmount m_inUse;  // blocks taken on this thread and not given back on it
  CAmount m_mostInUse;
  std::size_t m_reused = 0;
  int m_fill;
  bool m_divide;
  CLargeBlockReuse* m_previous;
};

/// A standard allocator that takes blocks of kLargeBlockBytes and more from
/// CLargeBlockReuse::Allocate (from PlatformAllocateLarge, or a block its thread gave back) and
/// smaller ones from the free store. Its memory is never cleared: the elements are constructed
/// in it as in any allocator's. Throws std::bad_alloc.
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
    void* block = CLargeBlockReuse::Allocate(n * sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n * sizeof(T) < kLargeBlockBytes) {
      std::allocator<T>().deallocate(p, n);
    } else {
      CLargeBlockReuse::Free(p, n * sizeof(T));
    }
  }

  template <class U>
  bool operator==(const CLargeAllocator<U>& /*other*/) const noexcept {
    return true;
  }
};

/// CLargeAllocator whose elements made without a value (a vector's resize) are left unwritten, for
/// working room of plain numbers that is written before it is read, only where it is read: room
/// never written costs no memory, and none is written twice.
template <class T>
class CLargeUnwrittenAllocator : public CLargeAllocator<T> {
 public:
  static_assert(std::is_trivially_default_constructible_v<T>);
  CLargeUnwrittenAllocator() = default;
  template <class U>
  CLargeUnwrittenAllocator(const CLargeUnwrittenAllocator<U>& /*other*/) noexcept {}

  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0) {
      ::new (static_cast<void*>(p)) U;
    } else {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
  }
};

/// Discards the memory of the room of `v` beyond its size (CLargeBlockReuse::Discard) when it
/// came from the system.
template <class T, class A>
void DiscardUnusedCapacity(std::vector<T, A>& v) {
  static_assert(std::is_base_of_v<CLargeAllocator<T>, A>);
  if (v.capacity() * sizeof(T) < kLargeBlockBytes) return;
  CLargeBlockReuse::Discard(v.data() + v.size(), (v.capacity() - v.size()) * sizeof(T));
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
