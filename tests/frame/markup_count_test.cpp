// Tagvert: tests of the count of markup starts that sizes the record table: it gives the plain
// count of '<' for narrow and wide units, at every length and offset around its rounds and over
// more rounds than its byte counters hold.
// SPDX-License-Identifier: Apache-2.0
#include "frame/markup_count.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tagvert {
namespace {

template <class Unit>
std::size_t PlainCount(const std::vector<Unit>& units, std::size_t from, std::size_t to) {
  std::size_t count = 0;
  for (std::size_t i = from; i < to; ++i)
    if (units[i] == u'<') ++count;
  return count;
}

template <class Unit>
void ExpectPlainCounts(const std::vector<Unit>& units) {
  for (std::size_t from = 0; from < 3 && from <= units.size(); ++from) {
    for (std::size_t to = from; to <= units.size(); to += to < 200 ? 1 : 97) {
      EXPECT_EQ(CountMarkupStarts(units.data() + from, units.data() + to),
                PlainCount(units, from, to))
          << "units " << from << " to " << to;
    }
  }
}

TEST(MarkupCount, NarrowUnitsMixed) {
  std::vector<std::uint8_t> units(700);
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<std::uint8_t>(i % 7 == 0 || i % 13 == 0 ? '<' : 'a' + i % 26);
  ExpectPlainCounts(units);
}

TEST(MarkupCount, WideUnitsWithTheByteElsewhere) {
  // U+3C3C and U+003D hold the byte of '<' without being one.
  std::vector<char16_t> units(700);
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = i % 5 == 0 ? u'<' : (i % 3 == 0 ? char16_t{0x3C3C} : char16_t{0x3D});
  ExpectPlainCounts(units);
}

TEST(MarkupCount, EveryUnitOverManyRounds) {
  // Every byte counter takes the most it can before it is summed, more than once.
  const std::vector<std::uint8_t> narrow(64 * 200 + 5, '<');
  EXPECT_EQ(CountMarkupStarts(narrow.data(), narrow.data() + narrow.size()), narrow.size());
  const std::vector<char16_t> wide(32 * 200 + 5, u'<');
  EXPECT_EQ(CountMarkupStarts(wide.data(), wide.data() + wide.size()), wide.size());
}

}  // namespace
}  // namespace tagvert
