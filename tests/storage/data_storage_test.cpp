// Tagvert: tests of the data storage: decoding by mode and mark at every buffer boundary,
// push-back, encoding, capture, the IF start rule. (Progress: the converter tests, tests/frame;
// short writes: the command's fault test.)
// SPDX-License-Identifier: Apache-2.0
#include "storage/data_storage.h"

#include <gtest/gtest.h>

#include "storage/code_page_tables.h"
#include "storage/storage_test_util.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::CStorageToSink;
using test::kModeDetect;
using test::Utf8Bytes;

// `count` ASCII units of a repeating pattern, so that a shifted or repeated block is seen.
std::u16string Pattern(std::size_t count) {
  std::u16string units(count, u'!');
  for (std::size_t i = 0; i < count; ++i)
    units[i] = static_cast<char16_t>('!' + i % 90);
  return units;
}

class CDataStorageChunkTest : public ::testing::TestWithParam<std::uint32_t> {};

INSTANTIATE_TEST_SUITE_P(ChunkSizes, CDataStorageChunkTest, ::testing::ValuesIn(test::kChunkSizes));

// Bytes that do not form a UTF-8 character become U+FFFD, one per maximal subpart: no
// multi-byte form (overlong, encoded surrogate, beyond U+10FFFF) ever gives a character, so an
// overlong `<` is no delimiter; a four-byte character becomes its surrogate pair.
TEST_P(CDataStorageChunkTest, DecodesByModeAndMark) {
  constexpr auto kUtf8 = EncodingMode::Utf8;
  using test::Bytes;
  std::vector<test::CDecodeCase> cases = {
      {"two and three bytes", kUtf8, 0, Bytes("\xC3\xA9\xE2\x82\xAC"), u"\u00E9\u20AC"},
      {"first and last of each length", kUtf8, 0,
       Bytes("\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"),
       u"\u0080\u07FF\u0800\uD7FF\uE000\uFFFF"},
      {"lead without continuation", kUtf8, 0, Bytes("\xC3\x41\xC3\xC3\xA9"),
       u"\uFFFDA\uFFFD\u00E9"},
      {"four-byte character", kUtf8, 0, Bytes("\xF0\x9F\x98\x80\x41"), u"\U0001F600A"},
      {"first and last four-byte characters", kUtf8, 0, Bytes("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"),
       u"\xD800\xDC00\xDBFF\xDFFF"},
      // The lead byte of a form with a second byte out of its range is a subpart by itself.
      {"overlong <, /, NUL", kUtf8, 0,
       Bytes("\xC0\xBC\xE0\x80\xBC\xF0\x80\x80\xBC\xC0\xAF\xC1\xBF\xC0\x80"),
       std::u16string(15, u'\uFFFD')},
      {"overlong four bytes", kUtf8, 0, Bytes("\xF0\x8F\xBF\xBF\x41"),
       u"\uFFFD\uFFFD\uFFFD\uFFFDA"},
      {"surrogates", kUtf8, 0, Bytes("\xED\xA0\xBD\xED\xBF\xBF"), std::u16string(6, u'\uFFFD')},
      {"above U+10FFFF", kUtf8, 0, Bytes("\xF4\x90\x80\x80\xF7\xBF\xBF\xBF\x41"),
       std::u16string(8, u'\uFFFD') + u"A"},
      {"lead F5, F8 and FF", kUtf8, 0, Bytes("\xF5\x41\xF8\x80\xFF\x42"),
       u"\uFFFDA\uFFFD\uFFFD\uFFFDB"},
      {"stray continuation bytes", kUtf8, 0, Bytes("\x80\xBF\x41\x80"), u"\uFFFD\uFFFDA\uFFFD"},
      // A valid beginning cut short is one subpart, whatever its length.
      {"cut short", kUtf8, 0, Bytes("\xF0\x9F\x98\x41\xE2\x82<\xF4\x8F\xC3\xA9"),
       u"\uFFFDA\uFFFD<\uFFFD\u00E9"},
      {"the standard's example", kUtf8, 0,
       Bytes("a\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64"),
       u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
      {"UTF-16", EncodingMode::Utf16, 0, Bytes(std::string_view("A\0\xAC\x20", 4)), u"A\u20AC"},
      {"single byte", EncodingMode::Single, 0, Bytes("\x80\xE9\xFF"), u"\u0080\u00E9\u00FF"},
      {"mark FF FE", kModeDetect, 0, Bytes(std::string_view("\xFF\xFE\x41\0", 4)), u"A"},
      {"mark FE FF", kModeDetect, 0, Bytes(std::string_view("\xFE\xFF\0A\x20\xAC", 6)), u"A\u20AC"},
      {"mark EF BB BF", kModeDetect, 0, Bytes("\xEF\xBB\xBF\xC3\xA9"), u"\u00E9"},
      {"no mark", kModeDetect, 0, Bytes("<\xE9>"), u"<\u00E9>"},
      {"only a mark", kModeDetect, 0, Bytes("\xFF\xFE"), u""},
      {"two bytes, no mark", kModeDetect, 0, Bytes("<a"), u"<a"},
  };
  // Inputs around one buffer, with characters split across the refill.
  cases.push_back({"ASCII 1024", EncodingMode::Utf8, 0, Utf8Bytes(Pattern(1024)), Pattern(1024)});
  for (std::size_t prefix = 1020; prefix <= 1024; ++prefix) {
    const std::u16string text = Pattern(prefix) +
                                u"\u20AC\u00E9\u4E2D\xD83D\xDE00"
                                u"b";
    cases.push_back({std::string("UTF-8 split at ").append(std::to_string(prefix)),
                     EncodingMode::Utf8, 0, Utf8Bytes(text), text});
  }
  auto oddUtf16 = test::Utf16LeBytes(Pattern(513));
  oddUtf16.push_back(0x41);
  cases.push_back({"UTF-16, odd final byte", EncodingMode::Utf16, 0, oddUtf16, Pattern(513), 1});
  auto cutUtf8 = Utf8Bytes(Pattern(1023));
  cutUtf8.insert(cutUtf8.end(), {0xE2, 0x82});
  cases.push_back(
      {"UTF-8, cut final sequence", EncodingMode::Utf8, 0, cutUtf8, Pattern(1023) + u"\uFFFD"});
  auto cutFourBytes = Utf8Bytes(Pattern(1022));
  cutFourBytes.insert(cutFourBytes.end(), {0xF0, 0x9F, 0x98});
  cases.push_back({"UTF-8, cut four-byte character", EncodingMode::Utf8, 0, cutFourBytes,
                   Pattern(1022) + u"\uFFFD"});
  for (const auto& c : cases)
    test::ExpectDecodes(c, GetParam());
}

// A pushed-back unit is counted again, and delivered even after the end was reported; the two
// units of a four-byte character are pushed back one by one.
TEST_P(CDataStorageChunkTest, PushBackSurvivesRefillAndEnd) {
  const std::u16string units = Pattern(1023) + u"\U0001F600";
  test::CStorageOverBytes s(Utf8Bytes(units), GetParam());
  char16_t ch = 0;
  for (int i = 0; i < 1024; ++i)
    ASSERT_TRUE(s.storage.GetChar(ch));
  s.storage.UngetChar();
  EXPECT_EQ(s.storage.GetCharCount(), 1023);
  EXPECT_TRUE(s.storage.GetChar(ch) && ch == 0xD83D);
  EXPECT_TRUE(s.storage.GetChar(ch) && !s.storage.GetChar(ch));
  s.storage.UngetChar();
  EXPECT_TRUE(s.storage.GetChar(ch) && ch == 0xDE00 && !s.storage.GetChar(ch));
  EXPECT_EQ(s.storage.GetCharCount(), 1025);
}

// Units of the ranges E000-E3FF and E800-EBFF start an IF output as they are; any other unit
// gets U+E000 first.
TEST(CDataStorageTest, IfStartRuleAddsE000BeforeOtherUnits) {
  const std::pair<char16_t, std::u16string> cases[] = {
      {u'A', u"\uE000A"},           {u'\uE3FF', u"\uE3FF"}, {u'\uE400', u"\uE000\uE400"},
      {u'\uE7FF', u"\uE000\uE7FF"}, {u'\uE800', u"\uE800"}, {u'\uEBFF', u"\uEBFF"},
      {u'\uEC00', u"\uE000\uEC00"},
  };
  for (const auto& [first, written] : cases) {
    SCOPED_TRACE(static_cast<int>(first));
    CStorageToSink out(EncodingMode::Utf16);
    out.storage.MarkOutputStart();
    out.storage.PutBOM();  // does not count as the first unit
    EXPECT_EQ(test::Utf16LeUnits(out.Write(std::u16string{first, u'z'})),
              u"\uFEFF" + written + u"z");
  }
}

// Captured units are held until flushed and encoded when the capture is written out, pairing
// with a high surrogate written before the capture began.
TEST(CDataStorageTest, CaptureHoldsUnitsUntilFlushedAndPairsAcrossIt) {
  CStorageToSink out(EncodingMode::Utf8);
  out.storage.SetCapture(true);
  EXPECT_TRUE(out.Write(u"ab\u00E9").empty());
  out.storage.EraseCaptured(1);
  out.storage.FlushCapture();
  out.storage.PutString(u"\xD83D\xDE00");
  out.storage.FlushCapture();
  out.storage.SetCapture(false);
  out.storage.PutChar(0xD83D);
  out.storage.SetCapture(true);
  out.storage.PutChar(0xDE00);
  out.storage.FlushCapture();
  out.storage.SetCapture(false);
  EXPECT_EQ(out.Write(u""), Utf8Bytes(u"a\u00E9\xD83D\xDE00\xD83D\xDE00"));
}

// Single-byte table pages write the table's byte or "?", index 3 "?" above U+007F, the other
// indexes as index 0. CanEncode is true exactly for the units written without turning into "?".
TEST(CDataStorageTest, EncodesByModeAndCodePage) {
  using test::Bytes;
  const struct {
    EncodingMode mode;
    std::int16_t codePage;
    std::u16string units;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {EncodingMode::Utf8, 0, u"\u007F\u0080\u07FF\u0800",
       Bytes("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80")},
      // A high surrogate right before a low one makes one four-byte character; any other
      // surrogate is no character and is written as U+FFFD, a high one at the final flush too.
      {EncodingMode::Utf8, 0,
       u"\xD83D\xDE00\xD83D"
       u"A\xDE00\xDE00\xD83D\xD83D\xDE00",
       Bytes("\xF0\x9F\x98\x80\xEF\xBF\xBD"
             "A\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xF0\x9F\x98\x80")},
      {EncodingMode::Utf8, 0,
       u"\xD840\xDC00\xDC00"
       u"A\xDBFF",
       Bytes("\xF0\xA0\x80\x80\xEF\xBF\xBD"
             "A\xEF\xBF\xBD")},
      // UTF-8 output is markup: what XML 1.0 excludes (no reference may stand for it) is U+FFFD,
      // but vertical tab and form feed, white space in a tag, are a space.
      {EncodingMode::Utf8, 0, std::u16string(u"\0\x08\t\n\x0B\x0C\r\x1F \uFFFD\uFFFE\uFFFF", 12),
       Bytes("\xEF\xBF\xBD\xEF\xBF\xBD\t\n  \r\xEF\xBF\xBD "
             "\xEF\xBF\xBD\xEF\xBF\xBD"
             "\xEF\xBF\xBD")},
      {EncodingMode::Utf16, 0, u"A\u20AC\xD800", {0x41, 0x00, 0xAC, 0x20, 0x00, 0xD8}},
      {EncodingMode::Single, 0, u"a\u00E9\u00FF\u0100\u0098\xD800", Bytes("a\xE9\xFF?\x98?")},
      {EncodingMode::Single, kCodePageWindows1251, u"\u0416\u00E9\u0098z", {0xC6, '?', 0x98, 'z'}},
      {EncodingMode::Single, kCodePageAscii, u"a\u00E9\u0080", {'a', '?', '?'}},
      {EncodingMode::Single, kCodePageHz, u"\u00FF\u554A", {0xFF, '?'}},
      {EncodingMode::None, 0, u"abc", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "mode " << static_cast<int>(c.mode) << ", page " << c.codePage);
    CStorageToSink out(c.mode, c.codePage);
    EXPECT_EQ(out.Write(c.units), c.bytes);
    for (std::size_t i = 0; i < c.units.size(); ++i) {
      const bool can = c.mode == EncodingMode::Single ? c.bytes[i] != '?' : !c.bytes.empty();
      EXPECT_EQ(out.storage.CanEncode(c.units[i]), can) << "unit " << i;
    }
  }
}

}  // namespace
}  // namespace tagvert
