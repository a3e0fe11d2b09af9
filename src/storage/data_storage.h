// Tagvert: the character stream over one source and one target (CBaseStorage, CDataStorage).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "storage/byte_stream.h"
#include "storage/hresult.h"
#include "storage/input_scan.h"
#include "storage/large_memory.h"
#include "storage/unit_buffer.h"

namespace tagvert {

/// Encoding modes of the input and output sides.
enum class EncodingMode : std::int16_t {
  None = 0,    ///< no input opened; output discarded
  Single = 1,  ///< single-byte, refined by a code-page index
  Utf16 = 2,   ///< UTF-16 little-endian (input may be big-endian)
  Utf8 = 3,    ///< UTF-8; a character above U+FFFF is a surrogate pair (see CBaseStorage)
};

/// The most bytes that PutChar writes for one unit in output `mode` (a UTF-8 surrogate pair,
/// written as one character, makes its own room).
constexpr std::uint32_t EncodingMaxUnitBytes(EncodingMode mode) {
  switch (mode) {
    case EncodingMode::Single:
      return 1;
    case EncodingMode::Utf16:
      return 2;
    case EncodingMode::Utf8:
      return 3;
    case EncodingMode::None:
      break;
  }
  return 0;
}

/// The abstract character stream: every reader and writer talks to the outside through it.
/// One character is one UTF-16 code unit. Only the UTF-8 codec knows surrogates: a four-byte
/// character is delivered as its two units, and a pair written in a row is encoded as one
/// four-byte character. UTF-8 input that is not well-formed (overlong forms, encoded
/// surrogates, values above U+10FFFF, cut-off sequences, stray continuation bytes) is delivered
/// as U+FFFD, one per maximal subpart, so only a one-byte ASCII character gives an ASCII unit.
/// UTF-8 output is markup and holds only characters XML 1.0 allows: a surrogate that does not
/// pair up, a control other than tab, line feed and carriage return, U+FFFE and U+FFFF (for
/// none of which XML allows a reference either) are written as U+FFFD.
class CBaseStorage {
 public:
  virtual ~CBaseStorage() = default;
  /// Delivers the next unit into `ch`; false at the end of the input. A pushed-back unit is
  /// delivered even after the end. Throws the stream's CHResultError when a read fails and
  /// E_POINTER when there is no source.
  virtual bool GetChar(char16_t& ch) = 0;
  /// Pushes the last delivered unit back (one level only).
  virtual void UngetChar() = 0;
  /// Writes one unit (encoded by the output mode, or captured). A full buffer is flushed first:
  /// a short write calls Fail(0x8003); no target throws E_POINTER.
  virtual void PutChar(char16_t ch) = 0;
  /// The end-of-input flag: set once a read of the source returned no bytes.
  virtual bool IsEOF() const = 0;
  /// Reports a 32-bit state code and aborts with CHResultError(E_FAIL). Does not return.
  [[noreturn]] virtual void Fail(std::int32_t code) = 0;
  /// Arms the IF start rule for the next PutChar.
  virtual void MarkOutputStart() = 0;
  /// Units delivered by GetChar, less those pushed back.
  virtual std::int32_t GetCharCount() const = 0;
  /// Looks for a byte-order mark at the start of the input and sets the input mode.
  virtual bool DetectBOM() = 0;
  /// PutChar for every unit of `s`, embedded zero units included.
  virtual void PutString(const std::u16string& s) = 0;
  /// PutChar for every unit up to the terminating zero.
  virtual void PutString(const char16_t* s) = 0;
  /// Sets the input encoding mode; the code page stays.
  virtual void SetInputMode(EncodingMode mode) = 0;
  /// Sets the output encoding mode; the code page stays.
  virtual void SetOutputMode(EncodingMode mode) = 0;
  /// Whether the output mode represents `ch` without turning it into "?".
  virtual bool CanEncode(char16_t ch) const = 0;
  /// Puts the output mode's byte-order mark straight into the output buffer.
  virtual void PutBOM() = 0;
  /// Sets the input mode and the input code page (see code_page_tables.h); call after Open,
  /// which resets the code pages.
  virtual void SetInputMode(EncodingMode mode, std::int16_t codePage) = 0;
  /// Sets the output mode and the output code page; call after Open.
  virtual void SetOutputMode(EncodingMode mode, std::int16_t codePage) = 0;
  /// Sets the capture flag and empties the capture text.
  virtual void SetCapture(bool on) = 0;
  /// Writes the capture text out through PutChar (only while capture is on).
  virtual void FlushCapture() = 0;
  /// Length of the capture text in units.
  virtual std::size_t GetCaptureLength() const = 0;
  /// Erases the one unit of the capture text at `pos` (nothing when out of range).
  virtual void EraseCaptured(std::size_t pos) = 0;
};

/// The storage: one input and one output (file by name or byte stream), byte buffers that start
/// at 1024 bytes and double up to 256 KiB, one-unit push-back, counters and progress, a capture
/// buffer and the error path. Failures throw CHResultError.
///
///   input buffer:  [ consumed | unread bytes            | free           ]
///                  0          m_inputPosition           m_inputFilled    m_inputBufferSize
///                  (a refill reads up to m_inputCapacity bytes, which the buffer holds)
///   output buffer: [ pending bytes        | free                            ]
///                  0                      m_outputPending                   m_outputCapacity
///   push-back:     m_pushedBack set => the next GetChar re-delivers m_lastChar
///   capture:       m_captureOn set => PutChar appends to m_captureText instead of encoding
class CDataStorage : public CBaseStorage {
 public:
  /// Stores the two modes; nothing is opened.
  CDataStorage(EncodingMode inputMode, EncodingMode outputMode);
  ~CDataStorage() override;
  CDataStorage(const CDataStorage&) = delete;
  CDataStorage& operator=(const CDataStorage&) = delete;

  /// Opens the input (when the input mode is not 0) and the output (when the output mode is not
  /// 0). Throws E_INVALIDARG for a value that is neither a file name nor a stream, a file that
  /// cannot be opened or created, or a null stream. Resets code pages, counters and buffers.
  void Open(const CEndpoint& input, const CEndpoint& output);
  /// Writes the pending output bytes; a short write calls Fail(0x8003). A high surrogate still
  /// waiting for its low half in UTF-8 mode can no longer pair up: U+FFFD is written for it.
  void Flush();
  /// Releases streams and files and frees the buffers; does not flush.
  void Close();
  /// Makes at least `n` unread bytes available; false at the true end of the input (an
  /// incomplete trailing character is then dropped and the end reported).
  bool FillInput(std::uint32_t n);
  /// The bytes at the end of the input that formed no unit and were dropped: the odd last byte
  /// of UTF-16, a lone lead byte of a double-byte code page (UTF-8 drops none: a character cut
  /// off is U+FFFD). Set back to 0 by Open, kept after Close for the caller to report.
  std::uint32_t GetDroppedInputBytes() const { return m_droppedInputBytes; }
  /// Lets DetectBOM read an input without a byte-order mark as UTF-16 when its first two units
  /// show it unambiguously: '<' or XML white space, then any ASCII character, each with a zero
  /// byte (little-endian when the zero bytes come second). Off by default: without a mark the
  /// input is then left to the caller's mode.
  void SetReadUtf16WithoutMark(bool on) { m_readUtf16WithoutMark = on; }
  /// Percentage of the input consumed (0..100); 100 when the size is 0 or unknown.
  std::int32_t GetProgress() const;
  /// True when an input stream or file is held.
  bool HasInput() const;

  bool GetChar(char16_t& ch) override;
  void UngetChar() override;
  void PutChar(char16_t ch) override;
  bool IsEOF() const override;
  [[noreturn]] void Fail(std::int32_t code) override;
  void MarkOutputStart() override;
  std::int32_t GetCharCount() const override;
  bool DetectBOM() override;
  void PutString(const std::u16string& s) override;
  void PutString(const char16_t* s) override;
  void SetInputMode(EncodingMode mode) override;
  void SetOutputMode(EncodingMode mode) override;
  bool CanEncode(char16_t ch) const override;
  void PutBOM() override;
  void SetInputMode(EncodingMode mode, std::int16_t codePage) override;
  void SetOutputMode(EncodingMode mode, std::int16_t codePage) override;
  void SetCapture(bool on) override;
  void FlushCapture() override;
  std::size_t GetCaptureLength() const override;
  void EraseCaptured(std::size_t pos) override;

  /// Bulk reading for the readers' long runs: appends to `out` the units up to the next `<`
  /// (ReadRunBeforeLess) or up to the next IF code, IsIfCode (ReadRunBeforeCode; `out` may
  /// be null to pass the units over). The unit that ends the run is read and pushed back, and
  /// the end of the input ends the run too: the storage is left exactly as the loop "GetChar,
  /// UngetChar at the stop unit" leaves it, with the same hook calls (see SetUnitHooks).
  void ReadRunBeforeLess(std::u16string& out);
  void ReadRunBeforeCode(std::u16string* out);
  /// Appends every unit left in the input to `out`, as GetChar called until it returns false
  /// would deliver them, with the same hook calls and end state. Room for the rest of the input
  /// (by its size, when known) is reserved first, so that `out` is allocated once. Between two
  /// points where the read hook acts the units are decoded in bulk (ASCII eight bytes at a
  /// time, well-formed UTF-8 sequences, UTF-16 by copy or byte swap) and the stop flag is looked
  /// at per group of units: nothing is written while the input is read, so a stop is seen at
  /// the same point of the conversion. A narrow `out` (CUnitBuffer) stays narrow while UTF-8
  /// input gives units below U+0100 and widens at the first other unit; a narrow `out` is
  /// widened first for any other input mode.
  void ReadAllUnits(CUnitBuffer& out);
  /// GetChar without a virtual call in the common case (an ASCII byte of UTF-8 or one UTF-16
  /// unit in the buffer, nothing pushed back, no hook due); otherwise the virtual GetChar.
  bool TakeChar(char16_t& ch) {
    if (NothingPendingToRead() && m_inputPosition < m_inputFilled && !StopRequested() &&
        GetInputConsumed() < m_readHookAt) {
      if (m_inputMode == EncodingMode::Utf8) {
        const std::uint8_t b = m_inputBuffer[m_inputPosition];
        if (b < 0x80) {
          ++m_inputPosition;
          ++m_charCount;
          m_lastChar = b;
          ch = b;
          return true;
        }
      } else if (m_inputMode == EncodingMode::Utf16 && m_inputFilled - m_inputPosition >= 2) {
        TakeUtf16Unit(ch);
        return true;
      }
    }
    return GetChar(ch);
  }
  /// PutString of `n` units, written in bulk: every unit is written as PutChar writes it, with
  /// the same flush points, and whenever PutChar would do more than encode (the IF start rule,
  /// capture, a surrogate in UTF-8, a stop request of the hooks) the unit goes through the
  /// virtual PutChar. A stop request is looked at before each stretch that fits in the output
  /// buffer (see the .cpp for why that stops where a check per unit would).
  void PutUnits(const char16_t* s, std::size_t n);
  /// PutUnits of the `n` units below U+0100 given as one byte each (a narrow CUnitBuffer's
  /// units): written exactly as PutUnits writes the same units widened. The bytes up to
  /// `readable` may be read. Most calls are a text that fits the output buffer with the excess
  /// of a last whole step (WidenBytesPast): widened straight into it, without a call.
  void PutNarrowUnits(const std::uint8_t* s, std::size_t n, const std::uint8_t* readable) {
    if (char16_t* const room = Utf16Room(n + kWidenPastExcess)) {
      WidenBytesPast(s, n, readable, room);
      CommitUtf16Room(n);
      return;
    }
    PutNarrowUnitsInBulk(s, n);
  }
  /// Room for `n` units of a UTF-16 output in the output buffer, to be written there and then
  /// handed over with CommitUtf16Room(n): what PutUnits of the same units would write, where it
  /// would neither flush nor call PutChar (a plain write on a little-endian machine, no stop
  /// request, room for all `n`). Null otherwise: the caller then writes through PutUnits.
  char16_t* Utf16Room(std::size_t n) {
    if (std::endian::native != std::endian::little || m_outputMode != EncodingMode::Utf16 ||
        !PlainWrite() || n > (m_outputCapacity - m_outputPending) / 2 || StopRequested()) {
      return nullptr;
    }
    return reinterpret_cast<char16_t*>(m_outputBuffer.get() + m_outputPending);
  }
  /// Counts the `n` units written into the room of Utf16Room as written.
  void CommitUtf16Room(std::size_t n) { m_outputPending += static_cast<std::uint32_t>(2 * n); }
  /// GetChar for the IF reader's codes: a pushed-back unit, or one UTF-16 unit in the buffer, is
  /// delivered without a virtual call when no hook would act (no stop request, fewer bytes
  /// consumed than the read hook waits for); otherwise the virtual GetChar.
  bool TakeUtf16Char(char16_t& ch) {
    if (m_pendingLowSurrogate == 0 && !StopRequested() && GetInputConsumed() < m_readHookAt) {
      if (m_pushedBack) {
        ch = m_lastChar;
        ++m_charCount;
        m_pushedBack = false;
        return true;
      }
      if (m_inputMode == EncodingMode::Utf16 && m_inputFilled - m_inputPosition >= 2) {
        TakeUtf16Unit(ch);
        return true;
      }
    }
    return GetChar(ch);
  }
  /// The unread units of little-endian UTF-16 input (on a little-endian machine) that GetChar
  /// would deliver straight from the buffer, seen where they lie: nothing pending, no stop
  /// request, only units before the byte at which the read hook is due, and the buffer aligned
  /// for char16_t there. Empty otherwise. The view stays valid until a read needs more bytes
  /// than it holds, so that the IF reader can pass a run to the output without copying it.
  std::u16string_view BufferedUtf16Units() const {
    if (m_inputMode != EncodingMode::Utf16 || m_inputByteSwap ||
        std::endian::native != std::endian::little || !NothingPendingToRead() || m_endOfInput ||
        !m_inputBuffer || StopRequested()) {
      return {};
    }
    // As ReadRunBeforeCode: units that start before the read hook's byte (BufferedLimit) and
    // lie whole in the buffer.
    const std::uint64_t base = m_inputRead - m_inputFilled;
    const std::uint64_t hook = m_readHookAt <= base ? 0 : m_readHookAt - base;
    const std::uint64_t end =
        std::min<std::uint64_t>(hook, m_inputFilled > 0 ? m_inputFilled - 1 : 0);
    const std::uint32_t pos = m_inputPosition;
    const std::uint8_t* const from = m_inputBuffer.get() + pos;
    if (end <= pos || reinterpret_cast<std::uintptr_t>(from) % alignof(char16_t) != 0) return {};
    return {reinterpret_cast<const char16_t*>(from), static_cast<std::size_t>(end - pos + 1) / 2};
  }
  /// Consumes the first `n` units of BufferedUtf16Units (at most its size) as GetChar would.
  void SkipBufferedUtf16Units(std::size_t n);

  /// Current modes and code pages (for tests and the frame).
  EncodingMode GetInputMode() const { return m_inputMode; }
  EncodingMode GetOutputMode() const { return m_outputMode; }
  std::int16_t GetInputCodePage() const { return m_inputCodePage; }
  std::int16_t GetOutputCodePage() const { return m_outputCodePage; }
  /// Size of the next input buffer and of the output buffer, in bytes (the output capacity is
  /// 0 while no output buffer exists: before Open and after Close).
  std::uint32_t GetInputCapacity() const { return m_inputCapacity; }
  std::uint32_t GetOutputCapacity() const { return m_outputCapacity; }
  /// Whether PutUnits writes UTF-8 with the steps for runs of three-byte characters now, as
  /// chosen at the last flush from the text written (for tests: both ways write the same bytes).
  bool WritesThreeByteRunsInSteps() const { return m_threeByteRunsUtf8; }
  /// Total size of the source in bytes (0 when unknown) and bytes consumed so far.
  std::uint64_t GetInputSize() const { return m_inputSize; }
  std::uint64_t GetInputConsumed() const { return m_inputRead - (m_inputFilled - m_inputPosition); }

 protected:
  /// Declares what the GetChar and PutChar overrides of a derived class add to this class's:
  /// both throw CHResultError(E_ABORT) while `*stopFlag` is set, and GetChar runs a hook before
  /// a read once the bytes consumed have reached the value of SetReadHookAt. The bulk
  /// operations do the same without a virtual call per unit and call the overrides wherever
  /// they would act. Without hooks (the default) nothing is added.
  void SetUnitHooks(const std::atomic<bool>* stopFlag) {
    m_stopFlag = stopFlag != nullptr ? stopFlag : &kNoStopRequest;
  }
  /// The consumed byte count at which the derived GetChar's hook next has to run.
  void SetReadHookAt(std::uint64_t consumed) { m_readHookAt = consumed; }

 private:
  /// Both buffers double after each refill or flush while below their largest size, so they
  /// stop at it: the input's, and the output's. Reads and flushes of 256 KiB cost the system
  /// little more than larger ones, and a buffer that stays that size is filled over the same
  /// pages, in the cache, however long the document: the bytes a read puts there are decoded
  /// while they are still in the cache, and a larger buffer takes fresh memory (dear on a
  /// virtual machine) until the document has filled it once.
  static constexpr std::uint32_t kMaxCapacity = 0x40000;
  static constexpr std::uint32_t kMaxOutputCapacity = 0x40000;
  static constexpr std::uint32_t kInitialCapacity = 1024;
  /// Up to this capacity a buffer is taken anew at each size (small blocks the heap has at
  /// hand: a short document never maps megabytes); past it once, at the largest size.
  static constexpr std::uint32_t kSmallCapacityLimit = 64 * 1024;

  bool StopRequested() const { return m_stopFlag->load(std::memory_order_relaxed); }
  /// No unit waits to be delivered before the next input bytes (the push-back, the low half
  /// of a four-byte UTF-8 character).
  bool NothingPendingToRead() const { return !m_pushedBack && m_pendingLowSurrogate == 0; }
  /// PutChar would only encode the next unit: no IF start rule armed, no capture, an output
  /// buffer to write to, no high surrogate waiting for its low half.
  bool PlainWrite() const {
    return !m_outputStartArmed && !m_captureOn && m_outputBuffer && m_pendingHighSurrogate == 0;
  }
  char16_t DecodeUtf16At(std::uint32_t position) const {
    const std::uint8_t* p = m_inputBuffer.get() + position;
    return m_inputByteSwap ? static_cast<char16_t>((p[0] << 8) | p[1])
                           : static_cast<char16_t>(p[0] | (p[1] << 8));
  }
  /// Delivers the UTF-16 unit at the read position, whose two bytes are in the buffer.
  void TakeUtf16Unit(char16_t& ch) {
    ch = DecodeUtf16At(m_inputPosition);
    m_inputPosition += 2;
    ++m_charCount;
    m_lastChar = ch;
  }
  /// The run reader behind ReadRunBeforeLess and ReadRunBeforeCode.
  template <class IsStop>
  void ReadRun(std::u16string* out, IsStop isStop);
  /// The bulk steps of ReadRun: the buffered units before byte `limit` (ASCII bytes of UTF-8,
  /// units of UTF-16) up to a stop unit or a stop request. True when a stop unit ended the
  /// run: it is read and pushed back.
  template <class IsStop>
  bool ReadBufferedUtf8Run(std::u16string* out, IsStop& isStop, std::uint32_t limit);
  template <class IsStop>
  bool ReadBufferedUtf16Run(std::u16string* out, IsStop& isStop, std::uint32_t limit);
  /// The bulk step of ReadAllUnits: the buffered units that GetChar would deliver without any
  /// hook acting, decoded straight into `out`; those of characters that start before the input
  /// byte `lookEnd` only, unless it is 0.
  void ReadBufferedUnits(CUnitBuffer& out, std::uint64_t lookEnd);
  /// The slow step of the run readers: one unit through the virtual GetChar, appended to `out`
  /// (when not null) unless it is a stop unit, which is pushed back. False when the run ended.
  template <class IsStop>
  bool ReadOneRunUnit(std::u16string* out, const IsStop& isStop);
  /// The buffered bytes before which units may be read without the read hook acting.
  std::uint32_t BufferedLimit() const;
  /// Leaves `unit` read and pushed back with the read position at `next`, as GetChar and
  /// UngetChar leave a stop unit.
  void PushBackStop(char16_t unit, std::uint32_t next);
  /// ReadRunBeforeCode over little-endian UTF-16 input on a little-endian machine: whole
  /// stretches of the buffer are scanned and copied at once.
  void ReadUtf16RunBeforeCode(std::u16string* out);
  /// Reads until `n` unread bytes are buffered or a read returns nothing. With `endAtShortfall`
  /// the true end drops an incomplete trailing character and sets the end of input; without it
  /// (the byte-order-mark probe) the bytes stay for the decoders and the end is set only when
  /// nothing at all is left.
  bool Refill(std::uint32_t n, bool endAtShortfall);
  /// True when `n` unread bytes are buffered, refilling when needed.
  bool Need(std::uint32_t n) { return m_inputFilled - m_inputPosition >= n || FillInput(n); }
  /// Decoders of the input modes and code pages; each returns false, having consumed nothing
  /// more it could use, when FillInput cannot supply the bytes it needs.
  bool DecodeUtf8(char16_t& ch);
  bool DecodeSingleByte(char16_t& ch);
  bool DecodeGb18030(char16_t& ch);
  bool DecodeGbk(char16_t& ch);
  bool DecodeHz(char16_t& ch);
  /// Encodes one unit of output mode 1 by the output code page.
  void EncodeSingleByte(char16_t ch);
  /// The byte of `ch` in the output code page, or none when it has no byte for it.
  std::optional<std::uint8_t> SingleByteOf(char16_t ch) const;
  /// The IF start rule and capture of PutChar; true when the unit was captured.
  [[gnu::noinline]] bool PutCharPrologue(char16_t ch);
  /// Makes room for one unit when the output buffer is full (or missing: E_POINTER).
  void MakeOutputRoom();
  /// Writes the output buffer out (a short write calls Fail(0x8003)) and lets it grow.
  void WriteOutputBuffer();
  /// UTF-8 output of a surrogate, or of any unit while a high surrogate waits: a pair becomes
  /// one four-byte character, a lone surrogate U+FFFD.
  [[gnu::noinline]] void PutUtf8Surrogate(char16_t ch);
  /// Writes one unit as one to three UTF-8 bytes, making room first.
  void PutUtf8Unit(char16_t ch);
  /// PutUnits past its fast path: a stretch at a time, each unit as PutChar writes it.
  [[gnu::noinline]] void PutUnitsInBulk(const char16_t* s, std::size_t n);
  /// PutUnits while UTF-8 output holds much CJK text: its fast path with an encoder that also
  /// writes runs of three-byte characters eight units a step.
  [[gnu::noinline]] void PutUnitsWithThreeByteRuns(const char16_t* s, std::size_t n);
  /// The fast paths' part: encodes the leading units of `s[0..n)` that EncodeUtf8Run takes
  /// into the output buffer, which has room for three bytes a unit; returns their count.
  template <bool kThreeByteSteps>
  [[gnu::always_inline]] std::size_t EncodeIntoOutput(const char16_t* s, std::size_t n);
  /// Chooses how PutUnits writes UTF-8 from the block about to be flushed (m_inlineUtf8,
  /// m_threeByteRunsUtf8).
  void ChooseUtf8Writer();
  /// PutUnits' UTF-8 way for a new output mode: the inline encoder, or none for another mode.
  void ResetUtf8Writer() {
    m_inlineUtf8 = m_outputMode == EncodingMode::Utf8;
    m_threeByteRunsUtf8 = false;
  }
  /// PutNarrowUnits where the units do not go straight into the output buffer.
  void PutNarrowUnitsInBulk(const std::uint8_t* s, std::size_t n);
  /// Re-derives the table pointer of the input code page.
  void SelectInputTable();

  EncodingMode m_inputMode;
  EncodingMode m_outputMode;
  // How PutUnits writes UTF-8 output: with the encoder inlined into it (mostly ASCII and
  // two-byte text, the common case, which then makes no call and saves no registers for
  // anything else), or through PutUnitsWithThreeByteRuns (CJK text). Both false for another
  // output mode (ResetUtf8Writer); the choice between the two is made at each flush
  // (ChooseUtf8Writer). Both ways write the same bytes. Two flags rather than one value, so that
  // PutUnits' first test stays one comparison with memory.
  bool m_inlineUtf8 = false;
  bool m_threeByteRunsUtf8 = false;
  std::int16_t m_inputCodePage = 0;
  std::int16_t m_outputCodePage = 0;
  bool m_inputByteSwap = false;
  bool m_readUtf16WithoutMark = false;  // see SetReadUtf16WithoutMark
  std::u16string m_inputFileName;
  // Counted modulo 2^32 (a document of more than 2^31 units wraps instead of overflowing) and
  // read as the signed 32-bit count.
  std::uint32_t m_charCount = 0;
  std::uint32_t m_inputPosition = 0;
  std::uint32_t m_outputPending = 0;
  std::uint32_t m_inputFilled = 0;
  std::uint64_t m_inputStart = 0;
  std::uint64_t m_inputRead = 0;
  std::uint64_t m_inputSize = 0;
  bool m_outputStartArmed = false;
  char16_t m_lastChar = 0;
  bool m_pushedBack = false;
  char16_t m_pendingLowSurrogate = 0;   // second unit of a decoded four-byte character, or 0
  char16_t m_pendingHighSurrogate = 0;  // UTF-8 output: a high surrogate not yet written, or 0
  std::uint32_t m_inputCapacity = 1024;
  // 0 while no output buffer exists, so that the first PutChar takes the slow path.
  std::uint32_t m_outputCapacity = 0;
  bool m_endOfInput = false;
  std::uint32_t m_droppedInputBytes = 0;  // see GetDroppedInputBytes
  CLargeBlock m_inputBuffer;
  std::uint32_t m_inputBufferSize =
      0;  // bytes allocated for m_inputBuffer (m_inputCapacity or more)
  CLargeBlock m_outputBuffer;
  ByteStreamPtr m_inputStream;  // a file opened by name is held here too
  bool m_inputIsFile = false;
  ByteStreamPtr m_outputStream;  // likewise for a created output file
  bool m_outputIsFile = false;
  std::u16string m_captureText;
  bool m_captureOn = false;
  const char16_t* m_inputTable = nullptr;  // units of 0x80..0xFF for a table code page
  bool m_hzShiftGb = false;                // HZ shift state (GB when true); ASCII after Open
  // The stop flag of the hooks; a flag that is never set when there are none.
  static inline const std::atomic<bool> kNoStopRequest{false};
  const std::atomic<bool>* m_stopFlag = &kNoStopRequest;
  std::uint64_t m_readHookAt = UINT64_MAX;  // see SetReadHookAt
};

/// Opens an existing file for reading with shared read access; null when it cannot be opened.
/// Implemented once per platform.
ByteStreamPtr PlatformOpenFileForReading(const std::u16string& name);
/// Creates a file for writing, always anew, with shared read access; null on failure.
/// Implemented once per platform.
ByteStreamPtr PlatformCreateFileForWriting(const std::u16string& name);

}  // namespace tagvert
