// Tagvert: the tagvert command line: the arguments parsed, then the command they name run.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/arguments.h"

namespace tagvert::cli {

/// Runs the command line given the arguments after the program name; normal output goes to
/// `out`, messages, progress and errors to `err`.
ExitCode RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tagvert::cli
