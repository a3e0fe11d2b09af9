// Tagvert: reading an IF byte stream as UTF-16 units, block by block.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "storage/byte_stream.h"

namespace tagvert::cli {

/// Reads `source` to its end as little-endian UTF-16 and hands the units to `feed` in blocks
/// of up to 32 Ki units. A unit split between two reads is joined. Returns the last byte when
/// the stream has an odd length.
std::optional<unsigned char> ReadIfUnits(
    IByteStream& source, const std::function<void(const char16_t*, std::size_t)>& feed);

/// A target for a conversion to IF that keeps nothing: hands the little-endian UTF-16 units
/// written to it to `feed`, in the blocks they come in (a unit split between two writes is
/// joined), so that a command that looks at the IF never holds all of it.
class CIfUnitSink : public IByteStream {
 public:
  using Feed = std::function<void(const char16_t*, std::size_t)>;
  explicit CIfUnitSink(Feed feed) : m_feed(std::move(feed)) {}

  std::uint32_t Read(void*, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void* data, std::uint32_t size) override;
  std::uint64_t Position() override { return m_position; }
  bool Size(std::uint64_t& size) override {
    size = m_position;
    return true;
  }

 private:
  Feed m_feed;
  std::vector<char16_t> m_units;
  std::uint64_t m_position = 0;
  int m_odd = -1;  ///< the first byte of a unit split between two writes
};

}  // namespace tagvert::cli
