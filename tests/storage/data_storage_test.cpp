// Tagvert: tests of the data storage: buffer boundaries, push-back, buffers, flushing, progress,
// the IF start rule, capture and opening.
// SPDX-License-Identifier: Apache-2.0
#include "storage/data_storage.h"

#include <gtest/gtest.h>

#include "storage/storage_test_util.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::CChunkedStream;
using test::CSinkStream;
using test::CStorageOverBytes;
using test::CStorageToSink;
using test::Utf16LeBytes;
using test::Utf8Bytes;

constexpr std::uint32_t kFourMiB = 0x400000;

// Records what the virtual operations see, as the converter's overrides would.
class CRecordingStorage : public CDataStorage {
 public:
  using CDataStorage::CDataStorage;
  void PutChar(char16_t ch) override {
    CDataStorage::PutChar(ch);
    seen.push_back(ch);
  }
  [[noreturn]] void Fail(std::int32_t code) override {
    failCodes.push_back(code);
    CDataStorage::Fail(code);
  }
  std::u16string seen;
  std::vector<std::int32_t> failCodes;
};

// `count` ASCII units of a repeating pattern, so that a shifted or repeated block is seen.
std::u16string Pattern(std::size_t count) {
  std::u16string units(count, u'!');
  for (std::size_t i = 0; i < count; ++i)
    units[i] = static_cast<char16_t>('!' + i % 90);
  return units;
}

class CDataStorageChunkTest : public ::testing::TestWithParam<std::uint32_t> {};

INSTANTIATE_TEST_SUITE_P(ChunkSizes, CDataStorageChunkTest, ::testing::ValuesIn(test::kChunkSizes));

TEST_P(CDataStorageChunkTest, DeliversInputsAroundOneBuffer) {
  std::vector<test::CDecodeCase> cases;
  for (std::size_t size : {1023u, 1024u, 1025u})
    cases.push_back(
        {"ASCII " + std::to_string(size), kModeUtf8, 0, Utf8Bytes(Pattern(size)), Pattern(size)});
  for (std::size_t prefix = 1021; prefix <= 1024; ++prefix) {
    const std::u16string text = Pattern(prefix) + u"\u20AC\u00E9\u4E2Db";
    cases.push_back(
        {"UTF-8 split at " + std::to_string(prefix), kModeUtf8, 0, Utf8Bytes(text), text});
  }
  std::u16string cyrillic = Pattern(513);
  for (char16_t& u : cyrillic)
    u += 0x0400;
  auto oddUtf16 = Utf16LeBytes(cyrillic);
  oddUtf16.push_back(0x41);
  cases.push_back({"UTF-16, odd final byte", kModeUtf16, 0, oddUtf16, cyrillic});
  auto cutUtf8 = Utf8Bytes(Pattern(1023));
  cutUtf8.insert(cutUtf8.end(), {0xE2, 0x82});
  cases.push_back({"UTF-8, cut final sequence", kModeUtf8, 0, cutUtf8, Pattern(1023)});
  cases.push_back({"empty", kModeUtf8, 0, {}, u""});
  for (const auto& c : cases)
    test::ExpectDecodes(c, GetParam());
}

TEST_P(CDataStorageChunkTest, PushBackSurvivesRefillAndEnd) {
  const std::u16string units = Pattern(1025);
  CStorageOverBytes s(Utf8Bytes(units), GetParam());
  char16_t ch = 0;
  for (int i = 0; i < 1024; ++i)
    ASSERT_TRUE(s.storage.GetChar(ch));
  s.storage.UngetChar();
  EXPECT_EQ(s.storage.GetCharCount(), 1023);
  ASSERT_TRUE(s.storage.GetChar(ch));
  EXPECT_EQ(ch, units[1023]);
  ASSERT_TRUE(s.storage.GetChar(ch));
  ASSERT_FALSE(s.storage.GetChar(ch));
  s.storage.UngetChar();
  ASSERT_TRUE(s.storage.GetChar(ch));
  EXPECT_EQ(ch, units[1024]);
  EXPECT_EQ(s.storage.GetCharCount(), 1025);
  EXPECT_FALSE(s.storage.GetChar(ch));
}

TEST_P(CDataStorageChunkTest, ReadErrorIsRaisedAsItCame) {
  const HResult readFault = MakeHResult(0x8003001E);
  CStorageOverBytes s(Utf8Bytes(Pattern(3000)), GetParam());
  s.source->FailAfter(1500, readFault);
  std::size_t delivered = 0;
  const auto readAll = [&] {
    for (char16_t ch = 0; s.storage.GetChar(ch);)
      ++delivered;
  };
  EXPECT_EQ(test::ThrownCode(readAll), readFault);
  EXPECT_EQ(delivered, 1500u);
}

TEST(CDataStorageTest, BuffersDoubleUpToFourMiBAndNoFurther) {
  const std::size_t size = 9u * 1024 * 1024;
  CStorageOverBytes in(std::vector<std::uint8_t>(size, 'z'), 0xFFFFFFFF, kModeSingle);
  CStorageToSink out(kModeSingle);
  for (char16_t ch = 0; in.storage.GetChar(ch);)
    out.storage.PutChar(ch);
  out.storage.Flush();
  EXPECT_EQ(out.sink->Bytes().size(), size);
  std::vector<std::uint32_t> doubling;
  for (std::uint32_t c = 1024; c <= kFourMiB; c *= 2)
    doubling.push_back(c);
  // 1 KiB + ... + 4 MiB is 8 MiB - 1 KiB: one more 4 MiB read, and the read that finds the end.
  auto reads = doubling;
  reads.insert(reads.end(), {kFourMiB, kFourMiB});
  EXPECT_EQ(in.source->RequestedSizes(), reads);
  doubling.push_back(static_cast<std::uint32_t>(size - (2 * kFourMiB - 1024)));
  EXPECT_EQ(out.sink->WriteSizes(), doubling);
  EXPECT_EQ(in.storage.GetInputCapacity(), kFourMiB);
  EXPECT_EQ(out.storage.GetOutputCapacity(), kFourMiB);
}

TEST(CDataStorageTest, OutputIsFlushedBeforeTheUnitThatWouldNotFit) {
  std::u16string bytes3000;
  for (int i = 0; i < 3000; ++i)
    bytes3000.push_back(static_cast<char16_t>((i * 7) % 251));
  CStorageToSink single(kModeSingle);
  EXPECT_EQ(single.Write(bytes3000), std::vector<std::uint8_t>(bytes3000.begin(), bytes3000.end()));
  EXPECT_EQ(single.sink->WriteSizes(), (std::vector<std::uint32_t>{1024, 1976}));
  for (bool mark : {false, true}) {  // three bytes do not fit in the two left
    CStorageToSink utf8(kModeUtf8);
    utf8.storage.PutString(std::u16string(1022, u'\0'));
    mark ? utf8.storage.PutBOM() : utf8.storage.PutChar(u'\u20AC');
    EXPECT_EQ(utf8.Write(u"").size(), 1025u);
    EXPECT_EQ(utf8.sink->WriteSizes(), (std::vector<std::uint32_t>{1022, 3}));
  }
}

TEST(CDataStorageTest, ShortWriteFailsWithStateCode) {
  CStorageToSink<CRecordingStorage> out(kModeSingle, 0, 100);
  EXPECT_EQ(test::ThrownCode([&] { out.Write(std::u16string(500, u'k')); }), kEFail);
  EXPECT_EQ(out.storage.failCodes, std::vector<std::int32_t>{0x8003});
}

TEST(CDataStorageTest, ProgressCountsFromTheAbsolutePosition) {
  CDataStorage storage(kModeUtf8, kModeNone);
  storage.Open(
      CEndpoint::Stream(std::make_shared<CChunkedStream>(Utf8Bytes(Pattern(1000)), 100, 500)),
      CEndpoint());
  EXPECT_EQ(storage.GetProgress(), 50);
  char16_t ch = 0;
  for (int i = 0; i < 249; ++i)
    ASSERT_TRUE(storage.GetChar(ch));
  EXPECT_EQ(storage.GetProgress(), 74);  // 749 of 1000, truncated
  auto unsized = std::make_shared<CChunkedStream>(Utf8Bytes(Pattern(10)), 1);
  unsized->HideSize();
  storage.Open(CEndpoint::Stream(unsized), CEndpoint());
  EXPECT_EQ(storage.GetProgress(), 100);  // size 0: the query failed
}

TEST(CDataStorageTest, IfStartRuleAddsE000BeforeOtherUnits) {
  const std::pair<char16_t, std::u16string> cases[] = {
      {u'\uE804', u"\uE804"},       {u'A', u"\uE000A"},           {u'\uE400', u"\uE000\uE400"},
      {u'\uE000', u"\uE000"},       {u'\uE3FF', u"\uE3FF"},       {u'\uE7FF', u"\uE000\uE7FF"},
      {u'\uE800', u"\uE800"},       {u'\uEBFF', u"\uEBFF"},       {u'\uEC00', u"\uE000\uEC00"},
      {u'\uF000', u"\uE000\uF000"}, {u'\uD7FF', u"\uE000\uD7FF"},
  };
  for (const auto& [first, written] : cases) {
    SCOPED_TRACE(static_cast<int>(first));
    CStorageToSink<CRecordingStorage> out(kModeUtf16);
    out.storage.MarkOutputStart();
    EXPECT_EQ(test::Utf16LeUnits(out.Write(std::u16string{first, u'z'})), written + u"z");
    EXPECT_EQ(out.storage.seen, written + u"z");  // the added unit went through PutChar too
  }
}

TEST(CDataStorageTest, StartRuleWaitsForUtf16AndIgnoresTheMark) {
  CStorageToSink out(kModeUtf8);
  out.storage.MarkOutputStart();
  out.storage.SetCapture(true);
  out.storage.PutBOM();  // straight into the buffer: not captured
  out.storage.SetCapture(false);
  out.storage.PutChar(u'a');
  out.storage.SetOutputMode(kModeUtf16);
  out.storage.PutBOM();
  EXPECT_EQ(out.Write(u"b"),
            (std::vector<std::uint8_t>{0xEF, 0xBB, 0xBF, 'a', 0xFF, 0xFE, 0x00, 0xE0, 'b', 0}));
}

TEST(CDataStorageTest, CaptureHoldsUnitsUntilFlushed) {
  CStorageToSink<CRecordingStorage> out(kModeUtf8);
  out.storage.PutChar(u'<');
  out.storage.SetCapture(true);
  EXPECT_EQ(out.Write(u"ab\u00E9cd"), test::Bytes("<"));
  out.storage.EraseCaptured(1);
  out.storage.EraseCaptured(99);  // out of range: nothing
  out.storage.seen.clear();
  out.storage.FlushCapture();
  EXPECT_EQ(out.storage.seen, u"a\u00E9cd");  // written through PutChar
  out.storage.PutChar(u'x');                  // capture is on again
  EXPECT_EQ(out.storage.GetCaptureLength(), 1u);
  out.storage.SetCapture(true);  // empties the capture text
  out.storage.FlushCapture();
  out.storage.SetCapture(false);
  out.storage.FlushCapture();  // capture off: nothing happens
  EXPECT_EQ(out.Write(u""), Utf8Bytes(u"<a\u00E9cd"));
}

TEST(CDataStorageTest, OpenRefusesWhatIsNeitherFileNorStream) {
  const auto in = CEndpoint::Stream(std::make_shared<CChunkedStream>(test::Bytes("x"), 1));
  const auto out = CEndpoint::Stream(std::make_shared<CSinkStream>());
  const struct {
    const char* name;
    CEndpoint input, output;
  } cases[] = {
      {"number as input", CEndpoint::Other(), out},
      {"empty input", CEndpoint(), out},
      {"object without a stream", CEndpoint::Stream(nullptr), out},
      {"missing file", CEndpoint::File(u"/nonexistent/in.ttx"), out},
      {"folder as input", CEndpoint::File(u"/"), out},
      {"number as output", in, CEndpoint::Other()},
      {"uncreatable file", in, CEndpoint::File(u"/nonexistent/out.if")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CDataStorage storage(kModeUtf8, kModeUtf16);
    EXPECT_EQ(test::ThrownCode([&] { storage.Open(c.input, c.output); }), kEInvalidArg);
  }
  CDataStorage writer(kModeNone, kModeUtf16);
  writer.Open(CEndpoint::Other(), out);  // a side in mode none ignores its value
}

}  // namespace
}  // namespace tagvert
