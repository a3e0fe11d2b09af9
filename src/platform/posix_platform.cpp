// Tagvert: operating-system services on POSIX systems (files, code pages, message texts).
// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <iconv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/cp936_pua_tab.h"
#include "platform/file_stream.h"
#include "platform/posix_file_stream.h"
#include "rules/message_text.h"
#include "storage/char_class.h"
#include "storage/code_page_platform.h"
#include "storage/data_storage.h"
#include "storage/large_memory.h"

namespace tagvert {
namespace {

// One iconv conversion from a Chinese code page to UTF-16LE. A descriptor carries shift state
// and must not be used by two threads at once, so each thread keeps its own (see below).
class CIconvDecoder {
 public:
  explicit CIconvDecoder(const char* charset) : m_cd(::iconv_open("UTF-16LE", charset)) {}
  ~CIconvDecoder() {
    if (m_cd != kNoDescriptor) ::iconv_close(m_cd);
  }
  CIconvDecoder(const CIconvDecoder&) = delete;
  CIconvDecoder& operator=(const CIconvDecoder&) = delete;

  bool Decode(const std::uint8_t* bytes, std::size_t size, char16_t& unit) {
    if (m_cd == kNoDescriptor || size == 0 || size > 4) return false;
    ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    char in[4];
    std::memcpy(in, bytes, size);
    char* inPtr = in;
    std::size_t inLeft = size;
    char out[16];
    char* outPtr = out;
    std::size_t outLeft = sizeof out;
    if (::iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        inLeft != 0) {
      return false;
    }
    // Exactly one unit: two characters, or one beyond U+FFFF (a surrogate pair), do not count.
    if (outPtr - out != 2) return false;
    unit = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                 (static_cast<unsigned char>(out[1]) << 8));
    return true;
  }

 private:
  // iconv_open's failure value, which the interface defines as (iconv_t)-1: an integer made a
  // pointer by the interface, not by this code.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  static inline const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);
  iconv_t m_cd;
};

// Code page 936 gives every double-byte position (lead 0x81..0xFE, trail 0x40..0xFE but 0x7F) a
// unit; glibc's GBK leaves the positions it has no character for unmapped. The platform
// conversion maps them to the Private Use Area: the end-user-defined areas in three blocks from
// U+E000, the remaining positions in byte order from U+E766.
bool DecodeCp936PrivateUse(std::uint8_t lead, std::uint8_t trail, char16_t& unit) {
  if (lead >= 0xAA && lead <= 0xAF && trail >= 0xA1 && trail <= 0xFE) {
    unit = static_cast<char16_t>(0xE000 + (lead - 0xAA) * 94 + (trail - 0xA1));
    return true;
  }
  if (lead >= 0xF8 && lead <= 0xFE && trail >= 0xA1 && trail <= 0xFE) {
    unit = static_cast<char16_t>(0xE234 + (lead - 0xF8) * 94 + (trail - 0xA1));
    return true;
  }
  if (lead >= 0xA1 && lead <= 0xA7 && trail >= 0x40 && trail <= 0xA0 && trail != 0x7F) {
    unit =
        static_cast<char16_t>(0xE4C6 + (lead - 0xA1) * 96 + (trail - (trail < 0x7F ? 0x40 : 0x41)));
    return true;
  }
  const auto position = static_cast<std::uint16_t>((lead << 8) | trail);
  const auto* first = std::begin(detail::kCp936PrivateUsePositions);
  const auto* last = std::end(detail::kCp936PrivateUsePositions);
  const auto* it = std::lower_bound(first, last, position);
  if (it == last || *it != position) return false;
  unit = static_cast<char16_t>(0xE766 + (it - first));
  return true;
}

}  // namespace

bool PlatformDecodeCodePage(unsigned codePage, const std::uint8_t* bytes, std::size_t size,
                            char16_t& unit) {
  if (codePage == kCodePage936) {
    thread_local CIconvDecoder gbk("GBK");
    if (gbk.Decode(bytes, size, unit)) return true;
    return size == 2 && DecodeCp936PrivateUse(bytes[0], bytes[1], unit);
  }
  if (codePage == kCodePage54936) {
    thread_local CIconvDecoder gb18030("GB18030");
    return gb18030.Decode(bytes, size, unit);
  }
  return false;
}

ByteStreamPtr PlatformOpenFileForReading(const std::u16string& name) {
  const std::string path = Utf16ToUtf8(name);
  struct stat st {};
  // Only an existing file that is not a directory can be a source.
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_shared<detail::CPosixFileStream>(fd);
}

ByteStreamPtr PlatformCreateFileForWriting(const std::u16string& name) {
  const std::string path = Utf16ToUtf8(name);
  if (path.empty()) return nullptr;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  return std::make_shared<detail::CPosixFileStream>(fd);
}

namespace {

// The system puts a large page only where one fits whole, at an address that is a multiple
// of its size: a block starts at such an address and spans whole large pages, or its two ends
// would be made of hundreds of small pages, each a fault of its own.
constexpr std::size_t kLargePage = std::size_t{2} << 20;

std::size_t LargeBlockSpan(std::size_t bytes) {
  return (bytes + kLargePage - 1) & ~(kLargePage - 1);
}

}  // namespace

void* PlatformAllocateLarge(std::size_t bytes) {
  // Guard: size overflow
  if (bytes > SIZE_MAX - 2 * kLargePage) return nullptr;
  const std::size_t span = LargeBlockSpan(bytes);
  // Mapped with a large page to spare, then cut to the aligned span.
  void* mapped = ::mmap(nullptr, span + kLargePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  // The bytes before the first large page boundary and those after the span go back.
  const std::size_t head =
      (kLargePage - reinterpret_cast<std::uintptr_t>(mapped) % kLargePage) % kLargePage;
  auto* const first = static_cast<std::uint8_t*>(mapped);
  if (head != 0) ::munmap(first, head);
  ::munmap(first + head + span, kLargePage - head);
  void* block = first + head;
  PlatformAdviseLarge(block, bytes);
  return block;
}

void PlatformAdviseLarge(void* block, std::size_t bytes) {
#if defined(MADV_HUGEPAGE) && defined(MADV_NOHUGEPAGE)
  // Only advice: where large pages are off, the block is made of small ones. Large pages
  // cover the whole large pages of the bytes asked for, and the last part of one where the
  // bytes fill at least half of it; the rest of the span takes small ones, so that a block
  // sized to its content (a table of one value per record) holds at most half a large page
  // more than it holds. A block of less than two large pages takes small pages only: its one
  // large page would be most of it, held whether the block fills or not (room reserved ahead
  // for texts that few documents need).
  auto* const first = static_cast<std::uint8_t*>(block);
  const std::size_t span = LargeBlockSpan(bytes);
  std::size_t large = 0;
  if (bytes >= 2 * kLargePage) {
    large = bytes & ~(kLargePage - 1);
    if (bytes - large >= kLargePage / 2) large = span;
  }
  if (large != 0) ::madvise(first, large, MADV_HUGEPAGE);
  if (large != span) ::madvise(first + large, span - large, MADV_NOHUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

void PlatformAdviseSmall(void* block, std::size_t bytes) {
#if defined(MADV_NOHUGEPAGE)
  ::madvise(block, LargeBlockSpan(bytes), MADV_NOHUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

void PlatformFreeLarge(void* block, std::size_t bytes) {
  if (block != nullptr) ::munmap(block, LargeBlockSpan(bytes));
}

std::size_t PlatformLargeBlockSpan(std::size_t bytes) {
  // Guard: size overflow (as in PlatformAllocateLarge)
  if (bytes > SIZE_MAX - 2 * kLargePage) return 0;
  return LargeBlockSpan(bytes);
}

// Blocks are mappings of whole large pages: any run of them may be unmapped in one call.
bool PlatformLargeBlocksDivide() {
  return true;
}

void PlatformDiscardLarge(void* begin, std::size_t bytes) {
  const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto first = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(page - 1);
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the page boundaries within the block
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

#if defined(MADV_POPULATE_WRITE)
namespace {

// Backs the pages with MADV_POPULATE_WRITE, which faults them in as a write would without
// writing: a page that the writer has already touched is left as it is. A step of 2 MiB is one
// large page, and bounds how long the destructor waits.
class CPosixPageBacker final : public CPageBacker {
 public:
  CPosixPageBacker(void* block, std::size_t bytes)
      : m_block(static_cast<std::uint8_t*>(block)), m_bytes(bytes) {
    // The thread starts with every signal blocked, so that the process's handlers run on the
    // threads that expect them.
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
      m_thread = std::thread([this] { Run(); });
    } catch (...) {
      ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
      throw;
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }
  ~CPosixPageBacker() override {
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_stop.store(true, std::memory_order_relaxed);
    }
    m_wake.notify_one();
    m_thread.join();
  }

  void BackUpTo(std::size_t bytes) override {
    bytes = std::min(bytes, m_bytes);
    {
      std::lock_guard<std::mutex> lock(m_lock);
      if (bytes == m_allowed) return;
      m_allowed = bytes;
      if (!m_waiting) return;
    }
    m_wake.notify_one();
  }

 private:
  static constexpr std::size_t kStep = std::size_t{2} << 20;

  void Run() {
    std::size_t done = 0;
    for (;;) {
      std::size_t allowed = 0;
      {
        std::unique_lock<std::mutex> lock(m_lock);
        m_waiting = true;
        m_wake.wait(lock,
                    [&] { return m_stop.load(std::memory_order_relaxed) || m_allowed > done; });
        m_waiting = false;
        if (m_stop.load(std::memory_order_relaxed)) return;
        allowed = m_allowed;
      }
      while (done < allowed) {
        if (m_stop.load(std::memory_order_relaxed)) return;
        const std::size_t step = std::min(kStep, allowed - done);
        // A system without the call (EINVAL) or without the memory: the writer will fault the
        // pages itself, and meets the shortage there.
        if (::madvise(m_block + done, step, MADV_POPULATE_WRITE) != 0 && errno != EINTR) return;
        done += step;
      }
    }
  }

  std::uint8_t* const m_block;
  const std::size_t m_bytes;
  std::mutex m_lock;
  std::condition_variable m_wake;
  std::size_t m_allowed = 0;  // guarded by m_lock
  bool m_waiting = false;     // guarded by m_lock
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace

std::unique_ptr<CPageBacker> PlatformBackPagesAhead(void* block, std::size_t bytes) {
  if (block == nullptr || bytes == 0) return nullptr;
  try {
    return std::make_unique<CPosixPageBacker>(block, bytes);
  } catch (const std::system_error&) {
    return nullptr;  // no thread to be had
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
#else
// This system's headers offer no way to back pages without writing them.
std::unique_ptr<CPageBacker> PlatformBackPagesAhead(void* /*block*/, std::size_t /*bytes*/) {
  return nullptr;
}
#endif

// POSIX systems keep no message texts for the rule loader: every text is empty.
std::u16string PlatformGetMessageText(int /*number*/) {
  return {};
}

}  // namespace tagvert
