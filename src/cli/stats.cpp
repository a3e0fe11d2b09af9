// Tagvert: what the kernel will translate in an IF, counted.
// SPDX-License-Identifier: Apache-2.0
#include "cli/stats.h"

#include "ifcodec/if_parser.h"
#include "storage/char_class.h"

namespace tagvert::cli {

namespace {

bool IsCode(char16_t unit) {
  return unit >= 0xE000 && unit <= 0xEFFF;
}

// Characters of scripts written without spaces between words: each is counted as a word.
bool IsCjk(char16_t c) {
  return (c >= 0x3040 && c <= 0x30FF) ||  // hiragana, katakana
         (c >= 0x3400 && c <= 0x4DBF) ||  // CJK extension A
         (c >= 0x4E00 && c <= 0x9FFF) ||  // CJK unified ideographs
         (c >= 0xAC00 && c <= 0xD7AF) ||  // Hangul syllables
         (c >= 0xF900 && c <= 0xFAFF);    // CJK compatibility ideographs
}

}  // namespace

void CIfCounter::Feed(const char16_t* units, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const char16_t unit = units[i];
    if (m_state == State::Pair) {
      m_state = State::Group;  // the pair-id unit, whatever its value
      continue;
    }
    if (m_state == State::Reserve && m_reserveLeft > 0) {
      --m_reserveLeft;
      continue;
    }
    if (!IsCode(unit)) {
      if (m_state == State::Text) TextUnit(unit);
      continue;
    }
    EndRun();
    if (m_state != State::Text) {
      // A group ends at the next code; a boundary belongs to it.
      m_state = State::Text;
      if (unit == kIfBoundary) continue;
    }
    if (unit == kIfTagGroup) {
      ++m_tags;
      m_state = State::Pair;
    } else if (unit == kIfReserveGroup) {
      m_state = State::Reserve;
      m_reserveLeft = 2;
    } else if (unit >= 0xE800) {
      m_state = State::Group;  // the header, other groups and skipped text
    }
  }
}

void CIfCounter::TextUnit(char16_t unit) {
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    m_high = unit;
    return;
  }
  bool letter = false;
  bool cjk = false;
  if (unit >= 0xDC00 && unit <= 0xDFFF) {
    if (m_high != 0) {
      const std::uint32_t code = 0x10000U + ((static_cast<std::uint32_t>(m_high) - 0xD800U) << 10) +
                                 (static_cast<std::uint32_t>(unit) - 0xDC00U);
      cjk = code >= 0x20000 && code <= 0x3FFFF;
      letter = !cjk;
    }
  } else {
    cjk = IsCjk(unit);
    letter = !cjk && CharIsAlnum(unit);
  }
  m_high = 0;
  if (!CharIsSpace(unit)) m_runHasText = true;
  if (cjk) {
    ++m_words;
    m_inWord = false;
  } else if (letter) {
    if (!m_inWord) ++m_words;
    m_inWord = true;
  } else {
    m_inWord = false;
  }
}

void CIfCounter::EndRun() {
  if (m_runHasText) ++m_runs;
  m_runHasText = false;
  m_inWord = false;
  m_high = 0;
}

void CIfCounter::Finish() {
  EndRun();
  m_state = State::Text;
}

}  // namespace tagvert::cli
