// Tagvert: the next IF code in a run of units, for the commands that read an IF as it is written.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <bit>

#include "ifcodec/if_code_range.h"
#include "storage/unit_scan.h"

namespace tagvert::cli {

/// The first code of the units from `p` to `end`, or `end`. Long runs (a tag's source text) are
/// looked at thirty-two units per test, short ones eight at a time and then one by one.
inline const char16_t* NextIfCode(const char16_t* p, const char16_t* end) {
#if TAGVERT_UNITS_SSE2
  const __m128i high = _mm_set1_epi16(static_cast<short>(kIfCodeMask));
  const __m128i first = _mm_set1_epi16(static_cast<short>(kIfCodeFirst));
  // Lanes of -1 where a unit is a code.
  const auto codes = [&](const char16_t* q) {
    return _mm_cmpeq_epi16(
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), high), first);
  };
  while (end - p >= 32) {
    const __m128i a = codes(p), b = codes(p + 8), c = codes(p + 16), d = codes(p + 24);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) != 0) {
      // Lanes of 0 or -1 pack into bytes of the same: a bit per unit.
      const auto low = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(a, b)));
      if (low != 0) return p + std::countr_zero(low);
      return p + 16 +
             std::countr_zero(static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(c, d))));
    }
    p += 32;
  }
  while (end - p >= 8) {
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(codes(p)));
    if (mask != 0) return p + std::countr_zero(mask) / 2;
    p += 8;
  }
#endif
  while (p < end && !IsIfCode(*p))
    ++p;
  return p;
}

}  // namespace tagvert::cli
