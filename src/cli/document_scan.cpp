// Tagvert: what the command reads from a TTX document before converting it.
// SPDX-License-Identifier: Apache-2.0
#include "cli/document_scan.h"

#include <algorithm>

#include "markup/element.h"
#include "markup/sgml_parser.h"
#include "storage/char_class.h"
#include "storage/data_storage.h"
#include "storage/language_table.h"

namespace tagvert::cli {

namespace {

// The attribute `name` of `element` compared without case; null when it has none.
const std::u16string* Attribute(IElementX& element, std::u16string_view name) {
  for (const CAttributeX& attribute : element.GetAttributes()) {
    if (StringEqualsNoCase(attribute.m_name, std::u16string(name))) return &attribute.m_value;
  }
  return nullptr;
}

}  // namespace

void CLanguageScan::Element(IElementX& element) {
  if (!element.GetIsTag()) return;
  const std::u16string& name = element.GetUpperNameRef();
  if (name == u"TUV" && element.GetTagType() != TagType::Close) {
    const std::u16string* lang = Attribute(element, u"Lang");
    const std::u16string value = lang != nullptr ? *lang : std::u16string();
    // A document names a handful of languages: a linear look-up stays cheap.
    if (std::find(m_result.tuvLanguages.begin(), m_result.tuvLanguages.end(), value) ==
        m_result.tuvLanguages.end()) {
      m_result.tuvLanguages.push_back(value);
    }
  } else if (name == u"TU" && element.GetTagType() != TagType::Close) {
    // The rules skip a unit whose MatchPercent exists and is not "0".
    ++m_result.units;
    const std::u16string* match = Attribute(element, u"MatchPercent");
    if (match != nullptr && *match != u"0") ++m_result.matchedUnits;
  } else if (!m_settingsSeen && name == u"USERSETTINGS") {
    m_settingsSeen = true;
    if (const std::u16string* target = Attribute(element, u"TargetLanguage")) {
      m_result.targetLanguage = *target;
    }
    if (const std::u16string* language = Attribute(element, u"SourceLanguage")) {
      m_result.sourceLanguage = *language;
    }
  }
}

CDocumentLanguages ScanLanguages(const ByteStreamPtr& source) {
  CDataStorage storage(EncodingMode::Utf8, EncodingMode::None);
  storage.SetReadUtf16WithoutMark(true);
  storage.Open(CEndpoint::Stream(source), CEndpoint());
  COrvelSgmlParser reader(&storage, SgmlParserMode::DetectInput);
  CLanguageScan scan;
  CElementX element;
  for (;;) {
    element.Reset();
    if (!reader.ReadElement(&element)) break;
    scan.Element(element);
  }
  storage.Close();
  return scan.Result();
}

std::optional<std::int32_t> DirectionOfLanguage(const std::u16string& tag) {
  const auto code = LanguageCodeOfTag(tag);
  if (!code) return std::nullopt;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(*code) << 16);
}

std::u16string TuvLanguageOf(std::int32_t direction) {
  return LanguageTagUpper(static_cast<std::uint16_t>(static_cast<std::uint32_t>(direction) >> 16));
}

std::u16string TuvLanguageIn(const CDocumentLanguages& languages, std::int32_t direction) {
  CTuvLanguageChoice choice(TuvLanguageOf(direction));
  choice.SetSourceLanguage(languages.sourceLanguage);
  for (const std::u16string& lang : languages.tuvLanguages) {
    if (choice.Offer(lang)) break;
  }
  return choice.Chosen().value_or(TuvLanguageOf(direction));
}

std::string TuvMismatch(const CDocumentLanguages& languages, std::int32_t direction) {
  if (languages.tuvLanguages.empty()) return {};
  const std::u16string wanted = TuvLanguageIn(languages, direction);
  for (const std::u16string& lang : languages.tuvLanguages) {
    if (lang == wanted) return {};
  }
  std::string found;
  for (const std::u16string& lang : languages.tuvLanguages) {
    if (!found.empty()) found += ", ";
    found += lang.empty() ? std::string("(no Lang)") : Utf16ToUtf8(lang);
  }
  return "no Tuv in " + Utf16ToUtf8(wanted) + "; the document has " + found;
}

}  // namespace tagvert::cli
