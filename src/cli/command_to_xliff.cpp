// Tagvert: the command to-xliff: TTX documents to XLIFF 1.2 or 2.0 through the IF; and the run
// of both XLIFF commands over their inputs (from-xliff uses it too).
// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <sstream>

#include "cli/batch.h"
#include "cli/command_table.h"
#include "cli/document_input.h"
#include "cli/messages.h"
#include "cli/output_files.h"
#include "cli/platform/cli_services.h"
#include "tagvert/xliff.h"
#include "xliff/xliff_bridge.h"

namespace tagvert::cli {

ExitCode RunXliffCommand(const CCliOptions& o, bool toXliff, std::ostream& err);
std::string CheckXliffArguments(const CCliOptions& o, bool toXliff);

namespace {

// The default output of from-xliff: ".xlf" (or ".xliff") dropped, then as from-if names it.
std::string DefaultFromXliffOutput(const std::string& input) {
  std::string stem = input;
  for (const std::string ext : {".xlf", ".xliff"}) {
    if (stem.size() > ext.size() &&
        std::equal(ext.begin(), ext.end(), stem.end() - static_cast<std::ptrdiff_t>(ext.size()),
                   [](char a, char b) { return a == static_cast<char>(std::tolower(b)); })) {
      stem.resize(stem.size() - ext.size());
      break;
    }
  }
  return DefaultFromIfOutput(stem + ".if");
}

std::string DefaultToXliffOutput(const std::string& input) {
  return input + ".xlf";
}

std::string OutputOf(const CCliOptions& o, const std::string& input, bool toXliff) {
  if (o.output) return *o.output;
  if (input == "-") return "-";
  return PlaceOutput(o, input, toXliff ? &DefaultToXliffOutput : &DefaultFromXliffOutput);
}

// Converts one input of the batch; what it says goes to `messages`.
JobOutcome ConvertOne(const CCliOptions& o, bool toXliff, const std::string& input,
                      const std::string& output, CMessages& messages, IJobContext& context) {
  const std::string outputName = output == "-" ? "standard output" : Quote(output);
  const std::shared_ptr<CFileStream> in = OpenInputSaying(input, messages);
  if (in == nullptr) return JobOutcome::Failed;
  if (input != "-" && output != "-" && (output == input || PlatformSameFile(input, output))) {
    messages.Error("will not write " + outputName +
                   ": it is the input file; choose another output with -o.");
    return JobOutcome::Failed;
  }
  std::int32_t direction = 0;
  std::shared_ptr<CStreamedInput> streamed;
  xliff::CBridgeHooks hooks;
  hooks.running = [&context](CTTXConverterBase* converter) { context.Running(converter); };
  if (toXliff) {
    if (!o.force) {
      const std::string refused = CheckInputFormat(input, true);
      if (!refused.empty()) {
        messages.Error(refused);
        return JobOutcome::Failed;
      }
    }
    if (!BeginStreamedInput(o, input, in, "a TTX document", messages, streamed) ||
        !CheckStreamedFormat(o, input, streamed.get(), true, messages)) {
      return context.Stopping() ? JobOutcome::Stopped : JobOutcome::Failed;
    }
    direction = DeferDirection(o, input, messages, hooks.documentRead);
  }
  if (context.Stopping()) return JobOutcome::Stopped;
  CCliOutput out;
  if (!OpenOutput(output, outputName, out, messages)) {
    // A stop while the output was opened (waiting for the reader of a named pipe) is a stop.
    return context.Stopping() ? JobOutcome::Stopped : JobOutcome::Failed;
  }
  CXliffReport report;
  HResult hr;
  if (toXliff) {
    CXliffWriteOptions options;
    options.version = o.xliff2 ? XliffVersion::V2_0 : XliffVersion::V1_2;
    options.direction = direction;
    options.copySource = o.copySource;
    const std::size_t slash = input.find_last_of(kBackslashSeparates ? "/\\" : "/");
    options.original = input == "-"
                           ? "document.ttx"
                           : (slash == std::string::npos ? input : input.substr(slash + 1));
    const ByteStreamPtr source = streamed != nullptr ? ByteStreamPtr(streamed) : ByteStreamPtr(in);
    hr = xliff::ConvertToXliff(CEndpoint::Stream(source), CEndpoint::Stream(out.file), options,
                               report, hooks);
  } else {
    CXliffReadOptions options;
    options.strict = o.strict;
    // A temporary output goes when the merge fails: the TTX can be written as the XLIFF is read.
    hooks.dropsFailedOutput = !out.temp.empty();
    options.name = input == "-" ? "standard input" : Quote(input);
    hr = xliff::ConvertFromXliff(CEndpoint::Stream(in), CEndpoint::Stream(out.file), options,
                                 report, hooks);
  }
  if (Failed(hr) && context.Stopping()) {
    PlatformAbandonOutput(out);
    return JobOutcome::Stopped;
  }
  for (const std::string& warning : report.warnings)
    messages.Warning(warning);
  if (!Failed(hr) && report.cutLine != 0) {
    const CTTXToIfConverter::CInputCut cut{report.cutLine, report.cutColumn, report.cutInsideMarkup,
                                           report.cutRootOpen};
    if (!ReportInputCut(cut, input, messages, o.strict)) {
      PlatformAbandonOutput(out);
      return JobOutcome::Failed;
    }
  }
  if (Failed(hr)) {
    PlatformAbandonOutput(out);
    if (report.error.empty() || hr == kEOutOfMemory) {
      messages.Error(hr == kEOutOfMemory ? OutOfMemory(input) : ConversionFailure(input, hr));
    } else {
      messages.Error(report.error.starts_with(Quote(input)) || !toXliff
                         ? report.error
                         : Quote(input) + ": " + report.error);
    }
    return JobOutcome::Failed;
  }
  if (in->ChangedWhileRead()) {
    PlatformAbandonOutput(out);
    messages.Error("cannot read " + Quote(input) +
                   ": the file changed while it was read; no output file was written.");
    return JobOutcome::Failed;
  }
  if (!CommitOutput(out, outputName, messages)) return JobOutcome::Failed;
  if (toXliff) {
    messages.Note("converted " + Quote(input) + " to XLIFF " + (o.xliff2 ? "2.0 " : "1.2 ") +
                  outputName + " (" + std::to_string(report.units) + " units).");
  } else {
    messages.Note("merged " + Quote(input) + " into " + outputName + " (" +
                  std::to_string(report.translated) + " of " + std::to_string(report.units) +
                  " units translated).");
  }
  return JobOutcome::Converted;
}

std::string Help() {
  return "Usage: tagvert to-xliff FILE... [-r] [-o OUTPUT | -O DIR] [-j N] [--xliff 1.2|2.0]\n"
         "                        [--direction VALUE] [--copy-source] [--strict]\n"
         "\n"
         "Converts TTX documents into XLIFF (UTF-8), by default FILE.xlf beside each input:\n"
         "one unit for each block of the document's IF that holds text, the tags as inline\n"
         "codes, everything else in the file's skeleton, so that 'tagvert from-xliff' needs\n"
         "nothing but the XLIFF. - reads standard input and writes standard output.\n"
         "\n"
         "  --xliff VERSION        1.2 (the default) or 2.0\n"
         "  --direction VALUE      target language: a number (high 16 bits) or a tag\n"
         "  --copy-source          write each unit's target as a copy of its source\n"
         "  --strict               a document cut off is an error: no output file\n"
         "  -o, --output FILE      the output of a single input; - writes standard output\n"
         "  -O, --output-dir DIR   write every output into DIR (made when missing)\n"
         "  -j, --jobs N           convert N files at a time (default: one per processor core)\n"
         "  -k, --keep-going       try every input even after one failed\n"
         "  -f, --force            convert an input that does not look like TTX\n"
         "  -r, --recursive        a FILE that is a folder stands for the .ttx files under it;\n"
         "                         with -O each output keeps its path below the folder\n"
         "  -q, --quiet            no notes (-qq: no warnings either)\n"
         "  -h, --help             show this help\n"
         "\n"
         "The target language is chosen as 'tagvert to-if' chooses it. When a Tu's target\n"
         "Tuv already differs from its source Tuv, the unit carries the source text as a\n"
         "note. Exit status 1 when any file failed.\n";
}

std::string Check(const CCliOptions& o) {
  return CheckXliffArguments(o, true);
}

ExitCode Run(const CCliOptions& o, std::ostream&, std::ostream& err) {
  return RunXliffCommand(o, true, err);
}

}  // namespace

std::string CheckXliffArguments(const CCliOptions& o, bool toXliff) {
  const char* name = toXliff ? "to-xliff" : "from-xliff";
  if (GivesOtherOptions(o)) {
    return std::string(name) + (toXliff ? " takes files, -r, -o, -O, -j, -k, -f, --xliff, "
                                          "--direction, --copy-source and --strict."
                                        : " takes files, -r, -o, -O, -j, -k and --strict.");
  }
  if (o.inputs.empty()) return "no input file given.";
  if (o.output && o.outputDir) return "give either -o or -O, not both.";
  if (o.output && o.inputs.size() > 1) {
    return "-o names the output of one input; give -O DIR for several inputs.";
  }
  if (o.inputs.size() > 1 && std::find(o.inputs.begin(), o.inputs.end(), "-") != o.inputs.end()) {
    return "standard input (-) can only be converted alone.";
  }
  if (o.outputDir && o.inputs.front() == "-") {
    return "standard input has no file name to put into -O DIR; give -o.";
  }
  return {};
}

// Both XLIFF commands: each input converted on its own, N at a time, on the command's batch
// without its summary; each file's messages are said together when it is done.
ExitCode RunXliffCommand(const CCliOptions& o, bool toXliff, std::ostream& err) {
  CBatchRun run;
  run.summary = false;
  for (const std::string& input : o.inputs)
    run.jobs.push_back({input, OutputOf(o, input, toXliff)});
  if (run.jobs.size() > 1) {
    const std::string collision = FindCollision(run.jobs);
    if (!collision.empty()) return UsageError(err, collision, false);
  }
  {
    CMessages messages(err, o.quiet);
    if (!MakeOutputFolders(o, run.jobs, messages)) return ExitCode::Failed;
  }
  run.convert = [&o, toXliff](const CJob& job, IJobContext& context) {
    std::ostringstream text;
    CMessages messages(text, o.quiet);
    const JobOutcome outcome = ConvertOne(o, toXliff, job.input, job.output, messages, context);
    context.Messages().Lines(text.str());
    return outcome;
  };
  return RunJobs(o, std::move(run), err);
}

extern const CCommand kToXliffCommand = {
    "to-xliff",
    "FILE...",
    "convert TTX files to XLIFF 1.2 or 2.0",
    Bit(Option::Output) | Bit(Option::OutputDir) | Bit(Option::Jobs) | Bit(Option::KeepGoing) |
        Bit(Option::Force) | Bit(Option::Xliff) | Bit(Option::Direction) | Bit(Option::CopySource) |
        Bit(Option::Strict) | Bit(Option::Quiet) | Bit(Option::Recursive),
    "ttx",
    &Help,
    &Check,
    &Run};

}  // namespace tagvert::cli
