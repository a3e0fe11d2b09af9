// Tagvert: to-if and from-if: what their runs share (one input, or a batch in cli/batch.h), their
// argument check and the parts of their help texts they share.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "cli/arguments.h"
#include "cli/messages.h"
#include "cli/platform/cli_services.h"
#include "cli/streams.h"

namespace tagvert::cli {

/// Runs to-if (`toIF`) or from-if on one input.
ExitCode RunConversion(const CCliOptions& o, bool toIF, std::ostream& err);

/// The arguments of to-if (`toIF`) or from-if that do not fit together: the sentence that refuses
/// them, empty when there is none.
std::string CheckConversionArguments(const CCliOptions& o, bool toIF);

/// How long a stopped conversion may take to unwind before the command ends without it: the
/// stop is seen within one element, but releasing a large document's elements takes longer.
inline constexpr auto kStopGrace = std::chrono::milliseconds(50);

/// One sentence for a failed conversion: a read or write of the system names its cause.
void ReportFailure(std::ostream& err, HResult hr, const CCliListener& listener,
                   const CCliOutput& out, const std::string& input, const std::string& outputName);

/// Says that a conversion that succeeded dropped the odd last byte of its UTF-16 input (IF, or
/// TTX with a UTF-16 mark). False, with the error said, when --strict refuses the output.
bool FinishInputEnd(const CCliOptions& o, const CTagvertConverter& converter,
                    const std::string& input, CMessages& messages);

/// The options of to-if and from-if in their help texts, one line each.
extern const char kConversionOptionsHelp[];
/// The paragraph on batches of the help texts of to-if and from-if.
extern const char kBatchHelp[];

}  // namespace tagvert::cli
