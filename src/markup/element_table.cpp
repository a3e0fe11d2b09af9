// Tagvert: a document's elements as compact records over its decoded text, and the tag reader
// that cuts the decoded text into them.
// SPDX-License-Identifier: Apache-2.0
#include "markup/element_table.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>

#include "markup/element.h"
#include "markup/pairing.h"
#include "markup/tag_grammar.h"
#include "storage/char_class.h"
#include "storage/input_scan.h"
#include "storage/unit_scan.h"

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
  if (m_edited.Size() + text.size() > std::numeric_limits<std::uint32_t>::max()) {
    ThrowHResult(kEOutOfMemory);
  }
  record.textStart = static_cast<std::uint32_t>(m_edited.Size());
  SetLength(record, static_cast<std::uint32_t>(text.size()));
  record.SetBits(CElementRecord::kRecordEdited);
  // The replaced texts of a long document take a few percent of its source: room for a
  // sixteenth of it is taken at once, so that it never grows by doubling. Most documents write
  // a small part of that room (a translated document of 50 MB in Latin script about 2.4 MB of
  // 6.5, one in Greek and Cyrillic about 0.1 MB): it takes small pages, of which only those
  // written take memory, where large ones made up to a large page more resident than written.
  if (m_edited.Capacity() == 0) {
    m_edited.Reserve(std::max(m_source.Size() / 16, text.size()));
    m_edited.AdviseSmallPages();
  }
  std::copy(text.begin(), text.end(), m_edited.Extend(text.size()));
  m_edited.Commit(text.size());
}

namespace {

// Writes the low bytes of the `n` units at `in` to `out`; false when some unit does not fit in a
// byte (the bytes are written all the same). Eight units a step, the last part as a step that
// overlaps the one before, and a text of four to seven units as two such steps of four: the
// texts replaced are mostly a few units long, where a loop's start and end cost more than
// its steps.
bool NarrowUnits(const char16_t* in, std::size_t n, std::uint8_t* out) {
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  if (n >= 4) {
    __m128i all = _mm_setzero_si128();
    if (n >= 8) {
      const auto step = [&](std::size_t at) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at));
        all = _mm_or_si128(all, units);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + at), _mm_packus_epi16(units, units));
      };
      for (std::size_t at = 0; n - at > 8; at += 8)
        step(at);
      step(n - 8);
    } else {
      const auto step = [&](std::size_t at) {
        const __m128i units = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + at));
        all = _mm_or_si128(all, units);
        const int bytes = _mm_cvtsi128_si32(_mm_packus_epi16(units, units));
        std::memcpy(out + at, &bytes, 4);
      };
      step(0);
      step(n - 4);
    }
    // Every unit's high byte is zero.
    return _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_srli_epi16(all, 8), _mm_setzero_si128())) ==
           0xFFFF;
  }
#endif
  char16_t all = 0;
  for (std::size_t k = 0; k < n; ++k) {
    all |= in[k];
    out[k] = static_cast<std::uint8_t>(in[k]);
  }
  return all < 0x100;
}

// Clears the flag of `source` that says it holds no unit of the IF's code range when `text`,
// about to be put over its units, holds one. Out of line: the replaced texts' path stays as it
// was for a narrow source, which cannot hold such a unit.
[[gnu::noinline]] void NoteIfCodes(CUnitBuffer& source, std::u16string_view text) {
  if (UnitsFindIfCode(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) !=
      text.size()) {
    source.NoteIfCodeUnits();
  }
}

}  // namespace

void CElementTable::ReplaceText(CElementRecord& record, std::u16string_view text) {
  // A text cut at its no-break spaces is written out quickly from wide units only: in a narrow
  // source it goes to the edited buffer, as a text that does not fit does.
  if ((record.bits & CElementRecord::kRecordEdited) != 0 || text.size() > Length(record) ||
      (m_source.Narrow() && (record.bits & CElementRecord::kRecordNbsp) != 0)) {
    SetText(record, text);
    return;
  }
  // The source's memory is the table's own; only its views are read-only.
  if (m_source.Narrow()) {
    // Checked on the way: a text that does not fit leaves the record's units, which no one
    // reads again, written in part.
    if (!NarrowUnits(text.data(), text.size(),
                     const_cast<std::uint8_t*>(m_source.Bytes()) + record.textStart)) {
      SetText(record, text);
      return;
    }
  } else if (!text.empty()) {
    // A reference may have given a unit of the IF's code range, which the source's decoder did
    // not see: the IF writer must look for codes in the source's texts again.
    if (m_source.FreeOfIfCodes()) NoteIfCodes(m_source, text);
    // `text` may be a view of the source itself.
    std::memmove(const_cast<char16_t*>(m_source.Data()) + record.textStart, text.data(),
                 text.size() * sizeof(char16_t));
  }
  // No longer than the record's text: a record that is not wide keeps the length in its field.
  if (record.wide == 0) {
    record.length16 = static_cast<std::uint16_t>(text.size());
  } else {
    SetLength(record, static_cast<std::uint32_t>(text.size()));
  }
}

void CElementTable::SetWide(CElementRecord& record, std::uint32_t length, std::uint32_t nameId) {
  // Guard: size overflow (an index takes the two 16-bit fields)
  if (m_wideFields.size() > std::numeric_limits<std::uint32_t>::max()) {
    ThrowHResult(kEOutOfMemory);
  }
  const auto index = static_cast<std::uint32_t>(m_wideFields.size());
  m_wideFields.push_back({length, nameId});
  record.length16 = static_cast<std::uint16_t>(index);
  record.name16 = static_cast<std::uint16_t>(index >> 16);
  record.wide = 1;
}

std::uint32_t CElementTable::WideLength(const CElementRecord& record) const {
  return m_wideFields[record.WideIndex()].length;
}

std::uint32_t CElementTable::WideNameId(const CElementRecord& record) const {
  return m_wideFields[record.WideIndex()].nameId;
}

std::u16string_view CElementTable::AttributeName(const CAttributeSpan& span) const {
  if (span.nameStart == kMarkerNameStart) return kBrokenTagMarker;
  return {AttributeUnits() + span.nameStart, span.nameLength};
}

bool CElementTable::FindAttribute(const CElementRecord& record, std::u16string_view name,
                                  std::u16string_view& value) const {
  const CAttributeQuery query{name, true};
  return FindAttributes(record, {&query, 1}, &value) != 0;
}

namespace {

constexpr std::size_t kNoPosition = std::numeric_limits<std::size_t>::max();

class CFirstPairing;

// The ASCII units that end a tag's name: `>`, `/`, `<` and white space.
const std::array<bool, 128> kNameRunEnds = [] {
  std::array<bool, 128> ends{};
  for (char16_t c = 0; c < 128; ++c)
    ends[c] = c == u'>' || c == u'/' || c == u'<' || CharIsSpace(c);
  return ends;
}();

// The ASCII name units as a table over every byte, so that a unit of a narrow source is looked
// up without a range test first.
const std::array<bool, 256> kNarrowNameUnits = [] {
  std::array<bool, 256> units{};
  for (char16_t c = 0; c < 128; ++c)
    units[c] = CharIsNameChar(c);
  return units;
}();

// The white space a plain tag may hold (space, tab to carriage return) as a table over every byte.
const std::array<bool, 256> kNarrowSpaces = [] {
  std::array<bool, 256> spaces{};
  for (const char16_t c : {u' ', u'\t', u'\n', u'\v', u'\f', u'\r'})
    spaces[c] = true;
  return spaces;
}();

// The ASCII name units as a table over every UTF-16 unit, so that a unit of a wide source is
// looked up without a clamp first. Only the first 128 entries are written: the rest stay in the
// zeroed memory of static storage, whose pages a read of them finds empty, never written.
struct CWideNameUnits {
  CWideNameUnits() {
    for (char16_t c = 0; c < 128; ++c)
      units[c] = CharIsNameChar(c);
  }
  bool units[0x10000];
};
const CWideNameUnits kWideNameUnits;

// The plain tags the cut has read, by their text. A document repeats a few dozen tags (`</ut>`,
// `<Tuv Lang="EN-US">`, the placeholders of each name) hundreds of thousands of times, and what
// the plain reader gives for a tag (its type, its name, its end) follows from its units from `<`
// to the `>` that ends it, beyond which it reads nothing. A tag whose units equal those of a
// tag read before is then a search for its `>`, a hash of its length and of its first and last
// eight bytes, and a comparison of the words between: no walk over its names and values, no
// look-up of its name. The key is the markup up to its first `>`: a tag with a `>` in a value,
// which ends later, is never remembered and is read each time.
template <class Unit>
class CPlainTagMemo {
 public:
  // A tag longer than this is read each time.
  static constexpr std::size_t kMaxBytes = 192;

  struct CKey {
    std::size_t bytes = 0;  // 0: no key (no `>` within reach)
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    // The two slots the key may take, as two fields rather than an array, which a loop over it
    // would keep in memory: the key stays in registers.
    std::size_t place = 0;
    std::size_t otherPlace = 0;
  };
  struct CTag {
    std::uint32_t units = 0;  // from `<` to `>`; 0: a free slot
    std::uint32_t nameId = 0;
    TagType type = TagType::Open;
  };

  CPlainTagMemo() : m_slots(std::make_unique<CSlot[]>(kSlots)) {}

  // The key of the markup whose `<` is at `start`, in a source that ends at `end`.
  [[gnu::always_inline]] static CKey KeyOf(const Unit* start, const Unit* end) {
    CKey key;
    const std::size_t available =
        std::min(kMaxBytes, static_cast<std::size_t>(end - start) * sizeof(Unit));
    if (available < 8) return key;
    const char* const bytes = reinterpret_cast<const char*>(start);
    // The first eight bytes are read as one word, past a short tag.
    std::memcpy(&key.first, bytes, 8);
    if (const std::uint64_t closes = ClosesIn(key.first); closes != 0) {
      key.bytes = static_cast<std::size_t>(std::countr_zero(closes)) / 8 + 1;
      // The bits up to the lowest one set: the bytes up to the `>`.
      key.first &= closes ^ (closes - 1);
    } else {
      const std::size_t close = CloseAfter(bytes, available);
      if (close == available) return key;
      key.bytes = close + sizeof(Unit);
      std::memcpy(&key.last, bytes + key.bytes - 8, 8);
    }
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
    const std::uint64_t hash = (key.first ^ std::rotl(key.last, 29) ^ key.bytes) * kMultiplier;
    key.place = static_cast<std::size_t>(hash >> (64 - kSlotBits));
    key.otherPlace = static_cast<std::size_t>(hash >> (56 - kSlotBits)) % kSlots;
    return key;
  }

  // The tag remembered for the markup at `start` with key `key`, or null.
  [[gnu::always_inline]] const CTag* Find(const CKey& key, const Unit* start) {
    if (key.bytes == 0) return nullptr;
    // The two places one after the other, rather than a loop over them, which kept them in
    // memory.
    if (Holds(m_slots[key.place], key, start)) return Answered(key.place);
    if (Holds(m_slots[key.otherPlace], key, start)) return Answered(key.otherPlace);
    return nullptr;
  }

  // The tag remembered for the markup at `start`, in a source that ends at `end`, when it is
  // the one that followed the last two tags the memo gave the last time they came in that
  // order; else null. A document's tags come in a few sequences (a unit's start tag, its
  // language's, a placeholder's start and end), so that three tags in four are taken so: a
  // comparison of the text with the expected one's, without the search for the `>`, the hash
  // and the look-up. The text equals a remembered one up to its `>`, which is then the first
  // `>` of the markup as well: the tag is the one Find would give. Not within the last
  // kMaxBytes bytes of the source, so that the text is read without a test of its end.
  [[gnu::always_inline]] const CTag* FindExpected(const Unit* start, const Unit* end) {
    if (static_cast<std::size_t>(end - start) < kMaxBytes / sizeof(Unit)) return nullptr;
    const std::size_t place = m_successors[m_context];
    const CSlot& slot = m_slots[place];
    const char* const bytes = reinterpret_cast<const char*>(start);
#if defined(TAGVERT_INPUT_SCAN_SSE2)
    if (!TextEqual(slot, bytes)) return nullptr;
#else
    std::uint64_t first = 0;
    std::memcpy(&first, bytes, 8);
    // A free slot's mask and first word match no markup, whose first unit is a `<`.
    if ((first & slot.firstMask) != slot.first) return nullptr;
    if (slot.bytes > 8) {
      std::uint64_t last = 0;
      std::memcpy(&last, bytes + slot.bytes - 8, 8);
      if (last != slot.last || !MiddleEqual(slot, bytes)) return nullptr;
    }
#endif
    return Answered(place);
  }

  // Remembers `tag`, read at `start` with key `key`, when the key covers it whole. Of its two
  // places it takes a free one, else one whose tag never answered since it was written, so that
  // tags seen only once (dates, ids) push out each other rather than the frequent ones. A tag
  // whose name id takes more than 16 bits is read each time: the cut stores a remembered tag's
  // length (under kMaxBytes) and name id in a record without testing them.
  void Remember(const CKey& key, const Unit* start, const CTag& tag) {
    if (key.bytes == 0 || key.bytes != std::size_t{tag.units} * sizeof(Unit) ||
        tag.nameId > 0xFFFF) {
      return;
    }
    std::size_t place = key.place;
    const CSlot& other = m_slots[key.otherPlace];
    if (m_slots[place].tag.units != 0 &&
        (other.tag.units == 0 || (m_slots[place].hit && !other.hit))) {
      place = key.otherPlace;
    }
    CSlot& slot = m_slots[place];
    slot.bytes = key.bytes;
    slot.first = key.first;
    slot.firstMask = key.bytes >= 8 ? ~std::uint64_t{0} : ~std::uint64_t{0} >> (64 - 8 * key.bytes);
    slot.firstBytes = key.bytes >= 16 ? 0xFFFFu : (1u << key.bytes) - 1;
    slot.last = key.last;
    slot.tag = tag;
    std::memcpy(slot.text, start, key.bytes);
    Answered(place);
    slot.hit = false;
  }

 private:
  static constexpr int kSlotBits = 6;
  static constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;
  // Where the first `>` after the first eight of the `available` bytes at `bytes` lies, in
  // bytes, or `available` when none does in the whole steps. Sixteen bytes a step where the
  // processor allows, written here rather than through FindUnit, whose call the compiler may
  // keep out of the cut's loop: a call costs about as much as the search of a tag.
  [[gnu::always_inline]] static std::size_t CloseAfter(const char* bytes, std::size_t available) {
#if defined(TAGVERT_INPUT_SCAN_SSE2)
    const __m128i close = sizeof(Unit) == 1 ? _mm_set1_epi8('>') : _mm_set1_epi16(u'>');
    std::size_t at = 8;
    if constexpr (sizeof(Unit) == 2) {
      // Wide units sixteen a step, packed into bytes as FindUnit packs them: only a `>` gives
      // the byte 0x3E. The last sixteen bytes, if any, go through the step below.
      const __m128i closeByte = _mm_set1_epi8('>');
      for (; available - at >= 32; at += 32) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at + 16));
        const int found =
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_packs_epi16(first, second), closeByte));
        if (found != 0)
          return at + 2 * static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(found)));
      }
    }
    for (; available - at >= 16; at += 16) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
      const int found = _mm_movemask_epi8(sizeof(Unit) == 1 ? _mm_cmpeq_epi8(units, close)
                                                            : _mm_cmpeq_epi16(units, close));
      if (found != 0)
        return at + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(found)));
    }
#else
    for (std::size_t at = 8; available - at >= 8; at += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, bytes + at, 8);
      if (const std::uint64_t closes = ClosesIn(word); closes != 0) {
        return at +
               static_cast<std::size_t>(std::countr_zero(closes)) / 8 / sizeof(Unit) * sizeof(Unit);
      }
    }
#endif
    return available;
  }
  // The units of `word` equal to `>`, marked by the top bit of each: exact for the lowest
  // (the borrow of the subtraction runs only upwards), perhaps not for those above it.
  static std::uint64_t ClosesIn(std::uint64_t word) {
    constexpr std::uint64_t kOnes =
        ~std::uint64_t{0} / ((std::uint64_t{1} << (8 * sizeof(Unit))) - 1);
    constexpr std::uint64_t kHighs = kOnes << (8 * sizeof(Unit) - 1);
    const std::uint64_t x = word ^ (kOnes * u'>');
    return (x - kOnes) & ~x & kHighs;
  }
  struct CSlot {
    std::size_t bytes = 0;
    std::uint64_t first = 0;
    std::uint64_t firstMask = ~std::uint64_t{0};  // the bits of `first` that the text covers
    std::uint64_t last = 0;
    // The first sixteen bytes that the text covers, a bit each; a free slot's zeroed text
    // under all sixteen matches no markup, whose first unit is a `<`.
    std::uint32_t firstBytes = 0xFFFF;
    CTag tag;
    bool hit = false;
    char text[kMaxBytes];
  };
#if defined(TAGVERT_INPUT_SCAN_SSE2)
  // The bytes of the sixteen at `k` in the slot's text and at `at + k` that differ, a bit each.
  [[gnu::always_inline]] static unsigned Differ16(const CSlot& slot, const char* at,
                                                  std::size_t k) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(slot.text + k));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + k));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b))) ^ 0xFFFFu;
  }
  // Whether the 32 bytes at `k` in the slot's text and at `at + k` differ anywhere.
  [[gnu::always_inline]] static bool Differ32(const CSlot& slot, const char* at, std::size_t k) {
    const auto* const a = reinterpret_cast<const __m128i*>(slot.text + k);
    const auto* const b = reinterpret_cast<const __m128i*>(at + k);
    const __m128i equal =
        _mm_and_si128(_mm_cmpeq_epi8(_mm_loadu_si128(a), _mm_loadu_si128(b)),
                      _mm_cmpeq_epi8(_mm_loadu_si128(a + 1), _mm_loadu_si128(b + 1)));
    return _mm_movemask_epi8(equal) != 0xFFFF;
  }
  // Whether the slot's text equals the bytes at `at`, of which at least kMaxBytes are readable.
  // The first sixteen bytes under the slot's mask decide alone for a text of up to sixteen (a
  // narrow tag of up to sixteen units, a wide one of up to eight). A longer text is compared
  // from its end: the sixteen bytes that end it (32 for a wide text of more than 32), then the
  // ones between sixteen a step (32 a step for a wide text), the steps overlapping where they
  // meet. Which of these orders and widths each source gets is what measured best. The slot's
  // text is kMaxBytes long, so that every load lies within it.
  [[gnu::always_inline]] static bool TextEqual(const CSlot& slot, const char* at) {
    if ((Differ16(slot, at, 0) & slot.firstBytes) != 0) return false;
    if (slot.bytes <= 16) return true;
    if constexpr (sizeof(Unit) == 1) {
      if (Differ16(slot, at, slot.bytes - 16) != 0) return false;
      for (std::size_t k = 16; k + 16 < slot.bytes; k += 16)
        if (Differ16(slot, at, k) != 0) return false;
      return true;
    }
    if (slot.bytes <= 32) return Differ16(slot, at, slot.bytes - 16) == 0;
    if (Differ32(slot, at, slot.bytes - 32)) return false;
    for (std::size_t k = 16; k + 32 < slot.bytes; k += 32)
      if (Differ32(slot, at, k)) return false;
    return true;
  }
#endif
  // Whether `slot` holds the markup at `start` with key `key`.
  [[gnu::always_inline]] static bool Holds(const CSlot& slot, const CKey& key, const Unit* start) {
    return slot.bytes == key.bytes && slot.first == key.first && slot.last == key.last &&
           MiddleEqual(slot, reinterpret_cast<const char*>(start));
  }
  // The tag of the slot at `place`, which answered for the markup after the last two: it is
  // expected after them the next time.
  [[gnu::always_inline]] const CTag* Answered(std::size_t place) {
    CSlot& slot = m_slots[place];
    slot.hit = true;
    m_successors[m_context] = static_cast<std::uint8_t>(place);
    m_context = ((m_context << kSlotBits) | place) & (kContexts - 1);
    return &slot.tag;
  }
  // Whether the bytes between the first and last eight of the slot's text equal those at `at`.
  static bool MiddleEqual(const CSlot& slot, const char* at) {
#if defined(TAGVERT_INPUT_SCAN_SSE2)
    if constexpr (sizeof(Unit) == 2) {
      // Wide texts are twice as long: sixteen bytes a step, the last step overlapping the one
      // before so that it ends where the last eight bytes begin.
      const std::size_t middleEnd = slot.bytes - 8;
      if (slot.bytes >= 32) {
        for (std::size_t k = 8; k + 16 < middleEnd; k += 16)
          if (Differ16(slot, at, k) != 0) return false;
        return Differ16(slot, at, middleEnd - 16) == 0;
      }
    }
#endif
    for (std::size_t k = 8; k + 8 < slot.bytes; k += 8) {
      std::uint64_t a = 0;
      std::uint64_t b = 0;
      std::memcpy(&a, slot.text + k, 8);
      std::memcpy(&b, at + k, 8);
      if (a != b) return false;
    }
    return true;
  }
  std::unique_ptr<CSlot[]> m_slots;
  // The places of the last two tags the memo gave, as one index, and per such pair the place
  // of the tag that followed them last.
  static constexpr std::size_t kContexts = kSlots * kSlots;
  std::size_t m_context = 0;
  std::unique_ptr<std::uint8_t[]> m_successors = std::make_unique<std::uint8_t[]>(kContexts);
};

// The tag reader over the decoded source. Positions index the source; `m_p` is the next unit
// to read, so the unit just read is at m_p - 1. Pushing a unit back is stepping back one.
// Cutting the source into records reads attributes only to find where a tag ends
// (kKeepAttributes false); reading one tag again for its attributes keeps them. `Unit` is
// std::uint8_t over a narrow source (CUnitBuffer), char16_t over a wide one.
template <bool kKeepAttributes, class Unit>
class CScanner : public detail::CTagGrammar<CScanner<kKeepAttributes, Unit>> {
 public:
  CScanner(const Unit* source, std::size_t size, std::vector<CAttributeSpan>* attributes)
      : m_attributes(attributes), m_s(source), m_n(size) {}

  // Cuts the whole source into the table's records, pairing each tag as it is cut out when
  // `pairing` is given.
  void Run(CElementTable& table, CFirstPairing* pairing);
  // Gives the text runs from record `first` on that are longer than 16 bits their length.
  [[gnu::noinline]] void WidenLongTexts(CElementTable& table, std::uint32_t first);
  // Reads the tag that starts at `start` (its `<`) again, for its attributes. The grammar's
  // calls are all inlined here, whatever room the compiler's limits for this file leave: a
  // document whose tags are seldom plain spends a fifth of its work in this reader.
  [[gnu::flatten]] void ReadOne(std::size_t start) {
    m_p = start + 1;
    m_attributes->clear();
    CPlainTag tag;
    if (!ReadPlainTag(m_s + m_p, tag)) this->ReadMarkup();
  }
  // Calls `f(nameStart, nameEnd, valueStart, valueEnd)` for the attributes of the plain tag
  // (one that ReadPlainTag reads) whose `<` is at `start`, in order, until `f` returns true:
  // ReadPlainTag's walk, which gives the same attributes, without keeping them. It stops
  // as well where a tag has another shape.
  template <class F>
  static void ForPlainAttributes(const Unit* s, std::size_t n, std::size_t start, F&& f) {
    const Unit* const end = s + n;
    const Unit* p = s + start + 1;
    if (p != end && *p == u'/') ++p;
    p = SkipNameUnits(p, end);
    if (p == end || !IsAsciiSpace(*p)) return;
    for (;;) {
      while (IsAsciiSpace(*p))
        if (++p == end) return;
      const Unit* const attribute = p;
      p = SkipNameUnits(p, end);
      if (p == attribute || p == end || *p != u'=') return;
      const Unit* const equals = p;
      if (++p == end || (*p != u'"' && *p != u'\'')) return;
      const Unit* const value = p + 1;
      p = FindUnitOf(value, end, static_cast<char16_t>(*p), u'<');
      if (p == end || *p == u'<' || p + 1 == end) return;
      if (f(static_cast<std::size_t>(attribute - s), static_cast<std::size_t>(equals - s),
            static_cast<std::size_t>(value - s), static_cast<std::size_t>(p - s))) {
        return;
      }
      ++p;
    }
  }

 private:
  friend class detail::CTagGrammar<CScanner>;

  // Reads the markup after its `<` (at `p`) when it has the shape of nearly every tag: an
  // optional `/`, a name of ASCII name units, attributes `name="value"` or `name='value'` each
  // after white space or a quote, and `>` or `/>`. That is what the grammar reads too, with the
  // same name, type, attributes and end; here without the grammar's end check and branches
  // per unit: a name is one loop over a table, a value one search for its quote. Any other markup
  // (special markup, a stray `<`, a value without quotes, a unit outside ASCII in a name, white
  // space around `=`, the end of the input) returns false, for the grammar to read it. It leaves
  // m_p and the record as they are. What it read goes into `tag`, which the cut keeps in
  // registers rather than in the reader's members, as it keeps its position.
  struct CPlainTag {
    TagType type = TagType::Open;
    const Unit* name = nullptr;
    const Unit* nameEnd = nullptr;
    const Unit* end = nullptr;  // after the closing `>`
  };
  bool ReadPlainTag(const Unit* p, CPlainTag& tag) {
    const Unit* const end = m_s + m_n;
    TagType type = TagType::Open;
    if (p != end && *p == u'/') {
      type = TagType::Close;
      ++p;
    }
    const Unit* const name = p;
    p = SkipNameUnits(p, end);
    if (p == name || p == end) return false;
    const Unit* const nameEnd = p;
    if (*p == u'/') {
      if (++p == end || *p != u'>') return false;
      type = TagType::Single;
    } else if (*p != u'>') {
      if (!IsAsciiSpace(*p)) return false;
      for (;;) {
        while (IsAsciiSpace(*p))
          if (++p == end) return Abandon();
        if (*p == u'>') break;
        if (*p == u'/') {
          if (++p == end || *p != u'>') return Abandon();
          type = TagType::Single;
          break;
        }
        const Unit* const attribute = p;
        p = SkipNameUnits(p, end);
        if (p == attribute || p == end || *p != u'=') return Abandon();
        const Unit* const equals = p;
        if (++p == end || (*p != u'"' && *p != u'\'')) return Abandon();
        const Unit* const value = p + 1;
        p = FindUnitOf(value, end, static_cast<char16_t>(*p), u'<');
        // The grammar drops an attribute cut off after its closing quote.
        if (p == end || *p == u'<' || p + 1 == end) return Abandon();
        AddAttribute(static_cast<std::size_t>(attribute - m_s),
                     static_cast<std::size_t>(equals - m_s), static_cast<std::size_t>(value - m_s),
                     static_cast<std::size_t>(p - m_s));
        ++p;
      }
    }
    tag.type = type;
    tag.name = name;
    tag.nameEnd = nameEnd;
    tag.end = p + 1;
    return true;
  }
  // The record of the markup at `start` that ReadPlainTag does not read, by the grammar. Out of
  // the cut's loop, which then keeps its own searches inline.
  [[gnu::noinline]] CElementRecord ReadOtherMarkup(CElementRecord record, std::size_t start,
                                                   CElementTable& table, CNameCache& names) {
    m_record = record;
    m_nameStart = m_nameEnd = kNoPosition;
    m_nameBuilt = false;
    this->ReadMarkup();
    record = m_record;
    std::uint32_t nameId = 0;
    if (m_nameBuilt) {
      nameId = table.Names().Intern(m_name);
    } else if (m_nameStart != kNoPosition) {
      nameId = names.Id(m_s + m_nameStart, m_nameEnd - m_nameStart, m_s + m_n, &m_name);
    }
    record.textStart = static_cast<std::uint32_t>(start);
    const auto length = static_cast<std::uint32_t>(m_p - start);
    CElementTable::SetLowBits(record, length, nameId);
    table.SetHighBits(record, length, nameId);
    return record;
  }
  // ReadPlainTag giving up after it took attributes.
  bool Abandon() {
    if constexpr (kKeepAttributes) m_attributes->clear();
    return false;
  }
  // The first unit at or after `p` that is not an ASCII name unit. Names are a few units
  // long: a lookup per unit, whose well-predicted loop the processor runs ahead, beats a
  // classification of sixteen at a time whose result the next step waits for. Eight units a
  // step where eight are left, so that the end is tested once for most names.
  static const Unit* SkipNameUnits(const Unit* p, const Unit* end) {
    while (end - p >= 8) {
      for (int k = 0; k < 8; ++k) {
        if (!IsAsciiNameUnit(p[k])) return p + k;
      }
      p += 8;
    }
    while (p != end && IsAsciiNameUnit(*p))
      ++p;
    return p;
  }
  static bool IsAsciiNameUnit(Unit c) {
    if constexpr (sizeof(Unit) == 1) {
      return kNarrowNameUnits[c];
    } else {
      return kWideNameUnits.units[c];
    }
  }
  static bool IsAsciiSpace(Unit c) {
    if constexpr (sizeof(Unit) == 1) {
      return kNarrowSpaces[c];
    } else {
      return c == u' ' || (c >= u'\t' && c <= u'\r');
    }
  }

  // The unit source.
  char16_t Next() {
    if (m_p == m_n) detail::ThrowEndOfMarkup();
    return static_cast<char16_t>(m_s[m_p++]);
  }
  std::size_t Position() const { return m_p; }
  void Unread() { --m_p; }
  char16_t FindQuoteOrLess(char16_t quote) {
    const Unit* const end = m_s + m_n;
    const Unit* const q = FindUnitOf(m_s + m_p, end, quote, u'<');
    m_p = static_cast<std::size_t>(q - m_s);
    if (q == end) detail::ThrowEndOfMarkup();
    ++m_p;
    return static_cast<char16_t>(*q);
  }

  char16_t SkipNameChars(char16_t c) {
    if (!detail::TagIsNameChar(c)) return c;
    const Unit* const end = m_s + m_n;
    const Unit* q = m_s + m_p;
    while (q != end && detail::TagIsNameChar(static_cast<char16_t>(*q)))
      ++q;
    m_p = static_cast<std::size_t>(q - m_s);
    if (q == end) detail::ThrowEndOfMarkup();
    ++m_p;
    return static_cast<char16_t>(*q);
  }

  char16_t AppendNameRun(char16_t c) {
    if (m_nameBuilt) {
      AppendName(c);
      return Next();
    }
    if (m_nameStart == kNoPosition) m_nameStart = m_p - 1;
    const Unit* const end = m_s + m_n;
    const Unit* q = m_s + m_p;
    for (; q != end; ++q) {
      const auto u = static_cast<char16_t>(*q);
      if (u < 128 ? kNameRunEnds[u] : CharIsSpace(u)) break;
    }
    m_p = m_nameEnd = static_cast<std::size_t>(q - m_s);
    if (q == end) detail::ThrowEndOfMarkup();
    ++m_p;
    return static_cast<char16_t>(*q);
  }

  // The record sink.
  void SetTagType(TagType type) { m_record.tagType = type; }
  void AppendName(char16_t c) {
    if (m_nameBuilt) {
      m_name.push_back(c);
      return;
    }
    // Ordinary names are appended unit after unit as read.
    if (m_nameStart == kNoPosition) m_nameStart = m_p - 1;
    m_nameEnd = m_p;
  }
  void StartSpecialName(char16_t c) {
    m_nameBuilt = true;
    m_name.assign(1, c);
  }
  void SetName(std::u16string_view name) { m_name = name; }
  void TrimName(std::u16string_view terminator) {
    if (m_name.ends_with(terminator)) m_name.resize(m_name.size() - terminator.size());
  }
  void ResetTag() {
    m_record.tagType = TagType::Single;
    m_nameStart = m_nameEnd = kNoPosition;
    m_nameBuilt = false;
    if constexpr (kKeepAttributes) m_attributes->clear();
  }
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
  void AddNameOnly(std::size_t nameStart, std::size_t nameEnd) {
    AddAttribute(nameStart, nameEnd, nameEnd, nameEnd);
  }
  void AddMarker(bool /*special*/) {
    if constexpr (kKeepAttributes) {
      m_attributes->push_back({CElementTable::kMarkerNameStart, 0, 0, 0});
    }
  }

  std::vector<CAttributeSpan>* m_attributes;
  const Unit* m_s;
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

// A stack of record positions whose push is a test and a store, inlined into the cut (a vector's
// push_back was called out of line there), with the growth out of line.
class CPositionStack {
 public:
  bool Empty() const { return m_size == 0; }
  std::uint32_t Back() const { return m_data[m_size - 1]; }
  void Pop() { --m_size; }
  [[gnu::always_inline]] void Push(std::uint32_t position) {
    if (m_size == m_capacity) [[unlikely]]
      Grow();
    m_data[m_size++] = position;
  }

 private:
  [[gnu::noinline]] void Grow() {
    const std::size_t capacity = std::max<std::size_t>(16, std::size_t{m_capacity} * 2);
    auto data = std::make_unique_for_overwrite<std::uint32_t[]>(capacity);
    std::copy_n(m_data.get(), m_size, data.get());
    m_data = std::move(data);
    m_capacity = capacity;
  }
  std::unique_ptr<std::uint32_t[]> m_data;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};

// The first pairing of records (see PairUnpairedRecords), one record at a time in reading order,
// so that the scan can pair each tag as it cuts it out. On the way it links each record that
// takes an id to the record before it that took the same one, in the table's workspace, which
// the classification asks for (CElementTable::NextBySameIdReady): its own walk backwards over
// every record is saved. And it finds out whether the pairs nest (CElementTable::PairsNest).
class CFirstPairing {
 public:
  explicit CFirstPairing(CElementTable& table)
      : m_table(table),
        m_records(table.Records()),
        m_counter(table.PairIdCounter()),
        m_count(m_counter),
        m_next(table.Workspace()),
        m_lastWithId(std::size_t{1} << 16, kNone),
        m_open(std::make_unique_for_overwrite<std::uint32_t[]>(kMaxWatchedOpen)) {
    // The records' room, which the reader reserved for every record it can cut, is the
    // workspace's too: it is grown without being written, and only the records that take an
    // id write it.
    m_next.resize(std::max(m_records.size(), m_records.capacity()));
    m_nextData = m_next.data();
    m_nextSize = m_next.size();
  }

  // Inlined into the cut, which calls it once per tag: a call would cost a sixth of the work.
  // `record` is the record at `i`, of name id `nameId` (known to the cut, which need not read it
  // back from the record).
  [[gnu::always_inline]] void Visit(CElementRecord& record, std::uint32_t i, std::uint32_t nameId) {
    const TagType type = record.tagType;
    if (type == TagType::Single) {
      record.pairId = 0;
      return;
    }
    if (type != TagType::Open && type != TagType::Close) return;
    CPositionStack& stack = OpenStack(nameId);
    std::uint16_t id = 0;
    if (type == TagType::Close && !stack.Empty()) {
      const std::uint32_t at = stack.Back();
      stack.Pop();
      // The start tag's record, found from this one's (both lie in the records' vector), which
      // saves loading the vector's data.
      CElementRecord& open =
          (&record)[static_cast<std::ptrdiff_t>(at) - static_cast<std::ptrdiff_t>(i)];
      open.tagType = TagType::PairedOpen;
      record.tagType = TagType::PairedClose;
      id = open.pairId;
      Closed(at);
    } else {
      // A start tag, or an end tag left without one.
      id = detail::NextPairId(m_count);
      if (type == TagType::Open) {
        stack.Push(i);
        Opened(i);
      }
    }
    record.pairId = id;
    Link(id, i);
  }

  // After the last record: those that no later record's id followed are marked, and, when the
  // pairing visited every record of the table (`whole`), the table learns what the workspace
  // and the pairs are.
  void Finish(bool whole) {
    const auto count = static_cast<std::uint32_t>(m_records.size());
    for (const std::uint32_t last : m_lastWithId) {
      if (last != kNone) m_nextData[last] = count;
    }
    m_counter = m_count;
    m_next.resize(count);
    DiscardUnusedCapacity(m_next);
    m_table.NextBySameIdReady() = whole;
    m_table.PairsNest() = whole && m_nest;
  }

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFF;
  // More start tags left open at once than this end the watch over nesting (the pairs then
  // count as crossing): a document nests a few dozen deep, and one that leaves thousands of tags
  // open costs no more than four pages for it.
  static constexpr std::size_t kMaxWatchedOpen = std::size_t{1} << 12;

  // Record `i` took `id`.
  [[gnu::always_inline]] void Link(std::uint16_t id, std::uint32_t i) {
    if (i >= m_nextSize) [[unlikely]]
      GrowNext(i);
    std::uint32_t& last = m_lastWithId[id];
    if (last != kNone) m_nextData[last] = i;
    last = i;
  }
  [[gnu::noinline]] void GrowNext(std::uint32_t i) {
    m_next.resize(std::max({std::size_t{i} + 1, m_records.capacity(), m_next.size() * 2}));
    m_nextData = m_next.data();
    m_nextSize = m_next.size();
  }

  // The nesting: the start tags still open, in reading order. An end tag that closes the start
  // tag at `at` drops those opened after it, which an end tag after it would close across it;
  // closing one of them later, or one dropped so, is a crossing. Once the pairs cross, or too
  // many start tags are left open, nothing more is learnt, and the rest only keeps the room
  // within its bounds.
  [[gnu::always_inline]] void Opened(std::uint32_t i) {
    if (m_openCount == kMaxWatchedOpen) [[unlikely]] {
      m_nest = false;
      return;
    }
    m_open[m_openCount++] = i;
  }
  [[gnu::always_inline]] void Closed(std::uint32_t at) {
    while (m_openCount != 0 && m_open[m_openCount - 1] > at)
      --m_openCount;
    if (m_openCount != 0 && m_open[m_openCount - 1] == at) {
      --m_openCount;
    } else {
      m_nest = false;
    }
  }

  // The start tags still open, per name id (names are added while the scan runs). Inlined into
  // the cut, with the growth out of line: as a call it cost some 25 instructions a start or end
  // tag.
  [[gnu::always_inline]] CPositionStack& OpenStack(std::uint32_t nameId) {
    if (nameId >= m_openByNameCount) [[unlikely]]
      AddNames(nameId);
    return m_openByName[nameId];
  }
  [[gnu::noinline]] void AddNames(std::uint32_t nameId) {
    m_openByName.resize(nameId + std::size_t{1});
    m_openByNameCount = m_openByName.size();
  }

  CElementTable& m_table;
  CRecordVector& m_records;
  std::uint32_t& m_counter;
  // The counter while the scan runs, kept here and handed to the table at the end: the
  // table's, behind a reference, was loaded and stored through it for every new id.
  std::uint32_t m_count;
  CRecordIndexVector& m_next;
  std::uint32_t* m_nextData = nullptr;  // m_next's
  std::size_t m_nextSize = 0;
  // Per id, the last record that took it (kNone: none yet).
  std::vector<std::uint32_t> m_lastWithId;
  std::vector<CPositionStack> m_openByName;
  // m_openByName's size, compared without the division a vector's size of 24-byte elements
  // takes.
  std::size_t m_openByNameCount = 0;
  // Room for kMaxWatchedOpen positions, of which only the pages that hold the deepest nesting
  // reached are ever touched.
  std::unique_ptr<std::uint32_t[]> m_open;
  std::size_t m_openCount = 0;
  bool m_nest = true;  // no crossing so far
};

template <bool kKeepAttributes, class Unit>
void CScanner<kKeepAttributes, Unit>::Run(CElementTable& table, CFirstPairing* pairing) {
  CRecordVector& records = table.Records();
  CNameCache names(table.Names());
  CPlainTagMemo<Unit> memo;
  // About one element per 20 units in real documents.
  records.reserve(m_n / 16 + 16);
  // The index of the next record, counted here rather than read off the vector twice a record.
  auto index = static_cast<std::uint32_t>(records.size());
  const std::uint32_t first = index;
  // The lengths of the text runs or'ed together: a text run's record takes the low 16 bits of
  // its length, and the few longer than that are found once the cut is done (WidenLongTexts).
  // A test of each length after its store cost the cut about five instructions a text run.
  std::uint32_t textLengths = 0;
  // The position and the end of the source as locals, which stay in registers: as members
  // they were loaded again after every store of a record, which may write any memory. m_p is
  // set only for the grammar (ReadOtherMarkup).
  const Unit* const source = m_s;
  const Unit* const sourceEnd = m_s + m_n;
  const Unit* p = m_s + m_p;
  // Whether the last markup was a plain tag: the memo's expected tag is tried only after one,
  // so that a document whose tags the grammar reads does not pay for the comparison.
  bool expect = false;
  while (p < sourceEnd) {
    // A stop is seen here too: cutting a large document takes seconds.
    table.CheckStopAt(index);
    const std::size_t start = static_cast<std::size_t>(p - source);
    if (*p != u'<') {
      const Unit* const next = FindUnit(p, sourceEnd, u'<');
      CElementRecord text;
      text.textStart = static_cast<std::uint32_t>(start);
      const auto length = static_cast<std::uint32_t>(next - p);
      CElementTable::SetLowBits(text, length, 0);
      textLengths |= length;
      p = next;
      records.emplace_back(text);
      ++index;
      continue;
    }
    CElementRecord record;
    record.SetBits(CElementRecord::kRecordTag);
    // A tag read before is taken from the memo; another of the plain shape is read and
    // remembered.
    typename CPlainTagMemo<Unit>::CKey key;
    const auto* known = expect ? memo.FindExpected(p, sourceEnd) : nullptr;
    if (known == nullptr) {
      key = CPlainTagMemo<Unit>::KeyOf(p, sourceEnd);
      known = memo.Find(key, p);
    }
    // A plain tag's record is added here apart from other markup, so that the compiler writes
    // it, whose flags it knows but for the type, as whole words; and once for a tag from the
    // memo and once for one read, so that the memo's fields go straight from its slot into
    // the record rather than through the stack, where the two ways met.
    CElementRecord* plain = nullptr;
    std::uint32_t plainName = 0;
    CPlainTag tag;
    if (known != nullptr) {
      record.tagType = known->type;
      record.plain = 1;
      record.textStart = static_cast<std::uint32_t>(start);
      plainName = known->nameId;
      // Both fit in 16 bits (Remember).
      CElementTable::SetLowBits(record, known->units, plainName);
      p += known->units;
      plain = &records.emplace_back(record);
    } else if (ReadPlainTag(p + 1, tag)) {
      typename CPlainTagMemo<Unit>::CTag read;
      read.type = tag.type;
      read.units = static_cast<std::uint32_t>(tag.end - p);
      read.nameId =
          names.Id(tag.name, static_cast<std::size_t>(tag.nameEnd - tag.name), sourceEnd, &m_name);
      memo.Remember(key, p, read);
      record.tagType = read.type;
      record.plain = 1;
      record.textStart = static_cast<std::uint32_t>(start);
      plainName = read.nameId;
      CElementTable::SetLowBits(record, read.units, plainName);
      p += read.units;
      plain = &records.emplace_back(record);
      table.SetHighBits(*plain, read.units, plainName);
    }
    if (plain != nullptr) {
      if (pairing != nullptr) pairing->Visit(*plain, index, plainName);
      ++index;
      expect = true;
      continue;
    }
    expect = false;
    m_p = start + 1;
    CElementRecord& added = records.emplace_back(ReadOtherMarkup(record, start, table, names));
    p = source + m_p;
    if (pairing != nullptr) pairing->Visit(added, index, table.NameId(added));
    ++index;
  }
  m_p = static_cast<std::size_t>(p - source);
  if (textLengths > 0xFFFF) [[unlikely]]
    WidenLongTexts(table, first);
}

template <bool kKeepAttributes, class Unit>
void CScanner<kKeepAttributes, Unit>::WidenLongTexts(CElementTable& table, std::uint32_t first) {
  // The records the cut wrote from `first` on cover the source from the first one's start to
  // m_p, one after another: a text run ends where the next record starts.
  CRecordVector& records = table.Records();
  const auto count = static_cast<std::uint32_t>(records.size());
  for (std::uint32_t i = first; i < count; ++i) {
    CElementRecord& record = records[i];
    if (record.IsTag()) continue;
    const std::size_t end = i + 1 < count ? records[i + 1].textStart : m_p;
    table.SetHighBits(record, static_cast<std::uint32_t>(end - record.textStart), 0);
  }
}

}  // namespace

void ScanElements(CElementTable& table, bool pairTags) {
  // Guard: size overflow
  if (table.Source().Size() >= std::numeric_limits<std::uint32_t>::max()) {
    ThrowHResult(kEOutOfMemory);
  }
  // The links between records of one id hold for the table when the scan cut all its records.
  const bool whole = table.Records().empty();
  std::optional<CFirstPairing> pairing;
  if (pairTags) pairing.emplace(table);
  CFirstPairing* const pairingOrNone = pairing ? &*pairing : nullptr;
  table.Source().Visit([&](const auto* units, std::size_t size) {
    using Unit = std::remove_cv_t<std::remove_pointer_t<decltype(units)>>;
    CScanner<false, Unit>(units, size, nullptr).Run(table, pairingOrNone);
  });
  if (pairing) {
    pairing->Finish(whole);
    table.Unpaired() = false;
  }
}

void CElementTable::ReadAttributes(const CElementRecord& record,
                                   std::vector<CAttributeSpan>& out) const {
  out.clear();
  if (!record.IsTag() || (record.bits & CElementRecord::kRecordEdited) != 0) return;
  if (!m_source.Narrow()) {
    CScanner<true, char16_t>(m_source.Data(), m_source.Size(), &out).ReadOne(record.textStart);
    return;
  }
  // The tag reader may look at the unit after the tag before it puts it back.
  const std::size_t length =
      std::min<std::size_t>(std::size_t{Length(record)} + 1, m_source.Size() - record.textStart);
  // The tag is read from its bytes; the spans, which count from its start, index the widened
  // copy.
  const std::uint8_t* const bytes = m_source.Bytes() + record.textStart;
  m_widenedTag.resize(length);
  WidenBytes(bytes, length, m_widenedTag.data());
  CScanner<true, std::uint8_t>(bytes, length, &out).ReadOne(0);
}

namespace {

// Whether the `size` units at `name` are the name `query` asks for.
template <class Unit>
bool AttributeNameMatches(const Unit* name, std::size_t size, const CAttributeQuery& query) {
  if (size != query.name.size()) return false;
  const char16_t* const wanted = query.name.data();
  if (query.caseSensitive) {
    for (std::size_t i = 0; i < size; ++i) {
      if (static_cast<char16_t>(name[i]) != wanted[i]) return false;
    }
    return true;
  }
  for (std::size_t i = 0; i < size; ++i) {
    if (CharAsciiUpper(static_cast<char16_t>(name[i])) != CharAsciiUpper(wanted[i])) return false;
  }
  return true;
}

}  // namespace

unsigned CElementTable::FindAttributes(const CElementRecord& record,
                                       std::span<const CAttributeQuery> queries,
                                       std::u16string_view* values) const {
  if (queries.size() > kMaxQueries) ThrowHResult(kEInvalidArg);
  const std::size_t count = queries.size();
  const unsigned all = (1u << count) - 1;
  unsigned found = 0;
  if (!record.IsTag() || (record.bits & CElementRecord::kRecordEdited) != 0) return 0;
  if (record.plain == 0) {
    ReadAttributes(record, m_foundAttributes);
    for (const CAttributeSpan& span : m_foundAttributes) {
      const std::u16string_view name = AttributeName(span);
      for (std::size_t k = 0; k < count; ++k) {
        if ((found & (1u << k)) != 0 || !AttributeNameMatches(name.data(), name.size(), queries[k]))
          continue;
        found |= 1u << k;
        values[k] = AttributeValue(span);
      }
      if (found == all) break;
    }
    return found;
  }
  return FindPlainAttributes(record, queries.first(count), values);
}

unsigned CElementTable::FindPlainAttributes(const CElementRecord& record,
                                            std::span<const CAttributeQuery> queries,
                                            std::u16string_view* values) const {
  // Walked in the source, the names compared as they are.
  const std::size_t count = queries.size();
  const unsigned all = (1u << count) - 1;
  unsigned found = 0;
  std::size_t valueStarts[kMaxQueries];
  std::size_t valueLengths[kMaxQueries];
  m_source.Visit([&](const auto* units, std::size_t size) {
    using Unit = std::remove_cv_t<std::remove_pointer_t<decltype(units)>>;
    CScanner<false, Unit>::ForPlainAttributes(
        units, size, record.textStart,
        [&](std::size_t nameStart, std::size_t nameEnd, std::size_t valueStart,
            std::size_t valueEnd) {
          for (std::size_t k = 0; k < count; ++k) {
            if ((found & (1u << k)) != 0 ||
                !AttributeNameMatches(units + nameStart, nameEnd - nameStart, queries[k])) {
              continue;
            }
            found |= 1u << k;
            valueStarts[k] = valueStart;
            valueLengths[k] = valueEnd - valueStart;
          }
          return found == all;
        });
  });
  if (!m_source.Narrow()) {
    for (std::size_t k = 0; k < count; ++k) {
      if ((found & (1u << k)) != 0) values[k] = {m_source.Data() + valueStarts[k], valueLengths[k]};
    }
    return found;
  }
  // The values of a narrow source are widened one after the other into one buffer, sized first
  // so that the views into it hold.
  std::size_t units = 0;
  for (std::size_t k = 0; k < count; ++k) {
    if ((found & (1u << k)) != 0) units += valueLengths[k];
  }
  m_widenedValues.resize(units);
  std::size_t at = 0;
  for (std::size_t k = 0; k < count; ++k) {
    if ((found & (1u << k)) == 0) continue;
    WidenBytes(m_source.Bytes() + valueStarts[k], valueLengths[k], m_widenedValues.data() + at);
    values[k] = {m_widenedValues.data() + at, valueLengths[k]};
    at += valueLengths[k];
  }
  return found;
}

CAttributeLookup::CAttributeLookup(const CElementTable& table,
                                   std::initializer_list<CAttributeQuery> queries)
    : m_table(table), m_slots(std::make_unique<CSlot[]>(kSlots)) {
  if (queries.size() > CElementTable::kMaxQueries) ThrowHResult(kEInvalidArg);
  m_names.reserve(queries.size());
  for (const CAttributeQuery& query : queries) {
    m_names.emplace_back(query.name);
    m_queries.push_back({m_names.back(), query.caseSensitive});
  }
}

unsigned CAttributeLookup::ValuesOf(CSlot& slot, std::u16string_view* values) {
  slot.used = ++m_clock;
  if (m_recent[0] != &slot) {
    m_recent[1] = m_recent[0];
    m_recent[0] = &slot;
  }
  const std::size_t count = m_queries.size();
  for (std::size_t k = 0; k < count; ++k) {
    if ((slot.found & (1u << k)) != 0) values[k] = slot.views[k];
  }
  return slot.found;
}

unsigned CAttributeLookup::Find(const CElementRecord& record, std::u16string_view* values) {
  // Other markup, and a long text (a collapsed block), are read again each time: the copy of a
  // long text would cost more than the reading.
  const std::string_view text = PlainTagBytes(m_table, record, kMaxTextBytes);
  if (text.empty()) return m_table.FindAttributes(record, m_queries, values);
  // A slot keeps a copy of its text, so that the comparison reads no other place of the source.
  // The lengths first: texts of one length are few.
  const auto holds = [&](const CSlot& slot) {
    return slot.text.size() == text.size() &&
           std::memcmp(slot.text.data(), text.data(), text.size()) == 0;
  };
  for (CSlot* const recent : m_recent) {
    if (recent != nullptr && holds(*recent)) return ValuesOf(*recent, values);
  }
  // The slot by a hash of the whole text. Two places a text may take, so that two frequent tags
  // whose keys meet in one place (a start and an end placeholder that alternate) do not push
  // each other out: the one used longer ago makes room.
  const std::uint64_t key = HashTagText(text);
  CSlot& first = m_slots[static_cast<std::size_t>(key >> 58)];
  CSlot& second = m_slots[static_cast<std::size_t>((key >> 52) % kSlots)];
  if (holds(first)) return ValuesOf(first, values);
  if (holds(second)) return ValuesOf(second, values);
  CSlot& slot = second.used < first.used ? second : first;
  slot.found = m_table.FindAttributes(record, m_queries, values);
  slot.text.assign(text);
  slot.values.clear();
  const std::size_t count = m_queries.size();
  std::uint32_t ends[CElementTable::kMaxQueries] = {};
  for (std::size_t k = 0; k < count; ++k) {
    if ((slot.found & (1u << k)) == 0) continue;
    slot.values += values[k];
    ends[k] = static_cast<std::uint32_t>(slot.values.size());
  }
  // The views once the values are all in place (appending may move them).
  std::uint32_t from = 0;
  for (std::size_t k = 0; k < count; ++k) {
    if ((slot.found & (1u << k)) == 0) continue;
    slot.views[k] = std::u16string_view(slot.values).substr(from, ends[k] - from);
    from = ends[k];
  }
  return ValuesOf(slot, values);
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
  std::vector<Position>& OpenStack(std::size_t i) {
    return m_openByName[m_table.NameId(m_records[i])];
  }
  std::uint16_t NextPairId() { return detail::NextPairId(m_table.PairIdCounter()); }
  void CheckStopAt(std::size_t i) const { m_table.CheckStopAt(i); }

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
    table.CheckStopAt(i);
    CElementRecord& record = table.Records()[i];
    pairing.Visit(record, i, table.NameId(record));
  }
  pairing.Finish(true);
}

}  // namespace

CPairingStart::CPairingStart(CElementTable& table) : m_partner(table.Workspace().data()) {}

void CPairingStart::Finish() {
  for (std::uint32_t& top : m_openTop) {
    while (top != kNone)
      top = std::exchange(m_partner[top], kNone);
  }
}

void PairRecords(CElementTable& table, CPairingStart& start) {
  table.NextBySameIdReady() = false;
  table.PairsNest() = false;
  CRecordAccess access(table);
  CRecordIndexVector& partner = table.Workspace();
  // Only the start tags' entries are read, which the pass wrote.
  start.Finish();
  CRecordVector& records = table.Records();
  partner.resize(records.size());
  using CIndex = detail::CPairIdIndex<CRecordAccess>;
  // The records' room beyond their size (those a pass dropped, written and read no more) holds
  // the index's groups and positions where it is large enough: the index then takes no fresh
  // pages. Otherwise that room is discarded first, so that the index's blocks do not come on
  // top of it.
  const bool indexed = start.m_firstPairedOpen != CPairingStart::kNone;
  const std::size_t roomBytes = (records.capacity() - records.size()) * sizeof(CElementRecord);
  const std::size_t needed =
      indexed ? CIndex::RoomBytes(records.size(), start.m_firstPairedOpen) : 0;
  const bool lend = needed != 0 && roomBytes >= needed;
  if (!lend) DiscardUnusedCapacity(records);
  std::unique_ptr<CIndex> index;
  if (indexed) {
    std::span<std::byte> room;
    if (lend) room = {reinterpret_cast<std::byte*>(records.data() + records.size()), roomBytes};
    index = std::make_unique<CIndex>(access, start.m_firstPairedOpen, start.m_pairedOpenWithoutId,
                                     room);
  }
  detail::PairTagsWalk(access, partner, index.get());
  if (lend) {
    index.reset();
    DiscardUnusedCapacity(records);
  }
}

void PairRecords(CElementTable& table) {
  if (table.Unpaired()) {
    PairUnpairedRecords(table);
    table.Unpaired() = false;
    return;
  }
  // The walk takes the workspace for its own use, and the ids change.
  table.NextBySameIdReady() = false;
  table.PairsNest() = false;
  CRecordAccess access(table);
  detail::PairTags(access, table.Workspace());
}

}  // namespace tagvert
