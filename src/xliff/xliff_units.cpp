// Tagvert: the XLIFF merge without the XML: the skeleton decoded into the IF outside the units
// and each unit's codes, each unit's target (or source) mapped back to IF by code id, tag damage
// noted, and the merged IF given as a stream.
// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "ifcodec/if_parser.h"
#include "xliff/xliff_merge.h"
#include "xliff/xliff_text.h"

namespace tagvert::xliff {

namespace {

// The source text of the tag in a code's IF, for messages.
std::string Shown(std::u16string_view code) {
  std::size_t at = code.find(kIfTagGroup);
  std::u16string_view shown;
  if (at != std::u16string_view::npos && at + 2 <= code.size()) {
    shown = code.substr(at + 2);
    std::size_t end = 0;
    while (end < shown.size() && !IsIfCode(shown[end]))
      ++end;
    shown = shown.substr(0, end);
  }
  std::string out;
  for (const char16_t u : shown.substr(0, 40)) {
    if (u >= 0x20 && u < 0x7F) {
      out += static_cast<char>(u);
    } else {
      AppendUtf8(out, u < 0x20 || (u >= 0xD800 && u <= 0xDFFF) ? char16_t(0xFFFD) : u);
    }
  }
  if (shown.size() > 40) out += "...";
  return out;
}

// The Open codes of pairs that cross another pair in `order` (a stack of open pairs).
template <typename Partner>
std::vector<bool> Crossing(const std::vector<std::size_t>& order, std::size_t size,
                           Partner&& partner) {
  std::vector<bool> crossing(size, false), isOpen(size, false), closed(size, false);
  for (const std::size_t i : order) {
    if (const auto open = partner(i)) isOpen[*open] = true;
  }
  std::vector<std::size_t> stack;
  std::vector<bool> onStack(size, false);
  for (const std::size_t i : order) {
    if (isOpen[i]) {
      stack.push_back(i);
      onStack[i] = true;
      continue;
    }
    const auto open = partner(i);
    if (!open || !onStack[*open]) continue;
    while (stack.back() != *open) {
      crossing[stack.back()] = true;
      crossing[*open] = true;
      onStack[stack.back()] = false;
      stack.pop_back();
    }
    onStack[*open] = false;
    stack.pop_back();
  }
  return crossing;
}

}  // namespace

void CSide::Append(const CSide& other) {
  for (const std::size_t cut : other.cuts)
    cuts.push_back(text.size() + cut);
  text += other.text;
  codes.insert(codes.end(), other.codes.begin(), other.codes.end());
}

bool CSide::operator==(const CSide& o) const {
  if (text != o.text || cuts != o.cuts || codes.size() != o.codes.size()) return false;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (codes[i].role != o.codes[i].role || codes[i].id != o.codes[i].id) return false;
  }
  return true;
}

void CUnitMerger::Fail(const std::string& what, const std::string& position) const {
  throw CXliffError{kEXliffRefused, m_options.name + ", " + position + ": " + what + "."};
}

void CUnitMerger::BeginSkeleton() {
  if (m_skeletonStarted) Fail("the XLIFF holds a second skeleton");
  m_skeletonStarted = true;
  m_skeletonPosition = m_position();
}

// The skeleton's text: its first line, then the plan in base64.
void CUnitMerger::SkeletonText(std::string_view text) {
  if (!m_headerDone) {
    const std::size_t end = text.find('\n');
    m_header += text.substr(0, end);
    if (m_header.size() > 200) Fail("the skeleton was not written by tagvert", m_skeletonPosition);
    if (end == std::string_view::npos) return;
    ReadHeader();
    text.remove_prefix(end + 1);
  }
  if (!m_base64Bad && !m_base64.Add(text, m_plan)) m_base64Bad = true;
}

void CUnitMerger::ReadHeader() {
  m_headerDone = true;
  const std::string magic(kSkeletonMagic);
  char planHash[17] = {}, unitsHash[17] = {};
  unsigned long long units = 0;
  if (!m_header.starts_with(magic + " ")) {
    if (m_header.starts_with(kSkeletonMagicPrefix)) {
      const std::string version = m_header.substr(0, m_header.find(' '));
      Fail("the skeleton is of another version (" + version + ") than this tagvert reads (" +
               magic + "); convert the TTX to XLIFF again",
           m_skeletonPosition);
    }
    Fail("the skeleton was not written by tagvert", m_skeletonPosition);
  }
  if (std::sscanf(m_header.c_str() + magic.size(), " %16[0-9A-F] %16[0-9A-F] %llu", planHash,
                  unitsHash, &units) != 3 ||
      std::strlen(planHash) != 16 || std::strlen(unitsHash) != 16 || units > 100000000) {
    Fail("the skeleton was not written by tagvert", m_skeletonPosition);
  }
  m_planHash = std::strtoull(planHash, nullptr, 16);
  m_unitsHash = std::strtoull(unitsHash, nullptr, 16);
  m_unitCount = static_cast<std::size_t>(units);
}

void CUnitMerger::EndSkeleton() {
  if (!m_headerDone || m_base64Bad || !m_base64.Finish()) Damaged();
  if (HashBytes(m_plan) != m_planHash) Damaged();
  ReadPlan();
  m_skeletonDone = true;
  if (m_feed != nullptr) {
    m_unitIf.assign(m_units.size(), {});
    m_feed->Skeleton(std::string_view(m_plan.data(), m_plan.size()), m_rawBytes, m_unitIf);
  }
}

// The plan's table and codes read (every byte checked), the IF outside the units left in its
// blocks for the way back.
void CUnitMerger::ReadPlan() {
  CPlanParts parts;
  CLargeString table, codes;
  std::uint64_t rawBytes = 0;
  if (!SplitPlan(m_plan, parts) || !Inflate(parts.table, table) || !Inflate(parts.codes, codes) ||
      !InflatedSize(parts.raw, rawBytes)) {
    Damaged();
  }
  const auto* p = reinterpret_cast<const std::uint8_t*>(table.data());
  const auto* const end = p + table.size();
  const auto* const codesBegin = reinterpret_cast<const std::uint8_t*>(codes.data());
  const auto* code = codesBegin;
  const auto* const codesEnd = code + codes.size();
  std::uint64_t rawSum = 0;
  auto number = [&] {
    std::uint64_t value = 0;
    if (!GetNumber(p, end, value)) Damaged();
    return value;
  };
  auto raw = [&] {
    const std::uint64_t bytes = number();
    if (bytes > rawBytes - rawSum) Damaged();
    rawSum += bytes;
    m_rawBytes.push_back(bytes);
  };
  // Each unit takes two numbers of the table, a byte at least each: a count beyond that is
  // damage, found before any room is taken for it.
  if (m_unitCount > table.size() / 2) Damaged();
  m_units.resize(m_unitCount);
  m_rawBytes.reserve(m_unitCount + 1);
  // The codes counted first, so that their table is taken once: every number of the table
  // ends on a byte below 0x80, and besides the codes' each unit has two and the end two. A
  // code takes a byte at least, so no more are counted than the codes have bytes (a damaged
  // plan is found below, as before, and room is only ever a guess).
  std::size_t numbers = 0;
  for (const char byte : table)
    numbers += (static_cast<std::uint8_t>(byte) & 0x80) == 0;
  const std::size_t others = 2 * m_unitCount + 2;
  try {
    m_codeAt.reserve(std::min(numbers > others ? numbers - others : 0, codes.size()) + 1);
  } catch (const std::bad_alloc&) {
    // The table grows as it is read.
  }
  for (CUnit& unit : m_units) {
    raw();
    unit.firstCode = m_codeAt.size();
    // Compared before it is narrowed to a size: a 32-bit build would cut a damaged count.
    const std::uint64_t count = number();
    if (count > static_cast<std::uint64_t>(end - p)) Damaged();
    unit.codes = static_cast<std::size_t>(count);
    for (std::size_t i = 0; i < unit.codes; ++i) {
      const std::uint64_t bytes = number();
      if (bytes > static_cast<std::uint64_t>(codesEnd - code) || !IsNarrowed(code, code + bytes))
        Damaged();
      m_codeAt.push_back(static_cast<std::size_t>(code - codesBegin));
      code += bytes;
    }
  }
  m_codeAt.push_back(static_cast<std::size_t>(code - codesBegin));
  raw();
  m_rawUnits = number();
  if (p != end || code != codesEnd || rawSum != rawBytes) Damaged();
  m_codes = std::move(codes);
  // The way back needs the IF outside the units only.
  m_plan.erase(0, static_cast<std::size_t>(parts.raw.data() - m_plan.data()));
}

void CUnitMerger::BeginUnit(const char* id) {
  if (!m_skeletonDone)
    Fail("the XLIFF has no skeleton before its units (it was not written by 'tagvert to-xliff')");
  const std::string text = id ? id : "";
  std::size_t number = 0;
  bool digits = !text.empty() && text.size() <= 9 && text[0] != '0';
  for (const char c : text) {
    if (c < '0' || c > '9')
      digits = false;
    else
      number = number * 10 + static_cast<std::size_t>(c - '0');
  }
  if (!digits || number == 0 || number > m_units.size()) {
    Fail("unit id '" + text + "' is unknown: the skeleton has units 1 to " +
         std::to_string(m_units.size()));
  }
  m_unitNumber = number;
  m_unit = &m_units[number - 1];
  if (m_unit->seen) Fail("unit id '" + text + "' is doubled");
  m_unit->seen = true;
}

// The unit's target as IF, its codes mapped back by id; tag damage noted.
void CUnitMerger::EndUnit(const CSide& source, const CSide& target, bool anyTarget) {
  CUnit& unit = *m_unit;
  if (source.codes.size() != unit.codes) {
    Fail(Where() + " does not match the skeleton (its source has " +
         std::to_string(source.codes.size()) + " codes where the skeleton has " +
         std::to_string(unit.codes) + "): the XLIFF was made from another document");
  }
  // The codes of the source by role and id, sorted; the source's hash on the way.
  CHash64 hash;
  CCodeIndex& byKey = m_byKey;
  byKey.clear();
  std::size_t at = 0;
  for (std::size_t i = 0; i < source.codes.size(); ++i) {
    const CCodeRef& code = source.codes[i];
    hash.Add(std::u16string_view(source.text).substr(at, source.cuts[i] - at));
    at = source.cuts[i];
    hash.AddCode(static_cast<int>(code.role), code.id);
    byKey.push_back({code.role, code.id, i});
  }
  hash.Add(std::u16string_view(source.text).substr(at));
  m_sourcesHash = FoldUnitHash(m_sourcesHash, m_unitNumber, hash.Value());
  std::sort(byKey.begin(), byKey.end());
  for (std::size_t i = 0; i < byKey.size(); ++i) {
    const CCodeKey& key = byKey[i];
    if (key.role == Role::Unknown || (i > 0 && byKey[i - 1] == key)) {
      const CCodeRef& code = source.codes[key.index];
      Fail(Where() + ": its source has an unknown or doubled code <" + code.element + " id=\"" +
           code.id + "\">");
    }
  }
  const bool translated = !m_ignoreTargets && anyTarget && !(target == source);
  // The unit's IF goes into one block that does not move: room for the most it can take (a
  // narrowed unit takes at most three bytes, and each side takes each code at most once).
  const std::size_t codeBytes = m_codeAt[unit.firstCode + unit.codes] - m_codeAt[unit.firstCode];
  CLargeString& out = m_targets.Room(
      3 * (source.text.size() + (translated ? target.text.size() : 0)) + 2 * codeBytes);
  const std::size_t base = m_targets.Base();
  const std::size_t start = out.size();
  Build(source, source, unit, nullptr, out);
  if (!translated) {
    unit.target = {base + start, out.size() - start};
    if (m_keepSources) unit.source = unit.target;
  } else {
    if (m_keepSources) {
      unit.source = {base + start, out.size() - start};
    } else {
      out.resize(start);
    }
    ++m_translated;
    unit.translated = true;
    const std::size_t targetStart = out.size();
    Build(target, source, unit, &byKey, out);
    unit.target = {base + targetStart, out.size() - targetStart};
  }
  unit.ended = true;
  m_unit = nullptr;
  if (m_feed != nullptr) {
    m_unitIf[m_unitNumber - 1] = {out.data() + (unit.target.first - base), unit.target.second};
    const std::size_t whole = m_whole;
    while (m_whole < m_units.size() && m_units[m_whole].ended)
      ++m_whole;
    if (m_whole != whole) m_feed->Ready(m_whole);
  }
}

std::string CUnitMerger::Named(const CCodeRef& code, std::string_view ifCode) const {
  std::string text = "code <" + code.element;
  if (!code.id.empty()) text += " id=\"" + code.id + "\"";
  text += ">";
  std::u16string units;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(ifCode.data());
  WidenAppend(bytes, bytes + ifCode.size(), units);
  const std::string shown = Shown(units);
  if (!shown.empty()) text += " (" + shown + ")";
  return text;
}

// The IF of `side` appended to `out`: text runs and the codes' IF. For a target (`byKey` given)
// each code is found by role and id in the source, and damage is noted.
void CUnitMerger::Build(const CSide& side, const CSide& source, const CUnit& unit,
                        const CCodeIndex* byKey, CLargeString& out) {
  std::size_t at = 0;
  if (byKey == nullptr) {
    for (std::size_t i = 0; i < side.codes.size(); ++i) {
      AppendNarrow(out, std::u16string_view(side.text).substr(at, side.cuts[i] - at));
      at = side.cuts[i];
      out += Code(unit, i);
    }
    AppendNarrow(out, std::u16string_view(side.text).substr(at));
    return;
  }
  const std::size_t n = unit.codes;
  std::vector<std::size_t> placed;  // source indexes in target order
  std::vector<bool> used(n, false);
  for (std::size_t i = 0; i < side.codes.size(); ++i) {
    AppendNarrow(out, std::u16string_view(side.text).substr(at, side.cuts[i] - at));
    at = side.cuts[i];
    const CCodeRef& code = side.codes[i];
    const CCodeKey wanted{code.role, code.id, 0};
    const auto found = std::lower_bound(byKey->begin(), byKey->end(), wanted);
    if (found == byKey->end() || !(*found == wanted)) {
      m_damage.push_back(Where() + ": " + Named(code, {}) + " is unknown");
      continue;
    }
    if (used[found->index]) {
      m_damage.push_back(Where() + ": " + Named(code, Code(unit, found->index)) + " is doubled");
      continue;
    }
    used[found->index] = true;
    placed.push_back(found->index);
    out += Code(unit, found->index);
  }
  AppendNarrow(out, std::u16string_view(side.text).substr(at));
  // Missing codes: a standalone code may go (with a warning); any other comes back at the
  // end of the unit so that the markup stays whole.
  for (std::size_t i = 0; i < n; ++i) {
    if (used[i]) continue;
    const CCodeRef& code = source.codes[i];
    if (code.role == Role::Standalone) {
      m_notes.push_back(Where() + ": " + Named(code, Code(unit, i)) +
                        " was dropped by the translation");
      continue;
    }
    m_damage.push_back(Where() + ": " + Named(code, Code(unit, i)) + " is missing");
    out += Code(unit, i);
    placed.push_back(i);
  }
  CheckOrder(placed, source, unit);
}

// Paired codes in the target must keep their order and nest as they did in the source.
void CUnitMerger::CheckOrder(const std::vector<std::size_t>& placed, const CSide& source,
                             const CUnit& unit) {
  const std::string where = Where();
  const std::vector<CCodeRef>& codes = source.codes;
  std::unordered_map<std::string, std::size_t> openOf;  // id -> source index of its Open
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (codes[i].role == Role::Open) openOf[codes[i].id] = i;
  }
  auto partner = [&](std::size_t i) -> std::optional<std::size_t> {
    if (codes[i].role != Role::Close) return std::nullopt;
    const auto found = openOf.find(codes[i].id);
    if (found == openOf.end()) return std::nullopt;
    return found->second;
  };
  std::vector<std::size_t> sourceOrder(codes.size());
  for (std::size_t i = 0; i < codes.size(); ++i)
    sourceOrder[i] = i;
  const std::vector<bool> crossedBefore = Crossing(sourceOrder, codes.size(), partner);
  std::vector<bool> seen(codes.size(), false);
  for (const std::size_t i : placed) {
    if (const auto open = partner(i); open && !seen[*open]) {
      m_damage.push_back(where + ": " + Named(codes[i], Code(unit, i)) + " comes before its start");
    }
    seen[i] = true;
  }
  const std::vector<bool> crossedNow = Crossing(placed, codes.size(), partner);
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (crossedNow[i] && !crossedBefore[i] && codes[i].role == Role::Open) {
      m_damage.push_back(where + ": " + Named(codes[i], Code(unit, i)) +
                         " and its end no longer nest with the codes around them");
    }
  }
}

void CUnitMerger::Finish(CMergeResult& result, std::u16string* source, const std::string& end) {
  if (!m_skeletonDone) {
    Fail("the XLIFF holds no tagvert skeleton (it was not written by 'tagvert to-xliff')", end);
  }
  for (std::size_t i = 0; i < m_units.size(); ++i) {
    if (!m_units[i].seen) {
      Fail("unit " + std::to_string(i + 1) + " of the skeleton is missing", end);
    }
  }
  if (m_sourcesHash != m_unitsHash) {
    Fail(
        "the units do not rebuild the document the skeleton was made from (units from "
        "another document, or sources changed)",
        m_skeletonPosition);
  }
  if (!m_damage.empty() && m_options.strict) {
    std::string sentence = m_options.name + ": tag damage (--strict), " + m_damage.front();
    if (m_damage.size() > 1) sentence += " (and " + std::to_string(m_damage.size() - 1) + " more)";
    throw CXliffError{kEXliffTagDamage, sentence + "; no output was written."};
  }
  for (const std::string& damage : m_damage)
    result.warnings.push_back(m_options.name + ": " + damage + ".");
  for (const std::string& note : m_notes)
    result.warnings.push_back(m_options.name + ": " + note + ".");
  result.units_ = m_units.size();
  result.translated = m_translated;
  // Fed, the IF stays where the way back reads it.
  if (m_feed != nullptr) return;
  result.rawUnits = m_rawUnits;
  result.rawBytes = std::move(m_rawBytes);
  result.spans.reserve(m_units.size());
  result.unitTranslated.reserve(m_units.size());
  for (const CUnit& unit : m_units) {
    result.spans.push_back(unit.target);
    result.unitTranslated.push_back(unit.translated);
  }
  result.plan = std::move(m_plan);
  result.units = m_targets.Joined();
  if (source != nullptr) {
    CMergeResult sources;
    sources.plan = result.plan;
    sources.rawBytes = result.rawBytes;
    sources.units = result.units;
    for (const CUnit& unit : m_units)
      sources.spans.push_back(unit.source);
    *source = sources.Joined();
  }
  m_units.clear();
}

CLargeString CBlockStore::Joined() {
  if (m_blocks.size() == 1) return std::move(m_blocks.front());
  CLargeString joined;
  joined.reserve(m_base + (m_blocks.empty() ? 0 : m_blocks.back().size()));
  for (const CLargeString& block : m_blocks)
    joined += block;
  return joined;
}

std::u16string CMergeResult::Joined() const {
  CMergedIfStream stream(*this);
  std::u16string joined;
  std::uint8_t bytes[4096];
  while (const std::uint32_t read = stream.Read(bytes, sizeof bytes)) {
    for (std::uint32_t k = 0; k + 1 < read; k += 2)
      joined += static_cast<char16_t>(bytes[k] | (bytes[k + 1] << 8));
  }
  return joined;
}

void CMergedIfStream::ReadUnits(const std::function<void(std::u16string_view)>& take) {
  std::vector<std::uint8_t> bytes(1U << 16);
  std::u16string units;
  std::uint32_t kept = 0;  // the first byte of a unit the last read cut
  while (const std::uint32_t read =
             Read(bytes.data() + kept, static_cast<std::uint32_t>(bytes.size()) - kept)) {
    const std::uint32_t have = kept + read;
    units.resize(have / 2);
    for (std::size_t k = 0; k < units.size(); ++k)
      units[k] = static_cast<char16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
    take(units);
    kept = have % 2;
    if (kept != 0) bytes[0] = bytes[have - 1];
  }
}

CMergedIfStream::CMergedIfStream(CMergeResult merged)
    : m_merged(std::move(merged)), m_reader(m_merged.plan) {}

// The IF outside the units and the number of units, once known; false when the merge failed
// before its skeleton.
bool CMergedIfStream::Start() {
  if (m_feed == nullptr) {
    m_rawBytes = &m_merged.rawBytes;
    m_units = m_merged.spans.size();
  } else {
    if (!m_feed->WaitSkeleton()) return false;
    m_reader = CPlanReader(m_feed->Raw());
    m_rawBytes = &m_feed->RawBytes();
    m_units = m_feed->Units().size();
  }
  m_rawLeft = m_rawBytes->empty() ? 0 : (*m_rawBytes)[0];
  m_started = true;
  return true;
}

// The next unit's IF becomes pending; false when it never comes (the merge failed).
bool CMergedIfStream::NextUnit() {
  const std::size_t unit = m_unit++;
  if (m_feed == nullptr) {
    const auto& [at, bytes] = m_merged.spans[unit];
    m_pendingAt = reinterpret_cast<const std::uint8_t*>(m_merged.units.data()) + at;
    m_pending = bytes;
  } else {
    if (!m_feed->WaitUnit(unit)) return false;
    const auto& [at, bytes] = m_feed->Units()[unit];
    m_pendingAt = reinterpret_cast<const std::uint8_t*>(at);
    m_pending = bytes;
  }
  m_rawLeft = m_unit < m_rawBytes->size() ? (*m_rawBytes)[m_unit] : 0;
  return true;
}

// Widens narrowed units from `at` into out[done, size), a unit cut by the end of the buffer
// carried; returns the bytes written.
std::uint32_t CMergedIfStream::WidenInto(const std::uint8_t*& at, const std::uint8_t* end,
                                         std::uint8_t* out, std::uint32_t done,
                                         std::uint32_t size) {
  const std::size_t room = (size - done) / 2;
  if (room != 0) return static_cast<std::uint32_t>(2 * Widen(at, end, out + done, room));
  std::uint8_t two[2];
  Widen(at, end, two, 1);
  out[done] = two[0];
  m_carry = two[1];
  return 1;
}

std::uint32_t CMergedIfStream::Read(void* buffer, std::uint32_t size) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint32_t done = 0;
  if (!m_started && !Start()) return 0;
  while (done < size) {
    if (m_carry >= 0) {
      out[done++] = static_cast<std::uint8_t>(m_carry);
      m_carry = -1;
      continue;
    }
    if (m_pending != 0) {
      // A unit's IF.
      const std::uint8_t* const from = m_pendingAt;
      done += WidenInto(m_pendingAt, from + m_pending, out, done, size);
      m_pending -= static_cast<std::size_t>(m_pendingAt - from);
      continue;
    }
    if (m_rawLeft == 0) {
      // The stretch before a unit is done: the unit's IF, then the stretch after it.
      if (m_unit >= m_units || !NextUnit()) break;
      continue;
    }
    if (m_at == m_end) {
      std::string_view block;
      if (!m_reader.Next(block)) break;
      m_at = reinterpret_cast<const std::uint8_t*>(block.data());
      m_end = m_at + block.size();
      continue;
    }
    const std::uint8_t* const from = m_at;
    const std::uint8_t* const end =
        m_at + std::min<std::uint64_t>(m_rawLeft, static_cast<std::uint64_t>(m_end - m_at));
    done += WidenInto(m_at, end, out, done, size);
    m_rawLeft -= static_cast<std::uint64_t>(m_at - from);
  }
  m_position += done;
  return done;
}

bool CMergedIfStream::Size(std::uint64_t& size) {
  if (m_feed != nullptr) return false;
  // The units' IF counted as units: every byte but those that continue a unit.
  std::uint64_t units = 0;
  for (const char byte : m_merged.units)
    units += (static_cast<std::uint8_t>(byte) & 0xC0) != 0x80;
  size = (m_merged.rawUnits + units) * 2;
  return true;
}

}  // namespace tagvert::xliff
