// Tagvert: tests of the block-wise unit search and ASCII widening.
// SPDX-License-Identifier: Apache-2.0
#include "storage/input_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tagvert {
namespace {

// Every length up to a few blocks, every position of the sought unit, with units that differ
// from it only in one byte around it: the answer must be the first match or the end.
TEST(InputScanTest, FindUnitOfStopsAtTheFirstMatchAtEveryPosition) {
  const struct {
    char16_t a;
    char16_t b;
    char16_t filler;
  } cases[] = {
      {u'<', u'<', u'x'},
      {u'"', u'<', 0x3C00},  // '<' in the high byte does not count
      {0x00A0, u'<', 0x01A0},
      {0xFFFF, 0x0000, 0xFFFE},
  };
  for (const auto& c : cases) {
    for (std::size_t length = 0; length <= 40; ++length) {
      const std::u16string none(length, c.filler);
      EXPECT_EQ(FindUnitOf(none.data(), none.data() + length, c.a, c.b), none.data() + length);
      for (std::size_t at = 0; at < length; ++at) {
        for (const char16_t sought : {c.a, c.b}) {
          std::u16string units = none;
          units[at] = sought;
          if (at + 1 < length) units[at + 1] = c.a == sought ? c.b : c.a;  // a later match
          SCOPED_TRACE(testing::Message() << int(c.a) << " length " << length << " at " << at);
          EXPECT_EQ(FindUnitOf(units.data(), units.data() + length, c.a, c.b) - units.data(),
                    static_cast<std::ptrdiff_t>(at));
        }
      }
    }
  }
  const std::u16string text = u"abc<def";
  EXPECT_EQ(FindUnit(text.data(), text.data() + text.size(), u'<'), text.data() + 3);
  EXPECT_EQ(FindUnit(text.data(), text.data() + 3, u'<'), text.data() + 3);
}

TEST(InputScanTest, WidenAsciiBlocksTakesWholeAsciiBlocksOnly) {
  for (std::size_t length = 0; length <= 70; ++length) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i)
      bytes[i] = static_cast<std::uint8_t>(0x20 + (i * 7) % 0x5F);
    // All ASCII: every whole block of sixteen, each byte as one unit.
    std::vector<char16_t> out(length + 1, 0xBEEF);
    const std::size_t whole = length / 16 * 16;
    ASSERT_EQ(WidenAsciiBlocks(bytes.data(), length, out.data()), whole) << length;
    for (std::size_t i = 0; i < whole; ++i)
      ASSERT_EQ(out[i], bytes[i]) << length << " at " << i;
    EXPECT_EQ(out[whole], 0xBEEF) << "nothing written after the blocks taken";
    // A byte with the high bit set stops before its block.
    for (std::size_t at = 0; at < length; ++at) {
      std::vector<std::uint8_t> mixed = bytes;
      mixed[at] = static_cast<std::uint8_t>(0x80 | (at & 0x7F));
      EXPECT_EQ(WidenAsciiBlocks(mixed.data(), length, out.data()), std::min(whole, at / 16 * 16))
          << length << " at " << at;
    }
  }
}

}  // namespace
}  // namespace tagvert
