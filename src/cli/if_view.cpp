// Tagvert: the IF as a person reads it.
// SPDX-License-Identifier: Apache-2.0
#include "cli/if_view.h"

#include <algorithm>
#include <cstdio>

#include "cli/if_units.h"
#include "ifcodec/if_parser.h"
#include "storage/char_class.h"
#include "storage/unit_scan.h"
#include "storage/utf8.h"

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
    AppendUnits(m_out, token.units);
    m_hasText = true;
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
      AppendUnits(m_out, token.units);
      m_hasText = true;
      return;
    case IfTokenKind::GroupData:
      AppendUnits(m_source, token.units);
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
  EndUnits(m_source);
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
      if (m_mode == IfViewMode::Plain && !cutOff && m_hasPair && m_flags.size() <= 4) {
        // The common marker, {#PAIR FLAGS: SOURCE}, put together in one piece.
        constexpr char kDigits[] = "0123456789ABCDEF";
        char head[64];
        std::size_t k = 0;
        const auto put = [&](std::string_view text) {
          text.copy(head + k, text.size());
          k += text.size();
        };
        const auto hex = [&](char16_t unit) {
          for (const int shift : {12, 8, 4, 0})
            head[k++] = kDigits[(unit >> shift) & 15];
        };
        put("{#");
        hex(m_pair);
        for (const char16_t flag : m_flags) {
          switch (flag) {
            case kIfBlock:
              put(" block");
              break;
            case kIfEndTag:
              put(" end");
              break;
            case kIfFlagged:
              put(" flagged");
              break;
            default:
              put(" flag U+");
              hex(flag);
              break;
          }
        }
        m_flags.clear();
        if (!m_source.empty()) put(": ");
        ((m_out.append(head, k)) += m_source) += '}';
        m_lineStart = false;
        break;
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
  m_source.clear();
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
  if (!m_hasText) return;
  EndUnits(m_out);
  m_hasText = false;
  m_lineStart = m_out.back() == '\n';
  if (m_out.size() >= kFlushAt) Flush();
}

void CIfView::AppendUnits(std::string& to, std::u16string_view units) {
  const char16_t* p = units.data();
  const char16_t* const end = p + units.size();
  if (p == end) return;
  // Written through a small buffer in pieces, ASCII eight units at a time.
  char buffer[1024];
  std::size_t n = 0;
  const auto put = [&](char32_t c) { n += EncodeUtf8(c, buffer + n); };
  if (m_high != 0) {
    // A surrogate pair cut between two pieces of the IF is one character.
    if (IsLowSurrogate(*p)) {
      put(CombineSurrogates(m_high, *p++));
    } else {
      put(kReplacementCharacter);
    }
    m_high = 0;
  }
  while (p != end) {
    if (sizeof buffer - n < 64) {
      to.append(buffer, n);
      n = 0;
    }
    // The units up to `stop` fit in the buffer whatever they are (three bytes a unit at most).
    const char16_t* const stop =
        p + std::min<std::size_t>(static_cast<std::size_t>(end - p), (sizeof buffer - n) / 3);
#if TAGVERT_UNITS_SSE2
    // ASCII sixteen units at a time.
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    while (stop - p >= 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
      if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(_mm_or_si128(a, b), high),
                                            _mm_setzero_si128())) != 0xFFFF) {
        break;
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(buffer + n), _mm_packus_epi16(a, b));
      n += 16;
      p += 16;
    }
#endif
    // One by one: the short rest, or sixteen units that are not all ASCII.
    const char16_t* const last = stop - p < 16 ? stop : p + 16;
    while (p < last) {
      const char16_t unit = *p++;
      if (unit < 0x80) {
        buffer[n++] = static_cast<char>(unit);
      } else if (!IsSurrogate(unit)) {
        put(unit);
      } else if (IsHighSurrogate(unit)) {
        if (p == end) {
          m_high = unit;  // its low half may come with the next units
        } else if (IsLowSurrogate(*p)) {
          put(CombineSurrogates(unit, *p++));
        } else {
          put(kReplacementCharacter);  // a surrogate that does not pair up is no character
        }
      } else {
        put(kReplacementCharacter);
      }
    }
  }
  to.append(buffer, n);
}

void CIfView::EndUnits(std::string& to) {
  if (m_high == 0) return;
  m_high = 0;
  to += "\xEF\xBF\xBD";  // U+FFFD
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
