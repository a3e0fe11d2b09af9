// Tagvert: test seams: streams that read in small chunks, short-write or fail, and helpers.
// SPDX-License-Identifier: Apache-2.0
#include "support/test_streams.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "storage/char_class.h"

namespace tagvert::test {

CChunkedStream::CChunkedStream(std::vector<std::uint8_t> bytes, std::uint32_t chunk,
                               std::uint64_t start)
    : m_bytes(std::move(bytes)), m_chunk(chunk == 0 ? 1 : chunk), m_position(start) {}

std::uint32_t CChunkedStream::Read(void* buffer, std::uint32_t size) {
  m_requested.push_back(size);
  if (m_position >= m_failAfter) ThrowHResult(m_failCode);
  if (m_position >= m_bytes.size()) return 0;
  std::uint64_t n = std::min<std::uint64_t>({size, m_chunk, m_bytes.size() - m_position});
  if (m_failAfter != UINT64_MAX) n = std::min<std::uint64_t>(n, m_failAfter - m_position);
  std::memcpy(buffer, m_bytes.data() + m_position, n);
  m_position += n;
  return static_cast<std::uint32_t>(n);
}

std::uint32_t CChunkedStream::Write(const void*, std::uint32_t) {
  return 0;
}

bool CChunkedStream::Size(std::uint64_t& size) {
  if (m_hideSize) return false;
  size = m_bytes.size();
  return true;
}

std::uint32_t CSinkStream::Write(const void* data, std::uint32_t size) {
  m_writes.push_back(size);
  const auto room = m_limit > m_bytes.size() ? m_limit - m_bytes.size() : 0;
  const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, room));
  const auto* p = static_cast<const std::uint8_t*>(data);
  m_bytes.insert(m_bytes.end(), p, p + n);
  return n;
}

std::vector<std::uint8_t> Bytes(std::string_view s) {
  return std::vector<std::uint8_t>(s.begin(), s.end());
}

std::vector<std::uint8_t> Utf16LeBytes(std::u16string_view s, bool bom) {
  std::vector<std::uint8_t> out;
  if (bom) out = {0xFF, 0xFE};
  for (char16_t c : s) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return out;
}

std::vector<std::uint8_t> Utf8Bytes(std::u16string_view s, bool bom) {
  std::vector<std::uint8_t> out;
  if (bom) out = {0xEF, 0xBB, 0xBF};
  const std::string text = Utf16ToUtf8(s);
  out.insert(out.end(), text.begin(), text.end());
  return out;
}

std::u16string Utf16LeUnits(const std::vector<std::uint8_t>& bytes) {
  std::u16string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return out;
}

std::string Printable(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out;
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

}  // namespace tagvert::test
