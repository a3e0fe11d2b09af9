// Tagvert: what the kernel will translate in an IF, counted.
// SPDX-License-Identifier: Apache-2.0
#include "cli/stats.h"

#include <array>
#include <bit>

#include "ifcodec/if_parser.h"
#include "storage/char_class.h"
#include "storage/unit_scan.h"

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
  // Only text runs and tag group codes count: the units between two codes are passed over in
  // bulk.
  std::size_t i = m_codes.TakeData(count);  // the units before it are counted or passed over
  ForEachIfCode({units, count}, i, [&](std::size_t at) {
    if (m_codes.InText() && at > i) CountText({units + i, at - i});
    const char16_t unit = units[at];
    i = at + 1;
    if (!m_codes.TakeCode(unit)) return i;
    EndRun();  // every code ends a text run
    if (unit == kIfTagGroup) ++m_tags;
    i += m_codes.TakeData(count - i);
    return i;
  });
  if (m_codes.InText() && i < count) CountText({units + i, count - i});
}

void CIfCounter::CountText(std::u16string_view text) {
  // The state in locals, so that it stays in registers over the run.
  bool inWord = m_inWord;
  bool hasText = m_runHasText;
  std::uint64_t words = m_words;
  const char16_t* p = text.data();
  const char16_t* const end = p + text.size();
  while (p < end) {
#if TAGVERT_UNITS_SSE2
    // Eight ASCII units at once: a lane mask of the word units, whose starts are the set bits
    // without a set bit before them, and one of the white space units (the classes of
    // kAsciiClass: ASCII's letters and numbers are a-z, A-Z and 0-9, its spaces U+0009..U+000D
    // and U+0020).
    if (end - p >= 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i zero = _mm_setzero_si128();
      if (_mm_movemask_epi8(_mm_cmpeq_epi16(
              _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80))), zero)) == 0xFFFF) {
        // ASCII lanes compare the same signed as unsigned.
        const __m128i lower = _mm_or_si128(v, _mm_set1_epi16(0x20));
        const __m128i letter = _mm_and_si128(_mm_cmpgt_epi16(lower, _mm_set1_epi16(u'a' - 1)),
                                             _mm_cmplt_epi16(lower, _mm_set1_epi16(u'z' + 1)));
        const __m128i digit = _mm_and_si128(_mm_cmpgt_epi16(v, _mm_set1_epi16(u'0' - 1)),
                                            _mm_cmplt_epi16(v, _mm_set1_epi16(u'9' + 1)));
        const __m128i space = _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(u' ')),
                                           _mm_and_si128(_mm_cmpgt_epi16(v, _mm_set1_epi16(0x08)),
                                                         _mm_cmplt_epi16(v, _mm_set1_epi16(0x0E))));
        const auto word = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_packs_epi16(_mm_or_si128(letter, digit), zero)));
        const auto spaces = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(space, zero)));
        if (spaces != 0xFF) hasText = true;
        words += static_cast<unsigned>(
            std::popcount(word & ~((word << 1) | (inWord ? 1U : 0U)) & 0xFFU));
        inWord = (word & 0x80U) != 0;
        m_high = 0;
        p += 8;
        continue;
      }
    }
#endif
    const char16_t unit = *p++;
    if (unit >= 0x80) {
      m_inWord = inWord;
      m_runHasText = hasText;
      m_words = words;
      TextUnit(unit);
      inWord = m_inWord;
      hasText = m_runHasText;
      words = m_words;
      continue;
    }
    // ASCII, the most of most text, without the general tests.
    const std::uint8_t classes = kAsciiClass[unit];
    m_high = 0;
    if ((classes & kSpaceUnit) == 0) hasText = true;
    const bool word = (classes & kWordUnit) != 0;
    if (word && !inWord) ++words;
    inWord = word;
  }
  m_inWord = inWord;
  m_runHasText = hasText;
  m_words = words;
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
  m_codes.Reset();
  EndRun();
}

}  // namespace tagvert::cli
