// Tagvert: the rules processor for TTX documents (CTTXRulesProcessor) and its language table.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "rules/rules_processor.h"

namespace tagvert {

/// One entry of the language table: the kernel's language number (the high 16 bits of the
/// Direction property) and its language tag in lower case.
struct CLanguageEntry {
  std::uint16_t code;
  const char16_t* tag;
};

/// The rules processor of the TTX to IF conversion: takes the target language from Direction,
/// writes its code into the Tuv rules of the rule set, then classifies as CRulesProcessor does.
/// Calling order per conversion: Init, ApplyTargetLanguage, Process.
class CTTXRulesProcessor : public CRulesProcessor {
 public:
  CTTXRulesProcessor() = default;
  ~CTTXRulesProcessor() override;

  /// The classification of CRulesProcessor, unchanged.
  void Process(CElementsStackX& elements, CRules* rules) override;

  /// Reads SourceLanguage (and TargetLanguage) from the first element named exactly
  /// "UserSettings", then sets the target language to LanguageCode(direction >> 16): the
  /// document never chooses the target language. Marks the processor initialised.
  void Init(CElementsStackX& elements, std::uint32_t direction);

  /// Sets the target language to LanguageCode(direction >> 16) and marks the processor
  /// initialised, without looking at a document (Init without its SourceLanguage lookup).
  void InitDirection(std::uint32_t direction);

  /// Sets the value of the first condition of every named rule matching "Tuv" (by NamesMatch with
  /// the rule's NameCaseSensitive) to the target language. Changes the shared rule set, which
  /// keeps the value until the next call; rules without conditions are left alone.
  void ApplyTargetLanguage(CRules& rules);

  /// The language tag of `code` from the table in capitals (ASCII letters only), "UNK-UNK" for a
  /// code not in the table.
  static std::u16string LanguageCode(std::uint16_t code);

  /// The language table in its order (codes 1 and 0x0401 both give "en-us").
  static std::span<const CLanguageEntry> LanguageTable();

  /// The document's SourceLanguage from UserSettings (empty when there is none).
  const std::u16string& GetSourceLanguage() const { return m_sourceLanguage; }
  /// The code written into the Tuv rules.
  const std::u16string& GetTargetLanguage() const { return m_targetLanguage; }
  /// Set by Init.
  bool IsInitialized() const { return m_initialized; }

 private:
  std::u16string m_sourceLanguage;
  std::u16string m_targetLanguage;
  bool m_initialized = false;
};

}  // namespace tagvert
