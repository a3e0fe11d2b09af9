// Tagvert: UTF-16 units as XML text (UTF-8) and the plain text of TTX markup, for the XLIFF
// bridge.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "storage/input_scan.h"

namespace tagvert::xliff {

/// Whether the unit at `i` of `s` is a surrogate without its partner (XML cannot carry it).
inline bool IsLoneSurrogate(std::u16string_view s, std::size_t i) {
  const char16_t u = s[i];
  if (u >= 0xD800 && u <= 0xDBFF)
    return i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF;
  if (u >= 0xDC00 && u <= 0xDFFF) return i == 0 || s[i - 1] < 0xD800 || s[i - 1] > 0xDBFF;
  return false;
}

/// Whether XML 1.0 can carry the unit at `i` of `s` at all (as itself or a reference).
inline bool XmlCarries(std::u16string_view s, std::size_t i) {
  const char16_t u = s[i];
  if (u < 0x20) return u == 0x09 || u == 0x0A || u == 0x0D;
  if (u >= 0xFFFE) return false;
  return !IsLoneSurrogate(s, i);
}

template <typename String>
void AppendUtf8(String& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

/// The end of the run of units from `i` on that XML text carries as they are, in ASCII: from
/// U+0020 to U+007E but for & < > and the double quote.
inline std::size_t PlainAsciiEnd(std::u16string_view s, std::size_t i) {
  auto plain = [](char16_t u) {
    return u >= 0x20 && u < 0x7F && u != u'&' && u != u'<' && u != u'>' && u != u'"';
  };
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  // Eight units a step: a unit is in range when it less 0x20 is below 0x5F unsigned (compared
  // signed with the sign bit flipped).
  const __m128i bias = _mm_set1_epi16(static_cast<short>(0x8000 - 0x20));
  const __m128i limit = _mm_set1_epi16(static_cast<short>(0x8000 + 0x5F - 0x10000));
  const __m128i amp = _mm_set1_epi16(u'&'), lt = _mm_set1_epi16(u'<');
  const __m128i gt = _mm_set1_epi16(u'>'), quot = _mm_set1_epi16(u'"');
  // Two bits set for each of the eight units at `at` that is plain.
  const auto plainMask = [&](std::size_t at) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + at));
    const __m128i inRange = _mm_cmplt_epi16(_mm_add_epi16(x, bias), limit);
    const __m128i special =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(x, amp), _mm_cmpeq_epi16(x, lt)),
                     _mm_or_si128(_mm_cmpeq_epi16(x, gt), _mm_cmpeq_epi16(x, quot)));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(special, inRange)));
  };
  for (; s.size() - i >= 8; i += 8) {
    const unsigned mask = plainMask(i);
    if (mask != 0xFFFF) return i + static_cast<std::size_t>(std::countr_one(mask)) / 2;
  }
  if (i < s.size() && s.size() >= 8) {
    // The last units in one look at the last eight, those before `i` counted as plain.
    const std::size_t last = s.size() - 8;
    const unsigned mask = plainMask(last) | ((1u << (2 * (i - last))) - 1);
    return last + static_cast<std::size_t>(std::countr_one(mask)) / 2;
  }
#endif
  while (i < s.size() && plain(s[i]))
    ++i;
  return i;
}

/// The end of the run of units from `i` on that XML carries whatever their neighbours: from
/// U+0020 to U+D7FF. Units outside it may still be carried (XmlCarries decides).
inline std::size_t CarriedEnd(std::u16string_view s, std::size_t i) {
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  // Eight units a step: a unit is in range when it less 0x20 is below 0xD7E0 unsigned
  // (compared signed with the sign bit flipped).
  const __m128i bias = _mm_set1_epi16(static_cast<short>(0x8000 - 0x20));
  const __m128i limit = _mm_set1_epi16(static_cast<short>(0xD7E0 - 0x8000));
  for (; s.size() - i >= 8; i += 8) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
    const auto mask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi16(_mm_add_epi16(x, bias), limit)));
    if (mask != 0xFFFF) return i + static_cast<std::size_t>(std::countr_one(mask)) / 2;
  }
#endif
  while (i < s.size() && s[i] >= 0x20 && s[i] < 0xD800)
    ++i;
  return i;
}

/// Writes the `n` units at `s`, every one below U+0080, as their bytes at `o`.
inline void NarrowAscii(const char16_t* s, std::size_t n, char* o) {
  std::size_t k = 0;
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  // Sixteen units packed into sixteen bytes a step (ASCII units pack to themselves).
  const auto sixteen = [&](std::size_t at) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + at), _mm_packus_epi16(a, b));
  };
  const auto eight = [&](std::size_t at) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o + at), _mm_packus_epi16(a, a));
  };
  for (; n - k >= 16; k += 16)
    sixteen(k);
  // The last units as the last sixteen (or eight) again, over what is written already.
  if (k < n && n >= 16) return sixteen(n - 16);
  if (n - k >= 8) {
    eight(k);
    return eight(n - 8);
  }
#endif
  for (; k < n; ++k)
    o[k] = static_cast<char>(s[k]);
}

/// Appends the `n` units at `s`, every one below U+0080, as their bytes.
template <typename String>
void AppendAscii(String& out, const char16_t* s, std::size_t n) {
  const std::size_t at = out.size();
  out.resize(at + n);
  NarrowAscii(s, n, out.data() + at);
}

/// Writes `c` in UTF-8 at `o`; returns the end of its bytes.
inline char* PutUtf8(char* o, char32_t c) {
  if (c < 0x80) {
    *o++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *o++ = static_cast<char>(0xC0 | (c >> 6));
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *o++ = static_cast<char>(0xE0 | (c >> 12));
    *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *o++ = static_cast<char>(0xF0 | (c >> 18));
    *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return o;
}

/// Appends `s` as XML character data (or, with `attribute`, an attribute value in double
/// quotes) in UTF-8. A unit XML cannot carry goes to `other(out, unit)`.
template <typename String, typename Other>
void AppendXml(String& out, std::u16string_view s, bool attribute, Other&& other) {
  using namespace std::string_view_literals;
  // The XML is gathered some hundred bytes at a time, straight in the room at the end of `out`
  // when it gives its room (Room and Commit), else here and appended; a run of ASCII that does
  // not fit goes straight into `out`. Before each unit there is room for the most it gives (six
  // bytes, "&quot;").
  constexpr std::size_t kUnitRoom = 8;
  constexpr std::size_t kBuffer = 512;
  constexpr bool kRoom = requires(String & o, std::size_t n) {
    o.Room(n);
    o.Commit(n);
  };
  char stack[kRoom ? 1 : kBuffer];
  char* buffer = stack;
  std::size_t used = 0;
  // After anything else appended to `out`.
  const auto open = [&] {
    if constexpr (kRoom) buffer = out.Room(kBuffer);
  };
  const auto flush = [&] {
    if constexpr (kRoom) {
      out.Commit(used);
    } else {
      out.append(buffer, used);
    }
    used = 0;
  };
  open();
  const auto put = [&](std::string_view bytes) {
    std::memcpy(buffer + used, bytes.data(), bytes.size());
    used += bytes.size();
  };
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (kBuffer - used < kUnitRoom) {
      flush();
      open();
    }
    // A run of ASCII that needs no reference, copied as a whole.
    const std::size_t run = PlainAsciiEnd(s, i);
    if (run > i) {
      const std::size_t n = run - i;
      if (n <= kBuffer - kUnitRoom - used) {
        NarrowAscii(s.data() + i, n, buffer + used);
        used += n;
      } else {
        flush();
        AppendAscii(out, s.data() + i, n);
        open();
      }
      i = run;
      if (i == s.size()) break;
    }
    const char16_t u = s[i];
    if (u >= 0x80 && u < 0xD800) {
      // A run of units from U+0080 to U+D7FF (letters of most scripts), which XML carries as
      // they are: two or three bytes each, without the tests the others need.
      do {
        if (kBuffer - used < kUnitRoom) {
          flush();
          open();
        }
        const char16_t c = s[i];
        char* const o = buffer + used;
        if (c < 0x800) {
          o[0] = static_cast<char>(0xC0 | (c >> 6));
          o[1] = static_cast<char>(0x80 | (c & 0x3F));
          used += 2;
        } else {
          o[0] = static_cast<char>(0xE0 | (c >> 12));
          o[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
          o[2] = static_cast<char>(0x80 | (c & 0x3F));
          used += 3;
        }
        ++i;
      } while (i < s.size() && s[i] >= 0x80 && s[i] < 0xD800);
      // The loop's ++i steps past the unit that ended the run: it is read again.
      --i;
      continue;
    }
    if (u >= 0x20 && u < 0x80) {
      switch (u) {
        case u'&':
          put("&amp;"sv);
          break;
        case u'<':
          put("&lt;"sv);
          break;
        case u'>':
          put("&gt;"sv);
          break;
        case u'"':
          put(attribute ? "&quot;"sv : "\""sv);
          break;
        default:
          buffer[used++] = static_cast<char>(u);
      }
      continue;
    }
    if (!XmlCarries(s, i)) {
      flush();
      other(out, u);
      open();
      continue;
    }
    if (u == 0x0D || (attribute && (u == 0x09 || u == 0x0A))) {
      // A reference in decimal: "&#9;", "&#10;" or "&#13;".
      put("&#"sv);
      if (u >= 10) buffer[used++] = static_cast<char>('0' + u / 10);
      buffer[used++] = static_cast<char>('0' + u % 10);
      buffer[used++] = ';';
    } else if (u >= 0xD800 && u <= 0xDBFF) {
      const char32_t c =
          0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      used = static_cast<std::size_t>(PutUtf8(buffer + used, c) - buffer);
      ++i;
    } else {
      used = static_cast<std::size_t>(PutUtf8(buffer + used, u) - buffer);
    }
  }
  flush();
}

/// Appends what AppendXml appends for the text a reader sees in `markup` (PlainText) when that
/// is `markup` itself: when `markup` is ASCII that XML carries as it is (no & < > or double
/// quote) but for the references &lt; &gt; and &amp;, which AppendXml writes again as they are.
/// False, with nothing appended, for any other markup.
template <typename String>
bool AppendPlainMarkup(String& out, std::u16string_view markup) {
  for (std::size_t i = PlainAsciiEnd(markup, 0); i < markup.size(); i = PlainAsciiEnd(markup, i)) {
    const std::u16string_view rest = markup.substr(i);
    if (rest.size() >= 4 && rest[0] == u'&' && (rest[1] == u'l' || rest[1] == u'g') &&
        rest[2] == u't' && rest[3] == u';') {
      i += 4;
    } else if (rest.size() >= 5 && rest[0] == u'&' && rest[1] == u'a' && rest[2] == u'm' &&
               rest[3] == u'p' && rest[4] == u';') {
      i += 5;
    } else {
      return false;
    }
  }
  AppendAscii(out, markup.data(), markup.size());
  return true;
}

/// Four hexadecimal digits of `u`, upper case.
inline std::string Hex4(char16_t u) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s(4, '0');
  for (int k = 3; k >= 0; --k) {
    s[static_cast<std::size_t>(k)] = kDigits[u & 0xF];
    u = static_cast<char16_t>(u >> 4);
  }
  return s;
}

/// UTF-8 (as expat gives it) to UTF-16 units, appended.
inline void AppendUtf16(std::u16string& out, std::string_view s) {
  const std::size_t at = out.size();
  // A byte gives at most one unit (four bytes two).
  out.resize(at + s.size());
  char16_t* o = out.data() + at;
  const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
  const auto* const end = p + s.size();
  while (p < end) {
    // ASCII sixteen bytes at a time, then byte by byte.
    const std::size_t ascii = WidenAsciiBlocks(p, static_cast<std::size_t>(end - p), o);
    p += ascii;
    o += ascii;
    while (p < end && *p < 0x80)
      *o++ = *p++;
    if (p == end) break;
    const std::uint8_t b = *p;
    char32_t c;
    std::size_t n;
    if (b < 0xE0) {
      c = b & 0x1F;
      n = 2;
    } else if (b < 0xF0) {
      c = b & 0x0F;
      n = 3;
    } else {
      c = b & 0x07;
      n = 4;
    }
    n = std::min(n, static_cast<std::size_t>(end - p));
    for (std::size_t k = 1; k < n; ++k)
      c = (c << 6) | (p[k] & 0x3F);
    p += n;
    if (c >= 0x10000) {
      c -= 0x10000;
      *o++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *o++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      *o++ = static_cast<char16_t>(c);
    }
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
}

/// The text a reader sees in TTX markup: tags left out (a `ut` placeholder with its content),
/// the five predefined entities and numeric references resolved.
std::u16string PlainText(std::u16string_view markup);
/// The same into `text` (its room kept).
void PlainText(std::u16string_view markup, std::u16string& text);

}  // namespace tagvert::xliff
