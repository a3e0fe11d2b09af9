// Tagvert: problems of a TTX document a translator wants to know before sending it out.
// SPDX-License-Identifier: Apache-2.0
#include "cli/document_check.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "cli/document_scan.h"
#include "markup/element.h"
#include "markup/sgml_parser.h"
#include "storage/char_class.h"
#include "storage/data_storage.h"

namespace tagvert::cli {

namespace {

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

struct CPosition {
  std::uint64_t line = 1;
  std::uint64_t column = 1;
};

struct COpenElement {
  std::u16string name;
  CPosition at;
};

const std::u16string* Attribute(IElementX& element, const std::u16string& name) {
  for (const CAttributeX& attribute : element.GetAttributes()) {
    if (attribute.m_name == name) return &attribute.m_value;
  }
  return nullptr;
}

std::string At(const CPosition& p) {
  return std::to_string(p.line) + ":" + std::to_string(p.column);
}

bool IsNameUnit(char16_t c) {
  return CharIsAlnum(c) || c == u'_' || c == u'-' || c == u'.' || c == u':' || c == u'#';
}

// Whether the '&' at `i` starts a reference "&name;" or "&#...;".
bool StartsReference(const std::u16string& text, std::size_t i) {
  std::size_t j = i + 1;
  while (j < text.size() && IsNameUnit(text[j]))
    ++j;
  return j > i + 1 && j < text.size() && text[j] == u';';
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
  void Text(const std::u16string& text) {
    for (const std::size_t i : active_) {
      CLang& lang = langs_[i];
      for (std::size_t k = 0; k < text.size() && lang.empty; ++k)
        lang.empty = CharIsSpace(text[k]);
    }
  }
  void TuStart(const CPosition& at) {
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
  // A Tuv start tag (an empty element when `empty`) with its Lang (null: none).
  void TuvStart(const std::u16string* name, const CPosition& at, bool empty) {
    if (name == nullptr) return;
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
    for (const CPosition& at : lang->emptyAt)
      emptyTuv(at);
  }

 private:
  struct CLang {
    std::u16string name;             // the Lang value as written
    std::uint64_t tuSerial = 0;      // the last Tu that had a Tuv of it
    std::vector<std::uint32_t> tus;  // the closed Tus (indexes into tus_) that had one
    std::vector<CPosition> emptyAt;  // its empty Tuvs, in the order found
    bool active = false;             // a Tuv of it is being read
    bool empty = true;               // that Tuv holds nothing so far
    CPosition tuvAt;                 // where it began
  };

  std::vector<CLang> langs_;
  std::vector<std::size_t> active_;  // the languages whose Tuv is being read
  std::vector<CPosition> tus_;       // every Tu that ended, where it began
  bool inTu_ = false;
  CPosition tuAt_;
  std::uint64_t tuSerial_ = 0;
};

// The check's state while it reads one document: the problems counted per kind, the open
// elements and ut placeholders, and the translation unit being read.
class CDocumentChecker {
 public:
  using Report = std::function<void(std::uint64_t, std::uint64_t, const std::string&)>;

  CDocumentChecker(const Report& report, std::size_t listLimit)
      : report_(report), listLimit_(listLimit) {}

  // Checks one element that begins at `at`.
  void Element(IElementX& element, const CPosition& at) {
    const std::u16string& text = element.GetSourceTextRef();
    if (!element.GetIsTag()) {
      Text(text, at);
      return;
    }
    const std::u16string& name = element.GetNameRef();
    if (name.empty() &&
        (text.size() < 2 || (text[1] != u'!' && text[1] != u'?' && text[1] != u'/'))) {
      Problem(at, kStrayLess, [] { return "'<' that starts no markup (write &lt;)"; });
      return;
    }
    if (text.size() < 2 || text.back() != u'>') {
      Problem(at, kCutOff, [&] {
        std::u16string shown = text.substr(0, 40);
        const std::size_t lineEnd = shown.find_first_of(u"\r\n");
        if (lineEnd != std::u16string::npos) shown.resize(lineEnd);
        return "markup cut off: " + Utf16ToUtf8(shown);
      });
      return;
    }
    // Declarations, comments and processing instructions open nothing.
    if (text[1] == u'!' || text[1] == u'?' || name.empty()) return;
    const bool endTag = text[1] == u'/';
    const bool empty = !endTag && text.size() >= 2 && text[text.size() - 2] == u'/';
    targets_.Element(endTag && name == u"Tuv");
    if (name == u"ut" && !endTag) Placeholder(element, at);
    if (name == u"Tu") TranslationUnit(at, endTag, empty);
    if (name == u"Tuv") Tuv(element, at, endTag, empty);
    if (!empty) Nesting(name, at, endTag);
  }

  // The problems that the end of the document shows, those of the target language's Tuvs
  // first (`targetLang`: none when empty); returns the number of all problems.
  std::size_t Finish(const std::u16string& targetLang,
                     std::vector<std::pair<std::string, std::size_t>>* unlisted) {
    if (!targetLang.empty()) {
      const std::string named = Utf16ToUtf8(targetLang);
      targets_.Problems(
          targetLang,
          [&](const CPosition& at) {
            Problem(at, kTuWithoutTarget, [&] { return "Tu without a Tuv in " + named; });
          },
          [&](const CPosition& at) {
            Problem(at, kEmptyTarget, [&] { return "empty Tuv in " + named; });
          });
    }
    for (const COpenElement& element : open_) {
      Problem(element.at, kNeverClosed,
              [&] { return "start tag <" + Utf16ToUtf8(element.name) + "> never closed"; });
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
  // Open ut placeholders: where each began and its DisplayText, which an end repeats. An end
  // that closes one before the last leaves it in place, closed.
  struct CUtStart {
    CPosition at;
    std::u16string display;
    bool closed = false;
  };

  // Counts a problem; the message is made only for a problem that is listed.
  template <typename TMessage>
  void Problem(const CPosition& p, Kind kind, const TMessage& message) {
    ++problems_;
    if (listLimit_ != 0 && listed_[kind] >= listLimit_) {
      ++notListed_[kind];
      return;
    }
    ++listed_[kind];
    report_(p.line, p.column, std::string(message()));
  }

  // Text: a stray '&' or '<', and whether the target Tuv holds more than white space.
  void Text(const std::u16string& text, CPosition p) {
    targets_.Text(text);
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == u'&' && !StartsReference(text, i)) {
        Problem(p, kStrayAmpersand, [] { return "'&' that starts no reference (write &amp;)"; });
      } else if (text[i] == u'<') {
        Problem(p, kStrayLess, [] { return "'<' that starts no markup (write &lt;)"; });
      }
      if (text[i] == u'\n') {
        ++p.line;
        p.column = 1;
      } else {
        ++p.column;
      }
    }
  }

  // Takes the start at the end of utStarts_ out (it is the latest open one of its DisplayText).
  void DropLastUtStart() {
    if (!utStarts_.back().closed) utOpenByDisplay_[utStarts_.back().display].pop_back();
    utStarts_.pop_back();
  }

  // A ut start or end placeholder pairs with its partner in the same Tuv.
  void Placeholder(IElementX& element, const CPosition& at) {
    // A ut whose left edge is split continues the placeholder before it (a tag of the original
    // document cut by an attribute value): it is no start or end of its own.
    const std::u16string* leftEdge = Attribute(element, u"LeftEdge");
    // External placeholders carry the original document's skeleton, where HTML leaves end tags
    // out at will; only placeholders inside the text, which a translator moves, must pair.
    const std::u16string* style = Attribute(element, u"Style");
    if ((style != nullptr && *style == u"external") ||
        (leftEdge != nullptr && *leftEdge == u"split")) {
      return;
    }
    const std::u16string* type = Attribute(element, u"Type");
    const std::u16string* display = Attribute(element, u"DisplayText");
    const std::u16string key = display != nullptr ? *display : std::u16string();
    if (type != nullptr && *type == u"start") {
      utOpenByDisplay_[key].push_back(utStarts_.size());
      utStarts_.push_back({at, key});
      return;
    }
    if (type == nullptr || *type != u"end") return;
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
  void TranslationUnit(const CPosition& at, bool endTag, bool empty) {
    if (!endTag && !empty) {
      targets_.TuStart(at);
    } else if (endTag) {
      targets_.TuEnd();
    }
  }

  // Placeholders pair within one Tuv (each Tuv is a text of its own); an empty target Tuv.
  void Tuv(IElementX& element, const CPosition& at, bool endTag, bool empty) {
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
      targets_.TuvStart(Attribute(element, u"Lang"), at, empty);
    } else if (!empty) {
      targets_.TuvEnd();
    }
  }

  // Start and end tags nest: an end tag without a start, start tags its end leaves open.
  void Nesting(const std::u16string& name, const CPosition& at, bool endTag) {
    if (!endTag) {
      openByName_[name].push_back(open_.size());
      open_.push_back({name, at});
      return;
    }
    const auto found = openByName_.find(name);
    const std::size_t i =
        found == openByName_.end() || found->second.empty() ? 0 : found->second.back() + 1;
    if (i == 0) {
      Problem(at, kEndAlone,
              [&] { return "end tag </" + Utf16ToUtf8(name) + "> without a start tag"; });
      return;
    }
    // Elements opened inside the one this tag closes were never closed.
    for (std::size_t j = open_.size(); j > i; --j) {
      Problem(open_[j - 1].at, kNeverClosed, [&] {
        return "start tag <" + Utf16ToUtf8(open_[j - 1].name) + "> never closed (</" +
               Utf16ToUtf8(name) + "> at " + At(at) + " closes its parent)";
      });
    }
    while (open_.size() >= i) {
      openByName_[open_.back().name].pop_back();
      open_.pop_back();
    }
  }

  const Report& report_;
  const std::size_t listLimit_;
  std::size_t problems_ = 0;
  std::size_t listed_[kKinds] = {};
  std::size_t notListed_[kKinds] = {};
  std::vector<COpenElement> open_;
  // The places in `open_` of the open elements of each name, in order: an end tag finds the
  // latest of its name at once, however many other elements are open.
  std::unordered_map<std::u16string, std::vector<std::size_t>> openByName_;
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
  CDocumentChecker checker(report, listLimit);
  CLanguageScan languages;
  CDataStorage storage(EncodingMode::Utf8, EncodingMode::None);
  storage.SetReadUtf16WithoutMark(true);
  storage.Open(CEndpoint::Stream(source), CEndpoint());
  COrvelSgmlParser reader(&storage, SgmlParserMode::DetectInput);
  CPosition here;
  // One element, emptied before each read, so that its strings keep their room.
  CElementX element;
  for (;;) {
    element.Reset();
    if (!reader.ReadElement(&element)) break;
    const CPosition at = here;
    const std::u16string& text = element.GetSourceTextRef();
    const std::size_t lastBreak = text.rfind(u'\n');
    if (lastBreak == std::u16string::npos) {
      here.column += text.size();
    } else {
      here.line += static_cast<std::uint64_t>(std::count(text.begin(), text.end(), u'\n'));
      here.column = text.size() - lastBreak;
    }
    languages.Element(element);
    checker.Element(element, at);
  }
  storage.Close();
  return checker.Finish(chooseTarget(languages.Result()), unlisted);
}

}  // namespace tagvert::cli
