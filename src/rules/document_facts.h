// Tagvert: what a host asks of a TTX document before it is converted: its units and the
// languages it names, read off the element table.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tagvert {

class CElementTable;

/// The units of a TTX document and the languages it names.
struct CDocumentFacts {
  /// TargetLanguage of the first UserSettings element, as written; nothing when that element or
  /// its attribute is missing.
  std::optional<std::u16string> targetLanguage;
  /// SourceLanguage of the same element, as written; empty when missing.
  std::u16string sourceLanguage;
  /// The distinct Lang values of the Tuv elements, in the order of their first appearance
  /// (a Tuv without Lang counts as an empty value).
  std::vector<std::u16string> tuvLanguages;
  std::uint64_t units = 0;         ///< Tu start tags: translation units
  std::uint64_t matchedUnits = 0;  ///< of them, those with a MatchPercent other than "0"
};

/// When a walk over a document's records may stop reading its facts.
struct CFactsSettled {
  /// Whether the facts read so far answer what a caller asks of the document's languages. Asked
  /// only once the first UserSettings has been read (its languages are then final): at that
  /// element, and again each time a Tuv adds a language. Empty: never.
  std::function<bool(const CDocumentFacts&)> languages;
  /// Whether the units are still counted to the end of the document once `languages` answered
  /// true (the languages are not read further): for a caller that wants both.
  bool allUnits = false;
};
using FactsSettled = CFactsSettled;

/// The facts of the document cut into `table` (before classification). Element and attribute
/// names compare without case, as the rules match them; a tag's attributes are read again only
/// for Tu, Tuv and the first UserSettings. When `settled.languages` answers true the walk ends
/// there: the languages of the Tuvs are then those found so far, in their order, and the units
/// count only those before, unless `settled.allUnits` has the rest of the walk count them (and
/// only them) too.
CDocumentFacts ReadDocumentFacts(const CElementTable& table, const FactsSettled& settled = {});

}  // namespace tagvert
