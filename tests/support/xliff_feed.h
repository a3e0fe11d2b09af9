// Tagvert tests: feeding an IF to the XLIFF writer in pieces, copied or read where they lie.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "xliff/xliff_bridge.h"

namespace tagvert::test {

/// Feeds `units` to `writer` in pieces of `piece` units (the first of `first` units when given),
/// each read where it lies with `room` units before it, or copied when `room` is 0.
inline void FeedInPieces(xliff::CXliffWriter& writer, std::u16string_view units, std::size_t piece,
                         std::size_t room, std::size_t first = 0) {
  std::u16string buffer;
  for (std::size_t at = 0; at < units.size();) {
    const std::u16string_view part = units.substr(at, at == 0 && first != 0 ? first : piece);
    at += part.size();
    if (room == 0) {
      writer.Feed(part);
      continue;
    }
    buffer.assign(room, u'\0');
    buffer += part;
    writer.FeedInPlace(buffer.data() + room, part.size(), room);
  }
}

/// Ends the IF fed to `writer` and gives the XLIFF it writes with `header`.
inline std::string EndAndWrite(xliff::CXliffWriter& writer, const xliff::CXliffHeader& header) {
  std::u16string source, target;
  writer.End(source, target);
  std::string out;
  writer.Write(header, [&out](std::string_view text) { out += text; });
  return out;
}

}  // namespace tagvert::test
