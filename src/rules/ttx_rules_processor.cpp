// Tagvert: the rules processor for TTX documents and its language table.
// SPDX-License-Identifier: Apache-2.0
#include "rules/ttx_rules_processor.h"

#include <array>

#include "markup/element.h"
#include "markup/elements_stack.h"
#include "rules/transml_rules.h"
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

CTTXRulesProcessor::~CTTXRulesProcessor() = default;

void CTTXRulesProcessor::Process(CElementsStackX& elements, CRules* rules) {
  CRulesProcessor::Process(elements, rules);
}

std::span<const CLanguageEntry> CTTXRulesProcessor::LanguageTable() {
  return kLanguages;
}

std::u16string CTTXRulesProcessor::LanguageCode(std::uint16_t code) {
  const char16_t* tag = kUnknownLanguage;
  for (const CLanguageEntry& entry : kLanguages) {
    if (entry.code == code) {
      tag = entry.tag;
      break;
    }
  }
  return StringAsciiUpper(tag);
}

void CTTXRulesProcessor::Init(CElementsStackX& elements, std::uint32_t direction) {
  for (IElementX* element : elements) {
    elements.CheckStop();
    if (element == nullptr || element->GetNameRef() != u"UserSettings") continue;
    const int target = element->FindAttribute(u"TargetLanguage");
    if (target >= 0) m_targetLanguage = element->GetAttributeValueAt(target);
    const int source = element->FindAttribute(u"SourceLanguage");
    if (source >= 0) m_sourceLanguage = element->GetAttributeValueAt(source);
    break;
  }
  InitDirection(direction);
}

void CTTXRulesProcessor::InitDirection(std::uint32_t direction) {
  m_targetLanguage = LanguageCode(static_cast<std::uint16_t>(direction >> 16));
  m_initialized = true;
}

void CTTXRulesProcessor::ApplyTargetLanguage(CRules& rules) {
  static const std::u16string kTuv = u"Tuv";
  for (const auto& rule : rules.GetNamedRules()) {
    if (!NamesMatch(rule->m_name, kTuv, rule->m_nameCaseSensitive)) continue;
    if (!rule->m_conditions.empty()) rule->m_conditions.front()->m_value = m_targetLanguage;
  }
}

}  // namespace tagvert
