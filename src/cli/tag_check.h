// Tagvert: tag damage in a translated IF (CTagCheck).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ifcodec/if_element_walk.h"
#include "ifcodec/if_tokens.h"
#include "ifcodec/text_processor.h"
#include "storage/byte_stream.h"

namespace tagvert::cli {

/// Where a tag group stands, as a person finds it.
struct CTagPlace {
  std::uint64_t unit = 0;  ///< position of its group code, in units from the start of the IF
  /// Its line and column in the TTX that the IF gives back (from 1; a column counts UTF-16
  /// units, as check's do). For the IF sent to the kernel that TTX is the original document.
  std::uint64_t line = 1, column = 1;
  std::uint64_t segment = 0;  ///< the translation unit (Tu) it lies in, from 1; 0 for none
  /// The first words of that translation unit (shared by the places of one unit).
  std::shared_ptr<const std::u16string> words;
  bool wordsInMarkup = false;  ///< `words` is the markup of the unit's source Tuv
  bool inSent = false;         ///< the place is in the IF sent to the kernel
};

/// The first words of the translation unit of `place` as a message quotes them (cut at a word's
/// end, with "..." when there is more); empty when there are none.
std::string QuoteWords(const CTagPlace& place);

class CIfTagGroups;

/// One tag group of an IF, as CIfTagGroups hands it over.
struct CIfTagGroup {
  /// Where it stands, valid while the group is handed over. Most groups are never named: the
  /// place is put together only when asked for.
  const CTagPlace& Place() const;
  /// Puts the place into `to` (for a place kept beyond the hand-over).
  void PlaceInto(CTagPlace& to) const;
  /// Where it stands, its translation unit's words left out: a few numbers, cheap to keep
  /// (CIfTagGroups::PlaceAt); a mark in a unit (`segment` not 0) only while the unit and its
  /// words stay as they are.
  struct CMark {
    std::uint64_t unit = 0, line = 1, column = 1, segment = 0;
  };
  CMark Mark() const;
  bool end = false;    ///< an end-tag flag came before it
  bool block = false;  ///< a block flag came before it
  char16_t pair = 0;   ///< its pair id (0: a tag without a partner)
  /// The tag's source text, valid while the group is handed over (it is seen where the IF
  /// holds it, copied only when it came in pieces).
  std::u16string_view source;

 private:
  friend class CIfTagGroups;
  explicit CIfTagGroup(CIfTagGroups& from) : m_from(from) {}
  CIfTagGroups& m_from;
  CTagPlace m_place;
  bool m_placed = true;  ///< m_place holds the group's place
};

/// Picks the tag groups out of an IF's tokens (or takes them from a walk of its codes), as they
/// come, and follows where each stands in the TTX the IF gives back: the line and column (text
/// escaped as the way back escapes it) and the translation unit with its first words. Keeps
/// only the group being read and those words.
class CIfTagGroups {
 public:
  /// `sent`: the IF is the one sent to the kernel (CTagPlace::inSent). Without `follow` only the
  /// unit of each place is kept: the rest costs a little for every token.
  explicit CIfTagGroups(std::function<void(const CIfTagGroup&)> onGroup, bool sent = false,
                        bool follow = true)
      : m_onGroup(std::move(onGroup)), m_follow(follow) {
    m_here.inSent = sent;
  }
  /// Takes the next units of an IF, cut into tokens by a token reader of its own.
  void Feed(const char16_t* units, std::size_t count);
  /// Takes the next token of an IF that another reader cuts; `unit` is its position.
  void OnToken(const CIfToken& token, std::uint64_t unit);
  /// Takes the next text run, or tag group, of an IF that another reader walks (what the
  /// tokens of a run, or of a group and the flags before it, tell). `plain`, as that reader
  /// found out: the run holds none of the units that escaping looks at, or holds some;
  /// `widened`, as IIfTagGroupObserver::OnIfText says it.
  void OnText(std::u16string_view run, bool plain,
              std::size_t widened = IIfTagGroupObserver::kWidenedUnknown);
  /// The tag group `seen`, its place followed when asked for; Leave moves past it once it has
  /// been looked at.
  const CIfTagGroup& Enter(const CIfTagGroupSeen& seen);
  void Leave();
  /// Enter and Leave for a group that no check looks at: only the place moves past `source`.
  void Pass(std::u16string_view source);
  /// Pass for a ut placeholder ("<ut" and a name's end), which says nothing of the units.
  void PassPlaceholder(std::u16string_view source);
  /// Whether `text` lies between two line feeds of the piece of OnUnits, as far as the search
  /// for them went: it lies in the piece and holds none.
  bool InLine(std::u16string_view text) const {
    const auto start = reinterpret_cast<std::uintptr_t>(text.data());
    return start >= m_noFeedFrom && start + 2 * text.size() <= m_noFeedTo;
  }
  /// Whether Pass of `source`, InLine, only moves the column: it is no tag that starts or ends a
  /// translation unit, or that may name it.
  bool PassesInLine(std::u16string_view source) const;
  /// Pass of a source that is InLine but not PassesInLine (a Tu or Tuv start tag, or the end
  /// tag of the unit open), out of line: the caller sets up no frame for it. The column moves
  /// and the unit's tag is taken without the tests of Pass made again.
  [[gnu::noinline]] void PassSegmentTagInLine(std::u16string_view source);
  /// Pass, and PassPlaceholder, of a source that is InLine and PassesInLine.
  void PassInLine(std::u16string_view source) {
    m_here.column += source.size();
    m_afterNbsp = source.size() == 1 && source[0] == 0x00A0;
  }
  void PassPlaceholderInLine(std::u16string_view source) {
    m_here.column += source.size();
    m_afterNbsp = false;
  }
  /// The mark of a group at `unit` that Enter would hand over from here (its place not taken).
  CIfTagGroup::CMark MarkHere(std::uint64_t unit) const {
    return {unit, m_here.line, m_here.column, m_inSegment ? m_here.segment : 0};
  }
  /// Takes the piece of the IF that the next runs and groups of OnText and Enter may lie in
  /// (IIfTagGroupObserver::OnIfUnits): its line feeds are found a stretch at a time ahead of
  /// them, so that what lies in it between them is passed over without a look at each unit.
  void OnUnits(std::u16string_view piece);
  /// The piece of OnUnits goes: what is still to be taken from it is copied.
  void EndUnits();
  /// Ends the IF: hands over a tag group cut off by its end.
  void Finish();
  /// `settle` is called with `context` before the translation unit, or its words, that a place
  /// would name changes (`pieceGoes` false) and before the piece of OnUnits goes (true): a mark
  /// in a unit kept since, or a view of the piece, is turned into its place (PlaceAt) then,
  /// while it still names what it did. `unitMarks`, when given, counts the marks in a unit kept
  /// since: while it is 0 a change of unit or words does not call the hook.
  void SetOnChange(void (*settle)(void*, bool pieceGoes), void* context,
                   const std::size_t* unitMarks = nullptr) {
    m_settle = settle;
    m_settleContext = context;
    m_unitMarks = unitMarks;
  }
  /// The place of `mark`, taken from a group handed over since the last call of SetOnChange's
  /// hook; with the unit and words that places name now.
  void PlaceAt(const CIfTagGroup::CMark& mark, CTagPlace& to);
  /// Whether `text` lies in the piece of OnUnits (and stays there until the hook is called).
  bool InPiece(std::u16string_view text) const {
    const auto start = reinterpret_cast<std::uintptr_t>(text.data());
    const auto piece = reinterpret_cast<std::uintptr_t>(m_piece.data());
    return !m_piece.empty() && start >= piece &&
           start + 2 * text.size() <= piece + 2 * m_piece.size();
  }
  /// Fills the string of the unit's words that places share while it is still empty, from the
  /// source Tuv's markup seen in the piece: when `current` (the piece goes, or a message may
  /// quote the words now) or a place holds it; forgets that markup.
  void SettleWords(bool current);

 private:
  /// Moves the place past `text` as the TTX shows it.
  void Advance(std::u16string_view text);
  /// Advance, the line feeds of `text` counted.
  [[gnu::noinline]] void AdvanceCounting(std::u16string_view text);
  /// What is known of a run's units that escaping looks at ('<', '&', ']', U+00A0).
  enum class Special : std::uint8_t { kUnknown, kNone, kSome };
  /// Moves the place past a run of text of the IF, escaped as the way back writes it; `known`:
  /// whether the run holds units that escaping looks at, when the reader found that out.
  /// `widened`: the units the references add to the run, when the writer counted them.
  void AdvanceText(std::u16string_view run, Special known = Special::kUnknown,
                   std::size_t widened = IIfTagGroupObserver::kWidenedUnknown);
  /// Takes what a tag group that has ended tells of the translation units.
  void FollowSegments(std::u16string_view source);
  /// FollowSegments for a start tag that may be one of those (four units or more, "<Tu").
  [[gnu::noinline]] void FollowSegmentTag(std::u16string_view source);
  friend struct CIfTagGroup;
  /// Puts the place reached, with the words of its translation unit, into the group starting,
  /// or into `place` (the group's position with it).
  void FollowPlace();
  void FollowPlace(CTagPlace& place);
  /// Advance for text that lies in the piece of OnUnits and holds a line feed or goes past
  /// where the line feeds were looked for, or lies elsewhere.
  [[gnu::noinline]] void AdvanceFar(std::u16string_view text);
  /// Looks for the line feeds of the piece from where the search stopped to `to`, or a stretch
  /// further; forgets those before `from`.
  void FindFeeds(std::size_t from, std::size_t to);
  /// Moves the place past a run that holds '<' or '&' (each written as a reference) or ']' but
  /// no no-break space, which needs the escaping done. False, the place unmoved, when it does.
  /// `widened`: what the references add, when the writer counted it.
  bool AdvanceEscaped(std::u16string_view run, std::size_t widened);
  /// Adds text to the first words of the translation unit, until there are enough.
  void AddWords(std::u16string_view text);
  /// Puts `words` into the string that places share (m_spareWords).
  void ShareWords(std::u16string_view words);

  /// Calls the hook of SetOnChange (for a change of unit or words, only when it has marks to
  /// settle: most units keep none by then).
  void Settle(bool pieceGoes = false) {
    if (m_settle != nullptr && (pieceGoes || m_unitMarks == nullptr || *m_unitMarks != 0)) {
      m_settle(m_settleContext, pieceGoes);
    }
  }

  std::function<void(const CIfTagGroup&)> m_onGroup;
  void (*m_settle)(void*, bool) = nullptr;
  void* m_settleContext = nullptr;
  const std::size_t* m_unitMarks = nullptr;
  bool m_follow;                 ///< places are followed beyond their unit
  CTagPlace m_here;              ///< the place after what was read
  bool m_inSegment = false;      ///< inside a Tu
  std::u16string m_words;        ///< its first words
  bool m_wordsInMarkup = false;  ///< the source Tuv's markup names the unit instead
  /// The string of the words shared last, kept to be filled again when no place holds it.
  std::shared_ptr<std::u16string> m_spareWords;
  /// m_spareWords holds m_words (or the markup) as the places share them; set again only after
  /// they changed.
  bool m_wordsShared = false;
  /// The markup that m_spareWords is still to be filled with (SettleWords), in the piece.
  std::u16string_view m_wordsView;
  bool m_afterNbsp = false;  ///< the last element was a no-break space
  CTextProcessor m_escaper{nullptr, EscapeMode::Markup};
  CIfTokenReader m_reader;  ///< for Feed
  std::uint64_t m_fed = 0;  ///< units given to Feed so far
  bool m_inTag = false;     ///< a tag group is being read
  CIfTagGroup m_group{*this};
  /// The source text of the group being read when it came in pieces, or outlives a piece given
  /// to Feed; m_group.source views it then (m_sourceCopied).
  std::u16string m_sourceCopy;
  bool m_sourceCopied = false;
  bool m_end = false;    ///< an end-tag flag came since the last element
  bool m_block = false;  ///< a block flag came since the last element
  /// The piece of OnUnits, empty when there is none, and the positions of its line feeds from
  /// m_feedsFrom to m_searched (where the search has been) in ascending order, the next one to
  /// look at at m_nextFeed.
  std::u16string_view m_piece;
  std::vector<std::size_t> m_feeds;
  std::size_t m_nextFeed = 0;
  std::size_t m_feedsFrom = 0;
  std::size_t m_searched = 0;
  /// Text from m_noFeedFrom to m_noFeedTo (addresses) holds no line feed: a stretch of the
  /// piece between two of its line feeds (or its ends, or where the search stopped), nothing
  /// when there is no piece.
  std::uintptr_t m_noFeedFrom = UINTPTR_MAX;
  std::uintptr_t m_noFeedTo = 0;
};

inline const CTagPlace& CIfTagGroup::Place() const {
  if (!m_placed) m_from.FollowPlace();
  return m_place;
}

inline CIfTagGroup::CMark CIfTagGroup::Mark() const {
  if (m_placed) return {m_place.unit, m_place.line, m_place.column, m_place.segment};
  return {m_place.unit, m_from.m_here.line, m_from.m_here.column,
          m_from.m_inSegment ? m_from.m_here.segment : 0};
}

inline void CIfTagGroup::PlaceInto(CTagPlace& to) const {
  if (m_placed) {
    to = m_place;
  } else {
    m_from.FollowPlace(to);
  }
}

/// Checks a translated IF while it streams: every paired start tag meets its end tag (same pair
/// id, properly nested) and no tag group appears twice. With the IF that was sent to the kernel
/// (SetSent), every tag group of that IF must be present exactly once and an inline tag must stay
/// in the block it was in. Keeps the open tags, a few words per pair id, and with the sent IF a
/// counter per pair id (tags without a pair id are counted by their source text's hash bucket)
/// and the block of each inline tag: memory does not grow with the document. Each tag group
/// costs constant time (amortised), however many tags are open and however often ids repeat.
class CTagCheck : public IIfTagGroupObserver, public IIfTokenObserver {
 public:
  /// `report` receives each problem: its place and the sentence. Without `followPlaces` the
  /// places hold only their unit (for a check whose places are never said).
  explicit CTagCheck(std::function<void(const CTagPlace&, const std::string&)> report,
                     bool followPlaces = true);
  ~CTagCheck() override;

  /// Reads the IF that was sent to the kernel, before any of the translated IF is taken. Throws
  /// CHResultError when it fails.
  void SetSent(IByteStream& sent);
  /// Takes the next bytes of the translated IF (UTF-16 little-endian).
  void Feed(const void* bytes, std::size_t count);
  /// Takes the next token of the translated IF as the conversion reads it (set the check as the
  /// converter's IF token observer instead of feeding it the bytes).
  void OnIfToken(const CIfToken& token, std::uint64_t unit) override;
  /// Takes the next tag group and text run of the translated IF as the conversion reads it
  /// (set the check as the converter's tag group observer instead of its token observer).
  void OnIfTagGroup(const CIfTagGroupSeen& group) override;
  void OnIfText(std::u16string_view run, bool plain, std::size_t widened) override;
  void OnIfUnits(std::u16string_view piece) override;
  void OnIfUnitsEnd() override;
  /// Ends the translated IF: tags left open are reported.
  void Finish();
  /// With the sent IF: reads it once more to name the tag groups the translated IF lacks
  /// (reported at their position in the sent IF). Throws CHResultError when it fails.
  void NameMissing(IByteStream& sent);
  /// The number of problems found so far, listed or not.
  std::size_t Problems() const { return m_problems; }
  /// Hands at most `limit` problems of each kind to `report` (0, the default: every one); the
  /// rest are only counted.
  void SetListLimit(std::size_t limit) { m_limit = limit; }
  /// The problems found but not handed over, by kind: the words that end each problem of the
  /// kind, and their number. Kinds without such problems are left out.
  std::vector<std::pair<std::string, std::size_t>> Unlisted() const;
  /// The open tags visited so far to match end tags, close them and keep their list compact. It
  /// stays within a small multiple of the tag groups read (tests check that).
  std::uint64_t Steps() const;

  /// The kinds of problem, each named by the words that end its sentences.
  enum Kind { kTwice, kNoStart, kNoEnd, kMisnested, kMoreOften, kMoved, kMissing, kKinds };

 private:
  struct CState;
  /// OnIfTagGroup of a group that takes more than the common steps (OnIfTagGroup's).
  [[gnu::noinline]] void OnIfTagGroupFar(const CIfTagGroupSeen& group);
  /// `hold`: a start tag may be held (CState) rather than opened at once.
  void OnGroup(const CIfTagGroup& group, bool hold = false);
  void CloseTag(const CIfTagGroup& group);
  /// CloseTag of an end tag that does not close the start tag held last.
  [[gnu::noinline]] void CloseOpenTag(const CIfTagGroup& group, bool endSeen);
  /// Counts a problem of `kind`; true when it is to be handed over.
  bool Count(Kind kind);
  /// Counts a problem and hands it over unless its kind is past the limit.
  void Report(const CTagPlace& place, std::u16string_view source, char16_t pair, Kind kind,
              const std::string& what = std::string());
  /// Hands a counted problem over: the tag, its pair id, `what` and the words of its kind.
  void Send(const CTagPlace& place, std::u16string_view source, char16_t pair, Kind kind,
            const std::string& what);
  /// Whether the sent IF itself fails the nesting checks on `pair`.
  bool SentDamaged(char16_t pair) const;
  /// The checks of the tags' nesting, which need no sent IF.
  void CheckNesting(const CIfTagGroup& group);
  /// CheckNesting of a tag with a pair id that is no placeholder.
  void Nest(const CIfTagGroup& group, bool hold = false);
  /// Nest of a start tag seen before since ids last started again: appears twice.
  [[gnu::noinline]] void ReportTwice(const CIfTagGroup& group);
  /// Nest of a start tag that is not held: opened at once, after the tags held.
  [[gnu::noinline]] void OpenNow(const CIfTagGroup& group);
  /// The checks against the sent IF: counts and blocks.
  void CheckAgainstSent(const CIfTagGroup& group);

  std::function<void(const CTagPlace&, const std::string&)> m_report;
  std::unique_ptr<CState> m_state;
  std::size_t m_problems = 0;
  std::size_t m_limit = 0;
  std::size_t m_listed[kKinds] = {};
  std::size_t m_unlisted[kKinds] = {};
};

/// Reads a whole IF stream in pieces into `groups`.
void ReadIfGroups(IByteStream& source, CIfTagGroups& groups);

}  // namespace tagvert::cli
