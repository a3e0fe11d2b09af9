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

bool IsCode(char16_t unit) {
  return unit >= 0xE000 && unit <= 0xEFFF;
}

}  // namespace

void CIfView::Feed(const char16_t* units, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (m_mode == IfViewMode::Codes) {
      CodesUnit(units[i]);
    } else {
      Unit(units[i]);
    }
  }
}

void CIfView::CodesUnit(char16_t unit) {
  // The unit after a tag group's code is its pair id, the two after a reserve group's code its
  // data: shown as numbers whatever their value.
  const bool data = m_state == State::TagPair || m_state == State::ReserveSemantic ||
                    m_state == State::ReserveTranslit;
  if (data || IsCode(unit)) {
    FlushText();
    m_out << "<" << UnitHex(unit) << ">";
    m_lineStart = false;
  } else {
    m_text += unit;
  }
  if (m_state == State::TagPair || m_state == State::ReserveTranslit) {
    m_state = State::Text;
  } else if (m_state == State::ReserveSemantic) {
    m_state = State::ReserveTranslit;
  } else if (unit == kIfTagGroup) {
    m_state = State::TagPair;
  } else if (unit == kIfReserveGroup) {
    m_state = State::ReserveSemantic;
  } else if (unit == kIfBoundary) {
    m_out << "\n";
    m_lineStart = true;
  }
}

void CIfView::Unit(char16_t unit) {
  switch (m_state) {
    case State::TagPair:
      m_pair = unit;
      m_state = State::TagSource;
      return;
    case State::ReserveSemantic:
      m_semantic = unit;
      m_state = State::ReserveTranslit;
      return;
    case State::ReserveTranslit:
      m_translit = unit;
      m_state = State::ReserveEnd;
      return;
    default:
      break;
  }
  if (!IsCode(unit)) {
    m_text += unit;
    return;
  }
  if (m_state != State::Text) {
    // A boundary ends and belongs to a group; any other code ends the group and is read anew.
    const bool consumed = unit == kIfBoundary && m_state != State::Skipped;
    EndGroup(false);
    if (consumed) return;
  }
  Code(unit);
}

void CIfView::Code(char16_t code) {
  FlushText();
  if (code <= 0xE3FF) {
    // A boundary that ends no group: shown with the flags it ends.
    const std::string flags = FlagsText();
    PutMarker(code == kIfFlaggedBoundary ? "flagged boundary" : "boundary",
              "U+" + UnitHex(code) + flags, "");
  } else if (code <= 0xE7FF) {
    m_flags.push_back(code);
  } else if (code == kIfHeader) {
    m_state = State::Header;
  } else if (code == kIfTagGroup) {
    m_state = State::TagPair;
  } else if (code == kIfReserveGroup) {
    m_state = State::ReserveSemantic;
  } else {
    m_group = code;
    m_state = code <= 0xEBFF ? State::Group : State::Skipped;
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
    case State::TagPair:
    case State::TagSource: {
      bool block = false;
      for (const char16_t flag : m_flags)
        block = block || flag == kIfBlock;
      if (block && !m_lineStart) {
        m_out << "\n";
        m_lineStart = true;
      }
      std::string pair(1, '#');
      pair += m_state == State::TagPair ? std::string("????") : UnitHex(m_pair);
      PutMarker("tag", pair + FlagsText() + cut, source);
      break;
    }
    case State::ReserveSemantic:
    case State::ReserveTranslit:
    case State::ReserveEnd:
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
  if (m_mode != IfViewMode::Codes && m_state != State::Text) EndGroup(true);
  FlushText();
  if (m_mode != IfViewMode::Codes && !m_flags.empty()) {
    PutMarker("flags", FlagsText().substr(1) + " (before the end of the IF)", "");
  }
  if (!m_lineStart) m_out << "\n";
  m_lineStart = true;
}

void ShowIf(IByteStream& source, std::ostream& out, IfViewMode mode) {
  CIfView view(out, mode);
  const auto oddByte =
      ReadIfUnits(source, [&](const char16_t* units, std::size_t n) { view.Feed(units, n); });
  view.Finish();
  if (oddByte) out << "{an odd last byte 0x" << UnitHex(*oddByte).substr(2) << "}\n";
}

}  // namespace tagvert::cli
