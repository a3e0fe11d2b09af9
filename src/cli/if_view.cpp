// Tagvert: the IF as a person reads it.
// SPDX-License-Identifier: Apache-2.0
#include "cli/if_view.h"

#include <cstdio>

#include "cli/if_units.h"
#include "ifcodec/if_parser.h"
#include "storage/char_class.h"

namespace tagvert::cli {

namespace {

constexpr char kReset[] = "\x1b[0m";
constexpr char kDim[] = "\x1b[2m";
constexpr char kTagColour[] = "\x1b[36m";      // cyan: markup of the document
constexpr char kReserveColour[] = "\x1b[35m";  // magenta: reserve groups
constexpr char kSkippedColour[] = "\x1b[33m";  // yellow: skipped text and stray codes

std::string UnitHex(char16_t unit) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(unit));
  return text;
}

}  // namespace

void CIfView::Feed(const char16_t* units, std::size_t count) {
  m_reader.Feed(std::u16string_view(units, count), [this](const CIfToken& token) {
    if (m_mode == IfViewMode::Codes) {
      CodesToken(token);
    } else {
      Token(token);
    }
  });
}

void CIfView::CodesToken(const CIfToken& token) {
  if (token.kind == IfTokenKind::Text || token.kind == IfTokenKind::GroupData) {
    m_text += token.units;
    return;
  }
  // A group's pair id and reserve data are shown as numbers whatever their value.
  FlushText();
  if (token.code != 0) m_out << "<" << UnitHex(token.code) << ">";
  for (std::uint8_t i = 0; i < token.dataCount; ++i)
    m_out << "<" << UnitHex(token.data[i]) << ">";
  if (token.code != 0 || token.dataCount != 0) m_lineStart = false;
  if (token.code == kIfBoundary && token.kind != IfTokenKind::GroupStart) {
    m_out << "\n";
    m_lineStart = true;
  }
}

void CIfView::Token(const CIfToken& token) {
  switch (token.kind) {
    case IfTokenKind::Text:
    case IfTokenKind::GroupData:
      m_text += token.units;
      return;
    case IfTokenKind::GroupEnd:
      EndGroup(token.cutOff);
      return;
    case IfTokenKind::Flag:
      FlushText();
      m_flags.push_back(token.code);
      return;
    case IfTokenKind::Boundary: {
      // A boundary that ends no group: shown with the flags it ends.
      FlushText();
      const std::string flags = FlagsText();
      PutMarker(token.code == kIfFlaggedBoundary ? "flagged boundary" : "boundary",
                "U+" + UnitHex(token.code) + flags, "");
      return;
    }
    case IfTokenKind::GroupStart:
      FlushText();
      m_group = token.code;
      m_pair = token.dataCount > 0 && token.code == kIfTagGroup ? token.data[0] : m_pair;
      m_hasPair = token.code != kIfTagGroup || token.dataCount > 0;
      if (token.code == kIfReserveGroup) {
        if (token.dataCount > 0) m_semantic = token.data[0];
        if (token.dataCount > 1) m_translit = token.data[1];
      }
      m_state = token.code == kIfHeader         ? State::Header
                : token.code == kIfTagGroup     ? State::Tag
                : token.code == kIfReserveGroup ? State::Reserve
                : IsIfGroupCode(token.code)     ? State::Group
                                                : State::Skipped;
      return;
  }
}

std::string CIfView::FlagsText() {
  std::string text;
  for (const char16_t flag : m_flags) {
    switch (flag) {
      case kIfBlock:
        text += " block";
        break;
      case kIfEndTag:
        text += " end";
        break;
      case kIfFlagged:
        text += " flagged";
        break;
      default:
        text += " flag U+";
        text += UnitHex(flag);
        break;
    }
  }
  m_flags.clear();
  return text;
}

void CIfView::EndGroup(bool cutOff) {
  const std::string source = Utf16ToUtf8(m_text);
  m_text.clear();
  const std::string cut = cutOff ? " (cut off by the end of the IF)" : "";
  switch (m_state) {
    case State::Header:
      PutMarker("header", cut, source);
      m_out << "\n";
      m_lineStart = true;
      break;
    case State::Tag: {
      bool block = false;
      for (const char16_t flag : m_flags)
        block = block || flag == kIfBlock;
      if (block && !m_lineStart) {
        m_out << "\n";
        m_lineStart = true;
      }
      std::string pair(1, '#');
      pair += m_hasPair ? UnitHex(m_pair) : std::string("????");
      PutMarker("tag", pair + FlagsText() + cut, source);
      break;
    }
    case State::Reserve:
      PutMarker("reserve",
                "semantic " + std::to_string(m_semantic) + " transliterate " +
                    std::to_string(m_translit) + FlagsText() + cut,
                "");
      break;
    case State::Group:
    case State::Skipped:
      PutMarker(m_state == State::Group ? "group" : "skipped", "U+" + UnitHex(m_group) + cut,
                source);
      break;
    case State::Text:
      break;
  }
  m_state = State::Text;
}

void CIfView::PutMarker(const std::string& kind, const std::string& detail,
                        const std::string& source) {
  if (m_mode == IfViewMode::Colour && kind == "tag") {
    m_out << kDim << detail << " " << kReset << kTagColour << source << kReset;
    m_lineStart = false;
    return;
  }
  if (m_mode == IfViewMode::Colour) m_out << (kind == "reserve" ? kReserveColour : kSkippedColour);
  m_out << "{";
  if (kind != "tag") m_out << kind << (detail.empty() ? "" : " ");
  m_out << detail << (source.empty() ? "" : ": ") << source << "}";
  if (m_mode == IfViewMode::Colour) m_out << kReset;
  m_lineStart = false;
}

void CIfView::FlushText() {
  if (m_text.empty()) return;
  const std::string text = Utf16ToUtf8(m_text);
  m_text.clear();
  m_out << text;
  m_lineStart = text.back() == '\n';
}

void CIfView::Finish() {
  m_reader.Finish([this](const CIfToken& token) {
    if (m_mode == IfViewMode::Codes) {
      CodesToken(token);
    } else {
      Token(token);
    }
  });
  FlushText();
  if (m_mode != IfViewMode::Codes && !m_flags.empty()) {
    PutMarker("flags", FlagsText().substr(1) + " (before the end of the IF)", "");
  }
  if (!m_lineStart) m_out << "\n";
  m_lineStart = true;
  m_out.flush();
}

void ShowIf(IByteStream& source, std::ostream& out, IfViewMode mode) {
  CIfView view(out, mode);
  const auto oddByte =
      ReadIfUnits(source, [&](const char16_t* units, std::size_t n) { view.Feed(units, n); });
  view.Finish();
  if (oddByte) out << "{an odd last byte 0x" << UnitHex(*oddByte).substr(2) << "}\n";
}

}  // namespace tagvert::cli
