// Tagvert: scans of the decoded input for the tag reader and of ASCII input for the decoder.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

/// The first unit in [p, end) equal to `a`, or `end`.
inline const char16_t* FindUnit(const char16_t* p, const char16_t* end, char16_t a) {
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

/// The first unit in [p, end) that is not an ASCII name unit (a letter, a digit, `_`, `-`, `.`
/// or `:`), or `end`. `Unit` is std::uint8_t or char16_t. The tag reader takes the names of
/// ordinary tags and attributes with it: sixteen bytes are classified per step where the
/// processor allows, so that a name costs a few steps instead of a lookup per unit.
template <class Unit>
inline const Unit* SkipAsciiNameUnits(const Unit* p, const Unit* end) {
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  constexpr std::size_t kStep = 16 / sizeof(Unit);
  // The comparisons are signed: units from 0x80 (bytes) or 0x8000 (wide) count as negative
  // and fall in no range, the other units above 0x7F in none either.
  const auto splat = [](int c) {
    return sizeof(Unit) == 1 ? _mm_set1_epi8(static_cast<char>(c))
                             : _mm_set1_epi16(static_cast<short>(c));
  };
  const auto within = [](__m128i v, __m128i below, __m128i above) {
    return sizeof(Unit) == 1 ? _mm_and_si128(_mm_cmpgt_epi8(v, below), _mm_cmpgt_epi8(above, v))
                             : _mm_and_si128(_mm_cmpgt_epi16(v, below), _mm_cmpgt_epi16(above, v));
  };
  const __m128i caseBit = splat(0x20);
  const __m128i beforeA = splat('a' - 1);
  const __m128i afterZ = splat('z' + 1);
  const __m128i beforeDash = splat('-' - 1);  // `-` and `.`
  const __m128i afterDot = splat('.' + 1);
  const __m128i beforeZero = splat('0' - 1);  // the digits and `:`
  const __m128i afterColon = splat(':' + 1);
  const __m128i underscore = splat('_');
  while (static_cast<std::size_t>(end - p) >= kStep) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i name =
        _mm_or_si128(_mm_or_si128(within(_mm_or_si128(units, caseBit), beforeA, afterZ),
                                  within(units, beforeDash, afterDot)),
                     _mm_or_si128(within(units, beforeZero, afterColon),
                                  sizeof(Unit) == 1 ? _mm_cmpeq_epi8(units, underscore)
                                                    : _mm_cmpeq_epi16(units, underscore)));
    const auto others = static_cast<unsigned>(~_mm_movemask_epi8(name)) & 0xFFFFu;
    if (others != 0) return p + static_cast<unsigned>(std::countr_zero(others)) / sizeof(Unit);
    p += kStep;
  }
#endif
  for (; p != end; ++p) {
    const auto c = static_cast<char16_t>(*p);
    const auto lower = static_cast<char16_t>(c | 0x20u);
    if (!((lower >= u'a' && lower <= u'z') || (c >= u'0' && c <= u':') || c == u'-' || c == u'.' ||
          c == u'_')) {
      break;
    }
  }
  return p;
}

/// How many of the units in [p, end) equal `a`; sixteen bytes per step where the processor
/// allows. `Unit` is std::uint8_t (a narrow buffer, `a` below U+0100) or char16_t.
template <class Unit>
inline std::size_t CountUnit(const Unit* p, const Unit* end, char16_t a) {
  std::size_t count = 0;
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  constexpr std::size_t kStep = 16 / sizeof(Unit);
  const __m128i va = sizeof(Unit) == 1 ? _mm_set1_epi8(static_cast<char>(a))
                                       : _mm_set1_epi16(static_cast<short>(a));
  const __m128i zero = _mm_setzero_si128();
  std::size_t steps = static_cast<std::size_t>(end - p) / kStep;
  while (steps != 0) {
    // A match is all ones in its lane: subtracted, it adds one to each of its bytes, which
    // count up to 255 steps before they are summed.
    const std::size_t block = steps < 255 ? steps : 255;
    steps -= block;
    __m128i counts = zero;
    for (const Unit* const blockEnd = p + block * kStep; p != blockEnd; p += kStep) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      counts = _mm_sub_epi8(
          counts, sizeof(Unit) == 1 ? _mm_cmpeq_epi8(units, va) : _mm_cmpeq_epi16(units, va));
    }
    // Two sums of eight bytes, each below 2^16.
    const __m128i sums = _mm_sad_epu8(counts, zero);
    count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
  }
  // A wide unit counts once in each of its two bytes.
  if constexpr (sizeof(Unit) == 2) count /= 2;
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

/// Copies the leading ASCII bytes of [in, in + n) to `out` as units of `Unit` (std::uint8_t or
/// char16_t), sixteen at a time while sixteen remain; returns how many bytes it took (a multiple
/// of 16, at most n). The bytes after them are left to the caller: the first non-ASCII one, or
/// fewer than sixteen.
template <class Unit>
inline std::size_t CopyAsciiBlocks(const std::uint8_t* in, std::size_t n, Unit* out) {
  std::size_t done = 0;
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  const __m128i zero = _mm_setzero_si128();
  while (n - done >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
    if (_mm_movemask_epi8(bytes) != 0) break;
    if constexpr (sizeof(Unit) == 1) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), bytes);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm_unpacklo_epi8(bytes, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done + 8), _mm_unpackhi_epi8(bytes, zero));
    }
    done += 16;
  }
#else
  while (n - done >= 16) {
    std::uint64_t low;
    std::uint64_t high;
    std::memcpy(&low, in + done, 8);
    std::memcpy(&high, in + done + 8, 8);
    if (((low | high) & 0x8080808080808080ULL) != 0) break;
    for (std::size_t k = 0; k < 16; ++k)
      out[done + k] = in[done + k];
    done += 16;
  }
#endif
  return done;
}

/// CopyAsciiBlocks into UTF-16 units.
inline std::size_t WidenAsciiBlocks(const std::uint8_t* in, std::size_t n, char16_t* out) {
  return CopyAsciiBlocks(in, n, out);
}

}  // namespace tagvert
