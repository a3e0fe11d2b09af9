// Tagvert: reading an IF byte stream as UTF-16 units, block by block.
// SPDX-License-Identifier: Apache-2.0
#include "cli/if_units.h"

#include <cstdint>
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
    for (std::size_t i = 0; i + 1 < have; i += 2) {
      units[i / 2] = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    }
    feed(units.data(), units.size());
    kept = have % 2;
    if (kept != 0) bytes[0] = bytes[have - 1];
  }
  if (kept == 0) return std::nullopt;
  return bytes[0];
}

}  // namespace tagvert::cli
