// Tagvert: tests of the storage's codecs: the tolerant UTF-8 decoder, UTF-16, byte-order marks,
// encoding by output mode and code page, and CanEncode.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "storage/code_page_tables.h"
#include "storage/data_storage.h"
#include "storage/storage_test_util.h"

namespace tagvert {
namespace {

using test::kModeDetect;

class CDataStorageDecodeTest : public ::testing::TestWithParam<std::uint32_t> {};

INSTANTIATE_TEST_SUITE_P(ChunkSizes, CDataStorageDecodeTest,
                         ::testing::ValuesIn(test::kChunkSizes));

TEST_P(CDataStorageDecodeTest, DecodesByModeAndMark) {
  const test::CDecodeCase cases[] = {
      {"two bytes", kModeUtf8, 0, {0xC3, 0xA9}, u"\u00E9"},
      {"three bytes", kModeUtf8, 0, {0xE2, 0x82, 0xAC}, u"\u20AC"},
      {"lead without continuation", kModeUtf8, 0, {0xC3, 0x41}, u" A"},
      {"four-byte sequence", kModeUtf8, 0, {0xF0, 0x9F, 0x98, 0x80, 0x41, 0x42}, u" \u07D8 AB"},
      {"lead after a lead", kModeUtf8, 0, {0xC3, 0xC3, 0xA9}, u" \u00E9"},
      {"three-byte lead, one continuation",
       kModeUtf8,
       0,
       {0xE2, 0x82, 0xE2, 0x82, 0xAC},
       u"  \u20AC"},
      {"continuation as lead", kModeUtf8, 0, {0x80, 0x80}, std::u16string(1, u'\0')},
      {"overlong form as it is", kModeUtf8, 0, {0xC0, 0xAF}, u"/"},
      {"surrogate as it is", kModeUtf8, 0, {0xED, 0xA0, 0xBD}, u"\xD83D"},
      {"highest lead bytes", kModeUtf8, 0, {0xF8, 0xFF, 0x41}, u"  A"},
      {"UTF-16", kModeUtf16, 0, {0x41, 0x00, 0xAC, 0x20}, u"A\u20AC"},
      {"single byte", kModeSingle, 0, {0x80, 0xE9, 0xFF}, u"\u0080\u00E9\u00FF"},
      {"mark FF FE", kModeDetect, 0, {0xFF, 0xFE, 0x41, 0x00}, u"A"},
      {"mark FE FF", kModeDetect, 0, {0xFE, 0xFF, 0x00, 0x41, 0x20, 0xAC}, u"A\u20AC"},
      {"mark EF BB BF", kModeDetect, 0, {0xEF, 0xBB, 0xBF, 0xC3, 0xA9}, u"\u00E9"},
      {"no mark", kModeDetect, 0, {0x3C, 0xE9, 0x3E}, u"<\u00E9>"},
      {"half a mark", kModeDetect, 0, {0xEF, 0xBB}, u"\u00EF\u00BB"},
      {"only a mark", kModeDetect, 0, {0xFF, 0xFE}, u""},
  };
  for (const auto& c : cases)
    test::ExpectDecodes(c, GetParam());
}

TEST(CDataStorageEncodeTest, EncodesByModeAndCodePage) {
  const struct {
    std::int16_t mode, codePage;
    std::u16string units;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {kModeUtf8, 0, u"\u00E9\u20AC", {0xC3, 0xA9, 0xE2, 0x82, 0xAC}},
      {kModeUtf8, 0, u"\xD83D\xDE00", {0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}},
      {kModeUtf8, 0, u"\u007F\u0080\u07FF\u0800", {0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80}},
      {kModeUtf16, 0, u"A\u20AC\xD800", {0x41, 0x00, 0xAC, 0x20, 0x00, 0xD8}},
      {kModeSingle, 0, u"a\u00E9\u00FF\u0100\u0098\xD800", {'a', 0xE9, 0xFF, '?', 0x98, '?'}},
      {kModeSingle, kCodePageWindows1251, u"\u0416\u00E9\u0098z", {0xC6, '?', 0x98, 'z'}},
      {kModeSingle, kCodePageKoi8R, u"\u0430\u00E9\u0098", {0xC1, '?', '?'}},
      {kModeSingle, kCodePageAscii, u"a\u00E9\u0080", {'a', '?', '?'}},
      {kModeSingle, kCodePageLatin1, u"\u00E9\u0100", {0xE9, '?'}},
      {kModeSingle, kCodePageHz, u"\u00FF\u554A", {0xFF, '?'}},
      {kModeSingle, 42, u"\u00E9\u0416", {0xE9, '?'}},
      {kModeNone, 0, u"abc", {}},
      {7, 0, u"abc", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", page " << c.codePage);
    test::CStorageToSink out(c.mode, c.codePage);
    EXPECT_EQ(out.Write(c.units), c.bytes);
    // CanEncode is true exactly for the units written without turning into "?".
    for (std::size_t i = 0; i < c.units.size(); ++i) {
      const bool can = c.mode == kModeSingle ? c.bytes[i] != '?' : !c.bytes.empty();
      EXPECT_EQ(out.storage.CanEncode(c.units[i]), can) << "unit " << i;
    }
  }
}

}  // namespace
}  // namespace tagvert
