// Tagvert: the reader and writer of the kernel's internal format, IF (CIFParser).
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/if_parser.h"

#include "markup/elements_stack.h"
#include "storage/hresult.h"

namespace tagvert {

namespace {

constexpr bool IsCode(char16_t c) {
  return c >= 0xE000 && c <= 0xEFFF;
}
constexpr bool IsBoundaryBand(char16_t c) {
  return c >= 0xE000 && c <= 0xE3FF;
}
constexpr bool IsFlagBand(char16_t c) {
  return c >= 0xE400 && c <= 0xE7FF;
}
constexpr bool IsGroupBand(char16_t c) {
  return c >= 0xE800 && c <= 0xEBFF;
}

// The numeric reference "&#xHHHH;" (four upper-case hexadecimal digits) that stands for a unit
// of the code range found in the document.
std::u16string CodeReference(char16_t unit) {
  constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
  std::u16string reference = u"&#x";
  for (int shift = 12; shift >= 0; shift -= 4)
    reference.push_back(kHexDigits[(unit >> shift) & 0xF]);
  reference.push_back(u';');
  return reference;
}

// The IF code of one property code, or 0 for a unit that has none.
constexpr char16_t PropertyCodeToIf(char16_t code) {
  if (code >= 0xE001 && code <= 0xE009)
    return static_cast<char16_t>(kIfPropertyBase + code - 0xE001);
  if (code == 0xE00A) return kIfFlagged;
  if (code == 0xE00B) return kIfPropertyE00B;
  if (code == 0xE00C) return kIfPropertyE00C;
  return 0;
}

}  // namespace

CIFParser::CIFParser(CDataStorage* storage, int flags) : COrvelParser(storage) {
  if (m_storage == nullptr) ThrowHResult(kEPointer);
  if ((flags & kIfParserRead) != 0) m_storage->SetInputMode(kModeUtf16);
  if ((flags & kIfParserWrite) != 0) m_storage->SetOutputMode(kModeUtf16);
}

void CIFParser::WriteString(const std::u16string& s) {
  m_storage->PutString(s);
}

void CIFParser::WriteChar(char16_t c) {
  m_storage->PutChar(c);
}

bool CIFParser::IsEnd() {
  return m_storage->IsEOF();
}

void CIFParser::WriteReserveGroup(IElementX* element) {
  const int semantic = element->GetSemantic();
  m_storage->PutChar(kIfReserveGroup);
  m_storage->PutChar(static_cast<char16_t>(semantic >= 0 ? semantic & 0xFFFF : 0));
  m_storage->PutChar(static_cast<char16_t>(element->GetTransliterate() ? 1 : 0));
  m_storage->PutChar(kIfBoundary);
}

void CIFParser::WriteText(const std::u16string& text) {
  // The runs between code-range units are written in bulk.
  const std::size_t size = text.size();
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t unit = text[i];
    if (!IsCode(unit)) continue;
    m_storage->PutUnits(text.data() + runStart, i - runStart);
    runStart = i + 1;
    // The kernel sees an ordinary inline code, and the way back writes the reference, which
    // XML readers read as the same character.
    m_storage->PutChar(kIfTagGroup);
    m_storage->PutChar(0);
    m_storage->PutString(CodeReference(unit));
    m_storage->PutChar(kIfBoundary);
  }
  m_storage->PutUnits(text.data() + runStart, size - runStart);
}

void CIFParser::WriteSourceText(const std::u16string& source) {
  // The runs between code-range units are written in bulk.
  const std::size_t size = source.size();
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (!IsCode(source[i])) continue;
    m_storage->PutUnits(source.data() + runStart, i - runStart);
    m_storage->PutString(CodeReference(source[i]));
    runStart = i + 1;
  }
  m_storage->PutUnits(source.data() + runStart, size - runStart);
}

void CIFParser::WriteElement(IElementX* element) {
  if (CElementsStackX* subElements = element->GetSubElements()) {
    for (IElementX* sub : *subElements) {
      if (sub != nullptr) WriteElement(sub);
    }
  }
  if (element->GetIsTag() == 0) {
    WriteText(element->GetSourceTextRef());
    return;
  }
  if (element->GetRuleType() == kRuleBlock) m_storage->PutChar(kIfBlock);
  if (element->GetFlagged()) m_storage->PutChar(kIfFlagged);
  // A removed element leaves only its block mark and flag behind.
  if (element->GetAlgorithm() == kAlgorithmRemove) return;
  const int tagType = element->GetTagType();
  if (element->GetAlgorithm() == kAlgorithmReserve && tagType == kTagPairedClose) {
    m_storage->PutChar(kIfEndTag);
    WriteReserveGroup(element);
  }
  if (tagType == kTagPairedClose || tagType == kTagClose) m_storage->PutChar(kIfEndTag);
  const std::u16string& transMethod = element->GetTransMethod();
  if (!transMethod.empty()) {
    m_storage->PutChar(kIfTransMethod);
    m_storage->PutString(transMethod);
  }
  for (const char16_t code : element->GetPropertyCodes()) {
    const char16_t ifCode = PropertyCodeToIf(code);
    if (ifCode != 0) m_storage->PutChar(ifCode);
  }
  m_storage->PutChar(kIfTagGroup);
  m_storage->PutChar(tagType == kTagSingle ? 0 : static_cast<char16_t>(element->GetPairId()));
  WriteSourceText(element->GetSourceTextRef());
  m_storage->PutChar(kIfBoundary);
  if (element->GetAlgorithm() == kAlgorithmReserve && tagType == kTagPairedOpen) {
    WriteReserveGroup(element);
  }
}

char16_t CIFParser::ReadUntilCode(std::u16string* text, bool consumeBoundary) {
  // The run up to the code is read in bulk; the code is then read again from the push-back.
  m_storage->ReadRunBeforeCode(text);
  char16_t c = 0;
  if (!m_storage->TakeUtf16Char(c)) return 0;
  if (!(consumeBoundary && c == kIfBoundary)) m_storage->UngetChar();
  return c;
}

bool CIFParser::ReadElement(IElementX* element) {
  if (m_storage->IsEOF()) return false;
  for (;;) {
    char16_t c = 0;
    if (!m_storage->TakeUtf16Char(c)) return false;
    if (IsFlagBand(c)) {
      if (c == kIfEndTag) element->SetTagType(kTagPairedClose);
      if (c == kIfBlock) element->SetRuleType(kRuleBlock);
      if (c == kIfFlagged) element->SetFlagged(true);
    } else if (IsBoundaryBand(c)) {
      // A boundary here yields an empty tag carrying the flags read before it.
      if (c == kIfFlaggedBoundary) element->SetFlagged(true);
      element->SetIsTag(1);
      return true;
    } else if (IsGroupBand(c)) {
      std::u16string* text = nullptr;
      bool groupOpen = true;
      if (c == kIfTagGroup) {
        char16_t pairId = 0;
        // The pair-id unit is taken as it is, even when it lies in the code range.
        if (m_storage->TakeUtf16Char(pairId)) {
          element->SetPairId(static_cast<int>(pairId));
          if (element->GetPairId() == 0) element->SetTagType(kTagSingle);
          text = &element->GetSourceTextRef();
        } else {
          groupOpen = false;
        }
      }
      if (groupOpen && ReadUntilCode(text, true) == kIfFlaggedBoundary) element->SetFlagged(true);
      element->SetIsTag(1);
      return true;
    } else if (IsCode(c)) {
      ReadUntilCode(nullptr, false);  // skipped text
    } else {
      element->SetIsTag(0);
      std::u16string& text = element->GetSourceTextRef();
      text.push_back(c);
      ReadUntilCode(&text, false);
      return true;
    }
    // After a flag or skipped text the same element goes on, unless the input has ended.
    if (m_storage->IsEOF()) return false;
  }
}

}  // namespace tagvert
