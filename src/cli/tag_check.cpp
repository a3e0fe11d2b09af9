// Tagvert: tag damage in a translated IF.
// SPDX-License-Identifier: Apache-2.0
#include "cli/tag_check.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "cli/if_units.h"
#include "ifcodec/if_parser.h"
#include "storage/char_class.h"
#include "storage/input_scan.h"
#include "storage/unit_scan.h"

namespace tagvert::cli {

namespace {

constexpr std::size_t kIds = 0x10000;
// How much of a tag's source text a message quotes (a collapsed block can be long).
constexpr std::size_t kQuotedUnits = 60;
// A block location that several tag groups of one pair id share: not checked.
constexpr std::uint32_t kAmbiguous = 0xFFFFFFFF;
// The words that end the sentence of each kind of problem, in the order of CTagCheck::Kind.
constexpr const char* kKindWords[CTagCheck::kKinds] = {
    "appears twice",
    "no start tag",
    "no end tag",
    "the tags are misnested",
    "appears more often than in the IF sent to the kernel",
    "moved across a block boundary",
    "missing from the translation",
};

std::string PairHex(char16_t pair) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(pair));
  return text;
}

std::uint16_t Bucket(std::u16string_view source) {
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

// The pair ids seen in a start tag and in an end tag since ids last started again, a bit per id
// and kind: 16 KiB whatever the document, so that the memory stays the same however far its ids
// go. The words written since are listed, so that forgetting every id clears only those.
class CSeenIds {
 public:
  /// Marks `pair` seen in a start tag (`end` false) or an end tag; returns whether it was.
  bool Add(char16_t pair, bool end) {
    const std::size_t at = (end ? kWords : 0) + (pair >> 6);
    const std::uint64_t bit = std::uint64_t{1} << (pair & 63);
    const std::uint64_t word = m_bits[at];
    if (word == 0) m_written.push_back(static_cast<std::uint16_t>(at));
    m_bits[at] = word | bit;
    return (word & bit) != 0;
  }
  /// Add, when the word of `pair` and kind has a bit set already, so that nothing is listed:
  /// true, `was` as Add returns it. False, nothing changed, when the word has none.
  bool AddInWord(char16_t pair, bool end, bool& was) {
    std::uint64_t& word = m_bits[(end ? kWords : 0) + (pair >> 6)];
    const std::uint64_t bit = std::uint64_t{1} << (pair & 63);
    if (word == 0) return false;
    was = (word & bit) != 0;
    word |= bit;
    return true;
  }
  void Forget() {
    for (const std::uint16_t at : m_written)
      m_bits[at] = 0;
    m_written.clear();
  }

 private:
  static constexpr std::size_t kWords = kIds / 64;
  std::uint64_t m_bits[2 * kWords] = {};  // start tags, then end tags
  std::vector<std::uint16_t> m_written;
};

// An entry per pair id, all zero at first. The memory comes zeroed from the system: the pages of
// ids never used are never touched.
template <typename T>
class CIdTable {
 public:
  CIdTable() : m_entries(static_cast<T*>(std::calloc(kIds, sizeof(T)))) {
    if (m_entries == nullptr) throw std::bad_alloc();
  }
  ~CIdTable() { std::free(m_entries); }
  CIdTable(const CIdTable&) = delete;
  CIdTable& operator=(const CIdTable&) = delete;
  T& operator[](char16_t pair) { return m_entries[pair]; }
  const T& operator[](char16_t pair) const { return m_entries[pair]; }

 private:
  T* m_entries;
};

bool IsPlaceholder(std::u16string_view source) {
  return source.size() > 3 && source[0] == u'<' && source[1] == u'u' && source[2] == u't' &&
         (source[3] == u' ' || source[3] == u'>' || source[3] == u'/' || source[3] == u'\t' ||
          source[3] == u'\r' || source[3] == u'\n');
}

}  // namespace

namespace {

// Whether the five units at `p` are the end tag of a translation unit, "</Tu>".
constexpr bool IsTuEndAt(const char16_t* p) {
  return p[0] == u'<' && p[1] == u'/' && p[2] == u'T' && p[3] == u'u' && p[4] == u'>';
}

// How many units of a translation unit's text name it in a message.
constexpr std::size_t kSegmentWords = 40;

constexpr bool IsXmlSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Whether `next`, after a start tag's name, ends the name ("<Tu" is no "<Tuv").
constexpr bool EndsName(char16_t next) {
  return next == u'>' || next == u'/' || IsXmlSpace(next);
}

// Whether the start tag `source` ("<Tu" and more) holds "</Tu>", looked for at each '<' after
// its own (found eight units at a time).
bool HoldsTuEnd(std::u16string_view source) {
  if (source.size() < 6) return false;
  // A '<' in the last four units begins no "</Tu>".
  const char16_t* const last = source.data() + source.size() - 4;
  for (const char16_t* p = FindUnit(source.data() + 1, last, u'<'); p != last;
       p = FindUnit(p + 1, last, u'<')) {
    if (IsTuEndAt(p)) return true;
  }
  return false;
}

// The text of markup as a person reads it: tags and the contents of ut placeholders (markup of
// the original document) left out, the five predefined references resolved.
// How much of a source Tuv's markup is kept to name its translation unit.
constexpr std::size_t kMarkupUnits = 1024;

// Appends `text` to the words `words`, white space as one space, none at the start, until there
// are more than enough.
void AppendWords(std::u16string& words, std::u16string_view text) {
  for (const char16_t unit : text) {
    if (words.size() > kSegmentWords) return;
    const bool space = IsXmlSpace(unit) || unit == 0x00A0;
    if (space && (words.empty() || words.back() == u' ')) continue;
    words += space ? u' ' : unit;
  }
}

std::u16string TextOfMarkup(std::u16string_view markup, std::size_t enough) {
  std::u16string text;
  int inPlaceholder = 0;
  std::size_t at = 0;
  while (at < markup.size() && text.size() < enough) {
    const std::size_t open = markup.find(u'<', at);
    const std::size_t stop = open == markup.npos ? markup.size() : open;
    if (inPlaceholder == 0) text.append(markup.substr(at, std::min(stop - at, 2 * enough)));
    if (open == markup.npos) break;
    const std::size_t close = markup.find(u'>', open);
    const std::u16string_view tag =
        markup.substr(open, close == markup.npos ? markup.npos : close - open);
    if (tag.starts_with(u"<ut") && !tag.ends_with(u"/")) ++inPlaceholder;
    if (tag.starts_with(u"</ut") && inPlaceholder > 0) --inPlaceholder;
    if (close == markup.npos) break;
    at = close + 1;
  }
  if (text.find(u'&') == text.npos) return text;
  static constexpr std::pair<std::u16string_view, char16_t> kReferences[] = {
      {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&quot;", u'"'}, {u"&apos;", u'\''}, {u"&amp;", u'&'}};
  for (const auto& [reference, unit] : kReferences) {
    for (std::size_t found = text.find(reference); found != text.npos;
         found = text.find(reference, found + 1))
      text.replace(found, reference.size(), 1, unit);
  }
  return text;
}

}  // namespace

std::string QuoteWords(const CTagPlace& place) {
  if (!place.words) return {};
  std::u16string words;
  AppendWords(words,
              place.wordsInMarkup ? TextOfMarkup(*place.words, kSegmentWords + 1) : *place.words);
  if (words.size() <= kSegmentWords) return Utf16ToUtf8(words);
  std::size_t cut = words.rfind(u' ', kSegmentWords);
  if (cut == std::u16string::npos || cut == 0) cut = kSegmentWords;
  return Utf16ToUtf8(words.substr(0, cut)) + "...";
}

void CIfTagGroups::OnUnits(std::u16string_view piece) {
  Settle(true);
  m_piece = m_follow ? piece : std::u16string_view();
  m_feeds.clear();
  m_nextFeed = 0;
  m_feedsFrom = 0;
  m_searched = 0;
  // Nothing is known to hold no line feed until the search has been there.
  m_noFeedFrom = UINTPTR_MAX;
  m_noFeedTo = 0;
}

void CIfTagGroups::FindFeeds(std::size_t from, std::size_t to) {
  // The line feeds before `from` are behind the text to come.
  const auto behind = std::lower_bound(m_feeds.begin(), m_feeds.end(), from);
  if (behind != m_feeds.begin()) {
    m_feedsFrom = *(behind - 1) + 1;
    m_feeds.erase(m_feeds.begin(), behind);
  }
  m_nextFeed = 0;
  // The search runs a stretch ahead of the text, so that the walk finds its units in the cache
  // after it.
  constexpr std::size_t kStretch = 8192;
  const std::size_t size = std::min(m_piece.size(), std::max(to, m_searched + kStretch));
  const char16_t* const units = m_piece.data();
  std::size_t i = m_searched;  // the units before it are looked at
  m_searched = size;
  if constexpr (std::endian::native == std::endian::little) {
    // A line feed is a byte 0x0A at an even offset followed by a zero byte: the byte search of
    // the C library (the widest the machine has) finds the candidates. In text with many units
    // that have such a byte (some Indic scripts) the scan below goes on instead.
    constexpr std::size_t kMostMisses = 64;
    const auto* const bytes = reinterpret_cast<const char*>(units);
    const std::size_t count = 2 * size;
    std::size_t misses = 0;
    std::size_t at = 2 * i;
    i = size;
    // An empty stretch may have no address at all, which memchr must not be given.
    const void* found = count > at ? std::memchr(bytes + at, '\n', count - at) : nullptr;
    while (found != nullptr) {
      at = static_cast<std::size_t>(static_cast<const char*>(found) - bytes);
      if (at % 2 == 0 && units[at / 2] == u'\n') {
        m_feeds.push_back(at / 2);
      } else if (++misses > kMostMisses) {
        i = at / 2 + 1;
        break;
      }
      found = std::memchr(bytes + at + 1, '\n', count - at - 1);
    }
  }
#if TAGVERT_UNITS_SSE2
  const __m128i lineFeed = _mm_set1_epi16(u'\n');
  const auto feeds = [&](std::size_t at) {
    return _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(units + at)), lineFeed);
  };
  // The line feeds of the 32 units at `at`.
  const auto mark = [&](std::size_t at) {
    const __m128i a = feeds(at), b = feeds(at + 8), c = feeds(at + 16), d = feeds(at + 24);
    // Lanes of 0 or -1 pack into bytes of the same: a bit per unit.
    auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(a, b))) |
                static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(c, d))) << 16;
    for (; mask != 0; mask &= mask - 1)
      m_feeds.push_back(at + static_cast<std::size_t>(std::countr_zero(mask)));
  };
  // Sixty-four units per test, then thirty-two: line feeds are rare.
  for (; i + 64 <= size; i += 64) {
    __m128i any = feeds(i);
    for (std::size_t k = 8; k < 64; k += 8)
      any = _mm_or_si128(any, feeds(i + k));
    if (_mm_movemask_epi8(any) == 0) continue;
    mark(i);
    mark(i + 32);
  }
  if (i + 32 <= size) {
    mark(i);
    i += 32;
  }
#endif
  for (; i < size; ++i) {
    if (units[i] == u'\n') m_feeds.push_back(i);
  }
}

inline void CIfTagGroups::Advance(std::u16string_view text) {
  // Text between the piece's start and its next line feed holds none: most text, as line feeds
  // are rare.
  if (InLine(text)) {
    m_here.column += text.size();
    return;
  }
  AdvanceFar(text);
}

void CIfTagGroups::AdvanceFar(std::u16string_view text) {
  // Text that lies in the piece of OnUnits holds a line feed only where the piece has one.
  const auto start = reinterpret_cast<std::uintptr_t>(text.data());
  const auto piece = reinterpret_cast<std::uintptr_t>(m_piece.data());
  if (m_piece.empty() || start < piece || start + 2 * text.size() > piece + 2 * m_piece.size()) {
    AdvanceCounting(text);
    return;
  }
  const std::size_t from = (start - piece) / 2;
  const std::size_t to = from + text.size();
  // A long text is counted on its own, so that the line feeds kept stay few; the search goes on
  // after it.
  constexpr std::size_t kLongText = 4096;
  if (text.size() > kLongText || from < m_feedsFrom) {
    AdvanceCounting(text);
    if (from >= m_feedsFrom) {
      // The line feeds up to its end are behind.
      m_feeds.erase(m_feeds.begin(), std::lower_bound(m_feeds.begin(), m_feeds.end(), to));
      m_nextFeed = 0;
      m_feedsFrom = to;
      m_searched = std::max(m_searched, to);
    }
    m_noFeedFrom = UINTPTR_MAX;
    m_noFeedTo = 0;
    return;
  }
  if (to > m_searched) FindFeeds(from, to);
  if (m_nextFeed > 0 && m_feeds[m_nextFeed - 1] >= from) {
    m_nextFeed = static_cast<std::size_t>(std::lower_bound(m_feeds.begin(), m_feeds.end(), from) -
                                          m_feeds.begin());
  }
  while (m_nextFeed < m_feeds.size() && m_feeds[m_nextFeed] < from)
    ++m_nextFeed;
  std::size_t last = m_nextFeed;  // the first line feed at or after the text's end
  while (last < m_feeds.size() && m_feeds[last] < to)
    ++last;
  if (last > m_nextFeed) {
    m_here.line += last - m_nextFeed;
    m_here.column = to - m_feeds[last - 1];
  } else {
    m_here.column += text.size();
  }
  // Text between the line feeds around the text's end holds none, as far as the search went.
  m_nextFeed = last;
  m_noFeedFrom = piece + 2 * (last > 0 ? m_feeds[last - 1] + 1 : m_feedsFrom);
  m_noFeedTo = piece + 2 * (last < m_feeds.size() ? m_feeds[last] : m_searched);
}

void CIfTagGroups::AdvanceCounting(std::u16string_view text) {
  // The line feeds are counted sixteen units at a time, the last few units by one look at the
  // eight that end the text, and the last line feed is kept.
  std::uint64_t lines = 0;
  std::size_t last = 0;  // one past the last line feed
  std::size_t i = 0;
  const std::size_t size = text.size();
#if TAGVERT_UNITS_SSE2
  const __m128i lineFeed = _mm_set1_epi16(u'\n');
  const auto feeds = [&](std::size_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, lineFeed)));
  };
  for (; i + 16 <= size; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i + 8));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_packs_epi16(_mm_cmpeq_epi16(a, lineFeed), _mm_cmpeq_epi16(b, lineFeed))));
    if (mask == 0) continue;
    lines += static_cast<unsigned>(std::popcount(mask));
    last = i + static_cast<std::size_t>(std::bit_width(mask));
  }
  if (i + 8 <= size) {
    const unsigned mask = feeds(i);
    if (mask != 0) {
      lines += static_cast<unsigned>(std::popcount(mask)) / 2;
      last = i + static_cast<std::size_t>(std::bit_width(mask)) / 2;
    }
    i += 8;
  }
  if (i < size && size >= 8) {
    // The eight units that end the text, those before `i` left out (two mask bits a unit).
    const unsigned mask = feeds(size - 8) >> (2 * (8 - (size - i)));
    if (mask != 0) {
      lines += static_cast<unsigned>(std::popcount(mask)) / 2;
      last = i + static_cast<std::size_t>(std::bit_width(mask)) / 2;
    }
    i = size;
  }
#endif
  for (; i < size; ++i) {
    if (text[i] != u'\n') continue;
    ++lines;
    last = i + 1;
  }
  if (lines == 0) {
    m_here.column += size;
    return;
  }
  m_here.line += lines;
  m_here.column = size - last + 1;
}

void CIfTagGroups::AdvanceText(std::u16string_view run, Special known, std::size_t widened) {
  // The space that the way in put after a no-break space is not written back.
  if (m_afterNbsp && !run.empty() && run.front() == u' ') run.remove_prefix(1);
  m_afterNbsp = false;
  // Most runs hold no unit that the way back changes: they are counted as they are. A '<', a
  // '&' and the '>' of a "]]>" are written as references ("&lt;", "&amp;", "&gt;"): 3, 4 and 3
  // units more. Only a no-break space (spaces next to it go) needs the escaping done.
  if (known == Special::kNone || (known == Special::kUnknown &&
                                  UnitsFindMarkupSpecial(run.data(), run.size()) == run.size())) {
    Advance(run);
  } else if (!AdvanceEscaped(run, widened)) {
    std::u16string text(run);
    m_escaper.CollapseNbsp(text);
    m_escaper.EscapeText(text);
    CTextProcessor::EscapeCDataEnd(text);
    Advance(text);
  }
  if (m_inSegment && !m_wordsInMarkup) AddWords(run);
}

void CIfTagGroups::FollowPlace() {
  m_group.m_placed = true;
  FollowPlace(m_group.m_place);
}

void CIfTagGroups::PlaceAt(const CIfTagGroup::CMark& mark, CTagPlace& to) {
  if (mark.segment == 0) {
    // Outside a unit a place names no words.
    to.segment = 0;
    to.inSent = m_here.inSent;
    to.wordsInMarkup = false;
    to.words.reset();
  } else {
    FollowPlace(to);
  }
  to.unit = mark.unit;
  to.line = mark.line;
  to.column = mark.column;
}

void CIfTagGroups::FollowPlace(CTagPlace& place) {
  place.unit = m_group.m_place.unit;
  place.line = m_here.line;
  place.column = m_here.column;
  place.segment = m_inSegment ? m_here.segment : 0;
  place.inSent = m_here.inSent;
  const bool words = place.segment != 0 && (m_wordsInMarkup || !m_words.empty());
  place.wordsInMarkup = words && m_wordsInMarkup;
  if (!words) {
    place.words.reset();
    return;
  }
  if (!m_wordsShared) ShareWords(m_words);
  // The tags of one unit share its words: the pointer is set only when it changes.
  if (place.words != m_spareWords) place.words = m_spareWords;
}

bool CIfTagGroups::AdvanceEscaped(std::u16string_view run, std::size_t widened) {
  // The references add three units for each '<' ("&lt;") and four for each '&' ("&amp;"),
  // found by the scan for the units escaping looks at, to the column of the run as it is; a
  // ']' that begins a "]]>" adds three, as its '>' is written "&gt;". The writer's count, when
  // it gives one, is that sum: the space after a no-break space that one of the two may have
  // left out is none of those units.
  const std::size_t size = run.size();
  const auto added = [&](std::size_t at) {
    const bool cdataEnd =
        run[at] == u']' && size - at >= 3 && run[at + 1] == u']' && run[at + 2] == u'>';
    return run[at] == u'<' || cdataEnd ? 3U : (run[at] == u'&' ? 4U : 0U);
  };
  const auto extra = [&](std::size_t from) {
    std::uint64_t units = 0;
    for (std::size_t at = from + UnitsFindMarkupSpecial(run.data() + from, size - from); at < size;
         at += 1 + UnitsFindMarkupSpecial(run.data() + at + 1, size - at - 1)) {
      units += added(at);
    }
    return units;
  };
  std::uint64_t units = widened;
  if (widened == IIfTagGroupObserver::kWidenedUnknown) {
    units = 0;
    for (std::size_t at = UnitsFindMarkupSpecial(run.data(), size); at < size;
         at += 1 + UnitsFindMarkupSpecial(run.data() + at + 1, size - at - 1)) {
      if (run[at] == 0x00A0) return false;
      units += added(at);
    }
  }
  const std::uint64_t line = m_here.line;
  Advance(run);
  // After a line feed only the references after the last one move the column.
  m_here.column += m_here.line == line ? units : extra(run.rfind(u'\n') + 1);
  return true;
}

void CIfTagGroups::ShareWords(std::u16string_view words) {
  // The string last made is taken again once no place holds it (most units leave none behind):
  // no place sees it change. Only places count as its holders, so that a unit that names none
  // changes no count.
  if (!m_spareWords || m_spareWords.use_count() != 1) {
    m_spareWords = std::make_shared<std::u16string>();
  }
  if (words.empty()) {
    m_spareWords->clear();
  } else {
    m_spareWords->assign(words);
  }
  m_wordsShared = true;
}

inline void CIfTagGroups::SettleWords(bool current) {
  if (m_wordsView.empty()) return;
  // Markup is seen only along the conversion's walk: the group handed over last is done with
  // (the unit ends as it is left).
  if (!current && m_wordsShared && m_group.m_place.words == m_spareWords) {
    m_group.m_place.words.reset();
  }
  // The string is held by m_spareWords: any other holder is a place.
  if (current || m_spareWords.use_count() > 1) m_spareWords->assign(m_wordsView);
  m_wordsView = {};
}

void CIfTagGroups::AddWords(std::u16string_view text) {
  if (m_words.size() > kSegmentWords) return;
  Settle();
  AppendWords(m_words, text);
  m_wordsShared = false;
}

inline void CIfTagGroups::FollowSegments(std::u16string_view source) {
  m_afterNbsp = source.size() == 1 && source[0] == 0x00A0;
  // Most tags are none of Tu, Tuv and their end tags: one look at their start tells. An end
  // tag is told here.
  if (source.size() < 4 || source[0] != u'<') return;
  if (source[1] == u'/') {
    if (m_inSegment && source.size() >= 5 && IsTuEndAt(source.data())) {
      Settle();
      m_inSegment = false;
    }
    return;
  }
  if (source[1] == u'T' && source[2] == u'u') FollowSegmentTag(source);
}

void CIfTagGroups::FollowSegmentTag(std::u16string_view source) {
  // The source holds four units or more and starts with "<Tu".
  if (EndsName(source[3])) {
    Settle();
    ++m_here.segment;
    m_words.clear();
    SettleWords(false);
    m_wordsShared = false;
    m_wordsInMarkup = false;
    // A unit carried whole (already translated) holds no tag of its own to name it by.
    // Such a unit ends with its end tag: that is looked at before the whole text is searched.
    const bool endsWhole = source.size() >= 5 && IsTuEndAt(source.data() + source.size() - 5);
    m_inSegment = !endsWhole && !HoldsTuEnd(source);
  } else if (m_inSegment && m_words.empty() && !m_wordsInMarkup && source[3] == u'v' &&
             source.size() > 4 && EndsName(source[4])) {
    // The source Tuv, carried whole before the text to translate, names the unit; its text is
    // read out of the markup only for a message. While the markup lies in the piece it is
    // copied only when a place may need it later (most units end in their piece, their tags
    // closed): the string is handed out empty and filled by SettleWords.
    Settle();
    const std::u16string_view markup = source.substr(0, kMarkupUnits);
    const auto start = reinterpret_cast<std::uintptr_t>(markup.data());
    const auto piece = reinterpret_cast<std::uintptr_t>(m_piece.data());
    const bool inPiece = !m_piece.empty() && start >= piece &&
                         start + 2 * markup.size() <= piece + 2 * m_piece.size();
    ShareWords(inPiece ? std::u16string_view() : markup);
    if (inPiece) m_wordsView = markup;
    m_wordsInMarkup = true;
  }
}

void CIfTagGroups::Feed(const char16_t* units, std::size_t count) {
  std::u16string_view rest(units, count);
  while (const CIfToken* token = m_reader.Next(rest)) {
    // Only a group start's position is kept: its code lies before its fixed data.
    const std::uint64_t used = m_fed + (count - rest.size());
    OnToken(*token, token->kind == IfTokenKind::GroupStart ? used - 1 - token->dataCount : used);
  }
  m_fed += count;
  // The piece goes: the source text read so far of a group that goes on is kept.
  if (m_inTag && !m_sourceCopied && !m_group.source.empty()) {
    m_sourceCopy.assign(m_group.source);
    m_group.source = m_sourceCopy;
    m_sourceCopied = true;
  }
}

void CIfTagGroups::OnToken(const CIfToken& token, std::uint64_t unit) {
  switch (token.kind) {
    case IfTokenKind::Text:
      if (m_follow) AdvanceText(token.units);
      m_end = m_block = false;
      break;
    case IfTokenKind::Boundary:
      // Text or a boundary ends the element the flags belonged to.
      m_end = m_block = false;
      break;
    case IfTokenKind::Flag:
      if (token.code == kIfEndTag) m_end = true;
      if (token.code == kIfBlock) m_block = true;
      break;
    case IfTokenKind::GroupStart:
      // A tag group cut off before its pair id is no tag.
      if (token.code != kIfTagGroup || token.dataCount == 0) break;
      m_inTag = true;
      if (m_follow) FollowPlace();
      m_group.m_place.unit = unit;
      m_group.end = m_end;
      m_group.block = m_block;
      m_group.pair = token.data[0];
      m_group.source = {};
      m_sourceCopied = false;
      m_end = m_block = false;
      break;
    case IfTokenKind::GroupData:
      if (!m_inTag) break;
      if (m_group.source.empty()) {
        // Most source texts come as one token: seen where they are.
        m_group.source = token.units;
        break;
      }
      if (!m_sourceCopied) m_sourceCopy.assign(m_group.source);
      m_sourceCopy.append(token.units);
      m_group.source = m_sourceCopy;
      m_sourceCopied = true;
      break;
    case IfTokenKind::GroupEnd:
      // Every other group and skipped text end the element the flags belonged to as well.
      if (m_inTag) {
        if (m_follow) {
          Advance(m_group.source);
          FollowSegments(m_group.source);
        }
        m_onGroup(m_group);
      }
      m_inTag = false;
      m_end = m_block = false;
      break;
  }
}

inline void CIfTagGroups::OnText(std::u16string_view run, bool plain, std::size_t widened) {
  // Most runs are plain, follow no no-break space, lie between two line feeds and add nothing
  // to the words of their unit (there are enough, or the source Tuv's markup names it): they
  // only move the column.
  if (plain && !m_afterNbsp && InLine(run) &&
      (!m_inSegment || m_wordsInMarkup || m_words.size() > kSegmentWords)) {
    m_here.column += run.size();
    return;
  }
  // The walk's answer holds for the run without the space that follows a no-break space too:
  // a space is none of those units.
  if (m_follow) AdvanceText(run, plain ? Special::kNone : Special::kSome, widened);
}

const CIfTagGroup& CIfTagGroups::Enter(const CIfTagGroupSeen& seen) {
  // The place is the one reached before the group: followed from here when asked for, before
  // Leave moves on.
  m_group.m_placed = !m_follow;
  m_group.m_place.unit = seen.unit;
  m_group.end = seen.end;
  m_group.block = seen.block;
  m_group.pair = seen.pair;
  m_group.source = seen.source;
  return m_group;
}

void CIfTagGroups::Leave() {
  Pass(m_group.source);
}

inline void CIfTagGroups::Pass(std::u16string_view source) {
  if (!m_follow) return;
  Advance(source);
  FollowSegments(source);
}

inline bool CIfTagGroups::PassesInLine(std::u16string_view source) const {
  // FollowSegments looks no further at most tags (the same tests).
  if (source.size() < 4 || source[0] != u'<') return true;
  if (source[1] == u'/') return !m_inSegment || source.size() < 5 || !IsTuEndAt(source.data());
  if (source[1] != u'T' || source[2] != u'u') return true;
  // FollowSegmentTag's tests: a Tuv start tag in a unit that is named already (the target Tuv,
  // after the source Tuv) changes nothing.
  return m_wordsInMarkup && !EndsName(source[3]);
}

void CIfTagGroups::PassSegmentTagInLine(std::u16string_view source) {
  // The source lies between two line feeds and holds four units or more starting with '<':
  // no no-break space. It is "</Tu>" in a unit, or starts with "<Tu" (PassesInLine's tests).
  m_here.column += source.size();
  m_afterNbsp = false;
  if (source[1] == u'/') {
    Settle();
    m_inSegment = false;
    return;
  }
  FollowSegmentTag(source);
}

inline void CIfTagGroups::PassPlaceholder(std::u16string_view source) {
  if (!m_follow) return;
  Advance(source);
  // A ut placeholder is neither a no-break space nor a tag of a translation unit.
  m_afterNbsp = false;
}

void CIfTagGroups::EndUnits() {
  Settle(true);
  SettleWords(true);
  OnUnits({});
}

void CIfTagGroups::Finish() {
  m_reader.Finish([&](const CIfToken& token) { OnToken(token, m_fed); });
  Settle(true);
  SettleWords(true);
  m_fed = 0;
  m_piece = {};
  m_noFeedFrom = UINTPTR_MAX;
  m_noFeedTo = 0;
}

void ReadIfGroups(IByteStream& source, CIfTagGroups& groups) {
  ReadIfUnits(source, [&](const char16_t* units, std::size_t n) { groups.Feed(units, n); });
  groups.Finish();
}

struct CTagCheck::CState {
  CState(CTagCheck& check, bool followPlaces)
      : groups([&check](const CIfTagGroup& group) { check.OnGroup(group); }, false, followPlaces),
        holds(followPlaces) {
    if (holds) {
      groups.SetOnChange(
          [](void* state, bool pieceGoes) {
            auto& s = *static_cast<CState*>(state);
            // Marks outside a unit name nothing that changes; the views of the piece go with it.
            if (pieceGoes || s.heldInUnit > 0) s.OpenHeld();
          },
          this, &heldInUnit);
    }
  }
  CState(const CState&) = delete;
  CState& operator=(const CState&) = delete;

  // An open tag's position in the list of open tags, and none. The list never holds as many.
  static constexpr std::uint32_t kNone = UINT32_MAX;
  // The first end tag that closed a tag opened before an open tag while that one was open:
  // misnesting when that one is closed later, a lost end tag of it otherwise. One end tag often
  // crosses many open tags, which share it: an entry of `crossings` that counts them, free again
  // (in `freeCrossings`) once none does.
  struct CCrossing {
    char16_t pair = 0;
    std::u16string source;
    CTagPlace place;
    std::uint32_t tags = 0;
  };
  // The words of a translation unit that places of open tags name, shared by the open tags of
  // the unit opened one after another, and the number of those still open. The entries are in
  // the order of the open tags that name them; none at the end is named by none.
  struct CWords {
    std::shared_ptr<const std::u16string> words;
    std::uint32_t tags = 0;
  };
  // An open tag, small (a deep nesting keeps many): its place as a mark with an index of its
  // words, its quote in place or in `quotes`.
  struct COpen {
    char16_t pair = 0;
    bool closed = false;  // a gap in the list until it is compacted
    // The start of its source text, as much as a message quotes and one unit more (which tells
    // that there is more): in place when it is short (most are), at `quoteAt` in `quotes`
    // otherwise. Then the place's flags: the three fields, of one type, share a byte.
    std::uint8_t quoteSize : 6 = 0;
    std::uint8_t wordsInMarkup : 1 = 0;
    std::uint8_t inSent : 1 = 0;
    std::uint32_t samePair = kNone;  // the open tag with the same pair id opened before it
    union {
      std::size_t quoteAt = 0;
      char16_t quoteHere[4];
    };
    bool QuotedHere() const { return quoteSize <= std::size(quoteHere); }
    CIfTagGroup::CMark mark;
    std::uint32_t words = kNone;  // its entry of `words`, kNone when the place names none
    std::uint32_t crossing = 0;   // its entry of `crossings` and 1, 0 when none crossed it
  };
  static_assert(kQuotedUnits + 1 < 64, "a quote's size fits COpen::quoteSize");
  static_assert(sizeof(COpen) <= 56 || sizeof(void*) != 8, "an open tag stays small");
  CIfTagGroups groups;
  // Most start tags are closed by an end tag before any other end tag comes: the start tags
  // opened last along the conversion's walk, nested in one another, are held here (with their
  // sources where the piece holds them and the marks of their places) and go into the open tags
  // only when another end tag comes, too many are held, or the piece, or the unit that a held
  // place names, is about to change (the groups' hook). Every tag held is newer than the open
  // tags, crossed by none, and the innermost of its pair id.
  struct CHeld {
    char16_t pair;
    std::u16string_view source;
    CIfTagGroup::CMark mark;
  };
  bool holds;  // places are followed, so that a start tag may be held
  std::array<CHeld, 8> held;
  std::size_t heldCount = 0;
  std::size_t heldInUnit = 0;  // the marks held that name a translation unit
  // The open tags in the order they were opened, with gaps where tags were closed; the gaps are
  // dropped from the end at once and from the rest once they outnumber the open tags.
  std::vector<COpen> open;
  std::size_t gaps = 0;
  // The quotes of the tags in the list that are not kept in place, one after another in their
  // order.
  std::vector<char16_t> quotes;
  std::vector<CWords> words;
  std::vector<CCrossing> crossings;
  std::vector<std::uint32_t> freeCrossings;
  // Per pair id, the innermost open tag with it: the one an end tag of that id closes, kept
  // one more (0: none).
  CIdTable<std::uint32_t> innermost;
  std::uint32_t Innermost(char16_t pair) const { return innermost[pair] - 1; }
  void SetInnermost(char16_t pair, std::uint32_t at) { innermost[pair] = at + 1; }
  // The open tags not crossed yet, in ascending order: an end tag crosses every open tag opened
  // after the one it closes, the end of this list.
  std::vector<std::uint32_t> uncrossed;
  std::uint64_t steps = 0;
  // The pair ids seen in a start tag and in an end tag since ids last started again.
  CSeenIds seen;
  char16_t highestStart = 0;
  int oddByte = -1;
  std::vector<char16_t> units;
  // With the sent IF: what is still expected of each pair id, of tags without one (by bucket),
  // and where each inline tag was.
  bool against = false;
  std::vector<std::int32_t> starts, ends, singles;
  std::vector<std::uint32_t> startBlock, endBlock, singleBlock;
  // The pair ids whose tags the nesting checks found damaged: the sent IF adds nothing on them,
  // so that one damage gives the same warnings with the sent IF as without.
  std::vector<bool> damaged = std::vector<bool>(kIds);
  std::vector<bool> sentEnd;
  // The pair ids on which the sent IF itself fails the nesting checks (on a document with more
  // tags than ids the conversion can number a start tag and another pair's end tag alike): what
  // the translation shows on them is not the kernel's doing.
  std::vector<bool> sentDamaged;
  std::uint32_t block = 0;

  // Opens the start tag `pair` with its source text and place (put into a CTagPlace by
  // `place`).
  template <typename PlaceInto>
  void Open(char16_t pair, std::u16string_view source, const PlaceInto& place) {
    const auto at = static_cast<std::uint32_t>(open.size());
    CTagPlace where;
    place(where);
    COpen& opened = open.emplace_back();
    opened.pair = pair;
    opened.samePair = Innermost(pair);
    const std::size_t quoted = std::min(source.size(), kQuotedUnits + 1);
    opened.quoteSize = static_cast<std::uint8_t>(quoted & 0x3F);
    if (opened.QuotedHere()) {
      std::copy_n(source.data(), quoted, opened.quoteHere);
    } else {
      opened.quoteAt = quotes.size();
      quotes.insert(quotes.end(), source.data(), source.data() + quoted);
    }
    opened.mark = {where.unit, where.line, where.column, where.segment};
    opened.wordsInMarkup = where.wordsInMarkup;
    opened.inSent = where.inSent;
    if (where.words) {
      // The tags of a unit opened one after another share an entry.
      if (words.empty() || words.back().words != where.words) {
        words.push_back({std::move(where.words), 0});
      }
      opened.words = static_cast<std::uint32_t>(words.size() - 1);
      ++words.back().tags;
    }
    SetInnermost(pair, at);
    uncrossed.push_back(at);
  }

  // The source text of `tag` as far as a message quotes it, and one unit more.
  std::u16string_view Source(const COpen& tag) const {
    return {tag.QuotedHere() ? tag.quoteHere : quotes.data() + tag.quoteAt, tag.quoteSize};
  }

  // The place of `tag`.
  void PlaceOf(const COpen& tag, CTagPlace& to) const {
    to.unit = tag.mark.unit;
    to.line = tag.mark.line;
    to.column = tag.mark.column;
    to.segment = tag.mark.segment;
    to.words = tag.words == kNone ? nullptr : words[tag.words].words;
    to.wordsInMarkup = tag.wordsInMarkup != 0;
    to.inSent = tag.inSent != 0;
  }

  // `tag` names its words no more: an entry named by no tag lets go of them, and goes when it
  // is the last.
  void ReleaseWords(COpen& tag) {
    if (tag.words == kNone) return;
    CWords& entry = words[tag.words];
    tag.words = kNone;
    if (--entry.tags != 0) return;
    entry.words.reset();
    while (!words.empty() && words.back().tags == 0)
      words.pop_back();
  }

  // `tag` is crossed by no end tag any more: an entry that crosses none is free again.
  void ReleaseCrossing(COpen& tag) {
    if (tag.crossing == 0) return;
    CCrossing& entry = crossings[tag.crossing - 1];
    if (--entry.tags == 0) {
      std::u16string().swap(entry.source);
      entry.place.words.reset();
      freeCrossings.push_back(tag.crossing - 1);
    }
    tag.crossing = 0;
  }

  // An entry of `crossings` for the end tag `g`, crossing no tag yet; its index and 1.
  std::uint32_t NewCrossing(const CIfTagGroup& g) {
    std::uint32_t at = 0;
    if (freeCrossings.empty()) {
      at = static_cast<std::uint32_t>(crossings.size());
      crossings.emplace_back();
    } else {
      at = freeCrossings.back();
      freeCrossings.pop_back();
    }
    CCrossing& entry = crossings[at];
    entry.pair = g.pair;
    entry.source.assign(g.source);
    entry.place = g.Place();
    return at + 1;
  }

  // Drops the tag at the end of the list, closed and released.
  void PopOpen() {
    if (!open.back().QuotedHere()) quotes.resize(open.back().quoteAt);
    open.pop_back();
  }

  // Closes the start tag held last when it is the one that the end tag `pair` closes (CloseTag's
  // first case) and the pair id's bit needs no listing: true. False, nothing changed, otherwise.
  bool CloseHeld(char16_t pair) {
    bool endSeen = false;
    if (heldCount == 0 || held[heldCount - 1].pair != pair || !seen.AddInWord(pair, true, endSeen))
      return false;
    if (held[--heldCount].mark.segment != 0) --heldInUnit;
    ++steps;
    return true;
  }

  // Holds the start tag `g` as Nest does when nothing else is to be done: ids do not start
  // again, its id was not seen, its bit needs no listing and there is room. `inPiece`: its
  // source lies in the piece. False, nothing changed, otherwise.
  bool Hold(const CIfTagGroupSeen& g, bool inPiece) {
    bool twice = false;
    if (!holds || !inPiece || heldCount == held.size() ||
        (g.pair < 0x1000 && highestStart >= 0xF000) || !seen.AddInWord(g.pair, false, twice) ||
        twice) {
      // A bit set again changes nothing.
      return false;
    }
    if (g.pair > highestStart) highestStart = g.pair;
    CHeld& tag = held[heldCount++];
    tag.pair = g.pair;
    tag.source = g.source;
    tag.mark = groups.MarkHere(g.unit);
    if (tag.mark.segment != 0) ++heldInUnit;
    return true;
  }

  // Opens the start tags held, in the order they came.
  void OpenHeld() {
    for (std::size_t i = 0; i < heldCount; ++i) {
      const CHeld& tag = held[i];
      Open(tag.pair, tag.source, [&](CTagPlace& place) { groups.PlaceAt(tag.mark, place); });
    }
    heldCount = 0;
    heldInUnit = 0;
  }

  // Drops the closed tags at the end of the list at once, the other gaps once they outnumber the
  // open tags.
  void DropClosed() {
    while (!open.empty() && open.back().closed) {
      PopOpen();
      --gaps;
      ++steps;
    }
    if (gaps > open.size() - gaps) Compact();
  }

  // Drops the gaps, renumbering what refers to the open tags. Every reference names an open
  // tag: only the innermost tag of an id is ever closed, so the tags before it with the same id
  // stay open, and a closed tag leaves the uncrossed list.
  // The quotes and the entries of the words move down with the tags (each after the last
  // moved, none past where it was).
  [[gnu::noinline]] void Compact() {
    std::vector<std::uint32_t> moved(open.size(), kNone);
    std::uint32_t kept = 0;
    std::size_t quoted = 0;
    std::uint32_t wordsKept = 0;
    std::uint32_t wordsWere = kNone;
    for (std::uint32_t i = 0; i < open.size(); ++i) {
      COpen& tag = open[i];
      if (tag.closed) continue;
      moved[i] = kept;
      if (Innermost(tag.pair) == i) SetInnermost(tag.pair, kept);
      if (tag.samePair != kNone) tag.samePair = moved[tag.samePair];
      if (!tag.QuotedHere()) {
        if (tag.quoteAt != quoted) {
          std::copy_n(quotes.data() + tag.quoteAt, tag.quoteSize, quotes.data() + quoted);
          tag.quoteAt = quoted;
        }
        quoted += tag.quoteSize;
      }
      if (tag.words != kNone) {
        if (tag.words != wordsWere) {
          wordsWere = tag.words;
          if (wordsKept != tag.words) words[wordsKept] = std::move(words[tag.words]);
          ++wordsKept;
        }
        tag.words = wordsKept - 1;
      }
      if (kept != i) open[kept] = tag;
      ++kept;
    }
    for (std::uint32_t& at : uncrossed)
      at = moved[at];
    steps += open.size() + uncrossed.size();
    open.resize(kept);
    quotes.resize(quoted);
    words.resize(wordsKept);
    gaps = 0;
  }
};

CTagCheck::CTagCheck(std::function<void(const CTagPlace&, const std::string&)> report,
                     bool followPlaces)
    : m_report(std::move(report)), m_state(std::make_unique<CState>(*this, followPlaces)) {}

CTagCheck::~CTagCheck() = default;

void CTagCheck::SetSent(IByteStream& sent) {
  CState& s = *m_state;
  s.against = true;
  s.starts.assign(kIds, 0);
  s.ends.assign(kIds, 0);
  s.singles.assign(kIds, 0);
  s.startBlock.assign(kIds, 0);
  s.endBlock.assign(kIds, 0);
  s.singleBlock.assign(kIds, 0);
  s.sentEnd.assign(kIds, false);
  std::uint32_t block = 0;
  CTagCheck sentNesting([](const CTagPlace&, const std::string&) {}, false);
  CIfTagGroups groups(
      [&](const CIfTagGroup& g) {
        sentNesting.CheckNesting(g);
        if (g.pair == 0) {
          const std::uint16_t bucket = Bucket(g.source);
          s.singleBlock[bucket] = ++s.singles[bucket] == 1 ? block : kAmbiguous;
        } else {
          auto& count = g.end ? s.ends : s.starts;
          auto& where = g.end ? s.endBlock : s.startBlock;
          where[g.pair] = ++count[g.pair] == 1 ? block : kAmbiguous;
          if (g.end) s.sentEnd[g.pair] = true;
        }
        if (g.block && g.pair != 0) block = BlockKey(g.pair, g.end);
      },
      false, false);  // no place of the sent IF is said here
  ReadIfGroups(sent, groups);
  sentNesting.Finish();
  s.sentDamaged = std::move(sentNesting.m_state->damaged);
}

void CTagCheck::OnIfToken(const CIfToken& token, std::uint64_t unit) {
  m_state->groups.OnToken(token, unit);
}

void CTagCheck::OnIfTagGroup(const CIfTagGroupSeen& group) {
  CState& s = *m_state;
  // Without the sent IF, most groups lie between two line feeds: a group without a pair id or a
  // ut placeholder only moves the column (unless it is a tag of a translation unit); a paired
  // tag that closes the start tag held last, or a start tag held, hardly more. Nothing here
  // calls out but at its end, so that the common steps set up no frame.
  CIfTagGroups& groups = s.groups;
  if (!s.against && groups.InLine(group.source)) {
    if (group.pair != 0 && IsPlaceholder(group.source)) {
      groups.PassPlaceholderInLine(group.source);
      return;
    }
    // A source between two line feeds of the piece lies in it.
    if (group.pair == 0 || (group.end ? s.CloseHeld(group.pair) : s.Hold(group, true))) {
      if (groups.PassesInLine(group.source)) {
        groups.PassInLine(group.source);
      } else {
        groups.PassSegmentTagInLine(group.source);
      }
      return;
    }
  }
  OnIfTagGroupFar(group);
}

void CTagCheck::OnIfTagGroupFar(const CIfTagGroupSeen& group) {
  CState& s = *m_state;
  if (s.against) {
    OnGroup(s.groups.Enter(group), s.holds);
    s.groups.Leave();
    return;
  }
  // OnGroup without the sent IF (read before the conversion starts): the block a tag lies in
  // matters to no check. Most tag groups are placeholders or have no pair id: no check looks at
  // them, and only the place moves past them.
  if (group.pair == 0) {
    s.groups.Pass(group.source);
    return;
  }
  if (IsPlaceholder(group.source)) {
    s.groups.PassPlaceholder(group.source);
    return;
  }
  const CIfTagGroup& g = s.groups.Enter(group);
  if (g.end) {
    CloseTag(g);
  } else {
    Nest(g, s.holds);
  }
  s.groups.Leave();
}

void CTagCheck::OnIfText(std::u16string_view run, bool plain, std::size_t widened) {
  m_state->groups.OnText(run, plain, widened);
}

void CTagCheck::OnIfUnits(std::u16string_view piece) {
  m_state->groups.OnUnits(piece);
}

void CTagCheck::OnIfUnitsEnd() {
  m_state->groups.EndUnits();
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
  const std::size_t pairs = (count - i) / 2;
  if constexpr (std::endian::native == std::endian::little) {
    const std::size_t at = s.units.size();
    s.units.resize(at + pairs);
    std::memcpy(s.units.data() + at, b + i, 2 * pairs);
    i += 2 * pairs;
  }
  for (; i + 1 < count; i += 2)
    s.units.push_back(static_cast<char16_t>(b[i] | (b[i + 1] << 8)));
  if (i < count) s.oddByte = b[i];
  s.groups.Feed(s.units.data(), s.units.size());
}

bool CTagCheck::Count(Kind kind) {
  ++m_problems;
  if (m_limit != 0 && m_listed[kind] >= m_limit) {
    ++m_unlisted[kind];
    return false;
  }
  ++m_listed[kind];
  return true;
}

bool CTagCheck::SentDamaged(char16_t pair) const {
  return !m_state->sentDamaged.empty() && m_state->sentDamaged[pair];
}

void CTagCheck::Report(const CTagPlace& place, std::u16string_view source, char16_t pair, Kind kind,
                       const std::string& what) {
  if (kind == kTwice || kind == kNoStart || kind == kNoEnd) {
    if (SentDamaged(pair)) return;
    m_state->damaged[pair] = true;
  }
  if (!Count(kind)) return;
  Send(place, source, pair, kind, what);
}

void CTagCheck::Send(const CTagPlace& place, std::u16string_view source, char16_t pair, Kind kind,
                     const std::string& what) {
  // The words of the place may be quoted now.
  m_state->groups.SettleWords(true);
  std::u16string quoted(source.substr(0, kQuotedUnits));
  if (source.size() > kQuotedUnits) quoted += u"...";
  std::string text = "tag " + Utf16ToUtf8(quoted);
  text += pair != 0 ? ", pair " + PairHex(pair) : std::string(", without a pair id");
  text += ": " + what + kKindWords[kind];
  m_report(place, text);
}

std::vector<std::pair<std::string, std::size_t>> CTagCheck::Unlisted() const {
  std::vector<std::pair<std::string, std::size_t>> unlisted;
  for (int kind = 0; kind < kKinds; ++kind) {
    if (m_unlisted[kind] != 0) unlisted.emplace_back(kKindWords[kind], m_unlisted[kind]);
  }
  return unlisted;
}

std::uint64_t CTagCheck::Steps() const {
  return m_state->steps;
}

void CTagCheck::OnGroup(const CIfTagGroup& g, bool hold) {
  // Most tag groups are placeholders or have no pair id: the nesting checks pass them by.
  if (g.pair != 0 && !IsPlaceholder(g.source)) Nest(g, hold);
  if (m_state->against) CheckAgainstSent(g);
  if (g.block && g.pair != 0) m_state->block = BlockKey(g.pair, g.end);
}

void CTagCheck::CheckAgainstSent(const CIfTagGroup& g) {
  CState& s = *m_state;
  std::int32_t left = 0;
  std::uint32_t was = kAmbiguous;
  if (g.pair == 0) {
    const std::uint16_t bucket = Bucket(g.source);
    left = --s.singles[bucket];
    was = s.singleBlock[bucket];
  } else {
    left = --(g.end ? s.ends : s.starts)[g.pair];
    was = (g.end ? s.endBlock : s.startBlock)[g.pair];
  }
  if (left < 0) {
    if (g.pair == 0 || !s.damaged[g.pair]) Report(g.Place(), g.source, g.pair, kMoreOften);
  } else if (!g.block && was != kAmbiguous && was != s.block) {
    Report(g.Place(), g.source, g.pair, kMoved);
  }
}

void CTagCheck::CheckNesting(const CIfTagGroup& g) {
  // A ut placeholder stands for markup of the original document, whose start and end may cross
  // the document's own elements or carry pair ids of their own: only the sent IF can tell
  // whether one was lost or doubled. Every other paired tag is an element of the XML document,
  // properly nested.
  if (g.pair != 0 && !IsPlaceholder(g.source)) Nest(g);
}

void CTagCheck::Nest(const CIfTagGroup& g, bool hold) {
  CState& s = *m_state;
  if (g.end) {
    CloseTag(g);
    return;
  }
  // Pair ids start again from a small number after 0xFFFA: what came before is forgotten.
  if (g.pair < 0x1000 && s.highestStart >= 0xF000) {
    s.seen.Forget();
    s.highestStart = 0;
  }
  if (g.pair > s.highestStart) s.highestStart = g.pair;
  if (s.seen.Add(g.pair, false)) ReportTwice(g);
  // A source that a piece holds stays there until the groups' hook is called.
  if (hold && s.groups.InPiece(g.source)) {
    if (s.heldCount == s.held.size()) s.OpenHeld();
    CState::CHeld& tag = s.held[s.heldCount++];
    tag.pair = g.pair;
    tag.source = g.source;
    tag.mark = g.Mark();
    if (tag.mark.segment != 0) ++s.heldInUnit;
    return;
  }
  OpenNow(g);
}

void CTagCheck::ReportTwice(const CIfTagGroup& g) {
  Report(g.Place(), g.source, g.pair, kTwice);
}

void CTagCheck::OpenNow(const CIfTagGroup& g) {
  CState& s = *m_state;
  // The tags held were opened before this one.
  s.OpenHeld();
  s.Open(g.pair, g.source, [&](CTagPlace& place) { g.PlaceInto(place); });
}

void CTagCheck::CloseTag(const CIfTagGroup& g) {
  CState& s = *m_state;
  const bool endSeen = s.seen.Add(g.pair, true);
  if (s.heldCount > 0 && s.held[s.heldCount - 1].pair == g.pair) {
    // The tag held last is the innermost of its id, opened last and crossed by none: closed as
    // the common case of CloseOpenTag closes such a tag, without ever opening it.
    if (s.held[--s.heldCount].mark.segment != 0) --s.heldInUnit;
    ++s.steps;
    return;
  }
  CloseOpenTag(g, endSeen);
}

void CTagCheck::CloseOpenTag(const CIfTagGroup& g, bool endSeen) {
  CState& s = *m_state;
  s.OpenHeld();
  const std::uint32_t at = s.Innermost(g.pair);
  if (at != CState::kNone && at + 1 == s.open.size() && s.open[at].crossing == 0 &&
      !s.uncrossed.empty() && s.uncrossed.back() == at) {
    // The common case: the tag opened last, crossed by no end tag, crosses none.
    s.uncrossed.pop_back();
    s.SetInnermost(g.pair, s.open[at].samePair);
    s.ReleaseWords(s.open[at]);
    s.PopOpen();
    ++s.steps;
    s.DropClosed();
  } else if (at != CState::kNone) {
    CState::COpen& closed = s.open[at];
    // The sentence is made only for a problem that is listed.
    if (closed.crossing != 0) {
      const char16_t crossingPair = s.crossings[closed.crossing - 1].pair;
      s.damaged[closed.pair] = true;
      s.damaged[crossingPair] = true;
      if (SentDamaged(closed.pair) || SentDamaged(crossingPair)) s.ReleaseCrossing(closed);
    }
    if (closed.crossing != 0 && Count(kMisnested)) {
      const CState::CCrossing& crossing = s.crossings[closed.crossing - 1];
      Send(crossing.place, crossing.source, crossing.pair, kMisnested,
           "closes its start tag while " + Utf16ToUtf8(s.Source(closed).substr(0, kQuotedUnits)) +
               " (pair " + PairHex(closed.pair) + ") is still open: ");
    }
    // The tags opened after it stay open; their end tags come later (misnested) or never. Those
    // not crossed yet are the end of the uncrossed list.
    std::uint32_t crossing = 0;
    while (!s.uncrossed.empty() && s.uncrossed.back() > at) {
      if (crossing == 0) crossing = s.NewCrossing(g);
      s.open[s.uncrossed.back()].crossing = crossing;
      ++s.crossings[crossing - 1].tags;
      s.uncrossed.pop_back();
      ++s.steps;
    }
    if (!s.uncrossed.empty() && s.uncrossed.back() == at) s.uncrossed.pop_back();
    s.SetInnermost(g.pair, closed.samePair);
    closed.closed = true;
    s.ReleaseCrossing(closed);
    // A closed tag is never named: its place lets go of the unit's words.
    s.ReleaseWords(closed);
    ++s.gaps;
    s.DropClosed();
  } else {
    Report(g.Place(), g.source, g.pair, endSeen ? kTwice : kNoStart);
  }
}

void CTagCheck::Finish() {
  CState& s = *m_state;
  s.groups.Finish();
  s.OpenHeld();
  CTagPlace place;
  for (const auto& open : s.open) {
    // A start tag that had no end tag in the sent IF either is not the kernel's doing.
    if (open.closed || (s.against && !s.sentEnd[open.pair])) continue;
    s.PlaceOf(open, place);
    Report(place, s.Source(open), open.pair, kNoEnd);
  }
  place.words.reset();
  // Only the ids of open tags name one.
  for (const auto& open : s.open)
    s.innermost[open.pair] = 0;
  s.open.clear();
  s.quotes.clear();
  s.words.clear();
  s.crossings.clear();
  s.freeCrossings.clear();
  s.uncrossed.clear();
  s.gaps = 0;
}

void CTagCheck::NameMissing(IByteStream& sent) {
  CState& s = *m_state;
  if (!s.against) return;
  CIfTagGroups groups(
      [&](const CIfTagGroup& g) {
        std::int32_t& left =
            g.pair == 0 ? s.singles[Bucket(g.source)] : (g.end ? s.ends : s.starts)[g.pair];
        if (left <= 0) return;
        --left;
        // A tag whose partner the nesting checks named is not named again.
        if (g.pair == 0 || !s.damaged[g.pair]) Report(g.Place(), g.source, g.pair, kMissing);
      },
      true);
  ReadIfGroups(sent, groups);
}

}  // namespace tagvert::cli
