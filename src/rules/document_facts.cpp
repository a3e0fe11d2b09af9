// Tagvert: the units and languages of a TTX document, read off its element table.
// SPDX-License-Identifier: Apache-2.0
#include "rules/document_facts.h"

#include <algorithm>

#include "markup/element_table.h"
#include "storage/char_class.h"

namespace tagvert {

namespace {

enum class FactName : std::uint8_t { Unknown, Other, Tu, Tuv, UserSettings };

FactName NameKind(std::u16string_view name) {
  const std::u16string upper = StringToUpper(name);
  if (upper == u"TU") return FactName::Tu;
  if (upper == u"TUV") return FactName::Tuv;
  if (upper == u"USERSETTINGS") return FactName::UserSettings;
  return FactName::Other;
}

// Finds the first attribute of `attributes` named `name` without case: false when none.
bool Attribute(const CElementTable& table, const std::vector<CAttributeSpan>& attributes,
               std::u16string_view name, std::u16string_view& value) {
  for (const CAttributeSpan& span : attributes) {
    if (StringEqualsNoCase(table.AttributeName(span), name)) {
      value = table.AttributeValue(span);
      return true;
    }
  }
  return false;
}

}  // namespace

CDocumentFacts ReadDocumentFacts(const CElementTable& table) {
  CDocumentFacts facts;
  std::vector<FactName> kinds(table.Names().Size(), FactName::Unknown);
  std::vector<CAttributeSpan> attributes;
  std::u16string_view value;
  bool settingsSeen = false;
  for (const CElementRecord& record : table.Records()) {
    if (!record.IsTag() || record.tagType == TagType::Close ||
        record.tagType == TagType::PairedClose) {
      continue;
    }
    FactName& kind = kinds[record.nameId];
    if (kind == FactName::Unknown) kind = NameKind(table.Names().Name(record.nameId));
    if (kind == FactName::Other || (kind == FactName::UserSettings && settingsSeen)) continue;
    table.CheckStop();
    table.ReadAttributes(record, attributes);
    if (kind == FactName::Tuv) {
      const std::u16string_view lang =
          Attribute(table, attributes, u"Lang", value) ? value : std::u16string_view();
      // A document names a handful of languages: a linear look-up stays cheap.
      if (std::find(facts.tuvLanguages.begin(), facts.tuvLanguages.end(), lang) ==
          facts.tuvLanguages.end()) {
        facts.tuvLanguages.emplace_back(lang);
      }
    } else if (kind == FactName::Tu) {
      // The rules skip a unit whose MatchPercent exists and is not "0".
      ++facts.units;
      if (Attribute(table, attributes, u"MatchPercent", value) && value != u"0")
        ++facts.matchedUnits;
    } else {
      settingsSeen = true;
      if (Attribute(table, attributes, u"TargetLanguage", value)) facts.targetLanguage = value;
      if (Attribute(table, attributes, u"SourceLanguage", value)) facts.sourceLanguage = value;
    }
  }
  return facts;
}

}  // namespace tagvert
