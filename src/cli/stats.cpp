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

// What counting needs of each unit below U+0100 (none of them is a CJK character or a
// surrogate): kWordUnit, kSpaceUnit.
constexpr std::uint8_t kWordUnit = 1, kSpaceUnit = 2;
const std::array<std::uint8_t, 0x100> kLatin1Class = [] {
  std::array<std::uint8_t, 0x100> classes{};
  for (char16_t c = 0; c < 0x100; ++c) {
    classes[c] = static_cast<std::uint8_t>((CharIsAlnum(c) ? kWordUnit : 0) |
                                           (CharIsSpace(c) ? kSpaceUnit : 0));
  }
  return classes;
}();

// Counts one unit below U+0100 into the state of a text run.
[[gnu::always_inline]] inline void CountLatin1Unit(unsigned unit, bool& inWord, bool& hasText,
                                                   std::uint64_t& words) {
  const std::uint8_t classes = kLatin1Class[unit];
  if ((classes & kSpaceUnit) == 0) hasText = true;
  const bool word = (classes & kWordUnit) != 0;
  if (word && !inWord) ++words;
  inWord = word;
}

#if TAGVERT_UNITS_SSE2
// The set bits of a 16-bit mask, in a few instructions: std::popcount is a library call where
// the target has no population count instruction (x86-64 before its second level).
unsigned CountBits16(unsigned x) {
  x -= (x >> 1) & 0x5555U;
  x = (x & 0x3333U) + ((x >> 2) & 0x3333U);
  x = (x + (x >> 4)) & 0x0F0FU;
  return (x + (x >> 8)) & 0x1FU;
}

// Counts the first `lanes` (1 to 16) of the sixteen units `bytes` holds as bytes, all of them
// below U+0100 (the lanes beyond are masked off), `high` the lanes above ASCII: a lane mask of
// the word units, whose starts are the set bits without a set bit before them, and one of the
// white space units, the classes of kLatin1Class. The ASCII lanes are classed at once (a-z, A-Z,
// 0-9: ASCII's letters and numbers; U+0009..U+000D and U+0020), the few others by the table
// (none of them is white space).
[[gnu::always_inline]] inline void CountLatin1Lanes(__m128i bytes, unsigned lanes, unsigned high,
                                                    bool& inWord, bool& hasText,
                                                    std::uint64_t& words) {
  // A byte is in [lo, lo + n) when it plus 0x80 - lo, compared signed, is below n - 0x80.
  const auto in = [&](__m128i x, char lo, char n) {
    return _mm_cmplt_epi8(_mm_add_epi8(x, _mm_set1_epi8(static_cast<char>(0x80 - lo))),
                          _mm_set1_epi8(static_cast<char>(n - 0x80)));
  };
  const __m128i letter = in(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), 'a', 26);
  const __m128i digit = in(bytes, '0', 10);
  const __m128i space = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')), in(bytes, 9, 5));
  auto word = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(letter, digit)));
  const auto spaces = static_cast<unsigned>(_mm_movemask_epi8(space));
  const unsigned mask = lanes == 16 ? 0xFFFFU : (1U << lanes) - 1;
  if ((high & mask) != 0) {
    alignas(16) std::uint8_t units[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(units), bytes);
    for (unsigned m = high & mask; m != 0; m &= m - 1) {
      const auto lane = static_cast<unsigned>(std::countr_zero(m));
      word |= static_cast<unsigned>(kLatin1Class[units[lane]] & kWordUnit) << lane;
    }
  }
  if ((spaces & mask) != mask) hasText = true;
  words += CountBits16(word & ~((word << 1) | (inWord ? 1U : 0U)) & mask);
  inWord = ((word >> (lanes - 1)) & 1U) != 0;
}

// The set bits at the start of `mask`, at most `most`.
std::size_t OnesFirst(unsigned mask, std::size_t most) {
  return std::min(static_cast<std::size_t>(std::countr_one(mask)), most);
}

// A lane mask of the eight units of `units` that are CJK characters (IsCjk).
[[gnu::always_inline]] inline unsigned CjkLanes8(__m128i units) {
  const __m128i zero = _mm_setzero_si128();
  // A unit is in [lo, hi] when it minus lo, saturated down by hi - lo, is zero.
  const auto in = [&](char16_t lo, char16_t hi) {
    return _mm_cmpeq_epi16(
        _mm_subs_epu16(_mm_sub_epi16(units, _mm_set1_epi16(static_cast<short>(lo))),
                       _mm_set1_epi16(static_cast<short>(hi - lo))),
        zero);
  };
  const __m128i cjk =
      _mm_or_si128(_mm_or_si128(_mm_or_si128(in(0x3040, 0x30FF), in(0x3400, 0x4DBF)),
                                _mm_or_si128(in(0x4E00, 0x9FFF), in(0xAC00, 0xD7AF))),
                   in(0xF900, 0xFAFF));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(cjk, zero)));
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
    if (at > from && m_codes.InText()) CountText(units + from, units + at, units + at);
    const char16_t code = units[at];
    if (m_codes.TakeCode(code)) {
      EndRun();  // every code read in text ends a text run
      if (code == kIfTagGroup) ++m_tags;
    }
    from = at + 1;
    from += m_codes.TakeData(count - from);
    return from;
  });
  if (from < count && m_codes.InText()) CountText(units + from, units + count, units + count);
}

const char16_t* CIfCounter::CountText(const char16_t* p, const char16_t* end,
                                      [[maybe_unused]] const char16_t* limit) {
  // The state in locals, so that it stays in registers over the run.
  bool inWord = m_inWord;
  bool hasText = m_runHasText;
  std::uint64_t words = m_words;
  // A unit above U+00FF: a code ends the text, any other is counted by TextUnit.
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
    // Sixteen units a step where they may be read (the lanes past `end` are not counted): the
    // units before the first one above U+00FF, as bytes; else the CJK characters among the
    // first eight, each a word; else the units before the next one of either kind, one by one.
    if (limit - p >= 16) {
      const auto left = static_cast<std::size_t>(end - p);
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
      const __m128i zero = _mm_setzero_si128();
      const __m128i upper = _mm_set1_epi16(static_cast<short>(0xFF00));
      const auto latin1 = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(a, upper), zero),
                                            _mm_cmpeq_epi16(_mm_and_si128(b, upper), zero))));
      const auto lanes = OnesFirst(latin1, left);
      if (lanes > 0) {
        const __m128i bytes = _mm_packus_epi16(a, b);
        CountLatin1Lanes(bytes, static_cast<unsigned>(lanes),
                         static_cast<unsigned>(_mm_movemask_epi8(bytes)), inWord, hasText, words);
        m_high = 0;
        p += lanes;
        continue;
      }
      const unsigned cjk = CjkLanes8(a);
      const auto ideographs = OnesFirst(cjk, left);
      if (ideographs > 0) {
        words += ideographs;
        hasText = true;
        inWord = false;
        m_high = 0;
        p += ideographs;
        continue;
      }
      const auto others = OnesFirst(~(latin1 | cjk) & 0xFFU, left);
      const char16_t* const stop = p + others;
      while (p < stop && other(*p))
        ++p;
      if (p < stop) break;  // a code
      continue;
    }
#endif
    const char16_t unit = *p;
    if (unit >= 0x100) {
      if (!other(unit)) break;
      ++p;
      continue;
    }
    // Below U+0100, the most of most text, without the general tests.
    ++p;
    m_high = 0;
    CountLatin1Unit(unit, inWord, hasText, words);
  }
  m_inWord = inWord;
  m_runHasText = hasText;
  m_words = words;
  return p;
}

void CIfCounter::Text(const std::uint8_t* p, const std::uint8_t* end,
                      [[maybe_unused]] const std::uint8_t* limit) {
  // As CountText, without codes, CJK characters or surrogates to look for.
  bool inWord = m_inWord;
  bool hasText = m_runHasText;
  std::uint64_t words = m_words;
  if (p < end) m_high = 0;
  while (p < end) {
#if TAGVERT_UNITS_SSE2
    if (limit - p >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const auto lanes = std::min<std::size_t>(16, static_cast<std::size_t>(end - p));
      CountLatin1Lanes(bytes, static_cast<unsigned>(lanes),
                       static_cast<unsigned>(_mm_movemask_epi8(bytes)), inWord, hasText, words);
      p += lanes;
      continue;
    }
#endif
    CountLatin1Unit(*p++, inWord, hasText, words);
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
