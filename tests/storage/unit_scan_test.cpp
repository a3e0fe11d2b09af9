// Tagvert: tests of the run scans: the vector and the portable forms find the same unit as a
// plain loop, at every position within and across the eight-unit blocks.
// SPDX-License-Identifier: Apache-2.0
#include "storage/unit_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "storage/input_scan.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

// Runs of up to 40 units of `filler` with `probe` at each position (or absent), scanned from an
// odd byte offset too; the flags tell which scan stops at `probe`.
struct CScanCase {
  const char* name;
  char16_t filler;
  char16_t probe;
  bool codeScanStops;
  bool specialScanStops;
};

const CScanCase kScanCases[] = {
    {"first code", u'a', 0xE000, true, false},
    {"last code", u'a', 0xEFFF, true, false},
    {"below codes", u'a', 0xDFFF, false, false},
    {"above codes", u'a', 0xF000, false, false},
    {"code bits in low byte", u'a', 0x00E0, false, false},
    {"code among codes' neighbours", 0xD000, 0xE805, true, false},
    {"less-than", u'b', u'<', false, true},
    {"ampersand", u'b', u'&', false, true},
    {"bracket", u'b', u']', false, true},
    {"no-break space", u'b', 0x00A0, false, true},
    {"greater-than", u'b', u'>', false, false},
    {"space", u'b', u' ', false, false},
    {"A0 in high byte", u'b', 0xA000, false, false},
    {"3C in high byte", u'b', 0x3C00, false, false},
};

TEST(CUnitScanTest, FindsTheFirstStopUnitAtEveryPosition) {
  for (const CScanCase& c : kScanCases) {
    for (std::size_t length = 0; length <= 40; ++length) {
      for (std::size_t at = 0; at <= length; ++at) {
        SCOPED_TRACE(std::string(c.name) + ", length " + std::to_string(length) + ", at " +
                     std::to_string(at));
        std::u16string units(length, c.filler);
        if (at < length) units[at] = c.probe;
        // A second probe later on must not hide the first.
        if (at + 9 < length) units[at + 9] = c.probe;
        const std::size_t codeAt = c.codeScanStops && at < length ? at : length;
        const std::size_t specialAt = c.specialScanStops && at < length ? at : length;
        // One byte of padding in front: the scan does not rely on alignment.
        std::vector<std::uint8_t> bytes = test::Utf16LeBytes(units);
        bytes.insert(bytes.begin(), 0xEE);
        EXPECT_EQ(UnitsFindIfCode(bytes.data() + 1, length), codeAt);
        EXPECT_EQ(detail::UnitsFindIfCodePortable(bytes.data() + 1, length), codeAt);
        EXPECT_EQ(UnitsFindMarkupSpecial(units.data(), length), specialAt);
        EXPECT_EQ(detail::UnitsFindMarkupSpecialPortable(units.data(), length), specialAt);
      }
    }
  }
}

// The prefix of ASCII units that XML allows (tab, line feed and carriage return among the
// controls) is copied byte for byte and ends at the first unit from U+0080 up, whatever its low
// byte, or at a control that XML excludes; the bytes after the prefix are not written.
TEST(CUnitScanTest, CopiesThePlainAsciiPrefix) {
  constexpr char16_t kAllowed[] = {0x7F, u'\t', u'\n', u'\r'};
  for (const char16_t stop :
       {char16_t{0x0080}, char16_t{0x0100}, char16_t{0x00FF}, char16_t{0xD83D}, char16_t{0x8000},
        char16_t{0x0000}, char16_t{0x0008}, char16_t{0x000B}, char16_t{0x001F}}) {
    for (std::size_t length = 0; length <= 40; ++length) {
      for (std::size_t at = 0; at <= length; ++at) {
        SCOPED_TRACE("stop " + std::to_string(stop) + ", length " + std::to_string(length) +
                     ", at " + std::to_string(at));
        std::u16string units;
        for (std::size_t i = 0; i < length; ++i)
          units.push_back(static_cast<char16_t>(i % 2 == 0 ? u'!' + i : kAllowed[i / 2 % 4]));
        if (at < length) units[at] = stop;
        for (const bool portable : {false, true}) {
          std::vector<std::uint8_t> out(length + 1, 0xAA);
          const std::size_t copied =
              portable ? detail::UnitsCopyPlainAsciiPortable(units.data(), length, out.data())
                       : UnitsCopyPlainAscii(units.data(), length, out.data());
          ASSERT_EQ(copied, at);
          for (std::size_t i = 0; i < at; ++i)
            EXPECT_EQ(out[i], units[i]);
          EXPECT_EQ(out[at], 0xAA);
        }
      }
    }
  }
}

// The count of a unit that sizes the element records: over narrow and wide runs of every length
// up to 140 (two rounds of four sixteen-byte steps and their tails), with the unit every third
// place, and wide units that hold the unit's byte in either half, which must not count (packed
// into bytes, they saturate); and long runs.
TEST(CUnitScanTest, CountsAUnitInNarrowAndWideRuns) {
  for (std::size_t length = 0; length <= 140; ++length) {
    SCOPED_TRACE("length " + std::to_string(length));
    std::vector<std::uint8_t> narrow(length, u'a');
    std::u16string wide(length, 0x3C3C);
    std::size_t expected = 0;
    for (std::size_t i = 0; i < length; ++i) {
      if (i % 3 == 1) wide[i] = i % 2 == 0 ? 0x013C : 0xFF3C;
      if (i % 3 != 0) continue;
      narrow[i] = u'<';
      wide[i] = u'<';
      ++expected;
    }
    EXPECT_EQ(CountUnit(narrow.data(), narrow.data() + length, u'<'), expected);
    EXPECT_EQ(CountUnit(wide.data(), wide.data() + length, u'<'), expected);
  }
  // Long runs of nothing else: the per-byte counts are summed before they can overflow.
  const std::vector<std::uint8_t> narrow(9000, u'<');
  const std::u16string wide(9000, u'<');
  EXPECT_EQ(CountUnit(narrow.data(), narrow.data() + narrow.size(), u'<'), 9000u);
  EXPECT_EQ(CountUnit(wide.data(), wide.data() + wide.size(), u'<'), 9000u);
}

// The widening in whole steps: for every length up to 40 and every end of the readable input
// from the run's end to sixteen bytes past it, the units written are those WidenBytes writes
// (the last ones Latin-1, so that a lost high byte shows), and nothing beyond the fifteen units
// of excess is touched.
TEST(CUnitScanTest, WidensInWholeStepsAsByteByByte) {
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t beyond = 0; beyond <= 16; ++beyond) {
      SCOPED_TRACE("length " + std::to_string(length) + ", readable beyond " +
                   std::to_string(beyond));
      std::vector<std::uint8_t> in(length + beyond);
      for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<std::uint8_t>(0x41 + i * 7);
      std::u16string expected(length + 16, u'#');
      WidenBytes(in.data(), length, expected.data());
      std::u16string widened(length + 16, u'#');
      WidenBytesPast(in.data(), length, in.data() + in.size(), widened.data());
      EXPECT_EQ(widened.substr(0, length), expected.substr(0, length));
      EXPECT_EQ(widened[length + 15], u'#');
    }
  }
}

// The ASCII copies into bytes, which take pairs of sixteen-byte steps while both are ASCII: for
// every length up to 80 and a non-ASCII byte at each position (or none), the prefix copy takes
// the bytes before it within the whole steps and the block copy the whole steps before its
// step, each as bytes, and the block copy leaves that step unwritten.
TEST(CUnitScanTest, CopiesAsciiBytesUpToTheFirstOther) {
  for (std::size_t length = 0; length <= 80; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      SCOPED_TRACE("length " + std::to_string(length) + ", at " + std::to_string(at));
      std::vector<std::uint8_t> in(length);
      for (std::size_t i = 0; i < length; ++i)
        in[i] = static_cast<std::uint8_t>(i == at ? 0xC3 : 0x21 + i % 90);
      const std::size_t steps = length & ~std::size_t{15};
      const std::uint8_t* const bytes = in.data();
      std::vector<std::uint8_t> prefix(96, 0xAA);
      const std::size_t taken = CopyAsciiPrefix(bytes, length, prefix.data());
      ASSERT_EQ(taken, std::min(at, steps));
      EXPECT_TRUE(std::equal(bytes, bytes + taken, prefix.data()));
      std::vector<std::uint8_t> blocks(96, 0xAA);
      const std::size_t copied = CopyAsciiBlocks(bytes, length, blocks.data());
      ASSERT_EQ(copied, std::min(at & ~std::size_t{15}, steps));
      EXPECT_TRUE(std::equal(bytes, bytes + copied, blocks.data()));
      EXPECT_EQ(std::count(blocks.data() + copied, blocks.data() + blocks.size(), 0xAA),
                static_cast<std::ptrdiff_t>(blocks.size() - copied));
    }
  }
}

// The copy that stops at an IF code: for every length up to 40, a code at each position or
// none, and a code just past the run where the input goes on, it copies exactly when the search
// finds no code in the run, and then the units of the run.
TEST(CUnitScanTest, CopiesARunWithoutIfCodeAsTheSearchFinds) {
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t code = 0; code <= length + 1; ++code) {
      for (const std::size_t beyond : {std::size_t{0}, std::size_t{1}, std::size_t{8}}) {
        SCOPED_TRACE("length " + std::to_string(length) + ", code at " + std::to_string(code) +
                     ", readable beyond " + std::to_string(beyond));
        std::u16string in(length + beyond, u'\u30C6');
        if (code < in.size()) in[code] = 0xE805;
        std::u16string out(length + 8, u'#');
        const bool copied =
            UnitsCopyWithoutIfCode(in.data(), length, in.data() + in.size(), out.data());
        const bool clean =
            UnitsFindIfCode(reinterpret_cast<const std::uint8_t*>(in.data()), length) == length;
        EXPECT_EQ(copied, clean);
        if (clean) {
          EXPECT_EQ(out.substr(0, length), in.substr(0, length));
        }
        EXPECT_EQ(out[length + 7], u'#');
      }
    }
  }
}

}  // namespace
}  // namespace tagvert
