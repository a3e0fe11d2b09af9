// Tagvert: the units and languages of a TTX document, read off its element table.
// SPDX-License-Identifier: Apache-2.0
#include "rules/document_facts.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "markup/element_table.h"
#include "storage/char_class.h"

namespace tagvert {

namespace {

// Other is 0, so that the kinds of several records or-ed together tell whether any of them
// matters.
enum class FactName : std::uint8_t { Other, Tu, Tuv, UserSettings };

FactName NameKind(std::u16string_view name) {
  // Most names have none of the lengths, and are not put in capitals.
  if (name.size() != 2 && name.size() != 3 && name.size() != 12) return FactName::Other;
  const std::u16string upper = StringToUpper(name);
  if (upper == u"TU") return FactName::Tu;
  if (upper == u"TUV") return FactName::Tuv;
  if (upper == u"USERSETTINGS") return FactName::UserSettings;
  return FactName::Other;
}

// What a Tu or Tuv start tag gave (a unit's match, a language's place), remembered by the tag's
// text: a document repeats a few such tags thousands of times, and tags of equal texts have
// equal attributes. One comparison of two texts then answers, with no attribute looked up and
// no language compared. A few texts, replaced in turn; their last eight bytes (where the
// languages and match values of such tags stand) are compared first.
class CTagAnswers {
 public:
  // The answer remembered for `text` (not empty), or nullptr.
  const std::size_t* Find(std::string_view text) const {
    const std::uint64_t tail = Tail(text);
    for (const CEntry& entry : m_entries) {
      if (entry.text.size() == text.size() && entry.tail == tail &&
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
    entry.tail = Tail(text);
    entry.answer = answer;
  }
  static constexpr std::size_t kMaxTextBytes = 256;

 private:
  static constexpr std::size_t kEntries = 4;
  struct CEntry {
    std::string text;  // empty: free
    std::uint64_t tail = 0;
    std::size_t answer = 0;
  };
  // The last eight bytes of `text`; 0 for a shorter text.
  static std::uint64_t Tail(std::string_view text) {
    std::uint64_t tail = 0;
    if (text.size() >= sizeof tail)
      std::memcpy(&tail, text.data() + text.size() - sizeof tail, sizeof tail);
    return tail;
  }
  std::array<CEntry, kEntries> m_entries;
  std::size_t m_next = 0;
};

}  // namespace

namespace {

// Takes the facts from the records of the names that hold them, one record at a time.
class CFactsReader {
 public:
  CFactsReader(const CElementTable& table, const FactsSettled& settled)
      : m_table(table),
        m_settled(settled),
        m_lang(table, {{u"Lang", false}}),
        m_matchPercent(table, {{u"MatchPercent", false}}),
        m_languages(table, {{u"TargetLanguage", false}, {u"SourceLanguage", false}}) {}

  // Whether `record`, of a name of some kind, tells something: a start or empty tag does.
  static bool Tells(const CElementRecord& record) {
    return record.IsTag() && record.tagType != TagType::Close &&
           record.tagType != TagType::PairedClose;
  }

  // Takes what `record`, of a name of `kind` (not Other), tells (Tells); true when the facts
  // are then settled and the walk ends. Out of line, so that the walk, which calls it for a few
  // records in twenty, keeps its own values in registers.
  [[gnu::noinline]] bool Take(const CElementRecord& record, FactName kind) {
    if (kind == FactName::UserSettings && m_settingsSeen) return false;
    m_table.CheckStop();
    std::u16string_view* const values = m_values;
    if (kind == FactName::Tuv) {
      // Empty for a tag that is not plain: read each time.
      const std::string_view text = PlainTagBytes(m_table, record, CTagAnswers::kMaxTextBytes);
      if (!text.empty() && m_tuvAnswers.Find(text) != nullptr) return false;
      values[0] = {};
      m_lang.Find(record, values);
      // A document names a handful of languages: a linear look-up stays cheap.
      std::vector<std::u16string>& languages = m_facts.tuvLanguages;
      const bool added =
          std::find(languages.begin(), languages.end(), values[0]) == languages.end();
      if (added) languages.emplace_back(values[0]);
      if (!text.empty()) m_tuvAnswers.Remember(text, 0);
      return added && m_settingsSeen && Settled();
    }
    if (kind == FactName::Tu) {
      TakeUnit(record);
      return false;
    }
    m_settingsSeen = true;
    const unsigned found = m_languages.Find(record, values);
    if ((found & 1) != 0) m_facts.targetLanguage = values[0];
    if ((found & 2) != 0) m_facts.sourceLanguage = values[1];
    return Settled();
  }

  // Counts the unit that the Tu start tag `record` (Tells) begins, and whether it is matched.
  [[gnu::noinline]] void TakeUnit(const CElementRecord& record) {
    ++m_facts.units;
    const std::string_view text = PlainTagBytes(m_table, record, CTagAnswers::kMaxTextBytes);
    if (const std::size_t* const matched = text.empty() ? nullptr : m_tuAnswers.Find(text)) {
      m_facts.matchedUnits += *matched;
      return;
    }
    // The rules skip a unit whose MatchPercent exists and is not "0".
    const std::size_t matched = m_matchPercent.Find(record, m_values) != 0 && m_values[0] != u"0";
    m_facts.matchedUnits += matched;
    if (!text.empty()) m_tuAnswers.Remember(text, matched);
  }

  CDocumentFacts& Facts() { return m_facts; }

 private:
  bool Settled() const { return m_settled.languages && m_settled.languages(m_facts); }

  const CElementTable& m_table;
  const FactsSettled& m_settled;
  CDocumentFacts m_facts;
  bool m_settingsSeen = false;
  CAttributeLookup m_lang;
  CAttributeLookup m_matchPercent;
  CAttributeLookup m_languages;
  std::u16string_view m_values[2];
  CTagAnswers m_tuvAnswers;
  CTagAnswers m_tuAnswers;
};

}  // namespace

CDocumentFacts ReadDocumentFacts(const CElementTable& table, const FactsSettled& settled) {
  // The kind of every name, known before the walk: a document has a few dozen names, each of
  // which its records carry.
  const CNameTable& names = table.Names();
  std::vector<FactName> kinds(names.Size());
  for (std::size_t id = 0; id < kinds.size(); ++id) {
    kinds[id] = NameKind(names.Name(static_cast<std::uint32_t>(id)));
  }
  CFactsReader reader(table, settled);
  // The name first: a text run has the empty one, of no kind, as have most tags, so that the
  // walk looks at four records' kinds together and passes over nearly every group of four.
  const FactName* const kindOf = kinds.data();
  VisitRecordWidth(table, [&](auto mayBeWide) {
    constexpr bool kMayBeWide = decltype(mayBeWide)::value;
    const CRecordVector& records = table.Records();
    const CElementRecord* record = records.data();
    const CElementRecord* const end = record + records.size();
    // Whether `at`, of a name of `kind`, settles the facts once taken.
    const auto settles = [&reader](const CElementRecord& at, FactName kind) {
      return kind != FactName::Other && CFactsReader::Tells(at) && reader.Take(at, kind);
    };
    // The records after the one that settles the facts are not taken: `rest` is the first.
    const CElementRecord* rest = nullptr;
    for (; rest == nullptr && end - record >= 4; record += 4) {
      const FactName k0 = kindOf[table.NameId<kMayBeWide>(record[0])];
      const FactName k1 = kindOf[table.NameId<kMayBeWide>(record[1])];
      const FactName k2 = kindOf[table.NameId<kMayBeWide>(record[2])];
      const FactName k3 = kindOf[table.NameId<kMayBeWide>(record[3])];
      if ((static_cast<unsigned>(k0) | static_cast<unsigned>(k1) | static_cast<unsigned>(k2) |
           static_cast<unsigned>(k3)) == 0) {
        continue;
      }
      if (settles(record[0], k0)) {
        rest = record + 1;
      } else if (settles(record[1], k1)) {
        rest = record + 2;
      } else if (settles(record[2], k2)) {
        rest = record + 3;
      } else if (settles(record[3], k3)) {
        rest = record + 4;
      }
    }
    for (; rest == nullptr && record != end; ++record) {
      if (settles(*record, kindOf[table.NameId<kMayBeWide>(*record)])) rest = record + 1;
    }
    if (rest == nullptr || !settled.allUnits) return;
    // The rest only for its units: a test of the name against the Tu name's id, when the
    // document writes that name in one way only (nearly always), else against the kinds.
    // Four records a step, as above: nearly every group of four holds no Tu.
    const auto units = [&](auto isTu) {
      const auto take = [&](const CElementRecord& at) {
        if (isTu(table.NameId<kMayBeWide>(at)) && CFactsReader::Tells(at)) {
          table.CheckStop();
          reader.TakeUnit(at);
        }
      };
      const CElementRecord* const groupsEnd = rest + (end - rest) / 4 * 4;
      for (; rest != groupsEnd; rest += 4) {
        if (!isTu(table.NameId<kMayBeWide>(rest[0])) && !isTu(table.NameId<kMayBeWide>(rest[1])) &&
            !isTu(table.NameId<kMayBeWide>(rest[2])) && !isTu(table.NameId<kMayBeWide>(rest[3]))) {
          continue;
        }
        for (const CElementRecord* at = rest; at != rest + 4; ++at)
          take(*at);
      }
      for (; rest != end; ++rest)
        take(*rest);
    };
    const auto tuNames = std::count(kinds.begin(), kinds.end(), FactName::Tu);
    if (tuNames == 1) {
      const auto tu = static_cast<std::uint32_t>(
          std::find(kinds.begin(), kinds.end(), FactName::Tu) - kinds.begin());
      units([tu](std::uint32_t id) { return id == tu; });
    } else if (tuNames > 1) {
      units([kindOf](std::uint32_t id) { return kindOf[id] == FactName::Tu; });
    }
  });
  return std::move(reader.Facts());
}

}  // namespace tagvert
