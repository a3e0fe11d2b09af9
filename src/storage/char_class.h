// Tagvert: locale-independent character classification and case mapping of UTF-16 units.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace tagvert {

/// White space: U+0009-U+000D, U+0020, U+1680, U+2000-U+2006, U+2008-U+200A, U+2028, U+2029,
/// U+205F, U+3000. Not U+00A0, U+2007, U+202F, U+0085. Same answer in every locale.
constexpr bool CharIsSpace(char16_t c) {
  if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
  if (c < 0x1680) return false;
  return c == 0x1680 || (c >= 0x2000 && c <= 0x2006) || (c >= 0x2008 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x205F || c == 0x3000;
}

/// A unit whose Unicode general category is a letter or a number (Lu Ll Lt Lm Lo Nd Nl No).
/// Surrogate units are not.
bool CharIsAlnum(char16_t c);

/// A unit of an attribute name as the markup readers take it: alphanumeric, `_`, `-`, `.` or `:`.
inline bool CharIsNameChar(char16_t c) {
  return c == u'_' || c == u'-' || c == u'.' || c == u':' || CharIsAlnum(c);
}

/// The Unicode simple upper-case mapping of one unit; a unit without one stays.
char16_t CharToUpper(char16_t c);

/// Upper-cases only the ASCII letters a-z.
constexpr char16_t CharAsciiUpper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
}

/// Compares two strings folding only ASCII letters (as a C runtime in its default locale
/// does): negative, 0 or positive.
int StringCompareNoCase(std::u16string_view a, std::u16string_view b);

/// True when the strings are equal folding only ASCII letters.
inline bool StringEqualsNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && StringCompareNoCase(a, b) == 0;
}

/// The string with every unit mapped by CharToUpper.
std::u16string StringToUpper(std::u16string_view s);

/// The string with only the ASCII letters upper-cased.
std::u16string StringAsciiUpper(std::u16string_view s);

/// UTF-8 to UTF-16 for names, messages and literals at the edges (ill-formed bytes become
/// U+FFFD, one per maximal subpart, as the storage decodes them).
std::u16string Utf8ToUtf16(std::string_view s);

/// UTF-16 to UTF-8 at the edges (a lone surrogate becomes U+FFFD: the result is always UTF-8).
std::string Utf16ToUtf8(std::u16string_view s);
/// Utf16ToUtf8 appended to `out`.
void AppendUtf8(std::string& out, std::u16string_view s);

}  // namespace tagvert
