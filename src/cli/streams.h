// Tagvert: what the command sees of a conversion: the listener that follows it (progress line,
// event trace, storage failure code) and the stream decorators between the files and the
// converter.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/messages.h"
#include "cli/progress_bar.h"
#include "frame/ttx_converter.h"
#include "storage/byte_stream.h"

namespace tagvert::cli {

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

  /// Clears the progress line, so that a message can take its place; the next progress draws
  /// it again.
  void ClearLine() {
    if (!m_barShown) return;
    m_err << "\r" << std::string(m_lastWidth, ' ') << "\r" << std::flush;
    m_lastWidth = 0;
    m_barShown = false;
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

// An input that gives its bytes once (standard input, a named pipe, a device) as the conversion
// reads it. Its first bytes can be read ahead (Begin, ReadAhead): so that an input that turns
// out to hold nothing is told before any output is opened, and so that the command can tell
// what the input is from its start as it does for a file. The bytes read ahead are then the
// first ones read. Counts the bytes read: such an input has no size to look up.
class CStreamedInput : public CForwardingStream {
 public:
  explicit CStreamedInput(ByteStreamPtr inner) : CForwardingStream(std::move(inner)) {}

  // Reads the first byte ahead, the first time it is called (before any other read); whether
  // the input holds one. A failed read throws.
  bool Begin() {
    if (!m_begun) {
      m_begun = true;
      ReadAhead(1);
    }
    return !m_ended || !m_ahead.empty();
  }

  // Reads ahead once more, as much as the input gives at once up to `limit` bytes held ahead
  // (16 KiB at most a read): false when as many are held already or the input has ended. A
  // failed read throws.
  bool ReadAhead(std::uint32_t limit) {
    m_begun = true;
    if (m_ended || m_ahead.size() >= limit) return false;
    // Read into a block of its own, so that what is held grows by what the input gave: a pipe
    // that gives a byte at a time costs a byte a read, whatever the reader asked for.
    std::uint8_t block[16384];
    const std::uint32_t want =
        static_cast<std::uint32_t>(std::min<std::size_t>(limit - m_ahead.size(), sizeof block));
    const std::uint32_t n = m_inner->Read(block, want);
    m_ahead.insert(m_ahead.end(), block, block + std::min(n, want));
    m_ended = n == 0;
    return n > 0;
  }
  // The bytes read ahead and not read yet.
  std::string_view Ahead() const {
    return {reinterpret_cast<const char*>(m_ahead.data()) + m_given, m_ahead.size() - m_given};
  }
  // Whether the input gave its end while it was read ahead.
  bool Ended() const { return m_ended; }

  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    if (size == 0) return 0;
    std::uint32_t n = 0;
    if (m_given < m_ahead.size()) {
      n = static_cast<std::uint32_t>(std::min<std::size_t>(size, m_ahead.size() - m_given));
      std::memcpy(buffer, m_ahead.data() + m_given, n);
      m_given += n;
      if (m_given == m_ahead.size()) {
        m_ahead = {};
        m_given = 0;
      }
    }
    // The rest in the same call; an end found is remembered, so that a terminal is not read
    // again once it gave its end.
    if (n < size && !m_ended) {
      const std::uint32_t more = m_inner->Read(static_cast<std::uint8_t*>(buffer) + n, size - n);
      m_ended = more == 0;
      n += more;
    }
    m_read += n;
    return n;
  }
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }
  std::uint64_t Position() override {
    // Bytes read ahead and not yet handed out are not read yet.
    const std::uint64_t at = m_inner->Position();
    const std::uint64_t ahead = m_ahead.size() - m_given;
    return at > ahead ? at - ahead : 0;
  }

  // The bytes the conversion read.
  std::uint64_t BytesRead() const { return m_read; }

 private:
  std::uint64_t m_read = 0;
  std::vector<std::uint8_t> m_ahead;
  std::size_t m_given = 0;  // bytes of m_ahead already read
  bool m_begun = false;
  bool m_ended = false;
};

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

}  // namespace tagvert::cli
