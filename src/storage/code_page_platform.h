// Tagvert: the platform's conversion of the Chinese code pages 936 and 54936.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>

namespace tagvert {

/// Code page 936 (GBK, one or two bytes per character).
inline constexpr unsigned kCodePage936 = 936;
/// Code page 54936 (GB18030, one, two or four bytes per character).
inline constexpr unsigned kCodePage54936 = 54936;

/// Decodes `size` bytes (1 to 4) of `codePage` (kCodePage936 or kCodePage54936) as exactly one
/// character. Stores its UTF-16 unit in `unit` and returns true only when all the bytes together
/// form one character that is one unit; returns false when they are not a valid sequence, form
/// more than one character, or form a character beyond U+FFFF. Never throws; safe to call from
/// several threads at once. Implemented once per platform.
bool PlatformDecodeCodePage(unsigned codePage, const std::uint8_t* bytes, std::size_t size,
                            char16_t& unit);

}  // namespace tagvert
