// Tagvert: to-if and from-if on several inputs: a pool of converters, N at a time, that a
// failure (without --keep-going) or a stop signal stops.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <ostream>

#include "cli/arguments.h"

namespace tagvert::cli {

/// Runs to-if (`toIF`) or from-if on every input of `o`.
ExitCode RunBatch(const CCliOptions& o, bool toIF, std::ostream& err);

}  // namespace tagvert::cli
