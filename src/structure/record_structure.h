// Tagvert: the structuring passes over a classified element table (StructureRecords).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "markup/element_table.h"

namespace tagvert {

class CRules;

/// Structures a classified table (skipped blocks collapsed, texts normalised and decoded,
/// no-break spaces cut out, ut placeholders resolved) in one walk that compacts the records in
/// place, followed by the second pairing:
/// - a skipped block (a TagPairedOpen with Algorithm skip, up to `next[start]`, the first later
///   record with its PairId, or the end) becomes its start record, whose text is the run of the
///   source from the start tag through the end tag; the records inside are dropped. Its
///   "formatX" attribute is only noted (kRecordFormat): nothing after this pass reads it, so
///   its value is never built;
/// - a text run is normalized by its Whitespace mode and its references are resolved; one that
///   then holds U+00A0 gets a space after each and kRecordNbsp, and the writer cuts it into its
///   pieces;
/// - a record named "ut" takes its name, type and block mark from its attributes.
/// `next` is what ClassifyRecords returned for the table (its workspace, which the second
/// pairing then reuses). Checks the stop flag as CheckStopAt does.
void StructureRecords(CElementTable& table, const CRecordIndexVector& next);

/// ClassifyRecords(table, rules) followed by StructureRecords with what it returned, in one walk
/// over the records: the structuring takes each record as soon as the classification is done
/// with it. The same records and pair ids as the two passes give.
void ClassifyAndStructureRecords(CElementTable& table, const CRules* rules);

}  // namespace tagvert
