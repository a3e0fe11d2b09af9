// Tagvert: the command's messages: the sentences that name a file and what went wrong with it,
// the one phrase of a result code, and the lines on standard error that a batch's threads share.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>

#include "storage/hresult.h"

namespace tagvert::cli {

/// What a result code says, as the command's messages put it: the cause of a failed read or
/// write of the system when the code carries one the platform names ("input/output error", "the
/// disk is full"), else the meaning of the code ("the operation was stopped", "unexpected
/// failure 0x80070057"). The one place where a code becomes words.
std::string ErrorPhrase(HResult code);

/// Whether ErrorPhrase names a cause of the system for `code` (a read or write failed), rather
/// than the meaning of the code.
bool NamesSystemCause(HResult code);

/// `code` as eight hexadecimal digits after "0x".
std::string Hex(HResult code);

/// UTF-16 text as UTF-8.
std::string Narrow(const std::u16string& s);

/// A file name as the messages quote it: 'NAME', or "standard input" for "-".
std::string Quote(const std::string& path);

/// The cause of a failed file service or read: the file service's own phrase, else the cause of
/// the system (empty when the code names none).
std::string Cause(const CHResultError& e);

/// The sentence for running out of memory while `input` was read or converted, with the memory
/// the process had taken by then (its peak, in MB rounded up).
std::string OutOfMemory(const std::string& input);

/// The sentence for a failed read of `input`: its cause, or running out of memory.
std::string ReadFailure(const std::string& input, const CHResultError& e);

/// The sentence for a failed conversion of `input`: a read of the system names its cause.
std::string ConversionFailure(const std::string& input, HResult hr);

/// `text` as a JSON string (quoted, with the characters JSON reserves escaped).
std::string JsonString(const std::string& text);

/// Of each kind of tag problem (from-if) or document problem (check), the ones listed for one
/// file unless --all-warnings is given; one more line counts the rest (a damaged file can have
/// millions of them).
inline constexpr std::size_t kListedWarnings = 100;

// The command's messages on standard error, from any thread of a batch: each is one whole line,
// and a progress line drawn on a terminal is cleared before it and drawn again after it.
class CMessages {
 public:
  /// `quiet`: how often -q was given.
  CMessages(std::ostream& err, unsigned quiet) : m_err(err), m_quiet(quiet) {}

  /// An error: always shown.
  void Error(const std::string& text) { Put("tagvert: " + text); }
  /// A warning: never changes the exit status; -qq silences it.
  void Warning(const std::string& text) {
    if (m_quiet < 2) Put("tagvert: warning: " + text);
  }
  /// A note on what the command chose; -q silences it.
  void Note(const std::string& text) {
    if (m_quiet == 0) Put("tagvert: " + text);
  }
  /// Whole lines said together (one file's messages in a batch), as they are.
  void Lines(const std::string& text) {
    if (text.empty()) return;
    const std::lock_guard<std::mutex> lock(m_mutex);
    ClearProgress();
    m_err << text << std::flush;
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
  /// Whether nothing but errors is said (-qq).
  bool Quiet() const { return m_quiet >= 2; }
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
  unsigned m_quiet;
  std::mutex m_mutex;
  std::size_t m_progressWidth = 0;
};

}  // namespace tagvert::cli
