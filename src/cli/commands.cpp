// Tagvert: the commands of the tagvert command line.
// SPDX-License-Identifier: Apache-2.0
#include "cli/commands.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "cli/progress_bar.h"
#include "frame/ttx_converter.h"
#include "platform/cli_services.h"
#include "storage/char_class.h"
#include "tagvert/version.h"

namespace tagvert::cli {

namespace {

// The converter that Ctrl-C stops. Stop only sets an atomic flag, so calling it from the
// signal handler is safe.
std::atomic<CTTXConverterBase*> g_running{nullptr};

void StopRunningConversion() {
  if (CTTXConverterBase* converter = g_running.load()) converter->Stop();
}

std::string Hex(HResult code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(code));
  return buffer;
}

std::string Narrow(const std::u16string& s) {
  return Utf16ToUtf8(s);
}

// Follows a conversion: the progress line, the event trace and the storage failure code.
class CCliListener : public ITransEventsListener {
 public:
  CCliListener(std::ostream& err, bool bar, bool trace, bool toIF)
      : m_err(err),
        m_bar(bar && !trace),
        m_trace(trace),
        m_phase(toIF ? Phase::Reading : Phase::Converting) {}

  void OnStateChange(std::int32_t state) override {
    if (state != kStateIdle && state != kStateConverting && state != kStateStopped &&
        state != kStateFailed) {
      m_storageCode = state;
    }
    if (m_trace) Line("StateChange(" + StateText(state) + ")");
  }
  void OnTextChange(const std::u16string& caption) override {
    if (m_trace) Line("TextChange(\"" + Narrow(caption) + "\")");
  }
  void OnProgressChange(std::int32_t progress, std::int32_t maxProgress) override {
    if (m_trace) {
      Line("ProgressChange(" + std::to_string(progress) + ", " + std::to_string(maxProgress) + ")");
    }
    m_percent =
        maxProgress > 0
            ? static_cast<std::int32_t>(static_cast<std::int64_t>(progress) * 100 / maxProgress)
            : 100;
    Draw();
  }
  void OnPropertyChange(const CVariant&, const CVariant& newVal) override {
    if (m_trace) Line("PropertyChange(Direction, " + std::to_string(newVal.GetInt()) + ")");
  }

  /// The input has been read to its end: a conversion to IF now structures the document.
  void OnInputEnd() {
    if (m_phase != Phase::Reading) return;
    m_phase = Phase::Structuring;
    m_percent = 100;
    Draw();
  }
  /// Bytes went to the output: a conversion to IF is writing.
  void OnOutput(std::uint64_t bytes) {
    m_written += bytes;
    if (m_phase == Phase::Converting) return;
    m_phase = Phase::Writing;
    Draw();
  }

  /// Ends the progress line.
  void Finish() {
    if (m_barShown) m_err << "\n";
    m_barShown = false;
  }
  std::int32_t StorageCode() const { return m_storageCode; }

 private:
  static std::string StateText(std::int32_t state) {
    return state > 9 ? Hex(state) : std::to_string(state);
  }
  void Line(const std::string& text) { m_err << "event: " << text << "\n"; }
  void Draw() {
    if (!m_bar) return;
    const std::string line = ProgressLine(m_phase, m_percent, m_written);
    // Padding clears the rest of a longer line drawn before.
    const std::size_t pad = m_lastWidth > line.size() ? m_lastWidth - line.size() : 0;
    m_err << "\r" << line << std::string(pad, ' ') << std::flush;
    m_lastWidth = line.size();
    m_barShown = true;
  }

  std::ostream& m_err;
  bool m_bar;
  bool m_trace;
  Phase m_phase;
  std::int32_t m_percent = 0;
  std::uint64_t m_written = 0;
  std::size_t m_lastWidth = 0;
  bool m_barShown = false;
  std::int32_t m_storageCode = 0;
};

// The command's input or output as the library sees it: passes every call through and tells the
// listener when the input ends and when output is written, which are the phases of a conversion.
class CWatchedStream : public IByteStream {
 public:
  CWatchedStream(ByteStreamPtr inner, CCliListener& listener)
      : m_inner(std::move(inner)), m_listener(listener) {}

  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    const std::uint32_t n = m_inner->Read(buffer, size);
    if (n == 0) m_listener.OnInputEnd();
    return n;
  }
  std::uint32_t Write(const void* data, std::uint32_t size) override {
    const std::uint32_t n = m_inner->Write(data, size);
    m_listener.OnOutput(n);
    return n;
  }
  std::uint64_t Position() override { return m_inner->Position(); }
  bool Size(std::uint64_t& size) override { return m_inner->Size(size); }

 private:
  ByteStreamPtr m_inner;
  CCliListener& m_listener;
};

// The format test decides on the first six items of a document, however long they are. The
// root of a TTX document comes right after its XML declaration and a line break, and no tool
// that writes TTX puts anything longer in front of it; so reading at most this many bytes can
// only change the answer for a document with more than 1 MiB of comments or text before its
// root, while it makes the test end on endless inputs (a device, a pipe that never closes) and
// keeps its memory small on a large file that is not markup.
constexpr std::uint32_t kFormatTestBytes = 1U << 20;

// A source that ends after a given number of bytes.
class CBoundedStream : public IByteStream {
 public:
  CBoundedStream(ByteStreamPtr inner, std::uint64_t limit)
      : m_inner(std::move(inner)), m_left(limit) {}

  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    if (m_left == 0) return 0;
    if (size > m_left) size = static_cast<std::uint32_t>(m_left);
    const std::uint32_t n = m_inner->Read(buffer, size);
    m_left -= n;
    return n;
  }
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }
  std::uint64_t Position() override { return m_inner->Position(); }
  bool Size(std::uint64_t& size) override { return m_inner->Size(size); }

 private:
  ByteStreamPtr m_inner;
  std::uint64_t m_left;
};

std::uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

std::string Quote(const std::string& path) {
  return path == "-" ? "standard input" : "'" + path + "'";
}

// One sentence for a failed conversion: a read or write of the system names its cause.
void ReportFailure(std::ostream& err, HResult hr, const CCliListener& listener,
                   const CCliOutput& out, const std::string& input, const std::string& outputName) {
  if (hr == kEFail && listener.StorageCode() == kStateShortWrite) {
    std::string why = out.file ? PlatformErrorPhrase(out.file->WriteError()) : std::string();
    if (why.empty()) why = "the output accepted fewer bytes than were written";
    err << "tagvert: cannot write " << outputName << ": " << why << ".\n";
    return;
  }
  const std::string why = PlatformErrorPhrase(hr);
  if (!why.empty()) {
    err << "tagvert: cannot read " << Quote(input) << ": " << why << ".\n";
    return;
  }
  err << "tagvert: cannot convert " << Quote(input) << ": " << DescribeHResult(hr) << " ("
      << Hex(hr) << ").\n";
}

// How long a stopped conversion may take to unwind before the command ends without it: the
// stop is seen within one element, but releasing a large document's elements takes longer.
constexpr auto kStopGrace = std::chrono::milliseconds(50);

// Runs `convert` on a thread of its own and returns its result. When a stop signal comes and
// the conversion has not ended within kStopGrace, calls `abandon` and ends the process as the
// signal does, so that a stop takes effect at once at any moment of a conversion.
template <class Convert, class Abandon>
HResult RunUntilDoneOrStopped(Convert convert, Abandon abandon) {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  HResult result = kSOk;
  std::thread worker([&] {
    const HResult hr = convert();
    const std::lock_guard<std::mutex> lock(mutex);
    result = hr;
    done = true;
    ended.notify_one();
  });
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

// Runs to-if or from-if.
ExitCode RunConversion(const CCliOptions& o, bool toIF, std::ostream& err) {
  const std::string& input = o.inputs.front();
  const bool inputIsStd = input == "-";
  std::string output;
  if (o.output) {
    output = *o.output;
  } else if (inputIsStd) {
    output = "-";
  } else {
    output = toIF ? DefaultToIfOutput(input) : DefaultFromIfOutput(input);
  }
  const bool outputIsStd = output == "-";
  const std::string outputName = outputIsStd ? "standard output" : "'" + output + "'";

  std::string why;
  const std::shared_ptr<CCliFile> in = PlatformOpenInput(input, why);
  if (!in) {
    err << "tagvert: cannot read '" << input << "': " << why << ".\n";
    return ExitCode::Failed;
  }
  if (!inputIsStd && !outputIsStd && (output == input || PlatformSameFile(input, output))) {
    err << "tagvert: will not write " << outputName
        << ": it is the input file; choose another output with -o.\n";
    return ExitCode::Usage;
  }

  CTagvertConverter converter;
  const bool bar = !o.quiet && PlatformStderrIsTerminal();
  auto listener = std::make_shared<CCliListener>(err, bar, o.events, toIF);
  std::uint32_t cookie = 0;
  // Listening first, so that --events also shows the Direction put with the code it resolved.
  converter.Advise(listener, cookie);
  if (o.direction) {
    const HResult hr =
        converter.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(*o.direction));
    if (Failed(hr)) {
      err << "tagvert: cannot set the direction: " << DescribeHResult(hr) << ".\n";
      return ExitCode::Failed;
    }
  }

  // Signals are caught before a temporary file exists, so that none can leave one behind.
  g_running.store(&converter);
  PlatformOnInterrupt(&StopRunningConversion);
  CCliOutput out;
  if (!PlatformOpenOutput(output, out, why)) {
    g_running.store(nullptr);
    err << "tagvert: cannot write " << outputName << ": " << why << ".\n";
    if (const int signal = PlatformStopSignal()) PlatformEndBySignal(signal);
    return ExitCode::Failed;
  }
  const CEndpoint source = CEndpoint::Stream(std::make_shared<CWatchedStream>(in, *listener));
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

  const int signal = PlatformStopSignal();
  if (Failed(hr) || converter.State() == kStateStopped || signal != 0) {
    const bool direct = out.temp.empty();
    PlatformAbandonOutput(out);
    if (signal != 0 || !Failed(hr)) {
      err << "tagvert: the conversion of " << Quote(input) << " was stopped; "
          << (direct ? "the output is incomplete.\n" : "no output file was written.\n");
    } else {
      ReportFailure(err, hr, *listener, out, input, outputName);
    }
    // The conventional status of a stopped command, so that a shell loop over many files stops.
    if (signal != 0) PlatformEndBySignal(signal);
    return ExitCode::Failed;
  }
  if (in->ChangedWhileRead()) {
    PlatformAbandonOutput(out);
    err << "tagvert: cannot read " << Quote(input)
        << ": the file changed while it was read; no output file was written.\n";
    return ExitCode::Failed;
  }
  if (!PlatformCommitOutput(out, why)) {
    err << "tagvert: cannot write " << outputName << ": " << why << ".\n";
    return ExitCode::Failed;
  }
  if (!o.quiet) {
    err << "tagvert: converted " << Quote(input);
    if (!inputIsStd) err << " (" << FileSize(input) << " bytes)";
    err << (toIF ? " to IF " : " to TTX ") << outputName;
    if (!outputIsStd) err << " (" << FileSize(out.target) << " bytes)";
    char timing[32];
    if (seconds < 1.0) {
      std::snprintf(timing, sizeof timing, "%.1f ms", seconds * 1000.0);
    } else {
      std::snprintf(timing, sizeof timing, "%.2f s", seconds);
    }
    err << " in " << timing << ".\n";
  }
  return ExitCode::Success;
}

ExitCode RunDetect(const CCliOptions& o, std::ostream& out) {
  CTagvertConverter converter;
  bool allTtx = true;
  for (const std::string& file : o.inputs) {
    std::string why;
    const std::shared_ptr<CCliFile> in = PlatformOpenInput(file, why);
    if (!in) {
      out << file << ": error: " << why << "\n";
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
      const std::string phrase = PlatformErrorPhrase(hr);
      out << file << ": error: " << (phrase.empty() ? DescribeHResult(hr) : phrase) << "\n";
      allTtx = false;
    }
  }
  return allTtx ? ExitCode::Success : ExitCode::Failed;
}

ExitCode RunInfo(std::ostream& out) {
  CTagvertConverter c;
  out << "Name:               " << Narrow(c.GetConverterName()) << "\n"
      << "Default extension:  " << Narrow(c.GetDefaultExtension()) << "\n"
      << "Filter:             " << Narrow(c.GetFilterString()) << "\n"
      << "MIME type:          " << Narrow(c.GetMIMEContentType()) << "\n"
      << "Format id:          " << c.GetFormatId() << "\n"
      << "Target id:          " << c.GetTargetId() << "\n"
      << "Converts to IF:     " << (c.CanConvertToIF() ? 1 : 0) << "\n"
      << "Converts from IF:   " << (c.CanConvertFromIF() ? 1 : 0) << "\n"
      << "Properties:         " << c.GetPropertyCount() << "\n";
  for (std::int32_t i = 0; i < c.GetPropertyCount(); ++i) {
    CVariant value;
    c.GetProperty(CVariant::Int32(i), value);
    out << "  " << i << "  name " << Narrow(c.GetPropertyName(i)) << ", display name "
        << Narrow(c.GetPropertyDisplayName(i)) << ", type " << c.GetPropertyType(i) << ", value "
        << value.GetInt() << "\n";
  }
  return ExitCode::Success;
}

}  // namespace

std::string DescribeHResult(HResult code) {
  switch (code) {
    case kSOk:
      return "success";
    case kEInvalidArg:
      return "the file or stream cannot be opened";
    case kEAbort:
      return "the operation was stopped";
    case kEFail:
      return "the conversion failed";
    case kEPointer:
      return "a stream is missing";
    case kEOutOfMemory:
      return "not enough memory";
    case kENotFormat:
      return "not a TTX document";
    default:
      return "unexpected failure " + Hex(code);
  }
}

ExitCode RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CParseResult parsed = ParseArguments(args);
  if (!parsed.ok()) {
    err << "tagvert: " << parsed.error << " Try 'tagvert --help'.\n";
    return ExitCode::Usage;
  }
  const CCliOptions& o = parsed.options;
  if (o.help) {
    out << CommandHelp(o.command);
    return ExitCode::Success;
  }
  if (o.version) {
    out << "tagvert " << GetVersion() << "\n";
    return ExitCode::Success;
  }
  switch (o.command) {
    case Command::ToIf:
      return RunConversion(o, true, err);
    case Command::FromIf:
      return RunConversion(o, false, err);
    case Command::Detect:
      return RunDetect(o, out);
    case Command::Info:
      return RunInfo(out);
    case Command::None:
      break;
  }
  err << UsageText();
  return ExitCode::Usage;
}

}  // namespace tagvert::cli
