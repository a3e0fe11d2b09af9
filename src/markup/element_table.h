// Tagvert: a document's elements as compact records over its decoded text (CElementTable).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "markup/element_kinds.h"
#include "storage/hresult.h"
#include "storage/input_scan.h"
#include "storage/large_memory.h"
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

/// One attribute name that CElementTable::FindAttributes looks for: compared exactly, or with
/// only the ASCII letters folded when `caseSensitive` is false.
struct CAttributeQuery {
  std::u16string_view name;
  bool caseSensitive = true;
};

/// One text run or piece of markup, 12 bytes. Its text is a run of the source buffer, or of
/// the edited buffer when kRecordEdited is set. A tag's attributes are not kept: they are read
/// again from its text when a pass needs them (CElementTable::ReadAttributes), which few tags
/// do, so that the table touches a third less memory per element. The text's length and the
/// name id are read and written through the table (CElementTable::Length, NameId, SetLength,
/// SetNameId, SetLengthAndName): nearly every element's fit in 16 bits each, and those of the
/// others (a long text or tag, a document of very many names) are kept by the table.
struct CElementRecord {
  CElementRecord()
      : tagType(TagType::Single),
        algorithm(Algorithm::Translate),
        plain(0),
        wide(0),
        whitespace(Whitespace::Preserve),
        bits(kRecordInline) {}

  std::uint32_t textStart = 0;
  /// The text's length and the name id (0: no name) when `wide` is 0; else the low and the
  /// high half of the index of the table's entry that holds both.
  std::uint16_t length16 = 0;
  std::uint16_t name16 = 0;
  std::uint16_t pairId = 0;
  TagType tagType : 3;
  Algorithm algorithm : 3;
  /// 1: a tag of the plain shape (a name, `name="value"` attributes, then `>` or `/>`), whose
  /// attributes are read again without the whole grammar and only up to the one looked for.
  std::uint8_t plain : 1;
  /// 1: the length or the name id did not fit in 16 bits (see length16). The fields cover every
  /// bit of their bytes, which are then written whole: a bit left out would be read and kept,
  /// and a record's first write to a page of the table would read it first (a page faulted in
  /// for reading and then again for writing).
  std::uint8_t wide : 1;
  Whitespace whitespace : 3;
  std::uint8_t bits : 5;  ///< kRecord* flags

  static constexpr std::uint8_t kRecordInline = 0x01;  ///< RuleType inline (else block)
  static constexpr std::uint8_t kRecordTag = 0x02;     ///< markup (else a text run)
  static constexpr std::uint8_t kRecordEdited = 0x04;  ///< the text lies in the edited buffer
  /// A text run with a space put after every U+00A0: written as text pieces and one markup
  /// item per U+00A0.
  static constexpr std::uint8_t kRecordNbsp = 0x08;
  /// A collapsed skipped block with inner text: it has the "formatX" attribute.
  static constexpr std::uint8_t kRecordFormat = 0x10;
  static constexpr std::uint8_t kRecordMask = 0x1F;  ///< all flags

  bool IsTag() const { return (bits & kRecordTag) != 0; }
  RuleType GetRuleType() const {
    return (bits & kRecordInline) != 0 ? RuleType::Inline : RuleType::Block;
  }
  void SetRuleType(RuleType type) {
    // The flag cleared and or-ed in again: fewer instructions than a choice of two results.
    bits = ((bits & ~kRecordInline) | (type == RuleType::Inline ? kRecordInline : 0)) & kRecordMask;
  }
  void SetBits(std::uint8_t flags) { bits = (bits | flags) & kRecordMask; }
  /// The index of the table's entry of a wide record.
  std::uint32_t WideIndex() const { return std::uint32_t{name16} << 16 | length16; }
};

static_assert(sizeof(CElementRecord) == 12);

/// The records of a table; large ones take large pages.
using CRecordVector = std::vector<CElementRecord, CLargeAllocator<CElementRecord>>;
/// One 32-bit value per record (CElementTable::Workspace); grown without being written.
using CRecordIndexVector = std::vector<std::uint32_t, CLargeUnwrittenAllocator<std::uint32_t>>;

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

/// A document has a dozen or so names: a small cache keyed by length and end units answers
/// nearly every lookup of a name's id with one comparison instead of hashing the name.
class CNameCache {
 public:
  explicit CNameCache(CNameTable& names) : m_names(names) {}
  /// The id of the name held by `size` units (at least one) at `units`, interned when new.
  /// Units of a narrow source are compared as they are and widened, into `widened`, only for a
  /// name the cache does not hold.
  template <class Unit>
  std::uint32_t Id(const Unit* units, std::size_t size, std::u16string* widened) {
    CSlot& slot = m_slots[(size * 31 + units[0] + units[size - 1] * 7) % std::size(m_slots)];
    if (slot.name.size() == size && std::equal(units, units + size, slot.name.begin())) {
      return slot.id;
    }
    Remember(slot, units, size, widened);
    slot.wordSize = 0;
    return slot.id;
  }
  /// Id(units, size, widened) for a name in a buffer that ends at `limit`. A name of one to
  /// eight bytes with eight bytes to read from its start is compared as one 64-bit word, which
  /// its slot keeps: the cut asks once per tag, and a unit-by-unit comparison of a narrow unit
  /// against a wide one cost a tenth of its work.
  template <class Unit>
  std::uint32_t Id(const Unit* units, std::size_t size, const Unit* limit,
                   std::u16string* widened) {
    constexpr std::size_t kWordUnits = 8 / sizeof(Unit);
    if constexpr (std::endian::native == std::endian::little) {
      if (size - 1 < kWordUnits && static_cast<std::size_t>(limit - units) >= kWordUnits) {
        std::uint64_t word = 0;
        std::memcpy(&word, units, 8);
        // The name's bytes are the low ones; the units after it are dropped.
        word &= ~std::uint64_t{0} >> (64 - size * sizeof(Unit) * 8);
        constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
        CSlot& slot = m_slots[static_cast<std::size_t>((word * kMultiplier) >> 58)];
        if (slot.wordSize == size && slot.word == word) return slot.id;
        Remember(slot, units, size, widened);
        slot.word = word;
        slot.wordSize = static_cast<std::uint8_t>(size);
        return slot.id;
      }
    }
    return Id(units, size, widened);
  }

 private:
  struct CSlot {
    std::u16string_view name;
    std::uint32_t id = 0;
    std::uint8_t wordSize = 0;  // the units of `word` (0: none)
    std::uint64_t word = 0;     // the name's units as they lie in the buffer
  };
  // Interns the name and keeps it in `slot`; a narrow name is widened into `widened` first.
  template <class Unit>
  void Remember(CSlot& slot, const Unit* units, std::size_t size, std::u16string* widened) {
    std::u16string_view name;
    if constexpr (std::is_same_v<Unit, char16_t>) {
      name = {units, size};
    } else {
      widened->resize(size);
      WidenBytes(units, size, widened->data());
      name = *widened;
    }
    slot.id = m_names.Intern(name);
    slot.name = m_names.Name(slot.id);
  }
  CNameTable& m_names;
  CSlot m_slots[64];
};

/// A document's elements in reading order as fixed-size records pointing into one buffer that
/// holds the decoded input (the source), plus the interned names and a
/// buffer for the texts that the passes change. Tables of millions of elements cost 12 bytes
/// per element beside the source.
class CElementTable {
 public:
  CElementTable() = default;
  CElementTable(const CElementTable&) = delete;
  CElementTable& operator=(const CElementTable&) = delete;

  /// The decoded input; the reader fills it before cutting it into records.
  CUnitBuffer& Source() { return m_source; }
  const CUnitBuffer& Source() const { return m_source; }
  /// The texts that passes replaced (wide units), which edited records index.
  const CUnitBuffer& Edited() const { return m_edited; }
  CRecordVector& Records() { return m_records; }
  const CRecordVector& Records() const { return m_records; }
  CNameTable& Names() { return m_names; }
  const CNameTable& Names() const { return m_names; }

  /// Whether some record was ever written wide (its values kept by the table). Walks over the
  /// records are instantiated for both answers (VisitRecordWidth) and read the fields of a
  /// table without wide records straight from the record, as nearly every table is.
  bool AnyWide() const { return !m_wideFields.empty(); }
  /// The length of the text of `record`, in units. With `kMayBeWide` false the record must not
  /// be wide: so is every record of a table without wide records, until a pass writes one.
  template <bool kMayBeWide = true>
  std::uint32_t Length(const CElementRecord& record) const {
    if constexpr (kMayBeWide) {
      if (record.wide != 0) [[unlikely]]
        return WideLength(record);
    }
    return record.length16;
  }
  /// The name id of `record` (0: no name), as Length.
  template <bool kMayBeWide = true>
  std::uint32_t NameId(const CElementRecord& record) const {
    if constexpr (kMayBeWide) {
      if (record.wide != 0) [[unlikely]]
        return WideNameId(record);
    }
    return record.name16;
  }
  /// Sets the length and the name id of `record`. Values beyond 16 bits take a new entry of the
  /// table, which is never changed afterwards: copies of the record stay valid.
  void SetLengthAndName(CElementRecord& record, std::uint32_t length, std::uint32_t nameId) {
    record.wide = 0;
    SetLowBits(record, length, nameId);
    SetHighBits(record, length, nameId);
  }
  /// SetLengthAndName of a record that is not wide (a new one) in two steps, for the cut: the
  /// low 16 bits of both values as the record is built (SetLowBits), then, once it is stored,
  /// the entry of the few whose values take more (SetHighBits). A test of the values while the
  /// record was built cost the cut nine instructions a record: the record then went through
  /// memory rather than from registers into the table.
  static void SetLowBits(CElementRecord& record, std::uint32_t length, std::uint32_t nameId) {
    record.length16 = static_cast<std::uint16_t>(length);
    record.name16 = static_cast<std::uint16_t>(nameId);
  }
  void SetHighBits(CElementRecord& stored, std::uint32_t length, std::uint32_t nameId) {
    if (((length | nameId) >> 16) != 0) [[unlikely]]
      SetWide(stored, length, nameId);
  }
  /// SetLengthAndName with the name id kept. A record that is not wide takes a value that fits
  /// in its field alone.
  void SetLength(CElementRecord& record, std::uint32_t length) {
    if (record.wide == 0 && length <= 0xFFFF) [[likely]] {
      record.length16 = static_cast<std::uint16_t>(length);
      return;
    }
    SetLengthAndName(record, length, NameId(record));
  }
  /// SetLengthAndName with the length kept, as SetLength.
  void SetNameId(CElementRecord& record, std::uint32_t nameId) {
    if (record.wide == 0 && nameId <= 0xFFFF) [[likely]] {
      record.name16 = static_cast<std::uint16_t>(nameId);
      return;
    }
    SetLengthAndName(record, Length(record), nameId);
  }

  /// The text of `record`. A text in a narrow source (CUnitBuffer) is widened into a buffer of
  /// the table: the view then holds until the next call of Text.
  std::u16string_view Text(const CElementRecord& record) const {
    const std::uint32_t length = Length(record);
    if ((record.bits & CElementRecord::kRecordEdited) != 0) {
      return {m_edited.Data() + record.textStart, length};
    }
    if (!m_source.Narrow()) return {m_source.Data() + record.textStart, length};
    m_widenedText.resize(length);
    WidenBytes(m_source.Bytes() + record.textStart, length, m_widenedText.data());
    return m_widenedText;
  }
  /// Calls `f(units, length)` with the text of `record` as it is stored: `const std::uint8_t*`
  /// for a text in a narrow source, else `const char16_t*`; nothing is copied.
  template <bool kMayBeWide = true, class F>
  decltype(auto) VisitText(const CElementRecord& record, F&& f) const {
    const std::size_t length = Length<kMayBeWide>(record);
    if ((record.bits & CElementRecord::kRecordEdited) != 0) {
      return f(m_edited.Data() + record.textStart, length);
    }
    if (m_source.Narrow()) return f(m_source.Bytes() + record.textStart, length);
    return f(m_source.Data() + record.textStart, length);
  }
  /// VisitText, calling `f(units, length, limit)` with the end of the buffer that holds the text
  /// as `limit`: the units from the text's end up to it may be read, for scans and copies that
  /// go a whole step at a time.
  template <bool kMayBeWide = true, class F>
  decltype(auto) VisitTextInBuffer(const CElementRecord& record, F&& f) const {
    const std::size_t length = Length<kMayBeWide>(record);
    if ((record.bits & CElementRecord::kRecordEdited) != 0) {
      return f(m_edited.Data() + record.textStart, length, m_edited.Data() + m_edited.Size());
    }
    if (m_source.Narrow()) {
      return f(m_source.Bytes() + record.textStart, length, m_source.Bytes() + m_source.Size());
    }
    return f(m_source.Data() + record.textStart, length, m_source.Data() + m_source.Size());
  }
  /// Starts loading the first units of the text of `record` into the cache, where the compiler
  /// offers that hint: a walk over the records that reads their texts asks for a record some
  /// way ahead, so that the load overlaps the work on the records before it.
  void PrefetchText(const CElementRecord& record) const {
#if defined(__GNUC__)
    VisitText(record, [](const auto* units, std::size_t) { __builtin_prefetch(units); });
#else
    static_cast<void>(record);
#endif
  }
  /// Replaces the text of `record` by `text` (kept in the edited buffer).
  void SetText(CElementRecord& record, std::u16string_view text);
  /// Replaces the text of `record` by `text` as SetText does, but over the record's own units
  /// in the source where `text` fits there: the text lies in the source, `text` is no longer
  /// and, in a narrow source, holds only units below U+0100. The edited buffer, fresh memory,
  /// then takes only the texts that grow. The record's units in the source must be its alone
  /// (no other record's text may cover them), and its old text is lost.
  void ReplaceText(CElementRecord& record, std::u16string_view text);
  /// The name of `record`.
  const std::u16string& Name(const CElementRecord& record) const {
    return m_names.Name(NameId(record));
  }

  /// Reads the attributes of `record` (a tag) again from its source text, exactly as
  /// ScanElements read them: in order, the marker attribute of broken and special markup
  /// included. Replaces the content of `out`. Costs about as much as reading the tag did.
  /// In a narrow source the spans index a widened copy of the tag: they
  /// hold until the next ReadAttributes, FindAttributes or FindAttribute.
  void ReadAttributes(const CElementRecord& record, std::vector<CAttributeSpan>& out) const;
  /// Name and value of an attribute that ReadAttributes gave.
  std::u16string_view AttributeName(const CAttributeSpan& span) const;
  std::u16string_view AttributeValue(const CAttributeSpan& span) const {
    return {AttributeUnits() + span.valueStart, span.valueLength};
  }
  /// Looks among the attributes of `record` that ReadAttributes gives for the first one named
  /// as each of `queries` (at most kMaxQueries, else CHResultError(E_INVALIDARG)), without widening
  /// a narrow source's tag and, for a plain tag (CElementRecord::plain), without reading past the
  /// last attribute it needs. Sets values[k] for every query k found and returns the found ones as
  /// bits (1 << k). The values hold until the next look-up of attributes in the table.
  unsigned FindAttributes(const CElementRecord& record, std::span<const CAttributeQuery> queries,
                          std::u16string_view* values) const;
  static constexpr std::size_t kMaxQueries = 8;
  /// The value of the first attribute of `record` named exactly `name`; false when none. The
  /// value holds as those of FindAttributes do.
  bool FindAttribute(const CElementRecord& record, std::u16string_view name,
                     std::u16string_view& value) const;

  /// The stop flag of the conversion (not owned; null when nothing can stop it). The passes
  /// check it every kStopInterval elements (CheckStopAt).
  void SetStopFlag(const std::atomic<bool>* flag) {
    m_stopFlag = flag;
  }
  /// Throws CHResultError(E_ABORT) when a stop was requested.
  void CheckStop() const {
    if (m_stopFlag != nullptr && m_stopFlag->load(std::memory_order_relaxed)) ThrowHResult(kEAbort);
  }
  /// CheckStop at the records of a walk whose index `i` is a multiple of kStopInterval, the
  /// first one included: a test of the index per record instead of a load of the flag, and a
  /// stop is still seen within microseconds.
  void CheckStopAt(std::size_t i) const {
    if ((i & (kStopInterval - 1)) == 0) CheckStop();
  }
  static constexpr std::size_t kStopInterval = 256;

  /// Working room of one 32-bit value per record that the passes hand on to each other (the
  /// pairing's partner table, then the classification's next-with-the-same-id table), so that
  /// its memory is touched once rather than once per pass.
  CRecordIndexVector& Workspace() {
    return m_workspace;
  }
  /// Gives the working room back.
  void ReleaseWorkspace() {
    CRecordIndexVector().swap(m_workspace);
  }

  /// The last pair id handed out (100 before the first); pairing continues from it.
  std::uint32_t& PairIdCounter() {
    return m_pairIdCounter;
  }
  /// True until the first PairRecords: the records are start, end and empty tags and text runs
  /// as the reader gives them, none of them a paired start or end tag yet.
  bool& Unpaired() {
    return m_unpaired;
  }
  /// Set by the first pairing (ScanElements with pairing, or PairRecords of unpaired records),
  /// which hands out the ids in reading order: the workspace then holds, at every record with a
  /// PairId other than 0, the position of the first later record with the same PairId, or the
  /// number of records when there is none (at other records it holds nothing). The next
  /// PairRecords, which reuses the workspace, clears it.
  bool& NextBySameIdReady() {
    return m_nextBySameIdReady;
  }
  /// Set with NextBySameIdReady when no two pairs of the first pairing cross: no start tag lies
  /// between the start and end tag of another pair whose end tag comes first.
  bool& PairsNest() {
    return m_pairsNest;
  }

  /// Marker for CAttributeSpan::nameStart: the attribute is the broken-tag marker.
  static constexpr std::uint32_t kMarkerNameStart = 0xFFFFFFFF;

 private:
  // The units that attribute spans index: the source, or the widened copy of the last tag
  // read from a narrow source.
  const char16_t* AttributeUnits() const {
    return m_source.Narrow() ? m_widenedTag.data() : m_source.Data();
  }

  CUnitBuffer m_source;
  CUnitBuffer m_edited;  // texts that passes replaced; large ones on large pages, as the source
  CRecordVector m_records;
  CRecordIndexVector m_workspace;
  // The attributes FindAttributes read last from a tag that is not plain.
  mutable std::vector<CAttributeSpan> m_foundAttributes;
  // Narrow source: the values FindAttributes found in a plain tag, widened one after the other.
  mutable std::u16string m_widenedValues;
  // Narrow source: the text last widened by Text, and the tag last widened for its attributes
  // (its text and the unit after it, which the tag reader may look at).
  mutable std::u16string m_widenedText;
  mutable std::u16string m_widenedTag;
  unsigned FindPlainAttributes(const CElementRecord& record,
                               std::span<const CAttributeQuery> queries,
                               std::u16string_view* values) const;
  // Out of line: the records whose length or name id take more than 16 bits are few.
  [[gnu::noinline]] void SetWide(CElementRecord& record, std::uint32_t length,
                                 std::uint32_t nameId);
  [[gnu::noinline, gnu::pure]] std::uint32_t WideLength(const CElementRecord& record) const;
  [[gnu::noinline, gnu::pure]] std::uint32_t WideNameId(const CElementRecord& record) const;
  struct CWideFields {
    std::uint32_t length;
    std::uint32_t nameId;
  };
  std::vector<CWideFields> m_wideFields;  // the wide records' values, only ever appended
  CNameTable m_names;
  const std::atomic<bool>* m_stopFlag = nullptr;
  std::uint32_t m_pairIdCounter = 100;
  bool m_unpaired = true;
  bool m_nextBySameIdReady = false;
  bool m_pairsNest = false;
};

/// CElementTable::FindAttributes for one set of names, over the tags of one table, remembering
/// what it found by the tag's text: a document repeats the same few tags (a unit's start tag, a
/// language's, a placeholder's) thousands of times, and a tag whose text equals that of a tag
/// looked up before has the same attributes. A small cache keyed by a hash of the text answers
/// most look-ups with one comparison of the two texts. Only plain tags
/// (CElementRecord::plain) of up to kMaxTextBytes are remembered; the others are read again
/// each time.
class CAttributeLookup {
 public:
  /// `queries`: at most CElementTable::kMaxQueries names, copied.
  CAttributeLookup(const CElementTable& table, std::initializer_list<CAttributeQuery> queries);
  /// FindAttributes(record, queries, values). The values hold until the next Find of this
  /// object or the next look-up of attributes in the table.
  unsigned Find(const CElementRecord& record, std::u16string_view* values);

 private:
  struct CSlot {
    std::string text;  // the tag's text as the source holds it (empty: a free slot)
    unsigned found = 0;
    std::uint64_t used = 0;  // when it last answered or was filled
    std::u16string values;   // the values found, one after the other
    // The found values as views into `values`, set when the slot is filled.
    std::u16string_view views[CElementTable::kMaxQueries];
  };
  unsigned ValuesOf(CSlot& slot, std::u16string_view* values);
  const CElementTable& m_table;
  std::vector<std::u16string> m_names;
  std::vector<CAttributeQuery> m_queries;
  std::unique_ptr<CSlot[]> m_slots;
  // The slots that answered last and the time before, tried before the text is hashed: the
  // tags looked up by one name usually alternate between a few texts (a source and a target
  // language's).
  CSlot* m_recent[2] = {nullptr, nullptr};
  std::uint64_t m_clock = 0;
  static constexpr std::size_t kSlots = 64;  // six bits of a key
  static constexpr std::size_t kMaxTextBytes = 512;
};

/// Calls `f` with std::true_type when some record of `table` is wide, else with
/// std::false_type: a walk instantiated for both reads the fields of the records straight from
/// them in nearly every document, and tests a flag per walk instead of one per read. A walk that
/// writes records wide reads those it wrote with the values it wrote, not back from them.
template <class F>
decltype(auto) VisitRecordWidth(const CElementTable& table, F&& f) {
  if (table.AnyWide()) [[unlikely]]
    return f(std::true_type{});
  return f(std::false_type{});
}

/// The text of `record` as the table's source holds it, as bytes (two per unit in a wide
/// source), for the caches keyed by a tag's text: empty unless `record` is a plain tag
/// (CElementRecord::plain) whose text lies in the source and takes 1 to `maxBytes` bytes.
/// `kMayBeWide` as for CElementTable::Length.
template <bool kMayBeWide = true>
std::string_view PlainTagBytes(const CElementTable& table, const CElementRecord& record,
                               std::size_t maxBytes) {
  if (record.plain == 0 || (record.bits & CElementRecord::kRecordEdited) != 0) return {};
  const CUnitBuffer& source = table.Source();
  const std::size_t bytes =
      std::size_t{table.Length<kMayBeWide>(record)} * (source.Narrow() ? 1 : 2);
  if (bytes > maxBytes) return {};
  const char* const text = source.Narrow()
                               ? reinterpret_cast<const char*>(source.Bytes() + record.textStart)
                               : reinterpret_cast<const char*>(source.Data() + record.textStart);
  return {text, bytes};
}

/// A hash of a tag's text (PlainTagBytes) eight bytes a step: tags of one name often have one
/// length and differ in a unit or two anywhere. `text` is not empty.
inline std::uint64_t HashTagText(std::string_view text) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
  const std::size_t bytes = text.size();
  std::uint64_t key = bytes;
  std::uint64_t word = 0;
  for (std::size_t at = 0; bytes - at > 8; at += 8) {
    std::memcpy(&word, text.data() + at, 8);
    key = (key ^ word) * kMultiplier;
  }
  // The last eight bytes (or all of a shorter text), some of them hashed before; a copy of a
  // fixed size is one load where one of a variable size is a call.
  word = 0;
  if (bytes >= 8) {
    std::memcpy(&word, text.data() + bytes - 8, 8);
  } else {
    std::memcpy(&word, text.data(), bytes);
  }
  return (key ^ word) * kMultiplier;
}

/// A hash of a tag's text (PlainTagBytes, not empty) from its size and its first, middle and
/// last eight bytes, for memos of tags that repeat: such tags differ in their values, which a
/// text of a few dozen bytes holds within those, and texts that meet in a slot only cost their
/// look-up again. Shorter texts are hashed whole.
inline std::uint64_t HashTagTextSampled(std::string_view text) {
  const std::size_t size = text.size();
  if (size < 24) return HashTagText(text);
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
  std::uint64_t first = 0;
  std::uint64_t middle = 0;
  std::uint64_t last = 0;
  std::memcpy(&first, text.data(), 8);
  std::memcpy(&middle, text.data() + size / 2 - 4, 8);
  std::memcpy(&last, text.data() + size - 8, 8);
  return (((size ^ first) * kMultiplier ^ middle) * kMultiplier ^ last) * kMultiplier;
}

/// Cuts the table's source into records exactly as COrvelSgmlParser::ReadElement cuts the same
/// units into elements, one record per element, with the same names, tag types, attributes and
/// texts. The source must be at most 2^32 - 2 units (CHResultError(E_OUTOFMEMORY) otherwise).
/// With `pairTags` each tag is also paired as it is cut out: the records are then those that
/// ScanElements followed by PairRecords gives, one walk fewer over them.
void ScanElements(CElementTable& table, bool pairTags = false);

/// The tag pairing walk (detail::PairTags) over the records, with names compared by id
/// and the table's pair id counter. Uses (and overwrites) the table's workspace, except on
/// records never paired before, which it pairs in one walk without it.
void PairRecords(CElementTable& table);

/// What the pairing of paired records learns in its first walk (the end tag of each start tag, by
/// name, and the first paired start tag), gathered by a pass that writes the records in reading
/// order (Add, for each record written): PairRecords(table, start) then does without that walk.
/// Writes the end tags' positions into the table's workspace, at the positions of the start tags
/// written: the pass must read what it keeps there at a record before it writes a record at the
/// same position.
class CPairingStart {
 public:
  explicit CPairingStart(CElementTable& table);
  CPairingStart(const CPairingStart&) = delete;
  CPairingStart& operator=(const CPairingStart&) = delete;

  /// `record`, of name id `nameId`, is written at `position`, after every record before it.
  [[gnu::always_inline]] void Add(const CElementRecord& record, std::uint32_t position,
                                  std::uint32_t nameId) {
    switch (record.tagType) {
      case TagType::Open: {
        // The start tags of a name still open are a stack linked through their entries, which
        // take their end tags' positions once closed: the stacks take no room of their own
        // while every record is still there.
        std::uint32_t& top = OpenTop(nameId);
        m_partner[position] = top;
        top = position;
        break;
      }
      case TagType::Close: {
        std::uint32_t& top = OpenTop(nameId);
        if (top != kNone) {
          const std::uint32_t open = top;
          top = m_partner[open];
          m_partner[open] = position;
        }
        break;
      }
      case TagType::PairedOpen:
        if (m_firstPairedOpen == kNone) m_firstPairedOpen = position;
        if (record.pairId == 0) m_pairedOpenWithoutId = true;
        break;
      default:
        break;
    }
  }

 private:
  friend void PairRecords(CElementTable& table, CPairingStart& start);
  static constexpr std::uint32_t kNone = 0xFFFFFFFF;
  std::uint32_t& OpenTop(std::uint32_t nameId) {
    if (nameId >= m_openTop.size()) m_openTop.resize(nameId + std::size_t{1}, kNone);
    return m_openTop[nameId];
  }
  // The start tags left open get no end tag.
  void Finish();
  std::uint32_t* m_partner;              // the workspace's
  std::vector<std::uint32_t> m_openTop;  // per name, the last start tag still open
  std::uint32_t m_firstPairedOpen = kNone;
  bool m_pairedOpenWithoutId = false;
};

/// PairRecords of a table of paired records, which `start` saw written. Gives back the memory of
/// the records' room beyond their size (DiscardUnusedCapacity), which the walk may use until then.
void PairRecords(CElementTable& table, CPairingStart& start);

}  // namespace tagvert
