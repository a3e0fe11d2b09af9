// Tagvert: pseudo-translation of an IF (PseudoTranslate).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "ifcodec/if_tokens.h"

namespace tagvert::cli {

/// A growing array of UTF-16 units written in place: the room asked for is not filled first
/// (as a string's resize fills it), and short appends copy without a call. The pseudo-translated
/// IF is written once, into the blocks that go to the conversion back.
class CUnitBlock {
 public:
  CUnitBlock() = default;
  CUnitBlock(CUnitBlock&& other) noexcept
      : m_data(std::move(other.m_data)),
        m_size(std::exchange(other.m_size, 0)),
        m_capacity(std::exchange(other.m_capacity, 0)) {}
  CUnitBlock& operator=(CUnitBlock&& other) noexcept {
    m_data = std::move(other.m_data);
    m_size = std::exchange(other.m_size, 0);
    m_capacity = std::exchange(other.m_capacity, 0);
    return *this;
  }
  CUnitBlock(const CUnitBlock&) = delete;
  CUnitBlock& operator=(const CUnitBlock&) = delete;
  ~CUnitBlock() = default;

  const char16_t* data() const { return m_data.get(); }
  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  std::u16string_view View() const { return {m_data.get(), m_size}; }
  void clear() { m_size = 0; }
  /// Room for `n` units in all, the units kept.
  void Reserve(std::size_t n) {
    if (n > m_capacity) Grow(n - m_size);
  }
  /// Room for `n` more units at the end, to be written and then counted with Commit.
  char16_t* Room(std::size_t n) {
    if (m_capacity - m_size < n) Grow(n);
    return m_data.get() + m_size;
  }
  void Commit(std::size_t n) { m_size += n; }
  /// Appends the units [from, to).
  void Append(const char16_t* from, const char16_t* to) {
    const std::size_t n = static_cast<std::size_t>(to - from);
    char16_t* const at = Room(n);
    // Most stretches between two text runs are a few codes: two overlapping fixed-size copies
    // move them.
    if (n >= 4 && n <= 8) {
      std::memcpy(at, from, 8);
      std::memcpy(at + n - 4, from + n - 4, 8);
    } else if (n >= 2 && n < 4) {
      std::memcpy(at, from, 4);
      std::memcpy(at + n - 2, from + n - 2, 4);
    } else if (n == 1) {
      *at = *from;
    } else if (n != 0) {
      std::memcpy(at, from, 2 * n);
    }
    m_size += n;
  }
  void Append(std::u16string_view units) { Append(units.data(), units.data() + units.size()); }

 private:
  /// Makes room for `n` more units (at least doubling the capacity), the units kept.
  void Grow(std::size_t n);

  std::unique_ptr<char16_t[]> m_data;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};

/// The pseudo-translation of one text run: ASCII letters accented, the run put in brackets and
/// lengthened by 30% with middle dots ("The quick brown fox" gives
/// "[Ŧĥé qüíçķ ƀŕöŵñ ƒöx······]"). A run of white space only stays as it is.
std::u16string PseudoText(const std::u16string& run);
/// Appends PseudoText of `run` to `out`.
void AppendPseudoText(std::u16string_view run, CUnitBlock& out);

/// Pseudo-translates an IF as it comes, piece by piece: every text run as PseudoText does;
/// codes, tag groups, reserve groups and skipped text unchanged. A run that lies whole in one
/// piece is translated from there; only a run that goes on in the next piece is held (copied)
/// until it ends.
class CPseudoTranslator {
 public:
  /// Takes the next piece of the IF and appends to `out` what of it is translated.
  void Feed(std::u16string_view units, CUnitBlock& out);
  /// Ends the IF: appends the rest.
  void Finish(CUnitBlock& out);

 private:
  /// Translates the run held in m_run, followed by `run`, into `out`.
  void EndRun(std::u16string_view run, CUnitBlock& out);

  CIfCodeState m_codes;
  std::u16string m_run;  ///< the start of a run that began in an earlier piece
};

/// Pseudo-translates a whole IF (CPseudoTranslator).
std::u16string PseudoTranslate(const std::u16string& units);

}  // namespace tagvert::cli
