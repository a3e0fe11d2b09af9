// Tagvert: the kernel's language numbers and their language tags.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tagvert {

/// One entry of the language table: the kernel's language number (the high 16 bits of the
/// Direction property) and its language tag in lower case.
struct CLanguageEntry {
  std::uint16_t code;
  const char16_t* tag;
};

/// The language table in its order (codes 1 and 0x0401 both give "en-us").
std::span<const CLanguageEntry> LanguageTable();

/// The language tag of `code` from the table in capitals (ASCII letters only), "UNK-UNK" for a
/// code not in the table.
std::u16string LanguageTagUpper(std::uint16_t code);

/// The code of the first entry whose tag equals `tag` folding ASCII letters; for a bare language
/// subtag ("fr", "DE") the language's default entry, the table's first entry of that language
/// (fr: fr-fr, en: en-us, zh: zh-cn); nullopt for anything else.
std::optional<std::uint16_t> LanguageCodeOfTag(std::u16string_view tag);

/// The primary language subtag of `tag`: what precedes its first '-' or '_'.
std::u16string_view PrimaryLanguageSubtag(std::u16string_view tag);

/// How the Tuv of the target language is found.
enum class LanguageMatch {
  /// A Tuv is the target's when its Lang equals the table's tag in capitals, exactly.
  Exact,
  /// The Lang value that the target's Tuvs carry is chosen per document (CTuvLanguageChoice),
  /// so that documents writing "fr", "fr-fr" or "fr-CA" are translated for fr-fr.
  Language,
};

/// Chooses, from the Lang values of a document's Tuvs, the one that the target language's Tuvs
/// carry. In order of preference: the target tag exactly; the target tag in other letter case;
/// a value with the target's primary subtag (letter case aside) that is not the document's
/// source language, so that a source "en-US" is never taken for an "en-GB" target. Among values
/// of the same preference the first offered wins.
class CTuvLanguageChoice {
 public:
  explicit CTuvLanguageChoice(std::u16string target) : m_target(std::move(target)) {}
  /// The document's SourceLanguage; may come before or after the values.
  void SetSourceLanguage(std::u16string_view source) { m_source = source; }
  /// Offers one Lang value; true when it is the target exactly, which nothing can beat.
  bool Offer(std::u16string_view lang);
  /// The chosen value; nullopt when none matches.
  std::optional<std::u16string> Chosen() const;

 private:
  std::u16string m_target;
  std::u16string m_source;
  bool m_exact = false;
  std::optional<std::u16string> m_otherCase;
  // The first two distinct values of the same language: one of them is not the source.
  std::optional<std::u16string> m_sameLanguage[2];
};

}  // namespace tagvert
