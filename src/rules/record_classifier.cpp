// Tagvert: classification of an element table by a rule set.
// SPDX-License-Identifier: Apache-2.0
#include "rules/record_classifier.h"

#include <cstdint>
#include <vector>

#include "markup/element_table.h"
#include "rules/record_classifier_walk.h"

namespace tagvert {

namespace detail {

// For each record, the first later record with the same PairId: walking backwards, the last
// position seen for an id is the one. Exact also when ids repeat after the counter wrapped. The
// first pairing, when it ran over the table just before, has linked the records that take an id
// already (CElementTable::NextBySameIdReady), and the walk is saved.
void NextWithSamePairId(CElementTable& table) {
  if (table.NextBySameIdReady()) return;
  const CRecordVector& records = table.Records();
  const auto count = static_cast<std::uint32_t>(records.size());
  CRecordIndexVector& next = table.Workspace();
  next.assign(count, count);
  std::vector<std::uint32_t> seen(0x10000, count);
  for (std::uint32_t i = count; i-- > 0;) {
    table.CheckStopAt(count - 1 - i);
    std::uint32_t& last = seen[records[i].pairId];
    next[i] = last;
    last = i;
  }
}

}  // namespace detail

const CRecordIndexVector& ClassifyRecords(CElementTable& table, const CRules* rules) {
  detail::ClassifyRecordsWalk<false, true>(
      table, rules, [](std::uint32_t, const std::uint32_t*, CElementRecord&) {});
  return table.Workspace();
}

}  // namespace tagvert
