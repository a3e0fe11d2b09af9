// Tagvert: pseudo-translation of an IF (PseudoTranslate).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

#include "ifcodec/if_tokens.h"

namespace tagvert::cli {

/// The pseudo-translation of one text run: ASCII letters accented, the run put in brackets and
/// lengthened by 30% with middle dots ("The quick brown fox" gives
/// "[Ŧĥé qüíçķ ƀŕöŵñ ƒöx······]"). A run of white space only stays as it is.
std::u16string PseudoText(const std::u16string& run);
/// Appends PseudoText of `run` to `out`.
void AppendPseudoText(std::u16string_view run, std::u16string& out);

/// Pseudo-translates an IF as it comes, piece by piece: every text run as PseudoText does;
/// codes, tag groups, reserve groups and skipped text unchanged. A text run is held until it
/// ends: a run that lies whole in one piece is translated from there, only a run that goes on
/// in the next piece is copied.
class CPseudoTranslator {
 public:
  /// Takes the next piece of the IF and appends to `out` what of it is translated.
  void Feed(std::u16string_view units, std::u16string& out);
  /// Ends the IF: appends the rest.
  void Finish(std::u16string& out);

 private:
  void Take(const CIfToken& token, std::u16string& out);
  /// Translates the run held (m_run, then m_inPiece) into `out`.
  void EndRun(std::u16string& out);

  CIfTokenReader m_reader;
  std::u16string m_run;           ///< the start of a run that began in an earlier piece
  std::u16string_view m_inPiece;  ///< the run's units in the piece being read
};

/// Pseudo-translates a whole IF (CPseudoTranslator).
std::u16string PseudoTranslate(const std::u16string& units);

}  // namespace tagvert::cli
