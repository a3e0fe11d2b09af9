// Tagvert: the command detect: whether files are TTX.
// SPDX-License-Identifier: Apache-2.0
#include <memory>

#include "cli/command_table.h"
#include "cli/document_input.h"
#include "cli/platform/cli_services.h"
#include "cli/streams.h"
#include "frame/ttx_converter.h"

namespace tagvert::cli {

namespace {

std::string Help() {
  return "Usage: tagvert detect FILE...\n"
         "\n"
         "Prints one line per file: 'FILE: TTX', 'FILE: not TTX' or 'FILE: error: CAUSE'.\n"
         "A file is TTX when one of its first six items is the TRADOStag root tag.\n"
         "Exit status 0 when every file is TTX, 1 otherwise.\n"
         "\n"
         "  -h, --help             show this help\n";
}

std::string Check(const CCliOptions& o) {
  if (o.inputs.empty()) return "no file given to detect.";
  if (GivesOtherOptions(o)) return "detect takes only file names.";
  return {};
}

ExitCode Run(const CCliOptions& o, std::ostream& out, std::ostream&) {
  CTagvertConverter converter;
  UseCommandReading(converter);
  bool allTtx = true;
  for (const std::string& file : o.inputs) {
    std::shared_ptr<CFileStream> in;
    try {
      in = PlatformOpenInput(file);
    } catch (const CFileError& e) {
      out << file << ": error: " << e.Phrase() << "\n";
      allTtx = false;
      continue;
    }
    const HResult hr = converter.IsFormatAvailable(
        CEndpoint::Stream(std::make_shared<CBoundedStream>(in, kFormatTestBytes)));
    if (hr == kSOk) {
      out << file << ": TTX\n";
    } else if (hr == kENotFormat) {
      out << file << ": not TTX\n";
      allTtx = false;
    } else {
      out << file << ": error: " << ErrorPhrase(hr) << "\n";
      allTtx = false;
    }
  }
  return allTtx ? ExitCode::Success : ExitCode::Failed;
}

}  // namespace

extern const CCommand kDetectCommand = {
    "detect", "FILE...", "tell whether files are TTX", 0, "ttx", &Help, &Check, &Run};

}  // namespace tagvert::cli
