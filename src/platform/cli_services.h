// Tagvert: operating-system services of the command line (terminal, inputs and outputs,
// signals).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "storage/byte_stream.h"
#include "storage/hresult.h"

namespace tagvert {

/// System error numbers carried in failure codes 0x8007xxxx: a failed file read or write throws
/// or records one of these, whatever the platform (on Windows they are its own error numbers).
inline constexpr std::uint32_t kSystemAccessDenied = 5;
inline constexpr std::uint32_t kSystemWriteFault = 29;
inline constexpr std::uint32_t kSystemReadFault = 30;
inline constexpr std::uint32_t kSystemHandleDiskFull = 39;
inline constexpr std::uint32_t kSystemBrokenPipe = 109;
inline constexpr std::uint32_t kSystemDiskFull = 112;
inline constexpr std::uint32_t kSystemFileTooLarge = 223;
inline constexpr std::uint32_t kSystemDirectory = 267;
inline constexpr std::uint32_t kSystemQuotaExceeded = 1295;

/// A file of the command (or standard input or output) as a byte stream. A failed read throws
/// the code of its cause; a failed write reports the bytes it transferred and keeps the cause.
class CCliFile : public IByteStream {
 public:
  /// The code of the cause of the last failed write; kSOk when no write failed.
  virtual HResult WriteError() const = 0;
  /// For a regular file read to its end: whether its size now, or the bytes read, differ from
  /// its size when it was opened (the file was changed under the reader). False otherwise.
  virtual bool ChangedWhileRead() = 0;
  /// Ends the stream: with `durable`, a regular file's data is forced to the disk; then the file
  /// is closed (standard streams stay open). Returns the first failure of a write, the sync or
  /// the close, kSOk when there was none.
  virtual HResult Finish(bool durable) = 0;
};

/// The command's output: the stream it writes, and for a regular file the temporary file beside
/// the target that CommitOutput renames over it.
struct CCliOutput {
  std::shared_ptr<CCliFile> file;
  std::string target;  ///< the file finally written: the name given, symlinks followed
  std::string temp;    ///< the temporary file; empty when the target is written directly
  int tempSlot = -1;   ///< where the stop handler finds the temporary file's name; -1 for none
};

/// How many temporary outputs the stop handler keeps track of at once (one per running job of
/// a batch); a batch runs at most this many jobs at a time.
inline constexpr int kMaxTemporaryOutputs = 64;

/// Whether standard output is a terminal that shows colours (and NO_COLOR is not set).
bool PlatformStdoutIsColourTerminal();

/// Whether standard error is a terminal.
bool PlatformStderrIsTerminal();

/// A short phrase for a failure code of a file read or write ("input/output error", "the disk is
/// full"); empty for a code that names no cause of the system.
std::string PlatformErrorPhrase(HResult code);

/// The failure of a file service of the command (opening an input or output, committing an
/// output): the code of its cause (E_FAIL when the system has none to name), and the short
/// phrase that the command's message names it by ("permission denied", "its folder does not
/// exist").
class CFileError : public CHResultError {
 public:
  CFileError(HResult code, std::string phrase) : CHResultError(code), m_phrase(std::move(phrase)) {}
  /// The cause as a short phrase, without a final full stop.
  const std::string& Phrase() const noexcept { return m_phrase; }

 private:
  std::string m_phrase;
};

/// Opens the command's input: the file `path`, or standard input for "-". Throws CFileError
/// when it cannot be opened (a folder, a missing or unreadable file).
std::shared_ptr<CCliFile> PlatformOpenInput(const std::string& path);

/// Opens the command's output `path` ("-" is standard output). A regular file, or a name that
/// does not exist yet, is written through a new temporary file beside it that takes the old
/// file's mode (and owner, where permitted); a symbolic link is followed and its target written
/// so; anything else (a device, a pipe, a socket) is written directly. Throws CFileError when it
/// cannot be opened, leaving nothing behind. While a temporary file exists, a second stop signal
/// removes it before it ends the process.
CCliOutput PlatformOpenOutput(const std::string& path);

/// Completes the output: the stream is finished (durably for a temporary file) and a temporary
/// file renamed over the target. Throws CFileError on failure, the target untouched and the
/// temporary file removed (or, when only the folder's sync failed, the new output in place).
void PlatformCommitOutput(CCliOutput& output);

/// Abandons the output: closes it and removes the temporary file; the target stays untouched.
void PlatformAbandonOutput(CCliOutput& output);

/// Removes every temporary output that exists now (a batch stopped by a signal, just before the
/// process ends).
void PlatformRemoveTemporaryOutputs();

/// Whether two paths name the same existing file.
bool PlatformSameFile(const std::string& a, const std::string& b);

/// Standard input (which 0) or standard output (which 1) as a byte stream (implemented with the
/// platform's file streams).
ByteStreamPtr PlatformStandardStream(int which);

/// Calls `handler` (from a signal context: it must only touch atomics) on the first request to
/// stop: an interrupt from the keyboard, a termination or hang-up, or a closed pipe. A second
/// request removes the temporary output and ends the process at once. A write beyond the
/// process's file size limit fails (and is reported) instead of ending the process.
void PlatformOnInterrupt(void (*handler)());

/// The number of the signal that asked to stop (2 for an interrupt from the keyboard); 0 when
/// none came.
int PlatformStopSignal();

/// Ends the process as signal `number` does by default, so that a shell sees status 128 +
/// `number` and a loop over many files stops.
[[noreturn]] void PlatformEndBySignal(int number);

/// Peak resident memory of this process in bytes (0 when unknown).
unsigned long long PlatformPeakMemory();

}  // namespace tagvert
