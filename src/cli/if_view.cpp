// Tagvert: the IF as a person reads it.
// SPDX-License-Identifier: Apache-2.0
#include "cli/if_view.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <type_traits>

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
constexpr char kCutOff[] = " (cut off by the end of the IF)";

// Every byte's two upper-case hexadecimal digits.
struct CHexPairs {
  char digits[256][2];
};
constexpr CHexPairs MakeHexPairs() {
  constexpr char kDigits[] = "0123456789ABCDEF";
  CHexPairs pairs{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    pairs.digits[byte][0] = kDigits[byte >> 4];
    pairs.digits[byte][1] = kDigits[byte & 15];
  }
  return pairs;
}
constexpr CHexPairs kHexPairs = MakeHexPairs();

// Writes the unit as four upper-case hexadecimal digits at `o`; returns the position after them.
inline char* PutHex(char* o, char16_t unit) {
  std::memcpy(o, kHexPairs.digits[unit >> 8], 2);
  std::memcpy(o + 2, kHexPairs.digits[unit & 0xFF], 2);
  return o + 4;
}

// The unit as four upper-case hexadecimal digits.
template <class Bytes>
void AppendHex(Bytes& to, char16_t unit) {
  char hex[4];
  PutHex(hex, unit);
  to.append(hex, 4);
}

}  // namespace

void CIfView::Feed(const char16_t* units, std::size_t count) {
  // A run between two codes is written as UTF-8 in the one pass that finds its end; each code
  // moves the state as a token reader would and is shown as its token.
  const char16_t* p = units;
  const char16_t* const end = units + count;
  while (p < end) {
    if (m_dataDue > 0) {
      // A group's fixed data (pair id, reserve units), whatever its value.
      const std::size_t n = m_codes.TakeData(static_cast<std::size_t>(end - p));
      for (std::size_t i = 0; i < n; ++i)
        m_start.data[m_start.dataCount++] = p[i];
      p += n;
      m_dataDue = static_cast<std::uint8_t>(m_dataDue - n);
      if (m_dataDue == 0) Show(m_start);
      continue;
    }
    const char16_t unit = *p;
    if (!IsIfCode(unit)) {
      const bool shown = m_codes.InText() || m_mode == IfViewMode::Codes;
      CViewBytes& to = shown || m_tagInline ? m_out : m_source;
      p = AppendRun(to, p, end);
      if (shown) m_hasText = true;
      continue;
    }
    if (m_mode == IfViewMode::Codes) {
      // Every code is shown as it is, with its group's fixed data when that is in these units.
      if (static_cast<std::size_t>(end - p) > CIfTokenReader::FixedData(unit)) {
        p = CodeWithData(p);
        continue;
      }
    } else if (m_codes.InText() && m_flags.empty()) {
      // The common element, a tag group with its flags, in one step.
      if (const char16_t* const after = TagGroup(p, end)) {
        p = after;
        continue;
      }
    }
    ++p;
    const bool inGroup = !m_codes.InText();
    const bool inText = m_codes.TakeCode(unit);
    if (inGroup) {
      // A U+E000 closes a group and belongs to it; any other code ends it and is read anew.
      m_token.kind = IfTokenKind::GroupEnd;
      m_token.code = inText ? 0 : unit;
      Show(m_token);
      if (!inText) continue;
    }
    if (IsIfBoundaryCode(unit) || IsIfFlagCode(unit)) {
      m_token.kind = IsIfFlagCode(unit) ? IfTokenKind::Flag : IfTokenKind::Boundary;
      m_token.code = unit;
      Show(m_token);
      continue;
    }
    m_start = CIfToken();
    m_start.kind = IfTokenKind::GroupStart;
    m_start.code = unit;
    m_dataDue = CIfTokenReader::FixedData(unit);
    if (m_dataDue == 0) Show(m_start);
  }
}

const char16_t* CIfView::TagGroup(const char16_t* p, const char16_t* const end) {
  // Its flags (a few at most: more are read one by one), its code and its pair id must be in
  // these units; anything else is read code by code.
  constexpr std::ptrdiff_t kMostFlags = 4;
  const char16_t* q = p;
  while (q < end && q - p < kMostFlags && IsIfFlagCode(*q))
    ++q;
  if (end - q < 2 || *q != kIfTagGroup) return nullptr;
  OpenTag(p, static_cast<std::size_t>(q - p), q[1]);
  const char16_t* const stop = AppendRun(m_out, q + 2, end);
  if (stop == end) {
    // The source text goes on in the next units: the group stays open as a code by code read
    // leaves it.
    m_codes.TakeCode(kIfTagGroup);
    m_codes.TakeData(1);
    return end;
  }
  // A U+E000 closes the group and belongs to it; any other code ends it and is read anew.
  CloseTag();
  return *stop == kIfBoundary ? stop + 1 : stop;
}

void CIfView::OpenTag(const char16_t* flags, std::size_t flagCount, char16_t pair) {
  FlushText();
  m_group = kIfTagGroup;
  m_pair = pair;
  m_hasPair = true;
  m_state = State::Tag;
  StartTagMarker(flags, flagCount);
}

void CIfView::CloseTag() {
  EndTagMarker(false);
  m_state = State::Text;
  if (m_out.size() >= kFlushAt) Flush();
}

const char16_t* CIfView::CodeWithData(const char16_t* p) {
  // As the tokens would show it: the text before it ended, the code and its group's data as
  // numbers, a line break after every U+E000 (which closes a group or stands alone).
  const char16_t unit = *p++;
  FlushText();
  m_codes.TakeCode(unit);
  const std::size_t data = m_codes.TakeData(2);
  char* const base = m_out.Room(6 * 3 + 1);
  char* o = base;
  const auto code = [&o](char16_t value) {
    o[0] = '<';
    o = PutHex(o + 1, value);
    *o++ = '>';
  };
  code(unit);
  for (std::size_t i = 0; i < data; ++i)
    code(*p++);
  m_lineStart = unit == kIfBoundary;
  if (m_lineStart) *o++ = '\n';
  m_out.Commit(static_cast<std::size_t>(o - base));
  if (m_out.size() >= kFlushAt) Flush();
  return p;
}

void CIfView::FeedNarrow(const std::uint8_t* bytes, std::size_t count, const std::uint8_t* limit) {
  if (count == 0) return;
  if (m_dataDue > 0 || m_high != 0) {
    // A group's data or a surrogate waiting for its low half: the units, read as Feed reads
    // them.
    char16_t units[256];
    for (std::size_t at = 0; at < count;) {
      const std::size_t n = std::min(count - at, std::size(units));
      std::copy_n(bytes + at, n, units);
      Feed(units, n);
      at += n;
    }
    return;
  }
  // A run as Feed writes it: no code ends it, and no unit pairs up.
  const bool shown = m_codes.InText() || m_mode == IfViewMode::Codes;
  CViewBytes& to = shown || m_tagInline ? m_out : m_source;
  if (shown) m_hasText = true;
  char* const base = to.Room(2 * count + 16);
  char* o = base;
  const std::uint8_t* p = bytes;
  const std::uint8_t* const end = bytes + count;
#if TAGVERT_UNITS_SSE2
  // Sixteen bytes at a time: the ASCII ones before the first byte from 0x80 are kept, then the
  // bytes from 0x80 (two bytes each) up to the next ASCII one.
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(v));
    if (high == 0) {
      o += 16;
      p += 16;
      continue;
    }
    const auto lanes = static_cast<unsigned>(std::countr_zero(high));
    o += lanes;
    p += lanes;
    while (p < end && *p >= 0x80) {
      o[0] = static_cast<char>(0xC0 | (*p >> 6));
      o[1] = static_cast<char>(0x80 | (*p & 0x3F));
      o += 2;
      ++p;
    }
  }
  // The last bytes in one step more where the buffer goes on, its lanes past the text masked
  // off: the ASCII ones up to the first byte from 0x80; the rest one by one.
  if (p < end && limit - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
    const auto left = static_cast<unsigned>(end - p);
    const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v)) & ((1U << left) - 1);
    const unsigned lanes = high == 0 ? left : static_cast<unsigned>(std::countr_zero(high));
    o += lanes;
    p += lanes;
  }
#else
  static_cast<void>(limit);
#endif
  for (; p < end; ++p) {
    if (*p < 0x80) {
      *o++ = static_cast<char>(*p);
    } else {
      o[0] = static_cast<char>(0xC0 | (*p >> 6));
      o[1] = static_cast<char>(0x80 | (*p & 0x3F));
      o += 2;
    }
  }
  to.Commit(static_cast<std::size_t>(o - base));
}

void CIfView::FeedWide(const char16_t* units, std::size_t count, bool source) {
  const char16_t* p = units;
  const char16_t* const end = units + count;
  while (p < end) {
    if (m_dataDue == 0 && !IsIfCode(*p)) {
      // Up to the next unit of the code range, as Feed writes a run.
      const bool shown = m_codes.InText() || m_mode == IfViewMode::Codes;
      CViewBytes& to = shown || m_tagInline ? m_out : m_source;
      p = AppendRun(to, p, end);
      if (shown) m_hasText = true;
      continue;
    }
    if (!IsIfCode(*p)) {
      Feed(p++, 1);  // a group's data
      continue;
    }
    // A unit of the code range in the document: its reference in a tag's source text, the
    // inline tag group of its reference in a text run.
    m_units.clear();
    if (!source) m_units += {kIfTagGroup, char16_t{0}};
    m_units += IfCodeReference(*p++);
    if (!source) m_units += kIfBoundary;
    Feed(m_units.data(), m_units.size());
  }
}

void CIfView::FeedTable(const CElementTable& table) {
  // The header that the conversion writes before the records.
  static constexpr char16_t kHeader[] = {kIfHeader, u'T', u'T', u'X', kIfBoundary};
  Feed(kHeader, std::size(kHeader));
  VisitRecordWidth(table, [&](auto mayBeWide) { FeedRecords<decltype(mayBeWide)::value>(table); });
}

template <bool kMayBeWide>
void CIfView::FeedRecords(const CElementTable& table) {
  for (const CElementRecord& record : table.Records()) {
    if (record.IsTag()) {
      const CIfTagCodes& codes = IfTagCodes(record);
      const auto pair = static_cast<char16_t>(record.pairId & codes.idMask);
      if (codes.removed) {
        // Its block mark or nothing.
        Feed(codes.before, codes.beforeCount);
        continue;
      }
      // Flags, the tag group with its pair id, its text and the U+E000 that closes it (nearly
      // every tag): shown in one step where the view reads text with no flags waiting, as
      // TagGroup would. Otherwise the units as they would be written.
      const std::size_t flagCount = codes.beforeCount - 2u;
      const bool direct = m_mode != IfViewMode::Codes && codes.afterCount == 1 && flagCount <= 2 &&
                          m_codes.InText() && m_flags.empty() &&
                          std::all_of(codes.before, codes.before + flagCount, IsIfFlagCode);
      if (direct) {
        OpenTag(codes.before, flagCount, pair);
        // The group is open from here, as a reader of the units leaves it.
        m_codes.TakeCode(kIfTagGroup);
        m_codes.TakeData(1);
      } else {
        char16_t before[CIfTagCodes::kBeforeRoom];
        std::copy_n(codes.before, codes.beforeCount, before);
        before[codes.beforeCount - 1] = pair;
        Feed(before, codes.beforeCount);
      }
      table.template VisitTextInBuffer<kMayBeWide>(
          record, [&](const auto* units, std::size_t size, const auto* limit) {
            if constexpr (std::is_same_v<decltype(units), const char16_t*>) {
              FeedWide(units, size, true);
            } else {
              FeedNarrow(units, size, limit);
            }
          });
      if (codes.afterCount == 1 && m_tagInline) {
        // The U+E000 that closes the group, as Feed reads it.
        m_codes.TakeCode(kIfBoundary);
        CloseTag();
        continue;
      }
      Feed(kIfCodesAfterTag, codes.afterCount);
      continue;
    }
    table.template VisitTextInBuffer<kMayBeWide>(
        record, [&](const auto* units, std::size_t size, const auto* limit) {
          // A text emptied by its white space mode writes nothing; one marked for its U+00A0 is
          // written as its pieces between them, each U+00A0 an inline tag group.
          if (size == 0) return;
          const auto* const end = units + size;
          const bool nbsp = (record.bits & CElementRecord::kRecordNbsp) != 0;
          for (const auto* p = units;;) {
            const auto* const piece = nbsp ? std::find(p, end, 0x00A0) : end;
            if constexpr (std::is_same_v<decltype(units), const char16_t*>) {
              FeedWide(p, static_cast<std::size_t>(piece - p), false);
            } else {
              FeedNarrow(p, static_cast<std::size_t>(piece - p), limit);
            }
            if (piece == end) return;
            Feed(kIfNbspTag, std::size(kIfNbspTag));
            p = piece + 1;
          }
        });
  }
}

void CIfView::Show(const CIfToken& token) {
  if (m_mode == IfViewMode::Codes) {
    CodesToken(token);
  } else {
    Token(token);
  }
}

void CIfView::CodesToken(const CIfToken& token) {
  // Runs (text, a group's content) are written by Feed.
  if (token.kind == IfTokenKind::Text || token.kind == IfTokenKind::GroupData) return;
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
      return;  // runs are written by Feed
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
      if (m_state == State::Tag && !token.cutOff) {
        StartTagMarker(m_flags.data(), m_flags.size());
        m_flags.clear();
      }
      return;
  }
}

template <class Bytes>
void CIfView::AppendFlags(Bytes& to) {
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

void CIfView::StartTagMarker(const char16_t* flags, std::size_t flagCount) {
  // The flags come before the group and its pair id with its code, so the marker is known up
  // to its source text; only a cut by the end of the IF, known at the end, is put in later.
  // Written in one piece: a line break, the colour or "{", "#PAIR", twelve bytes a flag at most,
  // ": " or the colours.
  char* const base = m_out.Room(32 + 12 * flagCount);
  char* o = base;
  const auto put = [&o](const auto& text) {
    std::memcpy(o, text, sizeof text - 1);
    o += sizeof text - 1;
  };
  const auto hex = [&o](char16_t unit) { o = PutHex(o, unit); };
  const char16_t* const flagsEnd = flags + flagCount;
  const bool block = std::find(flags, flagsEnd, kIfBlock) != flagsEnd;
  if (block && !m_lineStart) {
    *o++ = '\n';
    m_lineStart = true;
  }
  const bool colour = m_mode == IfViewMode::Colour;
  if (colour) {
    put("\x1b[2m#");
  } else {
    put("{#");
  }
  hex(m_pair);
  for (const char16_t flag : std::u16string_view(flags, flagCount)) {
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
  m_cutAt = m_out.size() + static_cast<std::size_t>(o - base);
  if (colour) {
    put(" \x1b[0m\x1b[36m");  // a space, kReset, kTagColour
  } else {
    put(": ");
  }
  m_out.Commit(static_cast<std::size_t>(o - base));
  m_sourceAt = m_out.size();
  m_tagInline = true;
}

void CIfView::EndTagMarker(bool cutOff) {
  EndUnits(m_out);
  m_tagInline = false;
  m_lineStart = false;
  if (m_mode == IfViewMode::Colour) {
    if (cutOff) m_out.Insert(m_cutAt, kCutOff);
    m_out += kReset;
    return;
  }
  if (m_out.size() == m_sourceAt) m_out.Truncate(m_cutAt);  // no source text: no ": "
  if (cutOff) m_out.Insert(m_cutAt, kCutOff);
  m_out += '}';
}

void CIfView::EndGroup(bool cutOff) {
  if (m_tagInline) {
    EndTagMarker(cutOff);
    m_state = State::Text;
    if (m_out.size() >= kFlushAt) Flush();
    return;
  }
  EndUnits(m_source);
  m_detail.clear();
  const std::string_view cut = cutOff ? kCutOff : "";
  switch (m_state) {
    case State::Header:
      PutMarker("header", cut, m_source.View());
      m_out += '\n';
      m_lineStart = true;
      break;
    case State::Tag: {
      // A tag group whose pair id the end of the IF cut off (the others are written as they
      // come).
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
      PutMarker("tag", m_detail, m_source.View());
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
      PutMarker(m_state == State::Group ? "group" : "skipped", m_detail, m_source.View());
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

const char16_t* CIfView::AppendRun(CViewBytes& to, const char16_t* p, const char16_t* const end) {
  if (p == end) return p;
  if (m_high != 0) {
    // A surrogate pair cut between two pieces of the IF is one character.
    char* const at = to.Room(4);
    if (IsLowSurrogate(*p)) {
      to.Commit(EncodeUtf8(CombineSurrogates(m_high, *p++), at));
    } else {
      to.Commit(EncodeUtf8(kReplacementCharacter, at));
    }
    m_high = 0;
  }
  // Written straight into the room of `to`, in steps whose units fit whatever they are (three
  // bytes a unit at most, four for a pair whose low half lies past the step).
  constexpr std::size_t kStep = 4096;
  char* base = nullptr;
  char* o = nullptr;
  // One unit outside ASCII: false for a code, which ends the run.
  const auto other = [&](char16_t unit) {
    if (IsIfCode(unit)) return false;
    ++p;
    if (!IsSurrogate(unit)) {
      o += EncodeUtf8(unit, o);
    } else if (IsHighSurrogate(unit)) {
      if (p == end) {
        m_high = unit;  // its low half may come with the next units
      } else if (IsLowSurrogate(*p)) {
        o += EncodeUtf8(CombineSurrogates(unit, *p++), o);
      } else {
        // A surrogate that does not pair up is no character (nor is one before a code).
        o += EncodeUtf8(kReplacementCharacter, o);
      }
    } else {
      o += EncodeUtf8(kReplacementCharacter, o);
    }
    return true;
  };
  // One unit outside ASCII of two or three bytes (no surrogate, no code: not U+D800..U+EFFF):
  // false for any other.
  const auto plain = [&](char16_t unit) {
    if (unit < 0x800) {
      o[0] = static_cast<char>(0xC0 | (unit >> 6));
      o[1] = static_cast<char>(0x80 | (unit & 0x3F));
      o += 2;
    } else if (static_cast<char16_t>(unit - 0xD800) >= 0x1800) {
      o[0] = static_cast<char>(0xE0 | (unit >> 12));
      o[1] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      o[2] = static_cast<char>(0x80 | (unit & 0x3F));
      o += 3;
    } else {
      return false;
    }
    ++p;
    return true;
  };
  while (p < end) {
    const char16_t* const stop =
        p + std::min<std::size_t>(static_cast<std::size_t>(end - p), kStep);
    base = to.Room(3 * static_cast<std::size_t>(stop - p) + 1);
    o = base;
#if TAGVERT_UNITS_SSE2
    // Sixteen units at a time: the ASCII lanes before the first unit outside ASCII are kept
    // (the room holds sixteen bytes wherever sixteen units are left), then the units outside
    // ASCII one by one up to the next ASCII one or a code.
    while (stop - p >= 16) {
      const unsigned ascii = UnitsPackAscii16(p, o);
      if (ascii == 0xFFFF) {
        o += 16;
        p += 16;
        continue;
      }
      const auto lanes = static_cast<unsigned>(std::countr_one(ascii));
      o += lanes;
      p += lanes;
      // Characters of two and three bytes (most scripts, CJK) in a loop of their own; a
      // surrogate or a code goes to `other`.
      while (p < stop && *p >= 0x80) {
        const char16_t unit = *p;
        if (!plain(unit) && !other(unit)) {
          to.Commit(static_cast<std::size_t>(o - base));
          return p;
        }
      }
    }
#endif
    // One by one: the rest of the step (a text's last units, when the text ends its buffer).
    while (p < stop) {
      const char16_t unit = *p;
      if (unit < 0x80) {
        *o++ = static_cast<char>(unit);
        ++p;
      } else if (!plain(unit) && !other(unit)) {
        to.Commit(static_cast<std::size_t>(o - base));
        return p;
      }
    }
    to.Commit(static_cast<std::size_t>(o - base));
  }
  return p;
}

void CIfView::EndUnits(CViewBytes& to) {
  if (m_high == 0) return;
  m_high = 0;
  to += "\xEF\xBF\xBD";  // U+FFFD
}

void CIfView::Flush() {
  if (m_out.empty()) return;
  m_target.write(m_out.data(), static_cast<std::streamsize>(m_out.size()));
  m_out.clear();
}

void CIfView::Finish() {
  // A group the end of the IF cut off: its start when its fixed data is incomplete, and its end.
  if (m_dataDue > 0) {
    m_start.cutOff = true;
    Show(m_start);
  }
  if (!m_codes.InText()) {
    CIfToken cut;
    cut.kind = IfTokenKind::GroupEnd;
    cut.cutOff = true;
    Show(cut);
  }
  m_codes.Reset();
  m_dataDue = 0;
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
