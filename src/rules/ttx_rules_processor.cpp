// Tagvert: the rules processor for TTX documents.
// SPDX-License-Identifier: Apache-2.0
#include "rules/ttx_rules_processor.h"

#include "rules/transml_rules.h"

namespace tagvert {

void CTTXRulesProcessor::InitDirection(std::uint32_t direction) {
  m_targetLanguage = LanguageTagUpper(static_cast<std::uint16_t>(direction >> 16));
}

void CTTXRulesProcessor::ApplyTargetLanguage(CRules& rules) {
  for (const auto& rule : rules.GetNamedRules()) {
    if (!NamesMatch(rule->m_name, u"Tuv", rule->m_nameCaseSensitive)) continue;
    if (!rule->m_conditions.empty()) rule->m_conditions.front()->m_value = m_targetLanguage;
  }
}

}  // namespace tagvert
