// Tagvert: problems of a TTX document a translator wants to know before sending it out.
// SPDX-License-Identifier: Apache-2.0
#include "cli/document_check.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
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

// Whether a unit may stand in the name of a reference ("&name;" or "&#...;"): ASCII's letters,
// digits and "_-.:#", and the letters and numbers beyond ASCII.
bool IsNameUnit(char16_t c) {
  if (c < 0x80) {
    // ASCII's letters and digits are its only letters and numbers.
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'_' || c == u'-' || c == u'.' || c == u':' || c == u'#';
  }
  return CharIsAlnum(c);
}

// IsNameUnit with the answers for the units below U+0100 made once into a table: a document's
// references ("&lt;", "&amp;") are read unit by unit.
class CNameUnits {
 public:
  CNameUnits() {
    for (unsigned c = 0; c < std::size(low_); ++c)
      low_[c] = IsNameUnit(static_cast<char16_t>(c));
  }
  bool Is(std::uint8_t unit) const { return low_[unit]; }
  bool Is(char16_t unit) const { return unit < std::size(low_) ? low_[unit] : CharIsAlnum(unit); }

  // Whether the '&' at `i` of the `size` units at `text` starts a reference.
  template <class Unit>
  bool StartsReference(const Unit* text, std::size_t size, std::size_t i) const {
    // "&lt;" and "&gt;", the references a document's placeholders repeat, without the loop.
    if (size - i >= 4 && (text[i + 1] == u'l' || text[i + 1] == u'g') && text[i + 2] == u't' &&
        text[i + 3] == u';') {
      return true;
    }
    std::size_t j = i + 1;
    while (j < size && Is(text[j]))
      ++j;
    return j > i + 1 && j < size && text[j] == u';';
  }

 private:
  bool low_[0x100];
};

// The first '&' in [p, end), or `end`; the units from `end` up to `limit` may be read. Most text
// runs between tags are shorter than a step of sixteen bytes: one load past their end, the
// matches beyond it masked off, takes them whole where a search that stops at their end takes
// their last part unit by unit.
template <class Unit>
const Unit* FindAmpersand(const Unit* p, const Unit* end, const Unit* limit) {
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  constexpr std::size_t kStep = 16 / sizeof(Unit);
  const __m128i amp = sizeof(Unit) == 1 ? _mm_set1_epi8('&') : _mm_set1_epi16('&');
  while (static_cast<std::size_t>(limit - p) >= kStep) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(
        sizeof(Unit) == 1 ? _mm_cmpeq_epi8(units, amp) : _mm_cmpeq_epi16(units, amp)));
    const auto left = static_cast<std::size_t>(end - p) * sizeof(Unit);
    if (left < 16) mask &= (1U << left) - 1;
    if (mask != 0) return p + static_cast<std::size_t>(std::countr_zero(mask)) / sizeof(Unit);
    if (left <= 16) return end;
    p += kStep;
  }
#else
  static_cast<void>(limit);
#endif
  while (p != end && *p != u'&')
    ++p;
  return p;
}

// Facts about tags kept by the tag's text (PlainTagBytes): a document repeats the same few
// placeholders and Tuv tags thousands of times, and what their attributes say follows from
// the text. A text may take one of two slots, chosen by a hash of its size and sampled bytes;
// the one used longer ago makes room. A slot taken anew holds `Facts{}`.
template <class Facts>
class CTagMemo {
 public:
  CTagMemo() : slots_(std::make_unique<CSlot[]>(kSlots)) {}

  // The facts kept for `text` (not empty, at most kMaxTextBytes).
  Facts& At(std::string_view text) {
    const std::uint64_t key = HashTagTextSampled(text);
    CSlot& first = slots_[static_cast<std::size_t>(key >> 58)];
    CSlot& second = slots_[static_cast<std::size_t>((key >> 52) % kSlots)];
    CSlot* slot = &first;
    if (!Holds(first, text)) {
      slot = &second;
      if (!Holds(second, text)) {
        if (first.used < second.used) slot = &first;
        slot->text.assign(text);
        slot->facts = Facts{};
      }
    }
    slot->used = ++clock_;
    return slot->facts;
  }

  static constexpr std::size_t kMaxTextBytes = 512;

 private:
  struct CSlot {
    std::string text;  // the tag's text as the source holds it (empty: a free slot)
    std::uint64_t used = 0;
    Facts facts{};
  };
  static bool Holds(const CSlot& slot, std::string_view text) {
    return slot.text.size() == text.size() &&
           std::memcmp(slot.text.data(), text.data(), text.size()) == 0;
  }
  static constexpr std::size_t kSlots = 64;  // six bits of a key
  std::unique_ptr<CSlot[]> slots_;
  std::uint64_t clock_ = 0;
};

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
  // The index of the language of Lang value `name`, added when new. A language keeps its
  // index.
  std::uint32_t LangIndex(std::u16string_view name) {
    std::size_t i = 0;
    while (i < langs_.size() && langs_[i].name != name)
      ++i;
    if (i == langs_.size()) langs_.emplace_back().name = name;
    return static_cast<std::uint32_t>(i);
  }
  // A Tuv start tag (an empty element when `empty`) of the language at index `i`.
  void TuvStart(std::uint32_t i, Offset at, bool empty) {
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
        openTop_(table.Names().Size(), kNone) {
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
      kind.common = id != 0 && kind.exact != NameKind::Tuv && kind.anyCase != NameKind::Tuv &&
                    kind.anyCase != NameKind::UserSettings;
    }
    // Display text 0 is the empty one, which an end without a DisplayText has too.
    displayIds_.emplace(std::u16string(), 0);
    utTop_.push_back(kNone);
  }

  // Checks every record in order. The table is the scan's alone: every record's text lies in
  // the source. The walk is made for the source's unit type and for whether some record is
  // wide, chosen once, so that it reads each record's text and fields straight.
  void Run() {
    VisitRecordWidth(table_, [&](auto mayBeWide) {
      table_.Source().Visit([&](const auto* units, std::size_t size) {
        Walk<decltype(mayBeWide)::value>(units, units + size);
      });
    });
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
    for (std::size_t k = 0; k < openCount_; ++k) {
      const COpenElement& element = open_[k];
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
    // A name whose tags need no attribute but a placeholder's: not a Tuv, none that gives a
    // language, not the empty name. Nearly every tag has one.
    bool common = false;
  };

  static constexpr std::uint32_t kNone = 0xFFFFFFFF;

  // An open element, and the one of its name opened before it that is still open (kNone: none).
  struct COpenElement {
    std::uint32_t nameId;
    Offset at;
    std::uint32_t previousOfName;
  };

  // Open ut placeholders: where each began and its DisplayText (by id), which an end repeats,
  // and the start before it of the same DisplayText still open (kNone: none). An end that
  // closes one before the last leaves it in place, closed.
  struct CUtStart {
    Offset at;
    std::uint32_t display;
    std::uint32_t previousOfDisplay;
    bool closed = false;
  };

  // What a ut placeholder's attributes make of it: nothing to pair (external or a split left
  // edge, or neither a start nor an end), a start or an end, and its DisplayText's id.
  enum class UtRole : std::uint8_t { Unknown, None, Start, End };
  struct CUtFacts {
    UtRole role = UtRole::Unknown;
    std::uint32_t display = 0;
  };

  // What a Tuv start tag's Lang gives: whether the Lang compared without case is among the
  // document's languages already, and the index of the Lang compared exactly among the target
  // check's languages (kNone: not read yet, kNoLang: the tag has none).
  struct CTuvFacts {
    bool noted = false;
    std::uint32_t lang = kNone;
  };
  static constexpr std::uint32_t kNoLang = 0xFFFFFFFE;

  template <bool kMayBeWide, class Unit>
  void Walk(const Unit* units, const Unit* limit) {
    for (const CElementRecord& record : table_.Records()) {
      const Unit* const text = units + record.textStart;
      const std::size_t size = table_.Length<kMayBeWide>(record);
      if (record.IsTag()) {
        Tag<kMayBeWide>(record, text, size);
      } else {
        Text(record.textStart, text, size, limit);
      }
    }
  }

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
  // source language. `tuv`: what the Tuv tag's text gave before, when it is kept.
  [[gnu::noinline]] void Languages(const CElementRecord& record, NameKind kind, CTuvFacts* tuv) {
    if (kind == NameKind::Tuv && record.tagType != TagType::Close) {
      if (tuv != nullptr && tuv->noted) return;
      const std::u16string_view lang = TuvLang(record, true).value_or(u""sv);
      // A document names a handful of languages: a linear look-up stays cheap.
      std::vector<std::u16string>& langs = languages_.tuvLanguages;
      if (std::find(langs.begin(), langs.end(), lang) == langs.end()) langs.emplace_back(lang);
      if (tuv != nullptr) tuv->noted = true;
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

  // Checks one piece of markup, the `size` units at `text`: here the start, end and empty tags
  // of the common names (NamedTag's steps that apply to them).
  template <bool kMayBeWide, class Unit>
  [[gnu::always_inline]] void Tag(const CElementRecord& record, const Unit* text,
                                  std::size_t size) {
    const std::uint32_t nameId = table_.NameId<kMayBeWide>(record);
    const CNameKind kind = kinds_[nameId];
    if (!kind.common || size < 2 || text[size - 1] != u'>' || text[1] == u'!' || text[1] == u'?')
        [[unlikely]] {
      NamedTag<kMayBeWide>(record, text, size, nameId, kind);
      return;
    }
    const Offset at = record.textStart;
    const bool endTag = text[1] == u'/';
    const bool empty = !endTag && text[size - 2] == u'/';
    targets_.Element(false);
    if (kind.exact == NameKind::Ut && !endTag) Placeholder<kMayBeWide>(record, at);
    if (kind.exact == NameKind::Tu) TranslationUnit(at, endTag, empty);
    if (!empty) Nesting(nameId, at, endTag);
  }

  // Checks one piece of markup: Tuv tags, those of the names that give languages, the empty
  // name, and tags of the wrong form.
  template <bool kMayBeWide, class Unit>
  [[gnu::noinline]] void NamedTag(const CElementRecord& record, const Unit* text, std::size_t size,
                                  std::uint32_t nameId, CNameKind kind) {
    attributesRead_ = false;
    tuvLangRead_ = false;
    const Offset at = record.textStart;
    // A Tuv tag's Lang as its text gave it before; an end tag has none to give.
    CTuvFacts* tuv = nullptr;
    if (kind.anyCase == NameKind::Tuv && size >= 2 && text[1] != u'/') {
      const std::string_view bytes =
          PlainTagBytes<kMayBeWide>(table_, record, CTagMemo<CTuvFacts>::kMaxTextBytes);
      if (!bytes.empty()) tuv = &tuvMemo_.At(bytes);
    }
    if (kind.anyCase == NameKind::Tuv || kind.anyCase == NameKind::UserSettings)
      Languages(record, kind.anyCase, tuv);
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
    if (kind.exact == NameKind::Ut && !endTag) Placeholder<kMayBeWide>(record, at);
    if (kind.exact == NameKind::Tu) TranslationUnit(at, endTag, empty);
    if (kind.exact == NameKind::Tuv) Tuv(record, at, endTag, empty, tuv);
    if (!empty) Nesting(nameId, at, endTag);
  }

  // Text: a stray '&', and whether the target Tuv holds more than white space. A text run
  // ends before the next '<': it holds none. The source may be read up to `limit`.
  template <class Unit>
  [[gnu::always_inline]] void Text(Offset at, const Unit* text, std::size_t size,
                                   const Unit* limit) {
    targets_.Text(text, size);
    const Unit* const end = text + size;
    for (const Unit* p = FindAmpersand(text, end, limit); p != end;
         p = FindAmpersand(p + 1, end, limit)) {
      const auto i = static_cast<std::size_t>(p - text);
      if (nameUnits_.StartsReference(text, size, i)) continue;
      StrayAmpersand(static_cast<Offset>(at + i));
    }
  }
  [[gnu::noinline]] void StrayAmpersand(Offset at) {
    Problem(at, kStrayAmpersand, [] { return "'&' that starts no reference (write &amp;)"; });
  }

  // Takes the start at the end of utStarts_ out; while it is open it is the latest open one of
  // its DisplayText.
  void DropLastUtStart() {
    const CUtStart& last = utStarts_.back();
    if (!last.closed) utTop_[last.display] = last.previousOfDisplay;
    utStarts_.pop_back();
  }

  // The id of a DisplayText, given when new.
  std::uint32_t DisplayId(std::u16string_view display) {
    const auto [found, added] =
        displayIds_.emplace(std::u16string(display), static_cast<std::uint32_t>(utTop_.size()));
    if (added) utTop_.push_back(kNone);
    return found->second;
  }

  // What the attributes of the ut tag `record` make of it. The attributes that decide are each
  // the first of its name, found in one look-up.
  CUtFacts ReadPlaceholder(const CElementRecord& record) {
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
    CUtFacts facts;
    facts.role = UtRole::None;
    if ((style && *style == u"external"sv) || (leftEdge && *leftEdge == u"split"sv)) return facts;
    const bool start = type && *type == u"start"sv;
    if (!start && (!type || *type != u"end"sv)) return facts;
    facts.role = start ? UtRole::Start : UtRole::End;
    facts.display = DisplayId(display.value_or(u""sv));
    return facts;
  }

  // A ut start or end placeholder pairs with its partner in the same Tuv. A document repeats
  // the same few placeholders: what a tag's text makes of it is kept by the text.
  template <bool kMayBeWide>
  [[gnu::noinline]] void Placeholder(const CElementRecord& record, Offset at) {
    const std::string_view bytes =
        PlainTagBytes<kMayBeWide>(table_, record, CTagMemo<CUtFacts>::kMaxTextBytes);
    CUtFacts facts;
    if (bytes.empty()) {
      facts = ReadPlaceholder(record);
    } else {
      CUtFacts& kept = utMemo_.At(bytes);
      if (kept.role == UtRole::Unknown) kept = ReadPlaceholder(record);
      facts = kept;
    }
    if (facts.role == UtRole::None) return;
    const std::uint32_t display = facts.display;
    if (facts.role == UtRole::Start) {
      const auto index = static_cast<std::uint32_t>(utStarts_.size());
      utStarts_.push_back({at, display, utTop_[display]});
      utTop_[display] = index;
      return;
    }
    // The end closes the latest open start of the same display text (of any, without one) in
    // the current Tuv.
    bool matched = false;
    if (display == 0) {
      while (utStarts_.size() > tuvUtBase_ && utStarts_.back().closed)
        utStarts_.pop_back();
      if (utStarts_.size() > tuvUtBase_) {
        DropLastUtStart();
        matched = true;
      }
    } else if (const std::uint32_t top = utTop_[display]; top != kNone && top >= tuvUtBase_) {
      utStarts_[top].closed = true;
      utTop_[display] = utStarts_[top].previousOfDisplay;
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
  // `facts`: what the start tag's text gave before, when it is kept.
  void Tuv(const CElementRecord& record, Offset at, bool endTag, bool empty, CTuvFacts* facts) {
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
      std::uint32_t lang = facts != nullptr ? facts->lang : kNone;
      if (lang == kNone) {
        const std::optional<std::u16string_view> name = TuvLang(record, false);
        lang = name ? targets_.LangIndex(*name) : kNoLang;
        if (facts != nullptr) facts->lang = lang;
      }
      if (lang != kNoLang) targets_.TuvStart(lang, at, empty);
    } else if (!empty) {
      targets_.TuvEnd();
    }
  }

  // Start and end tags nest: an end tag without a start, start tags its end leaves open. Most
  // end tags close the element opened last.
  [[gnu::always_inline]] void Nesting(std::uint32_t nameId, Offset at, bool endTag) {
    std::uint32_t& top = openTop_[nameId];
    if (!endTag) {
      if (openCount_ == open_.size()) [[unlikely]]
        open_.resize(open_.size() * 2 + 64);
      open_[openCount_] = {nameId, at, top};
      top = static_cast<std::uint32_t>(openCount_++);
      return;
    }
    if (top + std::size_t{1} == openCount_) [[likely]] {
      top = open_[--openCount_].previousOfName;
      return;
    }
    EndTagElsewhere(nameId, at);
  }

  // An end tag whose element is not the one opened last, or is not open at all.
  [[gnu::noinline]] void EndTagElsewhere(std::uint32_t nameId, Offset at) {
    const std::uint32_t top = openTop_[nameId];
    const auto name = [&](std::uint32_t id) { return Utf16ToUtf8(table_.Names().Name(id)); };
    if (top == kNone) {
      Problem(at, kEndAlone, [&] { return "end tag </" + name(nameId) + "> without a start tag"; });
      return;
    }
    // Elements opened inside the one this tag closes were never closed.
    const std::size_t i = std::size_t{top} + 1;
    for (std::size_t j = openCount_; j > i; --j) {
      Problem(open_[j - 1].at, kNeverClosed, [&] {
        const auto [line, column] = lines_.At(at);
        return "start tag <" + name(open_[j - 1].nameId) + "> never closed (</" + name(nameId) +
               "> at " + std::to_string(line) + ":" + std::to_string(column) +
               " closes its parent)";
      });
    }
    while (openCount_ >= i) {
      const COpenElement& last = open_[--openCount_];
      openTop_[last.nameId] = last.previousOfName;
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
  const CNameUnits nameUnits_;
  std::vector<CAttributeSpan> attributes_;
  bool attributesRead_ = false;  // attributes_ holds those of the tag being checked
  // The placeholders' attributes, and the Tuvs' Lang (compared without case, and exactly).
  CAttributeLookup utLookup_;
  CAttributeLookup tuvLookup_;
  std::optional<std::u16string_view> tuvLang_[2];
  bool tuvLangRead_ = false;  // tuvLang_ holds those of the tag being checked
  CTagMemo<CUtFacts> utMemo_;
  CTagMemo<CTuvFacts> tuvMemo_;
  CDocumentLanguages languages_;
  bool settingsSeen_ = false;
  // The open elements, the first `openCount_` of `open_`: the room grows, never the count one
  // by one.
  std::vector<COpenElement> open_;
  std::size_t openCount_ = 0;
  // By name id, the place in `open_` of the latest open element of that name (kNone: none):
  // an end tag finds it at once, however many other elements are open.
  std::vector<std::uint32_t> openTop_;
  std::vector<CUtStart> utStarts_;
  // The ids of the DisplayTexts met, and by id the place in `utStarts_` of the latest open
  // start of that DisplayText (kNone: none): an end finds its start at once.
  std::unordered_map<std::u16string, std::uint32_t> displayIds_;
  std::vector<std::uint32_t> utTop_;
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
