// Tagvert: the commands of the tagvert command line.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "storage/hresult.h"

namespace tagvert::cli {

/// Runs the command line given the arguments after the program name; normal output goes to
/// `out`, messages, progress and errors to `err`.
ExitCode RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

/// A short phrase for a result code, as the command line reports it.
std::string DescribeHResult(HResult code);

}  // namespace tagvert::cli
