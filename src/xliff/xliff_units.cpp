// Tagvert: the XLIFF merge without the XML: the skeleton decoded into the IF outside the units
// and each unit's codes, each unit's target (or source) mapped back to IF by code id, tag damage
// noted, and the merged IF given as a stream.
// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <optional>

#include "xliff/xliff_merge.h"
#include "xliff/xliff_text.h"

namespace tagvert::xliff {

namespace {

// The source text of the tag in a code's IF, for messages.
std::string Shown(std::u16string_view code) {
  std::size_t at = code.find(u'\xE805');
  std::u16string_view shown;
  if (at != std::u16string_view::npos && at + 2 <= code.size()) {
    shown = code.substr(at + 2);
    std::size_t end = 0;
    while (end < shown.size() && (shown[end] & 0xF000) != 0xE000)
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
}

// One walk over the plan: every byte checked, the codes of each unit kept.
void CUnitMerger::ReadPlan() {
  m_units.reserve(m_unitCount);
  CPlanReader reader(m_plan);
  std::string_view block;
  bool inUnit = false;
  bool inCode = false;
  while (reader.Next(block)) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(block.data());
    const auto* const end = p + block.size();
    while (p < end) {
      const std::uint8_t* const from = p;
      std::size_t units = 0;
      if (!ScanPlanChars(p, end, units)) Damaged();
      if (inCode) {
        const std::uint8_t* code = from;
        WidenAppend(code, p, m_codes);
        m_codeSpans.back().second = m_codes.size() - m_codeSpans.back().first;
      } else if (units != 0) {
        if (inUnit) Damaged();  // a unit holds nothing but its codes
        m_rawUnits += units;
      }
      if (p == end) break;
      switch (*p++) {
        case kPlanUnit:
          if (inUnit || m_units.size() == m_unitCount) Damaged();
          inUnit = true;
          m_units.emplace_back();
          m_units.back().firstCode = m_codeSpans.size();
          break;
        case kPlanCode:
          if (!inUnit) Damaged();
          inCode = true;
          m_codeSpans.emplace_back(m_codes.size(), 0);
          ++m_units.back().codes;
          break;
        default:  // kPlanUnitEnd
          if (!inUnit) Damaged();
          inUnit = inCode = false;
          break;
      }
    }
  }
  if (reader.Damaged() || inUnit || m_units.size() != m_unitCount) Damaged();
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
  CCodeIndex byKey;
  byKey.reserve(source.codes.size());
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
  const bool translated = anyTarget && !(target == source);
  const std::size_t start = m_targets.size();
  Build(source, source, unit, nullptr, m_targets);
  if (!translated) {
    unit.target = {start, m_targets.size() - start};
    if (m_keepSources) unit.source = unit.target;
  } else {
    if (m_keepSources) {
      unit.source = {start, m_targets.size() - start};
    } else {
      m_targets.resize(start);
    }
    ++m_translated;
    const std::size_t targetStart = m_targets.size();
    Build(target, source, unit, &byKey, m_targets);
    unit.target = {targetStart, m_targets.size() - targetStart};
  }
  m_unit = nullptr;
}

std::string CUnitMerger::Named(const CCodeRef& code, std::u16string_view ifCode) const {
  std::string text = "code <" + code.element;
  if (!code.id.empty()) text += " id=\"" + code.id + "\"";
  text += ">";
  const std::string shown = Shown(ifCode);
  if (!shown.empty()) text += " (" + shown + ")";
  return text;
}

// The IF of `side` appended to `out`: text runs and the codes' IF. For a target (`byKey` given)
// each code is found by role and id in the source, and damage is noted.
void CUnitMerger::Build(const CSide& side, const CSide& source, const CUnit& unit,
                        const CCodeIndex* byKey, std::u16string& out) {
  std::size_t at = 0;
  if (byKey == nullptr) {
    for (std::size_t i = 0; i < side.codes.size(); ++i) {
      out.append(side.text, at, side.cuts[i] - at);
      at = side.cuts[i];
      out += Code(unit, i);
    }
    out.append(side.text, at);
    return;
  }
  const std::size_t n = unit.codes;
  std::vector<std::size_t> placed;  // source indexes in target order
  std::vector<bool> used(n, false);
  for (std::size_t i = 0; i < side.codes.size(); ++i) {
    out.append(side.text, at, side.cuts[i] - at);
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
  out.append(side.text, at);
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
  result.rawUnits = m_rawUnits;
  result.spans.reserve(m_units.size());
  for (const CUnit& unit : m_units)
    result.spans.push_back(unit.target);
  result.plan = std::move(m_plan);
  result.units = std::move(m_targets);
  if (source != nullptr) {
    CMergeResult sources;
    sources.plan = result.plan;
    sources.units = result.units;
    for (const CUnit& unit : m_units)
      sources.spans.push_back(unit.source);
    *source = sources.Joined();
  }
  m_units.clear();
}

std::u16string CMergeResult::Joined() const {
  std::u16string out;
  CPlanReader reader(plan);
  std::string_view block;
  std::size_t unit = 0;
  bool skipping = false;
  while (reader.Next(block)) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(block.data());
    const auto* const end = p + block.size();
    while (p < end) {
      if (skipping) {
        while (p < end && *p != kPlanUnitEnd)
          ++p;
        if (p < end) {
          ++p;
          skipping = false;
        }
        continue;
      }
      WidenAppend(p, end, out);
      if (p < end && *p++ == kPlanUnit) {
        out.append(units, spans[unit].first, spans[unit].second);
        ++unit;
        skipping = true;
      }
    }
  }
  return out;
}

CMergedIfStream::CMergedIfStream(CMergeResult merged)
    : m_merged(std::move(merged)), m_reader(m_merged.plan) {}

std::uint32_t CMergedIfStream::Read(void* buffer, std::uint32_t size) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint32_t done = 0;
  while (done < size) {
    if (m_carry >= 0) {
      out[done++] = static_cast<std::uint8_t>(m_carry);
      m_carry = -1;
      continue;
    }
    if (m_pending != 0) {
      // A unit's IF: whole units copied, a last odd byte carried.
      const std::size_t bytes = std::min<std::size_t>(m_pending, size - done);
      const char16_t* from = m_merged.units.data() + m_pendingAt / 2;
      const std::size_t whole = bytes / 2;
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out + done, from, whole * 2);
      } else {
        for (std::size_t k = 0; k < whole; ++k) {
          out[done + 2 * k] = static_cast<std::uint8_t>(from[k] & 0xFF);
          out[done + 2 * k + 1] = static_cast<std::uint8_t>(from[k] >> 8);
        }
      }
      done += static_cast<std::uint32_t>(whole * 2);
      m_pendingAt += whole * 2;
      m_pending -= whole * 2;
      if (whole * 2 < bytes) {
        const char16_t u = from[whole];
        out[done++] = static_cast<std::uint8_t>(u & 0xFF);
        m_carry = u >> 8;
        m_pendingAt += 2;
        m_pending -= 2;
      }
      continue;
    }
    if (m_at == m_end) {
      std::string_view block;
      if (!m_reader.Next(block)) break;
      m_at = reinterpret_cast<const std::uint8_t*>(block.data());
      m_end = m_at + block.size();
      continue;
    }
    if (m_skipping) {
      const void* unitEnd = std::memchr(m_at, kPlanUnitEnd, static_cast<std::size_t>(m_end - m_at));
      m_skipping = unitEnd == nullptr;
      m_at = unitEnd == nullptr ? m_end : static_cast<const std::uint8_t*>(unitEnd) + 1;
      continue;
    }
    if (*m_at >= kPlanUnit) {
      if (*m_at++ == kPlanUnit && m_unit < m_merged.spans.size()) {
        const auto& [at, units] = m_merged.spans[m_unit++];
        m_pendingAt = at * 2;
        m_pending = units * 2;
        m_skipping = true;
      }
      continue;
    }
    const std::size_t room = (size - done) / 2;
    if (room == 0) {
      std::uint8_t two[2];
      Widen(m_at, m_end, two, 1);
      out[done++] = two[0];
      m_carry = two[1];
      continue;
    }
    done += static_cast<std::uint32_t>(2 * Widen(m_at, m_end, out + done, room));
  }
  m_position += done;
  return done;
}

bool CMergedIfStream::Size(std::uint64_t& size) {
  size = (m_merged.rawUnits + m_merged.units.size()) * 2;
  return true;
}

}  // namespace tagvert::xliff
