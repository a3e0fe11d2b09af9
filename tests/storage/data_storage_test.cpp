// Tagvert: tests of the data storage: reading in chunks, push-back, buffers, flushing, progress,
// the IF start rule, capture and opening.
// SPDX-License-Identifier: Apache-2.0
#include "storage/data_storage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "storage/memory_stream.h"
#include "storage/storage_test_util.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::AsciiPattern;
using test::CChunkedStream;
using test::CSinkStream;
using test::CStorageOverBytes;
using test::Latin1Units;
using test::Printable;
using test::Utf16LeUnits;
using test::Utf8Bytes;

constexpr std::uint32_t kFourMiB = 0x400000;

// A storage that records what the virtual operations see, as the converter's overrides would.
class CRecordingStorage : public CDataStorage {
 public:
  using CDataStorage::CDataStorage;
  void PutChar(char16_t ch) override {
    seen.push_back(ch);
    CDataStorage::PutChar(ch);
  }
  [[noreturn]] void Fail(std::int32_t code) override {
    failCodes.push_back(code);
    CDataStorage::Fail(code);
  }
  std::u16string seen;
  std::vector<std::int32_t> failCodes;
};

// ---- Reading through streams that deliver k bytes per read ----

class CDataStorageChunkTest : public ::testing::TestWithParam<std::uint32_t> {};

INSTANTIATE_TEST_SUITE_P(ChunkSizes, CDataStorageChunkTest, ::testing::ValuesIn(test::kChunkSizes));

TEST_P(CDataStorageChunkTest, DeliversEveryByteOfInputsAroundOneBuffer) {
  for (std::size_t size : {1023u, 1024u, 1025u, 5000u}) {
    SCOPED_TRACE(size);
    const auto bytes = AsciiPattern(size);
    CStorageOverBytes s(bytes, GetParam());
    std::u16string units;
    char16_t ch = 0;
    for (std::size_t i = 0; i < size; ++i) {
      ASSERT_TRUE(s.storage.GetChar(ch)) << "unit " << i;
      units.push_back(ch);
    }
    EXPECT_EQ(units, Latin1Units(bytes));
    EXPECT_FALSE(s.storage.IsEOF());
    EXPECT_FALSE(s.storage.GetChar(ch));
    EXPECT_TRUE(s.storage.IsEOF());
    EXPECT_EQ(s.storage.GetCharCount(), static_cast<std::int32_t>(size));
    EXPECT_EQ(s.storage.GetProgress(), 100);
  }
}

TEST_P(CDataStorageChunkTest, Utf8SequencesSplitAcrossRefills) {
  // A two- and a three-byte sequence placed at every offset around the first buffer boundaries.
  for (std::size_t prefix = 1018; prefix <= 1026; ++prefix) {
    SCOPED_TRACE(prefix);
    std::u16string text(prefix, u'a');
    text += u"\u20AC\u00E9\u4E2D";
    text += std::u16string(3000 - prefix, u'b');
    text += u"\u20AC";
    CStorageOverBytes s(Utf8Bytes(text), GetParam());
    const std::u16string read = s.ReadAll();
    ASSERT_EQ(read, text) << Printable(read.substr(prefix, 4));
  }
}

TEST_P(CDataStorageChunkTest, Utf16UnitsSplitAcrossRefills) {
  for (std::size_t count : {511u, 512u, 513u, 1600u}) {
    SCOPED_TRACE(count);
    std::u16string text;
    for (std::size_t i = 0; i < count; ++i)
      text.push_back(static_cast<char16_t>(0x0400 + i));
    CStorageOverBytes le(test::Utf16LeBytes(text, true), GetParam(), kModeSingle);
    ASSERT_TRUE(le.storage.DetectBOM());
    EXPECT_EQ(le.ReadAll(), text);

    std::vector<std::uint8_t> be = {0xFE, 0xFF};
    for (char16_t c : text) {
      be.push_back(static_cast<std::uint8_t>(c >> 8));
      be.push_back(static_cast<std::uint8_t>(c & 0xFF));
    }
    CStorageOverBytes big(be, GetParam(), kModeSingle);
    ASSERT_TRUE(big.storage.DetectBOM());
    EXPECT_EQ(big.ReadAll(), text);
  }
}

TEST_P(CDataStorageChunkTest, IncompleteTrailingCharacterIsDroppedAtTheEnd) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::int16_t mode;
    std::u16string expected;
  };
  std::vector<std::uint8_t> oddUtf16 = test::Utf16LeBytes(std::u16string(600, u'x'));
  oddUtf16.push_back(0x41);
  std::vector<std::uint8_t> cutUtf8 = AsciiPattern(1023);
  cutUtf8.push_back(0xE2);
  cutUtf8.push_back(0x82);
  const Case cases[] = {
      {"odd final byte of UTF-16", oddUtf16, kModeUtf16, std::u16string(600, u'x')},
      {"cut-off three-byte sequence", cutUtf8, kModeUtf8, Latin1Units(AsciiPattern(1023))},
      {"lone two-byte lead", {0x41, 0xC3}, kModeUtf8, u"A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CStorageOverBytes s(c.bytes, GetParam(), c.mode);
    EXPECT_EQ(s.ReadAll(), c.expected);
    EXPECT_TRUE(s.storage.IsEOF());
    char16_t ch = 0;
    EXPECT_FALSE(s.storage.GetChar(ch));
    EXPECT_EQ(s.storage.GetProgress(), 100);
  }
}

TEST_P(CDataStorageChunkTest, PushBackSurvivesRefill) {
  const auto bytes = AsciiPattern(2100);
  CStorageOverBytes s(bytes, GetParam());
  char16_t ch = 0;
  for (std::size_t i = 0; i < 1024; ++i)
    ASSERT_TRUE(s.storage.GetChar(ch));
  ASSERT_EQ(ch, bytes[1023]);
  s.storage.UngetChar();
  ASSERT_TRUE(s.storage.GetChar(ch));
  EXPECT_EQ(ch, bytes[1023]);
  ASSERT_TRUE(s.storage.GetChar(ch));
  EXPECT_EQ(ch, bytes[1024]);
  EXPECT_EQ(s.storage.GetCharCount(), 1025);
}

TEST_P(CDataStorageChunkTest, DetectsMarksWithoutLosingShortInputs) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    bool detected;
    std::int16_t mode;
    std::u16string units;
  };
  const Case cases[] = {
      {{0xFF, 0xFE, 0x41, 0x00}, true, kModeUtf16, u"A"},
      {{0xFE, 0xFF, 0x00, 0x41}, true, kModeUtf16, u"A"},
      {{0xEF, 0xBB, 0xBF, 0xC3, 0xA9}, true, kModeUtf8, u"\u00E9"},
      {{0x3C, 0x61, 0x3E}, false, kModeSingle, u"<a>"},
      {{0x41}, false, kModeSingle, u"A"},
      {{0xEF, 0xBB}, false, kModeSingle, u"\u00EF\u00BB"},
      {{0xFF, 0xFE}, true, kModeUtf16, u""},
      {{}, false, kModeSingle, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    CStorageOverBytes s(c.bytes, GetParam(), kModeSingle);
    EXPECT_EQ(s.storage.DetectBOM(), c.detected);
    EXPECT_EQ(s.storage.GetInputMode(), c.mode);
    if (!c.detected) {
      EXPECT_EQ(s.storage.GetInputConsumed(), 0u);
    }
    EXPECT_EQ(s.ReadAll(), c.units);
    EXPECT_TRUE(s.storage.IsEOF());
  }
}

TEST_P(CDataStorageChunkTest, ReadErrorOfTheStreamIsRaisedAsItCame) {
  const HResult readFault = MakeHResult(0x8003001E);
  auto source = std::make_shared<CChunkedStream>(AsciiPattern(3000), GetParam());
  source->FailAfter(1500, readFault);
  CDataStorage storage(kModeUtf8, kModeNone);
  storage.Open(CEndpoint::Stream(source), CEndpoint());
  char16_t ch = 0;
  std::size_t delivered = 0;
  try {
    while (storage.GetChar(ch))
      ++delivered;
    FAIL() << "the read failure was not raised";
  } catch (const CHResultError& e) {
    EXPECT_EQ(e.Code(), readFault);
  }
  EXPECT_EQ(delivered, 1500u);
}

// ---- Counters, push-back and the end of the input ----

TEST(CDataStorageTest, EmptyInputEndsAtTheFirstRead) {
  CStorageOverBytes s({}, 1024);
  char16_t ch = 0;
  EXPECT_FALSE(s.storage.IsEOF());
  EXPECT_FALSE(s.storage.GetChar(ch));
  EXPECT_TRUE(s.storage.IsEOF());
  EXPECT_EQ(s.storage.GetCharCount(), 0);
}

TEST(CDataStorageTest, CountAfterGetUngetGetIsOne) {
  CStorageOverBytes s(test::Bytes("xy"), 1024);
  char16_t ch = 0;
  ASSERT_TRUE(s.storage.GetChar(ch));
  s.storage.UngetChar();
  EXPECT_EQ(s.storage.GetCharCount(), 0);
  ASSERT_TRUE(s.storage.GetChar(ch));
  EXPECT_EQ(ch, u'x');
  EXPECT_EQ(s.storage.GetCharCount(), 1);
}

TEST(CDataStorageTest, PushedBackUnitIsDeliveredAfterTheEnd) {
  CStorageOverBytes s(test::Bytes("q"), 1024);
  char16_t ch = 0;
  ASSERT_TRUE(s.storage.GetChar(ch));
  ASSERT_FALSE(s.storage.GetChar(ch));
  ASSERT_TRUE(s.storage.IsEOF());
  s.storage.UngetChar();
  ASSERT_TRUE(s.storage.GetChar(ch));
  EXPECT_EQ(ch, u'q');
  EXPECT_FALSE(s.storage.GetChar(ch));
}

// ---- Buffer capacities ----

TEST(CDataStorageTest, InputBuffersDoubleUpToFourMiBAndNoFurther) {
  const std::size_t size = 9u * 1024 * 1024;
  CStorageOverBytes s(std::vector<std::uint8_t>(size, 'z'), 0xFFFFFFFF, kModeSingle, kModeNone);
  EXPECT_EQ(s.storage.GetInputCapacity(), 1024u);
  char16_t ch = 0;
  std::size_t count = 0;
  while (s.storage.GetChar(ch))
    ++count;
  EXPECT_EQ(count, size);
  EXPECT_EQ(s.storage.GetInputCapacity(), kFourMiB);
  // 1 KiB + 2 KiB + ... + 4 MiB is 8 MiB - 1 KiB: the rest is read in 4 MiB blocks.
  std::vector<std::uint32_t> expected;
  for (std::uint32_t c = 1024; c <= kFourMiB; c *= 2)
    expected.push_back(c);
  expected.push_back(kFourMiB);  // the last 1 MiB + 1 KiB
  expected.push_back(kFourMiB);  // the read that finds the end
  EXPECT_EQ(s.source->RequestedSizes(), expected);
}

TEST(CDataStorageTest, OutputBuffersDoubleUpToFourMiBAndNoFurther) {
  auto sink = std::make_shared<CSinkStream>();
  CDataStorage storage(kModeNone, kModeSingle);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  const std::size_t size = 9u * 1024 * 1024;
  for (std::size_t i = 0; i < size; ++i)
    storage.PutChar(u'w');
  storage.Flush();
  std::vector<std::uint32_t> expected;
  for (std::uint32_t c = 1024; c <= kFourMiB; c *= 2)
    expected.push_back(c);
  expected.push_back(static_cast<std::uint32_t>(size - (2 * kFourMiB - 1024)));
  EXPECT_EQ(sink->WriteSizes(), expected);
  EXPECT_EQ(storage.GetOutputCapacity(), kFourMiB);
  EXPECT_EQ(sink->Bytes().size(), size);
}

TEST(CDataStorageTest, WritingThreeThousandBytesFlushesInOrder) {
  auto sink = std::make_shared<CSinkStream>();
  CDataStorage storage(kModeNone, kModeSingle);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  std::vector<std::uint8_t> written;
  for (int i = 0; i < 3000; ++i) {
    const auto byte = static_cast<std::uint8_t>((i * 7) % 251);
    storage.PutChar(byte);
    written.push_back(byte);
  }
  EXPECT_EQ(sink->WriteSizes(), (std::vector<std::uint32_t>{1024}));
  EXPECT_EQ(storage.GetOutputCapacity(), 2048u);
  storage.Flush();
  EXPECT_EQ(sink->WriteSizes(), (std::vector<std::uint32_t>{1024, 1976}));
  EXPECT_EQ(sink->Bytes(), written);
  storage.Flush();  // nothing pending: no write
  EXPECT_EQ(sink->WriteSizes().size(), 2u);
}

TEST(CDataStorageTest, Utf8OutputKeepsRoomForThreeBytes) {
  auto sink = std::make_shared<CSinkStream>();
  CDataStorage storage(kModeNone, kModeUtf8);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  std::u16string text(1022, u'a');
  text += u"\u20AC";
  storage.PutString(text);
  storage.Flush();
  EXPECT_EQ(sink->WriteSizes(), (std::vector<std::uint32_t>{1022, 3}));
  EXPECT_EQ(sink->Bytes(), Utf8Bytes(text));
}

TEST(CDataStorageTest, ShortWriteFailsWithStateCode) {
  auto sink = std::make_shared<CSinkStream>(100);
  CRecordingStorage storage(kModeNone, kModeSingle);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  storage.PutString(std::u16string(500, u'k'));
  try {
    storage.Flush();
    FAIL() << "a short write was accepted";
  } catch (const CHResultError& e) {
    EXPECT_EQ(e.Code(), kEFail);
  }
  EXPECT_EQ(storage.failCodes, (std::vector<std::int32_t>{kStateShortWrite}));
}

TEST(CDataStorageTest, ShortWriteDuringPutCharFails) {
  auto sink = std::make_shared<CSinkStream>(1000);
  CDataStorage storage(kModeNone, kModeUtf16);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  for (int i = 0; i < 512; ++i)
    storage.PutChar(u'k');
  try {
    storage.PutChar(u'k');
    FAIL() << "the flush before the 513th unit did not fail";
  } catch (const CHResultError& e) {
    EXPECT_EQ(e.Code(), kEFail);
  }
}

// ---- Progress ----

TEST(CDataStorageTest, ProgressCountsFromTheAbsolutePosition) {
  auto source = std::make_shared<CChunkedStream>(AsciiPattern(1000), 100, 500);
  CDataStorage storage(kModeUtf8, kModeNone);
  storage.Open(CEndpoint::Stream(source), CEndpoint());
  EXPECT_EQ(storage.GetProgress(), 50);
  char16_t ch = 0;
  for (int i = 0; i < 249; ++i)
    ASSERT_TRUE(storage.GetChar(ch));
  EXPECT_EQ(storage.GetProgress(), 74);  // 749 of 1000, truncated
  ASSERT_TRUE(storage.GetChar(ch));
  EXPECT_EQ(storage.GetProgress(), 75);
  while (storage.GetChar(ch)) {
  }
  EXPECT_EQ(storage.GetProgress(), 100);
}

TEST(CDataStorageTest, ProgressIsHundredWithoutASize) {
  auto empty = std::make_shared<CChunkedStream>(std::vector<std::uint8_t>{}, 1);
  auto hidden = std::make_shared<CChunkedStream>(AsciiPattern(10), 1);
  hidden->HideSize();
  for (const auto& source : {empty, hidden}) {
    CDataStorage storage(kModeUtf8, kModeNone);
    storage.Open(CEndpoint::Stream(source), CEndpoint());
    EXPECT_EQ(storage.GetInputSize(), 0u);
    EXPECT_EQ(storage.GetProgress(), 100);
  }
}

// ---- The IF start rule ----

TEST(CDataStorageTest, IfStartRuleAddsE000BeforeOtherUnits) {
  struct Case {
    char16_t first;
    std::u16string written;
  };
  const Case cases[] = {
      {u'\uE804', u"\uE804"},       {u'A', u"\uE000A"},           {u'\uE400', u"\uE000\uE400"},
      {u'\uE3FF', u"\uE3FF"},       {u'\uE000', u"\uE000"},       {u'\uE7FF', u"\uE000\uE7FF"},
      {u'\uE800', u"\uE800"},       {u'\uEBFF', u"\uEBFF"},       {u'\uEC00', u"\uE000\uEC00"},
      {u'\uF000', u"\uE000\uF000"}, {u'\uD7FF', u"\uE000\uD7FF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.first));
    auto sink = std::make_shared<CSinkStream>();
    CRecordingStorage storage(kModeNone, kModeUtf16);
    storage.Open(CEndpoint(), CEndpoint::Stream(sink));
    storage.MarkOutputStart();
    storage.PutChar(c.first);
    storage.PutChar(u'z');  // the rule applies to the first unit only
    storage.Flush();
    EXPECT_EQ(Utf16LeUnits(sink->Bytes()), c.written + u"z");
    // The added unit went through PutChar too (the override sees it after the unit it precedes).
    std::u16string seen = storage.seen;
    std::u16string written = c.written + u"z";
    std::sort(seen.begin(), seen.end());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(seen, written);
  }
}

TEST(CDataStorageTest, IfStartRuleWaitsForUtf16Output) {
  auto sink = std::make_shared<CSinkStream>();
  CDataStorage storage(kModeNone, kModeUtf8);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  storage.MarkOutputStart();
  storage.PutChar(u'a');
  storage.SetOutputMode(kModeUtf16);
  storage.PutChar(u'b');
  storage.PutChar(u'c');
  storage.Flush();
  EXPECT_EQ(sink->Bytes(), (std::vector<std::uint8_t>{'a', 0x00, 0xE0, 'b', 0, 'c', 0}));
}

TEST(CDataStorageTest, OpenDisarmsTheStartRule) {
  auto sink = std::make_shared<CSinkStream>();
  CDataStorage storage(kModeNone, kModeUtf16);
  storage.MarkOutputStart();
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  storage.PutChar(u'a');
  storage.Flush();
  EXPECT_EQ(Utf16LeUnits(sink->Bytes()), u"a");
}

// ---- Capture ----

TEST(CDataStorageTest, CaptureHoldsUnitsUntilFlushed) {
  auto sink = std::make_shared<CSinkStream>();
  CRecordingStorage storage(kModeNone, kModeUtf8);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  storage.PutChar(u'<');
  storage.SetCapture(true);
  storage.PutString(u"ab\u00E9cd");
  storage.Flush();
  EXPECT_EQ(sink->Bytes(), test::Bytes("<"));
  EXPECT_EQ(storage.GetCaptureLength(), 5u);
  storage.EraseCaptured(1);   // "b"
  storage.EraseCaptured(99);  // out of range: nothing
  EXPECT_EQ(storage.GetCaptureLength(), 4u);
  storage.seen.clear();
  storage.FlushCapture();
  EXPECT_EQ(storage.seen, u"a\u00E9cd");
  EXPECT_EQ(storage.GetCaptureLength(), 0u);
  storage.PutChar(u'x');  // capture is on again
  storage.Flush();
  EXPECT_EQ(sink->Bytes(), Utf8Bytes(u"<a\u00E9cd"));
  EXPECT_EQ(storage.GetCaptureLength(), 1u);
  storage.SetCapture(false);
  EXPECT_EQ(storage.GetCaptureLength(), 0u);
  storage.FlushCapture();  // capture off: nothing happens
  storage.Flush();
  EXPECT_EQ(sink->Bytes(), Utf8Bytes(u"<a\u00E9cd"));
}

TEST(CDataStorageTest, PutStringWritesEmbeddedZeros) {
  auto sink = std::make_shared<CSinkStream>();
  CRecordingStorage storage(kModeNone, kModeUtf16);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  storage.PutString(std::u16string(u"a\0b", 3));
  storage.PutString(u"cd\0e");
  storage.Flush();
  EXPECT_EQ(Utf16LeUnits(sink->Bytes()), std::u16string(u"a\0bcd", 5));
  EXPECT_EQ(storage.seen, std::u16string(u"a\0bcd", 5));
}

// ---- Byte-order marks on output ----

TEST(CDataStorageTest, PutBomGoesStraightIntoTheBuffer) {
  struct Case {
    std::int16_t mode;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {kModeUtf16, {0xFF, 0xFE, 'a', 0}},
      {kModeUtf8, {0xEF, 0xBB, 0xBF, 'a'}},
      {kModeSingle, {'a'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    auto sink = std::make_shared<CSinkStream>();
    CRecordingStorage storage(kModeNone, c.mode);
    storage.Open(CEndpoint(), CEndpoint::Stream(sink));
    storage.SetCapture(true);
    storage.PutBOM();
    storage.SetCapture(false);
    storage.PutChar(u'a');
    storage.Flush();
    EXPECT_EQ(sink->Bytes(), c.bytes);
    EXPECT_EQ(storage.seen, u"a");
  }
}

TEST(CDataStorageTest, PutBomLeavesTheStartRuleArmed) {
  auto sink = std::make_shared<CSinkStream>();
  CDataStorage storage(kModeNone, kModeUtf16);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  storage.MarkOutputStart();
  storage.PutBOM();
  storage.PutChar(u'a');
  storage.Flush();
  EXPECT_EQ(sink->Bytes(), (std::vector<std::uint8_t>{0xFF, 0xFE, 0x00, 0xE0, 'a', 0}));
}

TEST(CDataStorageTest, PutBomFlushesWhenFewerThanThreeBytesAreFree) {
  auto sink = std::make_shared<CSinkStream>();
  CDataStorage storage(kModeNone, kModeSingle);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  storage.PutString(std::u16string(1022, u'p'));
  storage.SetOutputMode(kModeUtf8);
  storage.PutBOM();
  storage.Flush();
  EXPECT_EQ(sink->WriteSizes(), (std::vector<std::uint32_t>{1022, 3}));
}

// ---- Opening sources and targets ----

TEST(CDataStorageTest, OpenRefusesWhatIsNeitherFileNorStream) {
  const auto source = std::make_shared<CChunkedStream>(AsciiPattern(10), 10);
  const auto sink = std::make_shared<CSinkStream>();
  struct Case {
    const char* name;
    CEndpoint input;
    CEndpoint output;
  };
  const Case cases[] = {
      {"number as input", CEndpoint::Other(), CEndpoint::Stream(sink)},
      {"empty input", CEndpoint(), CEndpoint::Stream(sink)},
      {"object without a stream", CEndpoint::Stream(nullptr), CEndpoint::Stream(sink)},
      {"missing file", CEndpoint::File(u"/nonexistent/tagvert/in.ttx"), CEndpoint::Stream(sink)},
      {"folder as input", CEndpoint::File(u"/"), CEndpoint::Stream(sink)},
      {"number as output", CEndpoint::Stream(source), CEndpoint::Other()},
      {"null output stream", CEndpoint::Stream(source), CEndpoint::Stream(nullptr)},
      {"uncreatable file", CEndpoint::Stream(source), CEndpoint::File(u"/nonexistent/x/out.if")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDataStorage storage(kModeUtf8, kModeUtf16);
    try {
      storage.Open(c.input, c.output);
      ADD_FAILURE() << "accepted";
    } catch (const CHResultError& e) {
      EXPECT_EQ(e.Code(), kEInvalidArg);
    }
  }
}

TEST(CDataStorageTest, SideWithModeNoneIgnoresItsValue) {
  const auto sink = std::make_shared<CSinkStream>();
  CDataStorage storage(kModeNone, kModeUtf8);
  storage.Open(CEndpoint::Other(), CEndpoint::Stream(sink));
  EXPECT_FALSE(storage.HasInput());
  char16_t ch = 0;
  EXPECT_FALSE(storage.GetChar(ch));
  storage.PutChar(u'o');
  storage.Flush();
  EXPECT_EQ(sink->Bytes(), test::Bytes("o"));

  CDataStorage reader(kModeUtf8, kModeNone);
  reader.Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(test::Bytes("in"))),
              CEndpoint::Other());
  EXPECT_TRUE(reader.HasInput());
  reader.PutChar(u'x');  // mode 0 writes nothing
  reader.Flush();
}

TEST(CDataStorageTest, MissingStreamsRaisePointerErrors) {
  CDataStorage storage(kModeUtf8, kModeUtf8);
  char16_t ch = 0;
  for (int step = 0; step < 2; ++step) {
    SCOPED_TRACE(step == 0 ? "before Open" : "after Close");
    try {
      storage.GetChar(ch);
      ADD_FAILURE() << "read without a source";
    } catch (const CHResultError& e) {
      EXPECT_EQ(e.Code(), kEPointer);
    }
    try {
      storage.PutChar(u'a');
      ADD_FAILURE() << "write without a target";
    } catch (const CHResultError& e) {
      EXPECT_EQ(e.Code(), kEPointer);
    }
    storage.Open(CEndpoint::Stream(std::make_shared<CMemoryStream>()),
                 CEndpoint::Stream(std::make_shared<CSinkStream>()));
    storage.Close();
  }
}

TEST(CDataStorageTest, OpenResetsPerConversionState) {
  auto first = std::make_shared<CMemoryStream>(test::Bytes("abc"));
  CDataStorage storage(kModeSingle, kModeUtf16);
  storage.Open(CEndpoint::Stream(first), CEndpoint::Stream(std::make_shared<CSinkStream>()));
  storage.SetInputMode(kModeSingle, 2);
  storage.SetOutputMode(kModeSingle, 1);
  char16_t ch = 0;
  while (storage.GetChar(ch)) {
  }
  ASSERT_TRUE(storage.IsEOF());
  storage.Close();

  auto second = std::make_shared<CMemoryStream>(std::vector<std::uint8_t>{0xC1, 'z'});
  storage.Open(CEndpoint::Stream(second), CEndpoint::Stream(std::make_shared<CSinkStream>()));
  EXPECT_EQ(storage.GetInputCodePage(), 0);
  EXPECT_EQ(storage.GetOutputCodePage(), 0);
  EXPECT_FALSE(storage.IsEOF());
  EXPECT_EQ(storage.GetCharCount(), 0);
  ASSERT_TRUE(storage.GetChar(ch));
  EXPECT_EQ(ch, u'\u00C1');  // index 0 again, not KOI8-R
}

TEST(CDataStorageTest, FilesAreReadAndWrittenByName) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("tagvert_storage_" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir);
  const auto inPath = dir / "in \u00E9.ttx";
  const auto outPath = dir / "out.if";
  const std::u16string text = u"\u00E9t\u00E9 \u20AC";
  {
    std::ofstream in(inPath, std::ios::binary);
    const auto bytes = Utf8Bytes(text, true);
    in.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  }
  std::ofstream(outPath) << "old content that must disappear";
  {
    CDataStorage storage(kModeSingle, kModeUtf16);
    storage.Open(CEndpoint::File(inPath.u16string()), CEndpoint::File(outPath.u16string()));
    EXPECT_EQ(storage.GetInputSize(), Utf8Bytes(text, true).size());
    ASSERT_TRUE(storage.DetectBOM());
    char16_t ch = 0;
    while (storage.GetChar(ch))
      storage.PutChar(ch);
    EXPECT_EQ(storage.GetProgress(), 100);
    storage.Flush();
    storage.Close();
  }
  EXPECT_EQ(Utf16LeUnits(test::ReadFileBytes(outPath.string())), text);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tagvert
