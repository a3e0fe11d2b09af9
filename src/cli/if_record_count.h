// Tagvert: the counts of the IF a conversion would write, taken from the records it would be
// written from.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "cli/stats.h"

namespace tagvert {
class CElementTable;
}

namespace tagvert::cli {

/// Tells `counter` the text runs and codes of the IF that CIFParser::WriteTable writes from
/// `table` (classified and structured), as Feed would find them in that IF, without writing it:
/// the writer's decisions are made again over the records. A tag writes a tag group (its text is
/// the group's content) unless it is removed, when it leaves its block mark or nothing; a text
/// is written as it is, but for a unit of the code range, which becomes a tag group holding its
/// reference, and, in a text marked for it, each U+00A0, which becomes a tag group of its own.
/// The header, a group before any text, counts nothing. Call counter.Finish() afterwards.
void CountTableIf(const CElementTable& table, CIfCounter& counter);

}  // namespace tagvert::cli
