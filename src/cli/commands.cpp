// Tagvert: the commands of the tagvert command line.
// SPDX-License-Identifier: Apache-2.0
#include "cli/commands.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "cli/document_check.h"
#include "cli/document_scan.h"
#include "cli/if_view.h"
#include "cli/progress_bar.h"
#include "cli/pseudo.h"
#include "cli/stats.h"
#include "cli/tag_check.h"
#include "frame/ttx_converter.h"
#include "platform/cli_services.h"
#include "storage/char_class.h"
#include "storage/language_table.h"
#include "storage/memory_stream.h"
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

// A stream over another one: every call passes through unless a subclass changes it.
class CForwardingStream : public IByteStream {
 public:
  explicit CForwardingStream(ByteStreamPtr inner) : m_inner(std::move(inner)) {}

  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    return m_inner->Read(buffer, size);
  }
  std::uint32_t Write(const void* data, std::uint32_t size) override {
    return m_inner->Write(data, size);
  }
  std::uint64_t Position() override { return m_inner->Position(); }
  bool Size(std::uint64_t& size) override { return m_inner->Size(size); }

 protected:
  ByteStreamPtr m_inner;
};

// The command's input or output as the library sees it: tells the listener when the input ends
// and when output is written, which are the phases of a conversion.
class CWatchedStream : public CForwardingStream {
 public:
  CWatchedStream(ByteStreamPtr inner, CCliListener& listener)
      : CForwardingStream(std::move(inner)), m_listener(listener) {}

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

 private:
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
class CBoundedStream : public CForwardingStream {
 public:
  CBoundedStream(ByteStreamPtr inner, std::uint64_t limit)
      : CForwardingStream(std::move(inner)), m_left(limit) {}

  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    if (m_left == 0) return 0;
    if (size > m_left) size = static_cast<std::uint32_t>(m_left);
    const std::uint32_t n = m_inner->Read(buffer, size);
    m_left -= n;
    return n;
  }
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }

 private:
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

// The cause of a failed file service or read, as the command's messages name it.
std::string Cause(const CHResultError& e) {
  const auto* file = dynamic_cast<const CFileError*>(&e);
  return file != nullptr ? file->Phrase() : PlatformErrorPhrase(e.Code());
}

// The sentence for running out of memory while `input` was read or converted, with the memory
// the process had taken by then (its peak, in MB rounded up).
std::string OutOfMemory(const std::string& input) {
  const unsigned long long mb = (PlatformPeakMemory() + (1ULL << 20) - 1) >> 20;
  return "not enough memory to convert " + Quote(input) + " (" + std::to_string(mb) +
         " MB needed so far).";
}

// The sentence for a failed read of `input`: its cause, or running out of memory.
std::string ReadFailure(const std::string& input, const CHResultError& e) {
  if (e.Code() == kEOutOfMemory) return OutOfMemory(input);
  return "cannot read " + Quote(input) + ": " + Cause(e) + ".";
}

// The sentence for a failed conversion of `input`: a read of the system names its cause.
std::string ConversionFailure(const std::string& input, HResult hr) {
  if (hr == kEOutOfMemory) return OutOfMemory(input);
  const std::string phrase = PlatformErrorPhrase(hr);
  if (!phrase.empty()) return "cannot read " + Quote(input) + ": " + phrase + ".";
  return "cannot convert " + Quote(input) + ": " + DescribeHResult(hr) + ".";
}

// The command's messages on standard error, from any thread of a batch: each is one whole line,
// and a progress line drawn on a terminal is cleared before it and drawn again after it.
class CMessages {
 public:
  CMessages(std::ostream& err, bool quiet) : m_err(err), m_quiet(quiet) {}

  /// An error: always shown.
  void Error(const std::string& text) { Put("tagvert: " + text); }
  /// A warning: never changes the exit status; --quiet silences it.
  void Warning(const std::string& text) {
    if (!m_quiet) Put("tagvert: warning: " + text);
  }
  /// A note on what the command chose; --quiet silences it.
  void Note(const std::string& text) {
    if (!m_quiet) Put("tagvert: " + text);
  }
  /// Draws the progress line (without a line end).
  void Progress(const std::string& line) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    const std::size_t pad = m_progressWidth > line.size() ? m_progressWidth - line.size() : 0;
    m_err << "\r" << line << std::string(pad, ' ') << std::flush;
    m_progressWidth = line.size();
  }
  /// Clears the progress line for good.
  void EndProgress() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    ClearProgress();
  }
  bool Quiet() const { return m_quiet; }
  std::ostream& Stream() { return m_err; }

 private:
  void Put(const std::string& line) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    ClearProgress();
    m_err << line << "\n" << std::flush;
  }
  void ClearProgress() {
    if (m_progressWidth == 0) return;
    m_err << "\r" << std::string(m_progressWidth, ' ') << "\r";
    m_progressWidth = 0;
  }

  std::ostream& m_err;
  bool m_quiet;
  std::mutex m_mutex;
  std::size_t m_progressWidth = 0;
};

// The IF header's first unit, U+E804, as UTF-16 little-endian bytes, and the boundary U+E000
// that ends the header.
constexpr unsigned char kIfHeaderBytes[2] = {0x04, 0xE8};
constexpr unsigned char kIfBoundaryBytes[2] = {0x00, 0xE0};
// The header names the converter in a few units; a boundary further away is no header.
constexpr std::uint32_t kIfHeaderUnits = 64;

// Whether the command may read `input` before converting it: a regular file (a pipe, a device
// or standard input gives its bytes once).
bool ReadTwice(const std::string& input) {
  std::error_code ec;
  return input != "-" && std::filesystem::is_regular_file(
                             std::filesystem::path(std::u8string(input.begin(), input.end())), ec);
}

// Whether `in` begins with the IF header: U+E804, then the boundary U+E000 within the header's
// first units. A failed read throws.
bool HasIfHeader(IByteStream& in) {
  unsigned char head[2 * kIfHeaderUnits];
  std::uint32_t got = 0;
  while (got < sizeof head) {
    const std::uint32_t n = in.Read(head + got, static_cast<std::uint32_t>(sizeof head) - got);
    if (n == 0) break;
    got += n;
  }
  if (got < 4 || head[0] != kIfHeaderBytes[0] || head[1] != kIfHeaderBytes[1]) return false;
  for (std::uint32_t i = 2; i + 1 < got; i += 2) {
    if (head[i] == kIfBoundaryBytes[0] && head[i + 1] == kIfBoundaryBytes[1]) return true;
  }
  return false;
}

// Checks that `input` is of the format its command converts: a TTX document for to-if (the
// converter's format test), the IF header for from-if. Returns an empty string when it is,
// else the sentence that refuses it. Standard input, a pipe or a device is not checked: it cannot
// be read twice. `readFailed`, when given, tells whether the sentence is a failed read.
std::string CheckInputFormat(const std::string& input, bool toIF, bool* readFailed = nullptr) {
  if (!ReadTwice(input)) return {};
  if (readFailed != nullptr) *readFailed = true;
  try {
    const std::shared_ptr<CCliFile> in = PlatformOpenInput(input);
    if (!toIF) {
      const bool isIF = HasIfHeader(*in);
      if (readFailed != nullptr) *readFailed = false;
      if (isIF) return {};
      return "'" + input +
             "' is not an IF document (it does not begin with the IF header); --force "
             "converts it anyway.";
    }
    CTagvertConverter converter;
    const HResult hr = converter.IsFormatAvailable(
        CEndpoint::Stream(std::make_shared<CBoundedStream>(in, kFormatTestBytes)));
    if (hr == kSOk || hr == kENotFormat) {
      if (readFailed != nullptr) *readFailed = false;
    }
    if (hr == kSOk) return {};
    if (hr == kEOutOfMemory) return OutOfMemory(input);
    if (hr != kENotFormat) {
      const std::string phrase = PlatformErrorPhrase(hr);
      return "cannot read '" + input + "': " + (phrase.empty() ? DescribeHResult(hr) : phrase) +
             ".";
    }
    return "'" + input +
           "' is not a TTX document (no TRADOStag start tag among its first items); --force "
           "converts it anyway.";
  } catch (const CHResultError& e) {
    return ReadFailure(input, e);
  } catch (const std::bad_alloc&) {
    return OutOfMemory(input);
  }
}

// The Direction of a conversion to IF: --direction, else the target language the document
// names when the kernel knows it. Says on standard error what was chosen, and warns when no Tuv
// of the document will be translated. A failed read of the document throws (CHResultError, or
// std::bad_alloc when memory runs out), as it would in the conversion.
std::int32_t ChooseDirection(const CCliOptions& o, const std::string& input, CMessages& messages,
                             CDocumentLanguages* scanned = nullptr) {
  const std::string name = Quote(input);
  if (!ReadTwice(input)) {
    if (!o.direction) {
      messages.Warning(name +
                       " is not read ahead for its target language: every Tuv is carried "
                       "untranslated (give --direction).");
    }
    return o.direction.value_or(0);
  }
  // Nothing to say and nothing to find: the scan is skipped.
  if (o.direction && messages.Quiet() && scanned == nullptr) return *o.direction;
  const CDocumentLanguages languages = ScanLanguages(PlatformOpenInput(input));
  if (scanned != nullptr) *scanned = languages;
  std::int32_t direction = 0;
  if (o.direction) {
    direction = *o.direction;
  } else if (const auto found = languages.targetLanguage
                                    ? DirectionOfLanguage(*languages.targetLanguage)
                                    : std::nullopt) {
    direction = *found;
    messages.Note(name + ": target language " + Narrow(*languages.targetLanguage) +
                  ", from the document.");
  } else {
    if (languages.tuvLanguages.empty()) return 0;
    const std::string named = languages.targetLanguage ? "names the target language '" +
                                                             Narrow(*languages.targetLanguage) +
                                                             "', which is not in the language table"
                                                       : "names no target language";
    messages.Warning(name + ": the document " + named +
                     ": every Tuv is carried untranslated (give --direction; 'tagvert "
                     "languages' lists the table).");
    return 0;
  }
  const std::string mismatch = TuvMismatch(languages, direction);
  if (!mismatch.empty()) messages.Warning(name + ": " + mismatch + ".");
  return direction;
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
  if (hr == kEOutOfMemory) {
    err << "tagvert: " << OutOfMemory(input) << "\n";
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

// The translated IF passes through the tag check on its way to the converter.
class CCheckedStream : public CForwardingStream {
 public:
  CCheckedStream(ByteStreamPtr inner, CTagCheck& check)
      : CForwardingStream(std::move(inner)), m_check(check) {}

  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    const std::uint32_t n = m_inner->Read(buffer, size);
    m_check.Feed(buffer, n);
    return n;
  }

 private:
  CTagCheck& m_check;
};

// Of each kind of tag problem (from-if) or document problem (check), the ones listed for one file
// unless --all-warnings is given; one more line counts the rest (a damaged file can have
// millions of them).
constexpr std::size_t kListedWarnings = 100;

// The tag check of one conversion from IF, its problems reported as warnings.
std::unique_ptr<CTagCheck> MakeTagCheck(const CCliOptions& o, const std::string& input,
                                        CMessages& messages) {
  auto check = std::make_unique<CTagCheck>(
      [&messages, name = Quote(input)](std::uint64_t unit, const std::string& text) {
        messages.Warning(name + ": unit " + std::to_string(unit) + ": " + text + ".");
      });
  if (!o.allWarnings) check->SetListLimit(kListedWarnings);
  return check;
}

// Reads the IF of --against into the check. False, with the error said, when it cannot be read
// or is not IF.
bool LoadSent(const std::string& sent, CTagCheck& check, CMessages& messages) {
  const std::string refused = CheckInputFormat(sent, false);
  if (!refused.empty()) {
    messages.Error("--against: " + refused);
    return false;
  }
  try {
    check.SetSent(*PlatformOpenInput(sent));
  } catch (const CHResultError& e) {
    messages.Error("cannot read '" + sent + "': " + Cause(e) + ".");
    return false;
  }
  return true;
}

// Ends the tag check of a conversion from IF that succeeded. False, with the error said, when
// --strict refuses the output.
bool FinishTagCheck(const CCliOptions& o, CTagCheck& check, const std::string& input,
                    CMessages& messages) {
  check.Finish();
  if (o.against) {
    try {
      check.NameMissing(*PlatformOpenInput(*o.against));
    } catch (const CHResultError&) {
      // Read once already: a failure now leaves the missing tags unnamed, no more.
    }
  }
  for (const auto& [kind, count] : check.Unlisted()) {
    messages.Warning(Quote(input) + ": " + std::to_string(count) + " more warning" +
                     (count == 1 ? "" : "s") + " not listed: " + kind +
                     " (--all-warnings lists them).");
  }
  if (!o.strict || check.Problems() == 0) return true;
  messages.Error(std::to_string(check.Problems()) + " tag problem" +
                 (check.Problems() == 1 ? "" : "s") + " in " + Quote(input) +
                 " (--strict); no output file was written.");
  return false;
}

// Says that a conversion that succeeded dropped the odd last byte of its UTF-16 input (IF, or
// TTX with a UTF-16 mark). False, with the error said, when --strict refuses the output.
bool FinishInputEnd(const CCliOptions& o, const CTagvertConverter& converter,
                    const std::string& input, CMessages& messages) {
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

// The output of `input` when no -o names it: the default name, in -O DIR when given.
std::string DefaultOutput(const CCliOptions& o, const std::string& input, bool toIF) {
  const std::string name = toIF ? DefaultToIfOutput(input) : DefaultFromIfOutput(input);
  return o.outputDir ? OutputInFolder(*o.outputDir, name) : name;
}

// A file name of the command (UTF-8) as a path of the file system.
std::filesystem::path FsPath(const std::string& name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// Makes the folder of -O when it does not exist yet.
bool MakeFolder(const std::string& dir, CMessages& messages) {
  std::error_code ec;
  std::filesystem::create_directories(FsPath(dir), ec);
  if (ec && !std::filesystem::is_directory(FsPath(dir))) {
    messages.Error("cannot make the folder '" + dir + "': " + ec.message() + ".");
    return false;
  }
  return true;
}

// Runs to-if or from-if on one input.
ExitCode RunConversion(const CCliOptions& o, bool toIF, std::ostream& err) {
  const std::string& input = o.inputs.front();
  const bool inputIsStd = input == "-";
  std::string output;
  if (o.output) {
    output = *o.output;
  } else if (inputIsStd) {
    output = "-";
  } else {
    output = DefaultOutput(o, input, toIF);
  }
  const bool outputIsStd = output == "-";
  const std::string outputName = outputIsStd ? "standard output" : "'" + output + "'";

  std::shared_ptr<CCliFile> in;
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
  if (!o.force) {
    const std::string refused = CheckInputFormat(input, toIF);
    if (!refused.empty()) {
      messages.Error(refused);
      return ExitCode::Failed;
    }
  }
  if (o.outputDir && !MakeFolder(*o.outputDir, messages)) return ExitCode::Failed;

  CTagvertConverter converter;
  const bool bar = !o.quiet && PlatformStderrIsTerminal();
  auto listener = std::make_shared<CCliListener>(err, bar, o.events, toIF);
  std::uint32_t cookie = 0;
  // Listening first, so that --events also shows the Direction put with the code it resolved.
  converter.Advise(listener, cookie);
  std::int32_t direction = 0;
  try {
    if (toIF) direction = ChooseDirection(o, input, messages);
  } catch (const CHResultError& e) {
    messages.Error(ReadFailure(input, e));
    return ExitCode::Failed;
  } catch (const std::bad_alloc&) {
    messages.Error(OutOfMemory(input));
    return ExitCode::Failed;
  }
  if (direction != 0 || o.direction) {
    const HResult hr =
        converter.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(direction));
    if (Failed(hr)) {
      err << "tagvert: cannot set the direction: " << DescribeHResult(hr) << ".\n";
      return ExitCode::Failed;
    }
  }

  // Signals are caught before a temporary file exists, so that none can leave one behind.
  g_running.store(&converter);
  PlatformOnInterrupt(&StopRunningConversion);
  CCliOutput out;
  try {
    out = PlatformOpenOutput(output);
  } catch (const CFileError& e) {
    g_running.store(nullptr);
    // A stop while the output was opened (waiting for the reader of a named pipe, say) is a
    // stop, whatever the system says of the interrupted call.
    if (const int signal = PlatformStopSignal()) {
      err << "tagvert: the conversion of " << Quote(input)
          << " was stopped; no output file was written.\n";
      PlatformEndBySignal(signal);
    }
    err << "tagvert: cannot write " << outputName << ": " << e.Phrase() << ".\n";
    return ExitCode::Failed;
  }
  std::unique_ptr<CTagCheck> check;
  ByteStreamPtr sourceStream = std::make_shared<CWatchedStream>(in, *listener);
  if (!toIF) {
    check = MakeTagCheck(o, input, messages);
    if (o.against && !LoadSent(*o.against, *check, messages)) {
      PlatformAbandonOutput(out);
      g_running.store(nullptr);
      return ExitCode::Failed;
    }
    sourceStream = std::make_shared<CCheckedStream>(sourceStream, *check);
  }
  const CEndpoint source = CEndpoint::Stream(sourceStream);
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
  if ((check && !FinishTagCheck(o, *check, input, messages)) ||
      !FinishInputEnd(o, converter, input, messages)) {
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

// One input of a batch and its output.
struct CJob {
  std::string input;
  std::string output;
  std::uint64_t size = 0;  ///< the input's size when the batch started
};

// A key under which two names of the same file meet: the absolute, normalised path (without
// letter case on Windows, where names compare so).
std::string PathKey(const std::string& name) {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(FsPath(name), ec);
  if (ec) path = FsPath(name);
  const std::u8string text = path.lexically_normal().u8string();
  std::string key(text.begin(), text.end());
#ifdef _WIN32
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
#endif
  return key;
}

// Refuses a batch in which two inputs would write one output, or an output is an input.
// Returns the sentence that refuses it, empty when there is none.
std::string FindCollision(const std::vector<CJob>& jobs) {
  std::unordered_map<std::string, std::size_t> outputs;
  std::unordered_map<std::string, std::size_t> inputs;
  for (std::size_t i = 0; i < jobs.size(); ++i)
    inputs.emplace(PathKey(jobs[i].input), i);
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const std::string key = PathKey(jobs[i].output);
    const auto [at, added] = outputs.emplace(key, i);
    if (!added) {
      return "'" + jobs[at->second].input + "' and '" + jobs[i].input + "' would both write '" +
             jobs[i].output + "'; nothing was converted.";
    }
    const auto input = inputs.find(key);
    if (input != inputs.end() || PlatformSameFile(jobs[i].input, jobs[i].output)) {
      return "will not write '" + jobs[i].output + "': it is the input file '" +
             jobs[input != inputs.end() ? input->second : i].input + "'; nothing was converted.";
    }
  }
  return {};
}

std::string Bytes(std::uint64_t bytes) {
  char text[32];
  if (bytes < std::uint64_t{1024} * 1024) {
    std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(bytes) / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  }
  return text;
}

std::string Seconds(double seconds) {
  char text[32];
  if (seconds < 1.0) {
    std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000.0);
  } else {
    std::snprintf(text, sizeof text, "%.2f s", seconds);
  }
  return text;
}

// What became of one job.
enum class JobOutcome { Converted, Failed, Stopped };

// The shared state of a batch: the next job, the counts, and the converters running now, which
// a failure (without --keep-going) or a stop signal stops.
class CBatch {
 public:
  CBatch(const CCliOptions& o, bool toIF, std::vector<CJob> jobs, CMessages& messages)
      : m_options(o), m_toIF(toIF), m_jobs(std::move(jobs)), m_messages(messages) {
    for (const CJob& job : m_jobs)
      m_totalBytes += job.size;
  }

  /// Runs the batch on `workers` threads; returns when every job has ended.
  void Run(unsigned workers);

  /// Stops every running conversion and lets no further job start. Takes the lock of the
  /// running converters, so a signal handler calls RequestStop instead.
  void StopAll() {
    m_stopping.store(true);
    const std::lock_guard<std::mutex> lock(m_runningLock);
    for (CTTXConverterBase* converter : m_running) {
      if (converter != nullptr) converter->Stop();
    }
  }
  /// Lets no further job start; safe in a signal handler. The thread that watches the batch
  /// then stops the running conversions with StopAll.
  void RequestStop() { m_stopping.store(true); }

  std::size_t Converted() const { return m_converted.load(); }
  std::size_t FailedCount() const { return m_failed.load(); }
  std::size_t Total() const { return m_jobs.size(); }
  std::uint64_t BytesIn() const { return m_bytesIn.load(); }
  std::uint64_t BytesOut() const { return m_bytesOut.load(); }
  std::uint64_t TotalBytes() const { return m_totalBytes; }

  /// The progress line: files done, bytes read, rate and the time left.
  std::string ProgressText(double elapsed) const {
    const std::size_t done = m_converted.load() + m_failed.load();
    const std::uint64_t bytes = m_bytesIn.load() + m_bytesFailed.load();
    std::string line = "  " + std::to_string(done) + "/" + std::to_string(m_jobs.size()) +
                       " files, " + Bytes(bytes) + " of " + Bytes(m_totalBytes);
    if (elapsed > 0.0 && bytes > 0) {
      const double rate = static_cast<double>(bytes) / elapsed;
      line += ", " + Bytes(static_cast<std::uint64_t>(rate)) + "/s";
      const double left = static_cast<double>(m_totalBytes - std::min(bytes, m_totalBytes)) / rate;
      char eta[32];
      std::snprintf(eta, sizeof eta, ", %.0f s left", left);
      line += eta;
    }
    return line;
  }

 private:
  void Work(std::size_t slot);
  JobOutcome Convert(const CJob& job, std::size_t slot);
  // The conversion of a job once its output is open.
  JobOutcome ConvertTo(const CJob& job, CTagvertConverter& converter,
                       const std::shared_ptr<CCliFile>& in, CCliListener& listener,
                       CCliOutput& out);

  const CCliOptions& m_options;
  bool m_toIF;
  std::vector<CJob> m_jobs;
  CMessages& m_messages;
  std::uint64_t m_totalBytes = 0;
  std::atomic<std::size_t> m_next{0};
  std::atomic<bool> m_stopping{false};
  std::atomic<std::size_t> m_converted{0};
  std::atomic<std::size_t> m_failed{0};
  std::atomic<std::uint64_t> m_bytesIn{0};
  std::atomic<std::uint64_t> m_bytesFailed{0};
  std::atomic<std::uint64_t> m_bytesOut{0};
  // The converters running now, by worker. A worker takes its converter out under the lock
  // before it destroys it, so StopAll never reaches one that is being destroyed.
  std::mutex m_runningLock;
  std::array<CTTXConverterBase*, kMaxTemporaryOutputs> m_running{};
};

// The batch that a stop signal stops.
std::atomic<CBatch*> g_batch{nullptr};

void StopRunningBatch() {
  if (CBatch* batch = g_batch.load()) batch->RequestStop();
}

void CBatch::Run(unsigned workers) {
  std::vector<std::thread> threads;
  try {
    for (unsigned i = 0; i < workers; ++i)
      threads.emplace_back([this, i] { Work(i); });
  } catch (const std::system_error&) {
    // Memory is short: the batch runs on the threads it has, or on this one.
    if (threads.empty()) Work(0);
  }
  for (std::thread& thread : threads)
    thread.join();
}

void CBatch::Work(std::size_t slot) {
  while (!m_stopping.load()) {
    const std::size_t index = m_next.fetch_add(1);
    if (index >= m_jobs.size()) break;
    JobOutcome outcome = JobOutcome::Failed;
    try {
      outcome = Convert(m_jobs[index], slot);
    } catch (const std::bad_alloc&) {
      m_messages.Error(OutOfMemory(m_jobs[index].input));
    }
    switch (outcome) {
      case JobOutcome::Converted:
        m_converted.fetch_add(1);
        break;
      case JobOutcome::Failed:
        m_failed.fetch_add(1);
        m_bytesFailed.fetch_add(m_jobs[index].size);
        // Without --keep-going the first failure ends the batch.
        if (!m_options.keepGoing) StopAll();
        break;
      case JobOutcome::Stopped:
        break;
    }
  }
}

JobOutcome CBatch::Convert(const CJob& job, std::size_t slot) {
  if (!m_options.force) {
    const std::string refused = CheckInputFormat(job.input, m_toIF);
    if (!refused.empty()) {
      m_messages.Error(refused);
      return JobOutcome::Failed;
    }
  }
  std::shared_ptr<CCliFile> in;
  try {
    in = PlatformOpenInput(job.input);
  } catch (const CFileError& e) {
    m_messages.Error("cannot read '" + job.input + "': " + e.Phrase() + ".");
    return JobOutcome::Failed;
  }
  CTagvertConverter converter;
  if (m_toIF) {
    std::int32_t direction = 0;
    try {
      direction = ChooseDirection(m_options, job.input, m_messages);
    } catch (const CHResultError& e) {
      m_messages.Error(ReadFailure(job.input, e));
      return JobOutcome::Failed;
    }
    converter.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(direction));
  }
  auto listener = std::make_shared<CCliListener>(m_messages.Stream(), false, false, m_toIF);
  std::uint32_t cookie = 0;
  converter.Advise(listener, cookie);

  // Registered before the output exists, so that a stop never misses a conversion under way;
  // taken out again before the converter is destroyed.
  struct CRegistration {
    CBatch& batch;
    std::size_t slot;
    CRegistration(CBatch& b, std::size_t s, CTTXConverterBase* converter) : batch(b), slot(s) {
      const std::lock_guard<std::mutex> lock(batch.m_runningLock);
      batch.m_running[slot] = converter;
    }
    ~CRegistration() {
      const std::lock_guard<std::mutex> lock(batch.m_runningLock);
      batch.m_running[slot] = nullptr;
    }
    CRegistration(const CRegistration&) = delete;
    CRegistration& operator=(const CRegistration&) = delete;
  } registration(*this, slot, &converter);
  if (m_stopping.load()) return JobOutcome::Stopped;

  CCliOutput out;
  try {
    out = PlatformOpenOutput(job.output);
  } catch (const CFileError& e) {
    // A stop while the output was opened (waiting for the reader of a named pipe) is a stop.
    if (m_stopping.load()) return JobOutcome::Stopped;
    m_messages.Error("cannot write '" + job.output + "': " + e.Phrase() + ".");
    return JobOutcome::Failed;
  }
  try {
    return ConvertTo(job, converter, in, *listener, out);
  } catch (const std::bad_alloc&) {
    PlatformAbandonOutput(out);  // no temporary file stays behind
    throw;
  }
}

JobOutcome CBatch::ConvertTo(const CJob& job, CTagvertConverter& converter,
                             const std::shared_ptr<CCliFile>& in, CCliListener& listener,
                             CCliOutput& out) {
  std::unique_ptr<CTagCheck> check;
  ByteStreamPtr sourceStream = in;
  if (!m_toIF) {
    check = MakeTagCheck(m_options, job.input, m_messages);
    sourceStream = std::make_shared<CCheckedStream>(sourceStream, *check);
  }
  const CEndpoint source = CEndpoint::Stream(sourceStream);
  const CEndpoint target = CEndpoint::Stream(std::make_shared<CWatchedStream>(out.file, listener));
  const HResult hr =
      m_toIF ? converter.ConvertToIF(source, target) : converter.ConvertFromIF(source, target);
  if (Failed(hr) || converter.State() == kStateStopped) {
    PlatformAbandonOutput(out);
    if (!Failed(hr) || m_stopping.load()) return JobOutcome::Stopped;
    std::ostringstream text;
    ReportFailure(text, hr, listener, out, job.input, "'" + job.output + "'");
    std::string line = text.str();
    // ReportFailure writes "tagvert: ...\n"; the messages add their own.
    if (line.starts_with("tagvert: ")) line.erase(0, 9);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    m_messages.Error(line);
    return JobOutcome::Failed;
  }
  if ((check && !FinishTagCheck(m_options, *check, job.input, m_messages)) ||
      !FinishInputEnd(m_options, converter, job.input, m_messages)) {
    PlatformAbandonOutput(out);
    return JobOutcome::Failed;
  }
  if (in->ChangedWhileRead()) {
    PlatformAbandonOutput(out);
    m_messages.Error("cannot read '" + job.input +
                     "': the file changed while it was read; no output file was written.");
    return JobOutcome::Failed;
  }
  try {
    PlatformCommitOutput(out);
  } catch (const CFileError& e) {
    m_messages.Error("cannot write '" + job.output + "': " + e.Phrase() + ".");
    return JobOutcome::Failed;
  }
  m_bytesIn.fetch_add(job.size);
  m_bytesOut.fetch_add(FileSize(out.target));
  return JobOutcome::Converted;
}

// Runs to-if or from-if on several inputs.
ExitCode RunBatch(const CCliOptions& o, bool toIF, std::ostream& err) {
  CMessages messages(err, o.quiet);
  std::vector<CJob> jobs;
  jobs.reserve(o.inputs.size());
  for (const std::string& input : o.inputs) {
    jobs.push_back({input, DefaultOutput(o, input, toIF), FileSize(input)});
  }
  const std::string collision = FindCollision(jobs);
  if (!collision.empty()) return UsageError(err, collision, false);
  if (o.outputDir && !MakeFolder(*o.outputDir, messages)) return ExitCode::Failed;

  unsigned workers = o.jobs != 0 ? o.jobs : std::max(1U, std::thread::hardware_concurrency());
  workers = std::min<unsigned>(workers, static_cast<unsigned>(kMaxTemporaryOutputs));
  workers = std::min<unsigned>(workers, static_cast<unsigned>(jobs.size()));

  CBatch batch(o, toIF, std::move(jobs), messages);
  g_batch.store(&batch);
  PlatformOnInterrupt(&StopRunningBatch);
  const bool bar = !o.quiet && PlatformStderrIsTerminal();
  const auto started = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };

  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::thread runner([&] {
    batch.Run(workers);
    const std::lock_guard<std::mutex> lock(mutex);
    done = true;
    ended.notify_one();
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    std::optional<std::chrono::steady_clock::time_point> deadline;
    auto nextDraw = std::chrono::steady_clock::now();
    while (!done) {
      // A signal handler cannot wake this thread safely, so the flag is polled.
      ended.wait_for(lock, std::chrono::milliseconds(10), [&] { return done; });
      if (done) break;
      if (bar && std::chrono::steady_clock::now() >= nextDraw) {
        messages.Progress(batch.ProgressText(elapsed()));
        nextDraw = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
      }
      const int signal = PlatformStopSignal();
      if (signal == 0) continue;
      if (!deadline) {
        // The handler only kept further jobs from starting: the running ones stop here.
        batch.StopAll();
        deadline = std::chrono::steady_clock::now() + kStopGrace;
      }
      if (std::chrono::steady_clock::now() < *deadline) continue;
      // The conversions are still unwinding from the stop: their outputs go at once.
      PlatformRemoveTemporaryOutputs();
      messages.EndProgress();
      messages.Error("the batch was stopped; no partial output file was left.");
      PlatformEndBySignal(signal);
    }
  }
  runner.join();
  g_batch.store(nullptr);
  messages.EndProgress();

  const std::size_t notConverted = batch.Total() - batch.Converted() - batch.FailedCount();
  if (const int signal = PlatformStopSignal()) {
    messages.Error("the batch was stopped; no partial output file was left.");
    PlatformEndBySignal(signal);
  }
  if (!o.quiet || batch.FailedCount() != 0) {
    std::string summary = std::to_string(batch.Converted()) + " of " +
                          std::to_string(batch.Total()) + " files converted";
    if (batch.FailedCount() != 0) summary += ", " + std::to_string(batch.FailedCount()) + " failed";
    if (notConverted != 0) {
      summary += ", " + std::to_string(notConverted) + " not converted (the batch stopped)";
    }
    summary += "; " + Bytes(batch.BytesIn()) + " read, " + Bytes(batch.BytesOut()) +
               " written in " + Seconds(elapsed()) + ".";
    messages.Error(summary);
  }
  return batch.FailedCount() != 0 ? ExitCode::Failed : ExitCode::Success;
}

// Shows an IF, or the IF of a TTX document converted in memory.
ExitCode RunShow(const CCliOptions& o, std::ostream& out, std::ostream& err) {
  CMessages messages(err, o.quiet);
  const std::string& input = o.inputs.front();
  const IfViewMode mode = o.codes                            ? IfViewMode::Codes
                          : PlatformStdoutIsColourTerminal() ? IfViewMode::Colour
                                                             : IfViewMode::Plain;
  bool readFailed = false;
  const std::string notIF = CheckInputFormat(input, false, &readFailed);
  if (readFailed) {
    messages.Error(notIF);
    return ExitCode::Failed;
  }
  const bool isIF = notIF.empty();
  try {
    const std::shared_ptr<CCliFile> in = PlatformOpenInput(input);
    if (isIF) {
      // Read whole before anything is shown, so that a failed read shows nothing, as it does
      // for a TTX document converted in memory.
      std::vector<std::uint8_t> bytes;
      std::uint8_t block[1 << 16];
      while (const std::uint32_t n = in->Read(block, sizeof block))
        bytes.insert(bytes.end(), block, block + n);
      CMemoryStream view(std::move(bytes));
      ShowIf(view, out, mode);
      return ExitCode::Success;
    }
    if (!o.force) {
      const std::string refused = CheckInputFormat(input, true, &readFailed);
      if (!refused.empty()) {
        messages.Error(readFailed
                           ? refused
                           : "'" + input + "' is neither IF nor TTX; --force shows it as TTX.");
        return ExitCode::Failed;
      }
    }
    CTagvertConverter converter;
    converter.PutProperty(CVariant::String(u"Direction"),
                          CVariant::Int32(ChooseDirection(o, input, messages)));
    auto memory = std::make_shared<CMemoryStream>();
    const HResult hr = converter.ConvertToIF(CEndpoint::Stream(in), CEndpoint::Stream(memory));
    if (Failed(hr)) {
      messages.Error(ConversionFailure(input, hr));
      return ExitCode::Failed;
    }
    CMemoryStream view(memory->Bytes());
    ShowIf(view, out, mode);
  } catch (const CHResultError& e) {
    messages.Error(ReadFailure(input, e));
    return ExitCode::Failed;
  } catch (const std::bad_alloc&) {
    messages.Error(OutOfMemory(input));
    return ExitCode::Failed;
  }
  return out.good() ? ExitCode::Success : ExitCode::Failed;
}

// The figures of one document, or of all.
struct CStats {
  std::uint64_t units = 0, matched = 0, runs = 0, words = 0, tags = 0;
  void Add(const CStats& other) {
    units += other.units;
    matched += other.matched;
    runs += other.runs;
    words += other.words;
    tags += other.tags;
  }
};

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string JsonStats(const CStats& s) {
  return "\"units\": " + std::to_string(s.units) + ", \"matched\": " + std::to_string(s.matched) +
         ", \"runs\": " + std::to_string(s.runs) + ", \"words\": " + std::to_string(s.words) +
         ", \"tags\": " + std::to_string(s.tags);
}

std::string TextStats(const std::string& name, const CStats& s) {
  char line[64];
  std::snprintf(line, sizeof line, "%8llu %8llu %8llu %9llu %8llu  ",
                static_cast<unsigned long long>(s.units),
                static_cast<unsigned long long>(s.matched), static_cast<unsigned long long>(s.runs),
                static_cast<unsigned long long>(s.words), static_cast<unsigned long long>(s.tags));
  return line + name + "\n";
}

// Converts one TTX document to IF in memory, as the commands that look at the IF (stats,
// pseudo, show) need it: the input checks, the direction, then the IF as UTF-16 units. Reports
// what goes wrong through `messages` and returns nullopt then; std::bad_alloc passes through.
std::optional<std::u16string> ConvertToIfInMemory(const CCliOptions& o, const std::string& input,
                                                  CMessages& messages,
                                                  CDocumentLanguages* languages = nullptr) {
  if (!o.force) {
    const std::string refused = CheckInputFormat(input, true);
    if (!refused.empty()) {
      messages.Error(refused);
      return std::nullopt;
    }
  }
  std::shared_ptr<CCliFile> in;
  try {
    in = PlatformOpenInput(input);
  } catch (const CFileError& e) {
    messages.Error("cannot read " + Quote(input) + ": " + e.Phrase() + ".");
    return std::nullopt;
  }
  CTagvertConverter converter;
  try {
    converter.PutProperty(CVariant::String(u"Direction"),
                          CVariant::Int32(ChooseDirection(o, input, messages, languages)));
  } catch (const CHResultError& e) {
    messages.Error(ReadFailure(input, e));
    return std::nullopt;
  }
  const auto memory = std::make_shared<CMemoryStream>();
  const HResult hr = converter.ConvertToIF(CEndpoint::Stream(in), CEndpoint::Stream(memory));
  if (Failed(hr)) {
    messages.Error(ConversionFailure(input, hr));
    return std::nullopt;
  }
  const std::vector<std::uint8_t>& bytes = memory->Bytes();
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return units;
}

// Counts one document: its units from the markup, the rest from its IF made in memory.
bool CountDocument(const CCliOptions& o, const std::string& input, CMessages& messages,
                   CStats& stats) {
  CDocumentLanguages languages;
  const auto units = ConvertToIfInMemory(o, input, messages, &languages);
  if (!units) return false;
  stats.units = languages.units;
  stats.matched = languages.matchedUnits;
  CIfCounter counter;
  counter.Feed(units->data(), units->size());
  counter.Finish();
  stats.runs = counter.Runs();
  stats.words = counter.Words();
  stats.tags = counter.Tags();
  return true;
}

ExitCode RunStats(const CCliOptions& o, std::ostream& out, std::ostream& err) {
  CMessages messages(err, o.quiet);
  CStats total;
  bool allCounted = true;
  std::string json = "{\"files\": [";
  if (!o.json) out << "   units  matched     runs     words     tags  file\n";
  bool first = true;
  for (const std::string& input : o.inputs) {
    CStats stats;
    bool counted = false;
    try {
      counted = CountDocument(o, input, messages, stats);
    } catch (const std::bad_alloc&) {
      messages.Error(OutOfMemory(input));
    }
    if (!counted) {
      allCounted = false;
      continue;
    }
    total.Add(stats);
    if (o.json) {
      json += (first ? "\n  {\"file\": " : ",\n  {\"file\": ") + JsonString(input) + ", " +
              JsonStats(stats) + "}";
    } else {
      out << TextStats(input, stats);
    }
    first = false;
  }
  if (o.json) {
    out << json << "\n],\n\"total\": {" << JsonStats(total) << "}}\n";
  } else {
    out << TextStats("total", total);
  }
  return allCounted ? ExitCode::Success : ExitCode::Failed;
}

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
  try {
    out = PlatformOpenOutput(output);
  } catch (const CFileError& e) {
    messages.Error("cannot write '" + output + "': " + e.Phrase() + ".");
    return false;
  }
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
    const std::string phrase = out.file ? PlatformErrorPhrase(out.file->WriteError()) : "";
    messages.Error("cannot write '" + output +
                   "': " + (phrase.empty() ? DescribeHResult(hr) : phrase) + ".");
    return false;
  }
  try {
    PlatformCommitOutput(out);
  } catch (const CFileError& e) {
    messages.Error("cannot write '" + output + "': " + e.Phrase() + ".");
    return false;
  }
  return true;
}

ExitCode RunPseudo(const CCliOptions& o, std::ostream& err) {
  CMessages messages(err, o.quiet);
  std::vector<CJob> jobs;
  for (const std::string& input : o.inputs) {
    std::string output = o.output ? *o.output : DefaultPseudoOutput(input);
    if (o.outputDir) output = OutputInFolder(*o.outputDir, output);
    jobs.push_back({input, output, 0});
  }
  const std::string collision = FindCollision(jobs);
  if (!collision.empty()) return UsageError(err, collision, false);
  if (o.outputDir && !MakeFolder(*o.outputDir, messages)) return ExitCode::Failed;
  std::size_t done = 0;
  for (const CJob& job : jobs) {
    try {
      if (PseudoDocument(o, job.input, job.output, messages)) ++done;
    } catch (const std::bad_alloc&) {
      PlatformRemoveTemporaryOutputs();  // one document at a time: only its output is open
      messages.Error(OutOfMemory(job.input));
    }
  }
  messages.Note("pseudo-translated " + std::to_string(done) + " of " + std::to_string(jobs.size()) +
                " files.");
  return done == jobs.size() ? ExitCode::Success : ExitCode::Failed;
}

ExitCode RunCheck(const CCliOptions& o, std::ostream& out, std::ostream& err) {
  CMessages messages(err, o.quiet);
  bool clean = true;
  for (const std::string& input : o.inputs) {
    try {
      const std::shared_ptr<CCliFile> in = PlatformOpenInput(input);
      const std::int32_t direction = ChooseDirection(o, input, messages);
      const std::u16string target = direction != 0 ? TuvLanguageOf(direction) : std::u16string();
      std::vector<std::pair<std::string, std::size_t>> unlisted;
      const std::size_t problems = CheckDocument(
          in, target,
          [&](std::uint64_t line, std::uint64_t column, const std::string& text) {
            out << input << ":" << line << ":" << column << ": " << text << "\n";
          },
          o.allWarnings ? 0 : kListedWarnings, &unlisted);
      for (const auto& [kind, count] : unlisted) {
        out << input << ": " << count << " more problem" << (count == 1 ? "" : "s")
            << " not listed: " << kind << " (--all-warnings lists them).\n";
      }
      if (problems != 0) clean = false;
    } catch (const CHResultError& e) {
      messages.Error(ReadFailure(input, e));
      clean = false;
    } catch (const std::bad_alloc&) {
      messages.Error(OutOfMemory(input));
      clean = false;
    }
  }
  return clean ? ExitCode::Success : ExitCode::Failed;
}

// Lists the language table.
ExitCode RunLanguages(std::ostream& out) {
  out << "tag     code    direction\n";
  for (const CLanguageEntry& entry : LanguageTable()) {
    char line[64];
    std::snprintf(line, sizeof line, "%-7s 0x%04X  0x%08X\n", Narrow(entry.tag).c_str(),
                  static_cast<unsigned>(entry.code), static_cast<unsigned>(entry.code) << 16);
    out << line;
  }
  return ExitCode::Success;
}

ExitCode RunDetect(const CCliOptions& o, std::ostream& out) {
  CTagvertConverter converter;
  bool allTtx = true;
  for (const std::string& file : o.inputs) {
    std::shared_ptr<CCliFile> in;
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

// Runs the command that the arguments name.
ExitCode RunCommand(const CCliOptions& o, std::ostream& out, std::ostream& err) {
  switch (o.command) {
    case Command::ToIf:
    case Command::FromIf: {
      const bool toIF = o.command == Command::ToIf;
      return o.inputs.size() > 1 ? RunBatch(o, toIF, err) : RunConversion(o, toIF, err);
    }
    case Command::Languages:
      return RunLanguages(out);
    case Command::Show:
      return RunShow(o, out, err);
    case Command::Stats:
      return RunStats(o, out, err);
    case Command::Pseudo:
      return RunPseudo(o, err);
    case Command::Check:
      return RunCheck(o, out, err);
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
  if (!parsed.ok()) return UsageError(err, parsed.error);
  const CCliOptions& o = parsed.options;
  if (o.help) {
    out << CommandHelp(o.command);
    return ExitCode::Success;
  }
  if (o.version) {
    out << "tagvert " << GetVersion() << "\n";
    return ExitCode::Success;
  }
  try {
    return RunCommand(o, out, err);
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
