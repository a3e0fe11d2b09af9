// Tagvert: the rules processor for TTX documents.
// SPDX-License-Identifier: Apache-2.0
#include "rules/ttx_rules_processor.h"

#include <vector>

#include "markup/element_table.h"
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

void CTTXRulesProcessor::ChooseDocumentLanguage(const CElementTable& table, const CRules& rules) {
  // The Tuv rules that test an attribute: which names they take and which attribute they read.
  std::vector<const CRule*> tuvRules;
  for (const auto& rule : rules.GetNamedRules()) {
    if (NamesMatch(rule->m_name, u"Tuv", rule->m_nameCaseSensitive) &&
        !rule->m_conditions.empty()) {
      tuvRules.push_back(rule.get());
    }
  }
  // No language of the table (UNK-UNK): no document carries it in any form.
  if (tuvRules.empty() || !LanguageCodeOfTag(m_targetLanguage)) return;
  const CNameTable& names = table.Names();
  // Per name id: 0 not yet known, 1 a Tuv, 2 another name.
  std::vector<std::uint8_t> kinds(names.Size(), 0);
  const std::uint32_t settingsId = names.Find(u"UserSettings");
  CTuvLanguageChoice choice(m_targetLanguage);
  const CAttributeCondition& condition = *tuvRules.front()->m_conditions.front();
  CAttributeLookup lookup(table, {{condition.m_name, condition.m_nameCaseSensitive}});
  // True once the choice is made.
  const bool chosenEarly = VisitRecordWidth(table, [&](auto mayBeWide) {
    constexpr bool kMayBeWide = decltype(mayBeWide)::value;
    bool settingsSeen = false;
    for (const CElementRecord& record : table.Records()) {
      if (!record.IsTag() || record.tagType == TagType::Close ||
          record.tagType == TagType::PairedClose) {
        continue;
      }
      const std::uint32_t nameId = table.NameId<kMayBeWide>(record);
      if (!settingsSeen && nameId == settingsId) {
        settingsSeen = true;
        std::u16string_view source;
        if (table.FindAttribute(record, u"SourceLanguage", source))
          choice.SetSourceLanguage(source);
        continue;
      }
      std::uint8_t& kind = kinds[nameId];
      if (kind == 0) {
        kind = 2;
        for (const CRule* rule : tuvRules) {
          if (NamesMatch(rule->m_name, names.Name(nameId), rule->m_nameCaseSensitive)) kind = 1;
        }
      }
      if (kind != 1) continue;
      table.CheckStop();
      std::u16string_view lang;
      lookup.Find(record, &lang);
      if (choice.Offer(lang)) return true;
    }
    return false;
  });
  if (chosenEarly) return;
  if (auto chosen = choice.Chosen()) m_targetLanguage = std::move(*chosen);
}

}  // namespace tagvert
