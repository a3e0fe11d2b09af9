// Tagvert: the counts of the IF a conversion would write, taken from the records it would be
// written from.
// SPDX-License-Identifier: Apache-2.0
#include "cli/if_record_count.h"

#include <cstdint>

#include "markup/element_table.h"
#include "storage/input_scan.h"

namespace tagvert::cli {

namespace {

// A text as the IF writer writes it (its buffer readable up to `limit`): a wide one as it is but
// for each unit of the code range, which becomes an inline tag group (its reference the group's
// content); a narrow one, which holds no such unit, as it is.
void CountText(CIfCounter& counter, const char16_t* p, const char16_t* end, const char16_t*) {
  for (;;) {
    p = counter.Text(p, end);
    if (p == end) return;
    counter.TagGroup();
    ++p;
  }
}

void CountText(CIfCounter& counter, const std::uint8_t* p, const std::uint8_t* end,
               const std::uint8_t* limit) {
  counter.Text(p, end, limit);
}

// A text marked kRecordNbsp: its pieces between the U+00A0 as texts, each U+00A0 an inline tag
// group.
template <class Unit>
void CountNbspText(CIfCounter& counter, const Unit* p, const Unit* end, const Unit* limit) {
  for (;;) {
    const Unit* const nbsp = FindUnitOf(p, end, 0x00A0, 0x00A0);
    CountText(counter, p, nbsp, limit);
    if (nbsp == end) return;
    counter.TagGroup();
    p = nbsp + 1;
  }
}

}  // namespace

void CountTableIf(const CElementTable& table, CIfCounter& counter) {
  for (const CElementRecord& record : table.Records()) {
    if (record.IsTag()) {
      // Every tag writes its tag group, with its flags and reserve groups around it (codes that
      // end the text run as the group does); a removed one writes only its block mark, and an
      // inline one removed writes nothing, so that the texts around it make one run.
      if (record.algorithm != Algorithm::Remove) {
        counter.TagGroup();
      } else if (record.GetRuleType() == RuleType::Block) {
        counter.Code();
      }
      continue;
    }
    table.VisitTextInBuffer(record, [&](const auto* units, std::size_t size, const auto* limit) {
      // A text emptied by its white space mode (about a tenth of the records) writes nothing.
      if (size == 0) return;
      if ((record.bits & CElementRecord::kRecordNbsp) != 0) {
        CountNbspText(counter, units, units + size, limit);
      } else {
        CountText(counter, units, units + size, limit);
      }
    });
  }
}

}  // namespace tagvert::cli
