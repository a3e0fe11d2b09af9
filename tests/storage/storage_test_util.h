// Tagvert: helpers of the storage tests: a storage over bytes, reading everything, a target.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/data_storage.h"
#include "support/test_streams.h"

namespace tagvert::test {

/// The chunk sizes every storage read is repeated with: tiny, odd, and around one buffer.
inline const std::uint32_t kChunkSizes[] = {1, 2, 3, 7, 1023, 1024, 1025};

/// A storage opened on `bytes` read through a CChunkedStream of `chunk`, writing into a sink.
struct CStorageOverBytes {
  CStorageOverBytes(std::vector<std::uint8_t> bytes, std::uint32_t chunk,
                    std::int16_t inputMode = kModeUtf8, std::int16_t outputMode = kModeUtf16)
      : source(std::make_shared<CChunkedStream>(std::move(bytes), chunk)),
        sink(std::make_shared<CSinkStream>()),
        storage(inputMode, outputMode) {
    storage.Open(CEndpoint::Stream(source), CEndpoint::Stream(sink));
  }

  /// Every unit GetChar delivers until it returns false.
  std::u16string ReadAll() {
    std::u16string units;
    char16_t ch = 0;
    while (storage.GetChar(ch))
      units.push_back(ch);
    return units;
  }

  std::shared_ptr<CChunkedStream> source;
  std::shared_ptr<CSinkStream> sink;
  CDataStorage storage;
};

/// `count` ASCII bytes of a repeating pattern, so that a shifted or repeated block is seen.
inline std::vector<std::uint8_t> AsciiPattern(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<std::uint8_t>('!' + i % 90);
  return bytes;
}

/// The units of a byte vector taken one byte per unit.
inline std::u16string Latin1Units(const std::vector<std::uint8_t>& bytes) {
  return std::u16string(bytes.begin(), bytes.end());
}

}  // namespace tagvert::test
