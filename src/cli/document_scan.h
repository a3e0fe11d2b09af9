// Tagvert: what the command reads from a TTX document before converting it (ScanLanguages).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rules/document_facts.h"
#include "storage/byte_stream.h"

namespace tagvert {
class IElementX;
}  // namespace tagvert

namespace tagvert::cli {

/// The languages a TTX document names and its units.
using CDocumentLanguages = CDocumentFacts;

/// Takes the facts of a document (ReadDocumentFacts) element by element, as the markup reader
/// gives them.
class CLanguageScan {
 public:
  void Element(IElementX& element);
  const CDocumentLanguages& Result() const { return m_result; }

 private:
  CDocumentLanguages m_result;
  bool m_settingsSeen = false;
};

/// Reads the whole document with the markup reader, one element at a time (memory stays flat):
/// the same facts as ReadDocumentFacts gives of the document's element table, for a command
/// that does not convert it. Throws CHResultError when the source fails.
CDocumentLanguages ScanLanguages(const ByteStreamPtr& source);

/// The Direction value for a language tag of the kernel's table compared without case; nothing
/// for a tag the table does not have.
std::optional<std::int32_t> DirectionOfLanguage(const std::u16string& tag);

/// The Lang value that a Tuv must carry to be translated for `direction` (the table's tag in
/// capitals, "UNK-UNK" for a language the table does not have).
std::u16string TuvLanguageOf(std::int32_t direction);

/// The Lang value of the document's Tuvs that are translated for `direction`: the one that
/// CTuvLanguageChoice picks, TuvLanguageOf(direction) when none matches.
std::u16string TuvLanguageIn(const CDocumentLanguages& languages, std::int32_t direction);

/// The command's warning when no Tuv of the document matches the target language: "no Tuv in
/// FR-FR; the document has fr, en". Empty when one does, or when the document has no Tuv.
std::string TuvMismatch(const CDocumentLanguages& languages, std::int32_t direction);

}  // namespace tagvert::cli
