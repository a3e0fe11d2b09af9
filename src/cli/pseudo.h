// Tagvert: pseudo-translation of an IF (PseudoTranslate).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ifcodec/if_tokens.h"
#include "storage/uncleared_buffer.h"

namespace tagvert::cli {

/// The pseudo-translated IF is written once, into the blocks that go to the conversion back.
using CUnitBlock = CUnclearedBuffer<char16_t>;

/// The pseudo-translation of one text run: ASCII letters accented, the run put in brackets and
/// lengthened by 30% with middle dots ("The quick brown fox" gives
/// "[Ŧĥé qüíçķ ƀŕöŵñ ƒöx······]"). A run of white space only stays as it is.
std::u16string PseudoText(const std::u16string& run);
/// Appends PseudoText of `run` to `out`.
void AppendPseudoText(std::u16string_view run, CUnitBlock& out);

/// Pseudo-translates an IF as it comes, piece by piece: every text run as PseudoText does;
/// codes, tag groups, reserve groups and skipped text unchanged. A run that lies whole in one
/// piece is translated from there; only a run that goes on in the next piece is held (copied)
/// until it ends.
class CPseudoTranslator {
 public:
  /// Takes the next piece of the IF and appends to `out` what of it is translated.
  void Feed(std::u16string_view units, CUnitBlock& out);
  /// Ends the IF: appends the rest.
  void Finish(CUnitBlock& out);

 private:
  /// Translates the run held in m_run, followed by `run`, into `out`.
  void EndRun(std::u16string_view run, CUnitBlock& out);

  CIfCodeState m_codes;
  std::u16string m_run;  ///< the start of a run that began in an earlier piece
};

/// Pseudo-translates a whole IF (CPseudoTranslator).
std::u16string PseudoTranslate(const std::u16string& units);

}  // namespace tagvert::cli
