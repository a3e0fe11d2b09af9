// Tagvert: byte streams over memory (the built-in rules, tests, in-memory conversions).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/byte_stream.h"

namespace tagvert {

/// A readable and writable stream over a growable byte vector. Reads start at the current
/// position; writes append at the current position (overwriting, then growing).
class CMemoryStream : public IByteStream {
 public:
  CMemoryStream() = default;
  explicit CMemoryStream(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
  CMemoryStream(const void* data, std::size_t size);

  std::uint32_t Read(void* buffer, std::uint32_t size) override;
  std::uint32_t Write(const void* data, std::uint32_t size) override;
  std::uint64_t Position() override { return m_position; }
  bool Size(std::uint64_t& size) override {
    size = m_bytes.size();
    return true;
  }

  /// Moves the position (clamped to the size).
  void Seek(std::uint64_t position);
  /// Everything written or given so far.
  const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

 private:
  std::vector<std::uint8_t> m_bytes;
  std::uint64_t m_position = 0;
};

}  // namespace tagvert
