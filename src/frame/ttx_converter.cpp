// Tagvert: the two direction drivers and the creatable TTX converter.
// SPDX-License-Identifier: Apache-2.0
#include "frame/ttx_converter.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ifcodec/if_element_walk.h"
#include "ifcodec/if_parser.h"
#include "ifcodec/text_processor.h"
#include "markup/element_table.h"
#include "markup/sgml_parser.h"
#include "rules/ttx_rules_processor.h"
#include "storage/char_class.h"
#include "storage/input_scan.h"
#include "storage/large_memory.h"
#include "storage/unit_scan.h"
#include "structure/record_structure.h"

namespace tagvert {

namespace {

// The IF header names the source format.
constexpr char16_t kIfFormatName[] = u"TTX";

// The kernel text service's numbers of the captions of the two directions.
constexpr std::int32_t kCaptionToIf = 30;
constexpr std::int32_t kCaptionFromIf = 31;

// The root must be among the first six items of a TTX document.
constexpr int kFormatTestItems = 6;
constexpr char16_t kRootName[] = u"TRADOStag";
constexpr char16_t kDirectionName[] = u"Direction";

// The way in cuts every no-break space out as an element of its own and starts the text after
// it with a space.
constexpr char16_t kNbspSource[] = u"\u00A0";

bool IsXmlSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// The TTX written back is UTF-8: an XML declaration at the start of `source` ("<?xml", white
// space, pseudo-attributes, "?>") whose encoding names anything else gets "UTF-8" as its value.
// Only the value changes; a declaration that cannot be read is left as it is.
void DeclareUtf8(std::u16string& source) {
  constexpr std::u16string_view kOpen = u"<?xml";
  if (source.size() <= kOpen.size() || source.compare(0, kOpen.size(), kOpen) != 0 ||
      !IsXmlSpace(source[kOpen.size()])) {
    return;
  }
  const std::size_t end = source.find(u"?>", kOpen.size());
  if (end == std::u16string::npos) return;
  std::size_t i = kOpen.size();
  for (;;) {
    while (i < end && IsXmlSpace(source[i]))
      ++i;
    const std::size_t nameStart = i;
    while (i < end && !IsXmlSpace(source[i]) && source[i] != u'=')
      ++i;
    if (i == nameStart) return;
    const std::u16string_view name(source.data() + nameStart, i - nameStart);
    while (i < end && IsXmlSpace(source[i]))
      ++i;
    if (i >= end || source[i] != u'=') return;
    ++i;
    while (i < end && IsXmlSpace(source[i]))
      ++i;
    if (i >= end || (source[i] != u'"' && source[i] != u'\'')) return;
    const std::size_t valueStart = i + 1;
    const std::size_t valueEnd = source.find(source[i], valueStart);
    if (valueEnd == std::u16string::npos || valueEnd >= end) return;
    if (name == u"encoding") {
      const std::u16string_view value(source.data() + valueStart, valueEnd - valueStart);
      if (!StringEqualsNoCase(value, u"UTF-8")) {
        source.replace(valueStart, valueEnd - valueStart, u"UTF-8");
      }
      return;
    }
    i = valueEnd + 1;
  }
}

// Where `table`'s document ends early: inside a piece of markup, or before the end tag of its
// root (which pairing left without a partner). Nothing for a document that ends complete, or
// that has no root at all (a fragment converted on purpose).
std::optional<CTTXToIfConverter::CInputCut> FindInputCut(const CElementTable& table) {
  const CRecordVector& records = table.Records();
  CTTXToIfConverter::CInputCut cut;
  if (!records.empty() && records.back().IsTag()) {
    const std::u16string_view last = table.Text(records.back());
    cut.insideMarkup = last.empty() || last.back() != u'>';
  }
  const std::uint32_t rootId = table.Names().Find(kRootName);
  if (rootId != CNameTable::kNoName) {
    for (const CElementRecord& record : records) {
      if (table.NameId(record) != rootId || !record.IsTag()) continue;
      cut.rootOpen = record.tagType == TagType::Open;
      break;
    }
  }
  if (!cut.insideMarkup && !cut.rootOpen) return std::nullopt;
  table.Source().Visit([&cut](const auto* units, std::size_t size) {
    std::size_t lineStart = 0;  // after the last line feed
    for (std::size_t i = 0; i < size; ++i) {
      if (units[i] != u'\n') continue;
      ++cut.line;
      lineStart = i + 1;
    }
    cut.column = size - lineStart + 1;
  });
  return cut;
}

// Reserves room for every record that cutting `table`'s source can give, so that the records
// never move while they grow: a move holds the old and the new copy at once, and the cutting's
// own guess (an element per 16 units) falls short for text in scripts such as Chinese, whose
// elements take fewer units. Each piece of markup starts at a `<`, and each text run ends
// before one or at the end and takes a unit that is not one. Room that no record fills is
// only address space: its pages are never touched.
void ReserveRecords(CElementTable& table) {
  table.Source().Visit([&table](const auto* units, std::size_t size) {
    const std::size_t markup = CountUnit(units, units + size, u'<');
    table.Records().reserve(markup + std::min(markup + 1, size - markup));
  });
}

}  // namespace

void CTTXToIfConverter::DoConvertToIF() {
  m_inputCut.reset();
  // The modes as the reader and the writer set them: a byte-order mark, else UTF-8, in; IF out.
  if (!DetectBOM()) SetInputMode(EncodingMode::Utf8);
  CIFParser writer(this, IfParserMode::Write);

  // The whole input is decoded into one buffer, which the records point into: UTF-8 into a
  // narrow one, which keeps a byte per unit as long as the text is ASCII or Latin-1 (half the
  // memory, and half the bytes for the tag reader to go through) and widens at the first other
  // character.
  CElementTable table;
  table.SetStopFlag(&GetStopFlag());
  if (GetInputMode() == EncodingMode::Utf8) table.Source().SetNarrow();
  ReadAllUnits(table.Source());
  ReserveRecords(table);
  ScanElements(table, true);
  // The large page that the last records reached holds room beyond them: it goes back.
  DiscardUnusedCapacity(table.Records());
  m_inputCut = FindInputCut(table);

  // Classification: the target language from Direction goes into the Tuv rules, then every
  // element is classified and the decisions of paired tags spread over their content.
  std::int32_t direction = GetDirection();
  if (m_documentRead) {
    if (const std::optional<std::int32_t> chosen =
            m_documentRead(ReadDocumentFacts(table, m_factsSettled)))
      direction = *chosen;
  }
  CTTXRulesProcessor rules;
  rules.InitDirection(static_cast<std::uint32_t>(direction));
  if (GetLanguageMatch() == LanguageMatch::Language) {
    rules.ChooseDocumentLanguage(table, GetRules());
  }
  rules.ApplyTargetLanguage(GetRules());
  // In the same walk, skipped blocks become opaque elements, text runs are normalised and
  // decoded, no-break spaces are marked for cutting out, ut placeholders are named after the
  // tags they carry; then the table is paired again.
  ClassifyAndStructureRecords(table, &GetRules());
  // The passes are done with their working room; the writing needs none.
  table.ReleaseWorkspace();

  if (m_tableHook) {
    m_tableHook(table);
    return;
  }
  writer.WriteChar(kIfHeader);
  writer.WriteString(kIfFormatName);
  writer.WriteChar(kIfBoundary);
  writer.WriteTable(table);
}

namespace {

// Writes the elements of an IF as TTX: every element as its source text, unchanged but for the
// passes below.
class CTtxBackWriter {
 public:
  CTtxBackWriter(CDataStorage& storage, IIfTagGroupObserver* groups)
      : m_storage(storage), m_text(&storage, EscapeMode::Markup), m_groups(groups) {}

  void Text(std::u16string_view units) {
    const std::u16string_view run = units;
    const bool isNbsp = units == kNbspSource;
    // The space that the way in put after a no-break space goes again, so that the document
    // keeps its own spacing however often it travels.
    if (m_afterNbsp && !units.empty() && units.front() == u' ') units.remove_prefix(1);
    // Most runs hold none of the units these passes change (with a UTF-8 target every unit can
    // be written): one scan finds that out (a space is none of them, so it tells of the whole
    // run as well).
    const std::size_t special = UnitsFindMarkupSpecial(units.data(), units.size());
    const bool plain = special == units.size();
    if (plain && m_storage.GetOutputMode() == EncodingMode::Utf8) {
      if (m_groups != nullptr) m_groups->OnIfText(run, true, 0);
      Put(units, isNbsp);
      return;
    }
    const std::size_t widened = PutChanged(units, special, isNbsp);
    // Told once the run is written: the references written are counted by then.
    if (m_groups != nullptr) m_groups->OnIfText(run, plain, widened);
  }
  void Tag(std::u16string_view units) {
    const bool isNbsp = units == kNbspSource;
    if (m_atStart && !units.empty()) {
      m_source.assign(units);
      DeclareUtf8(m_source);
      units = m_source;
    }
    Put(units, isNbsp);
  }
  void Group(const CIfTagGroupSeen& group) {
    if (m_groups != nullptr) m_groups->OnIfTagGroup(group);
  }
  void Units(std::u16string_view piece) {
    if (m_groups != nullptr) m_groups->OnIfUnits(piece);
  }
  void UnitsEnd() {
    if (m_groups != nullptr) m_groups->OnIfUnitsEnd();
  }

 private:
  /// A run that the passes may change (or any run for another target), `special` the index
  /// of its first unit UnitsFindMarkupSpecial finds; out of the common path. Returns the units
  /// that the references written added when it counted them (IIfTagGroupObserver::OnIfText).
  std::size_t PutChanged(std::u16string_view units, std::size_t special, bool isNbsp) {
    const bool utf8 = m_storage.GetOutputMode() == EncodingMode::Utf8;
    std::size_t widened = 0;
    if (utf8 && special < units.size() && PutEscaped(units, special, widened)) {
      if (!units.empty()) m_atStart = false;
      m_afterNbsp = isNbsp;
      return widened;
    }
    // A UTF-8 target encodes every unit: the escaping need not ask the storage.
    const CTextProcessor& text = utf8 ? m_anyUnitText : m_text;
    m_source.assign(units);
    text.CollapseNbsp(m_source);
    text.EscapeText(m_source);
    CTextProcessor::EscapeCDataEnd(m_source);
    Put(m_source, isNbsp);
    return IIfTagGroupObserver::kWidenedUnknown;
  }
  /// Writes a run with a UTF-8 target as the passes of Text write it when it holds no U+00A0:
  /// '<' and '&' as their references, the '>' of every "]]>" as "&gt;" (a reference never holds
  /// a ']' or a '>', so the escaping leaves every "]]>" where it was), the stretches between as
  /// they are. `first` is the index of the first unit UnitsFindMarkupSpecial finds; the units
  /// the references add to the run are added to `widened`. False, nothing written, when the run
  /// holds a no-break space.
  bool PutEscaped(std::u16string_view units, std::size_t first, std::size_t& widened) {
    const std::size_t size = units.size();
    const auto next = [&](std::size_t from) {
      return from + UnitsFindMarkupSpecial(units.data() + from, size - from);
    };
    // One scan finds the units to look at (the first few kept, the rest found again below) and
    // rules out a no-break space before anything is written.
    std::size_t found[16];
    std::size_t count = 0;
    for (std::size_t at = first; at < size; at = next(at + 1)) {
      if (units[at] == kNbspSource[0]) return false;
      if (count < std::size(found)) found[count++] = at;
    }
    const bool complete = count < std::size(found);
    std::size_t from = 0;
    std::size_t k = 0;
    for (std::size_t at = first; at < size;
         at = k < count ? found[k] : (complete ? size : next(at + 1))) {
      ++k;
      std::u16string_view reference;
      if (units[at] == u'<') {
        reference = u"&lt;";
      } else if (units[at] == u'&') {
        reference = u"&amp;";
      } else if (size - at >= 3 && units[at + 1] == u']' && units[at + 2] == u'>') {
        // The "]]" stays; the '>' is replaced.
        at += 2;
        reference = u"&gt;";
      } else {
        continue;  // a ']' that begins no "]]>"
      }
      m_storage.PutUnits(units.data() + from, at - from);
      m_storage.PutUnits(reference.data(), reference.size());
      widened += reference.size() - 1;
      from = at + 1;
    }
    m_storage.PutUnits(units.data() + from, size - from);
    return true;
  }
  void Put(std::u16string_view units, bool isNbsp) {
    if (!units.empty()) m_atStart = false;
    m_afterNbsp = isNbsp;
    m_storage.PutUnits(units.data(), units.size());
  }

  CDataStorage& m_storage;
  CTextProcessor m_text;
  CTextProcessor m_anyUnitText{nullptr, EscapeMode::Markup};
  IIfTagGroupObserver* m_groups;
  std::u16string m_source;
  bool m_afterNbsp = false;
  bool m_atStart = true;
};

}  // namespace

void CTTXFromIfConverter::DoConvertFromIF() {
  CIFParser reader(this, IfParserMode::Read);
  COrvelSgmlParser writer(this, SgmlParserMode::SetOutput | SgmlParserMode::PutBom,
                          EncodingMode::Utf8);
  // One element in memory at a time: the output streams out as the input is read.
  CTtxBackWriter back(*this, m_groupObserver);
  if (m_ifObserver == nullptr) {
    CIfElementWalk walk;
    walk.Walk(*this, back);
    return;
  }
  // An observer of every token gets them from the element reader.
  reader.SetObserver(m_ifObserver);
  // Runs that lie whole in the input buffer go from there to the output, uncopied.
  reader.SetRunsInPlace(true);
  CElementX element;
  for (;;) {
    element.Reset();
    std::u16string& source = element.GetSourceTextRef();
    source.clear();
    if (!reader.ReadElement(&element)) break;
    const std::u16string_view inPlace = reader.InPlaceRun();
    const std::u16string_view units = inPlace.empty() ? std::u16string_view(source) : inPlace;
    if (element.GetIsTag()) {
      back.Tag(units);
    } else {
      back.Text(units);
    }
  }
}

CTagvertConverter::CTagvertConverter() = default;

CTagvertConverter::~CTagvertConverter() = default;

bool CTagvertConverter::CheckFormat() {
  COrvelSgmlParser reader(this, SgmlParserMode::DetectInput);
  for (int examined = 1;; ++examined) {
    CElementX element;
    // Whether an item was read does not matter: an exhausted input gives empty items.
    reader.ReadElement(&element);
    if (element.GetNameRef() == kRootName) return true;
    if (examined == kFormatTestItems) return false;
  }
}

std::u16string CTagvertConverter::GetConverterName() {
  auto name = LookupKernelText(true, GetFormatId());
  return name ? *name : std::u16string(u"TTX");
}

std::u16string CTagvertConverter::GetCaption(bool toIF) {
  auto caption = LookupKernelText(false, toIF ? kCaptionToIf : kCaptionFromIf);
  return caption ? *caption : std::u16string();
}

void CTagvertConverter::PutIntProperty(std::int32_t index, std::int32_t value) {
  if (index == 0) m_direction.store(value);
}

std::int32_t CTagvertConverter::GetIntProperty(std::int32_t index) {
  return index == 0 ? m_direction.load() : 0;
}

std::u16string CTagvertConverter::GetPropertyName(std::int32_t index) {
  return index == 0 ? std::u16string(kDirectionName) : std::u16string();
}

PropertyType CTagvertConverter::GetPropertyType(std::int32_t index) {
  return index == 0 ? PropertyType::Integer : PropertyType::None;
}

bool CTagvertConverter::FindProperty(const std::u16string& name, std::int32_t& index,
                                     std::int32_t& /*item*/) {
  if (StringEqualsNoCase(name, kDirectionName)) {
    index = 0;
    return true;
  }
  index = -1;
  return false;
}

std::u16string CTagvertConverter::GetPropertyDisplayName(std::int32_t index) {
  return GetPropertyName(index);
}

}  // namespace tagvert
