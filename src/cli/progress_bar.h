// Tagvert: the command's progress line (ProgressLine).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

namespace tagvert::cli {

/// What a conversion is doing, as the user waits for it.
enum class Phase {
  Reading,      ///< a conversion to IF reads the whole document first
  Structuring,  ///< then classifies and structures it in memory
  Writing,      ///< then writes the IF
  Converting,   ///< a conversion from IF reads and writes as it goes
};

/// The text of the progress line (without the carriage return that redraws it): a bar with the
/// percentage of the input read, clamped to 0..100 (a file that grows while it is read may
/// report more), or the phase after reading with the bytes written so far.
std::string ProgressLine(Phase phase, std::int32_t percent, std::uint64_t bytesWritten);

}  // namespace tagvert::cli
