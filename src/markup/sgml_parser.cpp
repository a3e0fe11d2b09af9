// Tagvert: the tolerant SGML/XML reader and the verbatim writer (COrvelSgmlParser).
// SPDX-License-Identifier: Apache-2.0
#include "markup/sgml_parser.h"

#include "storage/char_class.h"
#include "storage/hresult.h"

namespace tagvert {

// Called for every unit of markup: kept inline, with the storage's inline read.
inline char16_t COrvelSgmlParser::Next() {
  char16_t c = 0;
  if (!m_storage->TakeChar(c)) detail::ThrowEndOfMarkup();
  m_text.push_back(c);
  return c;
}

void COrvelSgmlParser::Unread() {
  m_text.pop_back();
  m_storage->UngetChar();
}

char16_t COrvelSgmlParser::FindQuoteOrLess(char16_t quote) {
  for (;;) {
    const char16_t c = Next();
    if (c == quote || c == u'<') return c;
  }
}

COrvelSgmlParser::COrvelSgmlParser(CDataStorage* storage, SgmlParserMode mode, EncodingMode output)
    : COrvelParser(storage) {
  if (m_storage == nullptr) ThrowHResult(kEPointer);
  if (HasMode(mode, SgmlParserMode::DetectInput) && !m_storage->DetectBOM()) {
    m_storage->SetInputMode(EncodingMode::Utf8);
  }
  if (HasMode(mode, SgmlParserMode::SetOutput)) m_storage->SetOutputMode(output);
  if (HasMode(mode, SgmlParserMode::PutBom)) m_storage->PutBOM();
}

void COrvelSgmlParser::WriteElement(IElementX* element) {
  m_storage->PutString(element->GetSourceTextRef());
}

bool COrvelSgmlParser::ReadElement(IElementX* element) {
  m_element = element;
  m_name = &element->GetNameRef();
  m_upperName = &element->GetUpperNameRef();
  m_text.clear();
  m_attributes.clear();
  std::u16string& text = m_text;

  char16_t c = 0;
  // A text run is read in bulk up to the `<`, which is then read again from the push-back.
  m_storage->ReadRunBeforeLess(text);
  if (m_storage->GetChar(c)) {
    if (!text.empty()) {
      // The `<` starts the next element.
      m_storage->UngetChar();
      element->SetIsTag(false);
      Deliver();
      return true;
    }
    text.push_back(c);
    // Cut-off markup keeps what was read; the next call finds the input exhausted.
    ReadMarkup();
    element->SetIsTag(true);
    Deliver();
    return true;
  }
  // A caller that passed a used element keeps its old text when nothing is read.
  if (text.empty()) return false;
  element->SetIsTag(false);
  Deliver();
  return true;
}

void COrvelSgmlParser::Deliver() {
  // A long run is handed over whole rather than copied, so that it is never held twice; the
  // scratch buffer then starts small again.
  constexpr std::size_t kCopyLimit = std::size_t{64} * 1024;
  if (m_text.size() > kCopyLimit) {
    m_element->GetSourceTextRef().swap(m_text);
    std::u16string().swap(m_text);
  } else {
    m_element->GetSourceTextRef().assign(m_text);
  }
  if (m_attributes.empty()) return;
  std::vector<CAttributeX>& attributes = m_element->GetAttributes();
  attributes.reserve(attributes.size() + m_attributes.size());
  for (CAttributeX& attribute : m_attributes)
    attributes.push_back(std::move(attribute));
  m_attributes.clear();
}

void COrvelSgmlParser::AppendName(char16_t c) {
  m_name->push_back(c);
  m_upperName->push_back(CharToUpper(c));
}

void COrvelSgmlParser::TrimName(std::u16string_view terminator) {
  if (m_name->ends_with(terminator)) m_name->resize(m_name->size() - terminator.size());
}

void COrvelSgmlParser::ResetTag() {
  m_element->Reset();
  m_attributes.clear();
}

// Names and values are runs of the SourceText read so far: they are cut out of it once complete
// instead of being built unit by unit.
void COrvelSgmlParser::AddAttribute(std::size_t nameStart, std::size_t nameEnd,
                                    std::size_t valueStart, std::size_t valueEnd) {
  CAttributeX& attribute = m_attributes.emplace_back();
  attribute.m_name.assign(m_text, nameStart, nameEnd - nameStart);
  attribute.m_value.assign(m_text, valueStart, valueEnd - valueStart);
}

void COrvelSgmlParser::AddNameOnly(std::size_t nameStart, std::size_t nameEnd) {
  CAttributeX& attribute = m_attributes.emplace_back();
  attribute.m_name.assign(m_text, nameStart, nameEnd - nameStart);
  attribute.m_noValue = true;
}

void COrvelSgmlParser::AddMarker(bool special) {
  if (special) {
    m_element->AddAttribute(kBrokenTagMarker, std::u16string(), 2);
  } else {
    m_attributes.emplace_back(kBrokenTagMarker, std::u16string(), 2);
  }
}

}  // namespace tagvert
