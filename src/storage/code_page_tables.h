// Tagvert: the code pages of single-byte mode: indexes, the five Cyrillic tables and their reverse.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

namespace tagvert {

/// Code-page indexes that refine encoding mode 1. Index 0 (and any index not listed) reads each
/// byte as the unit of the same value and writes units up to U+00FF as one byte.
inline constexpr std::int16_t kCodePageDefault = 0;
inline constexpr std::int16_t kCodePageWindows1251 = 1;  ///< table, both directions
inline constexpr std::int16_t kCodePageKoi8R = 2;        ///< table, both directions
inline constexpr std::int16_t kCodePageAscii = 3;      ///< bytes as units; above U+007F writes "?"
inline constexpr std::int16_t kCodePageKoi8U = 4;      ///< table, both directions
inline constexpr std::int16_t kCodePageCp866 = 5;      ///< table, both directions
inline constexpr std::int16_t kCodePageIso8859_5 = 6;  ///< table, both directions
inline constexpr std::int16_t kCodePageLatin1 = 7;     ///< bytes as units; output as index 0
inline constexpr std::int16_t kCodePageGb18030 = 8;    ///< input only (one, two or four bytes)
inline constexpr std::int16_t kCodePageGbk = 9;        ///< input only (code page 936)
inline constexpr std::int16_t kCodePageHz = 10;        ///< input only (7-bit escapes over GB 2312)

/// The unit that stands for a byte sequence that forms no character in the Chinese code pages.
inline constexpr char16_t kUndecodableUnit = u'*';
/// The byte written for a unit that the output code page cannot represent.
inline constexpr std::uint8_t kUnencodableByte = '?';

/// The 128 units of bytes 0x80..0xFF for a table code page (indexes 1, 2, 4, 5, 6); null for
/// every other index. The array is static and never freed.
const char16_t* CodePageTable(std::int16_t index);

/// The byte (0x80..0xFF) whose table entry is `unit`, for a table code page; 0 when the unit is
/// not in the table or `index` names no table. No table holds a unit twice, so the byte is the
/// one a search from the first entry finds.
std::uint8_t CodePageTableEncode(std::int16_t index, char16_t unit);

}  // namespace tagvert
