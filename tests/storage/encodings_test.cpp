// Tagvert: tests of the storage's UTF-8 and UTF-16 codecs, byte-order marks and CanEncode.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "storage/data_storage.h"
#include "storage/storage_test_util.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::CSinkStream;
using test::CStorageOverBytes;
using test::Printable;

// The units a fresh storage decodes from `bytes` in `mode`.
std::u16string Decode(const std::vector<std::uint8_t>& bytes, std::int16_t mode,
                      std::uint32_t chunk = 1024) {
  CStorageOverBytes s(bytes, chunk, mode);
  return s.ReadAll();
}

// The bytes a fresh storage writes for `units` in output `mode` (and code page).
std::vector<std::uint8_t> Encode(const std::u16string& units, std::int16_t mode,
                                 std::int16_t codePage = 0) {
  auto sink = std::make_shared<CSinkStream>();
  CDataStorage storage(kModeNone, mode);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  storage.SetOutputMode(mode, codePage);
  storage.PutString(units);
  storage.Flush();
  return sink->Bytes();
}

TEST(CDataStorageEncodingTest, Utf8DecoderIsTolerant) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::u16string units;
  };
  const Case cases[] = {
      {"two bytes", {0xC3, 0xA9}, u"\u00E9"},
      {"three bytes", {0xE2, 0x82, 0xAC}, u"\u20AC"},
      {"ASCII", {0x41, 0x7F}, u"A\u007F"},
      {"lead without continuation", {0xC3, 0x41}, u" A"},
      {"four-byte sequence", {0xF0, 0x9F, 0x98, 0x80, 0x41, 0x42}, u" \u07D8 AB"},
      {"three-byte lead, one continuation", {0xE2, 0x82, 0x41}, u"  A"},
      {"three-byte lead, no continuation", {0xE2, 0x41, 0x42}, u" AB"},
      {"continuation byte as lead", {0x80, 0x80}, std::u16string(1, u'\0')},
      {"overlong form taken as it is", {0xC0, 0xAF}, u"/"},
      {"surrogate value taken as it is", {0xED, 0xA0, 0xBD}, u"\xD83D"},
      {"highest lead bytes", {0xF8, 0xFF, 0x41}, u"  A"},
      {"largest three-byte unit", {0xEF, 0xBF, 0xBF}, u"\uFFFF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::uint32_t chunk : {1u, 2u, 1024u}) {
      const std::u16string units = Decode(c.bytes, kModeUtf8, chunk);
      EXPECT_EQ(units, c.units) << Printable(units) << " chunk " << chunk;
    }
  }
}

TEST(CDataStorageEncodingTest, Utf8EncoderWritesEachUnitByItself) {
  struct Case {
    std::u16string units;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {u"\u00E9", {0xC3, 0xA9}},
      {u"\xD83D\xDE00", {0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}},
      {u"\u007F\u0080", {0x7F, 0xC2, 0x80}},
      {u"\u07FF\u0800", {0xDF, 0xBF, 0xE0, 0xA0, 0x80}},
      {u"\uFFFF", {0xEF, 0xBF, 0xBF}},
      {std::u16string(1, u'\0'), {0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Printable(c.units));
    EXPECT_EQ(Encode(c.units, kModeUtf8), c.bytes);
    EXPECT_EQ(Decode(c.bytes, kModeUtf8), c.units);
  }
}

TEST(CDataStorageEncodingTest, Utf16IsWrittenLittleEndian) {
  EXPECT_EQ(Encode(u"A\u20AC\uFFFF", kModeUtf16),
            (std::vector<std::uint8_t>{0x41, 0x00, 0xAC, 0x20, 0xFF, 0xFF}));
  EXPECT_EQ(Decode({0x41, 0x00, 0xAC, 0x20}, kModeUtf16), u"A\u20AC");
}

TEST(CDataStorageEncodingTest, BigEndianMarkSwapsTheInput) {
  CStorageOverBytes s({0xFE, 0xFF, 0x00, 0x41, 0x20, 0xAC}, 1, kModeUtf8);
  ASSERT_TRUE(s.storage.DetectBOM());
  EXPECT_EQ(s.storage.GetInputMode(), kModeUtf16);
  EXPECT_EQ(s.ReadAll(), u"A\u20AC");
}

TEST(CDataStorageEncodingTest, Utf8MarkIsNotDelivered) {
  CStorageOverBytes s({0xEF, 0xBB, 0xBF, 0x3C, 0xE2, 0x82, 0xAC}, 1, kModeSingle);
  ASSERT_TRUE(s.storage.DetectBOM());
  EXPECT_EQ(s.storage.GetInputMode(), kModeUtf8);
  EXPECT_EQ(s.ReadAll(), u"<\u20AC");
}

TEST(CDataStorageEncodingTest, NoMarkLeavesModeAndPosition) {
  CStorageOverBytes s({0x3C, 0xE9, 0x3E}, 1024, kModeSingle);
  EXPECT_FALSE(s.storage.DetectBOM());
  EXPECT_EQ(s.storage.GetInputMode(), kModeSingle);
  EXPECT_EQ(s.storage.GetInputConsumed(), 0u);
  EXPECT_EQ(s.ReadAll(), u"<\u00E9>");  // byte by byte
}

TEST(CDataStorageEncodingTest, DefaultCodePageIsLatin1) {
  EXPECT_EQ(Encode(u"a\u00E9\u00FF\u0100\u20AC", kModeSingle),
            (std::vector<std::uint8_t>{'a', 0xE9, 0xFF, '?', '?'}));
  EXPECT_EQ(Decode({0x80, 0xE9, 0xFF}, kModeSingle), u"\u0080\u00E9\u00FF");
}

TEST(CDataStorageEncodingTest, CanEncodeFollowsTheOutputMode) {
  struct Case {
    std::int16_t mode;
    char16_t unit;
    bool can;
  };
  const Case cases[] = {
      {kModeUtf16, u'\uFFFF', true},  {kModeUtf8, u'\xD800', true},
      {kModeUtf8, u'a', true},        {kModeSingle, u'a', true},
      {kModeSingle, u'\u00FF', true}, {kModeSingle, u'\u0100', false},
      {kModeNone, u'a', false},       {7, u'a', false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " unit " << static_cast<int>(c.unit));
    CDataStorage storage(kModeNone, c.mode);
    EXPECT_EQ(storage.CanEncode(c.unit), c.can);
  }
}

TEST(CDataStorageEncodingTest, ModeNoneDiscardsOutput) {
  EXPECT_TRUE(Encode(u"abc\u20AC", kModeNone).empty());
}

}  // namespace
}  // namespace tagvert
