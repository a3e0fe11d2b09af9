// Tagvert: problems of a TTX document a translator wants to know before sending it out.
// SPDX-License-Identifier: Apache-2.0
#include "cli/document_check.h"

#include <algorithm>
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
  storage.Open(CEndpoint::Stream(source), CEndpoint());
  COrvelSgmlParser reader(&storage, kSgmlDetectInput);

  CPosition here;
  std::vector<COpenElement> open;
  // Open ut placeholders: where each began and its DisplayText, which an end repeats.
  struct CUtStart {
    CPosition at;
    std::u16string display;
  };
  std::vector<CUtStart> utStarts;
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
        utStarts.push_back({at, key});
      } else if (type != nullptr && *type == u"end") {
        // The end closes the latest open start of the same display text (of any, without one).
        std::size_t k = utStarts.size();
        while (!key.empty() && k > tuvUtBase && utStarts[k - 1].display != key)
          --k;
        if (k <= tuvUtBase) {
          problem(at, kUtEndAlone, [] { return kKindWords[kUtEndAlone]; });
        } else {
          utStarts.erase(utStarts.begin() + static_cast<std::ptrdiff_t>(k - 1));
        }
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
          problem(utStarts[k].at, kUtStartAlone, [] { return kKindWords[kUtStartAlone]; });
        }
        utStarts.resize(std::min(tuvUtBase, utStarts.size()));
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
      open.push_back({name, at});
      continue;
    }
    std::size_t i = open.size();
    while (i > 0 && open[i - 1].name != name)
      --i;
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
    open.resize(i - 1);
  }
  storage.Close();
  for (const COpenElement& element : open) {
    problem(element.at, kNeverClosed,
            [&] { return "start tag <" + Utf16ToUtf8(element.name) + "> never closed"; });
  }
  for (const CUtStart& start : utStarts) {
    problem(start.at, kUtStartAlone, [] { return kKindWords[kUtStartAlone]; });
  }
  if (unlisted != nullptr) {
    for (int kind = 0; kind < kKinds; ++kind) {
      if (notListed[kind] != 0) unlisted->emplace_back(kKindWords[kind], notListed[kind]);
    }
  }
  return problems;
}

}  // namespace tagvert::cli
