// Tagvert: what the kernel will translate in an IF, counted (CIfCounter).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>

#include "ifcodec/if_tokens.h"

namespace tagvert::cli {

/// Counts, as IF units come: text runs that hold more than white space, their words, and tag
/// groups. A word is a run of letters and digits (Unicode categories L and N); each CJK
/// character (ideographs, kana, Hangul syllables, and characters beyond U+FFFF in planes 2 and 3)
/// is a word of its own, as translation tools count them. Everything inside a group (a tag's
/// source text, the header, reserve data) and skipped text is not text.
class CIfCounter {
 public:
  void Feed(const char16_t* units, std::size_t count);
  void Finish();

  /// Instead of the IF's pieces, a walk that knows what the IF writer writes (CountTableIf) tells
  /// the counter its text runs and codes; Feed and these are not mixed in one count.
  /// Counts text units from `p` up to the first code or `end`; returns where it stopped.
  const char16_t* Text(const char16_t* p, const char16_t* end) { return CountText(p, end); }
  /// Counts text units below U+0100 (a narrow buffer's; none is a code), reading units up to
  /// `limit` (at or after `end`) for steps of several.
  void Text(const std::uint8_t* p, const std::uint8_t* end, const std::uint8_t* limit);
  /// A code read in text: it ends the text run.
  void Code() { EndRun(); }
  /// A tag group: it ends the text run and is a tag.
  void TagGroup() {
    EndRun();
    ++m_tags;
  }

  std::uint64_t Runs() const { return m_runs; }
  std::uint64_t Words() const { return m_words; }
  std::uint64_t Tags() const { return m_tags; }

 private:
  /// Counts the text units from `p` up to the first code or `end`; returns where it stopped.
  const char16_t* CountText(const char16_t* p, const char16_t* end);
  /// Counts one text unit outside ASCII (no code).
  void TextUnit(char16_t unit);
  void EndRun() {
    if (m_runHasText) ++m_runs;
    m_runHasText = false;
    m_inWord = false;
    m_high = 0;
  }

  CIfCodeState m_codes;
  bool m_inWord = false;
  bool m_runHasText = false;
  char16_t m_high = 0;  ///< a high surrogate waiting for its low half
  std::uint64_t m_runs = 0;
  std::uint64_t m_words = 0;
  std::uint64_t m_tags = 0;
};

}  // namespace tagvert::cli
