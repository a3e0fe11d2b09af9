// Tagvert: locale-independent character classification and case mapping of UTF-16 units.
// SPDX-License-Identifier: Apache-2.0
#include "storage/char_class.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "storage/char_class_tab.h"
#include "storage/utf8.h"

namespace tagvert {

bool CharIsAlnum(char16_t c) {
  return (detail::kAlnumBits[c >> 6] >> (c & 63)) & 1U;
}

char16_t CharToUpper(char16_t c) {
  if (c < 0x80) return CharAsciiUpper(c);
  const auto* first = std::begin(detail::kUpperPairs);
  const auto* last = std::end(detail::kUpperPairs);
  const auto* it = std::lower_bound(
      first, last, c, [](const std::uint16_t(&pair)[2], char16_t v) { return pair[0] < v; });
  return (it != last && (*it)[0] == c) ? static_cast<char16_t>((*it)[1]) : c;
}

int StringCompareNoCase(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    // Fold to lower case, as the C runtime's case-insensitive compare does.
    char16_t x = a[i] >= u'A' && a[i] <= u'Z' ? static_cast<char16_t>(a[i] + 0x20) : a[i];
    char16_t y = b[i] >= u'A' && b[i] <= u'Z' ? static_cast<char16_t>(b[i] + 0x20) : b[i];
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::u16string StringToUpper(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out)
    c = CharToUpper(c);
  return out;
}

std::u16string StringAsciiUpper(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out)
    c = CharAsciiUpper(c);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.data());
  size_t i = 0;
  while (i < s.size()) {
    if (bytes[i] < 0x80) {
      out.push_back(bytes[i++]);
      continue;
    }
    CUtf8Char c = DecodeUtf8Char(bytes + i, s.size() - i);
    // A character cut off by the end of the text is one U+FFFD.
    if (c.length == 0) c = {static_cast<std::uint32_t>(s.size() - i), kReplacementCharacter};
    if (c.value >= kFirstSupplementary) {
      out.push_back(HighSurrogateOf(c.value));
      out.push_back(LowSurrogateOf(c.value));
    } else {
      out.push_back(static_cast<char16_t>(c.value));
    }
    i += c.length;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  AppendUtf8(out, s);
  return out;
}

void AppendUtf8(std::string& out, std::u16string_view s) {
  out.reserve(out.size() + s.size());
  const char16_t* p = s.data();
  const char16_t* const end = p + s.size();
  while (p != end) {
    // A run of ASCII goes over in one piece, found four units at a time.
    const char16_t* run = p;
    for (std::uint64_t four = 0; end - run >= 4; run += 4) {
      std::memcpy(&four, run, sizeof four);
      if ((four & 0xFF80FF80FF80FF80ULL) != 0) break;
    }
    while (run != end && *run < 0x80)
      ++run;
    if (run != p) {
      const size_t at = out.size();
      out.resize(at + static_cast<size_t>(run - p));
      char* o = out.data() + at;
      for (; p != run; ++p)
        *o++ = static_cast<char>(*p);
      if (p == end) break;
    }
    char32_t cp = *p++;
    if (IsHighSurrogate(static_cast<char16_t>(cp)) && p != end && IsLowSurrogate(*p)) {
      cp = CombineSurrogates(static_cast<char16_t>(cp), *p++);
    } else if (IsSurrogate(static_cast<char16_t>(cp))) {
      cp = kReplacementCharacter;  // a surrogate that does not pair up is no character
    }
    if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
}

}  // namespace tagvert
