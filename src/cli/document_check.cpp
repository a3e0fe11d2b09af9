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

}  // namespace

std::size_t CheckDocument(
    const ByteStreamPtr& source, const std::u16string& targetLang,
    const std::function<void(std::uint64_t, std::uint64_t, const std::string&)>& report,
    std::size_t listLimit, std::vector<std::pair<std::string, std::size_t>>* unlisted) {
  std::size_t problems = 0;
  std::size_t listed[kKinds] = {};
  std::size_t notListed[kKinds] = {};
  // The message is made only for a problem that is listed.
  auto problem = [&](const CPosition& p, Kind kind, const auto& message) {
    ++problems;
    if (listLimit != 0 && listed[kind] >= listLimit) {
      ++notListed[kind];
      return;
    }
    ++listed[kind];
    report(p.line, p.column, std::string(message()));
  };
  CDataStorage storage(EncodingMode::Utf8, EncodingMode::None);
  storage.SetReadUtf16WithoutMark(true);
  storage.Open(CEndpoint::Stream(source), CEndpoint());
  COrvelSgmlParser reader(&storage, SgmlParserMode::DetectInput);

  CPosition here;
  std::vector<COpenElement> open;
  // The places in `open` of the open elements of each name, in order: an end tag finds the
  // latest of its name at once, however many other elements are open.
  std::unordered_map<std::u16string, std::vector<std::size_t>> openByName;
  // Open ut placeholders: where each began and its DisplayText, which an end repeats. An end
  // that closes one before the last leaves it in place, closed; the places of the open ones of
  // each DisplayText, in order, let an end find its start at once.
  struct CUtStart {
    CPosition at;
    std::u16string display;
    bool closed = false;
  };
  std::vector<CUtStart> utStarts;
  std::unordered_map<std::u16string, std::vector<std::size_t>> utOpenByDisplay;
  // Takes the start at the end of utStarts out (it is the latest open one of its DisplayText).
  auto dropLastUtStart = [&] {
    if (!utStarts.back().closed) utOpenByDisplay[utStarts.back().display].pop_back();
    utStarts.pop_back();
  };
  std::size_t tuvUtBase = 0;  // the placeholders opened before the current Tuv
  // The translation unit being read: where it began and what its target Tuv held.
  bool inTu = false;
  CPosition tuAt;
  bool tuHasTarget = false;
  bool inTargetTuv = false;
  bool targetTuvEmpty = true;
  CPosition tuvAt;

  for (;;) {
    CElementX element;
    if (!reader.ReadElement(&element)) break;
    const CPosition at = here;
    const std::u16string& text = element.GetSourceTextRef();
    for (const char16_t c : text) {
      if (c == u'\n') {
        ++here.line;
        here.column = 1;
      } else {
        ++here.column;
      }
    }
    if (!element.GetIsTag()) {
      if (inTargetTuv) {
        for (const char16_t c : text)
          targetTuvEmpty = targetTuvEmpty && CharIsSpace(c);
      }
      CPosition p = at;
      for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && !StartsReference(text, i)) {
          problem(p, kStrayAmpersand, [] { return "'&' that starts no reference (write &amp;)"; });
        } else if (text[i] == u'<') {
          problem(p, kStrayLess, [] { return "'<' that starts no markup (write &lt;)"; });
        }
        if (text[i] == u'\n') {
          ++p.line;
          p.column = 1;
        } else {
          ++p.column;
        }
      }
      continue;
    }
    const std::u16string& name = element.GetNameRef();
    if (name.empty() &&
        (text.size() < 2 || (text[1] != u'!' && text[1] != u'?' && text[1] != u'/'))) {
      problem(at, kStrayLess, [] { return "'<' that starts no markup (write &lt;)"; });
      continue;
    }
    if (text.size() < 2 || text.back() != u'>') {
      problem(at, kCutOff, [&] {
        std::u16string shown = text.substr(0, 40);
        const std::size_t lineEnd = shown.find_first_of(u"\r\n");
        if (lineEnd != std::u16string::npos) shown.resize(lineEnd);
        return "markup cut off: " + Utf16ToUtf8(shown);
      });
      continue;
    }
    // Declarations, comments and processing instructions open nothing.
    if (text[1] == u'!' || text[1] == u'?' || name.empty()) continue;
    const bool endTag = text[1] == u'/';
    const bool empty = !endTag && text.size() >= 2 && text[text.size() - 2] == u'/';
    if (inTargetTuv && !(endTag && name == u"Tuv")) targetTuvEmpty = false;

    // A ut whose left edge is split continues the placeholder before it (a tag of the original
    // document cut by an attribute value): it is no start or end of its own.
    const std::u16string* leftEdge = name == u"ut" ? Attribute(element, u"LeftEdge") : nullptr;
    // External placeholders carry the original document's skeleton, where HTML leaves end tags
    // out at will; only placeholders inside the text, which a translator moves, must pair.
    const std::u16string* style = name == u"ut" ? Attribute(element, u"Style") : nullptr;
    const bool external = style != nullptr && *style == u"external";
    if (name == u"ut" && !endTag && !external && (leftEdge == nullptr || *leftEdge != u"split")) {
      const std::u16string* type = Attribute(element, u"Type");
      const std::u16string* display = Attribute(element, u"DisplayText");
      const std::u16string key = display != nullptr ? *display : std::u16string();
      if (type != nullptr && *type == u"start") {
        utOpenByDisplay[key].push_back(utStarts.size());
        utStarts.push_back({at, key});
      } else if (type != nullptr && *type == u"end") {
        // The end closes the latest open start of the same display text (of any, without one)
        // in the current Tuv.
        bool matched = false;
        if (key.empty()) {
          while (utStarts.size() > tuvUtBase && utStarts.back().closed)
            utStarts.pop_back();
          if (utStarts.size() > tuvUtBase) {
            dropLastUtStart();
            matched = true;
          }
        } else if (const auto found = utOpenByDisplay.find(key);
                   found != utOpenByDisplay.end() && !found->second.empty() &&
                   found->second.back() >= tuvUtBase) {
          utStarts[found->second.back()].closed = true;
          found->second.pop_back();
          matched = true;
        }
        if (!matched) problem(at, kUtEndAlone, [] { return kKindWords[kUtEndAlone]; });
      }
    }
    if (!targetLang.empty() && name == u"Tu") {
      if (!endTag && !empty) {
        inTu = true;
        tuAt = at;
        tuHasTarget = false;
      } else if (endTag && inTu) {
        if (!tuHasTarget) {
          problem(tuAt, kTuWithoutTarget,
                  [&] { return "Tu without a Tuv in " + Utf16ToUtf8(targetLang); });
        }
        inTu = false;
      }
    }
    if (name == u"Tuv" && !empty) {
      // Placeholders pair within one Tuv: each Tuv is a text of its own.
      if (!endTag) {
        tuvUtBase = utStarts.size();
      } else {
        for (std::size_t k = tuvUtBase; k < utStarts.size(); ++k) {
          if (utStarts[k].closed) continue;
          problem(utStarts[k].at, kUtStartAlone, [] { return kKindWords[kUtStartAlone]; });
        }
        while (utStarts.size() > tuvUtBase)
          dropLastUtStart();
        tuvUtBase = 0;
      }
    }
    if (!targetLang.empty() && name == u"Tuv") {
      const std::u16string* lang = Attribute(element, u"Lang");
      if (!endTag && lang != nullptr && *lang == targetLang) {
        tuHasTarget = true;
        if (empty) {
          problem(at, kEmptyTarget, [&] { return "empty Tuv in " + Utf16ToUtf8(targetLang); });
        } else {
          inTargetTuv = true;
          targetTuvEmpty = true;
          tuvAt = at;
        }
      } else if (endTag && inTargetTuv) {
        if (targetTuvEmpty) {
          problem(tuvAt, kEmptyTarget, [&] { return "empty Tuv in " + Utf16ToUtf8(targetLang); });
        }
        inTargetTuv = false;
      }
    }

    if (empty) continue;
    if (!endTag) {
      openByName[name].push_back(open.size());
      open.push_back({name, at});
      continue;
    }
    const auto found = openByName.find(name);
    const std::size_t i =
        found == openByName.end() || found->second.empty() ? 0 : found->second.back() + 1;
    if (i == 0) {
      problem(at, kEndAlone,
              [&] { return "end tag </" + Utf16ToUtf8(name) + "> without a start tag"; });
      continue;
    }
    // Elements opened inside the one this tag closes were never closed.
    for (std::size_t j = open.size(); j > i; --j) {
      problem(open[j - 1].at, kNeverClosed, [&] {
        return "start tag <" + Utf16ToUtf8(open[j - 1].name) + "> never closed (</" +
               Utf16ToUtf8(name) + "> at " + At(at) + " closes its parent)";
      });
    }
    while (open.size() >= i) {
      openByName[open.back().name].pop_back();
      open.pop_back();
    }
  }
  storage.Close();
  for (const COpenElement& element : open) {
    problem(element.at, kNeverClosed,
            [&] { return "start tag <" + Utf16ToUtf8(element.name) + "> never closed"; });
  }
  for (const CUtStart& start : utStarts) {
    if (!start.closed) problem(start.at, kUtStartAlone, [] { return kKindWords[kUtStartAlone]; });
  }
  if (unlisted != nullptr) {
    for (int kind = 0; kind < kKinds; ++kind) {
      if (notListed[kind] != 0) unlisted->emplace_back(kKindWords[kind], notListed[kind]);
    }
  }
  return problems;
}

}  // namespace tagvert::cli
