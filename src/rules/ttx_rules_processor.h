// Tagvert: the rules processor for TTX documents (CTTXRulesProcessor).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

#include "storage/language_table.h"

namespace tagvert {

class CElementTable;
class CRules;

/// The TTX part of the classification: takes the target language from Direction and writes its
/// code into the Tuv rules of the rule set, which the classification (ClassifyRecords) then
/// applies. Calling order per conversion: InitDirection, ApplyTargetLanguage, then classify.
class CTTXRulesProcessor {
 public:
  /// Sets the target language to the language tag of `direction >> 16` from the table, in
  /// capitals (ASCII letters only), "UNK-UNK" for a code not in the table: the document never
  /// chooses the target language.
  void InitDirection(std::uint32_t direction);

  /// Sets the value of the first condition of every named rule matching "Tuv" (by NamesMatch with
  /// the rule's NameCaseSensitive) to the target language. Changes the shared rule set, which
  /// keeps the value until the next call; rules without conditions are left alone.
  void ApplyTargetLanguage(CRules& rules);

  /// Replaces the target language by the Lang value that the document's Tuvs of that language
  /// carry (CTuvLanguageChoice over the Lang of every Tuv start tag of `table`, read as the Tuv
  /// rules of `rules` read it, and the SourceLanguage of the first UserSettings); keeps it when
  /// no value matches. One walk over the records, which ends at the first exact match.
  void ChooseDocumentLanguage(const CElementTable& table, const CRules& rules);

  /// The code written into the Tuv rules.
  const std::u16string& GetTargetLanguage() const { return m_targetLanguage; }

 private:
  std::u16string m_targetLanguage;
};

}  // namespace tagvert
