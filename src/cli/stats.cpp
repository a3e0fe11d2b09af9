// Tagvert: what the kernel will translate in an IF, counted.
// SPDX-License-Identifier: Apache-2.0
#include "cli/stats.h"

#include <array>

#include "ifcodec/if_parser.h"
#include "storage/char_class.h"

namespace tagvert::cli {

namespace {

// Characters of scripts written without spaces between words: each is counted as a word.
bool IsCjk(char16_t c) {
  return (c >= 0x3040 && c <= 0x30FF) ||  // hiragana, katakana
         (c >= 0x3400 && c <= 0x4DBF) ||  // CJK extension A
         (c >= 0x4E00 && c <= 0x9FFF) ||  // CJK unified ideographs
         (c >= 0xAC00 && c <= 0xD7AF) ||  // Hangul syllables
         (c >= 0xF900 && c <= 0xFAFF);    // CJK compatibility ideographs
}

// What counting needs of each ASCII unit: kWordUnit, kSpaceUnit.
constexpr std::uint8_t kWordUnit = 1, kSpaceUnit = 2;
const std::array<std::uint8_t, 0x80> kAsciiClass = [] {
  std::array<std::uint8_t, 0x80> classes{};
  for (char16_t c = 0; c < 0x80; ++c) {
    classes[c] = static_cast<std::uint8_t>((CharIsAlnum(c) ? kWordUnit : 0) |
                                           (CharIsSpace(c) ? kSpaceUnit : 0));
  }
  return classes;
}();

}  // namespace

void CIfCounter::Feed(const char16_t* units, std::size_t count) {
  m_reader.Feed(std::u16string_view(units, count), [this](const CIfToken& token) {
    if (token.kind == IfTokenKind::Text) {
      for (const char16_t unit : token.units) {
        if (unit >= 0x80) {
          TextUnit(unit);
          continue;
        }
        // ASCII, the most of most text, without the general tests.
        const std::uint8_t classes = kAsciiClass[unit];
        m_high = 0;
        if ((classes & kSpaceUnit) == 0) m_runHasText = true;
        if ((classes & kWordUnit) != 0) {
          if (!m_inWord) ++m_words;
          m_inWord = true;
        } else {
          m_inWord = false;
        }
      }
      return;
    }
    EndRun();  // every code ends a text run
    if (token.kind == IfTokenKind::GroupStart && token.code == kIfTagGroup) ++m_tags;
  });
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
  m_reader.Finish([this](const CIfToken& token) {
    if (token.kind == IfTokenKind::GroupStart && token.code == kIfTagGroup) ++m_tags;
  });
  EndRun();
}

}  // namespace tagvert::cli
