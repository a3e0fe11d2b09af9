// Tagvert: the XLIFF skeleton's compact form. The skeleton is a plan of the IF: the IF outside
// the units and each unit's codes, with one-byte marks where a unit begins, where each of its
// codes begins and where the unit ends. Its IF units are narrowed (a unit below 0x80 one byte,
// any other two or three bytes, as UTF-8 writes a code point, surrogates one by one), the plan is
// cut into blocks of at most kPlanBlock bytes, each compressed on its own (LZ77, a 64 KiB
// window), and the blocks go into the XLIFF as base64. Markup repeats itself: the skeleton of a
// document is about a tenth of its IF, and a parser reads it as long runs of plain characters.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tagvert::xliff {

/// The marks of the plan: bytes that no narrowed unit uses.
inline constexpr std::uint8_t kPlanUnit = 0xF8;     ///< a unit begins
inline constexpr std::uint8_t kPlanCode = 0xF9;     ///< a code of the unit begins
inline constexpr std::uint8_t kPlanUnitEnd = 0xFA;  ///< the unit ends
/// The largest block of the plan, uncompressed.
inline constexpr std::size_t kPlanBlock = std::size_t{1} << 20;

/// A 64-bit hash of IF units (and bytes), fed piece by piece; four units a step.
class CHash64 {
 public:
  void Add(std::u16string_view units) {
    for (const char16_t unit : units) {
      m_word |= static_cast<std::uint64_t>(unit) << (16 * m_count);
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

/// Folds the hash of unit `number`'s source into the hash of all units (in any order).
inline std::uint64_t FoldUnitHash(std::uint64_t all, std::size_t number, std::uint64_t unit) {
  std::uint64_t h = unit ^ (static_cast<std::uint64_t>(number) * 0xD6E8FEB86659FD93ull);
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  return all + h;
}

/// Appends IF units narrowed.
void AppendNarrow(std::string& out, std::u16string_view units);

/// The plan as it is written: narrowed units and marks in, compressed blocks out.
class CPlanWriter {
 public:
  void Units(std::u16string_view units) {
    AppendNarrow(m_plan, units);
    if (m_plan.size() >= kPlanBlock) Flush(false);
  }
  void Mark(std::uint8_t mark) { m_plan += static_cast<char>(mark); }
  /// The compressed blocks, once the whole plan has been given.
  std::string& Finish() {
    Flush(true);
    return m_blocks;
  }

 private:
  void Flush(bool all);
  std::string m_plan;
  std::string m_blocks;
};

/// Appends `bytes` as base64, in lines of 76 characters.
void AppendBase64(std::string& out, std::string_view bytes);

/// Base64 text (whitespace ignored) back into bytes, piece by piece. False on any other character
/// or a piece after the end.
class CBase64Reader {
 public:
  bool Add(std::string_view text, std::string& out);
  /// True when the text ended on a whole group.
  bool Finish() const { return m_count == 0; }

 private:
  std::uint32_t m_bits = 0;
  int m_count = 0;
  int m_padding = 0;
};

/// Decompresses the blocks one after the other. Every length and offset is checked: damaged
/// blocks make Next return false with `damaged` set.
class CPlanReader {
 public:
  explicit CPlanReader(std::string_view blocks) : m_rest(blocks) {}
  /// The next block's plan bytes (valid until the next call); false at the end or on damage.
  bool Next(std::string_view& plan);
  bool Damaged() const { return m_damaged; }

 private:
  std::string_view m_rest;
  std::string m_block;
  bool m_damaged = false;
};

/// Widens the narrowed units at `p` (up to `end` or a mark) into `out` as UTF-16 little-endian
/// bytes, at most `room` units; returns the units written and moves `p` past what it read. The
/// plan is trusted: ScanPlanChars checked it when it was read.
std::size_t Widen(const std::uint8_t*& p, const std::uint8_t* end, std::uint8_t* out,
                  std::size_t room);
/// The same, appended to `out` as units.
void WidenAppend(const std::uint8_t*& p, const std::uint8_t* end, std::u16string& out);

/// Checks the narrowed units at `p` up to the next mark (or `end`), moving `p` there and adding
/// their number to `units`; false when a byte is no narrowed unit (a unit cut at the block's end
/// included).
bool ScanPlanChars(const std::uint8_t*& p, const std::uint8_t* end, std::size_t& units);

}  // namespace tagvert::xliff
