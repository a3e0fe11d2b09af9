// Tagvert: pseudo-translation of an IF (PseudoTranslate).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace tagvert::cli {

/// The pseudo-translation of one text run: ASCII letters accented, the run put in brackets and
/// lengthened by 30% with middle dots ("The quick brown fox" gives
/// "[Ŧĥé qüíçķ ƀŕöŵñ ƒöx······]"). A run of white space only stays as it is.
std::u16string PseudoText(const std::u16string& run);

/// Pseudo-translates an IF: every text run as PseudoText does; codes, tag groups, reserve
/// groups and skipped text unchanged.
std::u16string PseudoTranslate(const std::u16string& units);

}  // namespace tagvert::cli
