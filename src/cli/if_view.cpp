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

// The unit as four upper-case hexadecimal digits.
void AppendHex(std::string& to, char16_t unit) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  const char hex[4] = {kDigits[(unit >> 12) & 15], kDigits[(unit >> 8) & 15],
                       kDigits[(unit >> 4) & 15], kDigits[unit & 15]};
  to.append(hex, 4);
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
  auto code = [this](char16_t unit) {
    m_out += '<';
    AppendHex(m_out, unit);
    m_out += '>';
  };
  if (token.code != 0) code(token.code);
  for (std::uint8_t i = 0; i < token.dataCount; ++i)
    code(token.data[i]);
  if (token.code != 0 || token.dataCount != 0) m_lineStart = false;
  if (token.code == kIfBoundary && token.kind != IfTokenKind::GroupStart) {
    m_out += '\n';
    m_lineStart = true;
  }
  if (m_out.size() >= kFlushAt) Flush();
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
      m_detail = "U+";
      AppendHex(m_detail, token.code);
      AppendFlags(m_detail);
      PutMarker(token.code == kIfFlaggedBoundary ? "flagged boundary" : "boundary", m_detail, "");
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

void CIfView::AppendFlags(std::string& to) {
  for (const char16_t flag : m_flags) {
    switch (flag) {
      case kIfBlock:
        to += " block";
        break;
      case kIfEndTag:
        to += " end";
        break;
      case kIfFlagged:
        to += " flagged";
        break;
      default:
        to += " flag U+";
        AppendHex(to, flag);
        break;
    }
  }
  m_flags.clear();
}

void CIfView::EndGroup(bool cutOff) {
  m_source.clear();
  AppendUtf8(m_source, m_text);
  m_text.clear();
  m_detail.clear();
  const std::string_view cut = cutOff ? " (cut off by the end of the IF)" : "";
  switch (m_state) {
    case State::Header:
      PutMarker("header", cut, m_source);
      m_out += '\n';
      m_lineStart = true;
      break;
    case State::Tag: {
      bool block = false;
      for (const char16_t flag : m_flags)
        block = block || flag == kIfBlock;
      if (block && !m_lineStart) {
        m_out += '\n';
        m_lineStart = true;
      }
      m_detail += '#';
      if (m_hasPair) {
        AppendHex(m_detail, m_pair);
      } else {
        m_detail += "????";
      }
      AppendFlags(m_detail);
      m_detail += cut;
      PutMarker("tag", m_detail, m_source);
      break;
    }
    case State::Reserve:
      m_detail +=
          "semantic " + std::to_string(m_semantic) + " transliterate " + std::to_string(m_translit);
      AppendFlags(m_detail);
      m_detail += cut;
      PutMarker("reserve", m_detail, "");
      break;
    case State::Group:
    case State::Skipped:
      m_detail = "U+";
      AppendHex(m_detail, m_group);
      m_detail += cut;
      PutMarker(m_state == State::Group ? "group" : "skipped", m_detail, m_source);
      break;
    case State::Text:
      break;
  }
  m_state = State::Text;
  if (m_out.size() >= kFlushAt) Flush();
}

void CIfView::PutMarker(std::string_view kind, std::string_view detail, std::string_view source) {
  m_lineStart = false;
  if (m_mode == IfViewMode::Colour && kind == "tag") {
    (((m_out += kDim) += detail) += ' ') += kReset;
    ((m_out += kTagColour) += source) += kReset;
    return;
  }
  if (m_mode == IfViewMode::Colour) m_out += kind == "reserve" ? kReserveColour : kSkippedColour;
  m_out += '{';
  if (kind != "tag") {
    m_out += kind;
    if (!detail.empty()) m_out += ' ';
  }
  m_out += detail;
  if (!source.empty()) (m_out += ": ") += source;
  m_out += '}';
  if (m_mode == IfViewMode::Colour) m_out += kReset;
}

void CIfView::FlushText() {
  if (m_text.empty()) return;
  AppendUtf8(m_out, m_text);
  m_text.clear();
  m_lineStart = m_out.back() == '\n';
  if (m_out.size() >= kFlushAt) Flush();
}

void CIfView::Flush() {
  m_target.write(m_out.data(), static_cast<std::streamsize>(m_out.size()));
  m_out.clear();
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
    m_detail.clear();
    AppendFlags(m_detail);
    m_detail.erase(0, 1);
    m_detail += " (before the end of the IF)";
    PutMarker("flags", m_detail, "");
  }
  if (!m_lineStart) m_out += '\n';
  m_lineStart = true;
  Flush();
  m_target.flush();
}

void ShowIf(IByteStream& source, std::ostream& out, IfViewMode mode) {
  CIfView view(out, mode);
  const auto oddByte =
      ReadIfUnits(source, [&](const char16_t* units, std::size_t n) { view.Feed(units, n); });
  view.Finish();
  if (oddByte) {
    std::string hex;
    AppendHex(hex, *oddByte);
    out << "{an odd last byte 0x" << hex.substr(2) << "}\n";
  }
}

}  // namespace tagvert::cli
