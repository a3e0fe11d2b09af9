// Tagvert: the command pseudo: the localization smoke test, TTX -> IF -> pseudo-translated IF ->
// TTX. SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "cli/command_table.h"
#include "cli/document_input.h"
#include "cli/if_units.h"
#include "cli/output_files.h"
#include "cli/platform/cli_services.h"
#include "cli/pseudo.h"
#include "frame/ttx_converter.h"
#ifdef TAGVERT_WITH_XLIFF
#include "xliff/xliff_bridge.h"
#endif

namespace tagvert::cli {

namespace {

// A bounded pipe of IF from the conversion to IF (which writes, on the command's thread) to the
// conversion back (which reads, on a thread of its own): the two run side by side, and the IF is
// never held whole.
class CIfPipe : public IByteStream {
 public:
  // Appends `units` (taken over, read as little-endian bytes); waits while the pipe is full.
  // Once the reader has left, what comes is dropped.
  void Put(CUnitBlock&& units) {
    if (units.empty()) return;
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [&] { return m_queued < kLimit || m_left; });
    if (m_left) return;
    m_queued += 2 * units.size();
    m_blocks.push_back(std::move(units));
    m_changed.notify_all();
  }
  // The writer is done: the reader gets the end of the IF once the pipe is empty.
  void Close() {
    const std::lock_guard<std::mutex> lock(m_lock);
    m_closed = true;
    m_changed.notify_all();
  }
  // A block that has been read, emptied, for the writer's next piece (empty when none is
  // spare): the pieces' memory goes round instead of being freed and taken afresh.
  CUnitBlock Spare() {
    const std::lock_guard<std::mutex> lock(m_lock);
    if (m_spare.empty()) return {};
    CUnitBlock block = std::move(m_spare.back());
    m_spare.pop_back();
    block.clear();
    return block;
  }
  // The reader is done (or gave up): the writer no longer waits.
  void Leave() {
    const std::lock_guard<std::mutex> lock(m_lock);
    m_left = true;
    m_blocks.clear();
    m_queued = 0;
    m_changed.notify_all();
  }

  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [&] { return !m_blocks.empty() || m_closed; });
    std::uint32_t done = 0;
    while (done < size && !m_blocks.empty()) {
      const CUnitBlock& front = m_blocks.front();
      const std::size_t bytes = 2 * front.size();
      const std::size_t n = std::min<std::size_t>(size - done, bytes - m_offset);
      auto* to = static_cast<std::uint8_t*>(buffer) + done;
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(to, reinterpret_cast<const std::uint8_t*>(front.data()) + m_offset, n);
      } else {
        for (std::size_t k = 0; k < n; ++k) {
          const std::size_t at = m_offset + k;
          const char16_t unit = front.data()[at / 2];
          to[k] = static_cast<std::uint8_t>(at % 2 == 0 ? unit & 0xFF : unit >> 8);
        }
      }
      done += static_cast<std::uint32_t>(n);
      m_offset += n;
      if (m_offset == bytes) {
        m_queued -= bytes;
        if (m_spare.size() < kSpareBlocks) m_spare.push_back(std::move(m_blocks.front()));
        m_blocks.pop_front();
        m_offset = 0;
      }
    }
    m_position += done;
    m_changed.notify_all();
    return done;
  }
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }
  std::uint64_t Position() override { return m_position; }
  bool Size(std::uint64_t&) override { return false; }

 private:
  static constexpr std::size_t kLimit = 1U << 20;
  static constexpr std::size_t kSpareBlocks = 4;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<CUnitBlock> m_blocks;
  std::vector<CUnitBlock> m_spare;
  std::size_t m_queued = 0;
  std::size_t m_offset = 0;  // bytes of the front block already read
  std::uint64_t m_position = 0;
  bool m_closed = false;
  bool m_left = false;
};

// The conversion back of a pseudo-translation, started when the first IF comes (so that a
// document refused or failed before it is written opens no output) and ended, whatever happens,
// when it goes out of scope.
class CBackConversion {
 public:
  explicit CBackConversion(std::string output) : m_output(std::move(output)) {}
  ~CBackConversion() {
    m_pipe->Close();
    if (m_thread.joinable()) m_thread.join();
    if (m_out.file && !m_committed) PlatformAbandonOutput(m_out);
  }
  CBackConversion(const CBackConversion&) = delete;
  CBackConversion& operator=(const CBackConversion&) = delete;

  // Room for the next piece: a block the conversion back has read, or none.
  CUnitBlock Spare() { return m_pipe->Spare(); }
  // Takes the next piece of pseudo-translated IF.
  void Put(CUnitBlock&& units) {
    if (!m_started) Start();
    m_pipe->Put(std::move(units));
  }

  // After the conversion to IF succeeded: waits for the TTX and puts it in place. False, with
  // the error said, when it cannot.
  bool Finish(const std::string& input, CMessages& messages) {
    if (!m_started) Start();
    m_pipe->Close();
    if (m_thread.joinable()) m_thread.join();
    const std::string shown = "'" + m_output + "'";
    if (!m_openFailure.empty()) {
      messages.Error("cannot write " + shown + ": " + m_openFailure + ".");
      return false;
    }
    if (Failed(m_result)) {
      PlatformAbandonOutput(m_out);
      m_out.file.reset();
      if (m_result == kEOutOfMemory) {
        messages.Error(OutOfMemory(input));
        return false;
      }
      const HResult cause = m_writeError;
      messages.Error("cannot write " + shown + ": " +
                     ErrorPhrase(NamesSystemCause(cause) ? cause : m_result) + ".");
      return false;
    }
    m_committed = true;
    return CommitOutput(m_out, shown, messages);
  }

 private:
  void Start() {
    m_started = true;
    try {
      m_out = PlatformOpenOutput(m_output);
    } catch (const CFileError& e) {
      // Said once the conversion to IF has said all it has to say, as a failed write is.
      m_openFailure = e.Phrase();
      m_pipe->Leave();
      return;
    }
    m_thread = std::thread([this] {
      CTagvertConverter converter;
      m_result = converter.ConvertFromIF(CEndpoint::Stream(m_pipe), CEndpoint::Stream(m_out.file));
      m_writeError = m_out.file->WriteError();
      m_pipe->Leave();
    });
  }

  std::string m_output;
  std::shared_ptr<CIfPipe> m_pipe = std::make_shared<CIfPipe>();
  CCliOutput m_out;
  std::thread m_thread;
  bool m_started = false;
  bool m_committed = false;
  std::string m_openFailure;
  HResult m_result = kSOk;
  HResult m_writeError = kSOk;
};

// Pseudo-translates one document: TTX -> IF -> pseudo-translated IF -> TTX, the conversion
// back reading the pseudo-translated IF as the conversion to IF writes it.
constexpr std::size_t kSlice = 1U << 16;
bool PseudoDocument(const CCliOptions& o, const std::string& input, const std::string& output,
                    const std::shared_ptr<CStreamedInput>& streamed, CMessages& messages) {
  CBackConversion back(output);
  CPseudoTranslator translator;
  const auto sink = std::make_shared<CIfUnitSink>([&](const char16_t* units, std::size_t count) {
    // In slices, so that what is held between the two conversions stays small; each slice's
    // translation goes into the pipe as it is.
    for (std::size_t at = 0; at < count; at += kSlice) {
      const std::size_t n = std::min(kSlice, count - at);
      CUnitBlock piece = back.Spare();
      piece.reserve(n + n / 2);
      translator.Feed({units + at, n}, piece);
      back.Put(std::move(piece));
    }
  });
  if (!ConvertToIfInto(o, input, sink, messages, nullptr, {}, streamed)) return false;
  CUnitBlock rest;
  translator.Finish(rest);
  back.Put(std::move(rest));
  return back.Finish(input, messages);
}

#ifdef TAGVERT_WITH_XLIFF
// Pseudo-translates an XLIFF written by to-xliff: the same XLIFF with every unit's target the
// pseudo-translation of its source, which from-xliff merges into the pseudo-translated document.
bool PseudoXliff(const std::string& input, const std::string& output,
                 const std::shared_ptr<CStreamedInput>& streamed, CMessages& messages) {
  // A pipe or a device (`streamed`) cannot change while it is read, as a file can.
  std::shared_ptr<CFileStream> file;
  if (streamed == nullptr) file = OpenInputSaying(input, messages);
  IByteStream* const in =
      streamed != nullptr ? static_cast<IByteStream*>(streamed.get()) : file.get();
  if (in == nullptr) return false;
  const std::string shown = Quote(output);
  CCliOutput out;
  if (!OpenOutput(output, shown, out, messages)) return false;
  CXliffReadOptions options;
  options.name = Quote(input);
  std::vector<std::string> warnings;
  try {
    xliff::RetargetXliff(*in, options, &PseudoText, warnings, [&out](std::string_view piece) {
      if (out.file->Write(piece.data(), static_cast<std::uint32_t>(piece.size())) != piece.size()) {
        throw CHResultError(kEFail);
      }
    });
  } catch (const xliff::CXliffError& e) {
    PlatformAbandonOutput(out);
    messages.Error(e.message);
    return false;
  } catch (const CHResultError& e) {
    PlatformAbandonOutput(out);
    const HResult cause = out.file->WriteError();
    if (Failed(cause)) {
      messages.Error("cannot write " + shown + ": " + ErrorPhrase(cause) + ".");
      return false;
    }
    throw;
  }
  for (const std::string& warning : warnings)
    messages.Warning(warning);
  if (file != nullptr && file->ChangedWhileRead()) {
    PlatformAbandonOutput(out);
    messages.Error("cannot read " + Quote(input) +
                   ": the file changed while it was read; no output file was written.");
    return false;
  }
  return CommitOutput(out, shown, messages);
}
#endif

std::string Help() {
  return "Usage: tagvert pseudo FILE... [-r] [-o OUTPUT | -O DIR] [--direction VALUE]\n"
         "\n"
         "The localization smoke test: converts each TTX document to IF, gives every text\n"
         "run accented letters, 30% more length and brackets ([Ŧĥé qüíçķ ƀŕöŵñ ƒöx······]),\n"
         "leaves every code as it is, and converts the result back to TTX, by default\n"
         "FILE with .pseudo before its extension (doc.ttx gives doc.pseudo.ttx).\n"
         "An XLIFF written by 'tagvert to-xliff' (.xlf, .xliff) comes out as the same\n"
         "XLIFF with every unit's target the pseudo-translation of its source: from-xliff\n"
         "merges it into what pseudo makes of the document.\n"
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
    if (ReportingFailures(job.input, messages, [&] {
          std::shared_ptr<CStreamedInput> streamed;
#ifdef TAGVERT_WITH_XLIFF
          // A pipe is told by its first bytes as a file is; they are then pseudo-translated too.
          if (!OpenStreamedInput(o, job.input, messages, streamed)) return false;
          if (IsXliff(job.input, streamed.get())) {
            return PseudoXliff(job.input, job.output, streamed, messages);
          }
#endif
          return PseudoDocument(o, job.input, job.output, streamed, messages);
        })) {
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
