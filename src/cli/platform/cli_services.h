// Tagvert: operating-system services of the command line (terminal, inputs and outputs,
// signals).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "platform/file_stream.h"
#include "storage/hresult.h"

namespace tagvert {

/// The command's output: the stream it writes, and for a regular file the temporary file beside
/// the target that CommitOutput renames over it.
struct CCliOutput {
  std::shared_ptr<CFileStream> file;
  std::string target;  ///< the file finally written: the name given, symlinks followed
  std::string temp;    ///< the temporary file; empty when the target is written directly
  int tempSlot = -1;   ///< where the stop handler finds the temporary file's name; -1 for none
};

/// How many temporary outputs the stop handler keeps track of at once (one per running job of
/// a batch); a batch runs at most this many jobs at a time.
inline constexpr int kMaxTemporaryOutputs = 64;

/// Whether standard output is a terminal that shows colours (and NO_COLOR is not set).
bool PlatformStdoutIsColourTerminal();

/// The short phrase of a failure of the file system that std::filesystem reports as `error`,
/// in the words of the command's other messages ("the file system is read-only").
std::string PlatformErrorCodePhrase(const std::error_code& error);

/// Whether standard error is a terminal.
bool PlatformStderrIsTerminal();

/// The system's part of the command's error phrases (cli/messages.h, ErrorPhrase): a short
/// phrase for a failure code of a file read or write ("input/output error", "the disk is full");
/// empty for a code that names no cause of the system.
std::string PlatformSystemErrorPhrase(HResult code);

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
std::shared_ptr<CFileStream> PlatformOpenInput(const std::string& path);

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

/// Calls `handler` (from a signal context: it must only touch atomics) on the first request to
/// stop: an interrupt from the keyboard, a termination or hang-up, or a closed pipe. A second
/// request removes the temporary output and ends the process at once. A write beyond the
/// process's file size limit fails (and is reported) instead of ending the process. A signal that
/// the command's starter ignores (nohup, say) stays ignored.
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
