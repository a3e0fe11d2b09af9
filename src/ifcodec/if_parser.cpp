// Tagvert: the reader and writer of the kernel's internal format, IF (CIFParser).
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/if_parser.h"

#include <bit>
#include <cstring>
#include <iterator>

#include "storage/hresult.h"
#include "storage/unit_scan.h"

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

// The position of the first unit of the code range in `text`, or its size. Eight units are
// tested at a time where the processor allows, four otherwise: a lane of
// (x & 0xF000) ^ 0xE000 is zero exactly for a code.
std::size_t FindCode(std::u16string_view text) {
  if constexpr (std::endian::native == std::endian::little) {
    return UnitsFindIfCode(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }
  const std::size_t size = text.size();
  std::size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    std::uint64_t x;
    std::memcpy(&x, text.data() + i, sizeof x);
    const std::uint64_t y = (x & 0xF000F000F000F000ULL) ^ 0xE000E000E000E000ULL;
    if (((y - 0x0001000100010001ULL) & ~y & 0x8000800080008000ULL) != 0) break;
  }
  for (; i < size; ++i) {
    if (IsCode(text[i])) return i;
  }
  return size;
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
  if ((flags & kIfParserRead) != 0) m_storage->SetInputMode(EncodingMode::Utf16);
  if ((flags & kIfParserWrite) != 0) m_storage->SetOutputMode(EncodingMode::Utf16);
}

void CIFParser::WriteReserveGroup(IElementX* element) {
  const int semantic = element->GetSemantic();
  m_storage->PutChar(kIfReserveGroup);
  m_storage->PutChar(static_cast<char16_t>(semantic >= 0 ? semantic & 0xFFFF : 0));
  m_storage->PutChar(static_cast<char16_t>(element->GetTransliterate() ? 1 : 0));
  m_storage->PutChar(kIfBoundary);
}

void CIFParser::WriteText(std::u16string_view text) {
  // The runs between code-range units are written in bulk.
  for (;;) {
    const std::size_t at = FindCode(text);
    m_storage->PutUnits(text.data(), at);
    if (at == text.size()) return;
    // The kernel sees an ordinary inline code, and the way back writes the reference, which
    // XML readers read as the same character.
    m_storage->PutChar(kIfTagGroup);
    m_storage->PutChar(0);
    m_storage->PutString(CodeReference(text[at]));
    m_storage->PutChar(kIfBoundary);
    text.remove_prefix(at + 1);
  }
}

void CIFParser::WriteSourceText(std::u16string_view source) {
  // The runs between code-range units are written in bulk.
  for (;;) {
    const std::size_t at = FindCode(source);
    m_storage->PutUnits(source.data(), at);
    if (at == source.size()) return;
    m_storage->PutString(CodeReference(source[at]));
    source.remove_prefix(at + 1);
  }
}

void CIFParser::WriteElement(IElementX* element) {
  if (!element->GetIsTag()) {
    WriteText(element->GetSourceTextRef());
    return;
  }
  if (element->GetRuleType() == RuleType::Block) m_storage->PutChar(kIfBlock);
  if (element->GetFlagged()) m_storage->PutChar(kIfFlagged);
  // A removed element leaves only its block mark and flag behind.
  if (element->GetAlgorithm() == Algorithm::Remove) return;
  const TagType tagType = element->GetTagType();
  if (element->GetAlgorithm() == Algorithm::Reserve && tagType == TagType::PairedClose) {
    m_storage->PutChar(kIfEndTag);
    WriteReserveGroup(element);
  }
  if (tagType == TagType::PairedClose || tagType == TagType::Close) m_storage->PutChar(kIfEndTag);
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
  m_storage->PutChar(tagType == TagType::Single ? 0 : static_cast<char16_t>(element->GetPairId()));
  WriteSourceText(element->GetSourceTextRef());
  m_storage->PutChar(kIfBoundary);
  if (element->GetAlgorithm() == Algorithm::Reserve && tagType == TagType::PairedOpen) {
    WriteReserveGroup(element);
  }
}

void CIFParser::WriteNbspText(std::u16string_view text) {
  static constexpr char16_t kNbspTag[] = {kIfTagGroup, 0, 0x00A0, kIfBoundary};
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != 0x00A0) continue;
    WriteText(text.substr(runStart, i - runStart));
    m_storage->PutUnits(kNbspTag, std::size(kNbspTag));
    runStart = i + 1;
  }
  WriteText(text.substr(runStart));
}

void CIFParser::WriteTable(const CElementTable& table) {
  // The codes around a tag's text are gathered and written with one bulk call; PutUnits writes
  // each unit as PutChar would, stop check included.
  char16_t codes[12];
  for (const CElementRecord& record : table.Records()) {
    const std::u16string_view text = table.Text(record);
    if (!record.IsTag()) {
      if ((record.bits & CElementRecord::kRecordNbsp) != 0) {
        WriteNbspText(text);
      } else {
        WriteText(text);
      }
      continue;
    }
    std::size_t n = 0;
    if (record.GetRuleType() == RuleType::Block) codes[n++] = kIfBlock;
    // A removed element leaves only its block mark behind (records are never flagged).
    if (record.algorithm == Algorithm::Remove) {
      m_storage->PutUnits(codes, n);
      continue;
    }
    const TagType tagType = record.tagType;
    const bool reserve = record.algorithm == Algorithm::Reserve;
    // A record has no semantic (written as 0), is not transliterated, and has neither a
    // TransMethod nor property codes.
    if (reserve && tagType == TagType::PairedClose) {
      for (const char16_t c : {kIfEndTag, kIfReserveGroup, char16_t{0}, char16_t{0}, kIfBoundary})
        codes[n++] = c;
    }
    if (tagType == TagType::PairedClose || tagType == TagType::Close) codes[n++] = kIfEndTag;
    codes[n++] = kIfTagGroup;
    codes[n++] = tagType == TagType::Single ? 0 : static_cast<char16_t>(record.pairId);
    m_storage->PutUnits(codes, n);
    WriteSourceText(text);
    n = 0;
    codes[n++] = kIfBoundary;
    if (reserve && tagType == TagType::PairedOpen) {
      for (const char16_t c : {kIfReserveGroup, char16_t{0}, char16_t{0}, kIfBoundary})
        codes[n++] = c;
    }
    m_storage->PutUnits(codes, n);
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
      if (c == kIfEndTag) element->SetTagType(TagType::PairedClose);
      if (c == kIfBlock) element->SetRuleType(RuleType::Block);
      if (c == kIfFlagged) element->SetFlagged(true);
    } else if (IsBoundaryBand(c)) {
      // A boundary here yields an empty tag carrying the flags read before it.
      if (c == kIfFlaggedBoundary) element->SetFlagged(true);
      element->SetIsTag(true);
      return true;
    } else if (IsGroupBand(c)) {
      std::u16string* text = nullptr;
      bool groupOpen = true;
      if (c == kIfTagGroup) {
        char16_t pairId = 0;
        // The pair-id unit is taken as it is, even when it lies in the code range.
        if (m_storage->TakeUtf16Char(pairId)) {
          element->SetPairId(static_cast<int>(pairId));
          if (element->GetPairId() == 0) element->SetTagType(TagType::Single);
          text = &element->GetSourceTextRef();
        } else {
          groupOpen = false;
        }
      }
      if (groupOpen && ReadUntilCode(text, true) == kIfFlaggedBoundary) element->SetFlagged(true);
      element->SetIsTag(true);
      return true;
    } else if (IsCode(c)) {
      ReadUntilCode(nullptr, false);  // skipped text
    } else {
      element->SetIsTag(false);
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
