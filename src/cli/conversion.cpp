// Tagvert: to-if and from-if on one input.
// SPDX-License-Identifier: Apache-2.0
#include "cli/conversion.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "cli/command_table.h"
#include "cli/document_input.h"
#include "cli/from_if_check.h"
#include "cli/output_files.h"

namespace tagvert::cli {

const char kConversionOptionsHelp[] =
    "  -o, --output FILE      the output of a single input; - writes standard output\n"
    "  -O, --output-dir DIR   write every output into DIR (made when missing)\n"
    "  -j, --jobs N           convert N files at a time (default: one per processor core)\n"
    "  -k, --keep-going       try every input even after one failed\n"
    "  -f, --force            convert an input that does not look like the expected format\n"
    "  -r, --recursive        a FILE that is a folder stands for the files under it (.ttx\n"
    "                         for to-if, .if for from-if); -O DIR keeps their paths below it\n"
    "  -q, --quiet            no progress line, no summary and no notes (-qq: no warnings\n"
    "                         either)\n"
    "  --events               print every conversion event on standard error (one input)\n"
    "  -h, --help             show this help\n";

const char kBatchHelp[] =
    "\n"
    "Several inputs make a batch: each file is converted by a converter of its own, N at a\n"
    "time. Without --keep-going the first failure stops the batch: conversions under way are\n"
    "stopped and leave no output, files converted before keep theirs. On a terminal one\n"
    "progress line follows the batch; a summary ends it. Two inputs that would write the\n"
    "same output are refused before anything starts. Every output is written to a temporary\n"
    "file beside it and renamed over it only when its conversion succeeded; an input is\n"
    "never overwritten. Exit status 1 when any file failed.\n";

namespace {

// The converter that Ctrl-C stops. Stop only sets an atomic flag, so calling it from the
// signal handler is safe.
std::atomic<CTTXConverterBase*> g_running{nullptr};

void StopRunningConversion() {
  if (CTTXConverterBase* converter = g_running.load()) converter->Stop();
}

// Runs `convert` on a thread of its own and returns its result. When a stop signal comes and
// the conversion has not ended within kStopGrace, calls `abandon` and ends the process as the
// signal does, so that a stop takes effect at once at any moment of a conversion.
template <class Convert, class Abandon>
HResult RunUntilDoneOrStopped(Convert convert, Abandon abandon) {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  HResult result = kSOk;
  std::thread worker;
  try {
    worker = std::thread([&] {
      const HResult hr = convert();
      const std::lock_guard<std::mutex> lock(mutex);
      result = hr;
      done = true;
      ended.notify_one();
    });
  } catch (const std::system_error&) {
    return convert();  // no thread to be had (memory is short): a stop waits for the converter
  }
  std::unique_lock<std::mutex> lock(mutex);
  std::optional<std::chrono::steady_clock::time_point> deadline;
  while (!done) {
    // A signal handler cannot wake the waiting thread safely, so the flag is polled.
    ended.wait_for(lock, std::chrono::milliseconds(10), [&] { return done; });
    if (done) break;
    const int signal = PlatformStopSignal();
    if (signal == 0) continue;
    if (!deadline) deadline = std::chrono::steady_clock::now() + kStopGrace;
    if (std::chrono::steady_clock::now() < *deadline) continue;
    abandon();
    PlatformEndBySignal(signal);
  }
  lock.unlock();
  worker.join();
  return result;
}

}  // namespace

std::string CheckConversionArguments(const CCliOptions& o, bool toIF) {
  if (o.inputs.empty()) return "no input file given.";
  if (o.codes) return "--codes applies only to show.";
  if ((o.given & Bit(Option::Colour)) != 0) return "--color applies only to show.";
  if (o.json) return "--json applies only to stats and check.";
  if (o.against && toIF) return "--against applies only to from-if.";
  if (o.against && o.inputs.size() > 1) {
    return "--against names the IF sent for one input; convert one file with it.";
  }
  if (o.direction && !toIF) return "--direction applies only to to-if.";
  if (o.output && o.outputDir) return "give either -o or -O, not both.";
  if (o.output && o.inputs.size() > 1) {
    return "-o names the output of one input; give -O DIR for several inputs.";
  }
  if (o.inputs.size() > 1) {
    for (const std::string& input : o.inputs) {
      if (input == "-") return "standard input (-) can only be converted alone.";
    }
  }
  if (o.outputDir && o.inputs.front() == "-") {
    return "standard input has no file name to put into -O DIR; give -o.";
  }
  return {};
}

void ReportFailure(std::ostream& err, HResult hr, const CCliListener& listener,
                   const CCliOutput& out, const std::string& input, const std::string& outputName) {
  if (hr == kEFail && listener.StorageCode() == kStateShortWrite) {
    const HResult cause = out.file ? out.file->WriteError() : kSOk;
    const std::string why = NamesSystemCause(cause)
                                ? ErrorPhrase(cause)
                                : "the output accepted fewer bytes than were written";
    err << "tagvert: cannot write " << outputName << ": " << why << ".\n";
    return;
  }
  if (hr == kEOutOfMemory) {
    err << "tagvert: " << OutOfMemory(input) << "\n";
    return;
  }
  if (NamesSystemCause(hr)) {
    err << "tagvert: cannot read " << Quote(input) << ": " << ErrorPhrase(hr) << ".\n";
    return;
  }
  err << "tagvert: cannot convert " << Quote(input) << ": " << ErrorPhrase(hr) << " (" << Hex(hr)
      << ").\n";
}

bool FinishInputEnd(const CCliOptions& o, const CTagvertConverter& converter,
                    const std::string& input, CMessages& messages) {
  if (!ReportInputCut(converter, input, messages, o.strict)) return false;
  if (converter.GetDroppedInputBytes() == 0) return true;
  if (o.strict) {
    messages.Error(Quote(input) +
                   " ends with half a UTF-16 unit (--strict); no output file was written.");
    return false;
  }
  messages.Warning(Quote(input) +
                   ": the input ends with half a UTF-16 unit; its last byte was "
                   "dropped.");
  return true;
}

namespace {

// Puts the target language into `converter`: --direction, else the one the document names. False,
// with the error said, when it cannot.
bool PutDirection(const CCliOptions& o, const std::string& input, CTagvertConverter& converter,
                  CCliListener& listener, CMessages& messages) {
  std::int32_t direction = 0;
  if (!ReportingFailures(input, messages, [&] {
        // The events show the Direction put before the conversion starts, as a host puts it:
        // with --events the document is read ahead for its target language.
        direction = o.events ? ChooseDirection(o, input, messages)
                             : DeferDirection(o, input, messages, converter, nullptr,
                                              [&listener] { listener.ClearLine(); });
        return true;
      })) {
    return false;
  }
  if (direction == 0 && !o.direction) return true;
  const HResult hr =
      converter.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(direction));
  if (Failed(hr)) messages.Error("cannot set the direction: " + ErrorPhrase(hr) + ".");
  return !Failed(hr);
}

// Opens the output of a conversion. False, with the error said, when it cannot; a stop that came
// meanwhile ends the process.
bool OpenConversionOutput(const std::string& input, const std::string& output,
                          const std::string& outputName, CCliOutput& out, CMessages& messages) {
  try {
    out = PlatformOpenOutput(output);
    return true;
  } catch (const CFileError& e) {
    g_running.store(nullptr);
    // A stop while the output was opened (waiting for the reader of a named pipe, say) is a
    // stop, whatever the system says of the interrupted call.
    if (const int signal = PlatformStopSignal()) {
      messages.Error("the conversion of " + Quote(input) +
                     " was stopped; no output file was written.");
      PlatformEndBySignal(signal);
    }
    messages.Error("cannot write " + outputName + ": " + e.Phrase() + ".");
    return false;
  }
}

// Whether the conversion failed or was stopped: its output abandoned and the reason said. A stop
// signal ends the process with the conventional status of a stopped command, so that a shell loop
// over many files stops.
bool EndedBadly(HResult hr, const CTagvertConverter& converter, const CCliListener& listener,
                CCliOutput& out, const std::string& input, const std::string& outputName,
                std::ostream& err) {
  const int signal = PlatformStopSignal();
  if (!Failed(hr) && converter.State() != kStateStopped && signal == 0) return false;
  const bool direct = out.temp.empty();
  PlatformAbandonOutput(out);
  if (signal != 0 || !Failed(hr)) {
    err << "tagvert: the conversion of " << Quote(input) << " was stopped; "
        << (direct ? "the output is incomplete.\n" : "no output file was written.\n");
  } else {
    ReportFailure(err, hr, listener, out, input, outputName);
  }
  if (signal != 0) PlatformEndBySignal(signal);
  return true;
}

// The summary line of a conversion: the input with the bytes read (a file's size), the output
// with its size (`written`: the file written, empty for standard output), and the time it took.
void SayConverted(const std::string& input, std::uint64_t read, bool toIF,
                  const std::string& outputName, const std::string& written, double seconds,
                  std::ostream& err) {
  err << "tagvert: converted " << Quote(input) << " (" << read << " bytes)";
  err << (toIF ? " to IF " : " to TTX ") << outputName;
  if (!written.empty()) err << " (" << FileSize(written) << " bytes)";
  char timing[32];
  if (seconds < 1.0) {
    std::snprintf(timing, sizeof timing, "%.1f ms", seconds * 1000.0);
  } else {
    std::snprintf(timing, sizeof timing, "%.2f s", seconds);
  }
  err << " in " << timing << ".\n";
}

}  // namespace

ExitCode RunConversion(const CCliOptions& o, bool toIF, std::ostream& err) {
  const std::string& input = o.inputs.front();
  const bool inputIsStd = input == "-";
  const std::string output = o.output     ? *o.output
                             : inputIsStd ? "-"
                                          : DefaultOutput(o, input, toIF);
  const bool outputIsStd = output == "-";
  const std::string outputName = outputIsStd ? "standard output" : "'" + output + "'";

  std::shared_ptr<CFileStream> in;
  try {
    in = PlatformOpenInput(input);
  } catch (const CFileError& e) {
    err << "tagvert: cannot read '" << input << "': " << e.Phrase() << ".\n";
    return ExitCode::Failed;
  }
  if (!inputIsStd && !outputIsStd && (output == input || PlatformSameFile(input, output))) {
    return UsageError(
        err,
        "will not write " + outputName + ": it is the input file; choose another output with -o.",
        false);
  }

  CMessages messages(err, o.quiet);
  // Made before the format test, which then tests with it rather than load the rules into one
  // of its own. Not when the conversion's progress is watched: a converter does not report
  // again the last step it reported, in any conversion, and the test's reading reports some.
  CTagvertConverter converter;
  UseCommandReading(converter, o.exactLanguage);
  const bool bar = !o.quiet && PlatformStderrIsTerminal();
  CTagvertConverter* const tester = o.events || bar ? nullptr : &converter;
  if (!o.force) {
    const std::string refused = CheckInputFormat(input, toIF, nullptr, tester);
    if (!refused.empty()) {
      messages.Error(refused);
      return ExitCode::Failed;
    }
  }
  // An input read once is checked on its first bytes, read ahead before any output is opened.
  std::shared_ptr<CStreamedInput> streamed;
  if (!BeginStreamedInput(o, input, in, toIF ? "a TTX document" : "an IF document", messages,
                          streamed) ||
      !CheckStreamedFormat(o, input, streamed.get(), toIF, messages, tester)) {
    return ExitCode::Failed;
  }
  if (!MakeOutputFolders(o, {{input, output}}, messages)) return ExitCode::Failed;

  auto listener = std::make_shared<CCliListener>(err, bar, o.events, toIF);
  std::uint32_t cookie = 0;
  // Listening first, so that --events also shows the Direction put with the code it resolved.
  converter.Advise(listener, cookie);
  if (toIF && !PutDirection(o, input, converter, *listener, messages)) return ExitCode::Failed;

  // Signals are caught before a temporary file exists, so that none can leave one behind.
  g_running.store(&converter);
  PlatformOnInterrupt(&StopRunningConversion);
  CCliOutput out;
  if (!OpenConversionOutput(input, output, outputName, out, messages)) return ExitCode::Failed;
  std::optional<CFromIfCheck> check;
  if (!toIF) {
    check.emplace(o, input, messages);
    if (o.against && !check->LoadSent()) {
      PlatformAbandonOutput(out);
      g_running.store(nullptr);
      return ExitCode::Failed;
    }
    check->Observe(converter);
  }
  const CEndpoint source = CEndpoint::Stream(std::make_shared<CWatchedStream>(
      streamed != nullptr ? ByteStreamPtr(streamed) : ByteStreamPtr(in), *listener));
  const CEndpoint target = CEndpoint::Stream(std::make_shared<CWatchedStream>(out.file, *listener));

  const auto started = std::chrono::steady_clock::now();
  const HResult hr = RunUntilDoneOrStopped(
      [&] {
        return toIF ? converter.ConvertToIF(source, target)
                    : converter.ConvertFromIF(source, target);
      },
      [&] {
        // The conversion is still unwinding from the stop: its output is abandoned at once.
        const bool direct = out.temp.empty();
        PlatformAbandonOutput(out);
        if (bar) err << "\n";
        err << "tagvert: the conversion of " << Quote(input) << " was stopped; "
            << (direct ? "the output is incomplete.\n" : "no output file was written.\n");
      });
  g_running.store(nullptr);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  listener->Finish();

  if (EndedBadly(hr, converter, *listener, out, input, outputName, err)) return ExitCode::Failed;
  if ((check && !check->Finish()) || !FinishInputEnd(o, converter, input, messages)) {
    PlatformAbandonOutput(out);
    return ExitCode::Failed;
  }
  if (in->ChangedWhileRead()) {
    PlatformAbandonOutput(out);
    err << "tagvert: cannot read " << Quote(input)
        << ": the file changed while it was read; no output file was written.\n";
    return ExitCode::Failed;
  }
  try {
    PlatformCommitOutput(out);
  } catch (const CFileError& e) {
    err << "tagvert: cannot write " << outputName << ": " << e.Phrase() << ".\n";
    return ExitCode::Failed;
  }
  if (!o.quiet) {
    SayConverted(input, streamed != nullptr ? streamed->BytesRead() : FileSize(input), toIF,
                 outputName, outputIsStd ? "" : out.target, seconds, err);
  }
  return ExitCode::Success;
}

}  // namespace tagvert::cli
