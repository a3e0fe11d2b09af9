// Tagvert: the units and languages of a TTX document, read off its element table.
// SPDX-License-Identifier: Apache-2.0
#include "rules/document_facts.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

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

// What a Tu or Tuv start tag gave (a unit's match, a language's place), remembered by the tag's
// text: a document repeats a few such tags thousands of times, and tags of equal texts have
// equal attributes. One comparison of two texts then answers, with no attribute looked up and
// no language compared. A few texts, replaced in turn.
class CTagAnswers {
 public:
  // The answer remembered for `text` (not empty), or nullptr.
  const std::size_t* Find(std::string_view text) const {
    for (const CEntry& entry : m_entries) {
      if (entry.text.size() == text.size() &&
          std::memcmp(entry.text.data(), text.data(), text.size()) == 0) {
        return &entry.answer;
      }
    }
    return nullptr;
  }
  void Remember(std::string_view text, std::size_t answer) {
    CEntry& entry = m_entries[m_next];
    m_next = (m_next + 1) % kEntries;
    entry.text.assign(text);
    entry.answer = answer;
  }
  static constexpr std::size_t kMaxTextBytes = 256;

 private:
  static constexpr std::size_t kEntries = 4;
  struct CEntry {
    std::string text;  // empty: free
    std::size_t answer = 0;
  };
  std::array<CEntry, kEntries> m_entries;
  std::size_t m_next = 0;
};

}  // namespace

CDocumentFacts ReadDocumentFacts(const CElementTable& table) {
  CDocumentFacts facts;
  std::vector<FactName> kinds(table.Names().Size(), FactName::Unknown);
  bool settingsSeen = false;
  CAttributeLookup lang(table, {{u"Lang", false}});
  CAttributeLookup matchPercent(table, {{u"MatchPercent", false}});
  CAttributeLookup languages(table, {{u"TargetLanguage", false}, {u"SourceLanguage", false}});
  std::u16string_view values[2];
  CTagAnswers tuvAnswers;
  CTagAnswers tuAnswers;
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
      // Empty for a tag that is not plain: read each time.
      const std::string_view text = PlainTagBytes(table, record, CTagAnswers::kMaxTextBytes);
      if (!text.empty() && tuvAnswers.Find(text) != nullptr) continue;
      values[0] = {};
      lang.Find(record, values);
      // A document names a handful of languages: a linear look-up stays cheap.
      const auto known = std::find(facts.tuvLanguages.begin(), facts.tuvLanguages.end(), values[0]);
      if (known == facts.tuvLanguages.end()) facts.tuvLanguages.emplace_back(values[0]);
      if (!text.empty()) tuvAnswers.Remember(text, 0);
    } else if (kind == FactName::Tu) {
      ++facts.units;
      const std::string_view text = PlainTagBytes(table, record, CTagAnswers::kMaxTextBytes);
      if (const std::size_t* const matched = text.empty() ? nullptr : tuAnswers.Find(text)) {
        facts.matchedUnits += *matched;
        continue;
      }
      // The rules skip a unit whose MatchPercent exists and is not "0".
      const std::size_t matched = matchPercent.Find(record, values) != 0 && values[0] != u"0";
      facts.matchedUnits += matched;
      if (!text.empty()) tuAnswers.Remember(text, matched);
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
