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

// Characters of scripts written without spaces between words: each is counted as a word. A
// unit is in [lo, lo + n] when it minus lo, wrapped around, is at most n; the most frequent
// range first.
constexpr bool IsCjk(char16_t c) {
  const auto in = [c](char16_t lo, char16_t n) { return static_cast<char16_t>(c - lo) <= n; };
  return in(0x4E00, 0x9FFF - 0x4E00) ||  // CJK unified ideographs
         in(0x3040, 0x30FF - 0x3040) ||  // hiragana, katakana
         in(0xAC00, 0xD7AF - 0xAC00) ||  // Hangul syllables
         in(0x3400, 0x4DBF - 0x3400) ||  // CJK extension A
         in(0xF900, 0xFAFF - 0xF900);    // CJK compatibility ideographs
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
// The set bits of each byte: std::popcount is a library call where the target has no population
// count instruction (x86-64 before its second level), and two look-ups take fewer instructions
// than the arithmetic.
const std::array<std::uint8_t, 0x100> kBitsOfByte = [] {
  std::array<std::uint8_t, 0x100> bits{};
  for (unsigned b = 1; b < 0x100; ++b)
    bits[b] = static_cast<std::uint8_t>(bits[b >> 1] + (b & 1U));
  return bits;
}();

// The set bits of a 16-bit mask.
unsigned CountBits16(unsigned x) {
  return kBitsOfByte[x & 0xFFU] + kBitsOfByte[(x >> 8) & 0xFFU];
}

// The lane masks of sixteen units: the word units (letters and numbers) and the white space
// units.
struct CLanes {
  unsigned word = 0;
  unsigned spaces = 0;
};

// The word and white space lanes of the units below U+0100 (`latin1`) among sixteen units that
// `bytes` holds as bytes, `high` the lanes above ASCII: the ASCII lanes classed at once (a-z,
// A-Z, 0-9: ASCII's letters and numbers; U+0009..U+000D and U+0020), the few others by
// kLatin1Class (none of them is white space).
[[gnu::always_inline]] inline CLanes Latin1Lanes(__m128i bytes, unsigned latin1, unsigned high) {
  // A byte is in [lo, lo + n) when it plus 0x80 - lo, compared signed, is below n - 0x80.
  const auto in = [&](__m128i x, char lo, char n) {
    return _mm_cmplt_epi8(_mm_add_epi8(x, _mm_set1_epi8(static_cast<char>(0x80 - lo))),
                          _mm_set1_epi8(static_cast<char>(n - 0x80)));
  };
  const __m128i letter = in(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), 'a', 26);
  const __m128i digit = in(bytes, '0', 10);
  const __m128i space = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')), in(bytes, 9, 5));
  CLanes lanes;
  lanes.word = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(letter, digit))) & latin1;
  lanes.spaces = static_cast<unsigned>(_mm_movemask_epi8(space)) & latin1;
  if ((high & latin1) != 0) {
    alignas(16) std::uint8_t units[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(units), bytes);
    for (unsigned m = high & latin1; m != 0; m &= m - 1) {
      const auto lane = static_cast<unsigned>(std::countr_zero(m));
      lanes.word |= static_cast<unsigned>(kLatin1Class[units[lane]] & kWordUnit) << lane;
    }
  }
  return lanes;
}

// Counts the first `count` (1 to 16) of sixteen lanes of text classed as `lanes`: a word starts
// at a word lane without one before it.
[[gnu::always_inline]] inline void CountLanes(const CLanes& lanes, unsigned count, bool& inWord,
                                              bool& hasText, std::uint64_t& words) {
  const unsigned mask = count == 16 ? 0xFFFFU : (1U << count) - 1;
  if ((lanes.spaces & mask) != mask) hasText = true;
  const unsigned word = lanes.word;
  words += CountBits16(word & ~((word << 1) | (inWord ? 1U : 0U)) & mask);
  inWord = ((word >> (count - 1)) & 1U) != 0;
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
  while (p < end) {
#if TAGVERT_UNITS_SSE2
    // Sixteen units at once where there are as many, those before the first one above U+00FF,
    // as bytes.
    if (end - p >= 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
      const __m128i zero = _mm_setzero_si128();
      const __m128i upper = _mm_set1_epi16(static_cast<short>(0xFF00));
      const auto latin1 = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(a, upper), zero),
                                            _mm_cmpeq_epi16(_mm_and_si128(b, upper), zero))));
      if (const auto lanes = static_cast<unsigned>(std::countr_one(latin1)); lanes > 0) {
        const __m128i bytes = _mm_packus_epi16(a, b);
        CountLanes(Latin1Lanes(bytes, latin1, static_cast<unsigned>(_mm_movemask_epi8(bytes))),
                   lanes, inWord, hasText, words);
        m_high = 0;
        p += lanes;
        continue;
      }
    }
#endif
    // The units of one kind up to the next of another: those below U+0100 by the table; the
    // letters of scripts written with spaces between words (Greek, Cyrillic, Hebrew, Arabic...:
    // up to U+167F none is white space, a CJK character, a surrogate or a code) and CJK
    // characters without TextUnit's tests.
    const char16_t unit = *p;
    if (unit < 0x100) {
      do {
        CountLatin1Unit(*p, inWord, hasText, words);
      } while (++p < end && *p < 0x100);
    } else if (unit < 0x1680) {
      hasText = true;
      do {
        const bool word = CharIsAlnum(*p);
        if (word && !inWord) ++words;
        inWord = word;
      } while (++p < end && *p >= 0x100 && *p < 0x1680);
    } else if (IsCjk(unit)) {
      hasText = true;
      inWord = false;
      do {
        ++words;
      } while (++p < end && IsCjk(*p));
    } else {
      if (IsIfCode(unit)) break;
      m_inWord = inWord;
      m_runHasText = hasText;
      m_words = words;
      TextUnit(unit);
      inWord = m_inWord;
      hasText = m_runHasText;
      words = m_words;
      ++p;
      continue;
    }
    m_high = 0;
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
#if TAGVERT_UNITS_SSE2
  // Sixteen units a step wherever sixteen may be read: the lanes past `end` are not counted.
  for (; p < end && limit - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto count = static_cast<unsigned>(std::min<std::ptrdiff_t>(end - p, 16));
    CountLanes(Latin1Lanes(bytes, 0xFFFFU, static_cast<unsigned>(_mm_movemask_epi8(bytes))), count,
               inWord, hasText, words);
  }
#endif
  for (; p < end; ++p)
    CountLatin1Unit(*p, inWord, hasText, words);
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

void CIfCounter::Finish() {
  m_codes.Reset();
  EndRun();
}

}  // namespace tagvert::cli
