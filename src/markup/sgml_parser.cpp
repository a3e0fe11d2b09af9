// Tagvert: the tolerant SGML/XML reader and the verbatim writer (COrvelSgmlParser).
// SPDX-License-Identifier: Apache-2.0
#include "markup/sgml_parser.h"

#include <algorithm>

#include "storage/char_class.h"
#include "storage/hresult.h"

namespace tagvert {

namespace {

// Raised by NextChar when the storage has no more units. It happens at most once per document,
// so an exception keeps the tag reader free of status checks after every unit.
struct CEndOfInput {};

constexpr char16_t kCDataKeyword[] = u"CDATA[";
constexpr char16_t kCDataName[] = u"![CDATA[";
constexpr std::u16string_view kCDataEnd = u"]]>";

[[noreturn, gnu::noinline]] void ThrowEndOfInput() {
  throw CEndOfInput{};
}

}  // namespace

// Called for every unit of markup: kept inline, with the storage's inline read.
inline char16_t COrvelSgmlParser::NextChar() {
  char16_t c = 0;
  if (!m_storage->TakeChar(c)) ThrowEndOfInput();
  m_source->push_back(c);
  return c;
}

COrvelSgmlParser::COrvelSgmlParser(CDataStorage* storage, std::uint8_t flags, EncodingMode output)
    : COrvelParser(storage) {
  if (m_storage == nullptr) ThrowHResult(kEPointer);
  if ((flags & kSgmlDetectInput) != 0 && !m_storage->DetectBOM()) {
    m_storage->SetInputMode(EncodingMode::Utf8);
  }
  if ((flags & kSgmlSetOutput) != 0) m_storage->SetOutputMode(output);
  if ((flags & kSgmlPutBom) != 0) m_storage->PutBOM();
}

void COrvelSgmlParser::WriteElement(IElementX* element) {
  m_storage->PutString(element->GetSourceTextRef());
}

bool COrvelSgmlParser::ReadElement(IElementX* element) {
  m_element = element;
  m_source = &m_text;
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
    try {
      ReadTag();
    } catch (const CEndOfInput&) {
      // Cut-off markup keeps what was read; the next call finds the input exhausted.
    }
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

char16_t COrvelSgmlParser::SkipSpace(char16_t c) {
  while (CharIsSpace(c))
    c = NextChar();
  return c;
}

void COrvelSgmlParser::TakeBackStray() {
  m_source->pop_back();
  // The element goes back to its initial state; ReadElement marks it as markup.
  m_element->Reset();
  m_attributes.clear();
  m_storage->UngetChar();
}

void COrvelSgmlParser::BreakTag() {
  m_element->SetTagType(TagType::Single);
  m_attributes.emplace_back(kBrokenTagMarker, std::u16string(), 2);
  m_source->pop_back();
  m_storage->UngetChar();
}

void COrvelSgmlParser::ReadTag() {
  IElementX& element = *m_element;
  std::vector<CAttributeX>& attributes = m_attributes;
  element.SetTagType(TagType::Open);
  char16_t c = NextChar();
  if (c == u'<') return TakeBackStray();

  bool closeFlag = false;
  if (c == u'/') {
    element.SetTagType(TagType::Close);
    c = NextChar();
  } else if (c == u'!' || c == u'%') {
    AppendName(c);
    return ReadSpecial(c);
  }
  if (c == u'?')
    element.SetTagType(TagType::Single);  // a processing instruction, named "?xml" etc.

  if (!CharIsSpace(c)) {
    for (;;) {
      if (c == u'>') return;
      if (c == u'/') {
        closeFlag = true;
        c = NextChar();
        break;
      }
      if (c == u'<') return TakeBackStray();
      AppendName(c);
      c = NextChar();
      if (CharIsSpace(c)) break;
    }
  }

  while (c != u'>') {
    // A `/` counts only when nothing but `>` follows it.
    closeFlag = false;
    c = SkipSpace(c);
    CAttributeX attribute;
    // Names and values are runs of the source text read so far (its last unit is `c`): they
    // are cut out of it once complete instead of being built unit by unit.
    const std::size_t nameStart = m_source->size() - 1;
    while (CharIsNameChar(c))
      c = NextChar();
    attribute.m_name.assign(*m_source, nameStart, m_source->size() - 1 - nameStart);
    if (c == u'<') return BreakTag();
    if (c == u'/') closeFlag = true;
    // Also without a `/`, so that white space before `=` still leads to the value.
    c = SkipSpace(c);
    if (c != u'=') {
      attribute.m_noValue = true;
      if (!attribute.m_name.empty()) {
        attributes.push_back(std::move(attribute));
      } else if (c != u'>') {
        c = NextChar();  // a unit that starts no attribute is passed over
      }
      continue;
    }
    c = SkipSpace(NextChar());
    // The value runs from here up to the unit before the last one read when it ends.
    auto takeValue = [&](std::size_t start, std::size_t after) {
      attribute.m_value.assign(*m_source, start, m_source->size() - after - start);
      attributes.push_back(std::move(attribute));
    };
    if (c == u'"' || c == u'\'') {
      const char16_t quote = c;
      c = NextChar();
      const std::size_t valueStart = m_source->size() - 1;
      while (c != quote) {
        if (c == u'<') return TakeBackStray();
        c = NextChar();
      }
      const std::size_t valueEnd = m_source->size() - 1;
      // Cut off by the end of input after the quote, the attribute is not added.
      c = NextChar();
      attribute.m_value.assign(*m_source, valueStart, valueEnd - valueStart);
      attributes.push_back(std::move(attribute));
      continue;
    }
    const std::size_t valueStart = m_source->size() - 1;
    for (;;) {
      if (c == u'>' || CharIsSpace(c)) {
        takeValue(valueStart, 1);
        break;
      }
      if (c == u'<') return TakeBackStray();
      if (c == u'/') {
        c = NextChar();
        if (c == u'>') {
          element.SetTagType(TagType::Single);
          takeValue(valueStart, 2);  // without the `/` before the `>`
          break;
        }
        continue;  // the `/` stays in the value; `c` is looked at again
      }
      c = NextChar();
    }
  }
  if (closeFlag) element.SetTagType(TagType::Single);
}

void COrvelSgmlParser::ReadSpecial(char16_t opener) {
  bool nameDone = false;
  if (opener == u'%') {
    ReadUntil(u"%>", true, nameDone);
  } else {
    char16_t c = NextChar();
    if (c == u'<') return TakeBackStray();
    if (CharIsSpace(c)) {
      nameDone = true;
      ReadUntil(u">", true, nameDone);
    } else {
      AppendName(c);
      if (c == u'-') {
        c = NextChar();
        if (c == u'-') {
          // A comment: quotes in it mean nothing.
          nameDone = true;
          ReadUntil(u"-->", false, nameDone);
        } else if (CharIsSpace(c)) {
          nameDone = true;
          ReadUntil(u">", true, nameDone);
        } else {
          AppendName(c);
          ReadUntil(u">", true, nameDone);
        }
      } else if (c == u'[') {
        bool cdata = true;
        for (const char16_t expected : std::u16string_view(kCDataKeyword)) {
          if (NextChar() != expected) {
            cdata = false;
            break;
          }
        }
        if (cdata) {
          // Only a `>` that completes "]]>" ends the section.
          while (NextChar() != u'>' || !m_source->ends_with(kCDataEnd)) {
          }
          *m_name = kCDataName;
        } else {
          ReadUntil(u">", true, nameDone);
        }
      } else {
        ReadUntil(u">", true, nameDone);
      }
    }
  }
  m_element->SetTagType(TagType::Single);
  m_element->AddAttribute(kBrokenTagMarker, std::u16string(), 2);
}

// Reads units until the last ones read, counted since the start or since the end of the last
// quoted stretch, equal `terminator`. Until `nameDone` is set by the first white space, every
// unit is also appended to the name. With `quotes` on, a quote character opens a stretch that
// runs to the same quote and is skipped as a whole, so a terminator inside quotes does not end
// the markup. A name that ran into the terminator loses it again (UpperName keeps it).
void COrvelSgmlParser::ReadUntil(std::u16string_view terminator, bool quotes, bool& nameDone) {
  // The window holds the last terminator.size() units (at most 3) since its last reset.
  char16_t window[3] = {};
  std::size_t filled = 0;
  const std::size_t length = terminator.size();
  for (;;) {
    const char16_t c = NextChar();
    if (!nameDone) {
      if (CharIsSpace(c)) {
        nameDone = true;
      } else {
        AppendName(c);
      }
    }
    if (quotes && (c == u'"' || c == u'\'')) {
      ReadUntil(std::u16string_view(&c, 1), false, nameDone);
      filled = 0;
      continue;
    }
    if (filled < length) {
      window[filled++] = c;
    } else {
      std::copy(window + 1, window + length, window);
      window[length - 1] = c;
    }
    if (filled == length && std::u16string_view(window, length) == terminator) break;
  }
  if (!nameDone && m_name->ends_with(terminator)) m_name->resize(m_name->size() - length);
}

}  // namespace tagvert
