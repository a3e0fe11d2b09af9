// Tagvert: test seams: streams that read in small chunks, short-write or fail, and helpers.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/byte_stream.h"
#include "storage/hresult.h"

namespace tagvert::test {

/// A source stream over fixed bytes that hands out at most `chunk` bytes per Read, optionally
/// starting at a position and optionally failing reads with an HRESULT after `failAfter` bytes.
class CChunkedStream : public IByteStream {
 public:
  CChunkedStream(std::vector<std::uint8_t> bytes, std::uint32_t chunk, std::uint64_t start = 0);
  std::uint32_t Read(void* buffer, std::uint32_t size) override;
  std::uint32_t Write(const void* data, std::uint32_t size) override;
  std::uint64_t Position() override { return m_position; }
  bool Size(std::uint64_t& size) override;

  /// Make every read after `bytes` bytes throw CHResultError(code).
  void FailAfter(std::uint64_t bytes, HResult code) {
    m_failAfter = bytes;
    m_failCode = code;
  }
  /// Make the size query fail.
  void HideSize() { m_hideSize = true; }
  /// Sizes requested by each Read call.
  const std::vector<std::uint32_t>& RequestedSizes() const { return m_requested; }

 private:
  std::vector<std::uint8_t> m_bytes;
  std::uint32_t m_chunk;
  std::uint64_t m_position;
  std::uint64_t m_failAfter = UINT64_MAX;
  HResult m_failCode = 0;
  bool m_hideSize = false;
  std::vector<std::uint32_t> m_requested;
};

/// A target stream that collects bytes and accepts at most `limit` bytes in total; the write
/// that crosses the limit is cut short.
class CSinkStream : public IByteStream {
 public:
  explicit CSinkStream(std::uint64_t limit = UINT64_MAX) : m_limit(limit) {}
  std::uint32_t Read(void*, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void* data, std::uint32_t size) override;
  std::uint64_t Position() override { return m_bytes.size(); }
  bool Size(std::uint64_t& size) override {
    size = m_bytes.size();
    return true;
  }
  const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
  /// Sizes of each Write call.
  const std::vector<std::uint32_t>& WriteSizes() const { return m_writes; }

 private:
  std::uint64_t m_limit;
  std::vector<std::uint8_t> m_bytes;
  std::vector<std::uint32_t> m_writes;
};

/// Bytes of a string literal (no terminator).
std::vector<std::uint8_t> Bytes(std::string_view s);
/// UTF-16LE bytes of a UTF-16 string, optionally with the mark FF FE first.
std::vector<std::uint8_t> Utf16LeBytes(std::u16string_view s, bool bom = false);
/// UTF-8 bytes of a UTF-16 string, as the storage writes characters: a surrogate pair as one
/// four-byte character, a lone surrogate as U+FFFD, any other unit by itself.
std::vector<std::uint8_t> Utf8Bytes(std::u16string_view s, bool bom = false);
/// UTF-16 units of little-endian bytes (an odd final byte is dropped).
std::u16string Utf16LeUnits(const std::vector<std::uint8_t>& bytes);
/// A readable form of a UTF-16 string for failure messages (non-ASCII as \uXXXX).
std::string Printable(std::u16string_view s);
/// Reads a whole file into bytes (empty when missing).
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);

}  // namespace tagvert::test
