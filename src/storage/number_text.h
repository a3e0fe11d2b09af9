// Tagvert: reading unsigned numbers written in decimal or hexadecimal, in narrow or UTF-16 text.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tagvert {

/// How NumberScanDigits ended.
enum class NumberScanStatus {
  Ok,        ///< At least one digit, and the value is within the limit.
  NoDigits,  ///< The first unit is not a digit.
  TooLarge,  ///< The value passed the limit; the scan stopped at that digit.
};

/// The result of NumberScanDigits: the value read and the position of the first unit not read.
struct CNumberScan {
  std::uint64_t value = 0;
  std::size_t end = 0;
  NumberScanStatus status = NumberScanStatus::NoDigits;
};

/// Reads the digits of `base` (10 or 16; hexadecimal letters in either case) from position
/// `pos` up to the first unit that is not one. A `limit` below 2^60 stops the scan at the digit
/// that passes it; with the largest value of the type as `limit` every digit is read and the
/// value wraps modulo 2^64.
template <typename Char>
constexpr CNumberScan NumberScanDigits(std::basic_string_view<Char> text, std::size_t pos,
                                       unsigned base, std::uint64_t limit) {
  CNumberScan scan;
  scan.end = pos;
  for (; scan.end < text.size(); ++scan.end) {
    const Char c = text[scan.end];
    unsigned digit = 0;
    if (c >= Char('0') && c <= Char('9')) {
      digit = static_cast<unsigned>(c - Char('0'));
    } else if (base == 16 && c >= Char('a') && c <= Char('f')) {
      digit = static_cast<unsigned>(c - Char('a')) + 10;
    } else if (base == 16 && c >= Char('A') && c <= Char('F')) {
      digit = static_cast<unsigned>(c - Char('A')) + 10;
    } else {
      break;
    }
    scan.value = scan.value * base + digit;
    if (scan.value > limit) {
      scan.status = NumberScanStatus::TooLarge;
      return scan;
    }
    scan.status = NumberScanStatus::Ok;
  }
  return scan;
}

/// The whole of `text` as an unsigned number: decimal, or hexadecimal after "0x" or "0X".
/// Nothing else may stand around it; nullopt when something does or the value passes `limit`.
template <typename Char>
constexpr std::optional<std::uint64_t> NumberParseUnsigned(std::basic_string_view<Char> text,
                                                           std::uint64_t limit) {
  const bool hex =
      text.size() > 2 && text[0] == Char('0') && (text[1] == Char('x') || text[1] == Char('X'));
  const CNumberScan scan = NumberScanDigits(text, hex ? 2 : 0, hex ? 16 : 10, limit);
  if (scan.status != NumberScanStatus::Ok || scan.end != text.size()) return std::nullopt;
  return scan.value;
}

}  // namespace tagvert
