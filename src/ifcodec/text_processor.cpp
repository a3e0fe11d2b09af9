// Tagvert: text-level operations: references, escaping, whitespace modes, no-break spaces.
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/text_processor.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "ifcodec/entity_tables.h"
#include "storage/char_class.h"
#include "storage/input_scan.h"
#include "storage/number_text.h"
#include "storage/unit_scan.h"
#include "storage/utf8.h"

namespace tagvert {

namespace {

constexpr char16_t kAmpersand = u'&';
constexpr char16_t kSemicolon = u';';
constexpr char16_t kNumberSign = u'#';
constexpr char16_t kSpace = u' ';
constexpr char16_t kNbsp = 0x00A0;

// Values of numeric references above this cannot be written in UTF-16.
constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;

// Reads digits from the front of `digits` the way "%x" or "%d" does: the leading run of ASCII
// digits of the base counts and whatever follows is ignored; "%x" also takes an optional "0x"
// or "0X" before the digits. None when not one digit can be read. A value past the largest code
// point comes back just above it, which the caller treats like any value out of range.
std::optional<std::uint32_t> ReadNumber(std::u16string_view digits, unsigned base) {
  CNumberScan scan = NumberScanDigits(digits, 0, base, kMaxCodePoint);
  if (base == 16 && scan.end == 1 && scan.value == 0 && digits.size() > 2 &&
      (digits[1] == u'x' || digits[1] == u'X')) {
    const CNumberScan prefixed = NumberScanDigits(digits, 2, base, kMaxCodePoint);
    if (prefixed.status != NumberScanStatus::NoDigits) scan = prefixed;
  }
  switch (scan.status) {
    case NumberScanStatus::Ok:
      return static_cast<std::uint32_t>(scan.value);
    case NumberScanStatus::TooLarge:
      return kMaxCodePoint + 1;
    case NumberScanStatus::NoDigits:
      break;
  }
  return std::nullopt;
}

// The reference as written: "&", the name and, when it had one, the semicolon.
std::u16string ReferenceAsWritten(const std::u16string& name, bool hasSemicolon) {
  std::u16string result;
  result.reserve(name.size() + 2);
  result.push_back(kAmpersand);
  result += name;
  if (hasSemicolon) result.push_back(kSemicolon);
  return result;
}

// A numeric reference (name beginning with the number sign).
//
// Cases the reading alone leaves open, decided here:
// - no digit can be read ("&#;", "&#x;", "&#xZ;"): the reference stays as written, since a
//   U+0000 in the text helps no one;
// - the value 0 and values above U+10FFFF: likewise left as written;
// - values U+10000..U+10FFFF: the surrogate pair, so that the character survives intact;
// - digits followed by other letters ("&#12ab;"): the leading digits give the value and the
//   rest of the name is dropped with the reference, as a scanf-style read does.
std::u16string ResolveNumeric(const std::u16string& name, bool hasSemicolon) {
  std::u16string_view digits(name);
  unsigned base = 10;
  if (name.size() >= 2 && CharAsciiUpper(name[1]) == u'X') {
    digits.remove_prefix(2);
    base = 16;
  } else {
    digits.remove_prefix(1);
  }
  const std::optional<std::uint32_t> number = ReadNumber(digits, base);
  const std::uint32_t value = number.value_or(0);
  if (value == 0 || value > kMaxCodePoint) return ReferenceAsWritten(name, hasSemicolon);
  if (value >= 128 && value <= 159) {
    return std::u16string(1, Windows1252ToUnit(static_cast<std::uint8_t>(value)));
  }
  if (value <= 0xFFFF) return std::u16string(1, static_cast<char16_t>(value));
  return std::u16string{HighSurrogateOf(value), LowSurrogateOf(value)};
}

bool IsLineBreakOrTab(char16_t c) {
  return c == u'\r' || c == u'\n' || c == u'\t';
}

}  // namespace

CTextProcessor::CTextProcessor(CBaseStorage* storage, EscapeMode mode)
    : m_escapeCount(mode == EscapeMode::All ? 5 : (mode == EscapeMode::Markup ? 2 : 0)),
      m_storage(storage) {
  for (char16_t unit = 0; unit < 0x80; ++unit) {
    if (unit == u']' || EntityFindByUnit(kEscapeTable, m_escapeCount, unit) != nullptr) continue;
    m_plainAscii[unit / 64] |= std::uint64_t{1} << (unit % 64);
  }
  for (int i = 0; i < m_escapeCount; ++i) {
    m_escapeBound = std::max(m_escapeBound, static_cast<std::uint32_t>(kEscapeTable[i].unit) + 1);
  }
}

std::u16string CTextProcessor::EscapeChar(char16_t unit) const {
  if (const CEntityEntry* entry = EntityFindByUnit(kEscapeTable, m_escapeCount, unit)) {
    return ReferenceAsWritten(entry->name, true);
  }
  // Without a storage there is no output to ask, so every unit is taken as encodable.
  if (m_storage != nullptr && !m_storage->CanEncode(unit)) {
    return u"&#" + Utf8ToUtf16(std::to_string(static_cast<unsigned>(unit))) + u";";
  }
  return std::u16string(1, unit);
}

void CTextProcessor::EscapeText(std::u16string& text) const {
  // Stretches of units that stay as they are are copied whole; only the units between them are
  // turned into references. A text made of such units alone is left untouched.
  const bool asciiEncodable = m_storage == nullptr || m_storage->CanEncode(u'A');
  auto isPlain = [&](char16_t unit) {
    if (unit < 0x80 && asciiEncodable && ((m_plainAscii[unit / 64] >> (unit % 64)) & 1) != 0) {
      return true;
    }
    return (unit >= m_escapeBound ||
            EntityFindByUnit(kEscapeTable, m_escapeCount, unit) == nullptr) &&
           (m_storage == nullptr || m_storage->CanEncode(unit));
  };
  const std::size_t size = text.size();
  auto nextEscaped = [&](std::size_t from) {
    while (from < size && isPlain(text[from]))
      ++from;
    return from;
  };
  std::size_t at = nextEscaped(0);
  if (at == size) return;
  std::u16string escaped;
  escaped.reserve(size + size / 8);
  escaped.assign(text, 0, at);
  while (at < size) {
    escaped += EscapeChar(text[at]);
    const std::size_t next = nextEscaped(at + 1);
    escaped.append(text, at + 1, next - at - 1);
    at = next;
  }
  text.swap(escaped);
}

void CTextProcessor::DecodeEntities(std::u16string& text) const {
  if (text.find(kAmpersand) == std::u16string::npos) return;
  std::u16string decoded;
  decoded.reserve(text.size());
  AppendDecoded(text, decoded, false);
  text.swap(decoded);
}

namespace {

// How many units after the '&' of a reference to one of the markup's own characters ("amp;",
// "lt;", "gt;", "quot;", "apos;") `rest` starts with, its character in `unit`; 0 for any other.
// Their names are whole (the ';' after them ends a name) and the escape table gives each the
// same character.
std::size_t BasicReference(std::u16string_view rest, char16_t& unit) {
  struct CBasic {
    std::u16string_view units;
    char16_t unit;
  };
  static constexpr CBasic kBasic[] = {
      {u"amp;", u'&'}, {u"lt;", u'<'}, {u"gt;", u'>'}, {u"quot;", u'"'}, {u"apos;", u'\''}};
  if (rest.empty()) return 0;
  for (const CBasic& basic : kBasic) {
    if (rest[0] == basic.units[0] && rest.starts_with(basic.units)) {
      unit = basic.unit;
      return basic.units.size();
    }
  }
  return 0;
}

}  // namespace

bool CTextProcessor::AppendDecoded(std::u16string_view text, std::u16string& out,
                                   bool spaceAfterNbsp) {
  // One walk: a replacement is appended to the output and the walk goes on in the input after
  // the reference, so a produced unit is never read again. The runs between references and
  // no-break spaces are copied whole.
  bool nbsp = false;
  const auto put = [&](char16_t unit) {
    out.push_back(unit);
    if (unit == kNbsp) {
      nbsp = true;
      if (spaceAfterNbsp) out.push_back(kSpace);
    }
  };
  std::u16string name;
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    const auto run = static_cast<std::size_t>(
        FindUnitOf(text.data() + i, text.data() + size, kAmpersand, kNbsp) - text.data());
    out.append(text.data() + i, run - i);
    i = run;
    if (i == size) break;
    if (text[i] == kNbsp) {
      put(kNbsp);
      ++i;
      continue;
    }
    // Nearly every reference in a document is one of the markup's own characters: taken here
    // without the copy of its name and the look-up, which give the same unit.
    char16_t basic = 0;
    if (const std::size_t taken = BasicReference(text.substr(i + 1), basic); taken != 0) {
      out.push_back(basic);
      i += 1 + taken;
      continue;
    }
    std::size_t end = i + 1;
    if (end < size && text[end] == kNumberSign) ++end;
    while (end < size && CharIsAlnum(text[end]))
      ++end;
    name.assign(text.data() + i + 1, end - i - 1);
    const bool hasSemicolon = end < size && text[end] == kSemicolon;
    for (const char16_t unit : ResolveEntity(name, hasSemicolon))
      put(unit);
    i = hasSemicolon ? end + 1 : end;
  }
  return nbsp;
}

std::u16string CTextProcessor::ResolveEntity(const std::u16string& name, bool hasSemicolon) {
  if (name.empty()) return hasSemicolon ? u"&;" : u"&";
  if (name[0] == kNumberSign) return ResolveNumeric(name, hasSemicolon);
  if (const CEntityEntry* entry = EntityFindByName(kEscapeTable, name)) {
    return std::u16string(1, entry->unit);
  }
  return ReferenceAsWritten(name, hasSemicolon);
}

void CTextProcessor::NormalizeWhitespace(std::u16string& text, Whitespace mode) {
  if (mode != Whitespace::Remove && mode != Whitespace::Normalize &&
      mode != Whitespace::NormalizeSignificant) {
    return;
  }
  bool allSpace = true;
  for (const char16_t unit : text) {
    if (!CharIsSpace(unit)) {
      allSpace = false;
      break;
    }
  }
  if (allSpace) {
    if (mode != Whitespace::NormalizeSignificant) text.clear();
    return;
  }
  if (mode == Whitespace::Remove) return;
  // Only line breaks and tabs start a change: a text without them stays as it is.
  if (std::find_if(text.begin(), text.end(), IsLineBreakOrTab) == text.end()) return;

  std::u16string normalized;
  normalized.reserve(text.size());
  bool pending = false;
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    const char16_t unit = text[i];
    if (IsLineBreakOrTab(unit)) {
      pending = true;
      ++i;
      continue;
    }
    if (!pending) {
      normalized.push_back(unit);
      ++i;
      continue;
    }
    // A line break or tab together with the spaces after it becomes one space. A CR ends the
    // skipping and is kept like any other unit.
    normalized.push_back(kSpace);
    pending = false;
    while (i < size && (text[i] == kSpace || text[i] == u'\n' || text[i] == u'\t'))
      ++i;
    if (i < size) normalized.push_back(text[i++]);
  }
  if (pending) normalized.push_back(kSpace);
  text.swap(normalized);
}

bool CTextProcessor::HoldsMarkupSpecial(const std::u16string& text) {
  return UnitsFindMarkupSpecial(text.data(), text.size()) != text.size();
}

bool CTextProcessor::ContainsNbsp(const std::u16string& text) {
  return text.find(kNbsp) != std::u16string::npos;
}

void CTextProcessor::SpaceAfterNbsp(std::u16string& text) {
  if (!ContainsNbsp(text)) return;
  std::u16string spaced;
  spaced.reserve(text.size() + 8);
  for (const char16_t unit : text) {
    spaced.push_back(unit);
    if (unit == kNbsp) spaced.push_back(kSpace);
  }
  text.swap(spaced);
}

void CTextProcessor::CollapseNbsp(std::u16string& text) const {
  if (!ContainsNbsp(text)) return;
  // A run of spaces goes as a whole when a no-break space stands right before or right after
  // it: the same result as removing the spaces after each no-break space and then those before
  // each, in one compacting walk.
  const std::size_t size = text.size();
  std::size_t write = 0;
  char16_t previous = 0;
  std::size_t i = 0;
  while (i < size) {
    if (text[i] != kSpace) {
      previous = text[i];
      text[write++] = text[i++];
      continue;
    }
    std::size_t runEnd = i;
    while (runEnd < size && text[runEnd] == kSpace)
      ++runEnd;
    const bool nextToNbsp = previous == kNbsp || (runEnd < size && text[runEnd] == kNbsp);
    if (!nextToNbsp) {
      for (; i < runEnd; ++i)
        text[write++] = kSpace;
    }
    i = runEnd;
    previous = kSpace;
  }
  text.resize(write);
}

// In one walk, copying only when the text holds one.
void CTextProcessor::EscapeCDataEnd(std::u16string& text) {
  constexpr std::u16string_view kCDataEnd = u"]]>";
  std::size_t at = text.find(kCDataEnd);
  if (at == std::u16string::npos) return;
  std::u16string escaped;
  escaped.reserve(text.size() + 8);
  std::size_t from = 0;
  for (; at != std::u16string::npos; at = text.find(kCDataEnd, from)) {
    escaped.append(text, from, at + 2 - from);
    escaped += u"&gt;";
    from = at + 3;
  }
  escaped.append(text, from, std::u16string::npos);
  text.swap(escaped);
}

}  // namespace tagvert
