// Tagvert: the character stream over one source and one target: opening, the input buffer,
// reading one unit (UTF-16, UTF-8), push-back, progress, byte-order marks, modes and capture.
// The output side is in data_storage_output.cpp, the bulk reads in data_storage_runs.cpp and
// the code pages in code_page_codec.cpp.
// SPDX-License-Identifier: Apache-2.0
#include "storage/data_storage.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "storage/code_page_tables.h"
#include "storage/utf8.h"

namespace tagvert {
namespace {

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
    : m_inputMode(inputMode), m_outputMode(outputMode) {
  ResetUtf8Writer();
}

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
  ResetUtf8Writer();
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
  // capacity, which is what the reads ask for. Past kSmallCapacityLimit the buffer is taken
  // once at the largest capacity, from large pages where the system has them, so that a long
  // document touches one buffer instead of one fresh buffer per doubling.
  const std::uint32_t limit = m_inputCapacity;
  if (!m_inputBuffer || m_inputBufferSize < limit) {
    const std::uint32_t size = limit <= kSmallCapacityLimit ? limit : std::max(limit, kMaxCapacity);
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
    ch = HighSurrogateOf(c.value);
    m_pendingLowSurrogate = LowSurrogateOf(c.value);
    return true;
  }
  ch = static_cast<char16_t>(c.value);
  return true;
}

void CDataStorage::UngetChar() {
  m_pushedBack = true;
  if (m_charCount != 0) --m_charCount;
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

void CDataStorage::SetInputMode(EncodingMode mode) {
  m_inputMode = mode;
}

void CDataStorage::SetOutputMode(EncodingMode mode) {
  m_outputMode = mode;
  ResetUtf8Writer();
}

void CDataStorage::SetInputMode(EncodingMode mode, std::int16_t codePage) {
  m_inputMode = mode;
  m_inputCodePage = codePage;
  SelectInputTable();
}

void CDataStorage::SetOutputMode(EncodingMode mode, std::int16_t codePage) {
  m_outputMode = mode;
  m_outputCodePage = codePage;
  ResetUtf8Writer();
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
