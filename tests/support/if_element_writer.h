// Tagvert tests: one element written as IF, the element-list form of what the IF writer writes
// for a record of the element table (with the fields a record does not carry: flag, semantic,
// transliteration, TransMethod and property codes).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "ifcodec/if_parser.h"
#include "markup/element.h"

namespace tagvert::test {

/// Writes U+E80A, the semantic unit (low 16 bits, 0 when negative), the transliterate unit
/// (0 or 1) and U+E000.
inline void WriteIfReserveGroup(CIFParser& writer, IElementX* element) {
  const int semantic = element->GetSemantic();
  writer.WriteChar(kIfReserveGroup);
  writer.WriteChar(static_cast<char16_t>(semantic >= 0 ? semantic & 0xFFFF : 0));
  writer.WriteChar(static_cast<char16_t>(element->GetTransliterate() ? 1 : 0));
  writer.WriteChar(kIfBoundary);
}

/// The IF code of one property code, or 0 for a unit that has none.
constexpr char16_t PropertyCodeToIf(char16_t code) {
  if (code >= 0xE001 && code <= 0xE009)
    return static_cast<char16_t>(kIfPropertyBase + code - 0xE001);
  if (code == 0xE00A) return kIfFlagged;
  if (code == 0xE00B) return kIfPropertyE00B;
  if (code == 0xE00C) return kIfPropertyE00C;
  return 0;
}

/// Writes `element` as IF: a text run, or a tag with its block mark, flag, reserve groups, end
/// mark, TransMethod, property codes and tag group. Units of the code range are written as the
/// writer writes them in texts and source texts.
inline void WriteIfElement(CIFParser& writer, IElementX* element) {
  if (!element->GetIsTag()) {
    writer.WriteText(element->GetSourceTextRef());
    return;
  }
  if (element->GetRuleType() == RuleType::Block) writer.WriteChar(kIfBlock);
  if (element->GetFlagged()) writer.WriteChar(kIfFlagged);
  // A removed element leaves only its block mark and flag behind.
  if (element->GetAlgorithm() == Algorithm::Remove) return;
  const TagType tagType = element->GetTagType();
  if (element->GetAlgorithm() == Algorithm::Reserve && tagType == TagType::PairedClose) {
    writer.WriteChar(kIfEndTag);
    WriteIfReserveGroup(writer, element);
  }
  if (tagType == TagType::PairedClose || tagType == TagType::Close) writer.WriteChar(kIfEndTag);
  const std::u16string& transMethod = element->GetTransMethod();
  if (!transMethod.empty()) {
    writer.WriteChar(kIfTransMethod);
    writer.WriteString(transMethod);
  }
  for (const char16_t code : element->GetPropertyCodes()) {
    const char16_t ifCode = PropertyCodeToIf(code);
    if (ifCode != 0) writer.WriteChar(ifCode);
  }
  writer.WriteChar(kIfTagGroup);
  writer.WriteChar(tagType == TagType::Single ? 0 : static_cast<char16_t>(element->GetPairId()));
  writer.WriteSourceText(element->GetSourceTextRef());
  writer.WriteChar(kIfBoundary);
  if (element->GetAlgorithm() == Algorithm::Reserve && tagType == TagType::PairedOpen) {
    WriteIfReserveGroup(writer, element);
  }
}

}  // namespace tagvert::test
