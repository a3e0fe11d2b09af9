// Tagvert: the IF read element by element over the codes alone (CIfElementWalk), for the way
// back to TTX and the tag check riding on it.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ifcodec/if_parser.h"
#include "ifcodec/if_tokens.h"
#include "storage/data_storage.h"

namespace tagvert {

/// A tag group (U+E805 with its pair id) as a reader that meets the IF's codes hands it on.
struct CIfTagGroupSeen {
  std::uint64_t unit = 0;  ///< the position of its group code, in units from the IF's start
  bool end = false;        ///< an end-tag flag came right before it
  bool block = false;      ///< a block flag came right before it
  char16_t pair = 0;       ///< its pair id
  /// Its source text; valid during the call only.
  std::u16string_view source;
};

/// Receives the tag groups of an IF as the way back reads it (see
/// CTTXFromIfConverter::SetIfTagGroupObserver). A flag counts for a tag group only when the
/// flags alone stand between them: text, a boundary, another group or skipped text forget it.
class IIfTagGroupObserver {
 public:
  virtual ~IIfTagGroupObserver() = default;
  virtual void OnIfTagGroup(const CIfTagGroupSeen& group) = 0;
  /// What OnIfText's `widened` says when the reader did not find it out.
  static constexpr std::size_t kWidenedUnknown = SIZE_MAX;
  /// A text run, whole (the units between two codes outside any group), valid during the call
  /// only: for an observer that follows where the groups stand. `plain`: the run holds none of
  /// '<', '&', ']' and U+00A0 (UnitsFindMarkupSpecial finds none), as the reader found out.
  /// `widened`: the units that the escaping of the way back added to the run as it wrote it
  /// (each reference's units beyond the one it stands for), when the run holds no no-break
  /// space: 0 for a plain run; kWidenedUnknown when the reader did not count them.
  virtual void OnIfText(std::u16string_view run, bool plain, std::size_t widened) = 0;
  /// The units of the IF piece by piece as the reader meets them, each piece before the runs
  /// and groups that end in it, and an empty piece once the IF has ended: a run or a source
  /// text handed on lies in the last piece (a view of it) unless it began in an earlier one
  /// (then it is a copy). For an observer that looks at the units in bulk; nothing by default.
  virtual void OnIfUnits(std::u16string_view /*piece*/) {}
  /// The piece last given to OnIfUnits is done with: its memory may go or be written again once
  /// this returns, so an observer that keeps a view of it copies what it needs here.
  virtual void OnIfUnitsEnd() {}
};

/// Reads an IF from a storage into the elements CIFParser::ReadElement gives, as far as their
/// text goes: a text run (`sink.Text(units)`), and a tag (`sink.Tag(source)`: a tag group's
/// source text, empty for a boundary and every other group). Flags and skipped text make no
/// element. The units are met where the storage buffers them, sixteen at a time, codes found
/// by ForEachIfCode: a run is handed on in place, copied only when it spans two buffers. Tag
/// groups also go to `sink.Group(const CIfTagGroupSeen&)`, right before their Tag, and every
/// piece of units to `sink.Units(piece)` before the elements that end in it (an empty piece
/// once the IF has ended), then `sink.UnitsEnd()` once the walk is done with it.
class CIfElementWalk {
 public:
  template <typename Sink>
  void Walk(CDataStorage& storage, Sink& sink) {
    for (;;) {
      const std::u16string_view view = storage.BufferedUtf16Units();
      if (view.empty()) {
        // A read hook is due, the buffer is spent or the input is not in place: one unit the
        // usual way.
        char16_t unit = 0;
        if (!storage.TakeUtf16Char(unit)) break;
        Feed(std::u16string_view(&unit, 1), sink);
        sink.UnitsEnd();
        continue;
      }
      Feed(view, sink);
      sink.UnitsEnd();
      storage.SkipBufferedUtf16Units(view.size());
    }
    Finish(sink);
  }

 private:
  template <typename Sink>
  void Feed(std::u16string_view units, Sink& sink) {
    const std::size_t n = units.size();
    sink.Units(units);
    // Fixed data due from the last piece.
    std::size_t i = m_codes.TakeData(n);
    if (i > 0 && m_pairDue) {
      m_pair = units[0];
      m_pairDue = false;
    }
    ForEachIfCode(units, i, [&](std::size_t at) {
      // i <= at < n: the run is made without substr's checks.
      EndRun(std::u16string_view(units.data() + i, at - i), sink);
      const char16_t code = units[at];
      i = at + 1;
      const bool consumed = !m_codes.TakeCode(code);
      // U+E000 closes a group and belongs to it; any other code ends it and is read anew.
      if (m_group != 0) EndGroup(sink);
      if (consumed) return i;
      if (IsIfBoundaryCode(code)) {
        m_end = m_block = false;
        sink.Tag(std::u16string_view());
      } else if (IsIfFlagCode(code)) {
        if (code == kIfEndTag) m_end = true;
        if (code == kIfBlock) m_block = true;
      } else {
        m_group = code;
        m_groupAt = m_unit + at;
        m_groupEnd = m_end;
        m_groupBlock = m_block;
        const std::size_t data = m_codes.TakeData(n - i);
        if (code == kIfTagGroup) {
          m_pairDue = data == 0;
          if (data > 0) m_pair = units[i];
        }
        i += data;
      }
      return i;
    });
    // The rest goes on in the next piece: kept only when it is text or a tag's source.
    if (i < n && Keeps()) m_carry.append(units.substr(i));
    m_unit += n;
  }

  /// The units before a code, or before the end, are text or a tag's source text.
  bool Keeps() const { return m_group == 0 || (m_group == kIfTagGroup && !m_pairDue); }

  /// The run that a code ends: `piece`, after what was carried.
  template <typename Sink>
  void EndRun(std::u16string_view piece, Sink& sink) {
    std::u16string_view run = piece;
    // Most runs lie whole in the piece: nothing was carried, nothing is cleared.
    const bool carried = !m_carry.empty();
    if (carried) {
      if (Keeps()) m_carry.append(piece);
      run = m_carry;
    }
    if (m_group == 0) {
      if (!run.empty()) {
        m_end = m_block = false;
        sink.Text(run);
      }
      if (carried) m_carry.clear();
    } else {
      m_source = run;
    }
  }

  /// The group or skipped text open ends (its source text in m_source).
  template <typename Sink>
  void EndGroup(Sink& sink) {
    const char16_t group = m_group;
    m_group = 0;
    m_end = m_block = false;
    if (IsIfSkippedCode(group)) {
      // Skipped text makes no element.
    } else if (group == kIfTagGroup && !m_pairDue) {
      CIfTagGroupSeen seen;
      seen.unit = m_groupAt;
      seen.end = m_groupEnd;
      seen.block = m_groupBlock;
      seen.pair = m_pair;
      seen.source = m_source;
      sink.Group(seen);
      sink.Tag(m_source);
    } else {
      sink.Tag(std::u16string_view());
    }
    m_pairDue = false;
    m_source = {};
    if (!m_carry.empty()) m_carry.clear();
  }

  template <typename Sink>
  void Finish(Sink& sink) {
    sink.Units(std::u16string_view());
    EndRun(std::u16string_view(), sink);
    if (m_group != 0) EndGroup(sink);
    *this = CIfElementWalk();
  }

  CIfCodeState m_codes;
  char16_t m_group = 0;     ///< the code of the group or skipped text open; 0 in text
  bool m_pairDue = false;   ///< a tag group's pair id is still to come
  char16_t m_pair = 0;      ///< the open tag group's pair id
  bool m_groupEnd = false;  ///< the open tag group's flags
  bool m_groupBlock = false;
  std::uint64_t m_groupAt = 0;  ///< the open group's code position
  bool m_end = false;           ///< an end-tag flag came since the last element
  bool m_block = false;         ///< a block flag came since the last element
  std::uint64_t m_unit = 0;     ///< units fed so far
  /// The start of a run that began in an earlier piece.
  std::u16string m_carry;
  /// The open group's content, as its run ended (a view of a piece or of m_carry).
  std::u16string_view m_source;
};

}  // namespace tagvert
