// Tagvert: the tagvert command line.
// SPDX-License-Identifier: Apache-2.0
#include "cli/run_cli.h"

#include <new>

#include "cli/command_table.h"
#include "cli/document_input.h"
#include "cli/messages.h"
#include "cli/platform/cli_services.h"
#include "tagvert/version.h"

namespace tagvert::cli {

ExitCode RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CParseResult parsed = ParseArguments(args);
  if (!parsed.ok()) return UsageError(err, parsed.error);
  CCliOptions o = parsed.options;
  if (o.help) {
    out << (o.command != nullptr ? o.command->help() : UsageText());
    return ExitCode::Success;
  }
  if (o.version) {
    out << "tagvert " << GetVersion() << "\n";
    return ExitCode::Success;
  }
  if (const std::string refused = ExpandFolders(o); !refused.empty()) {
    return UsageError(err, refused, false);
  }
  // The files found may not fit the other arguments (-o with a folder of several files).
  if (const std::string refused = o.command->check(o); !refused.empty()) {
    return UsageError(err, refused);
  }
  try {
    return o.command->run(o, out, err);
  } catch (const std::bad_alloc&) {
    // The commands say so for each document they convert; this is the last resort, which
    // leaves no temporary file behind either.
    PlatformRemoveTemporaryOutputs();
    err << "tagvert: "
        << (o.inputs.empty() ? std::string("not enough memory.") : OutOfMemory(o.inputs.front()))
        << "\n";
    return ExitCode::Failed;
  }
}

}  // namespace tagvert::cli
