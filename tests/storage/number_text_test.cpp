// Tagvert: tests of reading unsigned numbers from narrow and UTF-16 text.
// SPDX-License-Identifier: Apache-2.0
#include "storage/number_text.h"

#include <gtest/gtest.h>

namespace tagvert {
namespace {

TEST(NumberTextTest, ParseUnsignedTakesDecimalOrHexAndNothingElse) {
  const struct {
    const char* text;
    std::optional<std::uint64_t> expected;
  } rows[] = {
      {"0", 0},
      {"4294967295", 0xFFFFFFFF},
      {"0x1aF", 0x1AF},
      {"0XFFFFFFFF", 0xFFFFFFFF},
      {"", std::nullopt},
      {"0x", std::nullopt},
      {"12 ", std::nullopt},
      {"-1", std::nullopt},
      {"1f", std::nullopt},
      {"4294967296", std::nullopt},
      {"0x100000000", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(NumberParseUnsigned(std::string_view(row.text), 0xFFFFFFFF), row.expected);
    const std::u16string wide(row.text, row.text + std::char_traits<char>::length(row.text));
    EXPECT_EQ(NumberParseUnsigned(std::u16string_view(wide), 0xFFFFFFFF), row.expected);
  }
}

TEST(NumberTextTest, ScanDigitsStopsAtTheFirstNonDigitOrPastTheLimit) {
  const std::u16string_view text = u"x123y";
  CNumberScan scan = NumberScanDigits(text, 1, 10, 1000);
  EXPECT_EQ(scan.status, NumberScanStatus::Ok);
  EXPECT_EQ(scan.value, 123U);
  EXPECT_EQ(scan.end, 4U);
  EXPECT_EQ(NumberScanDigits(text, 0, 10, 1000).status, NumberScanStatus::NoDigits);
  scan = NumberScanDigits(text, 1, 10, 12);
  EXPECT_EQ(scan.status, NumberScanStatus::TooLarge);
  EXPECT_EQ(scan.end, 3U);
}

}  // namespace
}  // namespace tagvert
