// Tagvert: scans of the decoded input for the tag reader and of ASCII input for the decoder.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#define TAGVERT_INPUT_SCAN_SSE2 1
#endif

namespace tagvert {

/// The first unit in [p, end) equal to `a` or `b`, or `end`. Text runs between tags are most
/// of a document: this loop compares eight units per step where the processor allows.
inline const char16_t* FindUnitOf(const char16_t* p, const char16_t* end, char16_t a, char16_t b) {
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  const __m128i va = _mm_set1_epi16(static_cast<short>(a));
  const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
  while (end - p >= 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int mask =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(units, va), _mm_cmpeq_epi16(units, vb)));
    if (mask != 0) return p + std::countr_zero(static_cast<unsigned>(mask)) / 2;
    p += 8;
  }
#endif
  while (p != end && *p != a && *p != b)
    ++p;
  return p;
}

/// The first unit in [p, end) equal to `a`, or `end`. An ASCII `a` (below U+007F) is looked for
/// sixteen units a step: the two halves are packed into bytes with signed saturation, which turns
/// every unit above U+007F into 0x7F or 0x80, so that only `a` gives its byte; a remainder of
/// eight or more takes one step of eight.
[[gnu::always_inline]] inline const char16_t* FindUnit(const char16_t* p, const char16_t* end,
                                                       char16_t a) {
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  if (a < 0x7F) {
    const __m128i va = _mm_set1_epi8(static_cast<char>(a));
    while (end - p >= 16) {
      const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
      const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_packs_epi16(first, second), va));
      if (mask != 0) return p + std::countr_zero(static_cast<unsigned>(mask));
      p += 16;
    }
  }
#endif
  return FindUnitOf(p, end, a, a);
}

/// FindUnitOf over units of one byte (a narrow buffer, see CUnitBuffer); `a` and `b` are below
/// U+0100.
inline const std::uint8_t* FindUnitOf(const std::uint8_t* p, const std::uint8_t* end, char16_t a,
                                      char16_t b) {
  const auto byteA = static_cast<std::uint8_t>(a);
  const auto byteB = static_cast<std::uint8_t>(b);
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  const __m128i va = _mm_set1_epi8(static_cast<char>(byteA));
  const __m128i vb = _mm_set1_epi8(static_cast<char>(byteB));
  while (end - p >= 16) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int mask =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(units, va), _mm_cmpeq_epi8(units, vb)));
    if (mask != 0) return p + std::countr_zero(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (p != end && *p != byteA && *p != byteB)
    ++p;
  return p;
}

/// FindUnit over units of one byte; `a` is below U+0100.
inline const std::uint8_t* FindUnit(const std::uint8_t* p, const std::uint8_t* end, char16_t a) {
  return FindUnitOf(p, end, a, a);
}

/// How many of the units in [p, end) equal `a`; four steps of sixteen units a round with one
/// loop test where the processor allows (the whole input is counted at once to size the element
/// records). `Unit` is std::uint8_t (a narrow buffer, `a` below U+0100) or char16_t.
template <class Unit>
inline std::size_t CountUnit(const Unit* p, const Unit* end, char16_t a) {
  std::size_t count = 0;
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  constexpr std::size_t kStep = 16;
  constexpr std::size_t kRound = 4 * kStep;
  const __m128i va = _mm_set1_epi8(static_cast<char>(a));
  // All ones in the bytes of a match among the sixteen units at `at`. Wide units are packed into
  // bytes first, those above U+007F saturated to 0x7F or 0x80: an ASCII `a` stays the only unit
  // that gives its byte, so that one comparison takes sixteen wide units as well.
  const auto matches = [&](const Unit* at) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    if constexpr (sizeof(Unit) == 1) {
      return _mm_cmpeq_epi8(first, va);
    } else {
      const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 8));
      return _mm_cmpeq_epi8(_mm_packs_epi16(first, second), va);
    }
  };
  const __m128i zero = _mm_setzero_si128();
  std::size_t rounds = static_cast<std::size_t>(end - p) / kRound;
  // A wide unit other than ASCII is counted below, one at a time.
  if (sizeof(Unit) == 2 && a >= 0x80) rounds = 0;
  while (rounds != 0) {
    // A match subtracted adds one to its byte; a byte gains at most four a round and holds 63
    // rounds before the bytes are summed.
    const std::size_t block = rounds < 63 ? rounds : 63;
    rounds -= block;
    __m128i counts = zero;
    for (const Unit* const blockEnd = p + block * kRound; p != blockEnd; p += kRound) {
      const __m128i pair0 = _mm_add_epi8(matches(p), matches(p + kStep));
      const __m128i pair1 = _mm_add_epi8(matches(p + 2 * kStep), matches(p + 3 * kStep));
      counts = _mm_sub_epi8(counts, _mm_add_epi8(pair0, pair1));
    }
    // Two sums of eight bytes, each below 2^16.
    const __m128i sums = _mm_sad_epu8(counts, zero);
    count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
  }
#endif
  for (; p != end; ++p)
    count += *p == a ? 1 : 0;
  return count;
}

/// Widens `n` units of one byte at `in` into UTF-16 units at `out`.
inline void WidenBytes(const std::uint8_t* in, std::size_t n, char16_t* out) {
  std::size_t done = 0;
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  const __m128i zero = _mm_setzero_si128();
  for (; n - done >= 16; done += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done + 8), _mm_unpackhi_epi8(bytes, zero));
  }
  // Most texts and tags end in a part of fewer than sixteen bytes: eight of them in one step.
  if (n - done >= 8) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + done));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm_unpacklo_epi8(bytes, zero));
    done += 8;
  }
#endif
  for (; done < n; ++done)
    out[done] = in[done];
}

/// The units WidenBytesPast may write beyond the `n` it widens.
constexpr std::size_t kWidenPastExcess = 15;

/// WidenBytes for a caller whose output has room for kWidenPastExcess units beyond the `n`, and
/// whose input may be read up to `limit`: the bytes are widened sixteen at a time to the last part
/// as well, where the input holds the sixteen bytes, and what lands beyond the `n` units is left as
/// room. Tags and texts are mostly short, and their last part unit by unit cost a third of the
/// writing.
inline void WidenBytesPast(const std::uint8_t* in, std::size_t n, const std::uint8_t* limit,
                           char16_t* out) {
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  const std::size_t steps = (n + 15) & ~std::size_t{15};
  if (static_cast<std::size_t>(limit - in) >= steps) {
    const __m128i zero = _mm_setzero_si128();
    for (std::size_t done = 0; done != steps; done += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm_unpacklo_epi8(bytes, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done + 8), _mm_unpackhi_epi8(bytes, zero));
    }
    return;
  }
#else
  static_cast<void>(limit);
#endif
  WidenBytes(in, n, out);
}

/// CopyAsciiBlocks (`kPrefix` false) and CopyAsciiPrefix (true): ASCII bytes sixteen per step;
/// a step with a non-ASCII byte ends the copy, unwritten or (`kPrefix`) written whole and taken
/// up to that byte.
template <bool kPrefix, class Unit>
inline std::size_t CopyAsciiSteps(const std::uint8_t* in, std::size_t n, Unit* out) {
  std::size_t done = 0;
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  const __m128i zero = _mm_setzero_si128();
  if constexpr (sizeof(Unit) == 1) {
    // Bytes to bytes (text in Latin script, mostly ASCII): thirty-two per step while they are all
    // ASCII, one test for two loads. A pair with a non-ASCII byte is left to the steps of sixteen
    // below, which write what they would have written without it. Widened, the pairs were no
    // faster: the ASCII runs between the non-ASCII characters of other scripts are too short.
    while (n - done >= 32) {
      const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
      const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done + 16));
      if (_mm_movemask_epi8(_mm_or_si128(first, second)) != 0) break;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), first);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done + 16), second);
      done += 32;
    }
  }
  while (n - done >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(bytes));
    if (!kPrefix && high != 0) break;
    if constexpr (sizeof(Unit) == 1) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), bytes);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm_unpacklo_epi8(bytes, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done + 8), _mm_unpackhi_epi8(bytes, zero));
    }
    if (high != 0) return done + static_cast<std::size_t>(std::countr_zero(high));
    done += 16;
  }
#else
  while (n - done >= 16) {
    std::size_t ascii = 0;
    while (ascii < 16 && in[done + ascii] < 0x80)
      ++ascii;
    if (!kPrefix && ascii < 16) break;
    for (std::size_t k = 0; k < ascii; ++k)
      out[done + k] = in[done + k];
    if (ascii < 16) return done + ascii;
    done += 16;
  }
#endif
  return done;
}

/// Copies the leading ASCII bytes of [in, in + n) to `out` as units of `Unit` (std::uint8_t or
/// char16_t), sixteen at a time while sixteen remain; returns how many bytes it took (a multiple
/// of 16, at most n). The bytes after them are left to the caller: the first non-ASCII one, or
/// fewer than sixteen.
template <class Unit>
inline std::size_t CopyAsciiBlocks(const std::uint8_t* in, std::size_t n, Unit* out) {
  return CopyAsciiSteps<false>(in, n, out);
}

/// Copies the leading ASCII bytes of [in, in + n) to `out` as units of `Unit` (std::uint8_t or
/// char16_t), sixteen bytes per step while sixteen remain, up to the first non-ASCII byte;
/// returns how many it took (n & ~15 when all of those are ASCII). Every step writes sixteen
/// units, so up to fifteen beyond those taken: `out` has room for `n` units. Unlike
/// CopyAsciiBlocks it also takes the ASCII bytes of a step before its first non-ASCII one, as
/// text that mixes scripts has them around every non-ASCII word.
template <class Unit>
inline std::size_t CopyAsciiPrefix(const std::uint8_t* in, std::size_t n, Unit* out) {
  return CopyAsciiSteps<true>(in, n, out);
}

/// CopyAsciiBlocks into UTF-16 units.
inline std::size_t WidenAsciiBlocks(const std::uint8_t* in, std::size_t n, char16_t* out) {
  return CopyAsciiBlocks(in, n, out);
}

}  // namespace tagvert
