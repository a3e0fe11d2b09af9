// Tagvert: tests of single-byte mode by code page: the Cyrillic tables against iconv, the
// byte-for-byte indexes, and the Chinese input encodings GBK, GB18030 and HZ.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "storage/code_page_platform.h"
#include "storage/code_page_tables.h"
#include "storage/data_storage.h"
#include "storage/storage_test_util.h"

#if __has_include(<iconv.h>)
#include <iconv.h>
#define TAGVERT_TEST_HAS_ICONV 1
#endif

namespace tagvert {
namespace {

using test::Bytes;

// Whether the platform converts code page 54936 at all (Wine, for one, has no such code page).
bool PlatformHasGb18030() {
  const std::uint8_t pair[2] = {0xB0, 0xA1};
  char16_t unit = 0;
  return PlatformDecodeCodePage(kCodePage54936, pair, 2, unit);
}

#ifdef TAGVERT_TEST_HAS_ICONV
// The unit iconv gives for one byte of `charset`: -1 when unassigned, -2 for an unknown charset.
int IconvUnit(const char* charset, std::uint8_t byte) {
  iconv_t cd = iconv_open("UTF-16LE", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return -2;
  char in = static_cast<char>(byte), out[4];
  char *inPtr = &in, *outPtr = out;
  std::size_t inLeft = 1, outLeft = sizeof out;
  const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  if (!ok || outPtr - out != 2) return -1;
  return static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8);
}
#endif

TEST(CodePageTablesTest, TablesMatchIconvAndRoundTrip) {
  const std::pair<std::int16_t, const char*> tables[] = {
      {kCodePageWindows1251, "CP1251"},   {kCodePageKoi8R, "KOI8-R"},
      {kCodePageKoi8U, "KOI8-U"},         {kCodePageCp866, "CP866"},
      {kCodePageIso8859_5, "ISO-8859-5"},
  };
  std::vector<std::uint8_t> bytes(256);
  for (std::size_t b = 0; b < 256; ++b)
    bytes[b] = static_cast<std::uint8_t>(b);
  for (const auto& [index, charset] : tables) {
    SCOPED_TRACE(charset);
    std::u16string units(bytes.begin(), bytes.end());
    for (int b = 0x80; b <= 0xFF; ++b) {
#ifdef TAGVERT_TEST_HAS_ICONV
      int unit = IconvUnit(charset, static_cast<std::uint8_t>(b));
      ASSERT_NE(unit, -2);
      if (unit == -1) {  // only 0x98 of Windows-1251 is unassigned; the table adds U+0098
        EXPECT_TRUE(index == kCodePageWindows1251 && b == 0x98) << b;
        unit = b;
      }
#else
      const int unit = CodePageTable(index)[b - 0x80];
#endif
      units[static_cast<std::size_t>(b)] = static_cast<char16_t>(unit);
    }
    test::ExpectDecodes({charset, EncodingMode::Single, index, bytes, units}, 1024);
    EXPECT_EQ(test::CStorageToSink(EncodingMode::Single, index).Write(units), bytes);
  }
}

class CodePageChunkTest : public ::testing::TestWithParam<std::uint32_t> {};

INSTANTIATE_TEST_SUITE_P(ChunkSizes, CodePageChunkTest, ::testing::ValuesIn(test::kChunkSizes));

TEST_P(CodePageChunkTest, DecodesByCodePage) {
  const std::int16_t kGbk = kCodePageGbk, k18030 = kCodePageGb18030, kHz = kCodePageHz;
  const std::string pad(1022, '0');
  const std::u16string padUnits(1022, u'0');
  constexpr auto kSingle = EncodingMode::Single;
  const test::CDecodeCase cases[] = {
      {"index 3", kSingle, kCodePageAscii, {0x41, 0x80, 0xFF}, u"A\u0080\u00FF"},
      {"unknown index", kSingle, 11, {0x41, 0x80, 0xFF}, u"A\u0080\u00FF"},
      {"GBK pair, 0x80 as itself", kSingle, kGbk, {0xB0, 0xA1, 0x80}, u"\u554A\u0080"},
      {"GBK bad trail, both taken", kSingle, kGbk, {0x81, 0x20, 0x41}, u"*A"},
      {"GBK lone lead at the end", kSingle, kGbk, {0x41, 0xB0}, u"A", 1},
      {"GBK across the buffer", kSingle, kGbk, Bytes(pad + "0\xB0\xA1"), padUnits + u"0\u554A"},
      {"GB18030 four bytes", kSingle, k18030, {0x81, 0x30, 0x81, 0x30}, u"\u0080"},
      {"GB18030 beyond the BMP", kSingle, k18030, {0x90, 0x30, 0x81, 0x30, 0x41}, u"*A"},
      {"GB18030 cut at the end", kSingle, k18030, {0x41, 0x81, 0x30, 0x81}, u"A", 3},
      {"GB18030 across the buffer", kSingle, k18030, Bytes(pad + "\x81\x30\x81\x30"),
       padUnits + u"\u0080"},
      {"HZ shifts", kSingle, kHz, Bytes("~{0!0\"~}A"), u"\u554A\u963FA"},
      {"HZ tilde pair", kSingle, kHz, Bytes("~~"), u"~"},
      {"HZ tilde and another byte", kSingle, kHz, Bytes("~x"), u"x"},
      {"HZ half a pair at the end", kSingle, kHz, Bytes("~{0!0"), u"\u554A"},
      {"HZ across the buffer", kSingle, kHz, Bytes(pad + "0~{0!"), padUnits + u"0\u554A"},
  };
  const bool hasGb18030 = PlatformHasGb18030();
  for (const auto& c : cases) {
    if (c.codePage != k18030 || hasGb18030) test::ExpectDecodes(c, GetParam());
  }
}

}  // namespace
}  // namespace tagvert
