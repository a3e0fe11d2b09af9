// Tagvert: the XLIFF merge: the XLIFF read with expat, its skeleton decoded, each unit's target
// (or source) put back in the unit's place, the codes mapped back to their IF by id.
// SPDX-License-Identifier: Apache-2.0
#include <expat.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <optional>
#include <unordered_map>

#include "xliff/xliff_bridge.h"
#include "xliff/xliff_text.h"

namespace tagvert::xliff {

namespace {

constexpr std::string_view kNs12 = "urn:oasis:names:tc:xliff:document:1.2";
constexpr std::string_view kNs20 = "urn:oasis:names:tc:xliff:document:2.0";
constexpr char kNsSeparator = '|';

enum class Role : std::uint8_t { Standalone, Open, Close, IsolatedOpen, IsolatedClose, Unknown };

// An inline code of a source or target as the XLIFF names it.
struct CCodeRef {
  Role role = Role::Unknown;
  std::string id;
  std::string element;  ///< its element, for messages
};

// A source or target: text runs and codes in order.
struct CSide {
  std::u16string text;            ///< every text run, one after the other
  std::vector<std::size_t> cuts;  ///< where each code stands in `text`
  std::vector<CCodeRef> codes;
  bool Empty() const { return text.empty() && codes.empty(); }
  void Append(const CSide& other) {
    for (const std::size_t cut : other.cuts)
      cuts.push_back(text.size() + cut);
    text += other.text;
    codes.insert(codes.end(), other.codes.begin(), other.codes.end());
  }
  bool operator==(const CSide& o) const {
    if (text != o.text || cuts != o.cuts || codes.size() != o.codes.size()) return false;
    for (std::size_t i = 0; i < codes.size(); ++i) {
      if (codes[i].role != o.codes[i].role || codes[i].id != o.codes[i].id) return false;
    }
    return true;
  }
};

// A unit of the skeleton and what the XLIFF gave for it.
struct CUnit {
  std::vector<std::u16string> codes;  ///< the IF of each code, in source order
  bool seen = false;
  std::u16string target;        ///< the IF that takes the unit's place
  std::u16string source;        ///< the IF of its source (for the fingerprint)
  bool sourceIsTarget = false;  ///< untranslated: `target` is the source
};

std::string Position(XML_Parser parser) {
  return "line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ", column " +
         std::to_string(XML_GetCurrentColumnNumber(parser) + 1);
}

// The source text of the tag in a code's IF, for messages.
std::string Shown(std::u16string_view code) {
  std::size_t at = code.find(u'\xE805');
  std::u16string_view shown;
  if (at != std::u16string_view::npos && at + 2 <= code.size()) {
    shown = code.substr(at + 2);
    std::size_t end = 0;
    while (end < shown.size() && (shown[end] & 0xF000) != 0xE000)
      ++end;
    shown = shown.substr(0, end);
  }
  std::string out;
  for (const char16_t u : shown.substr(0, 40)) {
    if (u >= 0x20 && u < 0x7F) {
      out += static_cast<char>(u);
    } else {
      AppendUtf8(out, u < 0x20 || (u >= 0xD800 && u <= 0xDFFF) ? char16_t(0xFFFD) : u);
    }
  }
  if (shown.size() > 40) out += "...";
  return out;
}

class CMerge {
 public:
  CMerge(XML_Parser parser, const CXliffReadOptions& options)
      : m_parser(parser), m_options(options) {}

  static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char** attributes) {
    static_cast<CMerge*>(self)->Guard([&] { static_cast<CMerge*>(self)->Start(name, attributes); });
  }
  static void XMLCALL OnEnd(void* self, const XML_Char* name) {
    static_cast<CMerge*>(self)->Guard([&] { static_cast<CMerge*>(self)->End(name); });
  }
  static void XMLCALL OnText(void* self, const XML_Char* text, int length) {
    static_cast<CMerge*>(self)->Guard([&] {
      static_cast<CMerge*>(self)->Text(std::string_view(text, static_cast<std::size_t>(length)));
    });
  }

  /// The error that stopped the parse, empty when none did.
  const std::string& Error() const { return m_error; }
  HResult ErrorCode() const { return m_errorCode; }

  /// After the whole XLIFF: checks that every unit came and that the sources rebuild the
  /// document's IF, and gives the merged IF.
  void Finish(CMergeResult& result, std::u16string* source) {
    if (!m_skeletonDone) {
      Fail("the XLIFF holds no tagvert skeleton (it was not written by 'tagvert to-xliff')",
           m_endPosition);
    }
    for (std::size_t i = 0; i < m_units.size(); ++i) {
      if (!m_units[i].seen) {
        Fail("unit " + std::to_string(i + 1) + " of the skeleton is missing", m_endPosition);
      }
    }
    CFingerprint fingerprint;
    std::size_t at = 0;
    for (std::size_t i = 0; i < m_units.size(); ++i) {
      const CUnit& unit = m_units[i];
      const std::u16string_view raw = std::u16string_view(m_raw).substr(at, m_rawCuts[i] - at);
      const std::u16string& unitSource = unit.sourceIsTarget ? unit.target : unit.source;
      fingerprint.Add(raw);
      fingerprint.Add(unitSource);
      if (source != nullptr) {
        *source += raw;
        *source += unitSource;
      }
      at = m_rawCuts[i];
    }
    fingerprint.Add(std::u16string_view(m_raw).substr(at));
    if (source != nullptr) *source += std::u16string_view(m_raw).substr(at);
    if (fingerprint.Value() != m_fingerprint) {
      Fail(
          "the units do not rebuild the document the skeleton was made from (units from "
          "another document, or sources changed)",
          m_skeletonPosition);
    }
    if (!m_damage.empty() && m_options.strict) {
      std::string sentence = m_options.name + ": tag damage (--strict), " + m_damage.front();
      if (m_damage.size() > 1)
        sentence += " (and " + std::to_string(m_damage.size() - 1) + " more)";
      m_errorCode = kEXliffTagDamage;
      throw CXliffError{kEXliffTagDamage, sentence + "; no output was written."};
    }
    for (const std::string& damage : m_damage)
      result.warnings.push_back(m_options.name + ": " + damage + ".");
    for (const std::string& note : m_notes)
      result.warnings.push_back(m_options.name + ": " + note + ".");
    result.units_ = m_units.size();
    result.translated = m_translated;
    result.raw = std::move(m_raw);
    result.cuts = std::move(m_rawCuts);
    result.targets.reserve(m_units.size());
    for (CUnit& unit : m_units)
      result.targets.push_back(std::move(unit.target));
    m_units.clear();
  }

  void SetEndPosition() { m_endPosition = Position(m_parser); }

 private:
  template <typename F>
  void Guard(F&& f) {
    if (!m_error.empty()) return;
    try {
      f();
    } catch (const CXliffError& e) {
      m_error = e.message;
      m_errorCode = e.code;
      XML_StopParser(m_parser, XML_FALSE);
    } catch (const std::bad_alloc&) {
      m_error = "out of memory";
      m_errorCode = kEOutOfMemory;
      XML_StopParser(m_parser, XML_FALSE);
    }
  }

  [[noreturn]] void Fail(const std::string& what, const std::string& position) const {
    throw CXliffError{kEXliffRefused, m_options.name + ", " + position + ": " + what + "."};
  }
  [[noreturn]] void Fail(const std::string& what) const { Fail(what, Position(m_parser)); }

  static const char* Attribute(const XML_Char** attributes, const char* name) {
    for (std::size_t i = 0; attributes[i] != nullptr; i += 2) {
      if (std::strcmp(attributes[i], name) == 0) return attributes[i + 1];
    }
    return nullptr;
  }

  // The local name of an element of the XLIFF namespace; empty for any other element.
  std::string_view Local(const XML_Char* name) const {
    const std::string_view full(name);
    const std::size_t bar = full.rfind(kNsSeparator);
    if (bar == std::string_view::npos) return {};
    if (full.substr(0, bar) != (m_v2 ? kNs20 : kNs12)) return {};
    return full.substr(bar + 1);
  }

  void Start(const XML_Char* name, const XML_Char** attributes) {
    ++m_depth;
    if (m_depth == 1) {
      Root(name, attributes);
      return;
    }
    const std::string_view local = Local(name);
    if (m_ignoreDepth != 0) return;
    if (m_side != nullptr) {
      Inline(local, attributes);
      return;
    }
    const std::string parent = m_stack.empty() ? std::string() : m_stack.back();
    m_stack.emplace_back(local);
    if (local == "file") {
      if (++m_files > 1) Fail("the XLIFF holds more than one file; tagvert writes one");
    } else if ((!m_v2 && local == "internal-file" && parent == "skl") ||
               (m_v2 && local == "skeleton" && parent == "file")) {
      if (m_skeletonStarted) Fail("the XLIFF holds a second skeleton");
      m_skeletonStarted = true;
      m_inSkeleton = true;
      m_skeletonPosition = Position(m_parser);
    } else if ((!m_v2 && local == "trans-unit") || (m_v2 && local == "unit")) {
      BeginUnit(attributes);
    } else if (m_unit != nullptr && !m_v2 && parent == "trans-unit" &&
               (local == "source" || local == "target")) {
      BeginSide(local == "target");
    } else if (m_unit != nullptr && m_v2 && (local == "segment" || local == "ignorable") &&
               parent == "unit") {
      m_segment = {};
    } else if (m_unit != nullptr && m_v2 && (parent == "segment" || parent == "ignorable") &&
               (local == "source" || local == "target")) {
      BeginSide(local == "target");
    } else if (m_unit != nullptr && !local.empty() &&
               (local == "alt-trans" || local == "seg-source" || local == "note" ||
                local == "notes" || local == "originalData" || local == "context-group")) {
      // What the translator saw or a tool added besides the unit's text: not merged.
      m_ignoreDepth = m_depth;
      m_stack.pop_back();
    }
  }

  void End(const XML_Char* name) {
    const int depth = m_depth--;
    if (m_ignoreDepth != 0) {
      if (depth == m_ignoreDepth) m_ignoreDepth = 0;
      return;
    }
    if (m_side != nullptr) {
      if (depth > m_sideDepth) {
        InlineEnd(Local(name), depth);
        return;
      }
      EndSide();
    }
    if (m_stack.empty()) return;
    const std::string local = m_stack.back();
    m_stack.pop_back();
    if (m_inSkeleton && (local == "internal-file" || local == "skeleton")) {
      m_inSkeleton = false;
      EndSkeleton();
    } else if (m_v2 && (local == "segment" || local == "ignorable") && m_unit != nullptr) {
      m_unitSource.Append(m_segment.source);
      if (m_segment.hasTarget) {
        m_unitTarget.Append(m_segment.target);
        m_anyTarget = true;
      } else {
        m_unitTarget.Append(m_segment.source);
      }
    } else if ((local == "trans-unit" || local == "unit") && m_unit != nullptr) {
      if (!m_v2) {
        m_unitSource = m_segment.source;
        m_unitTarget = m_segment.hasTarget ? m_segment.target : m_segment.source;
        m_anyTarget = m_segment.hasTarget;
      }
      EndUnit();
    }
  }

  void Root(const XML_Char* name, const XML_Char** attributes) {
    const std::string_view full(name);
    const char* version = Attribute(attributes, "version");
    const std::string v = version ? version : "";
    if (full == std::string(kNs12) + kNsSeparator + "xliff" && v == "1.2") {
      m_v2 = false;
    } else if (full == std::string(kNs20) + kNsSeparator + "xliff" && v == "2.0") {
      m_v2 = true;
    } else {
      const std::size_t bar = full.rfind(kNsSeparator);
      const std::string_view local = bar == std::string_view::npos ? full : full.substr(bar + 1);
      if (local == "xliff") {
        Fail("the XLIFF is of version '" + v +
             "' (or in another namespace); tagvert reads 1.2 and 2.0");
      }
      Fail("the file is not XLIFF (its root element is <" + std::string(local) + ">)");
    }
  }

  void BeginUnit(const XML_Char** attributes) {
    if (!m_skeletonDone)
      Fail("the XLIFF has no skeleton before its units (it was not written by 'tagvert to-xliff')");
    const char* id = Attribute(attributes, "id");
    const std::string text = id ? id : "";
    std::size_t number = 0;
    bool digits = !text.empty() && text.size() <= 9 && text[0] != '0';
    for (const char c : text) {
      if (c < '0' || c > '9')
        digits = false;
      else
        number = number * 10 + static_cast<std::size_t>(c - '0');
    }
    if (!digits || number == 0 || number > m_units.size()) {
      Fail("unit id '" + text + "' is unknown: the skeleton has units 1 to " +
           std::to_string(m_units.size()));
    }
    m_unitNumber = number;
    m_unit = &m_units[number - 1];
    if (m_unit->seen) Fail("unit id '" + text + "' is doubled");
    m_unit->seen = true;
    m_unitSource = {};
    m_unitTarget = {};
    m_segment = {};
    m_anyTarget = false;
  }

  void BeginSide(bool target) {
    m_side = target ? &m_segment.target : &m_segment.source;
    if (target) m_segment.hasTarget = true;
    *m_side = {};
    m_sideDepth = m_depth;
    m_codeDepth = 0;
    m_pcIds.clear();
  }

  void EndSide() {
    if (m_side == &m_segment.target && m_segment.target.Empty()) m_segment.hasTarget = false;
    m_side = nullptr;
  }

  void AddCode(Role role, const char* id, std::string_view element) {
    CCodeRef code;
    code.role = role;
    code.id = id ? id : "";
    code.element = std::string(element);
    m_side->cuts.push_back(m_side->text.size());
    m_side->codes.push_back(std::move(code));
  }

  void Inline(std::string_view local, const XML_Char** attributes) {
    if (m_codeDepth != 0) return;  // inside a code's shown content (1.2) or a sub-flow
    const char* id = Attribute(attributes, "id");
    if (!m_v2) {
      if (local == "bpt" || local == "ept" || local == "ph" || local == "it") {
        Role role = local == "bpt" ? Role::Open : local == "ept" ? Role::Close : Role::Standalone;
        if (local == "it") {
          const char* pos = Attribute(attributes, "pos");
          role = pos && std::strcmp(pos, "close") == 0 ? Role::IsolatedClose : Role::IsolatedOpen;
        }
        AddCode(role, id, local);
        m_codeDepth = m_depth;
      } else if (local == "mrk") {
        // A marker around text: its text is the unit's.
      } else {
        AddCode(Role::Unknown, id, local.empty() ? "foreign element" : local);
      }
      return;
    }
    if (local == "pc") {
      AddCode(Role::Open, id, local);
      m_pcIds.emplace_back(m_depth, id ? id : "");
    } else if (local == "sc" || local == "ec") {
      const char* isolated = Attribute(attributes, "isolated");
      const bool alone = isolated && std::strcmp(isolated, "yes") == 0;
      if (local == "sc") {
        AddCode(alone ? Role::IsolatedOpen : Role::Open, id, local);
      } else {
        AddCode(alone ? Role::IsolatedClose : Role::Close,
                alone ? id : Attribute(attributes, "startRef"), local);
      }
    } else if (local == "ph") {
      AddCode(Role::Standalone, id, local);
    } else if (local == "cp") {
      const char* hex = Attribute(attributes, "hex");
      unsigned long value = hex ? std::strtoul(hex, nullptr, 16) : 0;
      if (value > 0x10FFFF) value = 0xFFFD;
      if (value >= 0x10000) {
        value -= 0x10000;
        m_side->text += static_cast<char16_t>(0xD800 + (value >> 10));
        m_side->text += static_cast<char16_t>(0xDC00 + (value & 0x3FF));
      } else {
        m_side->text += static_cast<char16_t>(value);
      }
    } else if (local == "mrk" || local == "sm" || local == "em") {
      // Annotations: the text they mark stays the unit's.
    } else {
      AddCode(Role::Unknown, id, local.empty() ? "foreign element" : local);
    }
  }

  void InlineEnd(std::string_view local, int depth) {
    if (m_codeDepth != 0) {
      if (depth == m_codeDepth) m_codeDepth = 0;
      return;
    }
    if (m_v2 && local == "pc" && !m_pcIds.empty() && m_pcIds.back().first == depth) {
      AddCode(Role::Close, m_pcIds.back().second.c_str(), "pc");
      m_pcIds.pop_back();
    }
  }

  void Text(std::string_view text) {
    if (m_ignoreDepth != 0) return;
    if (m_inSkeleton) {
      SkeletonText(text);
      return;
    }
    if (m_side != nullptr && m_codeDepth == 0) AppendUtf16(m_side->text, text);
  }

  // The skeleton's text: runs between escapes go in bulk where they belong.
  void SkeletonText(std::string_view text) {
    m_buffer.clear();
    AppendUtf16(m_buffer, text);
    std::u16string_view rest = m_buffer;
    while (!rest.empty()) {
      if (!m_headerDone || m_escape != EscapeState::None) {
        Skeleton(rest.front());
        rest.remove_prefix(1);
        continue;
      }
      const std::size_t run = std::min(rest.find(kEscape), rest.size());
      if (run > 0) {
        if (!m_unitOpen) {
          m_raw += rest.substr(0, run);
        } else {
          if (m_units.back().codes.empty()) Damaged();
          m_units.back().codes.back() += rest.substr(0, run);
        }
        rest.remove_prefix(run);
      }
      if (!rest.empty()) {
        m_escape = EscapeState::After;
        rest.remove_prefix(1);
      }
    }
  }

  // The skeleton, one unit at a time (escapes may be cut between calls).
  void Skeleton(char16_t u) {
    if (!m_headerDone) {
      if (u != u'\n') {
        if (m_header.size() > 200) Fail("the skeleton was not written by tagvert");
        m_header += static_cast<char>(u < 0x80 ? u : '?');
        return;
      }
      ReadHeader();
      return;
    }
    switch (m_escape) {
      case EscapeState::None:
        if (u == kEscape) {
          m_escape = EscapeState::After;
        } else {
          Put(u);
        }
        return;
      case EscapeState::After:
        if (u == u'x') {
          m_escape = EscapeState::Hex;
          m_hexLeft = 4;
          m_hexValue = 0;
        } else if (u == u'[') {
          if (m_unitOpen) Damaged();
          m_escape = EscapeState::Number;
          m_number = 0;
        } else if (u == u'|') {
          if (!m_unitOpen) Damaged();
          m_units.back().codes.emplace_back();
          m_escape = EscapeState::None;
        } else if (u == u']') {
          if (!m_unitOpen) Damaged();
          m_unitOpen = false;
          m_rawCuts.push_back(m_raw.size());
          m_escape = EscapeState::None;
        } else {
          Damaged();
        }
        return;
      case EscapeState::Hex: {
        const int v = u >= u'0' && u <= u'9'   ? u - u'0'
                      : u >= u'A' && u <= u'F' ? u - u'A' + 10
                                               : -1;
        if (v < 0) Damaged();
        m_hexValue = static_cast<char16_t>((m_hexValue << 4) | v);
        if (--m_hexLeft == 0) {
          m_escape = EscapeState::None;
          Put(m_hexValue);
        }
        return;
      }
      case EscapeState::Number:
        if (u >= u'0' && u <= u'9' && m_number < 100000000) {
          m_number = m_number * 10 + (u - u'0');
        } else if (u == u';' && m_number == m_units.size() + 1 && m_number <= m_unitCount) {
          m_units.emplace_back();
          m_unitOpen = true;
          m_escape = EscapeState::None;
        } else {
          Damaged();
        }
        return;
    }
  }

  void Put(char16_t u) {
    if (!m_unitOpen) {
      m_raw += u;
      return;
    }
    if (m_units.back().codes.empty()) Damaged();
    m_units.back().codes.back() += u;
  }

  [[noreturn]] void Damaged() const { Fail("the skeleton is damaged", m_skeletonPosition); }

  void ReadHeader() {
    m_headerDone = true;
    const std::string magic(kSkeletonMagic);
    char fingerprint[17] = {};
    unsigned long long units = 0;
    if (!m_header.starts_with(magic + " ") ||
        std::sscanf(m_header.c_str() + magic.size(), " %16[0-9A-F] %llu", fingerprint, &units) !=
            2 ||
        std::strlen(fingerprint) != 16) {
      Fail("the skeleton was not written by tagvert", m_skeletonPosition);
    }
    m_fingerprint = std::strtoull(fingerprint, nullptr, 16);
    m_unitCount = static_cast<std::size_t>(units);
  }

  void EndSkeleton() {
    if (!m_headerDone || m_unitOpen || m_escape != EscapeState::None ||
        m_units.size() != m_unitCount) {
      Damaged();
    }
    m_skeletonDone = true;
  }

  // The unit's target as IF, its codes mapped back by id; tag damage noted.
  void EndUnit() {
    CUnit& unit = *m_unit;
    const std::string where = "unit " + std::to_string(m_unitNumber);
    if (m_unitSource.codes.size() != unit.codes.size()) {
      Fail(where + " does not match the skeleton (its source has " +
           std::to_string(m_unitSource.codes.size()) + " codes where the skeleton has " +
           std::to_string(unit.codes.size()) + "): the XLIFF was made from another document");
    }
    // The codes of the source by role and id.
    std::unordered_map<std::string, std::size_t> byKey;
    auto key = [](const CCodeRef& c) {
      return std::to_string(static_cast<int>(c.role)) + ':' + c.id;
    };
    for (std::size_t i = 0; i < m_unitSource.codes.size(); ++i) {
      if (m_unitSource.codes[i].role == Role::Unknown ||
          !byKey.emplace(key(m_unitSource.codes[i]), i).second) {
        Fail(where + ": its source has an unknown or doubled code <" +
             m_unitSource.codes[i].element + " id=\"" + m_unitSource.codes[i].id + "\">");
      }
    }
    const bool translated = m_anyTarget && !(m_unitTarget == m_unitSource);
    if (!translated) {
      unit.target = Build(m_unitSource, unit, nullptr, where);
      unit.sourceIsTarget = true;
    } else {
      unit.source = Build(m_unitSource, unit, nullptr, where);
      ++m_translated;
      unit.target = Build(m_unitTarget, unit, &byKey, where);
    }
    // The merged IF of a unit is held until the end; the XLIFF's own text is not.
    m_unit = nullptr;
    m_unitSource = {};
    m_unitTarget = {};
    m_segment = {};
  }

  std::string Named(const CCodeRef& code, const std::u16string& ifCode) const {
    std::string text = "code <" + code.element;
    if (!code.id.empty()) text += " id=\"" + code.id + "\"";
    text += ">";
    const std::string shown = Shown(ifCode);
    if (!shown.empty()) text += " (" + shown + ")";
    return text;
  }

  // The IF of `side`: text runs and the codes' IF. For a target (`byKey` given) each code is
  // found by role and id in the source, and damage is noted.
  std::u16string Build(const CSide& side, const CUnit& unit,
                       const std::unordered_map<std::string, std::size_t>* byKey,
                       const std::string& where) {
    std::u16string out;
    std::size_t at = 0;
    if (byKey == nullptr) {
      for (std::size_t i = 0; i < side.codes.size(); ++i) {
        out.append(side.text, at, side.cuts[i] - at);
        at = side.cuts[i];
        out += unit.codes[i];
      }
      out.append(side.text, at);
      return out;
    }
    const std::size_t n = unit.codes.size();
    std::vector<std::size_t> placed;  // source indexes in target order
    std::vector<bool> used(n, false);
    for (std::size_t i = 0; i < side.codes.size(); ++i) {
      out.append(side.text, at, side.cuts[i] - at);
      at = side.cuts[i];
      const CCodeRef& code = side.codes[i];
      const auto found = byKey->find(std::to_string(static_cast<int>(code.role)) + ':' + code.id);
      if (found == byKey->end()) {
        m_damage.push_back(where + ": " + Named(code, {}) + " is unknown");
        continue;
      }
      if (used[found->second]) {
        m_damage.push_back(where + ": " + Named(code, unit.codes[found->second]) + " is doubled");
        continue;
      }
      used[found->second] = true;
      placed.push_back(found->second);
      out += unit.codes[found->second];
    }
    out.append(side.text, at);
    // Missing codes: a standalone code may go (with a warning); any other comes back at the
    // end of the unit so that the markup stays whole.
    for (std::size_t i = 0; i < n; ++i) {
      if (used[i]) continue;
      const CCodeRef& code = m_unitSource.codes[i];
      if (code.role == Role::Standalone) {
        m_notes.push_back(where + ": " + Named(code, unit.codes[i]) +
                          " was dropped by the translation");
        continue;
      }
      m_damage.push_back(where + ": " + Named(code, unit.codes[i]) + " is missing");
      out += unit.codes[i];
      placed.push_back(i);
    }
    CheckOrder(placed, where, unit);
    return out;
  }

  // Paired codes in the target must keep their order and nest as they did in the source.
  void CheckOrder(const std::vector<std::size_t>& placed, const std::string& where,
                  const CUnit& unit) {
    const std::vector<CCodeRef>& codes = m_unitSource.codes;
    std::unordered_map<std::string, std::size_t> openOf;  // id -> source index of its Open
    for (std::size_t i = 0; i < codes.size(); ++i) {
      if (codes[i].role == Role::Open) openOf[codes[i].id] = i;
    }
    auto partner = [&](std::size_t i) -> std::optional<std::size_t> {
      if (codes[i].role != Role::Close) return std::nullopt;
      const auto found = openOf.find(codes[i].id);
      if (found == openOf.end()) return std::nullopt;
      return found->second;
    };
    std::vector<std::size_t> sourceOrder(codes.size());
    for (std::size_t i = 0; i < codes.size(); ++i)
      sourceOrder[i] = i;
    const std::vector<bool> crossedBefore = Crossing(sourceOrder, codes.size(), partner);
    std::vector<bool> seen(codes.size(), false);
    for (const std::size_t i : placed) {
      if (const auto open = partner(i); open && !seen[*open]) {
        m_damage.push_back(where + ": " + Named(codes[i], unit.codes[i]) +
                           " comes before its start");
      }
      seen[i] = true;
    }
    const std::vector<bool> crossedNow = Crossing(placed, codes.size(), partner);
    for (std::size_t i = 0; i < codes.size(); ++i) {
      if (crossedNow[i] && !crossedBefore[i] && codes[i].role == Role::Open) {
        m_damage.push_back(where + ": " + Named(codes[i], unit.codes[i]) +
                           " and its end no longer nest with the codes around them");
      }
    }
  }

  // The Open codes of pairs that cross another pair in `order` (a stack of open pairs).
  template <typename Partner>
  static std::vector<bool> Crossing(const std::vector<std::size_t>& order, std::size_t size,
                                    Partner&& partner) {
    std::vector<bool> crossing(size, false), isOpen(size, false), closed(size, false);
    for (const std::size_t i : order) {
      if (const auto open = partner(i)) isOpen[*open] = true;
    }
    std::vector<std::size_t> stack;
    std::vector<bool> onStack(size, false);
    for (const std::size_t i : order) {
      if (isOpen[i]) {
        stack.push_back(i);
        onStack[i] = true;
        continue;
      }
      const auto open = partner(i);
      if (!open || !onStack[*open]) continue;
      while (stack.back() != *open) {
        crossing[stack.back()] = true;
        crossing[*open] = true;
        onStack[stack.back()] = false;
        stack.pop_back();
      }
      onStack[*open] = false;
      stack.pop_back();
    }
    return crossing;
  }

  struct CSegment {
    CSide source, target;
    bool hasTarget = false;
  };
  enum class EscapeState : std::uint8_t { None, After, Hex, Number };

  XML_Parser m_parser;
  const CXliffReadOptions& m_options;
  std::string m_error;
  HResult m_errorCode = kSOk;
  std::string m_endPosition;

  bool m_v2 = false;
  int m_depth = 0;
  int m_ignoreDepth = 0;
  int m_files = 0;
  std::vector<std::string> m_stack;  ///< local names of the open structural elements

  // The skeleton.
  bool m_skeletonStarted = false, m_inSkeleton = false, m_skeletonDone = false;
  std::string m_skeletonPosition = "line 1, column 1";
  bool m_headerDone = false;
  std::string m_header;
  std::uint64_t m_fingerprint = 0;
  std::size_t m_unitCount = 0;
  EscapeState m_escape = EscapeState::None;
  int m_hexLeft = 0;
  char16_t m_hexValue = 0;
  std::size_t m_number = 0;
  bool m_unitOpen = false;
  std::u16string m_buffer;             ///< a piece of the skeleton's text as units
  std::u16string m_raw;                ///< the IF outside the units
  std::vector<std::size_t> m_rawCuts;  ///< where each unit stands in m_raw
  std::vector<CUnit> m_units;

  // The unit being read.
  CUnit* m_unit = nullptr;
  std::size_t m_unitNumber = 0;
  CSegment m_segment;
  CSide m_unitSource, m_unitTarget;
  bool m_anyTarget = false;
  CSide* m_side = nullptr;
  int m_sideDepth = 0;
  int m_codeDepth = 0;
  std::vector<std::pair<int, std::string>> m_pcIds;

  std::size_t m_translated = 0;
  std::vector<std::string> m_damage;
  std::vector<std::string> m_notes;
};

}  // namespace

CMergeResult MergeXliff(IByteStream& xml, const CXliffReadOptions& options,
                        std::u16string* source) {
  XML_Parser parser = XML_ParserCreateNS(nullptr, kNsSeparator);
  if (parser == nullptr) throw std::bad_alloc();
  struct CFree {
    XML_Parser p;
    ~CFree() { XML_ParserFree(p); }
  } free{parser};
  CMerge merge(parser, options);
  XML_SetUserData(parser, &merge);
  XML_SetElementHandler(parser, &CMerge::OnStart, &CMerge::OnEnd);
  XML_SetCharacterDataHandler(parser, &CMerge::OnText);
  // The XLIFF is read in pieces, so that only what the merge keeps stays in memory.
  constexpr int kPiece = 1 << 20;
  for (;;) {
    void* buffer = XML_GetBuffer(parser, kPiece);
    if (buffer == nullptr) throw std::bad_alloc();
    const std::uint32_t read = xml.Read(buffer, kPiece);
    if (XML_ParseBuffer(parser, static_cast<int>(read), read == 0) != XML_STATUS_OK) {
      if (!merge.Error().empty()) throw CXliffError{merge.ErrorCode(), merge.Error()};
      throw CXliffError{kEXliffRefused, options.name + ", " + Position(parser) +
                                            ": the XLIFF is not well-formed XML (" +
                                            XML_ErrorString(XML_GetErrorCode(parser)) + ")."};
    }
    if (read == 0) break;
  }
  merge.SetEndPosition();
  CMergeResult result;
  merge.Finish(result, source);
  return result;
}

std::u16string CMergeResult::Joined() const {
  std::u16string units;
  std::size_t at = 0;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    units.append(raw, at, cuts[i] - at);
    units += targets[i];
    at = cuts[i];
  }
  units.append(raw, at);
  return units;
}

std::uint32_t CMergedIfStream::Read(void* buffer, std::uint32_t size) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint32_t done = 0;
  while (done < size) {
    // The current part: a stretch of the skeleton (even parts) or a unit (odd parts).
    const std::size_t n = m_merged.targets.size();
    if (m_part > 2 * n) break;
    std::u16string_view part;
    if (m_part % 2 == 1) {
      part = m_merged.targets[m_part / 2];
    } else {
      const std::size_t begin = m_part == 0 ? 0 : m_merged.cuts[m_part / 2 - 1];
      const std::size_t end = m_part / 2 < n ? m_merged.cuts[m_part / 2] : m_merged.raw.size();
      part = std::u16string_view(m_merged.raw).substr(begin, end - begin);
    }
    const std::size_t bytes = part.size() * 2;
    if (m_offset >= bytes) {
      ++m_part;
      m_offset = 0;
      continue;
    }
    while (done < size && m_offset < bytes) {
      if (m_offset % 2 == 0 && size - done >= 2) {
        // Whole units at a time.
        const std::size_t units = std::min<std::size_t>((size - done) / 2, (bytes - m_offset) / 2);
        const char16_t* from = part.data() + m_offset / 2;
        if constexpr (std::endian::native == std::endian::little) {
          std::memcpy(out + done, from, units * 2);
        } else {
          for (std::size_t k = 0; k < units; ++k) {
            out[done + 2 * k] = static_cast<std::uint8_t>(from[k] & 0xFF);
            out[done + 2 * k + 1] = static_cast<std::uint8_t>(from[k] >> 8);
          }
        }
        done += static_cast<std::uint32_t>(units * 2);
        m_offset += units * 2;
        continue;
      }
      const char16_t unit = part[m_offset / 2];
      out[done++] = static_cast<std::uint8_t>(m_offset % 2 == 0 ? unit & 0xFF : unit >> 8);
      ++m_offset;
    }
  }
  m_position += done;
  return done;
}

bool CMergedIfStream::Size(std::uint64_t& size) {
  size = m_merged.raw.size() * 2;
  for (const std::u16string& target : m_merged.targets)
    size += target.size() * 2;
  return true;
}

}  // namespace tagvert::xliff
