// Tagvert: the character stream over one source and one target: opening, buffers, push-back,
// progress, capture, byte-order marks, and the UTF-16 and UTF-8 codecs.
// SPDX-License-Identifier: Apache-2.0
#include "storage/data_storage.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "storage/code_page_tables.h"
#include "storage/input_scan.h"
#include "storage/unit_scan.h"
#include "storage/utf8.h"

namespace tagvert {
namespace {

// Both buffers double after each refill or flush while below this size, so they stop at it.
constexpr std::uint32_t kMaxCapacity = 0x400000;
constexpr std::uint32_t kInitialCapacity = 1024;
// ReadAllUnits backs its buffer's memory ahead of the decoding after each step of input, with
// some slack (in units) beyond what the rest of the input is expected to give.
constexpr std::uint64_t kBackAheadStep = 0x100000;
constexpr std::size_t kBackAheadSlack = 0x100000;

// The IF start rule: an IF output may begin directly only with U+E000..U+E3FF or U+E800..U+EBFF.
constexpr bool NeedsIfStartCode(char16_t ch) {
  return ch < 0xE000 || ch > 0xEFFF || (ch >= 0xE400 && ch <= 0xE7FF) || ch >= 0xEC00;
}

constexpr bool IsSurrogate(char16_t ch) {
  return (ch & 0xF800) == 0xD800;
}
constexpr bool IsHighSurrogate(char16_t ch) {
  return (ch & 0xFC00) == 0xD800;
}
constexpr bool IsLowSurrogate(char16_t ch) {
  return (ch & 0xFC00) == 0xDC00;
}

// Characters beyond U+FFFF: four UTF-8 bytes, two UTF-16 units.
constexpr std::uint32_t kFirstSupplementary = 0x10000;

// Writes one unit as UTF-8 at `p` (room for three bytes); returns the byte count. UTF-8 output
// is markup: a unit that XML excludes (a control but tab, line feed and carriage return, U+FFFE,
// U+FFFF) is written as U+FFFD, since no reference may stand for it either.
inline std::uint32_t EncodeUtf8Unit(std::uint8_t* p, char16_t ch) {
  if (ch < 0x80) {
    if (ch >= 0x20 || IsXmlControl(ch)) {
      p[0] = static_cast<std::uint8_t>(ch);
      return 1;
    }
    ch = kReplacementCharacter;
  } else if (ch < 0x800) {
    p[0] = static_cast<std::uint8_t>(0xC0 | ((ch >> 6) & 0x1F));
    p[1] = static_cast<std::uint8_t>(0x80 | (ch & 0x3F));
    return 2;
  } else if (ch >= 0xFFFE) {
    ch = kReplacementCharacter;
  }
  p[0] = static_cast<std::uint8_t>(0xE0 | ((ch >> 12) & 0x0F));
  p[1] = static_cast<std::uint8_t>(0x80 | ((ch >> 6) & 0x3F));
  p[2] = static_cast<std::uint8_t>(0x80 | (ch & 0x3F));
  return 3;
}

// Resolves a source or target value to a stream: a file by name through the platform, or the
// stream itself. Everything else, a missing file and an object without a stream are refused.
ByteStreamPtr OpenEndpoint(const CEndpoint& endpoint, bool forReading, bool& isFile) {
  isFile = false;
  switch (endpoint.GetKind()) {
    case CEndpoint::Kind::Stream:
      if (!endpoint.GetStream()) ThrowHResult(endpoint.GetOpenFailure());
      return endpoint.GetStream();
    case CEndpoint::Kind::FileName: {
      ByteStreamPtr file = forReading ? PlatformOpenFileForReading(endpoint.GetFileName())
                                      : PlatformCreateFileForWriting(endpoint.GetFileName());
      if (!file) ThrowHResult(kEInvalidArg);
      isFile = true;
      return file;
    }
    case CEndpoint::Kind::Empty:
    case CEndpoint::Kind::Other:
      break;
  }
  ThrowHResult(kEInvalidArg);
}

}  // namespace

CDataStorage::CDataStorage(EncodingMode inputMode, EncodingMode outputMode)
    : m_inputMode(inputMode), m_outputMode(outputMode) {}

CDataStorage::~CDataStorage() {
  Close();
}

void CDataStorage::Open(const CEndpoint& input, const CEndpoint& output) {
  m_inputCodePage = 0;
  m_outputCodePage = 0;
  m_inputTable = nullptr;
  m_inputByteSwap = false;
  m_hzShiftGb = false;

  if (m_inputMode != EncodingMode::None) {
    bool isFile = false;
    ByteStreamPtr stream = OpenEndpoint(input, true, isFile);
    m_inputStream = std::move(stream);
    m_inputIsFile = isFile;
    m_inputFileName = isFile ? input.GetFileName() : std::u16string();
    std::uint64_t size = 0;
    m_inputSize = m_inputStream->Size(size) ? size : 0;
    m_inputStart = m_inputStream->Position();
  }

  if (m_outputMode != EncodingMode::None) {
    bool isFile = false;
    ByteStreamPtr stream = OpenEndpoint(output, false, isFile);
    m_outputStream = std::move(stream);
    m_outputIsFile = isFile;
  }

  m_inputRead = m_inputStart;
  m_endOfInput = false;
  m_droppedInputBytes = 0;
  m_inputFilled = 0;
  m_inputPosition = 0;
  m_outputPending = 0;
  m_inputBuffer.reset();
  m_inputBufferSize = 0;
  m_inputCapacity = kInitialCapacity;
  m_outputCapacity = kInitialCapacity;
  m_outputBuffer = MakeLargeBlock(m_outputCapacity);
  m_outputStartArmed = false;
  m_pushedBack = false;
  m_pendingLowSurrogate = 0;
  m_pendingHighSurrogate = 0;
  m_charCount = 0;
}

void CDataStorage::Close() {
  m_inputStream.reset();
  m_inputIsFile = false;
  m_inputFileName.clear();
  m_outputStream.reset();
  m_outputIsFile = false;
  m_inputBuffer.reset();
  m_inputBufferSize = 0;
  m_inputFilled = 0;
  m_inputPosition = 0;
  m_outputBuffer.reset();
  m_outputCapacity = 0;
  m_outputPending = 0;
  m_pendingHighSurrogate = 0;
}

bool CDataStorage::HasInput() const {
  return m_inputStream != nullptr;
}

bool CDataStorage::FillInput(std::uint32_t n) {
  return Refill(n, true);
}

bool CDataStorage::Refill(std::uint32_t n, bool endAtShortfall) {
  const std::uint32_t unread = m_inputFilled - m_inputPosition;
  if (unread >= n) return true;
  if (n > m_inputCapacity) return false;
  if (!m_inputStream) ThrowHResult(kEPointer);

  // Move the unread tail (at most a few bytes) to the front of a buffer that holds the input
  // capacity, which is what the reads ask for. Up to 64 KiB the buffer is taken anew at each
  // capacity (a short document never maps megabytes); past that it is taken once at the
  // largest capacity, from large pages where the system has them, so that a long document
  // touches one buffer instead of one fresh buffer per doubling.
  constexpr std::uint32_t kSmallLimit = 64 * 1024;
  const std::uint32_t limit = m_inputCapacity;
  if (!m_inputBuffer || m_inputBufferSize < limit) {
    const std::uint32_t size = limit <= kSmallLimit ? limit : std::max(limit, kMaxCapacity);
    CLargeBlock fresh = MakeLargeBlock(size);
    if (unread != 0) std::memcpy(fresh.get(), m_inputBuffer.get() + m_inputPosition, unread);
    m_inputBuffer = std::move(fresh);
    m_inputBufferSize = size;
  } else if (unread != 0) {
    std::memmove(m_inputBuffer.get(), m_inputBuffer.get() + m_inputPosition, unread);
  }
  m_inputPosition = 0;
  m_inputFilled = unread;

  // A stream may deliver fewer bytes than asked in the middle of the data: read again until
  // the character is complete or a read delivers nothing, which is the true end.
  while (m_inputFilled < n) {
    const std::uint32_t room = limit - m_inputFilled;
    std::uint32_t got = m_inputStream->Read(m_inputBuffer.get() + m_inputFilled, room);
    if (got == 0) {
      if (endAtShortfall) {
        // The incomplete trailing character is dropped, so the progress reaches the end too;
        // its bytes are counted for the caller to report.
        m_droppedInputBytes += m_inputFilled - m_inputPosition;
        m_inputPosition = m_inputFilled;
        m_endOfInput = true;
      } else if (m_inputFilled == 0) {
        m_endOfInput = true;
      }
      return false;
    }
    // Guard: a stream that reports more bytes than it was given room for.
    if (got > room) got = room;
    m_inputRead += got;
    m_inputFilled += got;
    if (m_inputCapacity < kMaxCapacity) m_inputCapacity *= 2;
  }
  return true;
}

void CDataStorage::Flush() {
  // The conversion has ended: a high surrogate can no longer be paired.
  if (m_pendingHighSurrogate != 0) {
    m_pendingHighSurrogate = 0;
    PutUtf8Unit(kReplacementCharacter);
  }
  WriteOutputBuffer();
}

void CDataStorage::WriteOutputBuffer() {
  if (m_outputPending == 0) return;
  if (!m_outputStream) ThrowHResult(kEPointer);
  const std::uint32_t written = m_outputStream->Write(m_outputBuffer.get(), m_outputPending);
  if (written < m_outputPending) Fail(kStateShortWrite);
  m_outputPending = 0;
  if (m_outputCapacity < kMaxCapacity) {
    // The capacity, and with it the flush size, doubles. Up to 64 KiB the buffer is taken anew
    // at each size (small blocks the heap has at hand: a short document never maps megabytes);
    // past that the memory is taken once, at the largest size, so that the pages written before
    // are used again instead of fresh ones being faulted in at every doubling.
    constexpr std::uint32_t kSmallLimit = 64 * 1024;
    m_outputCapacity *= 2;
    if (m_outputCapacity <= kSmallLimit) {
      m_outputBuffer = MakeLargeBlock(m_outputCapacity);
    } else if (m_outputCapacity == 2 * kSmallLimit) {
      m_outputBuffer = MakeLargeBlock(kMaxCapacity);
    }
  }
}

void CDataStorage::MakeOutputRoom() {
  // A full buffer is written out without the pending high surrogate: its low half may follow.
  WriteOutputBuffer();
  // Writing before Open or after Close: there is no target to write to.
  if (!m_outputBuffer) ThrowHResult(kEPointer);
}

std::int32_t CDataStorage::GetProgress() const {
  if (m_inputSize == 0) return 100;
  const double percent =
      static_cast<double>(GetInputConsumed()) * 100.0 / static_cast<double>(m_inputSize);
  // Guard: a stream that holds more than its size query said.
  if (percent >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(percent);
}

bool CDataStorage::GetChar(char16_t& ch) {
  if (m_pushedBack) {
    ch = m_lastChar;
    ++m_charCount;
    m_pushedBack = false;
    return true;
  }
  if (m_pendingLowSurrogate != 0) {
    // The second unit of a four-byte character, whose bytes are consumed already.
    ch = m_pendingLowSurrogate;
    m_pendingLowSurrogate = 0;
    ++m_charCount;
    m_lastChar = ch;
    return true;
  }
  if (m_endOfInput) return false;

  char16_t unit;
  switch (m_inputMode) {
    case EncodingMode::Utf16: {
      if (!Need(2)) return false;
      const std::uint8_t* p = m_inputBuffer.get() + m_inputPosition;
      unit = m_inputByteSwap ? static_cast<char16_t>((p[0] << 8) | p[1])
                             : static_cast<char16_t>(p[0] | (p[1] << 8));
      m_inputPosition += 2;
      break;
    }
    case EncodingMode::Utf8: {
      if (!Need(1)) return false;
      const std::uint8_t b = m_inputBuffer[m_inputPosition];
      if (b < 0x80) {
        unit = b;
        ++m_inputPosition;
      } else if (!DecodeUtf8(unit)) {
        return false;
      }
      break;
    }
    case EncodingMode::Single:
      if (!DecodeSingleByte(unit)) return false;
      break;
    default:
      // No decoder: nothing is read in mode 0, so the input is at its end.
      m_endOfInput = true;
      return false;
  }
  ++m_charCount;
  m_lastChar = unit;
  ch = unit;
  return true;
}

bool CDataStorage::DecodeUtf8(char16_t& ch) {
  CUtf8Char c =
      DecodeUtf8Char(m_inputBuffer.get() + m_inputPosition, m_inputFilled - m_inputPosition);
  if (c.length == 0) {
    // A character begun but not wholly buffered: read on up to its length. At the true end of
    // the input the bytes stay, and the character cut off there is one U+FFFD.
    Refill(Utf8SequenceLength(m_inputBuffer[m_inputPosition]), false);
    const std::uint32_t available = m_inputFilled - m_inputPosition;
    c = DecodeUtf8Char(m_inputBuffer.get() + m_inputPosition, available);
    if (c.length == 0) c = {available, kReplacementCharacter};
  }
  m_inputPosition += c.length;
  if (c.value >= kFirstSupplementary) {
    // A character beyond U+FFFF: delivered as its surrogate pair, the low half by the next call.
    const std::uint32_t offset = c.value - kFirstSupplementary;
    ch = static_cast<char16_t>(0xD800 + (offset >> 10));
    m_pendingLowSurrogate = static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
    return true;
  }
  ch = static_cast<char16_t>(c.value);
  return true;
}

void CDataStorage::UngetChar() {
  m_pushedBack = true;
  if (m_charCount != 0) --m_charCount;
}

bool CDataStorage::PutCharPrologue(char16_t ch) {
  if (m_outputStartArmed && m_outputMode == EncodingMode::Utf16) {
    m_outputStartArmed = false;
    if (NeedsIfStartCode(ch)) PutChar(u'\uE000');
  }
  if (m_captureOn) {
    m_captureText.push_back(ch);
    return true;
  }
  return false;
}

void CDataStorage::PutChar(char16_t ch) {
  // The start rule and capture are rare: kept out of line so that the common path saves no
  // registers.
  if ((m_outputStartArmed || m_captureOn) && PutCharPrologue(ch)) return;
  if (m_outputPending + EncodingMaxUnitBytes(m_outputMode) > m_outputCapacity) {
    MakeOutputRoom();
  }
  std::uint8_t* p = m_outputBuffer.get() + m_outputPending;
  switch (m_outputMode) {
    case EncodingMode::Utf16:
      p[0] = static_cast<std::uint8_t>(ch & 0xFF);
      p[1] = static_cast<std::uint8_t>(ch >> 8);
      m_outputPending += 2;
      break;
    case EncodingMode::Utf8:
      if (IsSurrogate(ch) || m_pendingHighSurrogate != 0) {
        PutUtf8Surrogate(ch);
      } else {
        m_outputPending += EncodeUtf8Unit(p, ch);
      }
      break;
    case EncodingMode::Single:
      EncodeSingleByte(ch);
      break;
    default:
      break;
  }
}

void CDataStorage::PutUtf8Surrogate(char16_t ch) {
  const char16_t high = m_pendingHighSurrogate;
  m_pendingHighSurrogate = 0;
  if (high != 0 && IsLowSurrogate(ch)) {
    const std::uint32_t value =
        kFirstSupplementary + ((static_cast<std::uint32_t>(high - 0xD800) << 10) | (ch - 0xDC00));
    if (m_outputPending + 4 > m_outputCapacity) MakeOutputRoom();
    std::uint8_t* p = m_outputBuffer.get() + m_outputPending;
    p[0] = static_cast<std::uint8_t>(0xF0 | (value >> 18));
    p[1] = static_cast<std::uint8_t>(0x80 | ((value >> 12) & 0x3F));
    p[2] = static_cast<std::uint8_t>(0x80 | ((value >> 6) & 0x3F));
    p[3] = static_cast<std::uint8_t>(0x80 | (value & 0x3F));
    m_outputPending += 4;
    return;
  }
  // A surrogate that does not pair up is no character: U+FFFD stands for it.
  if (high != 0) PutUtf8Unit(kReplacementCharacter);
  if (IsHighSurrogate(ch)) {
    m_pendingHighSurrogate = ch;  // written with the next unit, or by the final flush
  } else {
    PutUtf8Unit(IsLowSurrogate(ch) ? kReplacementCharacter : ch);
  }
}

void CDataStorage::PutUtf8Unit(char16_t ch) {
  if (m_outputPending + 3 > m_outputCapacity) MakeOutputRoom();
  m_outputPending += EncodeUtf8Unit(m_outputBuffer.get() + m_outputPending, ch);
}

bool CDataStorage::IsEOF() const {
  return m_endOfInput;
}

void CDataStorage::Fail(std::int32_t /*code*/) {
  ThrowHResult(kEFail);
}

void CDataStorage::MarkOutputStart() {
  m_outputStartArmed = true;
}

std::int32_t CDataStorage::GetCharCount() const {
  return static_cast<std::int32_t>(m_charCount);
}

bool CDataStorage::DetectBOM() {
  m_inputPosition = 0;
  if (!Refill(2, false)) return false;
  const std::uint8_t* p = m_inputBuffer.get() + m_inputPosition;
  if (p[0] == 0xFF && p[1] == 0xFE) {
    m_inputMode = EncodingMode::Utf16;
    m_inputByteSwap = false;
    m_inputPosition += 2;
    return true;
  }
  if (p[0] == 0xFE && p[1] == 0xFF) {
    m_inputMode = EncodingMode::Utf16;
    m_inputByteSwap = true;
    m_inputPosition += 2;
    return true;
  }
  if (!Refill(3, false)) return false;
  p = m_inputBuffer.get() + m_inputPosition;
  if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    m_inputMode = EncodingMode::Utf8;
    m_inputPosition += 3;
    return true;
  }
  if (!m_readUtf16WithoutMark || !Refill(4, false)) return false;
  // XML without a mark begins with '<' or white space, and no XML in UTF-8 holds a zero byte:
  // two ASCII units with a zero byte each, the first of them markup or white space, are UTF-16
  // in the order the zero bytes show.
  p = m_inputBuffer.get() + m_inputPosition;
  const auto opens = [](std::uint8_t b) {
    return b == '<' || b == ' ' || b == '\t' || b == '\r' || b == '\n';
  };
  const auto ascii = [](std::uint8_t b) { return b != 0 && b < 0x80; };
  if (opens(p[0]) && p[1] == 0 && ascii(p[2]) && p[3] == 0) {
    m_inputMode = EncodingMode::Utf16;
    m_inputByteSwap = false;
    return true;
  }
  if (p[0] == 0 && opens(p[1]) && p[2] == 0 && ascii(p[3])) {
    m_inputMode = EncodingMode::Utf16;
    m_inputByteSwap = true;
    return true;
  }
  return false;
}

void CDataStorage::PutString(const std::u16string& s) {
  PutUnits(s.data(), s.size());
}

void CDataStorage::PutString(const char16_t* s) {
  if (s == nullptr) return;
  PutUnits(s, std::char_traits<char16_t>::length(s));
}

// The stop request in the bulk operations. Stop may come from another thread at any time, and
// the converting thread's hooks (progress events, whose listeners may call Stop) run only inside
// the virtual GetChar, PutChar and Fail. So within a stretch of units that involves none of those
// calls, the flag can only change by another thread, and such a store has no order with respect
// to any particular unit: a stretch that has begun is finished as if the request had come just
// after its last unit, which a check per unit could equally have seen. The flag is therefore
// looked at before every stretch, and every stretch ends before a flush and before any virtual
// call, so a request made during an event, or before a flush, still stops before the very next
// unit, and the target never receives a flushed stretch that a check per unit would have kept
// back.
void CDataStorage::PutUnits(const char16_t* s, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    if (!PlainWrite() || StopRequested() ||
        (m_outputMode != EncodingMode::Utf16 && m_outputMode != EncodingMode::Utf8)) {
      // The IF start rule, capture, a waiting high surrogate, a stop request or another mode:
      // the virtual PutChar does it.
      PutChar(s[i++]);
      continue;
    }
    if (m_outputMode == EncodingMode::Utf16) {
      // PutChar flushes when the two bytes of a unit would not fit.
      if (m_outputPending + 2 > m_outputCapacity) MakeOutputRoom();
      std::uint8_t* p = m_outputBuffer.get() + m_outputPending;
      const std::size_t count =
          std::min<std::size_t>((m_outputCapacity - m_outputPending) / 2, n - i);
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, s + i, 2 * count);
      } else {
        for (std::size_t k = 0; k < count; ++k) {
          p[2 * k] = static_cast<std::uint8_t>(s[i + k] & 0xFF);
          p[2 * k + 1] = static_cast<std::uint8_t>(s[i + k] >> 8);
        }
      }
      m_outputPending += static_cast<std::uint32_t>(2 * count);
      i += count;
      continue;
    }
    // UTF-8: PutChar flushes when three bytes would not fit, whatever the unit needs; a unit is
    // written here only while it starts below `limit`.
    if (m_outputPending + 3 > m_outputCapacity) MakeOutputRoom();
    std::uint8_t* const buffer = m_outputBuffer.get();
    std::uint8_t* p = buffer + m_outputPending;
    std::uint8_t* const limit = buffer + m_outputCapacity - 2;
    while (i < n && p < limit) {
      const char16_t ch = s[i];
      if (ch < 0x80) {
        // An ASCII stretch in blocks; a control that XML excludes is encoded below.
        const std::size_t ascii = UnitsCopyPlainAscii(
            s + i, std::min<std::size_t>(n - i, static_cast<std::size_t>(limit - p)), p);
        i += ascii;
        p += ascii;
        if (ascii != 0) continue;
      }
      if (IsSurrogate(ch)) break;
      p += EncodeUtf8Unit(p, ch);
      ++i;
    }
    m_outputPending = static_cast<std::uint32_t>(p - buffer);
    // A surrogate pairs up in PutChar (with room for it: otherwise the next stretch flushes).
    if (i < n && p < limit && IsSurrogate(s[i])) PutChar(s[i++]);
  }
}

void CDataStorage::ReadRunBeforeLess(std::u16string& out) {
  ReadRun(&out, [](char16_t ch) { return ch == u'<'; });
}

void CDataStorage::ReadAllUnits(CUnitBuffer& out) {
  if (m_inputSize > GetInputConsumed()) {
    const std::uint64_t left = m_inputSize - GetInputConsumed();
    // A UTF-8 byte gives at most one unit (a four-byte character two), a UTF-16 unit takes two.
    const std::uint64_t units = m_inputMode == EncodingMode::Utf16 ? left / 2 + 1 : left + 1;
    // Guard: size overflow
    if (units < SIZE_MAX / sizeof(char16_t) - out.Size())
      out.Reserve(out.Size() + static_cast<std::size_t>(units));
  }
  // Where the size is known, the buffer's memory is backed ahead of the decoding, up to what
  // the rest of the input gives at the rate of units per byte seen so far (all of a reserve
  // for ASCII text, a third of it for CJK text in UTF-8), worked out again after each MiB.
  const std::uint64_t firstByte = GetInputConsumed();
  const std::size_t firstUnit = out.Size();
  std::uint64_t nextBackAhead = firstByte + kBackAheadStep;
  const auto backAhead = [&] {
    if (GetInputConsumed() < nextBackAhead || m_inputSize <= GetInputConsumed()) return;
    nextBackAhead = GetInputConsumed() + kBackAheadStep;
    const std::uint64_t consumed = GetInputConsumed() - firstByte;
    const double left = static_cast<double>(m_inputSize - GetInputConsumed());
    const double rate = static_cast<double>(out.Size() - firstUnit) / static_cast<double>(consumed);
    const double expected = left * rate * (17.0 / 16.0) + static_cast<double>(kBackAheadSlack);
    out.BackAhead(out.Size() + static_cast<std::size_t>(std::min(expected, 0x1p52)));
  };
  const std::atomic<bool>& stop = *m_stopFlag;
  for (;;) {
    backAhead();
    if (NothingPendingToRead() && !m_endOfInput && m_inputBuffer &&
        !stop.load(std::memory_order_relaxed) &&
        (m_inputMode == EncodingMode::Utf8 || m_inputMode == EncodingMode::Utf16)) {
      // Units are read in bulk while the bytes consumed before them stay below the read hook.
      const std::uint64_t bufferBase = m_inputRead - m_inputFilled;
      const std::uint64_t hookAt =
          m_readHookAt <= bufferBase
              ? 0
              : std::min<std::uint64_t>(m_readHookAt - bufferBase, UINT32_MAX);
      const std::uint32_t filled = m_inputFilled;
      const std::uint32_t limit =
          static_cast<std::uint32_t>(std::min<std::uint64_t>(hookAt, filled));
      const std::uint8_t* const buffer = m_inputBuffer.get();
      std::uint32_t pos = m_inputPosition;
      char16_t* const first = out.Extend(limit > pos ? limit - pos : 0);
      char16_t* to = first;
      if (m_inputMode == EncodingMode::Utf8) {
        while (pos < limit) {
          if (stop.load(std::memory_order_relaxed)) break;
          // ASCII bytes sixteen at a time, up to 256 between two looks at the stop flag.
          if (limit - pos >= 16) {
            const std::size_t ascii =
                WidenAsciiBlocks(buffer + pos, std::min<std::uint32_t>(limit - pos, 256), to);
            if (ascii != 0) {
              to += ascii;
              pos += static_cast<std::uint32_t>(ascii);
              continue;
            }
          }
          const std::uint8_t* p = buffer + pos;
          const std::uint8_t b = p[0];
          if (b < 0x80) {
            *to++ = b;
            ++pos;
            continue;
          }
          // As DecodeUtf8; a character not wholly buffered is left to GetChar, which refills.
          const CUtf8Char c = DecodeUtf8Char(p, filled - pos);
          if (c.length == 0) break;
          if (c.value >= kFirstSupplementary) {
            // The low half is delivered by a read of its own, before which the hook may act.
            if (pos + 4 >= hookAt) break;
            const std::uint32_t offset = c.value - kFirstSupplementary;
            *to++ = static_cast<char16_t>(0xD800 + (offset >> 10));
            *to++ = static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
          } else {
            *to++ = static_cast<char16_t>(c.value);
          }
          pos += c.length;
        }
      } else {
        // Units start at positions below `end` (a whole unit buffered, no hook due).
        const std::uint32_t end = filled > 0 ? std::min(limit, filled - 1) : 0;
        while (pos < end && !stop.load(std::memory_order_relaxed)) {
          const std::uint32_t blockEnd = std::min(end, pos + 8192);
          if (std::endian::native == std::endian::little && !m_inputByteSwap) {
            const std::uint32_t units = (blockEnd - pos + 1) / 2;
            std::memcpy(to, buffer + pos, 2 * std::size_t{units});
            to += units;
            pos += 2 * units;
          } else {
            for (; pos < blockEnd; pos += 2)
              *to++ = DecodeUtf16At(pos);
          }
        }
      }
      const auto units = static_cast<std::size_t>(to - first);
      out.Commit(units);
      if (units != 0) m_lastChar = to[-1];
      m_charCount += static_cast<std::uint32_t>(units);
      m_inputPosition = pos;
    }
    // One unit through the virtual GetChar: its hooks act, or it needs more bytes or decoding.
    char16_t ch = 0;
    if (!GetChar(ch)) {
      // At the end of the input its buffer (up to 4 MiB) has served; it goes back before the
      // larger stages of the conversion. A push-back needs only the last unit, kept apart.
      if (m_endOfInput && m_inputPosition == m_inputFilled) {
        m_inputBuffer.reset();
        m_inputBufferSize = 0;
      }
      return;
    }
    out.PushBack(ch);
  }
}

void CDataStorage::ReadRunBeforeCode(std::u16string* out) {
  if (m_inputMode == EncodingMode::Utf16 && !m_inputByteSwap &&
      std::endian::native == std::endian::little) {
    ReadUtf16RunBeforeCode(out);
    return;
  }
  ReadRun(out, [](char16_t ch) { return ch >= 0xE000 && ch <= 0xEFFF; });
}

void CDataStorage::ReadUtf16RunBeforeCode(std::u16string* out) {
  for (;;) {
    // The units that GetChar would deliver without any hook acting: nothing pending, no stop
    // request (looked at once per stretch, as PutUnits explains), and only units that start
    // before the byte at which the read hook is due and lie whole in the buffer.
    if (NothingPendingToRead() && !m_endOfInput && m_inputBuffer && !StopRequested()) {
      const std::uint64_t bufferBase = m_inputRead - m_inputFilled;
      std::uint32_t limit = m_inputFilled;
      if (m_readHookAt < bufferBase + limit) {
        limit =
            m_readHookAt <= bufferBase ? 0 : static_cast<std::uint32_t>(m_readHookAt - bufferBase);
      }
      const std::uint32_t end = m_inputFilled > 0 ? std::min(limit, m_inputFilled - 1) : 0;
      const std::uint32_t pos = m_inputPosition;
      const std::size_t available = end > pos ? (end - pos + 1) / 2 : 0;
      const std::uint8_t* const from = m_inputBuffer.get() + pos;
      const std::size_t units = UnitsFindIfCode(from, available);
      if (out != nullptr && units != 0) {
        const std::size_t old = out->size();
        out->resize(old + units);
        std::memcpy(out->data() + old, from, 2 * units);
      }
      m_charCount += static_cast<std::uint32_t>(units);
      const std::uint32_t next = pos + static_cast<std::uint32_t>(2 * units);
      if (units != 0) m_lastChar = DecodeUtf16At(next - 2);
      m_inputPosition = next;
      if (units < available) {
        // The code is read and pushed back, as GetChar and UngetChar would leave it.
        m_lastChar = DecodeUtf16At(next);
        m_inputPosition = next + 2;
        m_pushedBack = true;
        return;
      }
    }
    // One unit through the virtual GetChar: its hooks act, or it needs more bytes.
    char16_t ch = 0;
    if (!GetChar(ch)) return;
    if (ch >= 0xE000 && ch <= 0xEFFF) {
      UngetChar();
      return;
    }
    if (out != nullptr) out->push_back(ch);
  }
}

template <class IsStop>
void CDataStorage::ReadRun(std::u16string* out, IsStop isStop) {
  for (;;) {
    // The units that GetChar would deliver without any hook acting: nothing pushed back, no
    // stop request, fewer bytes consumed than the read hook waits for. They are taken straight
    // from the buffer (ASCII bytes of UTF-8, units of UTF-16).
    if (NothingPendingToRead() && !m_endOfInput && m_inputBuffer) {
      const std::uint64_t bufferBase = m_inputRead - m_inputFilled;
      std::uint32_t limit = m_inputFilled;
      if (m_readHookAt < bufferBase + limit) {
        limit =
            m_readHookAt <= bufferBase ? 0 : static_cast<std::uint32_t>(m_readHookAt - bufferBase);
      }
      const std::uint8_t* buffer = m_inputBuffer.get();
      std::uint32_t pos = m_inputPosition;
      const std::uint32_t start = pos;
      bool stopped = false;
      const std::atomic<bool>& stop = *m_stopFlag;
      if (m_inputMode == EncodingMode::Utf8) {
        const std::uint8_t* p = buffer + pos;
        const std::uint8_t* const last = buffer + limit;
        for (; p < last && *p < 0x80; ++p) {
          if (stop.load(std::memory_order_relaxed)) break;
          if (isStop(*p)) {
            stopped = true;
            break;
          }
        }
        pos = static_cast<std::uint32_t>(p - buffer);
        if (out != nullptr && pos != start) {
          const std::size_t old = out->size();
          out->resize(old + (pos - start));
          std::copy(buffer + start, buffer + pos, out->begin() + static_cast<std::ptrdiff_t>(old));
        }
        if (pos != start) m_lastChar = buffer[pos - 1];
        m_charCount += static_cast<std::uint32_t>(pos - start);
        m_inputPosition = pos;
        if (stopped) {
          // The stop unit is read and pushed back, as GetChar and UngetChar would leave it.
          m_lastChar = buffer[pos];
          m_inputPosition = pos + 1;
          m_pushedBack = true;
          return;
        }
      } else if (m_inputMode == EncodingMode::Utf16) {
        // Units start at positions below `end` (a whole unit buffered, no hook due).
        const std::uint32_t end = m_inputFilled > 0 ? std::min(limit, m_inputFilled - 1) : 0;
        char16_t unit = 0;
        const bool swapped = m_inputByteSwap;
        // The unit at `p` in the run's byte order; `swap` is fixed per run.
        auto scan = [&](auto swap) {
          const std::uint8_t* p = buffer + pos;
          const std::uint8_t* const last = buffer + end;
          for (; p < last; p += 2) {
            if (stop.load(std::memory_order_relaxed)) break;
            std::uint16_t raw;
            std::memcpy(&raw, p, 2);
            if constexpr (decltype(swap)::value)
              raw = static_cast<std::uint16_t>((raw << 8) | (raw >> 8));
            if (isStop(static_cast<char16_t>(raw))) {
              unit = static_cast<char16_t>(raw);
              stopped = true;
              break;
            }
          }
          pos = static_cast<std::uint32_t>(p - buffer);
        };
        // Bytes in memory order: little-endian input on a little-endian machine needs no swap.
        if (swapped == (std::endian::native == std::endian::little)) {
          scan(std::true_type());
        } else {
          scan(std::false_type());
        }
        const std::size_t units = (pos - start) / 2;
        if (out != nullptr && units != 0) {
          const std::size_t old = out->size();
          out->resize(old + units);
          char16_t* to = out->data() + old;
          if (std::endian::native == std::endian::little && !swapped) {
            std::memcpy(to, buffer + start, 2 * units);
          } else {
            for (std::uint32_t at = start; at < pos; at += 2)
              *to++ = DecodeUtf16At(at);
          }
        }
        if (units != 0) m_lastChar = DecodeUtf16At(pos - 2);
        m_charCount += static_cast<std::uint32_t>(units);
        m_inputPosition = pos;
        if (stopped) {
          m_lastChar = unit;
          m_inputPosition = pos + 2;
          m_pushedBack = true;
          return;
        }
      }
    }
    // One unit through the virtual GetChar: its hooks act, or it needs more bytes or decoding.
    char16_t ch = 0;
    if (!GetChar(ch)) return;
    if (isStop(ch)) {
      UngetChar();
      return;
    }
    if (out != nullptr) out->push_back(ch);
  }
}

void CDataStorage::SetInputMode(EncodingMode mode) {
  m_inputMode = mode;
}

void CDataStorage::SetOutputMode(EncodingMode mode) {
  m_outputMode = mode;
}

void CDataStorage::SetInputMode(EncodingMode mode, std::int16_t codePage) {
  m_inputMode = mode;
  m_inputCodePage = codePage;
  SelectInputTable();
}

void CDataStorage::SetOutputMode(EncodingMode mode, std::int16_t codePage) {
  m_outputMode = mode;
  m_outputCodePage = codePage;
}

void CDataStorage::SelectInputTable() {
  m_inputTable = CodePageTable(m_inputCodePage);
}

bool CDataStorage::CanEncode(char16_t ch) const {
  switch (m_outputMode) {
    case EncodingMode::Utf16:
    case EncodingMode::Utf8:
      return true;
    case EncodingMode::Single:
      return SingleByteOf(ch).has_value();
    default:
      return false;
  }
}

void CDataStorage::PutBOM() {
  if (m_outputCapacity - m_outputPending < 3) MakeOutputRoom();
  std::uint8_t* p = m_outputBuffer.get() + m_outputPending;
  if (m_outputMode == EncodingMode::Utf16) {
    p[0] = 0xFF;
    p[1] = 0xFE;
    m_outputPending += 2;
  } else if (m_outputMode == EncodingMode::Utf8) {
    p[0] = 0xEF;
    p[1] = 0xBB;
    p[2] = 0xBF;
    m_outputPending += 3;
  }
}

void CDataStorage::SetCapture(bool on) {
  m_captureOn = on;
  m_captureText.clear();
}

void CDataStorage::FlushCapture() {
  if (!m_captureOn) return;
  m_captureOn = false;
  PutString(m_captureText);
  m_captureText.clear();
  m_captureOn = true;
}

std::size_t CDataStorage::GetCaptureLength() const {
  return m_captureText.size();
}

void CDataStorage::EraseCaptured(std::size_t pos) {
  if (pos < m_captureText.size()) m_captureText.erase(pos, 1);
}

}  // namespace tagvert
