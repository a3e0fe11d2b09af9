// Tagvert: the command pseudo: the localization smoke test, TTX -> IF -> pseudo-translated IF ->
// TTX. SPDX-License-Identifier: Apache-2.0
#include <memory>
#include <new>
#include <vector>

#include "cli/command_table.h"
#include "cli/document_input.h"
#include "cli/output_files.h"
#include "cli/platform/cli_services.h"
#include "cli/pseudo.h"
#include "frame/ttx_converter.h"
#include "storage/memory_stream.h"

namespace tagvert::cli {

namespace {

// Pseudo-translates one document: TTX -> IF -> pseudo-translated IF -> TTX.
bool PseudoDocument(const CCliOptions& o, const std::string& input, const std::string& output,
                    CMessages& messages) {
  const auto units = ConvertToIfInMemory(o, input, messages);
  if (!units) return false;
  const std::u16string pseudo = PseudoTranslate(*units);
  std::vector<std::uint8_t> pseudoBytes(pseudo.size() * 2);
  for (std::size_t i = 0; i < pseudo.size(); ++i) {
    pseudoBytes[2 * i] = static_cast<std::uint8_t>(pseudo[i] & 0xFF);
    pseudoBytes[2 * i + 1] = static_cast<std::uint8_t>(pseudo[i] >> 8);
  }
  CCliOutput out;
  if (!OpenOutput(output, "'" + output + "'", out, messages)) return false;
  CTagvertConverter converter;
  const HResult hr = converter.ConvertFromIF(
      CEndpoint::Stream(std::make_shared<CMemoryStream>(std::move(pseudoBytes))),
      CEndpoint::Stream(out.file));
  if (Failed(hr)) {
    PlatformAbandonOutput(out);
    if (hr == kEOutOfMemory) {
      messages.Error(OutOfMemory(input));
      return false;
    }
    const HResult cause = out.file ? out.file->WriteError() : kSOk;
    messages.Error("cannot write '" + output +
                   "': " + ErrorPhrase(NamesSystemCause(cause) ? cause : hr) + ".");
    return false;
  }
  return CommitOutput(out, "'" + output + "'", messages);
}

std::string Help() {
  return "Usage: tagvert pseudo FILE... [-r] [-o OUTPUT | -O DIR] [--direction VALUE]\n"
         "\n"
         "The localization smoke test: converts each TTX document to IF, gives every text\n"
         "run accented letters, 30% more length and brackets ([Ŧĥé qüíçķ ƀŕöŵñ ƒöx······]),\n"
         "leaves every code as it is, and converts the result back to TTX, by default\n"
         "FILE with .pseudo before its extension (doc.ttx gives doc.pseudo.ttx).\n"
         "\n"
         "  -o, --output FILE      the output of a single input\n"
         "  -O, --output-dir DIR   write every output into DIR (made when missing)\n"
         "  --direction VALUE      target language (as for to-if)\n"
         "  -f, --force            pseudo-translate a FILE that does not look like TTX\n"
         "  -r, --recursive        a FILE that is a folder stands for the .ttx files under it;\n"
         "                         -O DIR keeps their paths below it\n"
         "  -q, --quiet            no notes (-qq: no warnings either)\n"
         "  -h, --help             show this help\n";
}

std::string Check(const CCliOptions& o) {
  if (o.inputs.empty()) return "no file given to pseudo-translate.";
  if (GivesOtherOptions(o)) return "pseudo takes files, -r, -o, -O, --direction and --force.";
  if (o.output && o.outputDir) return "give either -o or -O, not both.";
  if (o.output && o.inputs.size() > 1) {
    return "-o names the output of one input; give -O DIR for several inputs.";
  }
  for (const std::string& input : o.inputs) {
    if (input == "-") return "pseudo reads files, not standard input.";
  }
  return {};
}

ExitCode Run(const CCliOptions& o, std::ostream&, std::ostream& err) {
  CMessages messages(err, o.quiet);
  std::vector<CJob> jobs;
  for (const std::string& input : o.inputs) {
    const std::string output =
        o.output ? *o.output : PlaceOutput(o, input, [](const std::string& path) {
          return DefaultPseudoOutput(path);
        });
    jobs.push_back({input, output, 0});
  }
  const std::string collision = FindCollision(jobs);
  if (!collision.empty()) return UsageError(err, collision, false);
  if (!MakeOutputFolders(o, jobs, messages)) return ExitCode::Failed;
  std::size_t done = 0;
  for (const CJob& job : jobs) {
    // One document at a time: a failure leaves only its output open.
    if (ReportingFailures(job.input, messages,
                          [&] { return PseudoDocument(o, job.input, job.output, messages); })) {
      ++done;
    }
  }
  messages.Note("pseudo-translated " + std::to_string(done) + " of " + std::to_string(jobs.size()) +
                " files.");
  return done == jobs.size() ? ExitCode::Success : ExitCode::Failed;
}

}  // namespace

extern const CCommand kPseudoCommand = {"pseudo",
                                        "FILE...",
                                        "pseudo-translate TTX files (TTX -> IF -> TTX)",
                                        Bit(Option::Output) | Bit(Option::OutputDir) |
                                            Bit(Option::Direction) | Bit(Option::Force) |
                                            Bit(Option::Quiet) | Bit(Option::Recursive),
                                        "ttx",
                                        &Help,
                                        &Check,
                                        &Run};

}  // namespace tagvert::cli
