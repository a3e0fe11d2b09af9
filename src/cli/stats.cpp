// Tagvert: what the kernel will translate in an IF, counted.
// SPDX-License-Identifier: Apache-2.0
#include "cli/stats.h"

#include <algorithm>
#include <array>
#include <bit>

#include "ifcodec/if_parser.h"
#include "markup/element_table.h"
#include "storage/char_class.h"
#include "storage/input_scan.h"
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

// Counts one text unit above U+00FF that is not a code into `s`: a high surrogate waits for its
// low half, a pair beyond U+FFFF in planes 2 and 3 is a CJK character, another pair a letter.
[[gnu::always_inline]] inline void CountOtherUnit(CIfCounter::CState& s, char16_t unit) {
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    s.high = unit;
    return;
  }
  bool letter = false;
  bool cjk = false;
  if (unit >= 0xDC00 && unit <= 0xDFFF) {
    if (s.high != 0) {
      const std::uint32_t code = 0x10000U + ((static_cast<std::uint32_t>(s.high) - 0xD800U) << 10) +
                                 (static_cast<std::uint32_t>(unit) - 0xDC00U);
      cjk = code >= 0x20000 && code <= 0x3FFFF;
      letter = !cjk;
    }
  } else {
    cjk = IsCjk(unit);
    letter = !cjk && CharIsAlnum(unit);
  }
  s.high = 0;
  if (!CharIsSpace(unit)) s.hasText = true;
  if (cjk) {
    ++s.words;
    s.inWord = false;
  } else if (letter) {
    if (!s.inWord) ++s.words;
    s.inWord = true;
  } else {
    s.inWord = false;
  }
}

// Ends the text run: a code read in text.
[[gnu::always_inline]] inline void EndRun(CIfCounter::CState& s) {
  if (s.hasText) ++s.runs;
  s.hasText = false;
  s.inWord = false;
  s.high = 0;
}

// Counts the text units from `p` up to the first code or `end` into `s`; returns where it
// stopped.
[[gnu::always_inline]] inline const char16_t* CountText(CIfCounter::CState& s, const char16_t* p,
                                                        const char16_t* end) {
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
                   lanes, s.inWord, s.hasText, s.words);
        s.high = 0;
        p += lanes;
        continue;
      }
    }
#endif
    // The units of one kind up to the next of another: those below U+0100 by the table; the
    // letters of scripts written with spaces between words (Greek, Cyrillic, Hebrew, Arabic...:
    // up to U+167F none is white space, a CJK character, a surrogate or a code) and CJK
    // characters without CountOtherUnit's tests.
    const char16_t unit = *p;
    if (unit < 0x100) {
      do {
        CountLatin1Unit(*p, s.inWord, s.hasText, s.words);
      } while (++p < end && *p < 0x100);
    } else if (unit < 0x1680) {
      s.hasText = true;
      do {
        const bool word = CharIsAlnum(*p);
        if (word && !s.inWord) ++s.words;
        s.inWord = word;
      } while (++p < end && *p >= 0x100 && *p < 0x1680);
    } else if (IsCjk(unit)) {
      s.hasText = true;
      s.inWord = false;
      do {
        ++s.words;
      } while (++p < end && IsCjk(*p));
    } else {
      if (IsIfCode(unit)) break;
      CountOtherUnit(s, unit);
      ++p;
      continue;
    }
    s.high = 0;
  }
  return p;
}

// CountText out of line, for the walk over an IF's codes, which then stays small.
[[gnu::noinline]] void CountTextApart(CIfCounter::CState& s, const char16_t* p,
                                      const char16_t* end) {
  CIfCounter::CState local = s;
  CountText(local, p, end);
  s = local;
}

// Counts the text units below U+0100 (a narrow buffer's; none is a code) from `p` to `end` into
// `s`, reading units up to `limit` (at or after `end`) for steps of sixteen.
[[gnu::always_inline]] inline void CountText(CIfCounter::CState& s, const std::uint8_t* p,
                                             const std::uint8_t* end,
                                             [[maybe_unused]] const std::uint8_t* limit) {
  if (p < end) s.high = 0;
#if TAGVERT_UNITS_SSE2
  // Sixteen units a step wherever sixteen may be read: the lanes past `end` are not counted.
  for (; p < end && limit - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto count = static_cast<unsigned>(std::min<std::ptrdiff_t>(end - p, 16));
    CountLanes(Latin1Lanes(bytes, 0xFFFFU, static_cast<unsigned>(_mm_movemask_epi8(bytes))), count,
               s.inWord, s.hasText, s.words);
  }
#endif
  for (; p < end; ++p)
    CountLatin1Unit(*p, s.inWord, s.hasText, s.words);
}

// A tag group: it ends the text run and is a tag.
[[gnu::always_inline]] inline void CountTagGroup(CIfCounter::CState& s) {
  EndRun(s);
  ++s.tags;
}

// A text as the IF writer writes it (its buffer readable up to `limit`): a wide one as it is but
// for each unit of the code range, which becomes an inline tag group (its reference the group's
// content); a narrow one, which holds no such unit, as it is.
[[gnu::always_inline]] inline void CountWrittenText(CIfCounter::CState& s, const char16_t* p,
                                                    const char16_t* end, const char16_t*) {
  for (;;) {
    p = CountText(s, p, end);
    if (p == end) return;
    CountTagGroup(s);
    ++p;
  }
}

[[gnu::always_inline]] inline void CountWrittenText(CIfCounter::CState& s, const std::uint8_t* p,
                                                    const std::uint8_t* end,
                                                    const std::uint8_t* limit) {
  CountText(s, p, end, limit);
}

}  // namespace

void CIfCounter::Feed(const char16_t* units, std::size_t count) {
  // One walk over the piece's codes, sixty-four units a test: the units between two codes are
  // counted when they are text and passed over when they are a group's content or skipped
  // text, and each code moves the state as a token reader would. A group's fixed data (pair id,
  // reserve units) is taken whatever its value.
  std::size_t from = m_codes.TakeData(count);
  ForEachIfCode({units, count}, from, [&](std::size_t at) {
    if (at > from && m_codes.InText()) CountTextApart(m_state, units + from, units + at);
    const char16_t code = units[at];
    if (m_codes.TakeCode(code)) {
      EndRun(m_state);  // every code read in text ends a text run
      if (code == kIfTagGroup) ++m_state.tags;
    }
    from = at + 1;
    from += m_codes.TakeData(count - from);
    return from;
  });
  if (from < count && m_codes.InText()) CountTextApart(m_state, units + from, units + count);
}

void CIfCounter::FeedTable(const CElementTable& table) {
  // The header, a group before any text, counts nothing. Then the records as CIFParser's
  // WriteTable writes them.
  CState s = m_state;
  for (const CElementRecord& record : table.Records()) {
    if (record.IsTag()) {
      // Every tag writes its tag group, with its flags and reserve groups around it (codes that
      // end the text run as the group does); a removed one writes only its block mark, and an
      // inline one removed writes nothing, so that the texts around it make one run.
      if (record.algorithm != Algorithm::Remove) {
        CountTagGroup(s);
      } else if (record.GetRuleType() == RuleType::Block) {
        EndRun(s);
      }
      continue;
    }
    table.VisitTextInBuffer(record, [&](const auto* units, std::size_t size, const auto* limit) {
      // A text emptied by its white space mode (about a tenth of the records) writes nothing.
      if (size == 0) return;
      const auto* const end = units + size;
      if ((record.bits & CElementRecord::kRecordNbsp) == 0) {
        CountWrittenText(s, units, end, limit);
        return;
      }
      // Marked for its U+00A0: its pieces between them as texts, each U+00A0 an inline tag
      // group.
      for (const auto* p = units;;) {
        const auto* const nbsp = FindUnitOf(p, end, 0x00A0, 0x00A0);
        CountWrittenText(s, p, nbsp, limit);
        if (nbsp == end) return;
        CountTagGroup(s);
        p = nbsp + 1;
      }
    });
  }
  m_state = s;
}

void CIfCounter::Finish() {
  m_codes.Reset();
  EndRun(m_state);
}

}  // namespace tagvert::cli
