// Tagvert: the reader and writer of the kernel's internal format, IF (CIFParser).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ifcodec/if_tokens.h"
#include "markup/element_table.h"
#include "markup/orvel_parser.h"
#include "storage/data_storage.h"

namespace tagvert {

/// Codes of the IF vocabulary, beside the boundary kIfBoundary (if_code_range.h, which also
/// holds the code range and its four bands).
inline constexpr char16_t kIfFlaggedBoundary = 0xE012;  ///< read only: boundary that flags
inline constexpr char16_t kIfPropertyE00B = 0xE402;     ///< written for property code U+E00B
inline constexpr char16_t kIfEndTag = 0xE404;           ///< end tag; read: TagType 2
inline constexpr char16_t kIfBlock = 0xE405;            ///< block tag; read: RuleType 0
inline constexpr char16_t kIfPropertyE00C = 0xE40C;     ///< written for property code U+E00C
inline constexpr char16_t kIfFlagged = 0xE411;          ///< flagged tag or property code U+E00A
inline constexpr char16_t kIfPropertyBase = 0xE700;     ///< U+E001..U+E009 -> U+E700..U+E708
inline constexpr char16_t kIfHeader = 0xE804;           ///< starts the header group
inline constexpr char16_t kIfTagGroup = 0xE805;         ///< pair-id unit, source text, U+E000
inline constexpr char16_t kIfReserveGroup = 0xE80A;     ///< semantic, transliterate, U+E000
inline constexpr char16_t kIfTransMethod = 0xEC03;      ///< skipped text: the TransMethod

/// What a tag's text is followed by in the IF: its boundary, and after a reserved start tag the
/// reserve group's codes. A tag writes the first one or all five.
inline constexpr char16_t kIfCodesAfterTag[5] = {kIfBoundary, kIfReserveGroup, 0, 0, kIfBoundary};
/// The inline single tag that stands for a U+00A0 cut out of a text.
inline constexpr char16_t kIfNbspTag[4] = {kIfTagGroup, 0, 0x00A0, kIfBoundary};

/// The codes CIFParser::WriteTable writes around the text of a tag record, decided by its kind
/// alone: its TagType, its Algorithm and whether it is a block. An entry takes thirty-two
/// bytes, so that a kind's is found with a shift.
struct alignas(32) CIfTagCodes {
  static constexpr std::size_t kBeforeRoom = 12;
  /// The codes before the text (block mark, reserve group, end mark, tag group); the last one
  /// counted is the pair id's place.
  char16_t before[kBeforeRoom] = {};
  std::uint8_t beforeCount = 0;
  /// How many of the codes after the text (kIfCodesAfterTag) it writes.
  std::uint8_t afterCount = 0;
  bool removed = false;  ///< a removed element leaves only its block mark (`before`)
  char16_t idMask = 0;   ///< the pair id written: 0 for an empty tag
};
/// The codes of the tag `record`'s kind; its pair id is `record.pairId & idMask`.
const CIfTagCodes& IfTagCodes(const CElementRecord& record);
/// The numeric reference "&#xHHHH;" (four upper-case hexadecimal digits) that CIFParser writes
/// for a unit of the code range found in a document's text.
std::u16string IfCodeReference(char16_t unit);

/// Constructor flags of CIFParser, combined with |.
enum class IfParserMode : std::uint8_t {
  Read = 1,   ///< the storage's input mode becomes 2 (UTF-16)
  Write = 2,  ///< the storage's output mode becomes 2 (UTF-16)
};
constexpr IfParserMode operator|(IfParserMode a, IfParserMode b) {
  return static_cast<IfParserMode>(static_cast<std::uint8_t>(a) | static_cast<std::uint8_t>(b));
}
/// Whether `mode` holds `flag`.
constexpr bool HasMode(IfParserMode mode, IfParserMode flag) {
  return (static_cast<std::uint8_t>(mode) & static_cast<std::uint8_t>(flag)) != 0;
}

/// Reads IF one element per call and writes it from an element table, over a storage it does
/// not own. IF is UTF-16 little-endian without a byte-order mark; neither side detects or writes
/// one. Keeps no state between calls apart from what the storage holds.
class CIFParser : public COrvelParser {
 public:
  /// Read calls storage->SetInputMode(2), Write SetOutputMode(2). Throws
  /// CHResultError(kEPointer) for a null storage.
  CIFParser(CDataStorage* storage, IfParserMode mode);
  ~CIFParser() override = default;

  /// Fills `element` (fresh, as created by the caller) from the next IF element: a text run
  /// (IsTag 0), a tag group (IsTag 1, pair id and SourceText), or an empty tag element for a
  /// boundary or any other group. Flags before the element set TagType 2 (U+E404), RuleType 0
  /// (U+E405) and Flagged (U+E411, U+E012). Returns false at the end of the input, also when
  /// the input ends after flags or skipped text. Never reports a format error; storage errors
  /// (CHResultError) pass through. The IF is cut into tokens by CIfTokenReader (a reserve
  /// group's two data units are taken as they are); runs between codes are read in bulk.
  bool ReadElement(IElementX* element) override;
  /// Hands every token ReadElement reads to `observer` (not owned; null for none), with its
  /// position; set it before the first ReadElement. Costs a copy of the runs ReadElement would
  /// pass over.
  void SetObserver(IIfTokenObserver* observer) { m_observer = observer; }
  /// With `on`, ReadElement leaves a text run, or a tag group's source text, that lies whole in
  /// the storage's input buffer where it is: the element's source text stays empty and
  /// InPlaceRun views the units instead (off by default).
  void SetRunsInPlace(bool on) { m_runsInPlace = on; }
  /// The run the last ReadElement left in place; empty when it left none. Valid until the next
  /// ReadElement.
  std::u16string_view InPlaceRun() const { return m_inPlace; }
  /// Writes a text run: a unit of the code range in it is never written as itself but as an
  /// inline single tag whose source text is its reference "&#xHHHH;". Storage errors
  /// (CHResultError) pass through.
  void WriteText(std::u16string_view text);
  /// Writes a tag's source text, each unit of the code range as its reference "&#xHHHH;".
  void WriteSourceText(std::u16string_view source);
  /// Writes every record of `table` as IF (a text run marked kRecordNbsp as its pieces): a text
  /// run, or a tag with its block mark, reserve groups, end mark and tag group, copying texts and
  /// codes into the output in bulk.
  void WriteTable(const CElementTable& table);

 private:
  /// Writes a text run in which a space follows every U+00A0 as its pieces: the stretches
  /// between the U+00A0 as text, each U+00A0 as an inline single tag.
  void WriteNbspText(std::u16string_view text);
  /// Units [units, end) of a buffer of the table.
  template <class Unit>
  struct CUnitSpan {
    const Unit* units = nullptr;
    const Unit* end = nullptr;
  };
  /// WriteTable over the units of the table's source (std::uint8_t: a narrow one) and of its
  /// edited buffer; with `kMayBeWide` false, of a table without wide records.
  template <class Unit, bool kMayBeWide>
  void WriteRecords(const CElementTable& table, CUnitSpan<Unit> source, CUnitSpan<char16_t> edited);
  /// Hands `token` to the observer, if any, at unit `unit`.
  void Observe(const CIfToken& token, std::uint64_t unit) {
    if (m_observer != nullptr) m_observer->OnIfToken(token, unit);
  }
  /// Reads the content of the group just started, up to the next code, in bulk: into the
  /// element's source text for a tag group, else passed over.
  void ReadGroupData(IElementX* element);
  /// The input has ended while `element` was read: the token reader's last tokens go to the
  /// observer. True when the element is a group cut off (returned as a tag).
  bool EndOfInput(IElementX* element);
  /// With runs in place: takes a run of kind `kind` (Text or GroupData) into m_inPlace when it
  /// is not empty and ends at a code in the input buffer, so that reading that code leaves the
  /// units where they are. False, nothing read, otherwise.
  bool TakeRunInPlace(IfTokenKind kind);

  CIfTokenReader m_tokens;
  IIfTokenObserver* m_observer = nullptr;
  char16_t m_groupCode = 0;     ///< the code of the group or skipped text being read
  std::uint64_t m_unit = 0;     ///< units read so far (kept while there is an observer)
  std::u16string m_passedOver;  ///< with an observer: a run that no element keeps
  bool m_runsInPlace = false;
  std::u16string_view m_inPlace;  ///< see InPlaceRun
};

}  // namespace tagvert
