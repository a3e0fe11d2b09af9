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

}  // namespace

CDocumentFacts ReadDocumentFacts(const CElementTable& table) {
  CDocumentFacts facts;
  std::vector<FactName> kinds(table.Names().Size(), FactName::Unknown);
  bool settingsSeen = false;
  CAttributeLookup lang(table, {{u"Lang", false}});
  CAttributeLookup matchPercent(table, {{u"MatchPercent", false}});
  CAttributeLookup languages(table, {{u"TargetLanguage", false}, {u"SourceLanguage", false}});
  std::u16string_view values[2];
  for (const CElementRecord& record : table.Records()) {
    // The name first: a text run has the empty one, of no kind, as have most tags, so that one
    // test passes over nearly every record.
    FactName& kind = kinds[record.nameId];
    if (kind == FactName::Other) continue;
    if (kind == FactName::Unknown) {
      kind = NameKind(table.Names().Name(record.nameId));
      if (kind == FactName::Other) continue;
    }
    if (!record.IsTag() || record.tagType == TagType::Close ||
        record.tagType == TagType::PairedClose) {
      continue;
    }
    if (kind == FactName::UserSettings && settingsSeen) continue;
    table.CheckStop();
    if (kind == FactName::Tuv) {
      values[0] = {};
      lang.Find(record, values);
      // A document names a handful of languages: a linear look-up stays cheap.
      if (std::find(facts.tuvLanguages.begin(), facts.tuvLanguages.end(), values[0]) ==
          facts.tuvLanguages.end()) {
        facts.tuvLanguages.emplace_back(values[0]);
      }
    } else if (kind == FactName::Tu) {
      // The rules skip a unit whose MatchPercent exists and is not "0".
      ++facts.units;
      if (matchPercent.Find(record, values) != 0 && values[0] != u"0") ++facts.matchedUnits;
    } else {
      settingsSeen = true;
      const unsigned found = languages.Find(record, values);
      if ((found & 1) != 0) facts.targetLanguage = values[0];
      if ((found & 2) != 0) facts.sourceLanguage = values[1];
    }
  }
  return facts;
}

}  // namespace tagvert
