// Tagvert: the small tag reader of the TransML loader and the decoding of attribute references.
// SPDX-License-Identifier: Apache-2.0
#include "rules/sgml_element_base.h"

#include "ifcodec/entity_tables.h"
#include "rules/transml_rules.h"
#include "storage/char_class.h"
#include "storage/data_storage.h"
#include "storage/number_text.h"

namespace tagvert {
namespace {

bool IsReferenceNameChar(char16_t c) {
  return CharIsAlnum(c) || c == u'#';
}

}  // namespace

std::optional<std::uint32_t> ParseTransmlNumber(std::u16string_view text, bool hexMarker) {
  std::size_t i = 0;
  bool hex = false;
  bool negative = false;
  if (hexMarker && !text.empty() && (text[0] == u'x' || text[0] == u'X')) {
    hex = true;
    i = 1;
  } else {
    while (i < text.size() && CharIsSpace(text[i]))
      ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
      negative = text[i] == u'-';
      ++i;
    }
  }
  const CNumberScan scan = NumberScanDigits(text, i, hex ? 16 : 10, UINT64_MAX);
  if (scan.status == NumberScanStatus::NoDigits) return std::nullopt;
  const auto value = static_cast<std::uint32_t>(scan.value);
  return negative ? 0u - value : value;
}

std::u16string DecodeTransmlReferences(std::u16string_view value) {
  std::u16string out;
  out.reserve(value.size());
  std::size_t i = 0;
  while (i < value.size()) {
    const char16_t c = value[i];
    if (c != u'&') {
      out.push_back(c);
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    while (end < value.size() && IsReferenceNameChar(value[end]))
      ++end;
    const std::u16string_view name = value.substr(i + 1, end - i - 1);
    const bool semicolon = end < value.size() && value[end] == u';';
    const std::size_t next = semicolon ? end + 1 : end;

    std::optional<char16_t> unit;
    if (!name.empty() && name[0] == u'#') {
      if (const auto number = ParseTransmlNumber(name.substr(1), true)) {
        const std::uint32_t v = *number;
        unit = (v >= 128 && v <= 159) ? Windows1252ToUnit(static_cast<std::uint8_t>(v))
                                      : static_cast<char16_t>(v & 0xFFFF);
      }
    } else if (const CEntityEntry* entry = EntityFindByName(kRulesTable, name)) {
      unit = entry->unit;
    }
    if (unit) {
      out.push_back(*unit);
    } else {
      out.append(value.substr(i, next - i));
    }
    i = next;
  }
  return out;
}

namespace {

// Units read since `start`: the count wraps past 2^31 units, the difference does not.
int CountSince(const CBaseStorage& storage, std::int32_t start) {
  return static_cast<int>(static_cast<std::uint32_t>(storage.GetCharCount()) -
                          static_cast<std::uint32_t>(start));
}

}  // namespace

CSgmlElementBase::CSgmlElementBase(CBaseStorage& storage)
    : m_text(u"<"), m_storage(storage), m_startCount(storage.GetCharCount()) {}

char16_t CSgmlElementBase::Next() {
  char16_t c = 0;
  if (!m_storage.GetChar(c)) throw CRulesError(RulesError::EndInTag);
  m_text.push_back(c);
  return c;
}

int CSgmlElementBase::Parse() {
  char16_t c = Next();
  if (c == u'/') {
    m_isEndTag = true;
    c = Next();
  }
  if (c == u'!' || c == u'%') {
    ParseSpecial(c);
    return CountSince(m_storage, m_startCount);
  }
  if (c == u'?') m_isEmpty = true;

  bool slash = false;
  while (!CharIsSpace(c) && c != u'>') {
    if (c == u'/') {
      slash = true;
      c = Next();
      break;
    }
    m_name.push_back(c);
    m_upperName.push_back(CharToUpper(c));
    c = Next();
  }

  while (c != u'>') {
    if (CharIsSpace(c)) {
      c = Next();
      continue;
    }
    if (c == u'/') {
      slash = true;
      c = Next();
      continue;
    }
    if (!CharIsNameChar(c)) {
      c = Next();
      continue;
    }
    CSgmlAttribute attribute;
    while (CharIsNameChar(c)) {
      attribute.m_name.push_back(c);
      attribute.m_upperName.push_back(CharToUpper(c));
      c = Next();
    }
    while (CharIsSpace(c))
      c = Next();
    if (c != u'=') {
      // The character after the name belongs to what follows; it is looked at again above.
      attribute.m_noValue = true;
      m_attributes.push_back(std::move(attribute));
      continue;
    }
    c = Next();
    while (CharIsSpace(c))
      c = Next();
    if (c == u'"' || c == u'\'') {
      const char16_t quote = c;
      for (c = Next(); c != quote; c = Next())
        attribute.m_rawValue.push_back(c);
      c = Next();
    } else {
      while (!CharIsSpace(c) && c != u'>') {
        attribute.m_rawValue.push_back(c);
        c = Next();
      }
    }
    attribute.m_value = DecodeTransmlReferences(attribute.m_rawValue);
    m_attributes.push_back(std::move(attribute));
  }
  m_isSpecial = false;
  if (slash) m_isEmpty = true;
  return CountSince(m_storage, m_startCount);
}

void CSgmlElementBase::ParseSpecial(char16_t first) {
  m_isSpecial = true;
  m_isEmpty = true;
  if (first == u'%') {
    SkipTo(u"%>");
    return;
  }
  // After "<!": a comment, a CDATA section, or a declaration. Characters read while telling
  // them apart are handed on to the declaration scan.
  std::u16string pending;
  char16_t c = Next();
  if (c == u'-') {
    pending.push_back(c);
    c = Next();
    if (c == u'-') {
      SkipTo(u"-->");
      return;
    }
    pending.push_back(c);
    SkipDeclaration(pending, false);
    return;
  }
  if (c == u'[') {
    static constexpr std::u16string_view kCdata = u"[CDATA[";
    pending.push_back(c);
    for (std::size_t k = 1; k < kCdata.size(); ++k) {
      c = Next();
      pending.push_back(c);
      if (c != kCdata[k]) {
        SkipDeclaration(pending, false);
        return;
      }
    }
    SkipTo(u"]]>");
    return;
  }
  pending.push_back(c);
  SkipDeclaration(pending, CharIsAlnum(c));
}

void CSgmlElementBase::SkipTo(std::u16string_view terminator) {
  // Only characters after the opening sequence can form the terminator.
  const std::size_t from = m_text.size();
  while (true) {
    Next();
    if (m_text.size() - from >= terminator.size() && m_text.ends_with(terminator)) return;
  }
}

void CSgmlElementBase::SkipDeclaration(std::u16string_view pending, bool nested) {
  std::size_t index = 0;
  int depth = 0;
  char16_t quote = 0;
  while (true) {
    const char16_t c = index < pending.size() ? pending[index++] : Next();
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == u'"' || c == u'\'') {
      quote = c;
    } else if (nested && c == u'<') {
      ++depth;
    } else if (c == u'>') {
      if (depth == 0) return;
      --depth;
    }
  }
}

int CSgmlElementBase::IndexOfAttribute(std::u16string_view upperName) const {
  for (std::size_t i = 0; i < m_attributes.size(); ++i) {
    if (m_attributes[i].m_upperName == upperName) return static_cast<int>(i);
  }
  return -1;
}

std::u16string CSgmlElementBase::AttributeOr(std::u16string_view upperName,
                                             const std::u16string* fallback) const {
  const int index = IndexOfAttribute(upperName);
  if (index >= 0) return m_attributes[static_cast<std::size_t>(index)].m_value;
  return fallback != nullptr ? *fallback : std::u16string();
}

}  // namespace tagvert
