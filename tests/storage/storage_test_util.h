// Tagvert: helpers of the storage tests: storages over bytes and into a sink, a decoding check.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/char_class.h"
#include "storage/data_storage.h"
#include "support/test_streams.h"

namespace tagvert::test {

/// The chunk sizes every storage read is repeated with: tiny, odd, and around one buffer.
inline const std::uint32_t kChunkSizes[] = {1, 2, 3, 7, 1023, 1024, 1025};

/// Input mode of a CDecodeCase that starts in single-byte mode and calls DetectBOM first.
inline constexpr auto kModeDetect = static_cast<EncodingMode>(-1);

/// Bytes, and the units a storage reading them in `mode` and `codePage` delivers, and the
/// bytes it drops at the end.
struct CDecodeCase {
  std::string name;
  EncodingMode mode;
  std::int16_t codePage;
  std::vector<std::uint8_t> bytes;
  std::u16string units;
  std::uint32_t dropped = 0;
};

/// A storage reading `bytes` in input `mode` (and code page), at most `chunk` bytes per read.
struct CStorageOverBytes {
  CStorageOverBytes(std::vector<std::uint8_t> bytes, std::uint32_t chunk,
                    EncodingMode mode = EncodingMode::Utf8, std::int16_t codePage = 0)
      : source(std::make_shared<CChunkedStream>(std::move(bytes), chunk)),
        storage(mode, EncodingMode::None) {
    storage.Open(CEndpoint::Stream(source), CEndpoint());
    storage.SetInputMode(mode, codePage);
  }
  std::shared_ptr<CChunkedStream> source;
  CDataStorage storage;
};

/// Reads `c.bytes` at most `chunk` bytes per read and checks the units, the count, that the
/// end is reported only by the GetChar after the last unit, the final progress and the bytes
/// dropped. UTF-8 cases are also decoded by Utf8ToUtf16, which must agree.
inline void ExpectDecodes(const CDecodeCase& c, std::uint32_t chunk) {
  SCOPED_TRACE(c.name);
  const bool detect = c.mode == kModeDetect;
  CStorageOverBytes s(c.bytes, chunk, detect ? EncodingMode::Single : c.mode, c.codePage);
  if (detect) {
    const bool detected = s.storage.DetectBOM();
    EXPECT_EQ(detected, s.storage.GetInputMode() != EncodingMode::Single);
  }
  std::u16string units;
  char16_t ch = 0;
  while (units.size() < c.units.size() && s.storage.GetChar(ch))
    units.push_back(ch);
  EXPECT_EQ(Printable(units), Printable(c.units));
  EXPECT_FALSE(s.storage.IsEOF());
  EXPECT_FALSE(s.storage.GetChar(ch));
  EXPECT_TRUE(s.storage.IsEOF());
  EXPECT_EQ(s.storage.GetCharCount(), static_cast<std::int32_t>(c.units.size()));
  EXPECT_EQ(s.storage.GetProgress(), 100);
  EXPECT_EQ(s.storage.GetDroppedInputBytes(), c.dropped);
  if (c.mode == EncodingMode::Utf8) {
    const std::string bytes(c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(Printable(Utf8ToUtf16(bytes)), Printable(c.units));
  }
}

/// A storage of type `TStorage` writing in output `mode` (and code page) into a sink that
/// accepts at most `limit` bytes.
template <class TStorage = CDataStorage>
struct CStorageToSink {
  explicit CStorageToSink(EncodingMode mode, std::int16_t codePage = 0,
                          std::uint64_t limit = UINT64_MAX)
      : sink(std::make_shared<CSinkStream>(limit)), storage(EncodingMode::None, mode) {
    storage.Open(CEndpoint(), CEndpoint::Stream(sink));
    storage.SetOutputMode(mode, codePage);
  }
  /// Writes `units`, flushes, and returns everything the sink holds.
  std::vector<std::uint8_t> Write(const std::u16string& units) {
    storage.PutString(units);
    storage.Flush();
    return sink->Bytes();
  }
  std::shared_ptr<CSinkStream> sink;
  TStorage storage;
};

}  // namespace tagvert::test
