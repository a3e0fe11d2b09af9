// Tagvert: tests of single-byte mode by code page: the Cyrillic tables against the system's
// converter, the byte-for-byte indexes, and the Chinese input encodings GBK, GB18030 and HZ.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>

#include "storage/code_page_platform.h"
#include "storage/code_page_tables.h"
#include "storage/data_storage.h"
#include "storage/storage_test_util.h"
#include "support/test_streams.h"

#if __has_include(<iconv.h>)
#include <iconv.h>
#define TAGVERT_TEST_HAS_ICONV 1
#endif

namespace tagvert {
namespace {

using test::CSinkStream;
using test::CStorageOverBytes;
using test::Printable;

const std::int16_t kTableIndexes[] = {kCodePageWindows1251, kCodePageKoi8R, kCodePageKoi8U,
                                      kCodePageCp866, kCodePageIso8859_5};

// The units a storage in mode 1 with input code page `index` decodes from `bytes`.
std::u16string DecodeBytes(const std::vector<std::uint8_t>& bytes, std::int16_t index,
                           std::uint32_t chunk = 1024) {
  CStorageOverBytes s(bytes, chunk, kModeSingle, kModeNone);
  s.storage.SetInputMode(kModeSingle, index);
  return s.ReadAll();
}

// A target in mode 1 with output code page `index`.
struct CCodePageTarget {
  explicit CCodePageTarget(std::int16_t index)
      : sink(std::make_shared<CSinkStream>()), storage(kModeNone, kModeSingle) {
    storage.Open(CEndpoint(), CEndpoint::Stream(sink));
    storage.SetOutputMode(kModeSingle, index);
  }
  std::vector<std::uint8_t> Write(const std::u16string& units) {
    storage.PutString(units);
    storage.Flush();
    return sink->Bytes();
  }
  std::shared_ptr<CSinkStream> sink;
  CDataStorage storage;
};

// Whether the platform converts code page 54936 at all (Wine, for one, has no such code page).
bool PlatformHasGb18030() {
  const std::uint8_t pair[2] = {0xB0, 0xA1};
  char16_t unit = 0;
  return PlatformDecodeCodePage(kCodePage54936, pair, 2, unit);
}

// ---- The Cyrillic tables ----

#ifdef TAGVERT_TEST_HAS_ICONV
// The unit the C library's converter gives for one byte of `charset`, or -1 when it has none.
int IconvUnit(const char* charset, std::uint8_t byte) {
  iconv_t cd = iconv_open("UTF-16LE", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return -2;
  char in[1] = {static_cast<char>(byte)};
  char out[8];
  char* inPtr = in;
  char* outPtr = out;
  std::size_t inLeft = 1;
  std::size_t outLeft = sizeof out;
  const std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1) || outPtr - out != 2) return -1;
  return static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8);
}
#endif

TEST(CodePageTablesTest, TablesMatchTheSystemConverter) {
#ifndef TAGVERT_TEST_HAS_ICONV
  GTEST_SKIP() << "no iconv on this platform";
#else
  const struct {
    std::int16_t index;
    const char* charset;
  } tables[] = {{kCodePageWindows1251, "CP1251"},
                {kCodePageKoi8R, "KOI8-R"},
                {kCodePageKoi8U, "KOI8-U"},
                {kCodePageCp866, "CP866"},
                {kCodePageIso8859_5, "ISO-8859-5"}};
  for (const auto& t : tables) {
    SCOPED_TRACE(t.charset);
    const char16_t* table = CodePageTable(t.index);
    ASSERT_NE(table, nullptr);
    for (int b = 0x80; b <= 0xFF; ++b) {
      const int expected = IconvUnit(t.charset, static_cast<std::uint8_t>(b));
      ASSERT_NE(expected, -2) << "iconv does not know " << t.charset;
      if (t.index == kCodePageWindows1251 && b == 0x98) {
        EXPECT_EQ(expected, -1);  // unassigned in the code page; the table adds U+0098
        EXPECT_EQ(table[b - 0x80], u'\u0098');
        continue;
      }
      EXPECT_EQ(table[b - 0x80], expected) << "byte " << b;
    }
  }
#endif
}

TEST(CodePageTablesTest, EveryEntryRoundTripsThroughTheStorage) {
  std::vector<std::uint8_t> high;
  for (int b = 0x00; b <= 0xFF; ++b)
    high.push_back(static_cast<std::uint8_t>(b));
  for (std::int16_t index : kTableIndexes) {
    SCOPED_TRACE(index);
    const std::u16string units = DecodeBytes(high, index);
    ASSERT_EQ(units.size(), 256u);
    for (int b = 0; b < 0x80; ++b)
      ASSERT_EQ(units[b], b);
    CCodePageTarget target(index);
    for (char16_t u : units)
      EXPECT_TRUE(target.storage.CanEncode(u)) << static_cast<int>(u);
    EXPECT_EQ(target.Write(units), high);
    EXPECT_EQ(CodePageTableEncode(index, u'\uFFFD'), 0);
  }
  EXPECT_EQ(CodePageTable(kCodePageDefault), nullptr);
  EXPECT_EQ(CodePageTable(kCodePageGbk), nullptr);
  EXPECT_EQ(CodePageTableEncode(kCodePageAscii, u'\u0416'), 0);
}

TEST(CodePageTablesTest, Koi8RDecodesCyrillicA) {
  EXPECT_EQ(DecodeBytes({0xC1, 0x41}, kCodePageKoi8R), u"\u0430A");
}

TEST(CodePageTablesTest, Windows1251EncodesCyrillicAndRefusesLatin) {
  CCodePageTarget target(kCodePageWindows1251);
  EXPECT_TRUE(target.storage.CanEncode(u'\u0416'));
  EXPECT_FALSE(target.storage.CanEncode(u'\u00E9'));
  EXPECT_TRUE(target.storage.CanEncode(u'\u0098'));
  EXPECT_EQ(target.Write(u"\u0416\u00E9\u0098z"),
            (std::vector<std::uint8_t>{0xC6, '?', 0x98, 'z'}));
  EXPECT_EQ(DecodeBytes({0x98, 0xC6}, kCodePageWindows1251), u"\u0098\u0416");
}

TEST(CodePageTablesTest, ByteForByteIndexesAndTheirOutput) {
  const std::vector<std::uint8_t> bytes = {0x41, 0x80, 0xE9, 0xFF};
  for (std::int16_t index : {kCodePageAscii, kCodePageLatin1, std::int16_t{11}, std::int16_t{-1}}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(DecodeBytes(bytes, index), u"A\u0080\u00E9\u00FF");
  }
  struct Case {
    std::int16_t index;
    std::vector<std::uint8_t> written;
    bool canE9;
  };
  // Index 3 writes "?" above U+007F; 7 to 10 and unknown indexes behave as index 0.
  const Case cases[] = {
      {kCodePageAscii, {'a', '?', '?', '?'}, false},
      {kCodePageLatin1, {'a', 0xE9, 0xFF, '?'}, true},
      {kCodePageGb18030, {'a', 0xE9, 0xFF, '?'}, true},
      {kCodePageGbk, {'a', 0xE9, 0xFF, '?'}, true},
      {kCodePageHz, {'a', 0xE9, 0xFF, '?'}, true},
      {std::int16_t{42}, {'a', 0xE9, 0xFF, '?'}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    CCodePageTarget target(c.index);
    EXPECT_TRUE(target.storage.CanEncode(u'a'));
    EXPECT_EQ(target.storage.CanEncode(u'\u00E9'), c.canE9);
    EXPECT_FALSE(target.storage.CanEncode(u'\u0416'));
    EXPECT_EQ(target.Write(u"a\u00E9\u00FF\u0416"), c.written);
  }
}

// ---- Chinese input encodings ----

TEST(CodePageChineseTest, GbkDecodesOneOrTwoBytes) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::u16string units;
  };
  const Case cases[] = {
      {"GB 2312 character", {0xB0, 0xA1, 0x41}, u"\u554AA"},
      {"GBK extension", {0x81, 0x40}, u"\u4E02"},
      {"0x80 stands for itself", {0x80, 0x41}, u"\u0080A"},
      {"invalid trail byte consumes both", {0x81, 0x20, 0x41}, u"*A"},
      {"lead 0xFF", {0xFF, 0x41, 0x42}, u"*B"},
      {"end-user-defined area", {0xAA, 0xA1, 0xFE, 0xFE, 0xA1, 0x40}, u"\uE000\uE4C5\uE4C6"},
      {"unassigned positions", {0xA2, 0xAB, 0xA8, 0xBC, 0xFE, 0xA0}, u"\uE766\uE7C7\uE864"},
      {"lone lead byte at the end", {0x41, 0xB0}, u"A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeBytes(c.bytes, kCodePageGbk), c.units);
  }
}

TEST(CodePageChineseTest, Gb18030DecodesOneTwoOrFourBytes) {
  if (!PlatformHasGb18030()) GTEST_SKIP() << "the platform has no code page 54936";
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::u16string units;
  };
  const Case cases[] = {
      {"two bytes", {0xB0, 0xA1}, u"\u554A"},
      {"four bytes", {0x81, 0x30, 0x81, 0x30}, u"\u0080"},
      {"last BMP unit", {0x84, 0x31, 0xA4, 0x39}, u"\uFFFF"},
      {"beyond the BMP", {0x90, 0x30, 0x81, 0x30, 0x41}, u"*A"},
      {"four bytes that are no character", {0x84, 0x31, 0xA5, 0x30, 0x41}, u"*A"},
      {"lead 0x80 consumes one byte", {0x80, 0x41}, u"*A"},
      {"lead 0xFF consumes one byte", {0xFF, 0xB0, 0xA1}, u"*\u554A"},
      {"second byte outside the ranges", {0x81, 0x7F, 0x41}, u"*A"},
      {"second byte 0xFF", {0x81, 0xFF, 0x41}, u"*A"},
      {"lone lead byte at the end", {0x41, 0x81}, u"A"},
      {"cut four-byte sequence at the end", {0x41, 0x81, 0x30, 0x81}, u"A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string units = DecodeBytes(c.bytes, kCodePageGb18030);
    EXPECT_EQ(units, c.units) << Printable(units);
  }
}

TEST(CodePageChineseTest, HzFollowsTheShiftState) {
  struct Case {
    const char* name;
    std::string bytes;
    std::u16string units;
  };
  const Case cases[] = {
      {"shift in and out", "~{0!~}A", u"\u554AA"},
      {"tilde pair", "~~", u"~"},
      {"several characters", "a~{0!0\"~}b~{0!~}", u"a\u554A\u963Fb\u554A"},
      {"tilde before another byte", "~x", u"x"},
      {"shifts back to back", "~{~}~{0!", u"\u554A"},
      {"tilde pair in GB state starts a pair",
       "~{~~\x7F"
       "0!",
       u"*\u554A"},
      {"invalid GB pair", "~{0\x7F~}z", u"*z"},
      {"shift at the end of input", "A~{", u"A"},
      {"lone tilde at the end", "A~", u"A"},
      {"half a pair at the end", "~{0!0", u"\u554A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string units = DecodeBytes(test::Bytes(c.bytes), kCodePageHz);
    EXPECT_EQ(units, c.units) << Printable(units);
  }
}

TEST(CodePageChineseTest, OpenResetsTheHzShiftState) {
  CDataStorage storage(kModeSingle, kModeNone);
  storage.Open(CEndpoint::Stream(std::make_shared<test::CChunkedStream>(test::Bytes("~{0!"), 4)),
               CEndpoint());
  storage.SetInputMode(kModeSingle, kCodePageHz);
  char16_t ch = 0;
  ASSERT_TRUE(storage.GetChar(ch));
  EXPECT_EQ(ch, u'\u554A');
  storage.Close();
  storage.Open(CEndpoint::Stream(std::make_shared<test::CChunkedStream>(test::Bytes("0!"), 4)),
               CEndpoint());
  storage.SetInputMode(kModeSingle, kCodePageHz);
  ASSERT_TRUE(storage.GetChar(ch));
  EXPECT_EQ(ch, u'0');
}

// Double-byte and four-byte characters cut by every refill boundary of a chunked source.
class CodePageChunkTest : public ::testing::TestWithParam<std::uint32_t> {};

INSTANTIATE_TEST_SUITE_P(ChunkSizes, CodePageChunkTest, ::testing::ValuesIn(test::kChunkSizes));

TEST_P(CodePageChunkTest, MultiByteCharactersSplitAcrossRefills) {
  struct Case {
    std::int16_t index;
    std::vector<std::uint8_t> character;
    char16_t unit;
  };
  const Case cases[] = {
      {kCodePageGbk, {0xB0, 0xA1}, u'\u554A'},
      {kCodePageGb18030, {0xB0, 0xA1}, u'\u554A'},
      {kCodePageGb18030, {0x81, 0x30, 0x81, 0x30}, u'\u0080'},
      {kCodePageHz, {0x30, 0x21}, u'\u554A'},
  };
  for (const Case& c : cases) {
    if (c.index == kCodePageGb18030 && !PlatformHasGb18030()) continue;
    for (std::size_t prefix = 1019; prefix <= 1025; ++prefix) {
      SCOPED_TRACE(testing::Message() << "index " << c.index << " prefix " << prefix);
      std::vector<std::uint8_t> bytes;
      std::u16string expected;
      if (c.index == kCodePageHz) {
        // An odd filler byte, the shift, then pairs "0!" up to the prefix length.
        const std::size_t filler = prefix % 2;
        bytes.insert(bytes.end(), filler, 'a');
        expected.append(filler, u'a');
        bytes.push_back('~');
        bytes.push_back('{');
        for (std::size_t i = filler + 2; i < prefix; i += 2) {
          bytes.push_back('0');
          bytes.push_back('!');
          expected.push_back(u'\u554A');
        }
      } else {
        bytes.assign(prefix, '0');
        expected.assign(prefix, u'0');
      }
      bytes.insert(bytes.end(), c.character.begin(), c.character.end());
      expected.push_back(c.unit);
      const std::u16string units = DecodeBytes(bytes, c.index, GetParam());
      ASSERT_EQ(units, expected) << Printable(units.substr(units.size() - 2));
      // The same character cut short by the end of the input is dropped.
      bytes.pop_back();
      expected.pop_back();
      ASSERT_EQ(DecodeBytes(bytes, c.index, GetParam()), expected);
    }
  }
}

// ---- The platform's conversion ----

TEST(CodePagePlatformTest, DecodesExactlyOneUnitOrFails) {
  struct Case {
    unsigned codePage;
    std::vector<std::uint8_t> bytes;
    bool ok;
    char16_t unit;
  };
  const Case cases[] = {
      {kCodePage936, {0xB0, 0xA1}, true, u'\u554A'},
      {kCodePage936, {0x41, 0x42}, false, 0},  // two characters
      {kCodePage936, {0xB0}, false, 0},        // incomplete
      {kCodePage936, {0xAF, 0xFE}, true, u'\uE233'},
      {kCodePage936, {0xA7, 0xA0}, true, u'\uE765'},
      {kCodePage54936, {0x81, 0x30, 0x81, 0x30}, true, u'\u0080'},
      {kCodePage54936, {0x90, 0x30, 0x81, 0x30}, false, 0},  // U+10000: two units
      {kCodePage54936, {0x81, 0x30}, false, 0},              // incomplete
      {1252, {0x41}, false, 0},                              // not a Chinese code page
  };
  for (const Case& c : cases) {
    if (c.codePage == kCodePage54936 && !PlatformHasGb18030()) continue;
    SCOPED_TRACE(testing::Message() << c.codePage << " " << testing::PrintToString(c.bytes));
    char16_t unit = 0;
    EXPECT_EQ(PlatformDecodeCodePage(c.codePage, c.bytes.data(), c.bytes.size(), unit), c.ok);
    if (c.ok) {
      EXPECT_EQ(unit, c.unit);
    }
  }
}

TEST(CodePagePlatformTest, EveryDoubleBytePositionOf936IsACharacter) {
  // GBK's characters plus the Private Use Area U+E000..U+E864, each unit of it used once.
  std::vector<int> privateUse(0xE865 - 0xE000, 0);
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::uint8_t pair[2] = {static_cast<std::uint8_t>(lead),
                                    static_cast<std::uint8_t>(trail)};
      char16_t unit = 0;
      ASSERT_TRUE(PlatformDecodeCodePage(kCodePage936, pair, 2, unit)) << lead << " " << trail;
      if (unit >= 0xE000 && unit <= 0xF8FF) {
        ASSERT_LE(unit, 0xE864) << lead << " " << trail;
        ++privateUse[unit - 0xE000];
      }
    }
  }
  EXPECT_EQ(std::count(privateUse.begin(), privateUse.end(), 1),
            static_cast<std::ptrdiff_t>(privateUse.size()));
}

TEST(CodePagePlatformTest, UserDefinedAreasOf936MatchGb18030) {
  if (!PlatformHasGb18030()) GTEST_SKIP() << "the platform has no code page 54936";
  // GB18030 took its Private Use Area assignments of these areas over from code page 936.
  const struct {
    int leadFirst, leadLast, trailFirst, trailLast;
  } areas[] = {{0xAA, 0xAF, 0xA1, 0xFE}, {0xF8, 0xFE, 0xA1, 0xFE}, {0xA1, 0xA7, 0x40, 0xA0}};
  int checked = 0;
  for (const auto& area : areas) {
    for (int lead = area.leadFirst; lead <= area.leadLast; ++lead) {
      for (int trail = area.trailFirst; trail <= area.trailLast; ++trail) {
        if (trail == 0x7F) continue;
        const std::uint8_t pair[2] = {static_cast<std::uint8_t>(lead),
                                      static_cast<std::uint8_t>(trail)};
        char16_t cp936 = 0;
        char16_t gb18030 = 0;
        ASSERT_TRUE(PlatformDecodeCodePage(kCodePage936, pair, 2, cp936)) << lead << " " << trail;
        ASSERT_TRUE(PlatformDecodeCodePage(kCodePage54936, pair, 2, gb18030));
        EXPECT_EQ(cp936, gb18030) << lead << " " << trail;
        EXPECT_GE(cp936, 0xE000);
        EXPECT_LE(cp936, 0xE765);
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 564 + 658 + 672);
}

}  // namespace
}  // namespace tagvert
