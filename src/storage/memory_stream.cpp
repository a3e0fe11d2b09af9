// Tagvert: byte streams over memory.
// SPDX-License-Identifier: Apache-2.0
#include "storage/memory_stream.h"

#include <algorithm>
#include <cstring>

#include "storage/hresult.h"

namespace tagvert {

CMemoryStream::CMemoryStream(const void* data, std::size_t size)
    : m_bytes(static_cast<const std::uint8_t*>(data),
              static_cast<const std::uint8_t*>(data) + size) {}

std::uint32_t CMemoryStream::Read(void* buffer, std::uint32_t size) {
  if (m_position >= m_bytes.size()) return 0;
  const auto n =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(size, m_bytes.size() - m_position));
  std::memcpy(buffer, m_bytes.data() + m_position, n);
  m_position += n;
  return n;
}

std::uint32_t CMemoryStream::Write(const void* data, std::uint32_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  const std::uint64_t end = m_position + size;
  // Guard: size overflow (a 32-bit build holds less than 4 GiB in memory)
  if (end > m_bytes.max_size()) ThrowHResult(kEOutOfMemory);
  if (end > m_bytes.size()) m_bytes.resize(static_cast<std::size_t>(end));
  std::copy(p, p + size, m_bytes.begin() + static_cast<std::ptrdiff_t>(m_position));
  m_position = end;
  return size;
}

void CMemoryStream::Seek(std::uint64_t position) {
  m_position = std::min<std::uint64_t>(position, m_bytes.size());
}

}  // namespace tagvert
