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

// The skeleton's text: runs between escapes go in bulk where they belong.
void CUnitMerger::SkeletonText(std::string_view text) {
  m_buffer.clear();
  AppendUtf16(m_buffer, text);
  std::u16string_view rest = m_buffer;
  while (!rest.empty()) {
    if (!m_headerDone || m_escape != EscapeState::None) {
      Skeleton(rest.front());
      rest.remove_prefix(1);
      continue;
    }
    const std::size_t run = std::min(rest.find(kEscape), rest.size());
    if (run > 0) {
      if (!m_unitOpen) {
        m_raw += rest.substr(0, run);
      } else {
        if (m_units.back().codes.empty()) Damaged();
        m_units.back().codes.back() += rest.substr(0, run);
      }
      rest.remove_prefix(run);
    }
    if (!rest.empty()) {
      m_escape = EscapeState::After;
      rest.remove_prefix(1);
    }
  }
}

// The skeleton, one unit at a time (escapes may be cut between calls).
void CUnitMerger::Skeleton(char16_t u) {
  if (!m_headerDone) {
    if (u != u'\n') {
      if (m_header.size() > 200) Fail("the skeleton was not written by tagvert");
      m_header += static_cast<char>(u < 0x80 ? u : '?');
      return;
    }
    ReadHeader();
    return;
  }
  switch (m_escape) {
    case EscapeState::None:
      if (u == kEscape) {
        m_escape = EscapeState::After;
      } else {
        Put(u);
      }
      return;
    case EscapeState::After:
      if (u == u'x') {
        m_escape = EscapeState::Hex;
        m_hexLeft = 4;
        m_hexValue = 0;
      } else if (u == u'[') {
        if (m_unitOpen) Damaged();
        m_escape = EscapeState::Number;
        m_number = 0;
      } else if (u == u'|') {
        if (!m_unitOpen) Damaged();
        m_units.back().codes.emplace_back();
        m_escape = EscapeState::None;
      } else if (u == u']') {
        if (!m_unitOpen) Damaged();
        m_unitOpen = false;
        m_rawCuts.push_back(m_raw.size());
        m_escape = EscapeState::None;
      } else {
        Damaged();
      }
      return;
    case EscapeState::Hex: {
      const int v = u >= u'0' && u <= u'9' ? u - u'0' : u >= u'A' && u <= u'F' ? u - u'A' + 10 : -1;
      if (v < 0) Damaged();
      m_hexValue = static_cast<char16_t>((m_hexValue << 4) | v);
      if (--m_hexLeft == 0) {
        m_escape = EscapeState::None;
        Put(m_hexValue);
      }
      return;
    }
    case EscapeState::Number:
      if (u >= u'0' && u <= u'9' && m_number < 100000000) {
        m_number = m_number * 10 + (u - u'0');
      } else if (u == u';' && m_number == m_units.size() + 1 && m_number <= m_unitCount) {
        m_units.emplace_back();
        m_unitOpen = true;
        m_escape = EscapeState::None;
      } else {
        Damaged();
      }
      return;
  }
}

void CUnitMerger::Put(char16_t u) {
  if (!m_unitOpen) {
    m_raw += u;
    return;
  }
  if (m_units.back().codes.empty()) Damaged();
  m_units.back().codes.back() += u;
}

void CUnitMerger::ReadHeader() {
  m_headerDone = true;
  const std::string magic(kSkeletonMagic);
  char fingerprint[17] = {};
  unsigned long long units = 0;
  if (!m_header.starts_with(magic + " ") ||
      std::sscanf(m_header.c_str() + magic.size(), " %16[0-9A-F] %llu", fingerprint, &units) != 2 ||
      std::strlen(fingerprint) != 16) {
    Fail("the skeleton was not written by tagvert", m_skeletonPosition);
  }
  m_fingerprint = std::strtoull(fingerprint, nullptr, 16);
  m_unitCount = static_cast<std::size_t>(units);
}

void CUnitMerger::EndSkeleton() {
  if (!m_headerDone || m_unitOpen || m_escape != EscapeState::None ||
      m_units.size() != m_unitCount) {
    Damaged();
  }
  m_skeletonDone = true;
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
  const std::string where = "unit " + std::to_string(m_unitNumber);
  if (source.codes.size() != unit.codes.size()) {
    Fail(where + " does not match the skeleton (its source has " +
         std::to_string(source.codes.size()) + " codes where the skeleton has " +
         std::to_string(unit.codes.size()) + "): the XLIFF was made from another document");
  }
  // The codes of the source by role and id.
  CCodeIndex byKey;
  auto key = [](const CCodeRef& c) {
    return std::to_string(static_cast<int>(c.role)) + ':' + c.id;
  };
  for (std::size_t i = 0; i < source.codes.size(); ++i) {
    if (source.codes[i].role == Role::Unknown || !byKey.emplace(key(source.codes[i]), i).second) {
      Fail(where + ": its source has an unknown or doubled code <" + source.codes[i].element +
           " id=\"" + source.codes[i].id + "\">");
    }
  }
  const bool translated = anyTarget && !(target == source);
  if (!translated) {
    unit.target = Build(source, source, unit, nullptr, where);
    unit.sourceIsTarget = true;
  } else {
    unit.source = Build(source, source, unit, nullptr, where);
    ++m_translated;
    unit.target = Build(target, source, unit, &byKey, where);
  }
  // The merged IF of a unit is held until the end; the XLIFF's own text is not.
  m_unit = nullptr;
}

std::string CUnitMerger::Named(const CCodeRef& code, const std::u16string& ifCode) const {
  std::string text = "code <" + code.element;
  if (!code.id.empty()) text += " id=\"" + code.id + "\"";
  text += ">";
  const std::string shown = Shown(ifCode);
  if (!shown.empty()) text += " (" + shown + ")";
  return text;
}

// The IF of `side`: text runs and the codes' IF. For a target (`byKey` given) each code is
// found by role and id in the source, and damage is noted.
std::u16string CUnitMerger::Build(const CSide& side, const CSide& source, const CUnit& unit,
                                  const CCodeIndex* byKey, const std::string& where) {
  std::u16string out;
  std::size_t at = 0;
  if (byKey == nullptr) {
    for (std::size_t i = 0; i < side.codes.size(); ++i) {
      out.append(side.text, at, side.cuts[i] - at);
      at = side.cuts[i];
      out += unit.codes[i];
    }
    out.append(side.text, at);
    return out;
  }
  const std::size_t n = unit.codes.size();
  std::vector<std::size_t> placed;  // source indexes in target order
  std::vector<bool> used(n, false);
  for (std::size_t i = 0; i < side.codes.size(); ++i) {
    out.append(side.text, at, side.cuts[i] - at);
    at = side.cuts[i];
    const CCodeRef& code = side.codes[i];
    const auto found = byKey->find(std::to_string(static_cast<int>(code.role)) + ':' + code.id);
    if (found == byKey->end()) {
      m_damage.push_back(where + ": " + Named(code, {}) + " is unknown");
      continue;
    }
    if (used[found->second]) {
      m_damage.push_back(where + ": " + Named(code, unit.codes[found->second]) + " is doubled");
      continue;
    }
    used[found->second] = true;
    placed.push_back(found->second);
    out += unit.codes[found->second];
  }
  out.append(side.text, at);
  // Missing codes: a standalone code may go (with a warning); any other comes back at the
  // end of the unit so that the markup stays whole.
  for (std::size_t i = 0; i < n; ++i) {
    if (used[i]) continue;
    const CCodeRef& code = source.codes[i];
    if (code.role == Role::Standalone) {
      m_notes.push_back(where + ": " + Named(code, unit.codes[i]) +
                        " was dropped by the translation");
      continue;
    }
    m_damage.push_back(where + ": " + Named(code, unit.codes[i]) + " is missing");
    out += unit.codes[i];
    placed.push_back(i);
  }
  CheckOrder(placed, source, where, unit);
  return out;
}

// Paired codes in the target must keep their order and nest as they did in the source.
void CUnitMerger::CheckOrder(const std::vector<std::size_t>& placed, const CSide& source,
                             const std::string& where, const CUnit& unit) {
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
      m_damage.push_back(where + ": " + Named(codes[i], unit.codes[i]) + " comes before its start");
    }
    seen[i] = true;
  }
  const std::vector<bool> crossedNow = Crossing(placed, codes.size(), partner);
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (crossedNow[i] && !crossedBefore[i] && codes[i].role == Role::Open) {
      m_damage.push_back(where + ": " + Named(codes[i], unit.codes[i]) +
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
  CFingerprint fingerprint;
  std::size_t at = 0;
  for (std::size_t i = 0; i < m_units.size(); ++i) {
    const CUnit& unit = m_units[i];
    const std::u16string_view raw = std::u16string_view(m_raw).substr(at, m_rawCuts[i] - at);
    const std::u16string& unitSource = unit.sourceIsTarget ? unit.target : unit.source;
    fingerprint.Add(raw);
    fingerprint.Add(unitSource);
    if (source != nullptr) {
      *source += raw;
      *source += unitSource;
    }
    at = m_rawCuts[i];
  }
  fingerprint.Add(std::u16string_view(m_raw).substr(at));
  if (source != nullptr) *source += std::u16string_view(m_raw).substr(at);
  if (fingerprint.Value() != m_fingerprint) {
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
  result.raw = std::move(m_raw);
  result.cuts = std::move(m_rawCuts);
  result.targets.reserve(m_units.size());
  for (CUnit& unit : m_units)
    result.targets.push_back(std::move(unit.target));
  m_units.clear();
}

std::u16string CMergeResult::Joined() const {
  std::u16string units;
  std::size_t at = 0;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    units.append(raw, at, cuts[i] - at);
    units += targets[i];
    at = cuts[i];
  }
  units.append(raw, at);
  return units;
}

std::uint32_t CMergedIfStream::Read(void* buffer, std::uint32_t size) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint32_t done = 0;
  while (done < size) {
    // The current part: a stretch of the skeleton (even parts) or a unit (odd parts).
    const std::size_t n = m_merged.targets.size();
    if (m_part > 2 * n) break;
    std::u16string_view part;
    if (m_part % 2 == 1) {
      part = m_merged.targets[m_part / 2];
    } else {
      const std::size_t begin = m_part == 0 ? 0 : m_merged.cuts[m_part / 2 - 1];
      const std::size_t end = m_part / 2 < n ? m_merged.cuts[m_part / 2] : m_merged.raw.size();
      part = std::u16string_view(m_merged.raw).substr(begin, end - begin);
    }
    const std::size_t bytes = part.size() * 2;
    if (m_offset >= bytes) {
      ++m_part;
      m_offset = 0;
      continue;
    }
    while (done < size && m_offset < bytes) {
      if (m_offset % 2 == 0 && size - done >= 2) {
        // Whole units at a time.
        const std::size_t units = std::min<std::size_t>((size - done) / 2, (bytes - m_offset) / 2);
        const char16_t* from = part.data() + m_offset / 2;
        if constexpr (std::endian::native == std::endian::little) {
          std::memcpy(out + done, from, units * 2);
        } else {
          for (std::size_t k = 0; k < units; ++k) {
            out[done + 2 * k] = static_cast<std::uint8_t>(from[k] & 0xFF);
            out[done + 2 * k + 1] = static_cast<std::uint8_t>(from[k] >> 8);
          }
        }
        done += static_cast<std::uint32_t>(units * 2);
        m_offset += units * 2;
        continue;
      }
      const char16_t unit = part[m_offset / 2];
      out[done++] = static_cast<std::uint8_t>(m_offset % 2 == 0 ? unit & 0xFF : unit >> 8);
      ++m_offset;
    }
  }
  m_position += done;
  return done;
}

bool CMergedIfStream::Size(std::uint64_t& size) {
  size = m_merged.raw.size() * 2;
  for (const std::u16string& target : m_merged.targets)
    size += target.size() * 2;
  return true;
}

}  // namespace tagvert::xliff
