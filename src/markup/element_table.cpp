// Tagvert: a document's elements as compact records over its decoded text, and the tag reader
// that cuts the decoded text into them.
// SPDX-License-Identifier: Apache-2.0
#include "markup/element_table.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>

#include "markup/element.h"
#include "markup/pairing.h"
#include "storage/char_class.h"
#include "storage/input_scan.h"

namespace tagvert {

CNameTable::CNameTable() {
  Intern(std::u16string_view());
}

std::uint32_t CNameTable::Intern(std::u16string_view name) {
  const auto found = m_ids.find(name);
  if (found != m_ids.end()) return found->second;
  const auto id = static_cast<std::uint32_t>(m_names.size());
  // Guard: size overflow
  if (id == kNoName) ThrowHResult(kEOutOfMemory);
  m_names.push_back(std::make_unique<std::u16string>(name));
  m_ids.emplace(*m_names.back(), id);
  return id;
}

std::uint32_t CNameTable::Find(std::u16string_view name) const {
  const auto found = m_ids.find(name);
  return found != m_ids.end() ? found->second : kNoName;
}

void CElementTable::SetText(CElementRecord& record, std::u16string_view text) {
  // Guard: size overflow
  if (m_edited.size() + text.size() > std::numeric_limits<std::uint32_t>::max()) {
    ThrowHResult(kEOutOfMemory);
  }
  record.textStart = static_cast<std::uint32_t>(m_edited.size());
  record.textLength = static_cast<std::uint32_t>(text.size());
  record.SetBits(CElementRecord::kRecordEdited);
  m_edited.append(text);
}

std::u16string_view CElementTable::AttributeName(const CAttributeSpan& span) const {
  if (span.nameStart == kMarkerNameStart) return kBrokenTagMarker;
  return {m_source.Data() + span.nameStart, span.nameLength};
}

bool CElementTable::FindAttribute(const CElementRecord& record, std::u16string_view name,
                                  std::u16string_view& value) const {
  if (m_foundAttributesAt != record.textStart) {
    ReadAttributes(record, m_foundAttributes);
    m_foundAttributesAt = record.textStart;
  }
  for (const CAttributeSpan& span : m_foundAttributes) {
    if (AttributeName(span) == name) {
      value = AttributeValue(span);
      return true;
    }
  }
  return false;
}

namespace {

// Raised when the source ends inside markup; at most once per document.
struct CEndOfSource {};

[[noreturn, gnu::noinline]] void ThrowEndOfSource() {
  throw CEndOfSource{};
}

// ASCII units that may stand in an attribute name, looked up instead of classified.
const std::array<bool, 128> kAsciiNameChars = [] {
  std::array<bool, 128> chars{};
  for (char16_t c = 0; c < 128; ++c)
    chars[c] = c == u'_' || c == u'-' || c == u'.' || c == u':' || CharIsAlnum(c);
  return chars;
}();

bool IsAttributeNameChar(char16_t c) {
  return c < 128 ? kAsciiNameChars[c] : CharIsAlnum(c);
}

constexpr char16_t kCDataKeyword[] = u"CDATA[";
constexpr char16_t kCDataName[] = u"![CDATA[";
constexpr std::size_t kNoPosition = std::numeric_limits<std::size_t>::max();

class CFirstPairing;

// The tag reader over the decoded source. Positions index the source; `m_p` is the next unit
// to read, so the unit just read is at m_p - 1. Pushing a unit back is stepping back one.
// Cutting the source into records reads attributes only to find where a tag ends
// (kKeepAttributes false); reading one tag again for its attributes keeps them.
template <bool kKeepAttributes>
class CScanner {
 public:
  CScanner(const CUnitBuffer& source, std::vector<CAttributeSpan>* attributes)
      : m_attributes(attributes), m_s(source.Data()), m_n(source.Size()) {}

  // Cuts the whole source into the table's records, pairing each tag as it is cut out when
  // `pairing` is given.
  void Run(CElementTable& table, CFirstPairing* pairing);
  // Reads the tag that starts at `start` (its `<`) again, for its attributes.
  void ReadOne(std::size_t start);

 private:
  char16_t Next() {
    if (m_p == m_n) ThrowEndOfSource();
    return m_s[m_p++];
  }
  void AppendName(char16_t c);
  char16_t SkipSpace(char16_t c) {
    while (CharIsSpace(c))
      c = Next();
    return c;
  }
  void ReadTag();
  void ReadSpecial(char16_t opener);
  void ReadUntil(std::u16string_view terminator, bool quotes, bool& nameDone);
  void TakeBackStray();
  void BreakTag();
  void AddAttribute([[maybe_unused]] std::size_t nameStart, [[maybe_unused]] std::size_t nameEnd,
                    [[maybe_unused]] std::size_t valueStart,
                    [[maybe_unused]] std::size_t valueEnd) {
    if constexpr (kKeepAttributes) {
      m_attributes->push_back({static_cast<std::uint32_t>(nameStart),
                               static_cast<std::uint32_t>(nameEnd - nameStart),
                               static_cast<std::uint32_t>(valueStart),
                               static_cast<std::uint32_t>(valueEnd - valueStart)});
    }
  }
  void AddMarker() {
    if constexpr (kKeepAttributes) {
      m_attributes->push_back({CElementTable::kMarkerNameStart, 0, 0, 0});
    }
  }

  std::vector<CAttributeSpan>* m_attributes;
  const char16_t* m_s;
  std::size_t m_n;
  std::size_t m_p = 0;
  CElementRecord m_record;
  // The name of an ordinary tag is one run of the source; that of special markup is built in
  // m_name, because the reader drops units from it.
  std::size_t m_nameStart = kNoPosition;
  std::size_t m_nameEnd = kNoPosition;
  bool m_nameBuilt = false;
  std::u16string m_name;
};

// The first pairing of records (see PairUnpairedRecords), one record at a time in reading order,
// so that the scan can pair each tag as it cuts it out.
class CFirstPairing {
 public:
  explicit CFirstPairing(CElementTable& table)
      : m_records(table.Records()), m_counter(table.PairIdCounter()) {}

  void Visit(std::uint32_t i) {
    CElementRecord& record = m_records[i];
    switch (record.tagType) {
      case TagType::Open:
        record.pairId = detail::NextPairId(m_counter);
        OpenStack(record.nameId).push_back(i);
        break;
      case TagType::Close: {
        std::vector<std::uint32_t>& stack = OpenStack(record.nameId);
        if (stack.empty()) {
          record.pairId = detail::NextPairId(m_counter);
          break;
        }
        CElementRecord& open = m_records[stack.back()];
        stack.pop_back();
        open.tagType = TagType::PairedOpen;
        record.tagType = TagType::PairedClose;
        record.pairId = open.pairId;
        break;
      }
      case TagType::Single:
        record.pairId = 0;
        break;
      default:
        break;
    }
  }

 private:
  // The start tags still open, per name id (names are added while the scan runs).
  std::vector<std::uint32_t>& OpenStack(std::uint32_t nameId) {
    if (nameId >= m_openByName.size()) m_openByName.resize(nameId + std::size_t{1});
    return m_openByName[nameId];
  }

  CRecordVector& m_records;
  std::uint32_t& m_counter;
  std::vector<std::vector<std::uint32_t>> m_openByName;
};

// A document has a dozen or so names: a small cache keyed by length and end units answers
// nearly every lookup with one comparison instead of hashing the name.
class CNameCache {
 public:
  explicit CNameCache(CNameTable& names) : m_names(names) {}
  std::uint32_t Id(std::u16string_view name) {
    CSlot& slot = m_slots[(name.size() * 31 + name.front() + name.back() * 7) % std::size(m_slots)];
    if (slot.name == name) return slot.id;
    slot.id = m_names.Intern(name);
    slot.name = m_names.Name(slot.id);
    return slot.id;
  }

 private:
  struct CSlot {
    std::u16string_view name;
    std::uint32_t id = 0;
  };
  CNameTable& m_names;
  CSlot m_slots[64];
};

template <bool kKeepAttributes>
void CScanner<kKeepAttributes>::Run(CElementTable& table, CFirstPairing* pairing) {
  CRecordVector& records = table.Records();
  CNameCache names(table.Names());
  // About one element per 20 units in real documents.
  records.reserve(m_n / 16 + 16);
  while (m_p < m_n) {
    // A stop is seen once per element here too: cutting a large document takes seconds.
    table.CheckStop();
    const std::size_t start = m_p;
    if (m_s[m_p] != u'<') {
      const char16_t* const end = FindUnit(m_s + m_p, m_s + m_n, u'<');
      m_p = static_cast<std::size_t>(end - m_s);
      CElementRecord text;
      text.textStart = static_cast<std::uint32_t>(start);
      text.textLength = static_cast<std::uint32_t>(m_p - start);
      records.push_back(text);
      continue;
    }
    ++m_p;
    m_record = CElementRecord();
    m_record.SetBits(CElementRecord::kRecordTag);
    m_nameStart = m_nameEnd = kNoPosition;
    m_nameBuilt = false;
    try {
      ReadTag();
    } catch (const CEndOfSource&) {
      // Cut-off markup keeps what was read.
    }
    m_record.textStart = static_cast<std::uint32_t>(start);
    m_record.textLength = static_cast<std::uint32_t>(m_p - start);
    if (m_nameBuilt) {
      m_record.nameId = table.Names().Intern(m_name);
    } else if (m_nameStart != kNoPosition) {
      m_record.nameId = names.Id(std::u16string_view(m_s + m_nameStart, m_nameEnd - m_nameStart));
    }
    records.push_back(m_record);
    if (pairing != nullptr) pairing->Visit(static_cast<std::uint32_t>(records.size() - 1));
  }
}

template <bool kKeepAttributes>
void CScanner<kKeepAttributes>::ReadOne(std::size_t start) {
  m_p = start + 1;
  m_attributes->clear();
  try {
    ReadTag();
  } catch (const CEndOfSource&) {
    // As when the tag was first read.
  }
}

template <bool kKeepAttributes>
void CScanner<kKeepAttributes>::AppendName(char16_t c) {
  if (m_nameBuilt) {
    m_name.push_back(c);
    return;
  }
  // Ordinary names are appended unit after unit as read.
  if (m_nameStart == kNoPosition) m_nameStart = m_p - 1;
  m_nameEnd = m_p;
}

template <bool kKeepAttributes>
void CScanner<kKeepAttributes>::TakeBackStray() {
  --m_p;
  m_record.tagType = TagType::Single;
  m_nameStart = m_nameEnd = kNoPosition;
  m_nameBuilt = false;
  if constexpr (kKeepAttributes) m_attributes->clear();
}

template <bool kKeepAttributes>
void CScanner<kKeepAttributes>::BreakTag() {
  m_record.tagType = TagType::Single;
  AddMarker();
  --m_p;
}

template <bool kKeepAttributes>
void CScanner<kKeepAttributes>::ReadTag() {
  m_record.tagType = TagType::Open;
  char16_t c = Next();
  if (c == u'<') return TakeBackStray();

  bool closeFlag = false;
  if (c == u'/') {
    m_record.tagType = TagType::Close;
    c = Next();
  } else if (c == u'!' || c == u'%') {
    m_nameBuilt = true;
    m_name.assign(1, c);
    return ReadSpecial(c);
  }
  if (c == u'?') m_record.tagType = TagType::Single;  // a processing instruction

  if (!CharIsSpace(c)) {
    for (;;) {
      if (c == u'>') return;
      if (c == u'/') {
        closeFlag = true;
        c = Next();
        break;
      }
      if (c == u'<') return TakeBackStray();
      AppendName(c);
      c = Next();
      if (CharIsSpace(c)) break;
    }
  }

  while (c != u'>') {
    // A `/` counts only when nothing but `>` follows it.
    closeFlag = false;
    c = SkipSpace(c);
    const std::size_t nameStart = m_p - 1;
    while (IsAttributeNameChar(c))
      c = Next();
    const std::size_t nameEnd = m_p - 1;
    if (c == u'<') return BreakTag();
    if (c == u'/') closeFlag = true;
    // Also without a `/`, so that white space before `=` still leads to the value.
    c = SkipSpace(c);
    if (c != u'=') {
      if (nameEnd != nameStart) {
        AddAttribute(nameStart, nameEnd, nameEnd, nameEnd);
      } else if (c != u'>') {
        c = Next();  // a unit that starts no attribute is passed over
      }
      continue;
    }
    c = SkipSpace(Next());
    if (c == u'"' || c == u'\'') {
      const char16_t quote = c;
      const std::size_t valueStart = m_p;
      // The value runs to the quote; a `<` before it is a stray one.
      const char16_t* const end = m_s + m_n;
      const char16_t* const q = FindUnitOf(m_s + m_p, end, quote, u'<');
      m_p = static_cast<std::size_t>(q - m_s);
      if (q == end) ThrowEndOfSource();
      ++m_p;
      if (*q == u'<') return TakeBackStray();
      const std::size_t valueEnd = m_p - 1;
      // Cut off by the end of input after the quote, the attribute is not added.
      c = Next();
      AddAttribute(nameStart, nameEnd, valueStart, valueEnd);
      continue;
    }
    const std::size_t valueStart = m_p - 1;
    for (;;) {
      if (c == u'>' || CharIsSpace(c)) {
        AddAttribute(nameStart, nameEnd, valueStart, m_p - 1);
        break;
      }
      if (c == u'<') return TakeBackStray();
      if (c == u'/') {
        c = Next();
        if (c == u'>') {
          m_record.tagType = TagType::Single;
          AddAttribute(nameStart, nameEnd, valueStart, m_p - 2);  // without the `/`
          break;
        }
        continue;  // the `/` stays in the value; `c` is looked at again
      }
      c = Next();
    }
  }
  if (closeFlag) m_record.tagType = TagType::Single;
}

template <bool kKeepAttributes>
void CScanner<kKeepAttributes>::ReadSpecial(char16_t opener) {
  bool nameDone = false;
  if (opener == u'%') {
    ReadUntil(u"%>", true, nameDone);
  } else {
    char16_t c = Next();
    if (c == u'<') return TakeBackStray();
    if (CharIsSpace(c)) {
      nameDone = true;
      ReadUntil(u">", true, nameDone);
    } else {
      AppendName(c);
      if (c == u'-') {
        c = Next();
        if (c == u'-') {
          // A comment: quotes in it mean nothing.
          nameDone = true;
          ReadUntil(u"-->", false, nameDone);
        } else if (CharIsSpace(c)) {
          nameDone = true;
          ReadUntil(u">", true, nameDone);
        } else {
          AppendName(c);
          ReadUntil(u">", true, nameDone);
        }
      } else if (c == u'[') {
        bool cdata = true;
        for (const char16_t expected : std::u16string_view(kCDataKeyword)) {
          if (Next() != expected) {
            cdata = false;
            break;
          }
        }
        if (cdata) {
          // Only a `>` that completes "]]>" ends the section (the markup so far starts with
          // "<![CDATA[", so the three units are always inside it).
          while (Next() != u'>' || m_s[m_p - 2] != u']' || m_s[m_p - 3] != u']') {
          }
          m_name = kCDataName;
        } else {
          ReadUntil(u">", true, nameDone);
        }
      } else {
        ReadUntil(u">", true, nameDone);
      }
    }
  }
  m_record.tagType = TagType::Single;
  AddMarker();
}

// As COrvelSgmlParser::ReadUntil: reads until the last units read since the start or the last
// quoted stretch equal `terminator`, building the name until the first white space.
template <bool kKeepAttributes>
void CScanner<kKeepAttributes>::ReadUntil(std::u16string_view terminator, bool quotes,
                                          bool& nameDone) {
  char16_t window[3] = {};
  std::size_t filled = 0;
  const std::size_t length = terminator.size();
  for (;;) {
    const char16_t c = Next();
    if (!nameDone) {
      if (CharIsSpace(c)) {
        nameDone = true;
      } else {
        AppendName(c);
      }
    }
    if (quotes && (c == u'"' || c == u'\'')) {
      ReadUntil(std::u16string_view(&c, 1), false, nameDone);
      filled = 0;
      continue;
    }
    if (filled < length) {
      window[filled++] = c;
    } else {
      std::copy(window + 1, window + length, window);
      window[length - 1] = c;
    }
    if (filled == length && std::u16string_view(window, length) == terminator) break;
  }
  if (!nameDone && m_name.ends_with(terminator)) m_name.resize(m_name.size() - length);
}

}  // namespace

void ScanElements(CElementTable& table, bool pairTags) {
  // Guard: size overflow
  if (table.Source().Size() >= std::numeric_limits<std::uint32_t>::max()) {
    ThrowHResult(kEOutOfMemory);
  }
  if (!pairTags) {
    CScanner<false>(table.Source(), nullptr).Run(table, nullptr);
    return;
  }
  CFirstPairing pairing(table);
  CScanner<false>(table.Source(), nullptr).Run(table, &pairing);
  table.Unpaired() = false;
}

void CElementTable::ReadAttributes(const CElementRecord& record,
                                   std::vector<CAttributeSpan>& out) const {
  out.clear();
  if (!record.IsTag() || (record.bits & CElementRecord::kRecordEdited) != 0) return;
  CScanner<true>(m_source, &out).ReadOne(record.textStart);
}

namespace {

// The records as the pairing walk sees them: no gaps, names by id.
class CRecordAccess {
 public:
  // Scanning guarantees fewer than 2^32 - 1 units, hence records.
  using Position = std::uint32_t;
  explicit CRecordAccess(CElementTable& table)
      : m_table(table), m_records(table.Records()), m_openByName(table.Names().Size()) {}
  std::size_t Size() const { return m_records.size(); }
  bool Present(std::size_t) const { return true; }
  std::optional<TagType> Type(std::size_t i) const { return TagType{m_records[i].tagType}; }
  void SetType(std::size_t i, TagType type) { m_records[i].tagType = type; }
  int PairId(std::size_t i) const { return m_records[i].pairId; }
  void SetPairId(std::size_t i, int id) { m_records[i].pairId = static_cast<std::uint16_t>(id); }
  std::vector<Position>& OpenStack(std::size_t i) { return m_openByName[m_records[i].nameId]; }
  std::uint16_t NextPairId() { return detail::NextPairId(m_table.PairIdCounter()); }
  void CheckStop() const { m_table.CheckStop(); }

 private:
  CElementTable& m_table;
  CRecordVector& m_records;
  std::vector<std::vector<Position>> m_openByName;
};

// Pairing of records that hold no paired tags yet, in one walk. The two walks of PairTags hand
// out ids in reading order to every start tag and to every end tag left without a start; a
// matched end tag takes its start tag's id. Here the start tag takes its id when it is met and
// its end tag copies it when the end is met: the same ids in the same order.
void PairUnpairedRecords(CElementTable& table) {
  CFirstPairing pairing(table);
  const auto count = static_cast<std::uint32_t>(table.Records().size());
  for (std::uint32_t i = 0; i < count; ++i) {
    table.CheckStop();
    pairing.Visit(i);
  }
}

}  // namespace

void PairRecords(CElementTable& table) {
  if (table.Unpaired()) {
    PairUnpairedRecords(table);
    table.Unpaired() = false;
    return;
  }
  CRecordAccess access(table);
  detail::PairTags(access, table.Workspace());
}

}  // namespace tagvert
