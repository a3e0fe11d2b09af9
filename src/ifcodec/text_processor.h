// Tagvert: text-level operations: references, escaping, whitespace modes, no-break spaces.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "markup/element_kinds.h"
#include "storage/data_storage.h"

namespace tagvert {

/// Which units EscapeText always writes as entity references.
enum class EscapeMode : std::uint8_t {
  All = 0,     ///< `<`, `&`, `>`, `"` and `'`
  Markup = 1,  ///< `<` and `&`
  None = 2,    ///< none (only units the output cannot encode become references)
};

/// Works on the text of an element (its SourceText) rather than on its markup.
class CTextProcessor {
 public:
  /// Escapes the units that `mode` names. `storage` is not owned and is asked by EscapeChar
  /// whether the output can encode a unit.
  CTextProcessor(CBaseStorage* storage, EscapeMode mode);
  virtual ~CTextProcessor() = default;

  /// Replaces `text` by the concatenation of EscapeChar of each of its units.
  void EscapeText(std::u16string& text) const;
  /// Resolves every character and entity reference in `text`.
  void DecodeEntities(std::u16string& text) const;
  /// Appends to `out` what DecodeEntities makes of `text`, and with `spaceAfterNbsp` then
  /// SpaceAfterNbsp, in one walk. Returns whether the result holds a U+00A0.
  static bool AppendDecoded(std::u16string_view text, std::u16string& out, bool spaceAfterNbsp);
  /// Applies a whitespace mode.
  static void NormalizeWhitespace(std::u16string& text, Whitespace mode);
  /// The unit is U+00A0.
  static bool IsNbsp(char16_t unit) { return unit == 0x00A0; }
  /// The text contains U+00A0.
  static bool ContainsNbsp(const std::u16string& text);
  /// Inserts a space after every U+00A0.
  static void SpaceAfterNbsp(std::u16string& text);
  /// Writes the ">" of every "]]>" as "&gt;": "]]>" may not stand in XML text.
  static void EscapeCDataEnd(std::u16string& text);
  /// Removes every space next to a U+00A0, on either side.
  void CollapseNbsp(std::u16string& text) const;
  /// The text holds a unit that the way back to markup looks at: `<` or `&` (escaped), `]` (a
  /// "]]>" to break) or U+00A0 (spaces next to it go). Without one, and with an output that
  /// encodes every unit, CollapseNbsp and EscapeText leave the text as it is.
  static bool HoldsMarkupSpecial(const std::u16string& text);

 private:
  /// The form the unit takes in markup output: an entity reference, a numeric reference for a
  /// unit the output cannot encode, or the unit itself.
  std::u16string EscapeChar(char16_t unit) const;
  /// The replacement for one reference (name without "&" and ";").
  static std::u16string ResolveEntity(const std::u16string& name, bool hasSemicolon);

  int m_escapeCount;
  CBaseStorage* m_storage;
  // ASCII units that EscapeText always keeps as they are (bit u of word u / 64): those without
  // an entity in the escape table, except `]`, which escaping rules about "]]>" look at.
  std::uint64_t m_plainAscii[2] = {};
  // One above the largest unit that the escaped entries carry: no unit from here on has one.
  std::uint32_t m_escapeBound = 0;
};

}  // namespace tagvert
