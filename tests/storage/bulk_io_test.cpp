// Tagvert: tests of the storage's bulk reads and writes: they leave the storage, the hooks and
// the target exactly as the unit-by-unit loops they replace.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <random>
#include <string_view>

#include "ifcodec/if_code_range.h"
#include "storage/char_class.h"
#include "storage/data_storage.h"
#include "storage/storage_test_util.h"
#include "storage/utf8.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::Utf8Bytes;

// A storage with the converter's kind of overrides: a stop flag checked before every read and
// write, and a read hook that records the bytes consumed whenever it is due and then waits
// `step` bytes more. `stopAtHook` (when not 0) sets the stop flag at that hook call.
class CHookedStorage : public CDataStorage {
 public:
  CHookedStorage(EncodingMode inputMode, EncodingMode outputMode)
      : CDataStorage(inputMode, outputMode) {
    SetUnitHooks(&stop);
    SetReadHookAt(0);
  }
  bool GetChar(char16_t& ch) override {
    if (stop.load()) ThrowHResult(kEAbort);
    if (GetInputConsumed() >= hookAt) {
      hookCalls.push_back(GetInputConsumed());
      hookCounts.push_back(static_cast<std::uint64_t>(GetCharCount()));
      if (hookCalls.size() == stopAtHook) stop.store(true);
      hookAt = GetInputConsumed() + step;
      SetReadHookAt(hookAt);
    }
    return CDataStorage::GetChar(ch);
  }
  void PutChar(char16_t ch) override {
    if (stop.load()) ThrowHResult(kEAbort);
    CDataStorage::PutChar(ch);
  }
  std::atomic<bool> stop{false};
  std::uint64_t hookAt = 0, step = 1;
  std::size_t stopAtHook = 0;
  std::vector<std::uint64_t> hookCalls;
  std::vector<std::uint64_t> hookCounts;  // units delivered when the hook acted
};

struct CReadOutcome {
  std::vector<std::u16string> runs;  // each run, then the unit that ended it
  std::vector<std::uint64_t> hookCalls;
  std::int32_t count = 0;
  bool aborted = false;
  bool operator==(const CReadOutcome&) const = default;
};

// What is read: runs before '<' or before a code and the unit ending each, or the whole input
// (into a wide or a narrow buffer).
enum class Read { BeforeLess, BeforeCode, All, AllNarrow };

// Reads `bytes` with the bulk reads or with the unit loop they replace, the hooks due every
// `step` bytes and a stop request made at hook `stopAtHook` (0: none). Runs: each run (bulk, or
// GetChar until a stop unit and UngetChar), then the unit that ended it (TakeUtf16Char or
// GetChar). All: ReadAllUnits or GetChar until it returns false.
CReadOutcome ReadWith(const std::vector<std::uint8_t>& bytes, std::uint32_t chunk,
                      EncodingMode mode, Read what, bool bulk, std::uint64_t step,
                      std::size_t stopAtHook) {
  auto source = std::make_shared<test::CChunkedStream>(bytes, chunk);
  CHookedStorage storage(mode, EncodingMode::None);
  storage.Open(CEndpoint::Stream(source), CEndpoint());
  if (mode == EncodingMode::Single) storage.DetectBOM();
  storage.step = step;
  storage.stopAtHook = stopAtHook;
  const bool toCode = what == Read::BeforeCode;
  auto isStop = [&](char16_t c) { return toCode ? c >= 0xE000 && c <= 0xEFFF : c == u'<'; };
  CReadOutcome outcome;
  CUnitBuffer units;
  const bool all = what == Read::All || what == Read::AllNarrow;
  if (what == Read::AllNarrow) units.SetNarrow();
  try {
    if (all && bulk) storage.ReadAllUnits(units);
    if (all && !bulk) {
      for (char16_t c = 0; storage.GetChar(c);)
        units.PushBack(c);
    }
    while (!all) {
      std::u16string run;
      if (bulk) {
        toCode ? storage.ReadRunBeforeCode(&run) : storage.ReadRunBeforeLess(run);
      } else {
        char16_t c = 0;
        while (storage.GetChar(c)) {
          if (isStop(c)) {
            storage.UngetChar();
            break;
          }
          run.push_back(c);
        }
      }
      outcome.runs.push_back(run);
      char16_t stopUnit = 0;
      if (!(bulk ? storage.TakeUtf16Char(stopUnit) : storage.GetChar(stopUnit))) break;
      outcome.runs.push_back(std::u16string(1, stopUnit));
    }
  } catch (const CHResultError& e) {
    outcome.aborted = e.Code() == kEAbort;
  }
  outcome.hookCalls = storage.hookCalls;
  outcome.count = storage.GetCharCount();
  if (!all) return outcome;
  std::u16string read;
  for (std::size_t i = 0; i < units.Size(); ++i)
    read.push_back(units.UnitAt(i));
  outcome.runs.push_back(read);
  if (bulk) {
    // The IF writer copies a buffer that says it holds no code as it is: the buffer never says
    // so of a code, and of UTF-8 input (decoded, not copied) it says so exactly.
    const bool holdsCode = std::any_of(read.begin(), read.end(), IsIfCode);
    EXPECT_FALSE(units.FreeOfIfCodes() && holdsCode);
    EXPECT_TRUE(mode != EncodingMode::Utf8 || units.FreeOfIfCodes() == !holdsCode);
  }
  // Where the hook acts between units, not only after how many bytes (the low half of a
  // four-byte character consumes none).
  outcome.hookCalls.insert(outcome.hookCalls.end(), storage.hookCounts.begin(),
                           storage.hookCounts.end());
  // The storage is left as the loop leaves it: the last unit can be pushed back.
  char16_t last = 0;
  storage.UngetChar();
  if (!outcome.aborted && storage.GetChar(last)) outcome.runs.emplace_back(1, last);
  return outcome;
}

struct CReadCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  EncodingMode mode;
  Read what;
};

// Each case read with hooks due at every byte, every 7 and every 500 bytes, with and without a
// stop request made by a hook: the bulk reads leave what the unit loop leaves.
void ExpectBulkReadsLikeUnits(const std::vector<CReadCase>& cases, std::uint32_t chunk) {
  for (const CReadCase& c : cases) {
    for (const std::uint64_t step : {1u, 7u, 500u}) {
      for (const std::size_t stopAtHook : {0u, 3u}) {
        SCOPED_TRACE(std::string(c.name) + ", step " + std::to_string(step) + ", stop at hook " +
                     std::to_string(stopAtHook));
        const auto units = ReadWith(c.bytes, chunk, c.mode, c.what, false, step, stopAtHook);
        const auto bulk = ReadWith(c.bytes, chunk, c.mode, c.what, true, step, stopAtHook);
        EXPECT_EQ(units.aborted, stopAtHook != 0 && !c.bytes.empty());
        EXPECT_TRUE(bulk == units);
      }
    }
  }
}

// UTF-16 big-endian bytes with their mark.
std::vector<std::uint8_t> Utf16BeBytes(const std::u16string& text) {
  std::vector<std::uint8_t> bytes = {0xFE, 0xFF};
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  }
  return bytes;
}

class CBulkReadTest : public ::testing::TestWithParam<std::uint32_t> {};

INSTANTIATE_TEST_SUITE_P(ChunkSizes, CBulkReadTest, ::testing::ValuesIn(test::kChunkSizes));

// Runs of every length around one buffer, non-ASCII and undecodable bytes inside runs, both
// byte orders, a document that ends inside a run.
TEST_P(CBulkReadTest, RunsReadLikeTheUnitLoop) {
  std::u16string markup;
  for (int length : {0, 1, 5, 1000, 1030, 2100})
    markup += std::u16string(static_cast<std::size_t>(length), u'a') + u"<b x='1'>";
  // A four-byte character before and after a `<`: its low half is delivered from the storage.
  markup += u"\u00E9t\u00E9 \u20AC<\u4E2D\U0001F600<\U0001F600a";
  std::vector<std::uint8_t> utf8 = Utf8Bytes(markup);
  utf8.insert(utf8.begin() + 40, {0xC3, 0x41, 0xFF});
  std::u16string ifText = u"\uE804TTX\uE000";
  for (int length : {3, 1100, 0, 700})
    ifText += std::u16string(static_cast<std::size_t>(length), u'z') + u"\uE805\u0065<t>\uE000";
  ifText += u"\u00A0end";
  ExpectBulkReadsLikeUnits(
      {{"UTF-8 markup", utf8, EncodingMode::Utf8, Read::BeforeLess},
       {"UTF-16 markup", test::Utf16LeBytes(markup), EncodingMode::Utf16, Read::BeforeLess},
       {"UTF-16 IF", test::Utf16LeBytes(ifText), EncodingMode::Utf16, Read::BeforeCode},
       {"UTF-16 IF, big-endian", Utf16BeBytes(ifText), EncodingMode::Single, Read::BeforeCode},
       {"empty", {}, EncodingMode::Utf8, Read::BeforeLess}},
      GetParam());
}

// Every UTF-8 form (ASCII runs longer than the eight-byte steps, two-, three- and four-byte
// characters, a lone continuation byte, a cut-off sequence, bytes above F4, an overlong
// four-byte form, a truncated character at the very end) and both UTF-16 byte orders.
TEST_P(CBulkReadTest, WholeInputReadLikeTheUnitLoop) {
  std::u16string text;
  for (int i = 0; i < 300; ++i)
    text += (i % 3 == 0)   ? u"plain ascii text, "
            : (i % 3 == 1) ? u"\u00E9t\u00E9 \u20AC\u4E2D"
                           : u"\U0001F600a";
  std::vector<std::uint8_t> utf8 = Utf8Bytes(text);
  for (const std::size_t at : {17u, 400u, 1500u, 2900u}) {
    utf8.insert(
        utf8.begin() + static_cast<std::ptrdiff_t>(at),
        {0x80, 0xC3, 0x41, 0xE2, 0x82, 0x20, 0xF8, 0xF0, 0x80, 0x80, 0x80, 0xF4, 0x41, 0xC0,
         0xBC, 0xE0, 0x80, 0xBC, 0xED, 0xA0, 0x80, 0xF4, 0x90, 0x80, 0x80, 0xF0, 0x9F, 0x41});
  }
  std::vector<std::uint8_t> cutOff = utf8;
  cutOff.insert(cutOff.end(), {0xF0, 0x9F, 0x98});
  // Latin-1 text (two-byte characters across every chunk boundary) that a narrow buffer keeps as
  // bytes up to the character that widens it.
  std::u16string latin;
  for (int i = 0; i < 700; ++i)
    latin += (i % 2 == 0) ? u"caf\u00E9 \u00A0" : u"d\u00FCrfen ";
  std::vector<std::uint8_t> latinThenWide = Utf8Bytes(latin + u"\u0100" + latin);
  ExpectBulkReadsLikeUnits(
      {{"UTF-8", utf8, EncodingMode::Utf8, Read::All},
       {"UTF-8, narrow", utf8, EncodingMode::Utf8, Read::AllNarrow},
       {"Latin-1 in UTF-8, narrow", Utf8Bytes(latin), EncodingMode::Utf8, Read::AllNarrow},
       {"Latin-1 then U+0100, narrow", latinThenWide, EncodingMode::Utf8, Read::AllNarrow},
       {"UTF-16, narrow", test::Utf16LeBytes(text), EncodingMode::Utf16, Read::AllNarrow},
       {"UTF-8 cut off", cutOff, EncodingMode::Utf8, Read::All},
       {"UTF-16", test::Utf16LeBytes(text), EncodingMode::Utf16, Read::All},
       {"UTF-16 big-endian", Utf16BeBytes(text), EncodingMode::Single, Read::All},
       {"empty", {}, EncodingMode::Utf8, Read::All}},
      GetParam());
}

// Runs of two- and three-byte characters, which the bulk read decodes a word (or two characters)
// at a time, with a sequence it must leave to the general decoder, or take, after every number
// of characters and at every alignment: surrogates, overlong forms, the edges of each range,
// sequences cut short or followed by a stray continuation byte, four-byte characters.
TEST_P(CBulkReadTest, CharacterRunsReadLikeTheUnitLoop) {
  const std::vector<std::vector<std::uint8_t>> others = {{0xED, 0xA0, 0x80},
                                                         {0xED, 0xBF, 0xBF},
                                                         {0xED, 0x9F, 0xBF},
                                                         {0xEE, 0x80, 0x80},
                                                         {0xE0, 0x9F, 0xBF},
                                                         {0xE0, 0xA0, 0x80},
                                                         {0xEF, 0xBF, 0xBF},
                                                         {0xE4, 0xB8},
                                                         {0xE4, 0x41, 0xAD},
                                                         {0xE4, 0xB8, 0xC0},
                                                         {0xE4, 0xB8, 0xAD, 0xAD},
                                                         {0xC1, 0xBF},
                                                         {0xC2, 0x80},
                                                         {0xDF, 0xBF},
                                                         {0xC2, 0xE4},
                                                         {0x80},
                                                         {0xF0, 0x9F, 0x98, 0x80},
                                                         {0xF4, 0x90, 0x80, 0x80},
                                                         {0x41}};
  const std::vector<std::uint8_t> cjk = {0xE4, 0xB8, 0xAD};
  const std::vector<std::uint8_t> cyrillic = {0xD0, 0x96};
  std::vector<std::uint8_t> bytes;
  const auto append = [&](const std::vector<std::uint8_t>& piece, int times) {
    for (int i = 0; i < times; ++i)
      bytes.insert(bytes.end(), piece.begin(), piece.end());
  };
  for (const auto& other : others) {
    for (int twoByte = 0; twoByte < 2; ++twoByte) {
      for (int threeByte = 0; threeByte < 7; ++threeByte) {
        append(cyrillic, twoByte);
        append(cjk, threeByte);
        append(other, 1);
        append(cjk, 4);
        append(cyrillic, 1);
        append(cjk, 2);
      }
    }
  }
  const std::vector<std::uint8_t> whole = bytes;
  append({0xE4, 0xB8}, 1);
  ExpectBulkReadsLikeUnits({{"runs", whole, EncodingMode::Utf8, Read::All},
                            {"runs, narrow", whole, EncodingMode::Utf8, Read::AllNarrow},
                            {"runs, cut off", bytes, EncodingMode::Utf8, Read::All}},
                           GetParam());
}

// One unit of the IF's code range (or of its neighbours, which are none) among three-byte
// characters that the bulk read decodes two at a time, at either place of a pair, after ASCII
// and after a two-byte character: each document alone, so that a code decoded without being
// noted leaves the buffer saying it holds none (checked by ReadWith).
TEST_P(CBulkReadTest, IfCodesInCharacterRunsAreNoted) {
  std::vector<CReadCase> cases;
  for (const char16_t unit : std::u16string_view(u"\uE000\uE7FF\uEFFF\uD7FF\uF000\u0800")) {
    for (const char16_t before : {u'a', u'\u0416', u'\u4E2D'}) {
      for (std::size_t cjk = 0; cjk < 4; ++cjk) {
        std::u16string text(std::size_t{1200}, u'a');
        text += before + std::u16string(cjk, u'\u4E2D') + unit + u"\u4E2D\u4E2D\u4E2Da";
        cases.push_back({"one unit", Utf8Bytes(text), EncodingMode::Utf8, Read::All});
      }
    }
  }
  ExpectBulkReadsLikeUnits(cases, GetParam());
}

// ASCII runs of every length up to two steps of sixteen bytes, each before a two-byte character
// (which the bulk read decodes between its ASCII steps) or a sequence it must leave to the
// general decoder: the character falls at every place of a step, of a chunk and of what is
// buffered, and the read may end on a lead byte. The characters below U+0100 come first, which
// a narrow buffer keeps as bytes, up to U+0100, which widens it.
TEST_P(CBulkReadTest, AsciiAndTwoByteCharactersReadLikeTheUnitLoop) {
  const std::vector<std::vector<std::uint8_t>> others = {{0xC3, 0xA9},
                                                         {0xC2, 0x80},
                                                         {0xC3, 0xBF},
                                                         {0xC4, 0x80},
                                                         {0xDF, 0xBF},
                                                         {0xD0, 0x96, 0xCE, 0xB6},
                                                         {0xC1, 0xBF},
                                                         {0xC0, 0x80},
                                                         {0xC2, 0x41},
                                                         {0xC2, 0xC3},
                                                         {0xE4, 0xB8, 0xAD},
                                                         {0x80},
                                                         {0xE0, 0x80},
                                                         {0xF0, 0x9F, 0x98, 0x80},
                                                         {0xFF}};
  for (std::size_t shift = 0; shift < 16; ++shift) {
    // The steps against the hooks' places (every 7 and 500 bytes) at every offset.
    std::vector<std::uint8_t> bytes(shift, ' ');
    for (const auto& other : others) {
      for (std::size_t ascii = 0; ascii <= 33; ++ascii) {
        bytes.insert(bytes.end(), ascii, static_cast<std::uint8_t>('a' + ascii % 26));
        bytes.insert(bytes.end(), other.begin(), other.end());
      }
    }
    std::vector<std::uint8_t> cutOff = bytes;
    cutOff.push_back(0xC3);
    ExpectBulkReadsLikeUnits(
        {{"ASCII and two-byte", bytes, EncodingMode::Utf8, Read::All},
         {"ASCII and two-byte, narrow", bytes, EncodingMode::Utf8, Read::AllNarrow},
         {"ASCII and two-byte, cut off", cutOff, EncodingMode::Utf8, Read::All}},
        GetParam());
  }
}

// Random documents of ASCII runs (markup, mostly longer than a step of sixteen bytes) between
// runs of three- and two-byte characters, which the bulk read takes from the ASCII steps
// without the block loop, with a damaged or odd sequence now and then: overlong forms,
// surrogates, codes (the first left to the general decoder, which notes it), sequences cut
// short, stray continuation bytes, bytes C0, C1 and F5..FF, four-byte characters; some end
// inside a sequence. Each is read in bulk and unit by unit.
TEST_P(CBulkReadTest, RandomCjkAndMarkupReadLikeTheUnitLoop) {
  const std::string_view odd[] = {
      "\xE0\x80\x80",     "\xE0\x9F\xBF",    "\xED\xA0\x80", "\xED\xBF\xBF", "\xEE\x80\x80",
      "\xEF\xBF\xBF",     "\xE4\xB8",        "\xE4\x41",     "\xE4\xB8\xC3", "\x80",
      "\xBF\xBF",         "\xC0\xAF",        "\xC1\xBF",     "\xF5\x80\x80", "\xFF",
      "\xF0\x9F\x98\x80", "\xF4\x90\x80\x80"};
  std::mt19937 random(20261209);
  const auto below = [&](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
  std::vector<CReadCase> cases;
  for (int document = 0; document < 6; ++document) {
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < 3000) {
      const std::uint32_t ascii = below(4) == 0 ? below(16) : 16 + below(40);
      for (std::uint32_t i = 0; i < ascii; ++i)
        bytes.push_back(static_cast<std::uint8_t>(below(5) == 0 ? '<' : 'a' + below(26)));
      for (std::uint32_t i = below(14); i > 0; --i) {
        // U+0800..U+FFFF but the surrogates and codes; now and then a two-byte character or
        // a code.
        std::uint32_t c = 0x800 + below(0xE000);
        c = c < 0xD800 ? c : c + 0x1800;
        if (below(6) == 0) c = 0x80 + below(0x780);
        if (below(40) == 0) c = kIfCodeFirst + below(0x1000);
        char utf8[4];
        const std::size_t n = EncodeUtf8(c, utf8);
        bytes.insert(bytes.end(), utf8, utf8 + n);
      }
      if (below(6) == 0) {
        const std::string_view sequence = odd[below(static_cast<std::uint32_t>(std::size(odd)))];
        bytes.insert(bytes.end(), sequence.begin(), sequence.end());
      }
    }
    if (document % 2 == 1) bytes.insert(bytes.end(), {0xE4, 0xB8});
    cases.push_back({"random", bytes, EncodingMode::Utf8, Read::All});
  }
  ExpectBulkReadsLikeUnits(cases, GetParam());
}

// Writes `text` in `mode` with PutString (PutNarrowUnits with `narrow`, for text below U+0100)
// or PutChar unit by unit; `variant` 1 marks the IF start, 2 captures, 3 stops before the first
// unit, 4 writes a mark first; `pieces` above 0: PutString of pieces of 1, 2, ... `pieces` units
// in turn. Returns the bytes, the write sizes and the units captured.
auto Write(const std::u16string& text, EncodingMode mode, int variant, bool bulk,
           bool narrow = false, std::size_t pieces = 0) {
  test::CStorageToSink<CHookedStorage> out(mode);
  if (variant == 1) out.storage.MarkOutputStart();
  if (variant == 2) out.storage.SetCapture(true);
  if (variant == 3) out.storage.stop.store(true);
  if (variant == 4) out.storage.PutBOM();
  bool aborted = false;
  try {
    if (narrow) {
      const std::vector<std::uint8_t> bytes(text.begin(), text.end());
      out.storage.PutNarrowUnits(bytes.data(), bytes.size(), bytes.data() + bytes.size());
    } else if (pieces > 0) {
      for (std::size_t at = 0, size = 1; at < text.size(); at += size, size = size % pieces + 1)
        out.storage.PutString(text.substr(at, size));
    } else if (bulk) {
      out.storage.PutString(text);
    } else {
      for (const char16_t unit : text)
        out.storage.PutChar(unit);
    }
  } catch (const CHResultError& e) {
    aborted = e.Code() == kEAbort;
  }
  EXPECT_EQ(aborted, variant == 3);
  const std::size_t captured = out.storage.GetCaptureLength();
  out.storage.Flush();
  return std::make_tuple(out.sink->Bytes(), out.sink->WriteSizes(), captured);
}

// PutString writes what PutChar unit by unit writes, with the same flushes (surrogate pairs and
// a lone high surrogate before ASCII included); the IF start rule, capture and a stop request
// still act on the unit they concern.
TEST(CBulkWriteTest, PutStringWritesLikePutChar) {
  std::u16string text;
  for (int i = 0; i < 900; ++i)
    text += (i % 50 == 0)   ? u"\u00E9\u20AC"
            : (i % 70 == 0) ? u"\U0001F600\xD83Dx"
            : (i % 90 == 0) ? u"\x01\t\uFFFF"
                            : u"ab<";
  for (const EncodingMode mode : {EncodingMode::Utf8, EncodingMode::Utf16, EncodingMode::Single}) {
    for (const int variant : {0, 1, 2, 3}) {
      SCOPED_TRACE("mode " + std::to_string(static_cast<int>(mode)) + ", variant " +
                   std::to_string(variant));
      EXPECT_EQ(Write(text, mode, variant, true), Write(text, mode, variant, false));
    }
  }
  // Units below U+0100 written from bytes, in stretches across every flush.
  std::u16string latin;
  for (int i = 0; i < 900; ++i)
    latin += (i % 50 == 0) ? u"\u00E9\u00A0\x01" : u"ab<";
  for (const EncodingMode mode : {EncodingMode::Utf8, EncodingMode::Utf16}) {
    for (const int variant : {0, 1, 2, 3}) {
      EXPECT_EQ(Write(latin, mode, variant, true, true), Write(latin, mode, variant, false));
    }
  }
  // ASCII stretches that end at every offset around a flush and around the eight-unit blocks of
  // the bulk copy, followed by units of two and three bytes, surrogate pairs and a run of
  // three-byte units longer than the first buffer, which crosses a flush by itself.
  const std::u16string longRun = std::u16string(400, u'\u4E2D') + u"\u0416\U0001F600";
  for (const std::u16string& tail :
       {std::u16string(u"\u00E9"), std::u16string(u"\u20AC\u00E9"), std::u16string(u"\U0001F600"),
        std::u16string(u"<&]"), longRun}) {
    for (std::size_t length = 1010; length <= 1030; ++length) {
      SCOPED_TRACE("length " + std::to_string(length));
      text = std::u16string(length, u'a') + tail + std::u16string(2100, u'b') + tail + u"ccccccccc";
      EXPECT_EQ(Write(text, EncodingMode::Utf8, 4, true),
                Write(text, EncodingMode::Utf8, 4, false));
    }
  }
}

// Short PutStrings, as the way back writes its elements: pieces of every length up to 40 over
// text that holds each kind of unit in every lane of the blocks the bulk write tests at once,
// between the flushes and across them, write what PutChar writes.
TEST(CBulkWriteTest, ShortPutStringsWriteLikePutChar) {
  const char16_t others[] = {u'\t', u'\n',  0x01,   0x0B,   0x1F,  0x7F,
                             0xE9,  0x4E2D, 0xFFFE, 0xD83D, 0xDE00};
  std::u16string text;
  std::uint32_t seed = 7;
  for (int i = 0; i < 12000; ++i) {
    seed = seed * 1103515245U + 12345U;
    text += (seed >> 16) % 5 != 0 ? static_cast<char16_t>(u' ' + i % 95)
                                  : others[(seed >> 8) % std::size(others)];
  }
  for (const std::size_t pieces : {std::size_t{17}, std::size_t{40}}) {
    EXPECT_EQ(Write(text, EncodingMode::Utf8, 4, true, false, pieces),
              Write(text, EncodingMode::Utf8, 4, false));
  }
}

// Runs of three-byte characters (the ends of both ranges among them) of every length up to 20,
// each ended by a unit that a step of eight three-byte units must leave to the unit-by-unit
// path: ASCII, two-byte, the values just outside the ranges, a pair and lone surrogates, U+FFFE
// and U+FFFF; whole and in PutStrings of every length up to 40, so that a run ends at every
// lane of a step and at every distance from the string's end: written as PutChar writes them.
TEST(CBulkWriteTest, ThreeByteRunsWriteLikePutChar) {
  const char16_t inRun[] = {0x800, 0x4E2D, 0xD7FF, 0xE000, 0xEFFF, 0xF900, 0xFFFD, 0x3042};
  const std::u16string ends[] = {u"a",
                                 u"\u00E9",
                                 u"\u07FF",
                                 u"\U0001F600",
                                 u"\xD800"
                                 u"a",
                                 u"\xDFFF",
                                 u"\uFFFE",
                                 u"\uFFFF",
                                 u"\t"};
  std::u16string text;
  std::size_t next = 0;
  for (std::size_t length = 0; length <= 20; ++length) {
    for (const std::u16string& end : ends) {
      for (std::size_t k = 0; k < length; ++k)
        text += inRun[next++ % std::size(inRun)];
      text += end;
    }
  }
  EXPECT_EQ(Write(text, EncodingMode::Utf8, 4, true), Write(text, EncodingMode::Utf8, 4, false));
  for (const std::size_t pieces : {std::size_t{9}, std::size_t{17}, std::size_t{40}}) {
    EXPECT_EQ(Write(text, EncodingMode::Utf8, 4, true, false, pieces),
              Write(text, EncodingMode::Utf8, 4, false));
  }
}

// The steps for runs of three-byte characters are taken from the first flush after a block of
// CJK text and left after Latin text, a lone three-byte letter here and there included; a new
// output mode leaves them at once. Written as the way back writes, a short PutString at a time,
// the bytes are those of PutChar throughout, the UTF-16 after the change of mode among them.
TEST(CBulkWriteTest, ThreeByteStepsFollowTheTextWritten) {
  const std::u16string latin = u"<b>Kabel</b> kalt dr\u00FCcken, nie; ";
  const std::u16string sparse = latin + latin + latin + u"<b>Kabel</b> kalt dr\u1E3Fcken, nie; ";
  const std::u16string cjk =
      u"<b>\u5E95\u5EA7</b>\u51B7\u6C34\u7684\u5E95\u5EA7\u4E4B\u524D\u7535\u7F06 ";
  test::CStorageToSink<CHookedStorage> steps(EncodingMode::Utf8);
  test::CStorageToSink<CHookedStorage> units(EncodingMode::Utf8);
  const auto put = [&](const std::u16string& piece, int times) {
    for (int k = 0; k < times; ++k) {
      steps.storage.PutString(piece);
      for (const char16_t unit : piece)
        units.storage.PutChar(unit);
    }
  };
  EXPECT_FALSE(steps.storage.WritesThreeByteRunsInSteps());
  put(latin, 20000);
  EXPECT_FALSE(steps.storage.WritesThreeByteRunsInSteps());
  put(cjk, 20000);
  EXPECT_TRUE(steps.storage.WritesThreeByteRunsInSteps());
  put(sparse, 5000);
  EXPECT_FALSE(steps.storage.WritesThreeByteRunsInSteps());
  put(cjk, 20000);
  EXPECT_TRUE(steps.storage.WritesThreeByteRunsInSteps());
  steps.storage.SetOutputMode(EncodingMode::Utf16);
  units.storage.SetOutputMode(EncodingMode::Utf16);
  EXPECT_FALSE(steps.storage.WritesThreeByteRunsInSteps());
  put(cjk, 100);
  steps.storage.Flush();
  units.storage.Flush();
  EXPECT_EQ(steps.sink->Bytes(), units.sink->Bytes());
  EXPECT_EQ(steps.sink->WriteSizes(), units.sink->WriteSizes());
}

}  // namespace
}  // namespace tagvert

namespace tagvert {
namespace {

// UTF-16 to UTF-8 at the edges, ASCII taken four units at a time: every mix of ASCII, two- and
// three-byte characters, pairs and lone surrogates at every offset comes back whole through the
// decoder, a lone surrogate as U+FFFD.
TEST(Utf8EdgeTest, EveryMixAtEveryOffsetComesBack) {
  const char16_t pieces[] = {u'a', u'\n', 0x7F, 0x80, 0xE9, 0x7FF, 0x800, 0x4E2D, 0xFFFF, 0xD800};
  std::u16string text = u"offsets:", want = text;
  std::uint32_t seed = 1;
  for (int i = 0; i < 4000; ++i) {
    seed = seed * 1103515245U + 12345U;
    const char16_t unit = pieces[(seed >> 16) % (seed % 3 == 0 ? 10 : 3)];
    if (unit == 0xD800 && (seed & 0x100) != 0) {  // a pair, else a lone high or low half
      text += u"\xD83D\xDE00";
      want += u"\xD83D\xDE00";
      continue;
    }
    if (unit == 0xD800) {  // a lone low half, or a lone high half before ASCII
      text += (seed & 0x200) != 0 ? u"\xDC00"
                                  : u"\xD800"
                                    u"a";
      want += (seed & 0x200) != 0 ? u"\xFFFD"
                                  : u"\xFFFD"
                                    u"a";
      continue;
    }
    text += unit;
    want += unit;
  }
  for (std::size_t from = 0; from < 8; ++from) {
    std::string appended = "x";
    AppendUtf8(appended, std::u16string_view(text).substr(from));
    std::string whole(1, 'x');
    whole += Utf16ToUtf8(std::u16string_view(text).substr(from));
    EXPECT_EQ(appended, whole);
    EXPECT_EQ(Utf8ToUtf16(appended.substr(1)), want.substr(from)) << "from " << from;
  }
}

}  // namespace
}  // namespace tagvert
