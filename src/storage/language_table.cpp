// Tagvert: the kernel's language numbers and their language tags.
// SPDX-License-Identifier: Apache-2.0
#include "storage/language_table.h"

#include <array>

#include "storage/char_class.h"

namespace tagvert {
namespace {

constexpr std::array<CLanguageEntry, 19> kLanguages{{
    {0x0001, u"en-us"}, {0x0002, u"ru-ru"}, {0x0004, u"de-de"}, {0x0008, u"fr-fr"},
    {0x0010, u"it-it"}, {0x0020, u"es-es"}, {0x0040, u"pt-pt"}, {0x0080, u"uk-ua"},
    {0x0100, u"lt-lt"}, {0x0200, u"zh-cn"}, {0x0400, u"zh-tw"}, {0x0401, u"en-us"},
    {0x0402, u"en-gb"}, {0x0403, u"lv-lv"}, {0x0404, u"pl-pl"}, {0x0405, u"kk-kz"},
    {0x0406, u"ja-jp"}, {0x0407, u"nl-nl"}, {0x0408, u"tr-tr"},
}};

constexpr char16_t kUnknownLanguage[] = u"unk-unk";

}  // namespace

std::span<const CLanguageEntry> LanguageTable() {
  return kLanguages;
}

std::u16string LanguageTagUpper(std::uint16_t code) {
  const char16_t* tag = kUnknownLanguage;
  for (const CLanguageEntry& entry : kLanguages) {
    if (entry.code == code) {
      tag = entry.tag;
      break;
    }
  }
  return StringAsciiUpper(tag);
}

std::optional<std::uint16_t> LanguageCodeOfTag(std::u16string_view tag) {
  for (const CLanguageEntry& entry : kLanguages) {
    if (StringEqualsNoCase(tag, entry.tag)) return entry.code;
  }
  if (tag.empty() || PrimaryLanguageSubtag(tag).size() != tag.size()) return std::nullopt;
  for (const CLanguageEntry& entry : kLanguages) {
    if (StringEqualsNoCase(tag, PrimaryLanguageSubtag(entry.tag))) return entry.code;
  }
  return std::nullopt;
}

std::u16string_view PrimaryLanguageSubtag(std::u16string_view tag) {
  return tag.substr(0, tag.find_first_of(u"-_"));
}

bool CTuvLanguageChoice::Offer(std::u16string_view lang) {
  if (m_exact) return true;
  if (lang == m_target) return m_exact = true;
  if (StringEqualsNoCase(lang, m_target)) {
    if (!m_otherCase) m_otherCase.emplace(lang);
  } else if (!lang.empty() &&
             StringEqualsNoCase(PrimaryLanguageSubtag(lang), PrimaryLanguageSubtag(m_target))) {
    for (std::optional<std::u16string>& kept : m_sameLanguage) {
      if (kept && StringEqualsNoCase(*kept, lang)) break;
      if (!kept) {
        kept.emplace(lang);
        break;
      }
    }
  }
  return false;
}

std::optional<std::u16string> CTuvLanguageChoice::Chosen() const {
  if (m_exact) return m_target;
  if (m_otherCase) return m_otherCase;
  for (const std::optional<std::u16string>& kept : m_sameLanguage) {
    if (kept && !StringEqualsNoCase(*kept, m_source)) return kept;
  }
  return std::nullopt;
}

}  // namespace tagvert
