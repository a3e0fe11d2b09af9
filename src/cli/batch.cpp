// Tagvert: to-if and from-if on several inputs.
// SPDX-License-Identifier: Apache-2.0
#include "cli/batch.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <system_error>
#include <thread>

#include "cli/conversion.h"
#include "cli/document_input.h"
#include "cli/from_if_check.h"
#include "cli/output_files.h"
#include "storage/large_memory.h"

namespace tagvert::cli {

namespace {

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

// The shared state of a batch: the next job, the counts, and the converters running now, which
// a failure (without --keep-going) or a stop signal stops.
class CBatch {
 public:
  CBatch(const CCliOptions& o, CBatchRun run, CMessages& messages)
      : m_options(o), m_run(std::move(run)), m_messages(messages), m_streamed(m_run.jobs.size()) {
    std::uint64_t total = 0;
    for (const CJob& job : m_run.jobs)
      total += job.size;
    m_totalBytes.store(total);
  }

  /// Runs the batch on `workers` threads; returns when every job has ended and every output
  /// is in place.
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
  std::size_t Total() const { return m_run.jobs.size(); }
  std::uint64_t BytesIn() const { return m_bytesIn.load(); }
  std::uint64_t BytesOut() const { return m_bytesOut.load(); }

  /// The progress line: files done, bytes read, rate and the time left.
  std::string ProgressText(double elapsed) const {
    const std::size_t done = m_converted.load() + m_failed.load();
    const std::uint64_t bytes = m_bytesIn.load() + m_bytesFailed.load();
    const std::uint64_t total = m_totalBytes.load();
    std::string line = "  " + std::to_string(done) + "/" + std::to_string(Total()) + " files, " +
                       Bytes(bytes) + " of " + Bytes(total);
    if (elapsed > 0.0 && bytes > 0) {
      const double rate = static_cast<double>(bytes) / elapsed;
      line += ", " + Bytes(static_cast<std::uint64_t>(rate)) + "/s";
      const double left = static_cast<double>(total - std::min(bytes, total)) / rate;
      char eta[32];
      std::snprintf(eta, sizeof eta, ", %.0f s left", left);
      line += eta;
    }
    return line;
  }

 private:
  // What a job sees of the batch: its worker's slot among the running converters.
  class CContext final : public IJobContext {
   public:
    CContext(CBatch& batch, std::size_t slot) : m_batch(batch), m_slot(slot) {}
    bool Stopping() const override { return m_batch.m_stopping.load(); }
    void Running(CTTXConverterBase* converter) override {
      const std::lock_guard<std::mutex> lock(m_batch.m_runningLock);
      m_batch.m_running[m_slot] = converter;
    }
    CMessages& Messages() override { return m_batch.m_messages; }
    JobOutcome Commit(const CJob& job, CCliOutput& out) override {
      return m_batch.Commit(job, out);
    }
    void Streamed(const CJob& job, std::uint64_t bytes) override {
      m_batch.m_streamed[m_batch.IndexOf(job)] = bytes;
      // Known only now: the total grows by it, as the bytes read do when the job is counted.
      m_batch.m_totalBytes.fetch_add(bytes);
    }

   private:
    CBatch& m_batch;
    std::size_t m_slot;
  };

  void Work(std::size_t slot);
  std::size_t IndexOf(const CJob& job) const {
    return static_cast<std::size_t>(&job - m_run.jobs.data());
  }
  // The bytes read of `job`: its size when the batch started, or what was read of an input
  // without one.
  std::uint64_t BytesOf(const CJob& job) const { return job.size + m_streamed[IndexOf(job)]; }
  void Count(const CJob& job, JobOutcome outcome);
  JobOutcome CommitNow(const CJob& job, CCliOutput& out);
  JobOutcome Commit(const CJob& job, CCliOutput& out);
  void CommitQueued();

  // Outputs written and waiting to be put in place. Forcing an output to the disk waits for
  // the disk, not the processor, so threads of their own do it for the batch while the workers
  // go on converting; at most `m_commitRoom` wait, so that every temporary file stays known to
  // the stop handler.
  struct CPending {
    const CJob* job;
    CCliOutput out;
  };
  std::mutex m_commitLock;
  std::condition_variable m_queued;  // an output to put in place, or the work is done
  std::condition_variable m_freed;   // room for a waiting output
  std::deque<CPending> m_pending;
  std::size_t m_commitRoom = 0;
  bool m_workDone = false;

  const CCliOptions& m_options;
  CBatchRun m_run;
  CMessages& m_messages;
  // The bytes read of each job whose input has no size (Streamed); written by the job's worker
  // before the job is counted.
  std::vector<std::uint64_t> m_streamed;
  std::atomic<std::uint64_t> m_totalBytes{0};
  std::atomic<std::size_t> m_next{0};
  std::atomic<bool> m_stopping{false};
  std::atomic<bool> m_closed{false};  // a failure keeps further jobs from starting
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

// A job's converter, registered with its batch for as long as it exists.
class CRunningConverter {
 public:
  CRunningConverter(IJobContext& context, CTTXConverterBase* converter) : m_context(context) {
    m_context.Running(converter);
  }
  ~CRunningConverter() { m_context.Running(nullptr); }
  CRunningConverter(const CRunningConverter&) = delete;
  CRunningConverter& operator=(const CRunningConverter&) = delete;

 private:
  IJobContext& m_context;
};

// The batch that a stop signal stops.
std::atomic<CBatch*> g_batch{nullptr};

void StopRunningBatch() {
  if (CBatch* batch = g_batch.load()) batch->RequestStop();
}

void CBatch::Run(unsigned workers) {
  std::vector<std::thread> committers;
  if (m_run.jobs.size() > 1) {
    // One thread per worker puts outputs in place, so that the waits of one output (its sync,
    // the release of the file it replaces, the folder's sync) overlap those of the next instead
    // of queueing behind them; and room for one waiting output per worker. Each output being
    // put in place or waiting holds a temporary file, within the stop handler's table of them
    // beside the workers' own.
    const std::size_t spare =
        kMaxTemporaryOutputs - std::min<std::size_t>(workers, kMaxTemporaryOutputs);
    const std::size_t count = std::min<std::size_t>(workers, spare / 2);
    m_commitRoom = count != 0 ? std::min<std::size_t>(workers, spare - count) : 0;
    try {
      for (std::size_t i = 0; i < count; ++i)
        committers.emplace_back([this] { CommitQueued(); });
    } catch (const std::system_error&) {
      // With no thread at all every worker puts its own outputs in place.
      if (committers.empty()) m_commitRoom = 0;
    }
  }
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
  if (!committers.empty()) {
    {
      const std::lock_guard<std::mutex> lock(m_commitLock);
      m_workDone = true;
    }
    m_queued.notify_all();
    for (std::thread& thread : committers)
      thread.join();
  }
}

JobOutcome CBatch::CommitNow(const CJob& job, CCliOutput& out) {
  if (!CommitOutput(out, "'" + job.output + "'", m_messages)) return JobOutcome::Failed;
  m_bytesOut.fetch_add(FileSize(out.target));
  return JobOutcome::Converted;
}

JobOutcome CBatch::Commit(const CJob& job, CCliOutput& out) {
  std::unique_lock<std::mutex> lock(m_commitLock);
  if (m_commitRoom == 0) {
    lock.unlock();
    return CommitNow(job, out);
  }
  m_freed.wait(lock, [&] { return m_pending.size() < m_commitRoom; });
  m_pending.push_back({&job, std::move(out)});
  m_queued.notify_one();
  return JobOutcome::Committing;
}

void CBatch::CommitQueued() {
  std::unique_lock<std::mutex> lock(m_commitLock);
  for (;;) {
    m_queued.wait(lock, [&] { return !m_pending.empty() || m_workDone; });
    if (m_pending.empty()) return;
    CPending next = std::move(m_pending.front());
    m_pending.pop_front();
    m_freed.notify_one();
    lock.unlock();
    JobOutcome outcome = JobOutcome::Failed;
    try {
      outcome = CommitNow(*next.job, next.out);
    } catch (const std::bad_alloc&) {
      PlatformAbandonOutput(next.out);
      m_messages.Error(OutOfMemory(next.job->input));
    }
    Count(*next.job, outcome);
    lock.lock();
  }
}

void CBatch::Count(const CJob& job, JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::Converted:
      m_converted.fetch_add(1);
      m_bytesIn.fetch_add(BytesOf(job));
      break;
    case JobOutcome::Failed:
      m_failed.fetch_add(1);
      m_bytesFailed.fetch_add(BytesOf(job));
      // Without --keep-going the first failure ends the batch.
      if (m_options.keepGoing) break;
      if (m_run.summary) {
        StopAll();
      } else {
        m_closed.store(true);
      }
      break;
    case JobOutcome::Stopped:
    case JobOutcome::Committing:
      break;
  }
}

void CBatch::Work(std::size_t slot) {
  CContext context(*this, slot);
  // Each job's large buffers serve the worker's next job, instead of being mapped and cleared
  // again for every document; what is kept goes back when the worker ends.
  std::optional<CLargeBlockReuse> reuse;
  if (m_run.reuseLargeBlocks) reuse.emplace();
  while (!m_stopping.load() && !m_closed.load()) {
    const std::size_t index = m_next.fetch_add(1);
    if (index >= m_run.jobs.size()) break;
    const CJob& job = m_run.jobs[index];
    JobOutcome outcome = JobOutcome::Failed;
    try {
      outcome = m_run.convert(job, context);
    } catch (const std::bad_alloc&) {
      m_messages.Error(OutOfMemory(job.input));
    }
    Count(job, outcome);
  }
}

// The conversion of a to-if or from-if job once its output is open.
// `streamed`, when the input has no size (a named pipe), reads `in` and counts its bytes.
JobOutcome ConvertTo(const CCliOptions& o, bool toIF, const CJob& job, CTagvertConverter& converter,
                     const std::shared_ptr<CFileStream>& in,
                     const std::shared_ptr<CStreamedInput>& streamed, CCliListener& listener,
                     CCliOutput& out, IJobContext& context) {
  CMessages& messages = context.Messages();
  std::optional<CFromIfCheck> check;
  if (!toIF) {
    check.emplace(o, job.input, messages);
    check->Observe(converter);
  }
  const CEndpoint source =
      CEndpoint::Stream(streamed != nullptr ? ByteStreamPtr(streamed) : ByteStreamPtr(in));
  const CEndpoint target = CEndpoint::Stream(std::make_shared<CWatchedStream>(out.file, listener));
  const HResult hr =
      toIF ? converter.ConvertToIF(source, target) : converter.ConvertFromIF(source, target);
  if (streamed != nullptr) context.Streamed(job, streamed->BytesRead());
  if (Failed(hr) || converter.State() == kStateStopped) {
    PlatformAbandonOutput(out);
    if (!Failed(hr) || context.Stopping()) return JobOutcome::Stopped;
    std::ostringstream text;
    ReportFailure(text, hr, listener, out, job.input, "'" + job.output + "'");
    std::string line = text.str();
    // ReportFailure writes "tagvert: ...\n"; the messages add their own.
    if (line.starts_with("tagvert: ")) line.erase(0, 9);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    messages.Error(line);
    return JobOutcome::Failed;
  }
  if ((check && !check->Finish()) || !FinishInputEnd(o, converter, job.input, messages)) {
    PlatformAbandonOutput(out);
    return JobOutcome::Failed;
  }
  if (in->ChangedWhileRead()) {
    PlatformAbandonOutput(out);
    messages.Error("cannot read '" + job.input +
                   "': the file changed while it was read; no output file was written.");
    return JobOutcome::Failed;
  }
  return context.Commit(job, out);
}

// One job of to-if or from-if.
JobOutcome ConvertJob(const CCliOptions& o, bool toIF, const CJob& job, IJobContext& context) {
  CMessages& messages = context.Messages();
  if (!o.force) {
    const std::string refused = CheckInputFormat(job.input, toIF);
    if (!refused.empty()) {
      messages.Error(refused);
      return JobOutcome::Failed;
    }
  }
  std::shared_ptr<CFileStream> in;
  try {
    in = PlatformOpenInput(job.input);
  } catch (const CFileError& e) {
    messages.Error("cannot read '" + job.input + "': " + e.Phrase() + ".");
    return JobOutcome::Failed;
  }
  std::shared_ptr<CStreamedInput> streamed;
  if (!BeginStreamedInput(o, job.input, in, toIF ? "a TTX document" : "an IF document", messages,
                          streamed) ||
      !CheckStreamedFormat(o, job.input, streamed.get(), toIF, messages)) {
    return context.Stopping() ? JobOutcome::Stopped : JobOutcome::Failed;
  }
  CTagvertConverter converter;
  UseCommandReading(converter, o.exactLanguage);
  if (toIF) {
    converter.PutProperty(CVariant::String(u"Direction"),
                          CVariant::Int32(DeferDirection(o, job.input, messages, converter)));
  }
  auto listener = std::make_shared<CCliListener>(messages.Stream(), false, false, toIF);
  std::uint32_t cookie = 0;
  converter.Advise(listener, cookie);

  // Registered before the output exists, so that a stop never misses a conversion under way;
  // taken out again before the converter is destroyed.
  const CRunningConverter registration(context, &converter);
  if (context.Stopping()) return JobOutcome::Stopped;

  CCliOutput out;
  try {
    out = PlatformOpenOutput(job.output);
  } catch (const CFileError& e) {
    // A stop while the output was opened (waiting for the reader of a named pipe) is a stop.
    if (context.Stopping()) return JobOutcome::Stopped;
    messages.Error("cannot write '" + job.output + "': " + e.Phrase() + ".");
    return JobOutcome::Failed;
  }
  try {
    return ConvertTo(o, toIF, job, converter, in, streamed, *listener, out, context);
  } catch (const std::bad_alloc&) {
    PlatformAbandonOutput(out);  // no temporary file stays behind
    throw;
  }
}

}  // namespace

ExitCode RunJobs(const CCliOptions& o, CBatchRun run, std::ostream& err) {
  CMessages messages(err, o.quiet);
  unsigned workers = o.jobs != 0 ? o.jobs : std::max(1U, std::thread::hardware_concurrency());
  workers = std::min<unsigned>(workers, static_cast<unsigned>(kMaxTemporaryOutputs));
  workers = std::min<unsigned>(workers, static_cast<unsigned>(run.jobs.size()));
  const bool report = run.summary;
  // What a stop says: of the one file, as a conversion of one file says it, or of the batch.
  std::string stopped = "the batch was stopped; no partial output file was left.";
  if (!report && run.jobs.size() == 1) {
    stopped =
        "the conversion of " + Quote(run.jobs[0].input) + " was stopped; " +
        (run.jobs[0].output == "-" ? "the output is incomplete." : "no output file was written.");
  }

  CBatch batch(o, std::move(run), messages);
  g_batch.store(&batch);
  PlatformOnInterrupt(&StopRunningBatch);
  const bool bar = report && !o.quiet && PlatformStderrIsTerminal();
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
      messages.Error(stopped);
      PlatformEndBySignal(signal);
    }
  }
  runner.join();
  g_batch.store(nullptr);
  messages.EndProgress();

  if (const int signal = PlatformStopSignal()) {
    messages.Error(stopped);
    PlatformEndBySignal(signal);
  }
  if (report && (!o.quiet || batch.FailedCount() != 0)) {
    const std::size_t notConverted = batch.Total() - batch.Converted() - batch.FailedCount();
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

// Runs to-if or from-if on several inputs.
ExitCode RunBatch(const CCliOptions& o, bool toIF, std::ostream& err) {
  CBatchRun run;
  run.jobs.reserve(o.inputs.size());
  for (const std::string& input : o.inputs) {
    run.jobs.push_back({input, DefaultOutput(o, input, toIF), FileSize(input)});
  }
  const std::string collision = FindCollision(run.jobs);
  if (!collision.empty()) return UsageError(err, collision, false);
  {
    CMessages messages(err, o.quiet);
    if (!MakeOutputFolders(o, run.jobs, messages)) return ExitCode::Failed;
  }
  run.convert = [&o, toIF](const CJob& job, IJobContext& context) {
    return ConvertJob(o, toIF, job, context);
  };
  // TTX to IF holds little besides its large blocks. The way back's tag check sums up on the
  // heap once the conversion has given its two buffers back, and kept buffers would add to that.
  run.reuseLargeBlocks = toIF;
  return RunJobs(o, std::move(run), err);
}
}  // namespace tagvert::cli
