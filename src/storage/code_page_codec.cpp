// Tagvert: single-byte mode of the storage: decoding and encoding by code-page index (the
// Cyrillic tables, the byte-for-byte indexes, and the Chinese input encodings).
// SPDX-License-Identifier: Apache-2.0
#include "storage/code_page_platform.h"
#include "storage/code_page_tables.h"
#include "storage/data_storage.h"

namespace tagvert {
namespace {

constexpr std::uint8_t kHzEscape = 0x7E;    // "~"
constexpr std::uint8_t kHzShiftIn = 0x7B;   // "{": to GB
constexpr std::uint8_t kHzShiftOut = 0x7D;  // "}": to ASCII

char16_t DecodeOrStar(unsigned codePage, const std::uint8_t* bytes, std::size_t size) {
  char16_t unit = 0;
  return PlatformDecodeCodePage(codePage, bytes, size, unit) ? unit : kUndecodableUnit;
}

}  // namespace

bool CDataStorage::DecodeSingleByte(char16_t& ch) {
  switch (m_inputCodePage) {
    case kCodePageGb18030:
      return DecodeGb18030(ch);
    case kCodePageGbk:
      return DecodeGbk(ch);
    case kCodePageHz:
      return DecodeHz(ch);
    default:
      break;
  }
  if (!Need(1)) return false;
  const std::uint8_t b = m_inputBuffer[m_inputPosition++];
  ch = (b >= 0x80 && m_inputTable != nullptr) ? m_inputTable[b - 0x80] : b;
  return true;
}

bool CDataStorage::DecodeGbk(char16_t& ch) {
  if (!Need(1)) return false;
  const std::uint8_t b = m_inputBuffer[m_inputPosition];
  if (b <= 0x80) {
    ch = b;
    ++m_inputPosition;
    return true;
  }
  if (!Need(2)) return false;
  const std::uint8_t pair[2] = {b, m_inputBuffer[m_inputPosition + 1]};
  m_inputPosition += 2;
  ch = DecodeOrStar(kCodePage936, pair, 2);
  return true;
}

bool CDataStorage::DecodeGb18030(char16_t& ch) {
  if (!Need(1)) return false;
  const std::uint8_t b = m_inputBuffer[m_inputPosition];
  if (b <= 0x7F) {
    ch = b;
    ++m_inputPosition;
    return true;
  }
  if (b == 0x80 || b == 0xFF) {
    ch = kUndecodableUnit;
    ++m_inputPosition;
    return true;
  }
  if (!Need(2)) return false;
  const std::uint8_t s = m_inputBuffer[m_inputPosition + 1];
  if ((s >= 0x40 && s <= 0x7E) || (s >= 0x80 && s <= 0xFE)) {
    const std::uint8_t pair[2] = {b, s};
    m_inputPosition += 2;
    ch = DecodeOrStar(kCodePage54936, pair, 2);
    return true;
  }
  if (s >= 0x30 && s <= 0x39) {
    if (!Need(4)) return false;
    const std::uint8_t* p = m_inputBuffer.get() + m_inputPosition;
    const std::uint8_t quad[4] = {p[0], p[1], p[2], p[3]};
    m_inputPosition += 4;
    ch = DecodeOrStar(kCodePage54936, quad, 4);
    return true;
  }
  m_inputPosition += 2;
  ch = kUndecodableUnit;
  return true;
}

bool CDataStorage::DecodeHz(char16_t& ch) {
  if (!Need(1)) return false;
  std::uint8_t b = m_inputBuffer[m_inputPosition++];
  while (b == kHzEscape) {
    if (!Need(1)) return false;
    const std::uint8_t n = m_inputBuffer[m_inputPosition++];
    if (n != kHzShiftIn && n != kHzShiftOut) {
      // "~~" and "~" before any other byte: the second byte is taken as it is.
      b = n;
      break;
    }
    m_hzShiftGb = (n == kHzShiftIn);
    if (!Need(1)) return false;
    b = m_inputBuffer[m_inputPosition++];
  }
  if (!m_hzShiftGb) {
    ch = b;
    return true;
  }
  if (!Need(1)) return false;
  const std::uint8_t t = m_inputBuffer[m_inputPosition++];
  // GB 2312 in HZ is written in 7 bits: the high bit of both bytes is restored for code page 936.
  const std::uint8_t pair[2] = {static_cast<std::uint8_t>(b + 0x80),
                                static_cast<std::uint8_t>(t + 0x80)};
  ch = DecodeOrStar(kCodePage936, pair, 2);
  return true;
}

std::optional<std::uint8_t> CDataStorage::SingleByteOf(char16_t ch) const {
  if (ch < 0x80) return static_cast<std::uint8_t>(ch);
  switch (m_outputCodePage) {
    case kCodePageWindows1251:
    case kCodePageKoi8R:
    case kCodePageKoi8U:
    case kCodePageCp866:
    case kCodePageIso8859_5:
      if (const std::uint8_t byte = CodePageTableEncode(m_outputCodePage, ch); byte != 0) {
        return byte;
      }
      return std::nullopt;
    case kCodePageAscii:
      return std::nullopt;
    default:
      if (ch <= 0xFF) return static_cast<std::uint8_t>(ch);
      return std::nullopt;
  }
}

void CDataStorage::EncodeSingleByte(char16_t ch) {
  m_outputBuffer[m_outputPending++] = SingleByteOf(ch).value_or(kUnencodableByte);
}

}  // namespace tagvert
