// Tagvert: the IF as a person reads it (CIfView).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ifcodec/if_parser.h"
#include "ifcodec/if_tokens.h"
#include "markup/element_table.h"
#include "storage/byte_stream.h"
#include "storage/uncleared_buffer.h"

namespace tagvert::cli {

/// How CIfView writes.
enum class IfViewMode {
  Plain,   ///< text as text, every group as a bracketed marker: {#0066 block end: </df>}
  Colour,  ///< text as text, every group's source text in a colour of its kind (a terminal)
  Codes,   ///< text as text, every code unit and every unit of a group's data as <XXXX>
};

/// The bytes a view has written and not yet handed on: text is encoded straight into its room.
using CViewBytes = CUnclearedBuffer<char>;

/// Writes IF units as they come, keeping only the group being read: text runs as text; the
/// header; each tag group with its pair id, the flags before it (block, end, flagged, property
/// codes) and its source text; reserve groups with their two units; skipped text with its code;
/// boundaries that end no group. A block tag starts a new line.
class CIfView {
 public:
  CIfView(std::ostream& out, IfViewMode mode) : m_target(out), m_mode(mode) {
    m_out.reserve(kFlushAt + 4096);
  }
  CIfView(const CIfView&) = delete;
  CIfView& operator=(const CIfView&) = delete;
  ~CIfView() { Flush(); }

  /// Takes the next units of the IF.
  void Feed(const char16_t* units, std::size_t count);
  /// Takes the IF that a conversion writes for the classified `table` (its header, then the
  /// records as CIFParser::WriteTable writes them), read from the records instead of written
  /// out: what it shows is what Feed shows for those units.
  void FeedTable(const CElementTable& table);
  /// Ends the view: a group cut off by the end of the IF is shown as it is, marked so.
  void Finish();

 private:
  enum class State { Text, Header, Tag, Reserve, Group, Skipped };
  /// What the view writes goes out in pieces of about this size, not one write per marker.
  static constexpr std::size_t kFlushAt = 1 << 16;

  /// Feed for the units of `count` Latin-1 bytes (none of them a code or a surrogate), which
  /// may be read on up to `limit`.
  void FeedNarrow(const std::uint8_t* bytes, std::size_t count, const std::uint8_t* limit);
  /// Feed for the IF of a text of the document: each unit of the code range as its reference
  /// "&#xHHHH;" (`source`: a tag's source text) or as the inline tag group of that reference
  /// (a text run).
  void FeedWide(const char16_t* units, std::size_t count, bool source);
  /// Shows a token read from the codes (never a run).
  void Show(const CIfToken& token);
  void Token(const CIfToken& token);
  void CodesToken(const CIfToken& token);
  /// Appends the units from `p` up to the first code or `end` as UTF-8 to `to` and returns
  /// where it stopped; a high surrogate at `end` is kept for the next units.
  const char16_t* AppendRun(CViewBytes& to, const char16_t* p, const char16_t* end);
  /// Ends the units appended to `to`: a high surrogate still kept is no character.
  void EndUnits(CViewBytes& to);
  /// Shows the tag group at `p` (a code read in text, no flags waiting) when its flags, its code
  /// and its pair id are all in the units up to `end`, with its source text up to the code
  /// that ends it or `end`; returns where the units go on, or null (nothing done) for anything
  /// else.
  const char16_t* TagGroup(const char16_t* p, const char16_t* end);
  /// Starts the marker of a tag group met in text with `flagCount` flags before it (no other
  /// flags waiting) and the pair id `pair`; its source text then goes straight to the output.
  void OpenTag(const char16_t* flags, std::size_t flagCount, char16_t pair);
  /// FeedTable's walk over the records (`kMayBeWide` as for CElementTable::Length).
  template <bool kMayBeWide>
  void FeedRecords(const CElementTable& table);
  /// Ends that marker: the group's U+E000, or another code, has come.
  void CloseTag();
  /// Codes mode: shows the code at `p` with its group's fixed data, which follows it in the
  /// units given; returns the position after them.
  const char16_t* CodeWithData(const char16_t* p);
  /// Writes the start of the marker of the tag group that starts now, with the flags before
  /// it, up to its source text, which then goes straight after it.
  void StartTagMarker(const char16_t* flags, std::size_t flagCount);
  /// Ends that marker (`cutOff`: the IF ended inside the group).
  void EndTagMarker(bool cutOff);
  void FlushText();
  void EndGroup(bool cutOff);
  void PutMarker(std::string_view kind, std::string_view detail, std::string_view source);
  /// Appends the waiting flags (" block", " end"...) to `to` and forgets them.
  template <class Bytes>
  void AppendFlags(Bytes& to);
  void Flush();

  std::ostream& m_target;
  CViewBytes m_out;  ///< written, not yet handed to the target
  IfViewMode m_mode;
  CIfCodeState m_codes;        ///< where the IF read so far stands
  CIfToken m_start;            ///< the group start being read, with its fixed data
  std::uint8_t m_dataDue = 0;  ///< fixed data units still to come for m_start
  CIfToken m_token;            ///< every other token shown (a code, no data)
  State m_state = State::Text;
  bool m_hasText = false;         ///< text written to m_out since the last code
  char16_t m_high = 0;            ///< a high surrogate waiting for its low half
  std::vector<char16_t> m_flags;  ///< flag codes waiting for their element
  char16_t m_group = 0;           ///< the code that opened the group being read
  char16_t m_pair = 0;            ///< the pair-id unit of a tag group
  bool m_hasPair = false;         ///< the IF did not end before the pair-id unit
  char16_t m_semantic = 0;        ///< the first unit of a reserve group
  char16_t m_translit = 0;        ///< its second unit
  bool m_lineStart = true;        ///< nothing written yet on the current line
  std::string m_detail;           ///< a part of the marker being written
  CViewBytes m_source;            ///< the content of the group being read, as UTF-8
  /// The tag group being read is written straight to m_out: its source text from m_sourceAt,
  /// and a note that the IF cut it off would go at m_cutAt.
  bool m_tagInline = false;
  std::size_t m_sourceAt = 0;
  std::size_t m_cutAt = 0;
  std::u16string m_units;  ///< the IF of a text that holds a unit of the code range
};

/// Reads the IF from `source` in pieces and shows it (memory stays flat). Throws CHResultError
/// when the source fails.
void ShowIf(IByteStream& source, std::ostream& out, IfViewMode mode);

}  // namespace tagvert::cli
