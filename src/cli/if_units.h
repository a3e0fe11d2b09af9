// Tagvert: reading an IF byte stream as UTF-16 units, block by block.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <functional>
#include <optional>

#include "storage/byte_stream.h"

namespace tagvert::cli {

/// Reads `source` to its end as little-endian UTF-16 and hands the units to `feed` in blocks
/// of up to 32 Ki units. A unit split between two reads is joined. Returns the last byte when
/// the stream has an odd length.
std::optional<unsigned char> ReadIfUnits(
    IByteStream& source, const std::function<void(const char16_t*, std::size_t)>& feed);

}  // namespace tagvert::cli
