// Tagvert: operating-system services of the command line (terminal, temporary files, signals).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "storage/byte_stream.h"

namespace tagvert {

/// Whether standard error is a terminal.
bool PlatformStderrIsTerminal();

/// Why a file cannot be read, as a short phrase ("the file does not exist", "permission
/// denied", "it is a folder"); empty when it can be opened for reading.
std::string PlatformCheckReadable(const std::string& path);

/// Creates an empty temporary file in the folder of `target` and returns its path; on failure
/// returns an empty path and sets `error` to a short phrase.
std::string PlatformCreateTempBeside(const std::string& target, std::string& error);

/// Renames `from` over `to` atomically; on failure returns false and sets `error`.
bool PlatformReplaceFile(const std::string& from, const std::string& to, std::string& error);

/// Removes a file, ignoring failures.
void PlatformRemoveFile(const std::string& path);

/// Whether two paths name the same existing file.
bool PlatformSameFile(const std::string& a, const std::string& b);

/// Standard input (which 0) or standard output (which 1) as a byte stream (implemented with the
/// platform's file streams).
ByteStreamPtr PlatformStandardStream(int which);

/// Calls `handler` (from a signal context: it must only touch atomics) on an interrupt from
/// the keyboard (Ctrl-C). A second interrupt ends the process at once.
void PlatformOnInterrupt(void (*handler)());

/// Peak resident memory of this process in bytes (0 when unknown).
unsigned long long PlatformPeakMemory();

}  // namespace tagvert
