// Tagvert: the XLIFF skeleton's compact form. The skeleton is a plan of the IF in three
// streams: the IF outside the units, the IF of every unit's codes, and a table of their lengths.
// IF units are narrowed (a unit below 0x80 one byte, any other two or three bytes, as UTF-8
// writes a code point, surrogates one by one); each stream is cut into blocks of at most
// kPlanBlock bytes, each compressed on its own (LZ77, a 64 KiB window), and the three go into the
// XLIFF as base64. Markup repeats itself: the skeleton of a document is about a tenth of its IF,
// a parser reads it as long runs of plain characters, and the merge reads the codes without
// the rest, which it widens once, straight into the way back's buffer.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/large_memory.h"

namespace tagvert::xliff {

/// The writer's strings of many megabytes (the units' XML, the plan), taken as large blocks.
using CLargeString = std::basic_string<char, std::char_traits<char>, CLargeAllocator<char>>;

/// The largest block of a stream, uncompressed.
inline constexpr std::size_t kPlanBlock = std::size_t{1} << 20;
/// What the compressor may read past a block's bytes.
inline constexpr std::size_t kPlanSlack = 16;

/// A 64-bit hash of IF units (and bytes), fed piece by piece; four units a step.
class CHash64 {
 public:
  void Add(std::u16string_view units) {
    const char16_t* u = units.data();
    const char16_t* const end = u + units.size();
    for (; u != end && m_count != 0; ++u) {
      m_word |= static_cast<std::uint64_t>(*u) << (16 * m_count);
      if (++m_count == 4) Mix();
    }
    if constexpr (std::endian::native == std::endian::little) {
      // Four units at once: the word they make is their bytes.
      for (; end - u >= 4; u += 4) {
        std::uint64_t word;
        std::memcpy(&word, u, sizeof word);
        m_hash = (m_hash ^ word) * 0x9E3779B97F4A7C15ull;
        m_hash ^= m_hash >> 29;
        m_length += 4;
      }
    }
    for (; u != end; ++u) {
      m_word |= static_cast<std::uint64_t>(*u) << (16 * m_count);
      if (++m_count == 4) Mix();
    }
  }
  void AddBytes(std::string_view bytes) {
    for (const char byte : bytes) {
      m_word |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(byte)) << (16 * m_count);
      if (++m_count == 4) Mix();
    }
  }
  /// Eight bytes at once (see HashBytes).
  void AddWord(std::uint64_t word) {
    m_hash = (m_hash ^ word) * 0x9E3779B97F4A7C15ull;
    m_hash ^= m_hash >> 29;
    m_length += 4;
  }
  /// A code of a unit's source as the XLIFF names it: its role and its id.
  void AddCode(int role, std::string_view id) {
    const char16_t mark[2] = {0xFFFF, static_cast<char16_t>(0xFF00 + role)};
    Add(std::u16string_view(mark, 2));
    AddBytes(id);
    Add(std::u16string_view(mark, 1));
  }
  std::uint64_t Value() {
    if (m_count != 0) Mix();
    std::uint64_t h = m_hash ^ m_length;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return h;
  }

 private:
  void Mix() {
    m_hash = (m_hash ^ m_word) * 0x9E3779B97F4A7C15ull;
    m_hash ^= m_hash >> 29;
    m_length += static_cast<std::uint64_t>(m_count);
    m_word = 0;
    m_count = 0;
  }
  std::uint64_t m_hash = 0xCBF29CE484222325ull;
  std::uint64_t m_word = 0;
  std::uint64_t m_length = 0;
  int m_count = 0;
};

/// The hash of bytes, eight at a time.
std::uint64_t HashBytes(std::string_view bytes);
/// The same of the bytes of `pieces`, one after the other.
std::uint64_t HashBytes(std::span<const std::string_view> pieces);

/// Folds the hash of unit `number`'s source into the hash of all units (in any order).
inline std::uint64_t FoldUnitHash(std::uint64_t all, std::size_t number, std::uint64_t unit) {
  std::uint64_t h = unit ^ (static_cast<std::uint64_t>(number) * 0xD6E8FEB86659FD93ull);
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  return all + h;
}

/// Appends IF units narrowed.
void AppendNarrow(CLargeString& out, std::u16string_view units);

/// Bytes of a CLargeBlock, never cleared: room that is always written before it is read, and
/// that grows keeping what it holds.
class CRawBytes {
 public:
  char* Data() const { return reinterpret_cast<char*>(m_block.get()); }
  std::size_t Size() const { return m_block.get_deleter().bytes; }
  /// Room for `size` bytes, of which the first `keep` (at most the size before) stay.
  void Resize(std::size_t size, std::size_t keep);

 private:
  CLargeBlock m_block;
};

/// The blocks of a plan's streams waiting to be compressed, and the threads that compress them.
/// The writer hands each block over as it fills; when no other thread helps it compresses the
/// block at once, else it leaves at most `queued` blocks waiting (SetHelper) and compresses the
/// oldest itself past that, while a thread that would otherwise wait for it (RunOne) compresses
/// the others. A block's bytes compressed do not depend on who compresses it, nor when.
class CPackPool {
 public:
  /// A block: its bytes, and once done what they compress to.
  struct CJob {
    CRawBytes in;
    std::size_t size = 0;
    CRawBytes out;
    std::size_t packed = 0;
    std::atomic<bool> done{false};
  };

  CPackPool() = default;
  CPackPool(const CPackPool&) = delete;
  CPackPool& operator=(const CPackPool&) = delete;
  ~CPackPool();

  /// Lets up to `queued` blocks wait for a helper; `notify` is called (without the pool's lock)
  /// whenever a block starts waiting, so that a helper asleep elsewhere looks again.
  void SetHelper(std::size_t queued, std::function<void()> notify);
  /// The first `size` bytes of `bytes` to compress (which must hold kPlanSlack more): the job
  /// is the caller's until Release.
  CJob* Add(CRawBytes bytes, std::size_t size);
  /// Bytes a job done with held (empty when there are none), for the next block to gather in.
  CRawBytes Room();
  /// Waits until `job` is compressed (compressing it when no thread has started it).
  void Wait(CJob& job);
  /// Gives back a job done with, its room kept for the next.
  void Release(CJob* job);
  /// A helper's turn: compresses the oldest waiting block with `table` (the helper's own);
  /// false when none waits.
  bool RunOne(std::vector<std::uint32_t>& table);
  /// Whether a block waits (a helper's wake-up test).
  bool HasWaiting() const { return m_waiting.load(std::memory_order_acquire) != 0; }

 private:
  CJob* Take();
  static void Run(CJob& job, std::vector<std::uint32_t>& table);

  std::mutex m_mutex;
  std::condition_variable m_finished;  ///< a job is done
  std::deque<CJob*> m_queue;           ///< waiting, oldest first
  std::atomic<std::size_t> m_waiting{0};
  std::vector<CJob*> m_free;       ///< done with, their room for the block compressed kept
  std::vector<CRawBytes> m_rooms;  ///< the bytes of jobs done with
  std::size_t m_queued = 0;
  std::function<void()> m_notify;
  std::vector<std::uint32_t> m_table;  ///< the writer's compressor table
};

/// A stream of the plan as it is written: narrowed units in, compressed blocks out.
class CBlockWriter {
 public:
  explicit CBlockWriter(CPackPool& pool) : m_pool(pool) {}
  ~CBlockWriter();
  CBlockWriter(const CBlockWriter&) = delete;
  CBlockWriter& operator=(const CBlockWriter&) = delete;
  /// Takes room for `bytes` bytes of compressed blocks, so that they grow without copies, and
  /// room for the bytes not yet compressed (at most a block and the piece that fills it); room
  /// never written costs no memory.
  void Reserve(std::size_t bytes) {
    m_blocks.reserve(bytes);
    m_firstRoom = std::min(bytes, kPlanBlock + kPlanBlock / 4);
  }
  /// Appends `units` narrowed; returns the number of bytes they took.
  std::size_t Units(std::u16string_view units);
  /// Appends a number of the table (see GetNumber).
  void Number(std::uint64_t v);
  /// The compressed blocks, once the whole stream has been given.
  CLargeString& Finish() {
    Flush(true);
    return m_blocks;
  }

 private:
  void Flush(bool all);
  /// Appends the blocks compressed at the front of m_jobs (all of them with `all`).
  void Collect(bool all);
  /// Room for `bytes` more pending bytes and the compressor's look past them.
  char* Room(std::size_t bytes) {
    if (m_pending.Size() - m_used < bytes + kPendingSlack) Grow(bytes);
    return m_pending.Data() + m_used;
  }
  void Grow(std::size_t bytes);
  /// The bytes not yet compressed: its first m_used (the compressor copies literals sixteen
  /// bytes at a time, and may read up to kPendingSlack bytes past them).
  CRawBytes m_pending;
  std::size_t m_used = 0;
  std::size_t m_firstRoom = 0;
  static constexpr std::size_t kPendingSlack = kPlanSlack;
  CPackPool& m_pool;
  std::deque<CPackPool::CJob*> m_jobs;  ///< blocks handed to the pool, in order
  CLargeString m_blocks;
};

/// The plan as it is written: the IF outside the units, and each unit's codes.
class CPlanWriter {
 public:
  /// Takes room for the plan of a document of `bytes` bytes (its markup compressed is a small
  /// part of it).
  void Reserve(std::uint64_t bytes) {
    const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(bytes / 4, 1ULL << 30));
    m_raw.Reserve(room);
    m_codes.Reserve(room);
  }
  void Raw(std::u16string_view units) {
    m_rawBytes += m_raw.Units(units);
    m_rawUnits += units.size();
  }
  void BeginUnit();
  void Code(std::u16string_view units) { m_codeBytes.push_back(m_codes.Units(units)); }
  void EndUnit();
  /// The plan's bytes, in pieces to be taken one after the other (valid as long as the
  /// writer): the sizes of the table's and the codes' blocks (eight bytes each), then the
  /// blocks of the table, of the codes and of the IF outside the units.
  std::array<std::string_view, 4> Finish();
  /// Who compresses the blocks (see CPackPool).
  CPackPool& Pool() { return m_pool; }

 private:
  CPackPool m_pool;  ///< for the three streams
  CBlockWriter m_raw{m_pool}, m_codes{m_pool}, m_table{m_pool};
  std::uint64_t m_rawBytes = 0;  ///< since the last unit
  std::uint64_t m_rawUnits = 0;
  std::vector<std::size_t> m_codeBytes;
  std::string m_head;  ///< the plan's first bytes (Finish)
};

/// The plan as it is read: the three streams apart.
struct CPlanParts {
  std::string_view table, codes, raw;
};
/// Splits the plan's bytes; false when they are damaged.
bool SplitPlan(std::string_view plan, CPlanParts& parts);
/// All the blocks of a stream decompressed; false when they are damaged.
bool Inflate(std::string_view blocks, std::string& out);
bool Inflate(std::string_view blocks, CLargeString& out);
/// The uncompressed size of a stream's blocks, without decompressing them; false when damaged.
bool InflatedSize(std::string_view blocks, std::uint64_t& size);
/// A number of the table (seven bits a byte, the high bit continuing); false past `end`.
bool GetNumber(const std::uint8_t*& p, const std::uint8_t* end, std::uint64_t& value);

/// Appends `bytes` as base64, in lines of 76 characters.
void AppendBase64(std::string& out, std::string_view bytes);
/// The most characters AppendBase64 appends for `n` bytes.
constexpr std::size_t Base64Size(std::size_t n) {
  return (n + 2) / 3 * 4 + n / 57 + 2;
}
/// Hands the bytes of `pieces`, one after the other, as base64 (as AppendBase64 appends them)
/// to `write` a few lines at a time: their base64 is never held whole.
void WriteBase64(std::span<const std::string_view> pieces,
                 const std::function<void(std::string_view)>& write);

/// Base64 text (whitespace ignored) back into bytes, piece by piece. False on any other character
/// or a piece after the end.
class CBase64Reader {
 public:
  bool Add(std::string_view text, CLargeString& out);
  /// True when the text ended on a whole group.
  bool Finish() const { return m_count == 0; }

 private:
  std::uint32_t m_bits = 0;
  int m_count = 0;
  int m_padding = 0;
};

/// Decompresses a stream's blocks one after the other. Every length and offset is checked:
/// damaged blocks make Next return false with Damaged() true.
class CPlanReader {
 public:
  explicit CPlanReader(std::string_view blocks) : m_rest(blocks) {}
  /// The next block's bytes (valid until the next call); false at the end or on damage.
  bool Next(std::string_view& block);
  bool Damaged() const { return m_damaged; }

 private:
  std::string_view m_rest;
  std::string m_block;
  bool m_damaged = false;
};

/// Widens the narrowed units in [p, end) into `out` as UTF-16 little-endian bytes, at most
/// `room` units; returns the units written and moves `p` past what it read (never beyond `end`:
/// a byte that starts no narrowed unit, or a unit cut by `end`, gives U+FFFD).
std::size_t Widen(const std::uint8_t*& p, const std::uint8_t* end, std::uint8_t* out,
                  std::size_t room);
/// The same, all of [p, end) appended to `out` as units.
void WidenAppend(const std::uint8_t* p, const std::uint8_t* end, std::u16string& out);

/// Whether [p, end) is narrowed units and nothing else.
bool IsNarrowed(const std::uint8_t* p, const std::uint8_t* end);

}  // namespace tagvert::xliff
