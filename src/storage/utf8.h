// Tagvert: decoding one UTF-8 character, ill-formed bytes replaced per maximal subpart, and the
// characters that XML text may hold.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>

namespace tagvert {

inline constexpr char16_t kReplacementCharacter = 0xFFFD;

/// Characters beyond U+FFFF: four UTF-8 bytes, two UTF-16 units (a surrogate pair).
inline constexpr char32_t kFirstSupplementary = 0x10000;

constexpr bool IsSurrogate(char16_t unit) {
  return (unit & 0xF800) == 0xD800;
}
constexpr bool IsHighSurrogate(char16_t unit) {
  return (unit & 0xFC00) == 0xD800;
}
constexpr bool IsLowSurrogate(char16_t unit) {
  return (unit & 0xFC00) == 0xDC00;
}
/// The two units of a character beyond U+FFFF (at least kFirstSupplementary).
constexpr char16_t HighSurrogateOf(char32_t c) {
  return static_cast<char16_t>(0xD800 + ((c - kFirstSupplementary) >> 10));
}
constexpr char16_t LowSurrogateOf(char32_t c) {
  return static_cast<char16_t>(0xDC00 + ((c - kFirstSupplementary) & 0x3FF));
}
/// The character that a high and a low surrogate stand for together.
constexpr char32_t CombineSurrogates(char16_t high, char16_t low) {
  return kFirstSupplementary + ((static_cast<char32_t>(high - 0xD800) << 10) | (low - 0xDC00));
}

/// Writes `c` (at most U+10FFFF, no surrogate) as UTF-8 at `out`, which has room for four
/// bytes; returns how many it wrote.
constexpr std::size_t EncodeUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

/// What DecodeUtf8Char makes of the bytes at a position: `length` bytes give `value` (U+FFFD
/// for an ill-formed stretch); `length` 0 when the bytes buffered so far begin a well-formed
/// character that needs more of them.
struct CUtf8Char {
  std::uint32_t length;
  char32_t value;
};

/// The replacement of ill-formed bytes, one U+FFFD per maximal subpart (the longest stretch
/// that begins some well-formed sequence, at least one byte): a lead byte that no character
/// starts with (80..C1, F5..FF), a lead byte followed by a byte out of its range (overlong
/// forms, surrogates, values above U+10FFFF) or cut short. Kept out of the common path.
[[gnu::noinline]] inline CUtf8Char DecodeUtf8Subpart(const std::uint8_t* p, std::size_t available) {
  const std::uint8_t lead = p[0];
  std::uint32_t more;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  char32_t value;
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1;
    value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2;
    value = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;   // below: an overlong form
    if (lead == 0xED) high = 0x9F;  // above: a surrogate
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3;
    value = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;   // below: an overlong form
    if (lead == 0xF4) high = 0x8F;  // above: beyond U+10FFFF
  } else {
    return {1, kReplacementCharacter};
  }
  for (std::uint32_t i = 1; i <= more; ++i) {
    if (i >= available) return {0, 0};
    if (p[i] < low || p[i] > high) return {i, kReplacementCharacter};
    value = (value << 6) | (p[i] & 0x3Fu);
    low = 0x80;
    high = 0xBF;
  }
  return {more + 1, value};
}

/// Decodes the character at `p`, of which `available` bytes are at hand; `p[0]` is not ASCII.
/// A well-formed character gives its code point, ill-formed bytes U+FFFD per maximal subpart,
/// so that no byte sequence but the one byte of an ASCII character ever gives that character.
inline CUtf8Char DecodeUtf8Char(const std::uint8_t* p, std::size_t available) {
  const std::uint8_t lead = p[0];
  const auto more = [&](std::size_t i) { return (p[i] & 0xC0) == 0x80; };
  if (lead >= 0xC2 && lead < 0xE0) {
    if (available >= 2 && more(1)) return {2, ((lead & 0x1Fu) << 6) | (p[1] & 0x3Fu)};
  } else if (lead >= 0xE0 && lead < 0xF0) {
    if (available >= 3 && more(1) && more(2)) {
      const char32_t value = ((lead & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
      if (value >= 0x800 && (value & 0xF800) != 0xD800) return {3, value};
    }
  } else if (lead >= 0xF0 && lead < 0xF5) {
    if (available >= 4 && more(1) && more(2) && more(3)) {
      const char32_t value =
          ((lead & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
      if (value >= 0x10000 && value <= 0x10FFFF) return {4, value};
    }
  }
  return DecodeUtf8Subpart(p, available);
}

/// The bytes of the sequence that `lead` (not ASCII) starts when it is well-formed: 2 to 4, or 1
/// for a byte that starts none.
constexpr std::uint32_t Utf8SequenceLength(std::uint8_t lead) {
  return lead >= 0xC2 && lead < 0xE0   ? 2
         : lead >= 0xE0 && lead < 0xF0 ? 3
         : lead >= 0xF0 && lead < 0xF5 ? 4
                                       : 1;
}

/// A unit below U+0020 that XML 1.0 allows in a document: tab, line feed, carriage return.
constexpr bool IsXmlControl(char16_t unit) {
  return unit == 0x09 || unit == 0x0A || unit == 0x0D;
}

/// A unit that XML 1.0 excludes even from character references when it stands by itself: the
/// controls below U+0020 but tab, line feed and carriage return, and U+FFFE and U+FFFF.
/// (Surrogates are judged by whether they pair up.)
constexpr bool IsNonXmlUnit(char16_t unit) {
  return (unit < 0x20 && !IsXmlControl(unit)) || unit >= 0xFFFE;
}

}  // namespace tagvert
