// Tagvert: the rules processor for TTX documents.
// SPDX-License-Identifier: Apache-2.0
#include "rules/ttx_rules_processor.h"

#include <array>

#include "markup/element.h"
#include "markup/elements_stack.h"
#include "rules/transml_rules.h"
#include "storage/char_class.h"

namespace tagvert {

CTTXRulesProcessor::~CTTXRulesProcessor() = default;

void CTTXRulesProcessor::Process(CElementsStackX& elements, CRules* rules) {
  CRulesProcessor::Process(elements, rules);
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
