// Tagvert: reading an IF byte stream as UTF-16 units, block by block.
// SPDX-License-Identifier: Apache-2.0
#include "cli/if_units.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tagvert::cli {

std::optional<unsigned char> ReadIfUnits(
    IByteStream& source, const std::function<void(const char16_t*, std::size_t)>& feed) {
  std::vector<unsigned char> bytes(1U << 16);
  std::vector<char16_t> units;
  std::size_t kept = 0;  // an odd byte waiting for its partner
  for (;;) {
    const std::uint32_t n =
        source.Read(bytes.data() + kept, static_cast<std::uint32_t>(bytes.size() - kept));
    if (n == 0) break;
    const std::size_t have = kept + n;
    units.resize(have / 2);
    if constexpr (std::endian::native == std::endian::little) {
      if (!units.empty()) std::memcpy(units.data(), bytes.data(), 2 * units.size());
    } else {
      for (std::size_t i = 0; i + 1 < have; i += 2) {
        units[i / 2] = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
      }
    }
    feed(units.data(), units.size());
    kept = have % 2;
    if (kept != 0) bytes[0] = bytes[have - 1];
  }
  if (kept == 0) return std::nullopt;
  return bytes[0];
}

std::uint32_t CIfUnitSink::Write(const void* data, std::uint32_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  m_position += size;
  // The common case, whole units in place on a little-endian machine: handed on uncopied.
  if constexpr (std::endian::native == std::endian::little) {
    if (m_odd < 0 && reinterpret_cast<std::uintptr_t>(data) % alignof(char16_t) == 0) {
      if (size >= 2) m_feed(static_cast<const char16_t*>(data), size / 2);
      if (size % 2 != 0) m_odd = bytes[size - 1];
      return size;
    }
  }
  std::size_t at = 0;
  m_units.clear();
  if (m_odd >= 0 && size > 0) {
    m_units.push_back(static_cast<char16_t>(m_odd | (bytes[0] << 8)));
    m_odd = -1;
    at = 1;
  }
  const std::size_t whole = (size - at) / 2;
  const std::size_t first = m_units.size();
  m_units.resize(first + whole);
  for (std::size_t i = 0; i < whole; ++i, at += 2)
    m_units[first + i] = static_cast<char16_t>(bytes[at] | (bytes[at + 1] << 8));
  if (at < size) m_odd = bytes[at];
  if (!m_units.empty()) m_feed(m_units.data(), m_units.size());
  return size;
}

}  // namespace tagvert::cli
