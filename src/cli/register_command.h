// Tagvert: tagvert register / tagvert unregister (Windows): the DLL's own registration exports.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/arguments.h"

namespace tagvert::cli {

/// Handles `register [DLL]` and `unregister [DLL]`: loads the DLL (by default tagvert.dll beside
/// the running program) and calls its DllRegisterServer or DllUnregisterServer. Nothing when
/// the arguments name another command; on a platform without those exports, a usage error.
std::optional<ExitCode> RunRegistrationCommand(const std::vector<std::string>& args,
                                               std::ostream& out, std::ostream& err);

}  // namespace tagvert::cli
