// Tagvert: the structuring passes over a classified element table.
// SPDX-License-Identifier: Apache-2.0
#include "structure/record_structure.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ifcodec/text_processor.h"
#include "markup/element.h"
#include "markup/element_table.h"
#include "rules/record_classifier_walk.h"
#include "storage/char_class.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tagvert {

namespace {

constexpr char16_t kNbsp = 0x00A0;
constexpr std::u16string_view kUtName = u"ut";
constexpr std::u16string_view kDisplayTextName = u"DisplayText";
constexpr std::u16string_view kTypeName = u"Type";
constexpr std::u16string_view kStyleName = u"Style";
constexpr std::u16string_view kTypeStart = u"start";
constexpr std::u16string_view kTypeEnd = u"end";
constexpr std::u16string_view kStyleExternal = u"external";

// What normalizing with `mode`, decoding and cutting at no-break spaces can do to a text.
enum class TextWork : std::uint8_t {
  None,       // nothing: the text stays as it is
  Decode,     // references or no-break spaces, which one walk resolves and spaces
  Normalize,  // first the whitespace mode changes the text
  Clear,      // all white space, which the whitespace mode empties
};

// What a text holds that can give it work: kHasSpecial a reference or no-break space ('&',
// U+00A0), kHasBreak a line break or tab (looked for only where `kWant` asks for it); the walk
// ends once it has seen everything `kWant` asks for. The units up to `limit` may be read: the last
// step of a text loads a whole vector as well, the units beyond the text masked off, where a
// last part unit by unit cost as much as the steps before it on the short texts of a document.
constexpr unsigned kHasSpecial = 1;
constexpr unsigned kHasBreak = 2;

template <unsigned kWant, class Unit>
unsigned MarkedUnits(const Unit* p, const Unit* const end, const Unit* const limit) {
  unsigned found = 0;
#if defined(__SSE2__)
  constexpr std::ptrdiff_t kStep = 16 / sizeof(Unit);
  const auto same = [](__m128i units, char16_t unit) {
    if constexpr (sizeof(Unit) == 1) {
      return _mm_cmpeq_epi8(units, _mm_set1_epi8(static_cast<char>(unit)));
    } else {
      return _mm_cmpeq_epi16(units, _mm_set1_epi16(static_cast<short>(unit)));
    }
  };
  while (p < end && limit - p >= kStep) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    auto special = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(same(units, u'&'), same(units, kNbsp))));
    unsigned breaks = 0;
    if constexpr ((kWant & kHasBreak) != 0) {
      breaks = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_or_si128(_mm_or_si128(same(units, u'\r'), same(units, u'\n')), same(units, u'\t'))));
    }
    const std::ptrdiff_t left = end - p;
    if (left <= kStep) {
      if (left < kStep) {
        const unsigned inside = (1U << (static_cast<unsigned>(left) * sizeof(Unit))) - 1;
        special &= inside;
        breaks &= inside;
      }
      return found | (special != 0 ? kHasSpecial : 0) | (breaks != 0 ? kHasBreak : 0);
    }
    found |= (special != 0 ? kHasSpecial : 0) | (breaks != 0 ? kHasBreak : 0);
    if ((found & kWant) == kWant) return found;
    p += kStep;
  }
#else
  static_cast<void>(limit);
#endif
  for (; p < end; ++p) {
    const char16_t unit = *p;
    if (unit == u'&' || unit == kNbsp) found |= kHasSpecial;
    if (unit == u'\r' || unit == u'\n' || unit == u'\t') found |= kHasBreak;
  }
  return found;
}

// Found by one vector scan of the text instead of a copy and three walks. Normalizing changes a
// text only when it is all white space (emptied, except with mode 4) or, with modes 2 and 4,
// holds a line break or tab.
// `Unit` is the unit type of the text's buffer (std::uint8_t in a narrow source).
template <class Unit>
TextWork WorkOnText(const Unit* const begin, std::size_t size, const Unit* const limit,
                    Whitespace mode) {
  const Unit* const end = begin + size;
  const bool changesSpace = mode == Whitespace::Remove || mode == Whitespace::Normalize ||
                            mode == Whitespace::NormalizeSignificant;
  if (!changesSpace) {
    return MarkedUnits<kHasSpecial>(begin, end, limit) != 0 ? TextWork::Decode : TextWork::None;
  }
  const unsigned found = MarkedUnits<kHasSpecial | kHasBreak>(begin, end, limit);
  const bool special = (found & kHasSpecial) != 0;
  // Nearly every text ends this walk at its first unit.
  if (std::all_of(begin, end, CharIsSpace)) {
    if (mode != Whitespace::NormalizeSignificant && size != 0) return TextWork::Clear;
  } else if (mode != Whitespace::Remove && (found & kHasBreak) != 0) {
    return TextWork::Normalize;
  }
  return special ? TextWork::Decode : TextWork::None;
}

// What DecodeBasicText gives for a text that it leaves to the full decoder.
constexpr std::size_t kNotBasic = static_cast<std::size_t>(-1);

// Takes the '&' or no-break space at `p` (before `end`) onto `out` where it is a no-break space
// (followed by a space, `nbsp` set) or one of the references to the markup's own characters
// ("&amp;", "&lt;", "&gt;", "&quot;", "&apos;"), as the full decoder does: advances both past it.
// False for any other reference.
template <class Unit>
bool TakeBasicUnit(const Unit*& p, const Unit* const end, char16_t*& out, bool& nbsp) {
  if (*p == kNbsp) {
    out[0] = kNbsp;
    out[1] = u' ';
    out += 2;
    ++p;
    nbsp = true;
    return true;
  }
  const Unit* const name = p + 1;
  const std::ptrdiff_t left = end - name;
  if (left < 3) return false;
  std::u16string_view reference;
  char16_t unit = 0;
  switch (name[0]) {
    case u'a':
      reference = name[1] == u'm' ? u"amp;" : u"apos;";
      unit = name[1] == u'm' ? u'&' : u'\'';
      break;
    case u'l':
      reference = u"lt;";
      unit = u'<';
      break;
    case u'g':
      reference = u"gt;";
      unit = u'>';
      break;
    case u'q':
      reference = u"quot;";
      unit = u'"';
      break;
    default:
      return false;
  }
  if (left < static_cast<std::ptrdiff_t>(reference.size())) return false;
  for (std::size_t k = 1; k < reference.size(); ++k) {
    if (name[k] != reference[k]) return false;
  }
  *out++ = unit;
  p = name + reference.size();
  return true;
}

// The texts with work are nearly all decoded texts whose only references are to the markup's own
// characters: decoded here in one vector walk that copies (and widens) as it looks, instead of a
// widened copy, the general decoder's appends and a comparison. Writes what
// CTextProcessor::AppendDecoded (a space after every no-break space) gives for the `size` units
// at `p` into `out`, which has room for 2 * size + 16 units, and returns its length; kNotBasic for
// a text with another reference or with nothing to decode. The units up to `limit` may be read.
template <class Unit>
std::size_t DecodeBasicText(const Unit* p, std::size_t size, const Unit* const limit,
                            char16_t* const out, bool& nbsp) {
  const Unit* const end = p + size;
  char16_t* o = out;
  bool taken = false;
#if defined(__SSE2__)
  constexpr std::ptrdiff_t kStep = 16 / sizeof(Unit);
  while (p < end && limit - p >= kStep) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned special = 0;
    if constexpr (sizeof(Unit) == 1) {
      const __m128i zero = _mm_setzero_si128();
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(units, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), _mm_unpackhi_epi8(units, zero));
      special = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_or_si128(_mm_cmpeq_epi8(units, _mm_set1_epi8('&')),
                       _mm_cmpeq_epi8(units, _mm_set1_epi8(static_cast<char>(kNbsp))))));
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o), units);
      special = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('&')),
                       _mm_cmpeq_epi16(units, _mm_set1_epi16(static_cast<short>(kNbsp))))));
    }
    const std::ptrdiff_t left = end - p;
    if (left < kStep) special &= (1U << (static_cast<unsigned>(left) * sizeof(Unit))) - 1;
    if (special == 0) {
      const std::ptrdiff_t step = left < kStep ? left : kStep;
      p += step;
      o += step;
      continue;
    }
    const auto at = static_cast<std::ptrdiff_t>(static_cast<unsigned>(std::countr_zero(special)) /
                                                sizeof(Unit));
    p += at;
    o += at;
    if (!TakeBasicUnit(p, end, o, nbsp)) return kNotBasic;
    taken = true;
  }
#else
  static_cast<void>(limit);
#endif
  while (p < end) {
    if (*p == u'&' || *p == kNbsp) {
      if (!TakeBasicUnit(p, end, o, nbsp)) return kNotBasic;
      taken = true;
    } else {
      *o++ = static_cast<char16_t>(*p++);
    }
  }
  return taken ? static_cast<std::size_t>(o - out) : kNotBasic;
}

class CStructurer {
 public:
  explicit CStructurer(CElementTable& table)
      : m_table(table),
        m_utId(table.Names().Find(kUtName)),
        m_names(table.Names()),
        m_utAttributes(table, {{kDisplayTextName}, {kTypeName}, {kStyleName}}) {}

  // `start`, of name id `nameId`, and the records up to `end` are as the cut wrote them: with
  // `kMayBeWide` false none of them is wide.
  template <bool kMayBeWide>
  void Collapse(CElementRecord& start, std::uint32_t nameId, std::uint32_t end,
                std::uint32_t count) {
    const CRecordVector& records = m_table.Records();
    // Nothing has edited a text yet, so the block's texts are consecutive runs of the source.
    const CElementRecord& last = records[end < count ? end : count - 1];
    const std::uint32_t innerStart = start.textStart + m_table.Length<kMayBeWide>(start);
    const std::uint32_t blockEnd = last.textStart + m_table.Length<kMayBeWide>(last);
    const std::uint32_t innerEnd = end < count ? last.textStart : blockEnd;
    const std::uint32_t length = blockEnd - start.textStart;
    if (!kMayBeWide && length <= 0xFFFF) {
      start.length16 = static_cast<std::uint16_t>(length);
    } else {
      m_table.SetLengthAndName(start, length, nameId);
    }
    start.algorithm = Algorithm::Translate;
    start.tagType = TagType::Single;
    start.pairId = 0;
    if (innerEnd > innerStart) start.SetBits(CElementRecord::kRecordFormat);
  }

  // Nearly every text needs no work, which one scan finds out in line. `record` is as the cut
  // wrote it: with `kMayBeWide` false it is not wide.
  template <bool kMayBeWide>
  [[gnu::always_inline]] void ProcessText(CElementRecord& record) {
    const TextWork work = m_table.VisitTextInBuffer<kMayBeWide>(
        record, [&](const auto* units, std::size_t size, const auto* limit) {
          return WorkOnText(units, size, limit, record.whitespace);
        });
    if (work != TextWork::None) WorkOn(record, work);
  }

  // Resolves `record`, of name id `nameId`, when it is a placeholder block; returns its name id
  // then. With `kMayBeWide` false `record` was not wide as the cut wrote it: a tag may have
  // become wide since only as a long collapsed block.
  template <bool kMayBeWide>
  [[gnu::always_inline]] std::uint32_t ResolveUt(CElementRecord& record, std::uint32_t nameId) {
    if (nameId != m_utId) return nameId;
    if (kMayBeWide || record.wide != 0) return ResolveUtAttributes<true>(record, nameId);
    return ResolveUtAttributes<false>(record, nameId);
  }

 private:
  // The texts that need work: a few in a hundred.
  [[gnu::noinline]] void WorkOn(CElementRecord& record, TextWork work) {
    // White space alone, which the mode empties: nothing is left to decode or to cut.
    if (work == TextWork::Clear) {
      m_table.ReplaceText(record, {});
      return;
    }
    if (work == TextWork::Decode && m_table.Length(record) <= kMaxBasicUnits &&
        DecodeBasic(record)) {
      return;
    }
    // Valid until the next Text: nothing below reads another text of the table.
    const std::u16string_view text = m_table.Text(record);
    std::u16string_view decodable = text;
    if (work == TextWork::Normalize) {
      m_normalized.assign(text);
      CTextProcessor::NormalizeWhitespace(m_normalized, record.whitespace);
      decodable = m_normalized;
    }
    m_scratch.clear();
    if (CTextProcessor::AppendDecoded(decodable, m_scratch, true)) {
      record.SetBits(CElementRecord::kRecordNbsp);
    }
    if (m_scratch != text) m_table.ReplaceText(record, m_scratch);
  }

  // A text of up to kMaxBasicUnits whose references are all to the markup's own characters,
  // decoded into a buffer of a fixed size (longer texts are rare, and their decoding costs little
  // beside their length); false for any other, which WorkOn decodes in full.
  bool DecodeBasic(CElementRecord& record) {
    if (!m_decoded) m_decoded = std::make_unique_for_overwrite<char16_t[]>(kDecodedRoom);
    bool nbsp = false;
    const std::size_t length = m_table.VisitTextInBuffer(
        record, [&](const auto* units, std::size_t size, const auto* limit) {
          return DecodeBasicText(units, size, limit, m_decoded.get(), nbsp);
        });
    if (length == kNotBasic) return false;
    if (nbsp) record.SetBits(CElementRecord::kRecordNbsp);
    m_table.ReplaceText(record, {m_decoded.get(), length});
    return true;
  }

  // Out of line, so that the walk keeps its values in registers: ut is one name of many.
  template <bool kMayBeWide>
  [[gnu::noinline]] std::uint32_t ResolveUtAttributes(CElementRecord& record,
                                                      std::uint32_t nameId) {
    // A document repeats a few placeholder blocks thousands of times, and what a block gives
    // follows from its text: it is kept by the text.
    const std::string_view text = PlainTagBytes<kMayBeWide>(m_table, record, kMaxUtTextBytes);
    CUtSlot* slot = nullptr;
    if (!text.empty()) {
      if (!m_utSlots) m_utSlots = std::make_unique<CUtSlot[]>(kUtSlots);
      slot = &m_utSlots[static_cast<std::size_t>(HashTagTextSampled(text) >> 56)];
      if (slot->text == text) {
        // A slot holds only name ids of 16 bits.
        slot->resolved.ApplyTo<!kMayBeWide>(m_table, record);
        return slot->resolved.nameId;
      }
    }
    CResolvedUt resolved;
    resolved.nameId = nameId;
    // One walk over the attributes finds the first of each name the placeholder needs.
    std::u16string_view values[3];
    const unsigned found = m_utAttributes.Find(record, values);
    // A document's placeholders carry a few dozen names between them: the cache answers most.
    if ((found & 1) != 0) {
      resolved.nameId =
          values[0].empty() ? 0 : m_names.Id(values[0].data(), values[0].size(), nullptr);
    }
    if ((found & 2) != 0) {
      if (values[1] == kTypeEnd) {
        resolved.type = TagType::Close;
      } else if (values[1] == kTypeStart) {
        resolved.type = TagType::Open;
      }
    }
    resolved.block = (found & 4) != 0 && values[2] == kStyleExternal;
    const bool nameFits = resolved.nameId <= 0xFFFF;
    if (!kMayBeWide && nameFits) {
      resolved.ApplyTo<true>(m_table, record);
    } else {
      resolved.ApplyTo<false>(m_table, record);
    }
    if (slot != nullptr && nameFits) {
      slot->text = text;
      slot->resolved = resolved;
    }
    return resolved.nameId;
  }

  // What a placeholder block gives its record.
  struct CResolvedUt {
    std::uint32_t nameId = 0;
    TagType type = TagType::Single;
    bool block = false;  // Style="external"
    // With `kNameFits` the record is not wide and the name id takes 16 bits.
    template <bool kNameFits>
    void ApplyTo(CElementTable& table, CElementRecord& record) const {
      if (kNameFits) {
        record.name16 = static_cast<std::uint16_t>(nameId);
      } else {
        table.SetNameId(record, nameId);
      }
      record.tagType = type;
      if (block) record.SetRuleType(RuleType::Block);
    }
  };
  struct CUtSlot {
    std::string text;  // the block's text as the source holds it (empty: a free slot)
    CResolvedUt resolved;
  };
  static constexpr std::size_t kMaxBasicUnits = 2048;
  static constexpr std::size_t kDecodedRoom = 2 * kMaxBasicUnits + 16;
  static constexpr std::size_t kUtSlots = 256;
  static constexpr std::size_t kMaxUtTextBytes = 512;
  CElementTable& m_table;
  std::uint32_t m_utId;
  CNameCache m_names;
  CAttributeLookup m_utAttributes;  // DisplayText, Type, Style
  std::unique_ptr<CUtSlot[]> m_utSlots;
  std::unique_ptr<char16_t[]> m_decoded;  // DecodeBasic's, kDecodedRoom units
  std::u16string m_normalized;
  std::u16string m_scratch;
};

// The structuring of the records in order, one at a time as a walk reaches them: the records
// kept move down over the dropped ones, and the second pairing's first walk is done on each
// record kept as it is written.
class CStructuringWalk {
 public:
  explicit CStructuringWalk(CElementTable& table)
      : m_table(table), m_structurer(table), m_pairing(table) {}

  // Structures record `i` of `count` in `records` (the first after the last block collapsed)
  // and writes it at `kept`, the number of records kept before it, which it advances. `next` is
  // the next record with the same PairId. Returns the first record after it that the
  // structuring reaches. With `kMayBeWide` false no record from `i` on is wide; the record
  // visited may become wide here (a long collapsed block or replaced text), and its name id is
  // then carried along rather than read back.
  template <bool kMayBeWide>
  [[gnu::always_inline]] std::uint32_t Visit(CElementRecord* records, const std::uint32_t* next,
                                             std::uint32_t count, std::uint32_t i,
                                             std::uint32_t& kept, CElementRecord& record) {
    // `record` (records[i]) is worked on where it lies, which the walk reads no more, and then
    // copied down: a copy on the stack went through memory twice.
    std::uint32_t nameId = m_table.NameId<kMayBeWide>(record);
    std::uint32_t after = i + 1;
    if (record.tagType == TagType::PairedOpen && record.algorithm == Algorithm::Skip) {
      const std::uint32_t end = next[i];
      m_structurer.Collapse<kMayBeWide>(record, nameId, end, count);
      after = end < count ? end + 1 : count;
    } else if (!record.IsTag()) {
      m_structurer.ProcessText<kMayBeWide>(record);
    }
    nameId = m_structurer.ResolveUt<kMayBeWide>(record, nameId);
    // The workspace's entries up to `kept`, which is not after `i`, are read no more.
    m_pairing.Add(record, kept, nameId);
    records[kept++] = record;
    return after;
  }

  void Finish(std::uint32_t kept) {
    CRecordVector& records = m_table.Records();
    records.resize(kept);
    // The records dropped (collapsed blocks, often most of a translated document) leave their
    // memory in the second pairing, which may use it first, before the writing.
    PairRecords(m_table, m_pairing);
  }

 private:
  CElementTable& m_table;
  CStructurer m_structurer;
  CPairingStart m_pairing;
};

// Texts lie far apart in the source and are read here for the first time since the scan: they
// are asked for some records ahead.
constexpr std::uint32_t kPrefetchDistance = 8;

}  // namespace

void StructureRecords(CElementTable& table, const CRecordIndexVector& next) {
  CRecordVector& records = table.Records();
  const auto count = static_cast<std::uint32_t>(records.size());
  CElementRecord* const data = records.data();
  CStructuringWalk walk(table);
  // The passes that were separate walks act on each element alone, so one walk does all of
  // them in their order.
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i < count;) {
    // One record is kept per record visited.
    table.CheckStopAt(kept);
    if (count - i > kPrefetchDistance) table.PrefetchText(data[i + kPrefetchDistance]);
    i = walk.Visit<true>(data, next.data(), count, i, kept, data[i]);
  }
  walk.Finish(kept);
}

void ClassifyAndStructureRecords(CElementTable& table, const CRules* rules) {
  const auto count = static_cast<std::uint32_t>(table.Records().size());
  CElementRecord* const data = table.Records().data();
  CStructuringWalk walk(table);
  std::uint32_t kept = 0;
  // The classification and the structuring visit the same records (those outside the blocks
  // collapsed), each record once it has its final class: one walk over them instead of two.
  // Inlined into the walk, as its Visit is.
  VisitRecordWidth(table, [&](auto mayBeWide) {
    constexpr bool kMayBeWide = decltype(mayBeWide)::value;
    detail::ClassifyRecordsWalk<true, kMayBeWide>(
        table, rules,
        [&](std::uint32_t i, const std::uint32_t* next, CElementRecord& record) __attribute__((
            always_inline)) { walk.Visit<kMayBeWide>(data, next, count, i, kept, record); });
  });
  walk.Finish(kept);
}

}  // namespace tagvert
