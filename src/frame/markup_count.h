// Tagvert: the count of markup starts that sizes the record table before the input is cut.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "storage/input_scan.h"

namespace tagvert {

/// How many of the units in [p, end) are '<' (CountUnit's count), for the whole input at once:
/// four steps of sixteen bytes a round with one loop test, the last bytes left to CountUnit.
/// `Unit` is std::uint8_t (a narrow buffer) or char16_t.
template <class Unit>
std::size_t CountMarkupStarts(const Unit* p, const Unit* end) {
  std::size_t count = 0;
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  constexpr std::size_t kStep = 16 / sizeof(Unit);
  constexpr std::size_t kRound = 4 * kStep;
  const __m128i less =
      sizeof(Unit) == 1 ? _mm_set1_epi8('<') : _mm_set1_epi16(static_cast<short>('<'));
  // All ones in the lanes of a '<' in the step at `at`.
  const auto matches = [&](const Unit* at) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return sizeof(Unit) == 1 ? _mm_cmpeq_epi8(units, less) : _mm_cmpeq_epi16(units, less);
  };
  const __m128i zero = _mm_setzero_si128();
  std::size_t rounds = static_cast<std::size_t>(end - p) / kRound;
  while (rounds != 0) {
    // A match subtracted adds one to each of its bytes; a byte gains at most four a round and
    // holds 63 rounds before the bytes are summed.
    const std::size_t block = std::min<std::size_t>(rounds, 63);
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
  // A wide unit counts once in each of its two bytes.
  if constexpr (sizeof(Unit) == 2) count /= 2;
#endif
  return count + CountUnit(p, end, u'<');
}

}  // namespace tagvert
