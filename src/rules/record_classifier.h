// Tagvert: classification of an element table by a rule set (ClassifyRecords).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "markup/element_table.h"

namespace tagvert {

class CRules;

/// Classifies the records of a paired table (RuleType, Algorithm, Whitespace, and the
/// decisions of paired start tags spread over what they enclose), in one walk. The rules that can
/// apply are found once per distinct name, and their outcome is kept per name when none of them has
/// conditions. `rules` is not owned; null applies no rules. The records after a skipping paired
/// start tag up to its end, which StructureRecords collapses into it, keep what they had unless a
/// start tag among them ends beyond that end. Checks the stop flag as CheckStopAt does.
/// Returns for each record the index of the first later record with the same PairId (the
/// number of records when there is none), which the walk uses as each start tag's end: the
/// table's workspace, valid until the next pass that uses it (PairRecords).
const CRecordIndexVector& ClassifyRecords(CElementTable& table, const CRules* rules);

}  // namespace tagvert
