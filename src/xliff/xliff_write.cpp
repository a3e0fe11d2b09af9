// Tagvert: the XLIFF writer: the IF cut into blocks, each block that holds text a unit whose
// tags are inline codes, everything else the skeleton.
// SPDX-License-Identifier: Apache-2.0
#include <cstring>
#include <unordered_map>
#include <vector>

#include "ifcodec/if_parser.h"
#include "ifcodec/if_tokens.h"
#include "storage/char_class.h"
#include "xliff/xliff_bridge.h"
#include "xliff/xliff_text.h"

namespace tagvert::xliff {

namespace {

/// How a code stands in its unit.
enum class Role : std::uint8_t { Standalone, Open, Close, IsolatedOpen, IsolatedClose };

/// A piece of a block: a run of text or a code (the IF units of a tag with its flags, its
/// skipped text and its reserve group; or anything else that is not text).
struct CPiece {
  std::size_t begin = 0;
  std::size_t end = 0;
  bool text = false;
  // Codes only.
  bool tag = false;                              ///< holds a tag group
  bool close = false;                            ///< an end tag (its group follows the end mark)
  char16_t pair = 0;                             ///< the tag group's pair id
  std::size_t displayBegin = 0, displayEnd = 0;  ///< the tag's source text
  Role role = Role::Standalone;
  int partner = -1;  ///< the other code of a pair within the unit
  bool crossing = false;
  std::uint32_t id = 0;
};

// A unit XML cannot carry, shown to the translator (1.2 code content, 2.0 attributes).
void AppendShown(std::string& out, char16_t unit) {
  out += "U+";
  out += Hex4(unit);
}
// The same in 2.0 data, which has an element for it.
void AppendCp(std::string& out, char16_t unit) {
  out += "<cp hex=\"";
  out += Hex4(unit);
  out += "\"/>";
}

std::string IdText(std::uint32_t id) {
  return std::to_string(id);
}

class CWriter {
 public:
  CWriter(std::u16string_view units, const CXliffHeader& header, const CXliffWriteOptions& options,
          std::string& out)
      : m_if(units),
        m_header(header),
        m_options(options),
        m_v2(options.version == XliffVersion::V2_0),
        m_skeleton(out) {}

  // The XLIFF: the skeleton is written into `out` as the IF is cut, the units beside it.
  std::size_t Write() {
    std::string& out = m_skeleton;
    out.reserve(m_if.size() + m_if.size() / 4 + 4096);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    std::string original;
    for (const char c : m_header.original) {
      switch (c) {
        case '&':
          original += "&amp;";
          break;
        case '<':
          original += "&lt;";
          break;
        case '"':
          original += "&quot;";
          break;
        default:
          original += static_cast<unsigned char>(c) < 0x20 ? '_' : c;
      }
    }
    if (m_v2) {
      out += "<xliff xmlns=\"urn:oasis:names:tc:xliff:document:2.0\" version=\"2.0\" srcLang=\"" +
             m_header.sourceLanguage + "\"";
      if (!m_header.targetLanguage.empty()) out += " trgLang=\"" + m_header.targetLanguage + "\"";
      out += ">\n<file id=\"f1\" original=\"" + original + "\">\n<skeleton><![CDATA[";
    } else {
      out +=
          "<xliff xmlns=\"urn:oasis:names:tc:xliff:document:1.2\" version=\"1.2\">\n<file "
          "original=\"" +
          original + "\" datatype=\"x-ttx\" source-language=\"" + m_header.sourceLanguage + "\"";
      if (!m_header.targetLanguage.empty())
        out += " target-language=\"" + m_header.targetLanguage + "\"";
      out +=
          " tool-id=\"tagvert\">\n<header>\n<skl><internal-file "
          "form=\"application/x-tagvert-if-skeleton\"><![CDATA[";
    }
    Cut();
    FlushBlock();
    m_plan.Raw(m_if.substr(m_skeletonPos));
    const std::string blocks = m_plan.Finish();
    const std::uint64_t planHash = HashBytes(blocks);
    char line[100];
    std::snprintf(line, sizeof line, "%s %016llX %016llX %010zu\n", kSkeletonMagic.data(),
                  static_cast<unsigned long long>(planHash),
                  static_cast<unsigned long long>(m_unitsHash), m_unitCount);
    out += line;
    AppendBase64(out, blocks);

    if (m_v2) {
      out += "]]></skeleton>\n";
      // A file needs a unit or a group: a document with nothing to translate gets an empty
      // group.
      out += m_unitCount == 0 ? "<group id=\"g1\"/>\n" : m_body;
      out += "</file>\n</xliff>\n";
    } else {
      out +=
          "]]></internal-file></skl>\n<tool tool-id=\"tagvert\" "
          "tool-name=\"tagvert\"/>\n</header>\n<body>\n";
      out += m_body;
      out += "</body>\n</file>\n</xliff>\n";
    }
    return m_unitCount;
  }

 private:
  // Cuts the IF into block tags (skeleton) and the content between them (pieces).
  void Cut() {
    CIfTokenReader reader;
    std::u16string_view rest = m_if;
    for (;;) {
      const std::size_t before = m_if.size() - rest.size();
      const CIfToken* token = reader.Next(rest);
      if (token == nullptr) break;
      Take(*token, before, m_if.size() - rest.size());
    }
    reader.Finish([&](const CIfToken& token) { Take(token, m_if.size(), m_if.size()); });
    if (m_codeOpen) EndCode(m_if.size());
  }

  void Take(const CIfToken& t, std::size_t begin, std::size_t end) {
    if (m_groupDone) {
      // A reserve group right after a tag group belongs to the tag.
      if (t.kind == IfTokenKind::GroupStart && t.code == kIfReserveGroup && !m_inTrailing) {
        m_inTrailing = true;
        return;
      }
      if (m_inTrailing && t.kind == IfTokenKind::GroupEnd) {
        m_inTrailing = false;
        EndCode(end);
        return;
      }
      if (!m_inTrailing) EndCode(begin);
    }
    if (t.kind == IfTokenKind::Text) {
      if (m_codeOpen) EndCode(begin);
      m_inBlockTag = false;
      AddText(begin, end);
      return;
    }
    if (t.kind == IfTokenKind::Flag && t.code == kIfBlock) {
      if (m_codeOpen) EndCode(begin);
      FlushBlock();
      m_inBlockTag = true;
      OpenCode(begin);
      return;
    }
    if (!m_codeOpen) OpenCode(begin);
    switch (t.kind) {
      case IfTokenKind::Flag:
        if (t.code == kIfEndTag) m_code.close = true;
        break;
      case IfTokenKind::GroupStart:
        if (t.code == kIfTagGroup && !m_code.tag) {
          m_code.tag = true;
          m_code.pair = t.dataCount > 0 ? t.data[0] : 0;
          m_inTag = true;
          m_code.displayBegin = m_code.displayEnd = end;
        }
        break;
      case IfTokenKind::GroupData:
        if (m_inTag) m_code.displayEnd = end;
        break;
      case IfTokenKind::GroupEnd:
        if (m_inTag) {
          m_inTag = false;
          m_groupDone = true;
          m_codeEnd = end;
        }
        break;
      default:
        break;
    }
  }

  void OpenCode(std::size_t begin) {
    m_code = CPiece();
    m_code.begin = begin;
    m_codeOpen = true;
    m_groupDone = false;
    m_inTrailing = false;
  }

  void EndCode(std::size_t end) {
    m_codeOpen = false;
    m_groupDone = false;
    m_inTrailing = false;
    m_code.end = end;
    if (m_inBlockTag) {
      NoteBlockTag(m_code);
      m_inBlockTag = false;
      m_blockBegin = end;
      return;
    }
    m_pieces.push_back(m_code);
  }

  void AddText(std::size_t begin, std::size_t end) {
    // Units that XML cannot carry become codes of their own.
    const std::u16string_view s = m_if.substr(0, end);
    std::size_t start = begin;
    for (std::size_t i = begin; i < end; ++i) {
      if (XmlCarries(s, i)) continue;
      if (i > start) PushText(start, i);
      CPiece code;
      code.begin = i;
      code.end = i + 1;
      code.displayBegin = i;
      code.displayEnd = i + 1;
      m_pieces.push_back(code);
      start = i + 1;
    }
    if (end > start) PushText(start, end);
  }

  void PushText(std::size_t begin, std::size_t end) {
    if (!m_pieces.empty() && m_pieces.back().text && m_pieces.back().end == begin) {
      m_pieces.back().end = end;
    } else {
      CPiece text;
      text.begin = begin;
      text.end = end;
      text.text = true;
      m_pieces.push_back(text);
    }
    for (std::size_t i = begin; i < end && !m_hasWords; ++i) {
      if (!CharIsSpace(m_if[i])) m_hasWords = true;
    }
  }

  // Follows the Tu and Tuv tags around the units for the note on the source-language text.
  void NoteBlockTag(const CPiece& code) {
    const std::u16string_view shown = Display(code);
    m_lastBlockTag = shown;
    if (shown.starts_with(u"<Tu ") || shown.starts_with(u"<Tu>")) {
      m_sourceTuv = {};
    } else if (shown.starts_with(u"<Tuv") && shown.ends_with(u"</Tuv>")) {
      const std::size_t open = shown.find(u'>');
      if (open != std::u16string_view::npos && open + 1 <= shown.size() - 6)
        m_sourceTuv = shown.substr(open + 1, shown.size() - 6 - open - 1);
    }
  }

  std::u16string_view Display(const CPiece& code) const {
    return m_if.substr(code.displayBegin, code.displayEnd - code.displayBegin);
  }

  // Ends the content between two block tags: a unit when it holds more than white space.
  void FlushBlock() {
    if (m_hasWords && !m_pieces.empty()) WriteUnit();
    m_pieces.clear();
    m_hasWords = false;
  }

  void WriteUnit() {
    const std::size_t begin = m_pieces.front().begin;
    const std::size_t end = m_pieces.back().end;
    const std::size_t number = ++m_unitCount;
    Pair();
    m_plan.Raw(m_if.substr(m_skeletonPos, begin - m_skeletonPos));
    m_skeletonPos = end;
    // The unit's codes in the plan; its source as the XLIFF gives it in the units' hash.
    m_plan.BeginUnit();
    CHash64 hash;
    for (const CPiece& piece : m_pieces) {
      const std::u16string_view units = m_if.substr(piece.begin, piece.end - piece.begin);
      if (piece.text) {
        hash.Add(units);
        continue;
      }
      hash.AddCode(static_cast<int>(piece.role), IdText(piece.id));
      m_plan.Code(units);
    }
    m_plan.EndUnit();
    m_unitsHash = FoldUnitHash(m_unitsHash, number, hash.Value());

    std::string content;
    if (m_v2) {
      Content2(content);
    } else {
      Content12(content);
    }
    std::u16string note = SourceNote();
    const std::string id = std::to_string(number);
    if (m_v2) {
      m_body += "<unit id=\"" + id + "\" xml:space=\"preserve\">";
      if (!note.empty()) {
        m_body += "<notes><note category=\"source-language-text\">";
        AppendXml(m_body, note, false, &AppendShown);
        m_body += "</note></notes>";
      }
      OriginalData(m_body);
      m_body += "<segment><source>" + content + "</source>";
      if (m_options.copySource) m_body += "<target>" + content + "</target>";
      m_body += "</segment></unit>\n";
    } else {
      m_body +=
          "<trans-unit id=\"" + id + "\" xml:space=\"preserve\"><source>" + content + "</source>";
      if (m_options.copySource) m_body += "<target>" + content + "</target>";
      if (!note.empty()) {
        m_body += "<note annotates=\"source\" from=\"source-language-text\">";
        AppendXml(m_body, note, false, &AppendShown);
        m_body += "</note>";
      }
      m_body += "</trans-unit>\n";
    }
  }

  // The source-language Tuv's text, when the unit is a target-language Tuv that differs.
  std::u16string SourceNote() const {
    if (m_sourceTuv.empty() || !m_lastBlockTag.starts_with(u"<Tuv")) return {};
    std::u16string source = PlainText(m_sourceTuv);
    std::u16string target;
    for (const CPiece& piece : m_pieces) {
      if (piece.text) target += m_if.substr(piece.begin, piece.end - piece.begin);
    }
    auto trim = [](std::u16string_view s) {
      while (!s.empty() && CharIsSpace(s.front()))
        s.remove_prefix(1);
      while (!s.empty() && CharIsSpace(s.back()))
        s.remove_suffix(1);
      return s;
    };
    if (trim(source) == trim(target) || trim(source).empty()) return {};
    return source;
  }

  // Pairs the unit's tags, finds the pairs that cross others and numbers the codes.
  void Pair() {
    std::unordered_map<char16_t, std::vector<int>> open;
    for (int i = 0; i < static_cast<int>(m_pieces.size()); ++i) {
      CPiece& p = m_pieces[static_cast<std::size_t>(i)];
      if (p.text || !p.tag || p.pair == 0) continue;
      if (!p.close) {
        open[p.pair].push_back(i);
        p.role = Role::IsolatedOpen;
        continue;
      }
      std::vector<int>& starts = open[p.pair];
      if (starts.empty()) {
        p.role = Role::IsolatedClose;
        continue;
      }
      p.partner = starts.back();
      starts.pop_back();
      p.role = Role::Close;
      CPiece& start = m_pieces[static_cast<std::size_t>(p.partner)];
      start.role = Role::Open;
      start.partner = i;
    }
    // Pairs that do not nest within the others cross them: a stack of open pairs.
    std::vector<int> stack;
    for (int i = 0; i < static_cast<int>(m_pieces.size()); ++i) {
      CPiece& p = m_pieces[static_cast<std::size_t>(i)];
      if (p.role == Role::Open) {
        stack.push_back(i);
      } else if (p.role == Role::Close && !m_pieces[static_cast<std::size_t>(p.partner)].crossing) {
        if (stack.back() != p.partner) {
          for (;;) {
            const int top = stack.back();
            stack.pop_back();
            CPiece& q = m_pieces[static_cast<std::size_t>(top)];
            q.crossing = true;
            if (top == p.partner) break;
          }
        } else {
          stack.pop_back();
        }
      }
    }
    std::uint32_t next = 0;
    for (CPiece& p : m_pieces) {
      if (p.text) continue;
      if (p.role == Role::Close) {
        const CPiece& start = m_pieces[static_cast<std::size_t>(p.partner)];
        p.id = start.id;
        p.crossing = start.crossing;
      } else {
        p.id = ++next;
      }
    }
  }

  // What a code shows the translator: the tag's markup; for a `ut` placeholder the markup of
  // the source document it stands for (its content, references resolved), as "<b>".
  std::u16string Shown(const CPiece& p) const {
    const std::u16string_view tag = Display(p);
    if (tag.starts_with(u"<ut") && tag.size() > 3 && (tag[3] == u' ' || tag[3] == u'>') &&
        tag.ends_with(u"</ut>")) {
      const std::size_t open = tag.find(u'>');
      if (open + 1 < tag.size() - 5)
        return PlainText(tag.substr(open + 1, tag.size() - 5 - open - 1));
    }
    return std::u16string(tag);
  }

  void AppendDisplay(std::string& out, const CPiece& p, bool attribute) const {
    AppendXml(out, Shown(p), attribute, &AppendShown);
  }

  void Content12(std::string& out) const {
    for (const CPiece& p : m_pieces) {
      if (p.text) {
        AppendXml(out, m_if.substr(p.begin, p.end - p.begin), false, &AppendShown);
        continue;
      }
      const std::string id = IdText(p.id);
      const char* element = "ph";
      switch (p.role) {
        case Role::Open:
          out += "<bpt id=\"" + id + "\">";
          element = "bpt";
          break;
        case Role::Close:
          out += "<ept id=\"" + id + "\">";
          element = "ept";
          break;
        case Role::IsolatedOpen:
          out += "<it id=\"" + id + "\" pos=\"open\">";
          element = "it";
          break;
        case Role::IsolatedClose:
          out += "<it id=\"" + id + "\" pos=\"close\">";
          element = "it";
          break;
        case Role::Standalone:
          out += "<ph id=\"" + id + "\">";
          break;
      }
      AppendDisplay(out, p, false);
      out += "</";
      out += element;
      out += '>';
    }
  }

  // The data id of the code at `index` of the unit's pieces.
  static std::string DataId(std::size_t index) {
    std::string id = std::to_string(index + 1);
    id.insert(id.begin(), 'd');
    return id;
  }

  void Content2(std::string& out) const {
    for (std::size_t i = 0; i < m_pieces.size(); ++i) {
      const CPiece& p = m_pieces[i];
      if (p.text) {
        AppendXml(out, m_if.substr(p.begin, p.end - p.begin), false, &AppendShown);
        continue;
      }
      const std::string id = IdText(p.id);
      const std::string data = DataId(i);
      std::string disp = " disp=\"";
      AppendDisplay(disp, p, true);
      disp += '"';
      switch (p.role) {
        case Role::Open:
          if (p.crossing) {
            out += "<sc id=\"" + id + "\" dataRef=\"" + data + "\"" + disp + "/>";
          } else {
            std::string end = " dispEnd=\"";
            AppendDisplay(end, m_pieces[static_cast<std::size_t>(p.partner)], true);
            out += "<pc id=\"" + id + "\" dataRefStart=\"" + data + "\" dataRefEnd=\"" +
                   DataId(static_cast<std::size_t>(p.partner)) + "\" dispStart=\"" +
                   disp.substr(7) + end + "\">";
          }
          break;
        case Role::Close:
          out += p.crossing ? "<ec startRef=\"" + id + "\" dataRef=\"" + data + "\"" + disp + "/>"
                            : std::string("</pc>");
          break;
        case Role::IsolatedOpen:
          out += "<sc id=\"" + id + "\" isolated=\"yes\" dataRef=\"" + data + "\"" + disp + "/>";
          break;
        case Role::IsolatedClose:
          out += "<ec id=\"" + id + "\" isolated=\"yes\" dataRef=\"" + data + "\"" + disp + "/>";
          break;
        case Role::Standalone:
          out += "<ph id=\"" + id + "\" dataRef=\"" + data + "\"" + disp + "/>";
          break;
      }
    }
  }

  void OriginalData(std::string& out) const {
    bool any = false;
    for (std::size_t i = 0; i < m_pieces.size(); ++i) {
      const CPiece& p = m_pieces[i];
      if (p.text) continue;
      if (!any) out += "<originalData>";
      any = true;
      out += "<data id=\"" + DataId(i) + "\">";
      AppendXml(out, Shown(p), false, &AppendCp);
      out += "</data>";
    }
    if (any) out += "</originalData>";
  }

  std::u16string_view m_if;
  const CXliffHeader& m_header;
  const CXliffWriteOptions& m_options;
  bool m_v2;

  // The code being read.
  CPiece m_code;
  bool m_codeOpen = false;
  bool m_inTag = false;       ///< inside the code's tag group
  bool m_groupDone = false;   ///< the code's tag group has ended: a reserve group may follow
  bool m_inTrailing = false;  ///< inside that reserve group
  std::size_t m_codeEnd = 0;
  bool m_inBlockTag = false;  ///< the code is a block tag (skeleton)
  std::size_t m_blockBegin = 0;

  // The content since the last block tag.
  std::vector<CPiece> m_pieces;
  bool m_hasWords = false;
  std::u16string_view m_lastBlockTag;
  std::u16string_view m_sourceTuv;

  std::size_t m_skeletonPos = 0;
  std::size_t m_unitCount = 0;
  CPlanWriter m_plan;
  std::uint64_t m_unitsHash = 0;
  std::string& m_skeleton;  ///< the XLIFF being written, up to the skeleton's end
  std::string m_body;
};

// The value of `name="..."` within `tag`, empty when it has none.
std::u16string Attribute(std::u16string_view tag, std::u16string_view name) {
  std::size_t at = 0;
  while ((at = tag.find(name, at)) != std::u16string_view::npos) {
    const std::size_t eq = at + name.size();
    if (at > 0 && CharIsSpace(tag[at - 1]) && eq + 1 < tag.size() && tag[eq] == u'=' &&
        (tag[eq + 1] == u'"' || tag[eq + 1] == u'\'')) {
      const std::size_t close = tag.find(tag[eq + 1], eq + 2);
      if (close == std::u16string_view::npos) return {};
      return std::u16string(tag.substr(eq + 2, close - eq - 2));
    }
    at = eq;
  }
  return {};
}

}  // namespace

void FrontMatterLanguages(std::u16string_view units, std::u16string& source,
                          std::u16string& target) {
  const std::size_t at = units.find(u"<UserSettings");
  if (at == std::u16string_view::npos) return;
  std::size_t end = units.find(u'>', at);
  if (end == std::u16string_view::npos) end = units.size();
  const std::u16string_view tag = units.substr(at, end - at);
  source = Attribute(tag, u"SourceLanguage");
  target = Attribute(tag, u"TargetLanguage");
}

std::u16string PlainText(std::u16string_view markup) {
  std::u16string text;
  for (std::size_t i = 0; i < markup.size();) {
    const char16_t u = markup[i];
    if (u == u'<') {
      // A placeholder's content is the markup it stands for, not text.
      if (markup.substr(i).starts_with(u"<ut") && i + 3 < markup.size() &&
          (markup[i + 3] == u' ' || markup[i + 3] == u'>')) {
        const std::size_t close = markup.find(u"</ut>", i);
        const std::size_t empty = markup.find(u'>', i);
        if (empty != std::u16string_view::npos && empty > 0 && markup[empty - 1] == u'/') {
          i = empty + 1;
        } else {
          i = close == std::u16string_view::npos ? markup.size() : close + 5;
        }
        continue;
      }
      const std::size_t close = markup.find(u'>', i);
      i = close == std::u16string_view::npos ? markup.size() : close + 1;
      continue;
    }
    if (u == u'&') {
      const std::size_t semi = markup.find(u';', i);
      if (semi != std::u16string_view::npos && semi - i <= 10) {
        const std::u16string_view name = markup.substr(i + 1, semi - i - 1);
        char32_t c = 0;
        if (name == u"lt")
          c = u'<';
        else if (name == u"gt")
          c = u'>';
        else if (name == u"amp")
          c = u'&';
        else if (name == u"quot")
          c = u'"';
        else if (name == u"apos")
          c = u'\'';
        else if (name.size() > 1 && name[0] == u'#') {
          const bool hex = name[1] == u'x' || name[1] == u'X';
          for (std::size_t k = hex ? 2 : 1; k < name.size(); ++k) {
            const char16_t d = name[k];
            const int v = d >= u'0' && d <= u'9'          ? d - u'0'
                          : hex && d >= u'a' && d <= u'f' ? d - u'a' + 10
                          : hex && d >= u'A' && d <= u'F' ? d - u'A' + 10
                                                          : -1;
            if (v < 0 || c > 0x10FFFF) {
              c = 0;
              break;
            }
            c = c * (hex ? 16 : 10) + static_cast<char32_t>(v);
          }
        }
        if (c != 0 && c <= 0x10FFFF) {
          if (c >= 0x10000) {
            text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
          } else {
            text += static_cast<char16_t>(c);
          }
          i = semi + 1;
          continue;
        }
      }
    }
    text += u;
    ++i;
  }
  return text;
}

std::size_t WriteXliff(std::u16string_view units, const CXliffHeader& header,
                       const CXliffWriteOptions& options, std::string& out) {
  CWriter writer(units, header, options, out);
  return writer.Write();
}

}  // namespace tagvert::xliff
