// Tagvert: what the kernel will translate in an IF, counted (CIfCounter).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>

#include "ifcodec/if_tokens.h"

namespace tagvert {
class CElementTable;
}

namespace tagvert::cli {

/// Counts, as IF units come: text runs that hold more than white space, their words, and tag
/// groups. A word is a run of letters and digits (Unicode categories L and N); each CJK
/// character (ideographs, kana, Hangul syllables, and characters beyond U+FFFF in planes 2 and 3)
/// is a word of its own, as translation tools count them. Everything inside a group (a tag's
/// source text, the header, reserve data) and skipped text is not text.
class CIfCounter {
 public:
  void Feed(const char16_t* units, std::size_t count);
  /// Instead of the IF's pieces: counts the IF that CIFParser::WriteTable writes from `table`
  /// (classified and structured) after the header, as Feed would find it, without writing it.
  /// The writer's decisions are made again over the records: a tag writes a tag group (its text
  /// the group's content) unless it is removed, when it leaves its block mark or nothing; a text
  /// is written as it is, but for a unit of the code range, which becomes a tag group holding
  /// its reference, and, in a text marked for it, each U+00A0, which becomes a tag group of its
  /// own. Not mixed with Feed in one count.
  void FeedTable(const CElementTable& table);
  void Finish();

  std::uint64_t Runs() const { return m_state.runs; }
  std::uint64_t Words() const { return m_state.words; }
  std::uint64_t Tags() const { return m_state.tags; }

  /// What the count holds between two pieces.
  struct CState {
    bool inWord = false;
    bool hasText = false;  ///< the text run holds more than white space
    char16_t high = 0;     ///< a high surrogate waiting for its low half
    std::uint64_t runs = 0;
    std::uint64_t words = 0;
    std::uint64_t tags = 0;
  };

 private:
  CIfCodeState m_codes;
  CState m_state;
};

}  // namespace tagvert::cli
