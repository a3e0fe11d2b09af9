// Tagvert: problems of a TTX document a translator wants to know before sending it out.
// SPDX-License-Identifier: Apache-2.0
#include "cli/document_check.h"

#include <unordered_map>
#include <vector>

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

// The check's state while it reads one document: the problems counted per kind, the open
// elements and ut placeholders, and the translation unit being read.
class CDocumentChecker {
 public:
  using Report = std::function<void(std::uint64_t, std::uint64_t, const std::string&)>;

  CDocumentChecker(const std::u16string& targetLang, const Report& report, std::size_t listLimit)
      : targetLang_(targetLang), report_(report), listLimit_(listLimit) {}

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
    if (inTargetTuv_ && !(endTag && name == u"Tuv")) targetTuvEmpty_ = false;
    if (name == u"ut" && !endTag) Placeholder(element, at);
    if (name == u"Tu") TranslationUnit(at, endTag, empty);
    if (name == u"Tuv") Tuv(element, at, endTag, empty);
    if (!empty) Nesting(name, at, endTag);
  }

  // The problems that the end of the document shows; returns the number of all problems.
  std::size_t Finish(std::vector<std::pair<std::string, std::size_t>>* unlisted) {
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
    if (inTargetTuv_) {
      for (const char16_t c : text)
        targetTuvEmpty_ = targetTuvEmpty_ && CharIsSpace(c);
    }
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

  // A Tu without a Tuv in the target language.
  void TranslationUnit(const CPosition& at, bool endTag, bool empty) {
    if (targetLang_.empty()) return;
    if (!endTag && !empty) {
      inTu_ = true;
      tuAt_ = at;
      tuHasTarget_ = false;
    } else if (endTag && inTu_) {
      if (!tuHasTarget_) {
        Problem(tuAt_, kTuWithoutTarget,
                [&] { return "Tu without a Tuv in " + Utf16ToUtf8(targetLang_); });
      }
      inTu_ = false;
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
    if (targetLang_.empty()) return;
    const std::u16string* lang = Attribute(element, u"Lang");
    if (!endTag && lang != nullptr && *lang == targetLang_) {
      tuHasTarget_ = true;
      if (empty) {
        Problem(at, kEmptyTarget, [&] { return "empty Tuv in " + Utf16ToUtf8(targetLang_); });
      } else {
        inTargetTuv_ = true;
        targetTuvEmpty_ = true;
        tuvAt_ = at;
      }
    } else if (endTag && inTargetTuv_) {
      if (targetTuvEmpty_) {
        Problem(tuvAt_, kEmptyTarget, [&] { return "empty Tuv in " + Utf16ToUtf8(targetLang_); });
      }
      inTargetTuv_ = false;
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

  const std::u16string& targetLang_;
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
  // The translation unit being read: where it began and what its target Tuv held.
  bool inTu_ = false;
  CPosition tuAt_;
  bool tuHasTarget_ = false;
  bool inTargetTuv_ = false;
  bool targetTuvEmpty_ = true;
  CPosition tuvAt_;
};

}  // namespace

std::size_t CheckDocument(
    const ByteStreamPtr& source, const std::u16string& targetLang,
    const std::function<void(std::uint64_t, std::uint64_t, const std::string&)>& report,
    std::size_t listLimit, std::vector<std::pair<std::string, std::size_t>>* unlisted) {
  CDocumentChecker checker(targetLang, report, listLimit);
  CDataStorage storage(EncodingMode::Utf8, EncodingMode::None);
  storage.SetReadUtf16WithoutMark(true);
  storage.Open(CEndpoint::Stream(source), CEndpoint());
  COrvelSgmlParser reader(&storage, SgmlParserMode::DetectInput);
  CPosition here;
  for (;;) {
    CElementX element;
    if (!reader.ReadElement(&element)) break;
    const CPosition at = here;
    for (const char16_t c : element.GetSourceTextRef()) {
      if (c == u'\n') {
        ++here.line;
        here.column = 1;
      } else {
        ++here.column;
      }
    }
    checker.Element(element, at);
  }
  storage.Close();
  return checker.Finish(unlisted);
}

}  // namespace tagvert::cli
