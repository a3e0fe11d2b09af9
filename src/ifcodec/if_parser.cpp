// Tagvert: the reader and writer of the kernel's internal format, IF (CIFParser).
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/if_parser.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <utility>

#include "storage/hresult.h"
#include "storage/input_scan.h"
#include "storage/unit_scan.h"

namespace tagvert {

namespace {

// The codes a tag writes before and after its text, one entry per kind.
using CTagCodes = CIfTagCodes;

constexpr std::size_t kTagKindBits = 7;

// The index of a record's kind in the table of tag codes; the inline flag is taken as it is.
inline std::size_t TagKind(const CElementRecord& record) {
  static_assert(static_cast<unsigned>(TagType::PairedClose) < 8 &&
                static_cast<unsigned>(Algorithm::Reserve) < 8 &&
                CElementRecord::kRecordInline == 1);
  return static_cast<std::size_t>(record.tagType) |
         static_cast<std::size_t>(record.algorithm) << 3 |
         static_cast<std::size_t>(record.bits & CElementRecord::kRecordInline) << 6;
}

constexpr CTagCodes TagCodesOfKind(std::size_t kind) {
  const auto tagType = static_cast<TagType>(kind & 7);
  const auto algorithm = static_cast<Algorithm>((kind >> 3) & 7);
  const bool block = (kind >> 6) == 0;
  CTagCodes codes;
  std::size_t n = 0;
  if (block) codes.before[n++] = kIfBlock;
  if (algorithm == Algorithm::Remove) {
    codes.removed = true;
    codes.beforeCount = static_cast<std::uint8_t>(n);
    return codes;
  }
  const bool reserve = algorithm == Algorithm::Reserve;
  // A record has no semantic (written as 0), is not transliterated, and has neither a
  // TransMethod nor property codes.
  if (reserve && tagType == TagType::PairedClose) {
    for (const char16_t c : {kIfEndTag, kIfReserveGroup, char16_t{0}, char16_t{0}, kIfBoundary})
      codes.before[n++] = c;
  }
  if (tagType == TagType::PairedClose || tagType == TagType::Close) codes.before[n++] = kIfEndTag;
  codes.before[n++] = kIfTagGroup;
  codes.before[n++] = 0;
  codes.beforeCount = static_cast<std::uint8_t>(n);
  codes.idMask = tagType == TagType::Single ? 0 : 0xFFFF;
  // After a reserved start tag the reserve group's codes follow its boundary.
  codes.afterCount = reserve && tagType == TagType::PairedOpen ? 5 : 1;
  return codes;
}

struct CTagCodesTable {
  CTagCodes kinds[std::size_t{1} << kTagKindBits];
  constexpr CTagCodesTable() {
    for (std::size_t kind = 0; kind < std::size(kinds); ++kind)
      kinds[kind] = TagCodesOfKind(kind);
  }
};
constexpr CTagCodesTable kTagCodes;

// The units UnitsCopyWithoutIfCode may write past the units it copies.
constexpr std::size_t kCopyExcess = 7;

// Room in the output buffer (CDataStorage::Utf16Room) taken for many records at once and handed
// over when another write comes or the records end: one look at the storage's state per batch
// instead of one per record. What the records write into it is what PutUnits of the same units
// would write, in the same order.
class COutputRoom {
 public:
  explicit COutputRoom(CDataStorage& storage) : m_storage(storage) {}
  COutputRoom(const COutputRoom&) = delete;
  COutputRoom& operator=(const COutputRoom&) = delete;

  // Room for `n` units after those written so far, or null where the buffer has none.
  char16_t* Take(std::size_t n) {
    if (n <= m_left) return m_at;
    Flush();
    // A batch where the buffer holds one, else room for these units alone, as near the end of
    // the buffer.
    std::size_t size = std::max(n, kBatch);
    char16_t* at = m_storage.Utf16Room(size);
    if (at == nullptr && size != n) {
      size = n;
      at = m_storage.Utf16Room(size);
    }
    if (at == nullptr) return nullptr;
    m_start = m_at = at;
    m_left = size;
    return at;
  }
  // Counts `n` units of the last Take as written.
  void Commit(std::size_t n) {
    m_at += n;
    m_left -= n;
  }
  // Hands the units written over to the storage; a write of another kind may follow.
  void Flush() {
    if (m_at != m_start) m_storage.CommitUtf16Room(static_cast<std::size_t>(m_at - m_start));
    m_start = m_at;
    m_left = 0;
  }

 private:
  static constexpr std::size_t kBatch = 4096;
  CDataStorage& m_storage;
  char16_t* m_start = nullptr;
  char16_t* m_at = nullptr;
  std::size_t m_left = 0;
};

// The room WriteNbspTextInto may use for a text of `size` units: a U+00A0 takes the four units
// of its tag, and a piece's copy writes up to kCopyExcess units past it.
constexpr std::size_t NbspTextRoom(std::size_t size) {
  return std::size(kIfNbspTag) * size + kCopyExcess;
}

constexpr std::size_t kNoRoomUsed = static_cast<std::size_t>(-1);

// Writes what CIFParser::WriteNbspText writes for the `size` units at `text` (readable up to
// `limit`) into `out` (NbspTextRoom(size) units) and returns how many units that is; kNoRoomUsed
// where the text holds a unit of the code range, which only WriteNbspText spells out.
std::size_t WriteNbspTextInto(const char16_t* text, std::size_t size, const char16_t* limit,
                              char16_t* const out) {
  const char16_t* const end = text + size;
  char16_t* at = out;
  for (const char16_t* piece = text;;) {
    const char16_t* const nbsp = FindUnit(piece, end, 0x00A0);
    const auto length = static_cast<std::size_t>(nbsp - piece);
    if (!UnitsCopyWithoutIfCode(piece, length, limit, at)) return kNoRoomUsed;
    at += length;
    if (nbsp == end) return static_cast<std::size_t>(at - out);
    std::memcpy(at, kIfNbspTag, sizeof(kIfNbspTag));
    at += std::size(kIfNbspTag);
    piece = nbsp + 1;
  }
}

}  // namespace

std::u16string IfCodeReference(char16_t unit) {
  constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
  std::u16string reference = u"&#x";
  for (int shift = 12; shift >= 0; shift -= 4)
    reference.push_back(kHexDigits[(unit >> shift) & 0xF]);
  reference.push_back(u';');
  return reference;
}

const CIfTagCodes& IfTagCodes(const CElementRecord& record) {
  return kTagCodes.kinds[TagKind(record)];
}

CIFParser::CIFParser(CDataStorage* storage, IfParserMode mode) : COrvelParser(storage) {
  if (m_storage == nullptr) ThrowHResult(kEPointer);
  if (HasMode(mode, IfParserMode::Read)) m_storage->SetInputMode(EncodingMode::Utf16);
  if (HasMode(mode, IfParserMode::Write)) m_storage->SetOutputMode(EncodingMode::Utf16);
}

void CIFParser::WriteText(std::u16string_view text) {
  // The runs between code-range units are written in bulk.
  for (;;) {
    const std::size_t at = FindIfCode(text);
    m_storage->PutUnits(text.data(), at);
    if (at == text.size()) return;
    // The kernel sees an ordinary inline code, and the way back writes the reference, which
    // XML readers read as the same character.
    m_storage->PutChar(kIfTagGroup);
    m_storage->PutChar(0);
    m_storage->PutString(IfCodeReference(text[at]));
    m_storage->PutChar(kIfBoundary);
    text.remove_prefix(at + 1);
  }
}

void CIFParser::WriteSourceText(std::u16string_view source) {
  // The runs between code-range units are written in bulk.
  for (;;) {
    const std::size_t at = FindIfCode(source);
    m_storage->PutUnits(source.data(), at);
    if (at == source.size()) return;
    m_storage->PutString(IfCodeReference(source[at]));
    source.remove_prefix(at + 1);
  }
}

void CIFParser::WriteNbspText(std::u16string_view text) {
  const char16_t* const end = text.data() + text.size();
  const char16_t* runStart = text.data();
  for (const char16_t* nbsp = FindUnit(runStart, end, 0x00A0); nbsp != end;
       nbsp = FindUnit(runStart, end, 0x00A0)) {
    WriteText({runStart, static_cast<std::size_t>(nbsp - runStart)});
    m_storage->PutUnits(kIfNbspTag, std::size(kIfNbspTag));
    runStart = nbsp + 1;
  }
  WriteText({runStart, static_cast<std::size_t>(end - runStart)});
}

void CIFParser::WriteTable(const CElementTable& table) {
  // The buffers' units are read through pointers held here for the whole walk: the writes into
  // the output would otherwise have the buffers' state loaded again for every record.
  const CUnitBuffer& editedTexts = table.Edited();
  const CUnitSpan<char16_t> edited{editedTexts.Data(), editedTexts.Data() + editedTexts.Size()};
  const CUnitBuffer& source = table.Source();
  VisitRecordWidth(table, [&](auto mayBeWide) {
    constexpr bool kMayBeWide = decltype(mayBeWide)::value;
    if (source.Narrow()) {
      WriteRecords<std::uint8_t, kMayBeWide>(
          table, CUnitSpan<std::uint8_t>{source.Bytes(), source.Bytes() + source.Size()}, edited);
    } else {
      WriteRecords<char16_t, kMayBeWide>(
          table, CUnitSpan<char16_t>{source.Data(), source.Data() + source.Size()}, edited);
    }
  });
}

template <class Unit, bool kMayBeWide>
void CIFParser::WriteRecords(const CElementTable& table, CUnitSpan<Unit> source,
                             CUnitSpan<char16_t> edited) {
  // Calls `f` with the units of the text of `record`, their count and how far they may be read,
  // as VisitTextInBuffer does. In a wide source one call takes either buffer's units.
  const auto visitText = [&](const CElementRecord& record, const auto& f)
      __attribute__((always_inline)) {
    const bool inEdited = (record.bits & CElementRecord::kRecordEdited) != 0;
    const std::size_t length = table.Length<kMayBeWide>(record);
    if constexpr (std::is_same_v<Unit, char16_t>) {
      const CUnitSpan<char16_t> buffer = inEdited ? edited : source;
      return f(buffer.units + record.textStart, length, buffer.end);
    } else {
      if (inEdited) return f(edited.units + record.textStart, length, edited.end);
      return f(source.units + record.textStart, length, source.end);
    }
  };
  // The codes before and after a tag's text are gathered here and written with it; PutUnits
  // writes each unit as PutChar would, stop check included.
  char16_t codes[CTagCodes::kBeforeRoom] = {};
  // Nearly every record goes straight into the output buffer's room, taken for many at once.
  // Before any other write the room's units are handed over, so that the output keeps its order.
  COutputRoom room(*m_storage);
  // A wide source that its decoder found free of the code range (CUnitBuffer::FreeOfIfCodes)
  // has its texts copied as they are; the edited texts, and a source that may hold a code, are
  // checked as they are copied, and a text that holds one goes to the bulk path, which turns
  // the code into a reference.
  [[maybe_unused]] const bool sourceFreeOfCodes = table.Source().FreeOfIfCodes();
  [[maybe_unused]] const auto copyWide = [&](const CElementRecord& record, const char16_t* units,
                                             std::size_t size, const char16_t* limit,
                                             char16_t* out) {
    if (sourceFreeOfCodes && (record.bits & CElementRecord::kRecordEdited) == 0) {
      UnitsCopyPast(units, size, limit, out);
      return true;
    }
    return UnitsCopyWithoutIfCode(units, size, limit, out);
  };
  // A text in a narrow source holds no unit of the code range (all are below U+0100): it is
  // widened straight into the output. A wide text without one (nearly every one) is copied
  // there.
  const auto writeText = [&](const CElementRecord& record) __attribute__((always_inline)) {
    visitText(record, [&](const auto* units, std::size_t size, const auto* limit) {
      if constexpr (std::is_same_v<decltype(units), const char16_t*>) {
        if (!record.IsTag()) {
          char16_t* const out = room.Take(size + kCopyExcess);
          if (out != nullptr && copyWide(record, units, size, limit, out)) {
            room.Commit(size);
            return;
          }
        }
        room.Flush();
        record.IsTag() ? WriteSourceText({units, size}) : WriteText({units, size});
      } else {
        if (char16_t* const out = room.Take(size + kWidenPastExcess)) {
          WidenBytesPast(units, size, limit, out);
          room.Commit(size);
          return;
        }
        room.Flush();
        m_storage->PutNarrowUnits(units, size, limit);
      }
    });
  };
  for (const CElementRecord& record : table.Records()) {
    if (!record.IsTag()) {
      // A text emptied by its whitespace mode (about a tenth of the records) writes nothing.
      if (table.Length<kMayBeWide>(record) == 0) continue;
      if ((record.bits & CElementRecord::kRecordNbsp) == 0) {
        writeText(record);
        continue;
      }
      const bool whole =
          visitText(record, [&](const auto* units, std::size_t size, const auto* limit) {
            if constexpr (std::is_same_v<decltype(units), const char16_t*>) {
              char16_t* const out = room.Take(NbspTextRoom(size));
              if (out == nullptr) return false;
              const std::size_t written = WriteNbspTextInto(units, size, limit, out);
              if (written == kNoRoomUsed) return false;
              room.Commit(written);
              return true;
            } else {
              return false;
            }
          });
      if (whole) continue;
      room.Flush();
      WriteNbspText(table.Text(record));
      continue;
    }
    const CTagCodes& kind = kTagCodes.kinds[TagKind(record)];
    const std::size_t n = kind.beforeCount;
    if (kind.removed) {
      room.Flush();
      m_storage->PutUnits(kind.before, n);
      continue;
    }
    const auto pairId = static_cast<char16_t>(record.pairId & kind.idMask);
    const std::size_t m = kind.afterCount;
    // Nearly always the output buffer has room for the codes, the text and the codes after it:
    // they go there in one piece instead of three bulk writes, a narrow text widened on the way.
    // A wide text that holds a unit of the code range is written by the bulk path, which turns
    // such a unit into a reference.
    const bool whole = visitText(
        record, [&](const auto* units, std::size_t size, [[maybe_unused]] const auto* limit) {
          constexpr bool kWide = std::is_same_v<decltype(units), const char16_t*>;
          // The code arrays are copied whole, a fixed size being a few moves where a copy of their
          // length is a call. What they leave beyond the units counted is room not handed over:
          // only units written there later are ever written out. The same room beyond the text
          // takes the excess of a narrow text's last step.
          static_assert(std::size(kIfCodesAfterTag) + CTagCodes::kBeforeRoom >= kWidenPastExcess);
          char16_t* const out =
              room.Take(n + size + std::size(kIfCodesAfterTag) + CTagCodes::kBeforeRoom);
          if (out == nullptr) return false;
          std::memcpy(out, kind.before, sizeof(CTagCodes::before));
          out[n - 1] = pairId;
          if constexpr (kWide) {
            if (!copyWide(record, units, size, limit, out + n)) return false;
          } else {
            WidenBytesPast(units, size, limit, out + n);
          }
          std::memcpy(out + n + size, kIfCodesAfterTag, sizeof(kIfCodesAfterTag));
          room.Commit(n + size + m);
          return true;
        });
    if (whole) continue;
    room.Flush();
    std::memcpy(codes, kind.before, sizeof(codes));
    codes[n - 1] = pairId;
    m_storage->PutUnits(codes, n);
    writeText(record);
    room.Flush();
    m_storage->PutUnits(kIfCodesAfterTag, m);
  }
  room.Flush();
}

bool CIFParser::EndOfInput(IElementX* element) {
  const bool group = m_tokens.InGroup();
  m_tokens.Finish([&](const CIfToken& token) { Observe(token, m_unit); });
  m_groupCode = 0;
  if (group) element->SetIsTag(true);
  return group;
}

bool CIFParser::TakeRunInPlace(IfTokenKind kind) {
  const std::u16string_view buffered = m_storage->BufferedUtf16Units();
  const std::size_t n = FindIfCode(buffered);
  if (n == 0 || n == buffered.size()) return false;
  m_inPlace = buffered.substr(0, n);
  m_storage->SkipBufferedUtf16Units(n);
  if (m_observer != nullptr) {
    CIfToken token;
    token.kind = kind;
    token.units = m_inPlace;
    Observe(token, m_unit);
  }
  m_unit += n;
  return true;
}

void CIFParser::ReadGroupData(IElementX* element) {
  if (m_runsInPlace && m_groupCode == kIfTagGroup && element->GetSourceTextRef().empty() &&
      TakeRunInPlace(IfTokenKind::GroupData)) {
    return;
  }
  std::u16string* into = m_groupCode == kIfTagGroup ? &element->GetSourceTextRef()
                         : m_observer != nullptr    ? &m_passedOver
                                                    : nullptr;
  if (m_observer == nullptr) {
    m_storage->ReadRunBeforeCode(into);
    return;
  }
  if (into == &m_passedOver) m_passedOver.clear();
  const std::size_t from = into->size();
  m_storage->ReadRunBeforeCode(into);
  CIfToken token;
  token.kind = IfTokenKind::GroupData;
  token.units = std::u16string_view(*into).substr(from);
  if (token.units.empty()) return;
  Observe(token, m_unit);
  m_unit += token.units.size();
}

bool CIFParser::ReadElement(IElementX* element) {
  // The input may end before an element begins, after flags or after skipped text: then there
  // is no element.
  bool mayEnd = true;
  m_inPlace = {};
  // A text run in place is looked for where an element begins (after flags a tag group
  // follows, as a rule).
  bool first = m_runsInPlace;
  for (;;) {
    if (mayEnd && m_storage->IsEOF()) return EndOfInput(element);
    mayEnd = false;
    if (std::exchange(first, false) && m_tokens.RunKind() == IfTokenKind::Text &&
        element->GetSourceTextRef().empty() && TakeRunInPlace(IfTokenKind::Text)) {
      element->SetIsTag(false);
      return true;
    }
    char16_t c = 0;
    if (!m_storage->TakeUtf16Char(c)) return EndOfInput(element);
    const std::uint64_t at = m_unit++;
    const IfTokenKind run = m_tokens.RunKind();
    if (run != IfTokenKind::GroupStart && !IsIfCode(c)) {
      // A run: text, a tag's source text or a group's content, read in bulk up to the next
      // code (pushed back). The token reader's state does not change over a run.
      const bool keep = run == IfTokenKind::Text || m_groupCode == kIfTagGroup;
      std::u16string* into = keep                    ? &element->GetSourceTextRef()
                             : m_observer != nullptr ? &m_passedOver
                                                     : nullptr;
      if (into == &m_passedOver) m_passedOver.clear();
      const std::size_t from = into != nullptr ? into->size() : 0;
      if (into != nullptr) into->push_back(c);
      m_storage->ReadRunBeforeCode(into);
      if (m_observer != nullptr) {
        CIfToken token;
        token.kind = run;
        token.units = std::u16string_view(*into).substr(from);
        m_unit += token.units.size() - 1;
        Observe(token, at);
      }
      if (run != IfTokenKind::Text) {
        mayEnd = IsIfSkippedCode(m_groupCode);
        continue;
      }
      element->SetIsTag(false);
      return true;
    }
    std::u16string_view unit(&c, 1);
    for (const CIfToken* next = m_tokens.Next(unit); next != nullptr;
         next = unit.empty() ? nullptr : m_tokens.Next(unit)) {
      // Only the code that ended skipped text is left over for a second token.
      const CIfToken& token = *next;
      Observe(token, token.kind == IfTokenKind::GroupStart ? at - token.dataCount : at);
      switch (token.kind) {
        case IfTokenKind::Flag:
          if (c == kIfEndTag) element->SetTagType(TagType::PairedClose);
          if (c == kIfBlock) element->SetRuleType(RuleType::Block);
          if (c == kIfFlagged) element->SetFlagged(true);
          mayEnd = true;
          break;
        case IfTokenKind::Boundary:
          // A boundary here yields an empty tag carrying the flags read before it.
          if (c == kIfFlaggedBoundary) element->SetFlagged(true);
          element->SetIsTag(true);
          return true;
        case IfTokenKind::GroupStart:
          m_groupCode = token.code;
          // The pair-id unit is taken as it is, even when it lies in the code range.
          if (token.code == kIfTagGroup) {
            element->SetPairId(static_cast<int>(token.data[0]));
            if (element->GetPairId() == 0) element->SetTagType(TagType::Single);
          }
          ReadGroupData(element);
          mayEnd = IsIfSkippedCode(token.code);
          break;
        case IfTokenKind::GroupEnd:
          // After skipped text the same element goes on with the code that ended it.
          if (IsIfSkippedCode(std::exchange(m_groupCode, char16_t{0}))) break;
          // A code that ends a group without belonging to it is read again for the next
          // element; a flagged boundary flags both.
          if (!unit.empty()) {
            if (c == kIfFlaggedBoundary) element->SetFlagged(true);
            m_storage->UngetChar();
            --m_unit;
          }
          element->SetIsTag(true);
          return true;
        case IfTokenKind::Text:
        case IfTokenKind::GroupData:
          break;
      }
    }
  }
}

}  // namespace tagvert
