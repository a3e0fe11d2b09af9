// Tagvert: problems of a TTX document a translator wants to know before sending it out.
// SPDX-License-Identifier: Apache-2.0
#include "cli/document_check.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cli/document_scan.h"
#include "markup/element_table.h"
#include "storage/char_class.h"
#include "storage/data_storage.h"
#include "storage/input_scan.h"

namespace tagvert::cli {

namespace {

using namespace std::string_view_literals;

// The kinds of problem, and the words that name each in the count of those not listed.
enum Kind {
  kStrayAmpersand,
  kStrayLess,
  kCutOff,
  kUtEndAlone,
  kUtStartAlone,
  kTuWithoutTarget,
  kEmptyTarget,
  kEndAlone,
  kNeverClosed,
  kKinds
};
constexpr const char* kKindWords[kKinds] = {
    "'&' that starts no reference",
    "'<' that starts no markup",
    "markup cut off",
    "ut placeholder of Type=\"end\" without its start",
    "ut placeholder of Type=\"start\" without its end",
    "Tu without a Tuv in the target language",
    "empty Tuv in the target language",
    "end tag without a start tag",
    "start tag never closed",
};

// A place in the document: the offset of its first unit in the decoded text, which is below
// 2^32 (the element table holds no more).
using Offset = std::uint32_t;

// Where the lines of the decoded text begin, found at the first problem that is listed (a
// document without problems never needs them): an offset then becomes a line and a column.
class CLines {
 public:
  explicit CLines(const CUnitBuffer& source) : source_(source) {}

  // The line and column (both from 1, the column in UTF-16 units) of the unit at `at`.
  std::pair<std::uint64_t, std::uint64_t> At(Offset at) {
    if (!found_) Find();
    const auto after = std::lower_bound(breaks_.begin(), breaks_.end(), at);
    const auto line = static_cast<std::uint64_t>(after - breaks_.begin()) + 1;
    return {line, after == breaks_.begin() ? std::uint64_t{at} + 1 : std::uint64_t{at - after[-1]}};
  }

 private:
  void Find() {
    found_ = true;
    source_.Visit([this](const auto* units, std::size_t size) {
      const auto* const end = units + size;
      for (const auto* p = FindUnit(units, end, u'\n'); p != end; p = FindUnit(p + 1, end, u'\n'))
        breaks_.push_back(static_cast<Offset>(p - units));
    });
  }

  const CUnitBuffer& source_;
  std::vector<Offset> breaks_;  // the offsets of the line feeds, in order
  bool found_ = false;
};

struct COpenElement {
  std::uint32_t nameId;
  Offset at;
};

template <class Unit>
bool IsNameUnit(Unit unit) {
  const auto c = static_cast<char16_t>(unit);
  if (c < 0x80) {
    // ASCII's letters and digits are its only letters and numbers.
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'_' || c == u'-' || c == u'.' || c == u':' || c == u'#';
  }
  return CharIsAlnum(c);
}

// Whether the '&' at `i` of the `size` units at `text` starts a reference "&name;" or "&#...;".
template <class Unit>
bool StartsReference(const Unit* text, std::size_t size, std::size_t i) {
  std::size_t j = i + 1;
  while (j < size && IsNameUnit(text[j]))
    ++j;
  return j > i + 1 && j < size && text[j] == u';';
}

// The value of the first attribute in `attributes` (of a tag of `table`) named `name`, exactly
// or (`anyCase`) compared without case; nothing when it has none.
std::optional<std::u16string_view> Attribute(const CElementTable& table,
                                             const std::vector<CAttributeSpan>& attributes,
                                             std::u16string_view name, bool anyCase = false) {
  for (const CAttributeSpan& span : attributes) {
    const std::u16string_view found = table.AttributeName(span);
    if (anyCase ? StringEqualsNoCase(found, name) : found == name) {
      return table.AttributeValue(span);
    }
  }
  return std::nullopt;
}

// The checks of the target language's Tuvs (a Tu without one, an empty one), made for every Lang
// value the document's Tuvs carry: which of them is the target's is known only once the whole
// document is read, since the choice may depend on every Lang value. What each language would
// report is kept in the order found, small per translation unit.
class CTargetTuvs {
 public:
  // An element: inside a Tuv any but the Tuv's end tag makes it hold something.
  void Element(bool tuvEnd) {
    if (tuvEnd) return;
    for (const std::size_t i : active_)
      langs_[i].empty = false;
  }
  // Text: a Tuv that holds more than white space is not empty.
  template <class Unit>
  void Text(const Unit* text, std::size_t size) {
    for (const std::size_t i : active_) {
      CLang& lang = langs_[i];
      for (std::size_t k = 0; k < size && lang.empty; ++k)
        lang.empty = CharIsSpace(static_cast<char16_t>(text[k]));
    }
  }
  void TuStart(Offset at) {
    inTu_ = true;
    tuAt_ = at;
    ++tuSerial_;
  }
  void TuEnd() {
    if (!inTu_) return;
    inTu_ = false;
    const auto closed = static_cast<std::uint32_t>(tus_.size());
    tus_.push_back(tuAt_);
    for (CLang& lang : langs_) {
      if (lang.tuSerial == tuSerial_) lang.tus.push_back(closed);
    }
  }
  // A Tuv start tag (an empty element when `empty`) with its Lang (nothing: none).
  void TuvStart(const std::optional<std::u16string_view>& name, Offset at, bool empty) {
    if (!name) return;
    std::size_t i = 0;
    while (i < langs_.size() && langs_[i].name != *name)
      ++i;
    if (i == langs_.size()) langs_.emplace_back().name = *name;
    CLang& lang = langs_[i];
    lang.tuSerial = tuSerial_;
    if (empty) {
      lang.emptyAt.push_back(at);
      return;
    }
    if (!lang.active) active_.push_back(i);
    lang.active = true;
    lang.empty = true;
    lang.tuvAt = at;
  }
  // A Tuv end tag ends every Tuv being read.
  void TuvEnd() {
    for (const std::size_t i : active_) {
      CLang& lang = langs_[i];
      if (lang.empty) lang.emptyAt.push_back(lang.tuvAt);
      lang.active = false;
    }
    active_.clear();
  }

  // Hands over the problems of `target`: each Tu without its Tuv to `noTuv`, in document order,
  // then each empty Tuv of it to `emptyTuv`, in the order found.
  template <typename NoTuv, typename EmptyTuv>
  void Problems(const std::u16string& target, NoTuv&& noTuv, EmptyTuv&& emptyTuv) const {
    const CLang* lang = nullptr;
    for (const CLang& l : langs_) {
      if (l.name == target) lang = &l;
    }
    std::size_t had = 0;
    for (std::uint32_t i = 0; i < tus_.size(); ++i) {
      if (lang != nullptr && had < lang->tus.size() && lang->tus[had] == i) {
        ++had;
        continue;
      }
      noTuv(tus_[i]);
    }
    if (lang == nullptr) return;
    for (const Offset at : lang->emptyAt)
      emptyTuv(at);
  }

 private:
  struct CLang {
    std::u16string name;             // the Lang value as written
    std::uint64_t tuSerial = 0;      // the last Tu that had a Tuv of it
    std::vector<std::uint32_t> tus;  // the closed Tus (indexes into tus_) that had one
    std::vector<Offset> emptyAt;     // its empty Tuvs, in the order found
    bool active = false;             // a Tuv of it is being read
    bool empty = true;               // that Tuv holds nothing so far
    Offset tuvAt = 0;                // where it began
  };

  std::vector<CLang> langs_;
  std::vector<std::size_t> active_;  // the languages whose Tuv is being read
  std::vector<Offset> tus_;          // every Tu that ended, where it began
  bool inTu_ = false;
  Offset tuAt_ = 0;
  std::uint64_t tuSerial_ = 0;
};

// The check's walk over the records of one document: the problems counted per kind, the open
// elements and ut placeholders, the translation unit being read, and the document's languages
// (ScanLanguages's facts but for its units, which the check does not need).
class CDocumentChecker {
 public:
  using Report = std::function<void(std::uint64_t, std::uint64_t, const std::string&)>;

  CDocumentChecker(const CElementTable& table, const Report& report, std::size_t listLimit)
      : table_(table),
        lines_(table.Source()),
        report_(report),
        listLimit_(listLimit),
        kinds_(table.Names().Size()),
        utLookup_(table, {{u"Type"}, {u"Style"}, {u"LeftEdge"}, {u"DisplayText"}}),
        tuvLookup_(table, {{u"Lang", false}, {u"Lang"}}),
        openByName_(table.Names().Size()) {
    // The scan has interned every name of the document.
    for (std::uint32_t id = 0; id < kinds_.size(); ++id) {
      const std::u16string& name = table.Names().Name(id);
      CNameKind& kind = kinds_[id];
      kind.exact = name == u"Tu"    ? NameKind::Tu
                   : name == u"Tuv" ? NameKind::Tuv
                   : name == u"ut"  ? NameKind::Ut
                                    : NameKind::Other;
      const std::u16string upper = StringToUpper(name);
      kind.anyCase = upper == u"TU"             ? NameKind::Tu
                     : upper == u"TUV"          ? NameKind::Tuv
                     : upper == u"USERSETTINGS" ? NameKind::UserSettings
                                                : NameKind::Other;
    }
  }

  // Checks every record in order.
  void Run() {
    for (const CElementRecord& record : table_.Records()) {
      table_.VisitText(record, [&](const auto* units, std::size_t size) {
        if (record.IsTag()) {
          Tag(record, units, size);
        } else {
          Text(record.textStart, units, size);
        }
      });
    }
  }

  const CDocumentLanguages& Languages() const { return languages_; }

  // The problems that the end of the document shows, those of the target language's Tuvs
  // first (`targetLang`: none when empty); returns the number of all problems.
  std::size_t Finish(const std::u16string& targetLang,
                     std::vector<std::pair<std::string, std::size_t>>* unlisted) {
    if (!targetLang.empty()) {
      const std::string named = Utf16ToUtf8(targetLang);
      targets_.Problems(
          targetLang,
          [&](Offset at) {
            Problem(at, kTuWithoutTarget, [&] { return "Tu without a Tuv in " + named; });
          },
          [&](Offset at) { Problem(at, kEmptyTarget, [&] { return "empty Tuv in " + named; }); });
    }
    for (const COpenElement& element : open_) {
      Problem(element.at, kNeverClosed, [&] {
        return "start tag <" + Utf16ToUtf8(table_.Names().Name(element.nameId)) + "> never closed";
      });
    }
    for (const CUtStart& start : utStarts_) {
      if (!start.closed) Problem(start.at, kUtStartAlone, [] { return kKindWords[kUtStartAlone]; });
    }
    if (unlisted != nullptr) {
      for (int kind = 0; kind < kKinds; ++kind) {
        if (notListed_[kind] != 0) unlisted->emplace_back(kKindWords[kind], notListed_[kind]);
      }
    }
    return problems_;
  }

 private:
  // What a name is to the check: the names of TTX's units (compared exactly, as the checks
  // of their nesting do), and those that give the document's languages (compared without
  // case, as the conversion's rules match them).
  enum class NameKind : std::uint8_t { Other, Tu, Tuv, Ut, UserSettings };
  struct CNameKind {
    NameKind exact = NameKind::Other;    // Tu, Tuv, ut or other, as written
    NameKind anyCase = NameKind::Other;  // Tu, Tuv, UserSettings or other, without case
  };

  // Open ut placeholders: where each began and its DisplayText, which an end repeats. An end
  // that closes one before the last leaves it in place, closed.
  struct CUtStart {
    Offset at;
    std::u16string display;
    bool closed = false;
  };

  // The attributes of the tag being checked, read again from its text once it is asked for.
  const std::vector<CAttributeSpan>& Attributes(const CElementRecord& record) {
    if (!attributesRead_) {
      table_.ReadAttributes(record, attributes_);
      attributesRead_ = true;
    }
    return attributes_;
  }
  std::optional<std::u16string_view> AttributeOf(const CElementRecord& record,
                                                 std::u16string_view name, bool anyCase = false) {
    return Attribute(table_, Attributes(record), name, anyCase);
  }

  // Counts a problem; the message is made only for a problem that is listed.
  template <typename TMessage>
  void Problem(Offset at, Kind kind, const TMessage& message) {
    ++problems_;
    if (listLimit_ != 0 && listed_[kind] >= listLimit_) {
      ++notListed_[kind];
      return;
    }
    ++listed_[kind];
    const auto [line, column] = lines_.At(at);
    report_(line, column, std::string(message()));
  }

  // The languages a tag names: the Lang of every Tuv and the first UserSettings' target and
  // source language.
  void Languages(const CElementRecord& record, NameKind kind) {
    if (kind == NameKind::Tuv && record.tagType != TagType::Close) {
      const std::u16string_view lang = TuvLang(record, true).value_or(u""sv);
      // A document names a handful of languages: a linear look-up stays cheap.
      std::vector<std::u16string>& langs = languages_.tuvLanguages;
      if (std::find(langs.begin(), langs.end(), lang) == langs.end()) langs.emplace_back(lang);
    } else if (kind == NameKind::UserSettings && !settingsSeen_) {
      settingsSeen_ = true;
      if (const auto target = AttributeOf(record, u"TargetLanguage"sv, true))
        languages_.targetLanguage = std::u16string(*target);
      if (const auto source = AttributeOf(record, u"SourceLanguage"sv, true))
        languages_.sourceLanguage = *source;
    }
  }

  // The Lang of a Tuv tag, its name compared without case (`anyCase`) or exactly. A document
  // repeats the same few Tuv tags: the look-up answers most from what it found in the same text
  // before.
  std::optional<std::u16string_view> TuvLang(const CElementRecord& record, bool anyCase) {
    if (!tuvLangRead_) {
      std::u16string_view values[2];
      const unsigned found = tuvLookup_.Find(record, values);
      tuvLang_[0] = (found & 1U) != 0 ? std::optional(values[0]) : std::nullopt;
      tuvLang_[1] = (found & 2U) != 0 ? std::optional(values[1]) : std::nullopt;
      tuvLangRead_ = true;
    }
    return tuvLang_[anyCase ? 0 : 1];
  }

  // Checks one piece of markup, the `size` units at `text`.
  template <class Unit>
  void Tag(const CElementRecord& record, const Unit* text, std::size_t size) {
    attributesRead_ = false;
    tuvLangRead_ = false;
    const Offset at = record.textStart;
    const std::uint32_t nameId = table_.NameId(record);
    const CNameKind& kind = kinds_[nameId];
    if (kind.anyCase != NameKind::Other) Languages(record, kind.anyCase);
    if (nameId == 0 && (size < 2 || (text[1] != u'!' && text[1] != u'?' && text[1] != u'/'))) {
      Problem(at, kStrayLess, [] { return "'<' that starts no markup (write &lt;)"; });
      return;
    }
    if (size < 2 || text[size - 1] != u'>') {
      Problem(at, kCutOff, [&] {
        std::u16string shown(table_.Text(record).substr(0, 40));
        const std::size_t lineEnd = shown.find_first_of(u"\r\n");
        if (lineEnd != std::u16string::npos) shown.resize(lineEnd);
        return "markup cut off: " + Utf16ToUtf8(shown);
      });
      return;
    }
    // Declarations, comments and processing instructions open nothing.
    if (text[1] == u'!' || text[1] == u'?' || nameId == 0) return;
    const bool endTag = text[1] == u'/';
    const bool empty = !endTag && text[size - 2] == u'/';
    targets_.Element(endTag && kind.exact == NameKind::Tuv);
    if (kind.exact == NameKind::Ut && !endTag) Placeholder(record, at);
    if (kind.exact == NameKind::Tu) TranslationUnit(at, endTag, empty);
    if (kind.exact == NameKind::Tuv) Tuv(record, at, endTag, empty);
    if (!empty) Nesting(nameId, at, endTag);
  }

  // Text: a stray '&', and whether the target Tuv holds more than white space. A text run
  // ends before the next '<': it holds none.
  template <class Unit>
  void Text(Offset at, const Unit* text, std::size_t size) {
    targets_.Text(text, size);
    const Unit* const end = text + size;
    for (const Unit* p = FindUnit(text, end, u'&'); p != end; p = FindUnit(p + 1, end, u'&')) {
      const auto i = static_cast<std::size_t>(p - text);
      if (StartsReference(text, size, i)) continue;
      Problem(static_cast<Offset>(at + i), kStrayAmpersand,
              [] { return "'&' that starts no reference (write &amp;)"; });
    }
  }
  // Takes the start at the end of utStarts_ out (it is the latest open one of its DisplayText).
  void DropLastUtStart() {
    if (!utStarts_.back().closed) utOpenByDisplay_[utStarts_.back().display].pop_back();
    utStarts_.pop_back();
  }

  // A ut start or end placeholder pairs with its partner in the same Tuv.
  void Placeholder(const CElementRecord& record, Offset at) {
    // The attributes that decide, each the first of its name, found in one look-up: a
    // document repeats the same few placeholders, whose tags the look-up has seen before.
    std::u16string_view values[4];
    const unsigned given = utLookup_.Find(record, values);
    const auto value = [&](unsigned k) {
      return (given & (1U << k)) != 0 ? std::optional(values[k]) : std::nullopt;
    };
    const std::optional<std::u16string_view> type = value(0), style = value(1), leftEdge = value(2),
                                             display = value(3);
    // A ut whose left edge is split continues the placeholder before it (a tag of the original
    // document cut by an attribute value): it is no start or end of its own. External
    // placeholders carry the original document's skeleton, where HTML leaves end tags out at
    // will; only placeholders inside the text, which a translator moves, must pair.
    if ((style && *style == u"external"sv) || (leftEdge && *leftEdge == u"split"sv)) return;
    const bool start = type && *type == u"start"sv;
    if (!start && (!type || *type != u"end"sv)) return;
    const std::u16string key(display.value_or(u""sv));
    if (start) {
      utOpenByDisplay_[key].push_back(utStarts_.size());
      utStarts_.push_back({at, key});
      return;
    }
    // The end closes the latest open start of the same display text (of any, without one) in
    // the current Tuv.
    bool matched = false;
    if (key.empty()) {
      while (utStarts_.size() > tuvUtBase_ && utStarts_.back().closed)
        utStarts_.pop_back();
      if (utStarts_.size() > tuvUtBase_) {
        DropLastUtStart();
        matched = true;
      }
    } else if (const auto found = utOpenByDisplay_.find(key); found != utOpenByDisplay_.end() &&
                                                              !found->second.empty() &&
                                                              found->second.back() >= tuvUtBase_) {
      utStarts_[found->second.back()].closed = true;
      found->second.pop_back();
      matched = true;
    }
    if (!matched) Problem(at, kUtEndAlone, [] { return kKindWords[kUtEndAlone]; });
  }

  // A Tu: its Tuvs are counted per language.
  void TranslationUnit(Offset at, bool endTag, bool empty) {
    if (!endTag && !empty) {
      targets_.TuStart(at);
    } else if (endTag) {
      targets_.TuEnd();
    }
  }

  // Placeholders pair within one Tuv (each Tuv is a text of its own); an empty target Tuv.
  void Tuv(const CElementRecord& record, Offset at, bool endTag, bool empty) {
    if (!empty && !endTag) {
      tuvUtBase_ = utStarts_.size();
    } else if (!empty) {
      for (std::size_t k = tuvUtBase_; k < utStarts_.size(); ++k) {
        if (utStarts_[k].closed) continue;
        Problem(utStarts_[k].at, kUtStartAlone, [] { return kKindWords[kUtStartAlone]; });
      }
      while (utStarts_.size() > tuvUtBase_)
        DropLastUtStart();
      tuvUtBase_ = 0;
    }
    if (!endTag) {
      targets_.TuvStart(TuvLang(record, false), at, empty);
    } else if (!empty) {
      targets_.TuvEnd();
    }
  }

  // Start and end tags nest: an end tag without a start, start tags its end leaves open.
  void Nesting(std::uint32_t nameId, Offset at, bool endTag) {
    std::vector<std::size_t>& ofName = openByName_[nameId];
    if (!endTag) {
      ofName.push_back(open_.size());
      open_.push_back({nameId, at});
      return;
    }
    const std::size_t i = ofName.empty() ? 0 : ofName.back() + 1;
    const auto name = [&](std::uint32_t id) { return Utf16ToUtf8(table_.Names().Name(id)); };
    if (i == 0) {
      Problem(at, kEndAlone, [&] { return "end tag </" + name(nameId) + "> without a start tag"; });
      return;
    }
    // Elements opened inside the one this tag closes were never closed.
    for (std::size_t j = open_.size(); j > i; --j) {
      Problem(open_[j - 1].at, kNeverClosed, [&] {
        const auto [line, column] = lines_.At(at);
        return "start tag <" + name(open_[j - 1].nameId) + "> never closed (</" + name(nameId) +
               "> at " + std::to_string(line) + ":" + std::to_string(column) +
               " closes its parent)";
      });
    }
    while (open_.size() >= i) {
      openByName_[open_.back().nameId].pop_back();
      open_.pop_back();
    }
  }

  const CElementTable& table_;
  CLines lines_;
  const Report& report_;
  const std::size_t listLimit_;
  std::size_t problems_ = 0;
  std::size_t listed_[kKinds] = {};
  std::size_t notListed_[kKinds] = {};
  std::vector<CNameKind> kinds_;  // by name id
  std::vector<CAttributeSpan> attributes_;
  bool attributesRead_ = false;  // attributes_ holds those of the tag being checked
  // The placeholders' attributes, and the Tuvs' Lang (compared without case, and exactly).
  CAttributeLookup utLookup_;
  CAttributeLookup tuvLookup_;
  std::optional<std::u16string_view> tuvLang_[2];
  bool tuvLangRead_ = false;  // tuvLang_ holds those of the tag being checked
  CDocumentLanguages languages_;
  bool settingsSeen_ = false;
  std::vector<COpenElement> open_;
  // The places in `open_` of the open elements of each name id, in order: an end tag finds the
  // latest of its name at once, however many other elements are open.
  std::vector<std::vector<std::size_t>> openByName_;
  std::vector<CUtStart> utStarts_;
  // The places of the open placeholders of each DisplayText, in order: an end finds its start
  // at once.
  std::unordered_map<std::u16string, std::vector<std::size_t>> utOpenByDisplay_;
  std::size_t tuvUtBase_ = 0;  // the placeholders opened before the current Tuv
  CTargetTuvs targets_;
};

}  // namespace

std::size_t CheckDocument(
    const ByteStreamPtr& source,
    const std::function<std::u16string(const CDocumentLanguages&)>& chooseTarget,
    const std::function<void(std::uint64_t, std::uint64_t, const std::string&)>& report,
    std::size_t listLimit, std::vector<std::pair<std::string, std::size_t>>* unlisted) {
  // The whole document is decoded into one buffer, as for the conversion (narrow while UTF-8
  // input gives units below U+0100), and cut into the conversion's element records: the walk
  // over them reads each unit once, and only the few tags the checks look into are read again
  // for their attributes.
  CElementTable table;
  {
    CDataStorage storage(EncodingMode::Utf8, EncodingMode::None);
    storage.SetReadUtf16WithoutMark(true);
    storage.Open(CEndpoint::Stream(source), CEndpoint());
    if (!storage.DetectBOM()) storage.SetInputMode(EncodingMode::Utf8);
    table.Source().SetNarrow();
    storage.ReadAllUnits(table.Source());
    storage.Close();
  }
  // Room for every record the cut can give, so that the records never move while they grow
  // (each piece of markup starts at a `<`; each text run ends before one or at the end): room
  // that no record fills is only address space.
  table.Source().Visit([&table](const auto* units, std::size_t size) {
    const std::size_t markup = CountUnit(units, units + size, u'<');
    table.Records().reserve(markup + std::min(markup + 1, size - markup));
  });
  ScanElements(table);
  CDocumentChecker checker(table, report, listLimit);
  checker.Run();
  return checker.Finish(chooseTarget(checker.Languages()), unlisted);
}

}  // namespace tagvert::cli
