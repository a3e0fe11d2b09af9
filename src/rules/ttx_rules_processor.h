// Tagvert: the rules processor for TTX documents (CTTXRulesProcessor).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

#include "rules/rules_processor.h"
#include "storage/language_table.h"

namespace tagvert {

/// The rules processor of the TTX to IF conversion: takes the target language from Direction,
/// writes its code into the Tuv rules of the rule set, then classifies as CRulesProcessor does.
/// Calling order per conversion: InitDirection, ApplyTargetLanguage, then the classification.
class CTTXRulesProcessor : public CRulesProcessor {
 public:
  CTTXRulesProcessor() = default;
  ~CTTXRulesProcessor() override;

  /// Sets the target language to the language tag of `direction >> 16` from the table, in
  /// capitals (ASCII letters only), "UNK-UNK" for a code not in the table: the document never
  /// chooses the target language.
  void InitDirection(std::uint32_t direction);

  /// Sets the value of the first condition of every named rule matching "Tuv" (by NamesMatch with
  /// the rule's NameCaseSensitive) to the target language. Changes the shared rule set, which
  /// keeps the value until the next call; rules without conditions are left alone.
  void ApplyTargetLanguage(CRules& rules);

  /// The code written into the Tuv rules.
  const std::u16string& GetTargetLanguage() const { return m_targetLanguage; }

 private:
  std::u16string m_targetLanguage;
};

}  // namespace tagvert
