// Tagvert: scans over runs of UTF-16 units for the bulk reads and writes: the next IF code, the
// next unit that markup output must look at, and the leading ASCII of a run copied as bytes.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ifcodec/if_code_range.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define TAGVERT_UNITS_SSE2 1
#else
#define TAGVERT_UNITS_SSE2 0
#endif

namespace tagvert {

namespace detail {

// Portable forms, four units per 64-bit word; the vector forms below fall back on them for the
// tail of a run and on machines without SSE2 (the 32-bit Windows build).

/// Index of the first of the `n` little-endian units at `p` that is an IF code (IsIfCode); `n`
/// when there is none.
inline std::size_t UnitsFindIfCodePortable(const std::uint8_t* p, std::size_t n) {
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0001000100010001u;
    constexpr std::uint64_t kHigh = kOnes * kIfCodeMask;
    constexpr std::uint64_t kCode = kOnes * kIfCodeFirst;
    constexpr std::uint64_t kSign = 0x8000800080008000u;
    for (; i + 4 <= n; i += 4) {
      std::uint64_t word;
      std::memcpy(&word, p + 2 * i, 8);
      // A lane is a code when its bits under kIfCodeMask are those of kIfCodeFirst: the lane of
      // `y` is then zero. The zero-lane test may also flag lanes above a zero lane (borrow),
      // never one below it.
      const std::uint64_t y = (word ^ kCode) & kHigh;
      if (((y - kOnes) & ~y & kSign) != 0) break;
    }
  }
  for (; i < n; ++i) {
    if ((p[2 * i + 1] & (kIfCodeMask >> 8)) == (kIfCodeFirst >> 8)) return i;
  }
  return n;
}

/// An ASCII unit that markup output writes as its one byte: U+0020..U+007F, tab, line feed,
/// carriage return (the other controls are no XML characters).
constexpr bool IsPlainAscii(char16_t c) {
  return c < 0x80 && (c >= 0x20 || c == 0x09 || c == 0x0A || c == 0x0D);
}

/// Copies the leading units of `s[0..n)` that are IsPlainAscii to `out` as one byte each and
/// returns their count; `out` has room for `n` bytes.
inline std::size_t UnitsCopyPlainAsciiPortable(const char16_t* s, std::size_t n,
                                               std::uint8_t* out) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    if (!(IsPlainAscii(s[i]) && IsPlainAscii(s[i + 1]) && IsPlainAscii(s[i + 2]) &&
          IsPlainAscii(s[i + 3]))) {
      break;
    }
    out[i] = static_cast<std::uint8_t>(s[i]);
    out[i + 1] = static_cast<std::uint8_t>(s[i + 1]);
    out[i + 2] = static_cast<std::uint8_t>(s[i + 2]);
    out[i + 3] = static_cast<std::uint8_t>(s[i + 3]);
  }
  for (; i < n && IsPlainAscii(s[i]); ++i)
    out[i] = static_cast<std::uint8_t>(s[i]);
  return i;
}

constexpr bool IsMarkupSpecial(char16_t c) {
  return c == u'<' || c == u'&' || c == u']' || c == 0x00A0;
}

/// Index of the first unit of `s[0..n)` that is `<`, `&`, `]` or U+00A0; `n` when there is none.
inline std::size_t UnitsFindMarkupSpecialPortable(const char16_t* s, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (IsMarkupSpecial(s[i])) return i;
  }
  return n;
}

}  // namespace detail

/// Index of the first of the `n` little-endian UTF-16 units at `p` (2 `n` bytes, any alignment)
/// that is an IF code (IsIfCode); `n` when there is none.
inline std::size_t UnitsFindIfCode(const std::uint8_t* p, std::size_t n) {
#if TAGVERT_UNITS_SSE2
  const __m128i high = _mm_set1_epi16(static_cast<short>(kIfCodeMask));
  const __m128i code = _mm_set1_epi16(static_cast<short>(kIfCodeFirst));
  // Lanes of -1 where the unit at `at` and the seven after it are codes.
  const auto codes = [&](std::size_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * at));
    return _mm_cmpeq_epi16(_mm_and_si128(v, high), code);
  };
  std::size_t i = 0;
  // Long runs (a tag's source text) are looked at thirty-two units per test, short ones eight.
  for (; i + 32 <= n; i += 32) {
    const __m128i a = codes(i), b = codes(i + 8), c = codes(i + 16), d = codes(i + 24);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) == 0) continue;
    // Lanes of 0 or -1 pack into bytes of the same: a bit per unit.
    const auto low = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(a, b)));
    if (low != 0) return i + static_cast<std::size_t>(std::countr_zero(low));
    const auto upper = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(c, d)));
    return i + 16 + static_cast<std::size_t>(std::countr_zero(upper));
  }
  for (; i + 8 <= n; i += 8) {
    const int mask = _mm_movemask_epi8(codes(i));
    if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(unsigned(mask))) / 2;
  }
  return i + detail::UnitsFindIfCodePortable(p + 2 * i, n - i);
#else
  return detail::UnitsFindIfCodePortable(p, n);
#endif
}

/// Copies the `n` units at `in` to `out` when none of them is an IF code, and says whether it
/// did; `in` may be read up to `limit`, and `out` has room for 7 units beyond the `n`. Eight
/// units a step to the end where the input holds them, the last step's lanes beyond the `n`
/// neither tested nor counted (their copies are room left over): one pass where a search and a
/// copy were two, for the short texts of tags. Over a code, what was copied is left as room.
inline bool UnitsCopyWithoutIfCode(const char16_t* in, std::size_t n, const char16_t* limit,
                                   char16_t* out) {
#if TAGVERT_UNITS_SSE2
  const std::size_t steps = (n + 7) & ~std::size_t{7};
  if (static_cast<std::size_t>(limit - in) >= steps) {
    const __m128i high = _mm_set1_epi16(static_cast<short>(kIfCodeMask));
    const __m128i code = _mm_set1_epi16(static_cast<short>(kIfCodeFirst));
    __m128i codes = _mm_setzero_si128();
    std::size_t done = 0;
    for (; done + 8 < steps; done += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
      codes = _mm_or_si128(codes, _mm_cmpeq_epi16(_mm_and_si128(v, high), code));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), v);
    }
    if (done != steps) {
      // The last step: only the lanes of the `n - done` units left count.
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
      const auto last =
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high), code)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), v);
      if ((last & ((1u << (2 * (n - done))) - 1)) != 0) return false;
    }
    return _mm_movemask_epi8(codes) == 0;
  }
#else
  static_cast<void>(limit);
#endif
  if (UnitsFindIfCode(reinterpret_cast<const std::uint8_t*>(in), n) != n) return false;
  std::memcpy(out, in, n * sizeof(char16_t));
  return true;
}

/// Copies the `n` units at `in` to `out` as UnitsCopyWithoutIfCode does, for units known to hold
/// no IF code: eight units a step where the input may be read up to `limit`, the last step's
/// lanes beyond the `n` copied as room left over (`out` has room for 7 units beyond the `n`).
inline void UnitsCopyPast(const char16_t* in, std::size_t n, const char16_t* limit, char16_t* out) {
#if TAGVERT_UNITS_SSE2
  const std::size_t steps = (n + 7) & ~std::size_t{7};
  if (static_cast<std::size_t>(limit - in) >= steps) {
    for (std::size_t done = 0; done < steps; done += 8) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done)));
    }
    return;
  }
#else
  static_cast<void>(limit);
#endif
  std::memcpy(out, in, n * sizeof(char16_t));
}

/// Copies the leading units of `s[0..n)` that markup output writes as one byte each (ASCII but
/// the controls that XML excludes) to `out` and returns their count; `out` has room for `n`
/// bytes.
inline std::size_t UnitsCopyPlainAscii(const char16_t* s, std::size_t n, std::uint8_t* out) {
#if TAGVERT_UNITS_SSE2
  const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i space = _mm_set1_epi16(0x20);
  const __m128i tab = _mm_set1_epi16(0x09);
  const __m128i lineFeed = _mm_set1_epi16(0x0A);
  const __m128i carriageReturn = _mm_set1_epi16(0x0D);
  const __m128i zero = _mm_setzero_si128();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(v, nonAscii), zero);
    // Below U+0020 (a signed compare, exact for the ASCII lanes) and none of the three allowed.
    const __m128i allowed = _mm_or_si128(
        _mm_cmpeq_epi16(v, tab),
        _mm_or_si128(_mm_cmpeq_epi16(v, lineFeed), _mm_cmpeq_epi16(v, carriageReturn)));
    const __m128i excluded = _mm_andnot_si128(allowed, _mm_cmplt_epi16(v, space));
    if (_mm_movemask_epi8(_mm_andnot_si128(excluded, ascii)) != 0xFFFF) break;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(v, v));
  }
  return i + detail::UnitsCopyPlainAsciiPortable(s + i, n - i, out + i);
#else
  return detail::UnitsCopyPlainAsciiPortable(s, n, out);
#endif
}

/// Index of the first unit of `s[0..n)` that markup output has to look at in text: `<` or `&`
/// (escaped), `]` (a possible "]]>"), U+00A0 (spaces around it go); `n` when there is none.
inline std::size_t UnitsFindMarkupSpecial(const char16_t* s, std::size_t n) {
#if TAGVERT_UNITS_SSE2
  const __m128i less = _mm_set1_epi16(u'<');
  const __m128i amp = _mm_set1_epi16(u'&');
  const __m128i bracket = _mm_set1_epi16(u']');
  const __m128i nbsp = _mm_set1_epi16(0x00A0);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i hit =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, less), _mm_cmpeq_epi16(v, amp)),
                     _mm_or_si128(_mm_cmpeq_epi16(v, bracket), _mm_cmpeq_epi16(v, nbsp)));
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(unsigned(mask))) / 2;
  }
  return i + detail::UnitsFindMarkupSpecialPortable(s + i, n - i);
#else
  return detail::UnitsFindMarkupSpecialPortable(s, n);
#endif
}

#if TAGVERT_UNITS_SSE2
/// Writes the sixteen units at `s` to `out` as sixteen bytes, whatever they are (a unit outside
/// ASCII gives a byte of no meaning), and returns a mask of those that are ASCII (bit k for
/// s[k]; 0xFFFF when all are). For writers of UTF-8 that take ASCII sixteen units a look and
/// write the units from the first one outside ASCII on again.
inline unsigned UnitsPackAscii16(const char16_t* s, char* out) {
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(a, high), zero),
                                        _mm_cmpeq_epi16(_mm_and_si128(b, high), zero))));
}
#endif

}  // namespace tagvert
