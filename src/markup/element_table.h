// Tagvert: a document's elements as compact records over its decoded text (CElementTable).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "markup/element_kinds.h"
#include "storage/hresult.h"
#include "storage/unit_buffer.h"

namespace tagvert {

/// One attribute: name and value as runs of the source text. The name of the marker attribute
/// (kBrokenTagMarker) is not in the source; its start is kMarkerNameStart.
struct CAttributeSpan {
  std::uint32_t nameStart = 0;
  std::uint32_t nameLength = 0;
  std::uint32_t valueStart = 0;
  std::uint32_t valueLength = 0;
};

/// One text run or piece of markup, 24 bytes. Its text is a run of the source buffer, or of
/// the edited buffer when kRecordEdited is set.
struct CElementRecord {
  std::uint32_t textStart = 0;
  std::uint32_t textLength = 0;
  std::uint32_t firstAttribute = 0;  ///< index into the attribute table
  std::uint32_t nameId = 0;          ///< index into the name table (0: no name)
  std::uint16_t pairId = 0;
  /// Attributes from firstAttribute on; kLongAttributeCount: see CElementTable::AttributeCount.
  std::uint16_t attributeCount = 0;
  TagType tagType = TagType::Single;
  Algorithm algorithm = Algorithm::Translate;
  Whitespace whitespace = Whitespace::Preserve;
  std::uint8_t bits = kRecordInline;  ///< kRecord* flags

  static constexpr std::uint8_t kRecordInline = 0x01;  ///< RuleType inline (else block)
  static constexpr std::uint8_t kRecordTag = 0x02;     ///< markup (else a text run)
  static constexpr std::uint8_t kRecordEdited = 0x04;  ///< the text lies in the edited buffer
  /// A text run with a space put after every U+00A0: written as text pieces and one markup
  /// item per U+00A0.
  static constexpr std::uint8_t kRecordNbsp = 0x08;
  /// A collapsed skipped block with inner text: it has the "formatX" attribute.
  static constexpr std::uint8_t kRecordFormat = 0x10;

  bool IsTag() const { return (bits & kRecordTag) != 0; }
  RuleType GetRuleType() const {
    return (bits & kRecordInline) != 0 ? RuleType::Inline : RuleType::Block;
  }
  void SetRuleType(RuleType type) {
    bits = static_cast<std::uint8_t>(type == RuleType::Inline ? bits | kRecordInline
                                                              : bits & ~kRecordInline);
  }
};

/// Attribute counts from this value on are kept beside the records.
inline constexpr std::uint16_t kLongAttributeCount = 0xFFFF;

/// Interns element names: every distinct name gets a small id once, so that the passes compare
/// and look up ids instead of strings. Id 0 is the empty name.
class CNameTable {
 public:
  CNameTable();
  /// The id of `name`, added when new.
  std::uint32_t Intern(std::u16string_view name);
  /// The id of `name`, or kNoName when it was never interned.
  std::uint32_t Find(std::u16string_view name) const;
  /// The name of `id`.
  const std::u16string& Name(std::uint32_t id) const { return *m_names[id]; }
  std::size_t Size() const { return m_names.size(); }

  static constexpr std::uint32_t kNoName = 0xFFFFFFFF;

 private:
  struct CHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view s) const {
      return std::hash<std::u16string_view>()(s);
    }
  };
  std::vector<std::unique_ptr<std::u16string>> m_names;
  std::unordered_map<std::u16string, std::uint32_t, CHash, std::equal_to<>> m_ids;
};

/// A document's elements in reading order as fixed-size records pointing into one buffer that
/// holds the decoded input (the source), plus the attribute spans, the interned names and a
/// buffer for the texts that the passes change. Tables of millions of elements cost about 24
/// bytes per element and 16 per attribute beside the source.
class CElementTable {
 public:
  CElementTable() = default;
  CElementTable(const CElementTable&) = delete;
  CElementTable& operator=(const CElementTable&) = delete;

  /// The decoded input; the reader fills it before cutting it into records.
  CUnitBuffer& Source() { return m_source; }
  const CUnitBuffer& Source() const { return m_source; }
  std::vector<CElementRecord>& Records() { return m_records; }
  const std::vector<CElementRecord>& Records() const { return m_records; }
  std::vector<CAttributeSpan>& Attributes() { return m_attributes; }
  CNameTable& Names() { return m_names; }
  const CNameTable& Names() const { return m_names; }

  /// The text of `record`.
  std::u16string_view Text(const CElementRecord& record) const {
    const char16_t* buffer =
        (record.bits & CElementRecord::kRecordEdited) ? m_edited.data() : m_source.Data();
    return {buffer + record.textStart, record.textLength};
  }
  /// Replaces the text of `record` by `text` (kept in the edited buffer).
  void SetText(CElementRecord& record, std::u16string_view text);
  /// The name of `record`.
  const std::u16string& Name(const CElementRecord& record) const {
    return m_names.Name(record.nameId);
  }

  /// The number of attributes of `record`.
  std::size_t AttributeCount(const CElementRecord& record) const;
  /// Appends the attributes m_attributes[first..] to `record` (the last ones of the table).
  void SetAttributeRange(CElementRecord& record, std::size_t first);
  /// Name and value of attribute `index` of the table.
  std::u16string_view AttributeName(std::size_t index) const;
  std::u16string_view AttributeValue(std::size_t index) const {
    const CAttributeSpan& span = m_attributes[index];
    return {m_source.Data() + span.valueStart, span.valueLength};
  }
  /// The value of the first attribute of `record` named exactly `name`; false when none.
  bool FindAttribute(const CElementRecord& record, std::u16string_view name,
                     std::u16string_view& value) const;

  /// The stop flag of the conversion (not owned; null when nothing can stop it). The passes
  /// check it once per element.
  void SetStopFlag(const std::atomic<bool>* flag) { m_stopFlag = flag; }
  /// Throws CHResultError(E_ABORT) when a stop was requested.
  void CheckStop() const {
    if (m_stopFlag != nullptr && m_stopFlag->load(std::memory_order_relaxed)) ThrowHResult(kEAbort);
  }

  /// Working room of one 32-bit value per record that the passes hand on to each other (the
  /// pairing's partner table, then the classification's next-with-the-same-id table), so that
  /// its memory is touched once rather than once per pass.
  std::vector<std::uint32_t>& Workspace() { return m_workspace; }

  /// The last pair id handed out (100 before the first); pairing continues from it.
  std::uint32_t& PairIdCounter() { return m_pairIdCounter; }
  /// True until the first PairRecords: the records are start, end and empty tags and text runs
  /// as the reader gives them, none of them a paired start or end tag yet.
  bool& Unpaired() { return m_unpaired; }

  /// Marker for CAttributeSpan::nameStart: the attribute is the broken-tag marker.
  static constexpr std::uint32_t kMarkerNameStart = 0xFFFFFFFF;

 private:
  CUnitBuffer m_source;
  std::u16string m_edited;
  std::vector<CElementRecord> m_records;
  std::vector<CAttributeSpan> m_attributes;
  std::vector<std::uint32_t> m_workspace;
  std::unordered_map<std::uint32_t, std::size_t> m_longAttributeCounts;  // by firstAttribute
  CNameTable m_names;
  const std::atomic<bool>* m_stopFlag = nullptr;
  std::uint32_t m_pairIdCounter = 100;
  bool m_unpaired = true;
};

/// Cuts the table's source into records exactly as COrvelSgmlParser::ReadElement cuts the same
/// units into elements, one record per element, with the same names, tag types, attributes and
/// texts. The source must be at most 2^32 - 2 units (CHResultError(E_OUTOFMEMORY) otherwise).
void ScanElements(CElementTable& table);

/// The pairing pass of CElementsStackX::PairTags over the records, with names compared by id
/// and the table's pair id counter. Uses (and overwrites) the table's workspace, except on
/// records never paired before, which it pairs in one walk without it.
void PairRecords(CElementTable& table);

}  // namespace tagvert
