// Tagvert: tests of the storage's bulk reads and writes: they leave the storage, the hooks and
// the target exactly as the unit-by-unit loops they replace.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "storage/data_storage.h"
#include "storage/storage_test_util.h"
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

// Reads `bytes` run by run (with the bulk read or with GetChar until a stop unit and UngetChar)
// and takes each stop unit (with TakeUtf16Char or GetChar), until the end or an abort.
CReadOutcome ReadRuns(const std::vector<std::uint8_t>& bytes, std::uint32_t chunk,
                      EncodingMode mode, bool bulk, bool toCode, std::uint64_t step,
                      std::size_t stopAtHook) {
  auto source = std::make_shared<test::CChunkedStream>(bytes, chunk);
  CHookedStorage storage(mode, EncodingMode::None);
  storage.Open(CEndpoint::Stream(source), CEndpoint());
  if (mode == EncodingMode::Single) storage.DetectBOM();
  storage.step = step;
  storage.stopAtHook = stopAtHook;
  auto isStop = [&](char16_t c) { return toCode ? c >= 0xE000 && c <= 0xEFFF : c == u'<'; };
  CReadOutcome outcome;
  try {
    for (;;) {
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
      // The IF reader takes the unit that ended a run with TakeUtf16Char.
      char16_t stopUnit = 0;
      if (!(bulk ? storage.TakeUtf16Char(stopUnit) : storage.GetChar(stopUnit))) break;
      outcome.runs.push_back(std::u16string(1, stopUnit));
    }
  } catch (const CHResultError& e) {
    outcome.aborted = e.Code() == kEAbort;
  }
  outcome.hookCalls = storage.hookCalls;
  outcome.count = storage.GetCharCount();
  return outcome;
}

class CBulkReadTest : public ::testing::TestWithParam<std::uint32_t> {};

INSTANTIATE_TEST_SUITE_P(ChunkSizes, CBulkReadTest, ::testing::ValuesIn(test::kChunkSizes));

// Runs of every length around one buffer, non-ASCII and undecodable bytes inside runs, both
// byte orders, a document that ends inside a run; hooks due at every byte, every 7 bytes and
// every 500 bytes, and a stop request made by a hook.
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
  std::vector<std::uint8_t> bigEndian = {0xFE, 0xFF};
  for (const char16_t unit : ifText) {
    bigEndian.push_back(static_cast<std::uint8_t>(unit >> 8));
    bigEndian.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  }
  struct CCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    EncodingMode mode;
    bool toCode;
  } cases[] = {{"UTF-8 markup", utf8, EncodingMode::Utf8, false},
               {"UTF-16 markup", test::Utf16LeBytes(markup), EncodingMode::Utf16, false},
               {"UTF-16 IF", test::Utf16LeBytes(ifText), EncodingMode::Utf16, true},
               {"UTF-16 IF, big-endian", bigEndian, EncodingMode::Single, true},
               {"empty", {}, EncodingMode::Utf8, false}};
  for (const CCase& c : cases) {
    for (const std::uint64_t step : {1u, 7u, 500u}) {
      for (const std::size_t stopAtHook : {0u, 3u}) {
        SCOPED_TRACE(std::string(c.name) + ", step " + std::to_string(step) + ", stop at hook " +
                     std::to_string(stopAtHook));
        const CReadOutcome units =
            ReadRuns(c.bytes, GetParam(), c.mode, false, c.toCode, step, stopAtHook);
        const CReadOutcome bulk =
            ReadRuns(c.bytes, GetParam(), c.mode, true, c.toCode, step, stopAtHook);
        EXPECT_EQ(units.aborted, stopAtHook != 0 && !c.bytes.empty());
        EXPECT_TRUE(bulk == units);
      }
    }
  }
}

// Reads the whole input with ReadAllUnits or with GetChar until it returns false.
CReadOutcome ReadAll(const std::vector<std::uint8_t>& bytes, std::uint32_t chunk, EncodingMode mode,
                     bool bulk, std::uint64_t step, std::size_t stopAtHook) {
  auto source = std::make_shared<test::CChunkedStream>(bytes, chunk);
  CHookedStorage storage(mode, EncodingMode::None);
  storage.Open(CEndpoint::Stream(source), CEndpoint());
  if (mode == EncodingMode::Single) storage.DetectBOM();
  storage.step = step;
  storage.stopAtHook = stopAtHook;
  CReadOutcome outcome;
  CUnitBuffer units;
  try {
    if (bulk) {
      storage.ReadAllUnits(units);
    } else {
      for (char16_t c = 0; storage.GetChar(c);)
        units.PushBack(c);
    }
  } catch (const CHResultError& e) {
    outcome.aborted = e.Code() == kEAbort;
  }
  outcome.runs.emplace_back(units.View());
  outcome.hookCalls = storage.hookCalls;
  // Where the hook acts between units, not only after how many bytes (the low half of a
  // four-byte character consumes none).
  outcome.hookCalls.insert(outcome.hookCalls.end(), storage.hookCounts.begin(),
                           storage.hookCounts.end());
  outcome.count = storage.GetCharCount();
  // The storage is left as the loop leaves it: the last unit can be pushed back.
  char16_t last = 0;
  storage.UngetChar();
  if (!outcome.aborted && storage.GetChar(last)) outcome.runs.emplace_back(1, last);
  return outcome;
}

// Every UTF-8 form (ASCII runs longer than the eight-byte steps, two-, three- and four-byte
// characters, a lone continuation byte, a cut-off sequence, bytes above F4, an overlong
// four-byte form, a truncated character at the very end) and both UTF-16 byte orders, with hooks
// due at every byte, every 7 and every 500 bytes, and a stop request made by a hook.
TEST_P(CBulkReadTest, WholeInputReadLikeTheUnitLoop) {
  std::u16string text;
  for (int i = 0; i < 300; ++i)
    text += (i % 3 == 0)   ? u"plain ascii text, "
            : (i % 3 == 1) ? u"\u00E9t\u00E9 \u20AC\u4E2D"
                           : u"\U0001F600a";
  std::vector<std::uint8_t> utf8 = Utf8Bytes(text);
  for (const std::size_t at : {17u, 400u, 1500u, 2900u}) {
    utf8.insert(utf8.begin() + static_cast<std::ptrdiff_t>(at),
                {0x80, 0xC3, 0x41, 0xE2, 0x82, 0x20, 0xF8, 0xF0, 0x80, 0x80, 0x80, 0xF4, 0x41});
  }
  std::vector<std::uint8_t> cutOff = utf8;
  cutOff.insert(cutOff.end(), {0xF0, 0x9F, 0x98});
  std::vector<std::uint8_t> bigEndian = {0xFE, 0xFF};
  for (const char16_t unit : text) {
    bigEndian.push_back(static_cast<std::uint8_t>(unit >> 8));
    bigEndian.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  }
  struct CCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    EncodingMode mode;
  } cases[] = {{"UTF-8", utf8, EncodingMode::Utf8},
               {"UTF-8 cut off", cutOff, EncodingMode::Utf8},
               {"UTF-16", test::Utf16LeBytes(text), EncodingMode::Utf16},
               {"UTF-16 big-endian", bigEndian, EncodingMode::Single},
               {"empty", {}, EncodingMode::Utf8}};
  for (const CCase& c : cases) {
    for (const std::uint64_t step : {1u, 7u, 500u}) {
      for (const std::size_t stopAtHook : {0u, 3u}) {
        SCOPED_TRACE(std::string(c.name) + ", step " + std::to_string(step) + ", stop at hook " +
                     std::to_string(stopAtHook));
        const CReadOutcome units = ReadAll(c.bytes, GetParam(), c.mode, false, step, stopAtHook);
        const CReadOutcome bulk = ReadAll(c.bytes, GetParam(), c.mode, true, step, stopAtHook);
        EXPECT_EQ(units.aborted, stopAtHook != 0 && !c.bytes.empty());
        EXPECT_TRUE(bulk == units);
      }
    }
  }
}

// PutString writes what PutChar unit by unit writes, with the same flushes (surrogate pairs and
// a lone high surrogate before ASCII included); the IF start rule, capture and a stop request
// still act on the unit they concern.
TEST(CBulkWriteTest, PutStringWritesLikePutChar) {
  std::u16string text;
  for (int i = 0; i < 900; ++i)
    text += (i % 50 == 0) ? u"\u00E9\u20AC" : (i % 70 == 0) ? u"\U0001F600\xD83Dx" : u"ab<";
  for (const EncodingMode mode : {EncodingMode::Utf8, EncodingMode::Utf16, EncodingMode::Single}) {
    for (const int variant : {0, 1, 2, 3}) {
      SCOPED_TRACE("mode " + std::to_string(static_cast<int>(mode)) + ", variant " +
                   std::to_string(variant));
      auto write = [&](bool bulk) {
        test::CStorageToSink<CHookedStorage> out(mode);
        if (variant == 1) out.storage.MarkOutputStart();
        if (variant == 2) out.storage.SetCapture(true);
        if (variant == 3) out.storage.stop.store(true);
        bool aborted = false;
        try {
          if (bulk) {
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
      };
      EXPECT_EQ(write(true), write(false));
    }
  }
}

// ASCII stretches that end at every offset around a flush and around the eight-unit blocks of
// the bulk copy, followed by units of two and three bytes, surrogate pairs and a long run of
// three-byte units: the bytes and the write sizes are those of PutChar.
TEST(CBulkWriteTest, StretchesEndingAtEveryOffsetAroundAFlush) {
  // A run of three-byte units longer than the first buffer crosses a flush by itself.
  const std::u16string longRun = std::u16string(400, u'\u4E2D') + u"\u0416\U0001F600";
  for (const std::u16string& tail :
       {std::u16string(u"\u00E9"), std::u16string(u"\u20AC\u00E9"), std::u16string(u"\U0001F600"),
        std::u16string(u"<&]"), longRun}) {
    for (std::size_t length = 1010; length <= 1030; ++length) {
      SCOPED_TRACE("length " + std::to_string(length));
      std::u16string text(length, u'a');
      text += tail;
      text += std::u16string(2100, u'b') + tail + std::u16string(9, u'c');
      auto write = [&](bool bulk) {
        test::CStorageToSink<CHookedStorage> out(EncodingMode::Utf8);
        out.storage.PutBOM();
        if (bulk) {
          out.storage.PutString(text);
        } else {
          for (const char16_t unit : text)
            out.storage.PutChar(unit);
        }
        out.storage.Flush();
        return std::make_pair(out.sink->Bytes(), out.sink->WriteSizes());
      };
      EXPECT_EQ(write(true), write(false));
    }
  }
}

}  // namespace
}  // namespace tagvert
