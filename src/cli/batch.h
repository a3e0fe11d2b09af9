// Tagvert: a command over several inputs: a pool of jobs, N at a time, that a failure (without
// --keep-going) or a stop signal stops. to-if and from-if run on it, and the XLIFF commands.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <vector>

#include "cli/arguments.h"
#include "cli/messages.h"
#include "cli/output_files.h"
#include "frame/converter_base.h"

namespace tagvert::cli {

/// What became of one job. Committing: its output is written and handed to IJobContext::Commit,
/// which counts the job once the output is in place.
enum class JobOutcome { Converted, Failed, Stopped, Committing };

/// What a job sees of the batch that runs it.
class IJobContext {
 public:
  /// Whether the batch is stopping: a job that sees it leaves no output and ends Stopped.
  virtual bool Stopping() const = 0;
  /// Registers the converter that runs the job now, so that a stop reaches it; nullptr takes it
  /// out again, which the job does before the converter is destroyed.
  virtual void Running(CTTXConverterBase* converter) = 0;
  virtual CMessages& Messages() = 0;
  /// Puts the job's finished output in place (as CommitOutput, saying a failure) and counts its
  /// bytes; returns Converted or Failed, or Committing when the batch does it on a thread of its
  /// own while this one goes on to the next job.
  virtual JobOutcome Commit(const CJob& job, CCliOutput& out) = 0;
  /// Counts `bytes` read from the input of `job`, which has no size of its own (a named pipe),
  /// as read when the job is counted; before Commit.
  virtual void Streamed(const CJob& job, std::uint64_t bytes) = 0;

 protected:
  ~IJobContext() = default;
};

/// A command's batch: its jobs and how one is run.
struct CBatchRun {
  std::vector<CJob> jobs;
  std::function<JobOutcome(const CJob&, IJobContext&)> convert;
  /// A progress line on a terminal and a summary at the end, and a failure without --keep-going
  /// stops the conversions under way. Without it each job speaks for itself, and a failure only
  /// keeps further jobs from starting (no summary would tell of the ones it stopped).
  bool summary = true;
  /// Each worker keeps the large blocks its jobs give back for its next jobs (CLargeBlockReuse).
  /// For jobs whose memory is mostly their large blocks: a job that builds much on the heap after
  /// giving its blocks back would hold the kept ones besides.
  bool reuseLargeBlocks = false;
};

/// Runs the jobs of `run` on a pool of threads (-j) until they are done, a failure without
/// --keep-going ends them or a stop signal stops them: the conversions under way are stopped,
/// their temporary outputs removed, and the command ends as the signal does. A single job
/// without a summary is stopped as the conversion of one file is.
ExitCode RunJobs(const CCliOptions& o, CBatchRun run, std::ostream& err);

/// Runs to-if (`toIF`) or from-if on every input of `o`.
ExitCode RunBatch(const CCliOptions& o, bool toIF, std::ostream& err);

}  // namespace tagvert::cli
