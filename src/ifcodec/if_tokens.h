// Tagvert: the IF read as tokens (CIfTokenReader), for every reader of the format.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ifcodec/if_code_range.h"
#include "storage/unit_scan.h"

namespace tagvert {

/// The position of the first code in `units`, or its size.
inline std::size_t FindIfCode(std::u16string_view units) {
  if constexpr (std::endian::native == std::endian::little) {
    return UnitsFindIfCode(reinterpret_cast<const std::uint8_t*>(units.data()), units.size());
  }
  std::size_t i = 0;
  while (i < units.size() && !IsIfCode(units[i]))
    ++i;
  return i;
}

/// Bit k set when units[k] is a code, for the 16 units at `units`.
inline std::uint32_t IfCodeMask16(const char16_t* units) {
#if TAGVERT_UNITS_SSE2
  const __m128i high = _mm_set1_epi16(static_cast<short>(kIfCodeMask));
  const __m128i code = _mm_set1_epi16(static_cast<short>(kIfCodeFirst));
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 8));
  // Lanes of 0 or -1 pack into bytes of the same.
  return static_cast<std::uint32_t>(
      _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(a, high), code),
                                        _mm_cmpeq_epi16(_mm_and_si128(b, high), code))));
#else
  std::uint32_t mask = 0;
  for (unsigned k = 0; k < 16; ++k)
    mask |= IsIfCode(units[k]) ? 1U << k : 0U;
  return mask;
#endif
}

/// Bit k set when units[k] is a code, for the 64 units at `units`.
inline std::uint64_t IfCodeMask64(const char16_t* units) {
  return std::uint64_t{IfCodeMask16(units)} | std::uint64_t{IfCodeMask16(units + 16)} << 16 |
         std::uint64_t{IfCodeMask16(units + 32)} << 32 |
         std::uint64_t{IfCodeMask16(units + 48)} << 48;
}

/// Calls `onCode(at)` for the position of each code of `units` at or after `from`, in order,
/// and returns nothing. Each call returns where the walk goes on: the position after the code,
/// or further on when the units after it are data that the caller takes whatever their value
/// (codes before that position are passed over). The units are looked at sixty-four at a time
/// (sixteen near the end), so that a reader meets the codes of many groups from one view of
/// the units, without a scan of its own per run.
template <typename OnCode>
void ForEachIfCode(std::u16string_view units, std::size_t from, OnCode&& onCode) {
  const char16_t* const p = units.data();
  const std::size_t n = units.size();
  std::size_t next = from;  // codes before it are passed over
  std::size_t at = from;    // units before it are looked at
  while (n - at >= 16) {
    const std::size_t base = at;
    std::uint64_t mask = 0;
    if (n - at >= 64) {
      mask = IfCodeMask64(p + at);
      at += 64;
    } else {
      mask = IfCodeMask16(p + at);
      at += 16;
    }
    while (mask != 0) {
      const std::size_t code = base + static_cast<std::size_t>(std::countr_zero(mask));
      mask &= mask - 1;
      if (code < next) continue;
      next = onCode(code);
      if (next > at) {
        at = std::min(next, n);
        break;
      }
    }
  }
  for (; at < n; ++at) {
    if (at >= next && IsIfCode(p[at])) next = onCode(at);
  }
}

/// Where a reader that meets the codes itself (ForEachIfCode) stands: in text, in a group or
/// in skipped text, with the group's fixed data still due. The units between two codes never
/// change it; each code moves it as CIfTokenReader's tokens would.
class CIfCodeState {
 public:
  /// The units read now are text (no group or skipped text open, no data due).
  bool InText() const { return m_state == State::Text && m_dataLeft == 0; }
  /// Takes the fixed data due from the `available` units that come next, whatever their
  /// value; returns how many it took.
  std::size_t TakeData(std::size_t available) {
    const std::size_t data = std::min<std::size_t>(m_dataLeft, available);
    m_dataLeft = static_cast<std::uint8_t>(m_dataLeft - data);
    return data;
  }
  /// Takes a code (no data due). True when it is read in text: a boundary, a flag, or the start
  /// of a group or skipped text; false for the U+E000 that closes a group and belongs to it.
  bool TakeCode(char16_t code) {
    if (m_state != State::Text) {
      // A U+E000 closes a group and belongs to it; any other code ends it and is read anew.
      const bool consumed = code == kIfBoundary && m_state == State::Group;
      m_state = State::Text;
      if (consumed) return false;
    }
    if (IsIfBoundaryCode(code) || IsIfFlagCode(code)) return true;
    m_state = IsIfGroupCode(code) ? State::Group : State::Skipped;
    m_dataLeft = code == 0xE805 ? 1 : code == 0xE80A ? 2 : 0;
    return true;
  }
  /// Ends the IF: ready for another.
  void Reset() { *this = CIfCodeState(); }

 private:
  enum class State : std::uint8_t { Text, Group, Skipped };
  State m_state = State::Text;
  std::uint8_t m_dataLeft = 0;
};

/// What a token is.
enum class IfTokenKind : std::uint8_t {
  Text,        ///< text to translate: `units` (a run may come in several tokens)
  Flag,        ///< a flag code for the element that follows: `code`
  Boundary,    ///< a boundary code that ends no group: `code`
  GroupStart,  ///< a group's code (`code`) and its fixed data (`data`, `dataCount` units)
  GroupData,   ///< units inside a group or skipped text: `units` (a tag's source text)
  GroupEnd,    ///< the end of a group or skipped text: `code` is the U+E000 that closes and
               ///< belongs to it, 0 when another code ended it (that code follows as a token
               ///< of its own) or when the IF ended inside it (`cutOff`)
};

/// One token of an IF. `units` points into the piece given to Feed.
struct CIfToken {
  IfTokenKind kind = IfTokenKind::Text;
  char16_t code = 0;
  /// A tag group's pair id (data[0]) or a reserve group's semantic and transliterate units,
  /// taken as they are whatever their value; fewer than the group has when the IF ended.
  char16_t data[2] = {0, 0};
  std::uint8_t dataCount = 0;
  bool cutOff = false;  ///< GroupStart or GroupEnd: the IF ended inside the group
  std::u16string_view units;
};

/// Receives the tokens of an IF as a reader reads them (CIFParser::SetObserver).
class IIfTokenObserver {
 public:
  virtual ~IIfTokenObserver() = default;
  /// `token` begins at unit `unit` of the IF, counted from its start (a GroupStart at its group
  /// code, a GroupEnd that another code ended at that code).
  virtual void OnIfToken(const CIfToken& token, std::uint64_t unit) = 0;
};

/// Cuts IF units into tokens as they come, in pieces split anywhere, keeping only the state of
/// the group being read. A tag group (U+E805) takes the unit after its code as its pair id, a
/// reserve group (U+E80A) the two after it as its data; a group ends at the next code, and a
/// U+E000 that ends a group (not skipped text) belongs to it. Runs between codes are found in
/// bulk and handed out as views, so a reader pays per token, not per unit.
///
/// A run of units outside the code range never changes the state: a reader that finds runs
/// itself (the storage's bulk read) may pass them over and give Next only the codes and the
/// fixed data, asking RunKind what a run read now is.
class CIfTokenReader {
 public:
  /// The fixed data units after a group code.
  static constexpr std::uint8_t FixedData(char16_t code) {
    return code == 0xE805 ? 1 : code == 0xE80A ? 2 : 0;
  }

  /// Takes the next token from the front of `units`, removing the units it used, and returns
  /// it (valid until the next call; its `units` point into `units`). Null, with `units` used
  /// up, when they ran out before a token was complete: the state keeps what was read. A code
  /// that ends a group (other than the group's own U+E000) gives the GroupEnd and stays at the
  /// front, for the next call.
  const CIfToken* Next(std::u16string_view& units) {
    while (!units.empty()) {
      if (m_dataLeft > 0) {
        m_start.data[m_start.dataCount++] = units.front();
        units.remove_prefix(1);
        if (--m_dataLeft == 0) return &m_start;
        continue;
      }
      // A code at the front (the common case for a reader that passes runs over) needs no
      // scan.
      const std::size_t run = IsIfCode(units.front()) ? 0 : FindIfCode(units);
      if (run > 0) {
        m_token.kind = RunKind();
        m_token.code = 0;
        m_token.units = units.substr(0, run);
        units.remove_prefix(run);
        return &m_token;
      }
      const char16_t code = units.front();
      if (m_state != State::Text) {
        // A U+E000 closes a group and belongs to it; any other code ends it and is read anew.
        const bool consumed = code == 0xE000 && m_state == State::Group;
        m_token.kind = IfTokenKind::GroupEnd;
        m_token.code = consumed ? code : 0;
        m_token.units = {};
        m_state = State::Text;
        if (consumed) units.remove_prefix(1);
        return &m_token;
      }
      units.remove_prefix(1);
      if (const CIfToken* token = Code(code)) return token;
    }
    return nullptr;
  }

  /// Reads the next piece of the IF, calling `sink(const CIfToken&)` for each token.
  template <typename Sink>
  void Feed(std::u16string_view units, Sink&& sink) {
    while (const CIfToken* token = Next(units))
      sink(*token);
  }

  /// What a run of units outside the code range read now is: Text, GroupData (inside a group
  /// or skipped text), or GroupStart while a group's fixed data is due (the next units are its
  /// data, whatever their value: no run can be read).
  IfTokenKind RunKind() const {
    if (m_dataLeft > 0) return IfTokenKind::GroupStart;
    return m_state == State::Text ? IfTokenKind::Text : IfTokenKind::GroupData;
  }
  /// Whether a group's fixed data is due or a group is open (not skipped text): the element
  /// being read is a group.
  bool InGroup() const { return m_dataLeft > 0 || m_state == State::Group; }

  /// Ends the IF: a group it ended inside is closed with a cut-off GroupStart (when its fixed
  /// data is incomplete) and a cut-off GroupEnd. The reader is then ready for another IF.
  template <typename Sink>
  void Finish(Sink&& sink) {
    if (m_dataLeft > 0) {
      m_start.cutOff = true;
      sink(static_cast<const CIfToken&>(m_start));
    }
    if (m_state != State::Text) {
      CIfToken end;
      end.kind = IfTokenKind::GroupEnd;
      end.cutOff = true;
      sink(static_cast<const CIfToken&>(end));
    }
    *this = CIfTokenReader();
  }

 private:
  enum class State : std::uint8_t { Text, Group, Skipped };

  /// Reads a code in text: its token, or null for a group whose fixed data is to come (its
  /// GroupStart comes with the data).
  const CIfToken* Code(char16_t code) {
    if (IsIfBoundaryCode(code) || IsIfFlagCode(code)) {
      m_token.kind = IsIfFlagCode(code) ? IfTokenKind::Flag : IfTokenKind::Boundary;
      m_token.code = code;
      m_token.units = {};
      return &m_token;
    }
    m_state = IsIfGroupCode(code) ? State::Group : State::Skipped;
    m_start = CIfToken();
    m_start.kind = IfTokenKind::GroupStart;
    m_start.code = code;
    m_dataLeft = FixedData(code);
    return m_dataLeft == 0 ? &m_start : nullptr;
  }

  State m_state = State::Text;
  std::uint8_t m_dataLeft = 0;  ///< fixed data units still to come for m_start
  CIfToken m_start;             ///< the group start being completed
  CIfToken m_token;             ///< every other token handed out (no data, never cut off)
};

}  // namespace tagvert
