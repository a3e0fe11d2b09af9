// Tagvert: the code pages of single-byte mode: table lookups in both directions.
// SPDX-License-Identifier: Apache-2.0
#include "storage/code_page_tables.h"

#include <algorithm>
#include <array>

#include "storage/code_page_tab.h"

namespace tagvert {
namespace {

// The reverse of one table, sorted by unit, so that encoding is a binary search instead of a
// scan of 128 entries for every character written.
struct CReverseEntry {
  char16_t unit;
  std::uint8_t byte;
};
using CReverseTable = std::array<CReverseEntry, 128>;

constexpr CReverseTable MakeReverse(const char16_t (&table)[128]) {
  CReverseTable reverse{};
  for (std::size_t i = 0; i < 128; ++i) {
    reverse[i] = {table[i], static_cast<std::uint8_t>(0x80 + i)};
  }
  std::sort(reverse.begin(), reverse.end(),
            [](const CReverseEntry& a, const CReverseEntry& b) { return a.unit < b.unit; });
  return reverse;
}

constexpr bool HasNoDuplicate(const CReverseTable& reverse) {
  for (std::size_t i = 1; i < reverse.size(); ++i) {
    if (reverse[i - 1].unit == reverse[i].unit) return false;
  }
  return true;
}

constexpr CReverseTable kReverse1251 = MakeReverse(detail::kWindows1251);
constexpr CReverseTable kReverseKoi8R = MakeReverse(detail::kKoi8R);
constexpr CReverseTable kReverseKoi8U = MakeReverse(detail::kKoi8U);
constexpr CReverseTable kReverseCp866 = MakeReverse(detail::kCp866);
constexpr CReverseTable kReverseIso8859_5 = MakeReverse(detail::kIso8859_5);

static_assert(HasNoDuplicate(kReverse1251) && HasNoDuplicate(kReverseKoi8R) &&
                  HasNoDuplicate(kReverseKoi8U) && HasNoDuplicate(kReverseCp866) &&
                  HasNoDuplicate(kReverseIso8859_5),
              "a code-page table holds a unit twice");

const CReverseTable* ReverseTable(std::int16_t index) {
  switch (index) {
    case kCodePageWindows1251:
      return &kReverse1251;
    case kCodePageKoi8R:
      return &kReverseKoi8R;
    case kCodePageKoi8U:
      return &kReverseKoi8U;
    case kCodePageCp866:
      return &kReverseCp866;
    case kCodePageIso8859_5:
      return &kReverseIso8859_5;
    default:
      return nullptr;
  }
}

}  // namespace

const char16_t* CodePageTable(std::int16_t index) {
  switch (index) {
    case kCodePageWindows1251:
      return detail::kWindows1251;
    case kCodePageKoi8R:
      return detail::kKoi8R;
    case kCodePageKoi8U:
      return detail::kKoi8U;
    case kCodePageCp866:
      return detail::kCp866;
    case kCodePageIso8859_5:
      return detail::kIso8859_5;
    default:
      return nullptr;
  }
}

std::uint8_t CodePageTableEncode(std::int16_t index, char16_t unit) {
  const CReverseTable* reverse = ReverseTable(index);
  if (reverse == nullptr) return 0;
  const auto it =
      std::lower_bound(reverse->begin(), reverse->end(), unit,
                       [](const CReverseEntry& entry, char16_t u) { return entry.unit < u; });
  return (it != reverse->end() && it->unit == unit) ? it->byte : 0;
}

}  // namespace tagvert
