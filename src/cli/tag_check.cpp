// Tagvert: tag damage in a translated IF.
// SPDX-License-Identifier: Apache-2.0
#include "cli/tag_check.h"

#include <cstdio>

#include "cli/if_units.h"
#include "ifcodec/if_parser.h"
#include "storage/char_class.h"

namespace tagvert::cli {

namespace {

constexpr std::size_t kIds = 0x10000;
// How much of a tag's source text a message quotes (a collapsed block can be long).
constexpr std::size_t kQuotedUnits = 60;
// A block location that several tag groups of one pair id share: not checked.
constexpr std::uint32_t kAmbiguous = 0xFFFFFFFF;

bool IsCode(char16_t unit) {
  return unit >= 0xE000 && unit <= 0xEFFF;
}

std::string PairHex(char16_t pair) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(pair));
  return text;
}

std::uint16_t Bucket(const std::u16string& source) {
  std::uint32_t hash = 2166136261U;
  for (const char16_t unit : source)
    hash = (hash ^ unit) * 16777619U;
  return static_cast<std::uint16_t>(hash ^ (hash >> 16));
}

// The block a tag group lies in: the last block tag group with a pair id before it (its pair id
// and end flag), 0 before the first one.
std::uint32_t BlockKey(char16_t pair, bool end) {
  return ((static_cast<std::uint32_t>(pair) << 1) | (end ? 1U : 0U)) + 1U;
}

bool IsPlaceholder(const std::u16string& source) {
  return source.size() > 3 && source.compare(0, 3, u"<ut") == 0 &&
         (source[3] == u' ' || source[3] == u'>' || source[3] == u'/' || source[3] == u'\t' ||
          source[3] == u'\r' || source[3] == u'\n');
}

}  // namespace

void CIfTagGroups::Feed(const char16_t* units, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i, ++m_unit) {
    const char16_t unit = units[i];
    switch (m_state) {
      case State::Pair:
        m_group.pair = unit;
        m_state = State::Source;
        continue;
      case State::Reserve:
        // The two data units of a reserve group, whatever their value.
        if (m_reserveLeft > 0) {
          --m_reserveLeft;
          continue;
        }
        break;
      default:
        break;
    }
    if (!IsCode(unit)) {
      if (m_state == State::Source) {
        m_group.source += unit;
      } else if (m_state == State::Text) {
        m_end = m_block = false;
      }
      continue;
    }
    if (m_state == State::Source) {
      m_onGroup(m_group);
      m_state = State::Text;
      if (unit == kIfBoundary) continue;
    } else if (m_state != State::Text) {
      m_state = State::Text;
      m_end = m_block = false;
      if (unit == kIfBoundary) continue;
    }
    if (unit == kIfEndTag) {
      m_end = true;
    } else if (unit == kIfBlock) {
      m_block = true;
    } else if (unit == kIfTagGroup) {
      m_group.unit = m_unit;
      m_group.end = m_end;
      m_group.block = m_block;
      m_group.pair = 0;
      m_group.source.clear();
      m_end = m_block = false;
      m_state = State::Pair;
    } else if (unit == kIfReserveGroup) {
      m_state = State::Reserve;
      m_reserveLeft = 2;
    } else if (unit >= 0xE800) {
      m_state = State::Group;  // the header, other groups and skipped text
    } else if (unit <= 0xE3FF) {
      m_end = m_block = false;  // a boundary ends the element the flags belonged to
    }
  }
}

void CIfTagGroups::Finish() {
  if (m_state == State::Source) m_onGroup(m_group);
  m_state = State::Text;
}

void ReadIfGroups(IByteStream& source, CIfTagGroups& groups) {
  ReadIfUnits(source, [&](const char16_t* units, std::size_t n) { groups.Feed(units, n); });
  groups.Finish();
}

struct CTagCheck::CState {
  explicit CState(CTagCheck& check)
      : groups([&check](const CIfTagGroup& group) { check.OnGroup(group); }) {}

  struct COpen {
    char16_t pair;
    std::u16string source;
    std::uint64_t unit;
    // The first end tag that closed a tag opened before this one while this one was open:
    // misnesting when this one is closed later, a lost end tag of this one otherwise.
    bool crossed = false;
    char16_t crossingPair = 0;
    std::u16string crossingSource;
    std::uint64_t crossingUnit = 0;
  };
  CIfTagGroups groups;
  std::vector<COpen> open;
  std::vector<bool> seenStart = std::vector<bool>(kIds);
  std::vector<bool> seenEnd = std::vector<bool>(kIds);
  char16_t highestStart = 0;
  int oddByte = -1;
  std::vector<char16_t> units;
  // With the sent IF: what is still expected of each pair id, of tags without one (by bucket),
  // and where each inline tag was.
  bool against = false;
  std::vector<std::int32_t> starts, ends, singles;
  std::vector<std::uint32_t> startBlock, endBlock;
  std::vector<bool> sentEnd;
  std::uint32_t block = 0;
};

CTagCheck::CTagCheck(std::function<void(std::uint64_t, const std::string&)> report)
    : m_report(std::move(report)), m_state(std::make_unique<CState>(*this)) {}

CTagCheck::~CTagCheck() = default;

void CTagCheck::SetSent(IByteStream& sent) {
  CState& s = *m_state;
  s.against = true;
  s.starts.assign(kIds, 0);
  s.ends.assign(kIds, 0);
  s.singles.assign(kIds, 0);
  s.startBlock.assign(kIds, 0);
  s.endBlock.assign(kIds, 0);
  s.sentEnd.assign(kIds, false);
  std::uint32_t block = 0;
  CIfTagGroups groups([&](const CIfTagGroup& g) {
    if (g.pair == 0) {
      ++s.singles[Bucket(g.source)];
    } else {
      auto& count = g.end ? s.ends : s.starts;
      auto& where = g.end ? s.endBlock : s.startBlock;
      where[g.pair] = ++count[g.pair] == 1 ? block : kAmbiguous;
      if (g.end) s.sentEnd[g.pair] = true;
    }
    if (g.block && g.pair != 0) block = BlockKey(g.pair, g.end);
  });
  ReadIfGroups(sent, groups);
}

void CTagCheck::Feed(const void* bytes, std::size_t count) {
  CState& s = *m_state;
  const auto* b = static_cast<const unsigned char*>(bytes);
  s.units.clear();
  std::size_t i = 0;
  if (s.oddByte >= 0 && count > 0) {
    s.units.push_back(static_cast<char16_t>(s.oddByte | (b[0] << 8)));
    s.oddByte = -1;
    i = 1;
  }
  for (; i + 1 < count; i += 2)
    s.units.push_back(static_cast<char16_t>(b[i] | (b[i + 1] << 8)));
  if (i < count) s.oddByte = b[i];
  s.groups.Feed(s.units.data(), s.units.size());
}

void CTagCheck::Report(std::uint64_t unit, const std::u16string& source, char16_t pair,
                       const std::string& what) {
  std::u16string quoted = source.substr(0, kQuotedUnits);
  if (source.size() > kQuotedUnits) quoted += u"...";
  std::string text = "tag " + Utf16ToUtf8(quoted);
  text += pair != 0 ? ", pair " + PairHex(pair) : std::string(", without a pair id");
  text += ": " + what;
  ++m_problems;
  m_report(unit, text);
}

void CTagCheck::OnGroup(const CIfTagGroup& g) {
  CState& s = *m_state;
  if (s.against) {
    if (g.pair == 0) {
      if (--s.singles[Bucket(g.source)] < 0) {
        Report(g.unit, g.source, 0, "appears more often than in the IF sent to the kernel");
      }
    } else {
      const std::int32_t left = --(g.end ? s.ends : s.starts)[g.pair];
      const std::uint32_t was = (g.end ? s.endBlock : s.startBlock)[g.pair];
      if (left < 0) {
        Report(g.unit, g.source, g.pair, "appears more often than in the IF sent to the kernel");
      } else if (!g.block && was != kAmbiguous && was != s.block) {
        Report(g.unit, g.source, g.pair, "moved across a block boundary");
      }
    }
  }
  if (g.block && g.pair != 0) s.block = BlockKey(g.pair, g.end);
  // A ut placeholder stands for markup of the original document, whose start and end may cross
  // the document's own elements or carry pair ids of their own: only the sent IF can tell
  // whether one was lost or doubled. Every other paired tag is an element of the XML document,
  // properly nested.
  if (g.pair == 0 || IsPlaceholder(g.source)) return;

  if (!g.end) {
    // Pair ids start again from a small number after 0xFFFA: what came before is forgotten.
    if (g.pair < 0x1000 && s.highestStart >= 0xF000) {
      s.seenStart.assign(kIds, false);
      s.seenEnd.assign(kIds, false);
      s.highestStart = 0;
    }
    if (g.pair > s.highestStart) s.highestStart = g.pair;
    if (s.seenStart[g.pair] && !s.against) Report(g.unit, g.source, g.pair, "appears twice");
    s.seenStart[g.pair] = true;
    CState::COpen open;
    open.pair = g.pair;
    open.source = g.source;
    open.unit = g.unit;
    s.open.push_back(std::move(open));
    return;
  }
  std::size_t at = s.open.size();
  while (at > 0 && s.open[at - 1].pair != g.pair)
    --at;
  if (at > 0) {
    const auto& closed = s.open[at - 1];
    if (closed.crossed) {
      Report(closed.crossingUnit, closed.crossingSource, closed.crossingPair,
             "closes its start tag while " + Utf16ToUtf8(closed.source.substr(0, kQuotedUnits)) +
                 " (pair " + PairHex(closed.pair) + ") is still open: the tags are misnested");
    }
    // The tags opened after it stay open; their end tags come later (misnested) or never.
    for (std::size_t i = at; i < s.open.size(); ++i) {
      auto& inner = s.open[i];
      if (inner.crossed) continue;
      inner.crossed = true;
      inner.crossingPair = g.pair;
      inner.crossingSource = g.source;
      inner.crossingUnit = g.unit;
    }
    s.open.erase(s.open.begin() + static_cast<std::ptrdiff_t>(at - 1));
  } else if (!s.against) {
    // With the sent IF, a count above or the missing start tag names this problem instead.
    Report(g.unit, g.source, g.pair, s.seenEnd[g.pair] ? "appears twice" : "no start tag");
  }
  s.seenEnd[g.pair] = true;
}

void CTagCheck::Finish() {
  CState& s = *m_state;
  s.groups.Finish();
  for (const auto& open : s.open) {
    // A start tag that had no end tag in the sent IF either is not the kernel's doing.
    if (s.against && !s.sentEnd[open.pair]) continue;
    Report(open.unit, open.source, open.pair, "no end tag");
  }
  s.open.clear();
}

void CTagCheck::NameMissing(IByteStream& sent) {
  CState& s = *m_state;
  if (!s.against) return;
  CIfTagGroups groups([&](const CIfTagGroup& g) {
    std::int32_t& left =
        g.pair == 0 ? s.singles[Bucket(g.source)] : (g.end ? s.ends : s.starts)[g.pair];
    if (left <= 0) return;
    --left;
    Report(g.unit, g.source, g.pair, "missing (at this unit of the IF sent to the kernel)");
  });
  ReadIfGroups(sent, groups);
}

}  // namespace tagvert::cli
