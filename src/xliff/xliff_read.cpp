// Tagvert: the XLIFF merge's reading: the XLIFF walked with expat, its structure checked, and
// the skeleton's text and each unit's source and target handed to the unit merger.
// SPDX-License-Identifier: Apache-2.0
#include <expat.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "xliff/xliff_merge.h"
#include "xliff/xliff_text.h"

namespace tagvert::xliff {

namespace {

constexpr std::string_view kNs12 = "urn:oasis:names:tc:xliff:document:1.2";
constexpr std::string_view kNs20 = "urn:oasis:names:tc:xliff:document:2.0";
constexpr char kNsSeparator = '|';

// The structural elements the merge looks at, by local name in the XLIFF's namespace.
enum class Name : std::uint8_t {
  Other,
  File,
  Skl,
  InternalFile,
  Skeleton,
  TransUnit,
  Unit,
  Source,
  Target,
  Segment,
  Ignorable,
  Skipped,  ///< besides the unit's text: alt-trans, seg-source, note(s), originalData,
            ///< context-group
};

Name NameOf(std::string_view local) {
  static constexpr std::pair<std::string_view, Name> kNames[] = {
      {"file", Name::File},
      {"skl", Name::Skl},
      {"internal-file", Name::InternalFile},
      {"skeleton", Name::Skeleton},
      {"trans-unit", Name::TransUnit},
      {"unit", Name::Unit},
      {"source", Name::Source},
      {"target", Name::Target},
      {"segment", Name::Segment},
      {"ignorable", Name::Ignorable},
      {"alt-trans", Name::Skipped},
      {"seg-source", Name::Skipped},
      {"note", Name::Skipped},
      {"notes", Name::Skipped},
      {"originalData", Name::Skipped},
      {"context-group", Name::Skipped},
  };
  for (const auto& [text, name] : kNames) {
    if (local == text) return name;
  }
  return Name::Other;
}

std::string Position(XML_Parser parser) {
  return "line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ", column " +
         std::to_string(XML_GetCurrentColumnNumber(parser) + 1);
}

// The expat handlers: the elements of the XLIFF that matter to the merge, the rest skipped.
class CXliffReader {
 public:
  CXliffReader(XML_Parser parser, const CXliffReadOptions& options)
      : m_parser(parser), m_merger(options, [parser] { return Position(parser); }) {}

  static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char** attributes) {
    static_cast<CXliffReader*>(self)->Guard(
        [&] { static_cast<CXliffReader*>(self)->Start(name, attributes); });
  }
  static void XMLCALL OnEnd(void* self, const XML_Char* name) {
    static_cast<CXliffReader*>(self)->Guard([&] { static_cast<CXliffReader*>(self)->End(name); });
  }
  static void XMLCALL OnText(void* self, const XML_Char* text, int length) {
    static_cast<CXliffReader*>(self)->Guard([&] {
      static_cast<CXliffReader*>(self)->Text(
          std::string_view(text, static_cast<std::size_t>(length)));
    });
  }

  /// The error that stopped the parse, empty when none did.
  const std::string& Error() const { return m_error; }
  HResult ErrorCode() const { return m_errorCode; }
  CUnitMerger& Merger() { return m_merger; }

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
    // The name is looked at only where it matters: not inside what is skipped or inside a
    // code's shown content (1.2) or a sub-flow.
    if (m_ignoreDepth != 0) return;
    if (m_side != nullptr) {
      if (m_codeDepth == 0) Inline(Local(name), attributes);
      return;
    }
    const std::string_view local = Local(name);
    const Name parent = m_stack.empty() ? Name::Other : m_stack.back();
    const Name element = NameOf(local);
    m_stack.push_back(element);
    const bool side = element == Name::Source || element == Name::Target;
    if (element == Name::File) {
      if (++m_files > 1) Fail("the XLIFF holds more than one file; tagvert writes one");
    } else if ((!m_v2 && element == Name::InternalFile && parent == Name::Skl) ||
               (m_v2 && element == Name::Skeleton && parent == Name::File)) {
      m_merger.BeginSkeleton();
      m_inSkeleton = true;
    } else if ((!m_v2 && element == Name::TransUnit) || (m_v2 && element == Name::Unit)) {
      m_merger.BeginUnit(Attribute(attributes, "id"));
      m_inUnit = true;
      m_unitSource.Clear();
      m_unitTarget.Clear();
      m_segment.Clear();
      m_anyTarget = false;
    } else if (m_inUnit && !m_v2 && parent == Name::TransUnit && side) {
      BeginSide(element == Name::Target);
    } else if (m_inUnit && m_v2 && (element == Name::Segment || element == Name::Ignorable) &&
               parent == Name::Unit) {
      m_segment.Clear();
    } else if (m_inUnit && m_v2 && (parent == Name::Segment || parent == Name::Ignorable) && side) {
      BeginSide(element == Name::Target);
    } else if (m_inUnit && element == Name::Skipped) {
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
        InlineEnd(name, depth);
        return;
      }
      EndSide();
    }
    if (m_stack.empty()) return;
    const Name element = m_stack.back();
    m_stack.pop_back();
    if (m_inSkeleton && (element == Name::InternalFile || element == Name::Skeleton)) {
      m_inSkeleton = false;
      m_merger.EndSkeleton();
    } else if (m_v2 && (element == Name::Segment || element == Name::Ignorable) && m_inUnit) {
      // A segment without a target gives its source as its target; the unit's target is only
      // read once a segment has one, so it is put together from then on (the segments before
      // it, untranslated, are the unit's source so far).
      if (m_segment.hasTarget) {
        if (!m_anyTarget) m_unitTarget.Append(m_unitSource);
        m_unitTarget.Append(m_segment.target);
        m_anyTarget = true;
      } else if (m_anyTarget) {
        m_unitTarget.Append(m_segment.source);
      }
      // The first segment's source taken as it is, not copied.
      if (m_unitSource.Empty()) {
        std::swap(m_unitSource, m_segment.source);
      } else {
        m_unitSource.Append(m_segment.source);
      }
    } else if ((element == Name::TransUnit || element == Name::Unit) && m_inUnit) {
      if (!m_v2) {
        m_merger.EndUnit(m_segment.source, m_segment.target, m_segment.hasTarget);
      } else {
        m_merger.EndUnit(m_unitSource, m_unitTarget, m_anyTarget);
      }
      m_inUnit = false;
      m_unitSource.Clear();
      m_unitTarget.Clear();
      m_segment.Clear();
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

  void BeginSide(bool target) {
    m_side = target ? &m_segment.target : &m_segment.source;
    if (target) m_segment.hasTarget = true;
    m_side->Clear();
    m_sideDepth = m_depth;
    m_codeDepth = 0;
    m_pcIds.clear();
  }

  void EndSide() {
    if (m_side == &m_segment.target && m_segment.target.Empty()) m_segment.hasTarget = false;
    m_side = nullptr;
  }

  void AddCode(Role role, const char* id, std::string_view element) {
    m_side->cuts.push_back(m_side->text.size());
    CCodeRef& code = m_side->codes.emplace_back();
    code.role = role;
    code.id.assign(id ? id : "");
    code.element.assign(element);
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

  void InlineEnd(const XML_Char* name, int depth) {
    if (m_codeDepth != 0) {
      if (depth == m_codeDepth) m_codeDepth = 0;
      return;
    }
    // Only a pc element's end adds a code (its name looked at last).
    if (m_v2 && !m_pcIds.empty() && m_pcIds.back().first == depth && Local(name) == "pc") {
      AddCode(Role::Close, m_pcIds.back().second.c_str(), "pc");
      m_pcIds.pop_back();
    }
  }

  void Text(std::string_view text) {
    if (m_ignoreDepth != 0) return;
    if (m_inSkeleton) {
      m_merger.SkeletonText(text);
      return;
    }
    if (m_side != nullptr && m_codeDepth == 0) AppendUtf16(m_side->text, text);
  }

  struct CSegment {
    CSide source, target;
    bool hasTarget = false;
    void Clear() {
      source.Clear();
      target.Clear();
      hasTarget = false;
    }
  };

  void Fail(const std::string& what) const { m_merger.Fail(what); }

  XML_Parser m_parser;
  CUnitMerger m_merger;
  std::string m_error;
  HResult m_errorCode = kSOk;

  bool m_v2 = false;
  int m_depth = 0;
  int m_ignoreDepth = 0;
  int m_files = 0;
  std::vector<Name> m_stack;  ///< the open structural elements
  bool m_inSkeleton = false;

  // The unit being read.
  bool m_inUnit = false;
  CSegment m_segment;
  CSide m_unitSource, m_unitTarget;
  bool m_anyTarget = false;
  CSide* m_side = nullptr;
  int m_sideDepth = 0;
  int m_codeDepth = 0;
  std::vector<std::pair<int, std::string>> m_pcIds;
};

}  // namespace

CMergeResult MergeXliff(IByteStream& xml, const CXliffReadOptions& options, std::u16string* source,
                        CMergeFeed* feed, bool ignoreTargets) {
  XML_Parser parser = XML_ParserCreateNS(nullptr, kNsSeparator);
  if (parser == nullptr) throw std::bad_alloc();
  struct CFree {
    XML_Parser p;
    ~CFree() { XML_ParserFree(p); }
  } free{parser};
  CXliffReader reader(parser, options);
  if (source != nullptr) reader.Merger().KeepSources();
  if (ignoreTargets) reader.Merger().IgnoreTargets();
  // Fed, the merge's memory stays until the way back releases it, however the merge ends.
  struct CEnd {
    CMergeFeed* feed;
    ~CEnd() {
      if (feed != nullptr) feed->End();
    }
  } end{feed};
  if (feed != nullptr) reader.Merger().Feed(*feed);
  if (std::uint64_t size = 0; xml.Size(size) && size > xml.Position()) {
    reader.Merger().Reserve(size - xml.Position());
  }
  XML_SetUserData(parser, &reader);
  XML_SetElementHandler(parser, &CXliffReader::OnStart, &CXliffReader::OnEnd);
  XML_SetCharacterDataHandler(parser, &CXliffReader::OnText);
  // The XLIFF is read in pieces, so that only what the merge keeps stays in memory.
  constexpr int kPiece = 1 << 20;
  for (;;) {
    if (feed != nullptr && feed->Stopped()) throw CHResultError(kEAbort);
    void* buffer = XML_GetBuffer(parser, kPiece);
    if (buffer == nullptr) throw std::bad_alloc();
    const std::uint32_t read = xml.Read(buffer, kPiece);
    if (XML_ParseBuffer(parser, static_cast<int>(read), read == 0) != XML_STATUS_OK) {
      if (!reader.Error().empty()) throw CXliffError{reader.ErrorCode(), reader.Error()};
      throw CXliffError{kEXliffRefused, options.name + ", " + Position(parser) +
                                            ": the XLIFF is not well-formed XML (" +
                                            XML_ErrorString(XML_GetErrorCode(parser)) + ")."};
    }
    if (read == 0) break;
  }
  CMergeResult result;
  reader.Merger().Finish(result, source, Position(parser));
  return result;
}

}  // namespace tagvert::xliff
