// Tagvert: what the kernel will translate in an IF, counted.
// SPDX-License-Identifier: Apache-2.0
#include "cli/stats.h"

#include <algorithm>
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

#if TAGVERT_UNITS_SSE2
// The set bits of a 16-bit mask, in a few instructions: std::popcount is a library call where
// the target has no population count instruction (x86-64 before its second level).
unsigned CountBits16(unsigned x) {
  x -= (x >> 1) & 0x5555U;
  x = (x & 0x3333U) + ((x >> 2) & 0x3333U);
  x = (x + (x >> 4)) & 0x0F0FU;
  return (x + (x >> 8)) & 0x1FU;
}
#endif

}  // namespace

void CIfCounter::Feed(const char16_t* units, std::size_t count) {
  // One walk over the piece's codes, sixty-four units a test: the units between two codes are
  // counted when they are text and passed over when they are a group's content or skipped
  // text, and each code moves the state as a token reader would. A group's fixed data (pair id,
  // reserve units) is taken whatever its value.
  std::size_t from = m_codes.TakeData(count);
  ForEachIfCode({units, count}, from, [&](std::size_t at) {
    if (at > from && m_codes.InText()) CountText(units + from, units + at);
    const char16_t code = units[at];
    if (m_codes.TakeCode(code)) {
      EndRun();  // every code read in text ends a text run
      if (code == kIfTagGroup) ++m_tags;
    }
    from = at + 1;
    from += m_codes.TakeData(count - from);
    return from;
  });
  if (from < count && m_codes.InText()) CountText(units + from, units + count);
}

const char16_t* CIfCounter::CountText(const char16_t* p, const char16_t* end) {
  // The state in locals, so that it stays in registers over the run.
  bool inWord = m_inWord;
  bool hasText = m_runHasText;
  std::uint64_t words = m_words;
  // A unit outside ASCII: a code ends the text, any other is counted by TextUnit.
  const auto other = [&](char16_t unit) {
    if (IsIfCode(unit)) return false;
    m_inWord = inWord;
    m_runHasText = hasText;
    m_words = words;
    TextUnit(unit);
    inWord = m_inWord;
    hasText = m_runHasText;
    words = m_words;
    return true;
  };
  while (p < end) {
#if TAGVERT_UNITS_SSE2
    // Sixteen units at once, over the ASCII lanes before the first unit outside ASCII (that unit
    // is then counted alone): the units as bytes, a lane mask of the word units (a-z, A-Z, 0-9:
    // ASCII's letters and numbers), whose starts are the set bits without a set bit before them,
    // and one of the white space units (U+0009..U+000D and U+0020): the classes of kAsciiClass.
    if (end - p >= 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
      const __m128i zero = _mm_setzero_si128();
      const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
      const auto ascii = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(a, high), zero),
                                            _mm_cmpeq_epi16(_mm_and_si128(b, high), zero))));
      // The ASCII lanes as bytes (the others are masked off below). A byte is in [lo, lo + n)
      // when it plus 0x80 - lo, compared signed, is below n - 0x80.
      const __m128i bytes = _mm_packus_epi16(a, b);
      const auto in = [&](__m128i x, char lo, char n) {
        return _mm_cmplt_epi8(_mm_add_epi8(x, _mm_set1_epi8(static_cast<char>(0x80 - lo))),
                              _mm_set1_epi8(static_cast<char>(n - 0x80)));
      };
      const __m128i letter = in(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), 'a', 26);
      const __m128i digit = in(bytes, '0', 10);
      const __m128i space =
          _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')), in(bytes, 9, 5));
      const auto word = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(letter, digit)));
      const auto spaces = static_cast<unsigned>(_mm_movemask_epi8(space));
      const auto lanes = static_cast<unsigned>(std::countr_one(ascii));
      if (lanes > 0) {
        const unsigned mask = lanes == 16 ? 0xFFFFU : (1U << lanes) - 1;
        if ((spaces & mask) != mask) hasText = true;
        words += CountBits16(word & ~((word << 1) | (inWord ? 1U : 0U)) & mask);
        inWord = ((word >> (lanes - 1)) & 1U) != 0;
        m_high = 0;
        p += lanes;
        if (lanes == 16) continue;
      }
      // Units outside ASCII one by one up to the next ASCII one (or a code).
      while (p < end && *p >= 0x80 && other(*p))
        ++p;
      if (p < end && IsIfCode(*p)) break;
      continue;
    }
#endif
    const char16_t unit = *p;
    if (unit >= 0x80) {
      if (!other(unit)) break;
      ++p;
      continue;
    }
    // ASCII, the most of most text, without the general tests.
    ++p;
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
  return p;
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
