// Tagvert: tests of the converter frame: entry points, state, stop, failures and events.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/frame_test_util.h"
#include "ifcodec/if_tokens.h"
#include "storage/memory_stream.h"

namespace tagvert {
namespace {

using test::CChunkedStream;
using test::CSinkStream;
using test::Utf16LeUnits;
using test::Utf8Bytes;
using Events = std::vector<std::string>;

Events Progress(int from, int to) {
  Events out;
  for (int p = from; p <= to; p += 10)
    out.push_back("Progress " + std::to_string(p) + "/100");
  return out;
}

Events Concat(Events a, const Events& b, const Events& c = {}) {
  a.insert(a.end(), b.begin(), b.end());
  a.insert(a.end(), c.begin(), c.end());
  return a;
}

// A converter with one listener that records every event.
class CConverterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(converter.Advise(recorder, cookie), kSOk); }

  HResult Convert(ByteStreamPtr source, ByteStreamPtr target = std::make_shared<CSinkStream>()) {
    return converter.ConvertToIF(CEndpoint::Stream(std::move(source)),
                                 CEndpoint::Stream(std::move(target)));
  }
  Events ProgressEvents() const {
    Events out;
    for (const auto& e : recorder->events) {
      if (e.rfind("Progress", 0) == 0) out.push_back(e);
    }
    return out;
  }

  CTagvertConverter converter;
  std::shared_ptr<test::CEventRecorder> recorder = std::make_shared<test::CEventRecorder>();
  std::uint32_t cookie = 0;
};

TEST_F(CConverterTest, NormalConversionWritesIfAndSendsEveryTenthOnce) {
  // An empty input, converted first, gives the header alone and progress 100.
  EXPECT_EQ(Utf16LeUnits(test::ToIf({}, &converter).output), u"\uE804TTX\uE000");
  EXPECT_EQ(recorder->events, (Events{"State 1", "Text ", "Progress 100/100", "State 0"}));
  auto c = test::ToIf(Utf8Bytes(u"<a>x</a>"), &converter);
  ASSERT_EQ(c.result, kSOk);
  // The pair id is the second run's: 101 at reading, 102 after the structuring stage.
  EXPECT_EQ(Utf16LeUnits(c.output),
            u"\uE804TTX\uE000\uE805\u0066<a>\uE000x\uE404\uE805\u0066</a>\uE000");
  recorder->events.clear();
  // 100 one-byte characters: every tenth percent is met exactly once.
  ASSERT_EQ(test::ToIf(Utf8Bytes(std::u16string(100, u'a')), &converter).result, kSOk);
  EXPECT_EQ(recorder->events, Concat({"State 1", "Text "}, Progress(0, 100), {"State 0"}));
  EXPECT_EQ(converter.State(), kStateIdle);
}

TEST_F(CConverterTest, StopFromProgressEndsWithStateStopped) {
  recorder->onProgress = [&](int p) {
    if (p == 30) converter.Stop();
  };
  const auto c = test::ToIf(Utf8Bytes(std::u16string(100, u'a')), &converter);
  EXPECT_EQ(c.result, kSOk);
  EXPECT_TRUE(c.output.empty());  // the header comes only after the read loop
  EXPECT_EQ(recorder->events, Concat({"State 1", "Text "}, Progress(0, 30), {"State 2"}));
  EXPECT_EQ(converter.State(), kStateStopped);
  // The next conversion clears the request; so does one requested before it starts.
  converter.Stop();
  EXPECT_EQ(test::ToIf(Utf8Bytes(u"<a/>"), &converter).result, kSOk);
  EXPECT_EQ(converter.State(), kStateIdle);
}

// The way back reads and writes long runs in bulk; a stop made by a listener at a progress event
// still lands on the next unit: nothing more is read and nothing more reaches the target.
TEST_F(CConverterTest, StopFromProgressOfTheWayBackLandsOnTheNextUnit) {
  std::u16string ifText = u"\uE804TTX\uE000";
  for (int i = 0; i < 40; ++i) {
    ifText += std::u16string(700, static_cast<char16_t>(u'a' + i % 26)) + u"&\u00E9";
    ifText += u"\uE805\u0065<b>\uE000";
  }
  for (const int stopAt : {10, 30, 60, 90}) {
    SCOPED_TRACE("stop at " + std::to_string(stopAt));
    auto sink = std::make_shared<CSinkStream>();
    std::int32_t countAtStop = -1;
    std::size_t bytesAtStop = 0;
    recorder->onProgress = [&](int p) {
      if (p != stopAt) return;
      countAtStop = converter.GetCharCount();
      bytesAtStop = sink->Bytes().size();
      converter.Stop();
    };
    const auto source = std::make_shared<CChunkedStream>(test::Utf16LeBytes(ifText), 1000);
    ASSERT_EQ(converter.ConvertFromIF(CEndpoint::Stream(source), CEndpoint::Stream(sink)), kSOk);
    EXPECT_EQ(converter.State(), kStateStopped);
    // The unit whose read ran the event is delivered (and may be pushed back); no other.
    ASSERT_GE(countAtStop, 0);
    EXPECT_LE(converter.GetCharCount() - countAtStop, 1);
    EXPECT_EQ(sink->Bytes().size(), bytesAtStop);
    EXPECT_FALSE(sink->Bytes().empty());
  }
}

// A target that takes only part of a write fails the conversion with E_FAIL, after the short
// write's state; nothing is written after it.
TEST_F(CConverterTest, ShortWriteFailsTheConversion) {
  auto sink = std::make_shared<CSinkStream>(4);
  EXPECT_EQ(Convert(std::make_shared<CMemoryStream>(Utf8Bytes(u"<a>x</a>")), sink), kEFail);
  // The IF is written by the final flush, after the state of a finished conversion.
  ASSERT_GE(recorder->events.size(), 3U);
  EXPECT_EQ(Events(recorder->events.end() - 3, recorder->events.end()),
            (Events{"State 0", "State 32771", "State 32768"}));
  EXPECT_EQ(sink->WriteSizes().size(), 1U);
}

TEST_F(CConverterTest, OpenFailuresComeBeforeStateConverting) {
  auto sink = CEndpoint::Stream(std::make_shared<CSinkStream>());
  auto source = CEndpoint::Stream(std::make_shared<CMemoryStream>());
  EXPECT_EQ(converter.ConvertToIF(CEndpoint::File(u"/nonexistent/tagvert/a.ttx"), sink),
            kEInvalidArg);
  EXPECT_EQ(converter.ConvertToIF(CEndpoint::Other(), sink), kEInvalidArg);
  EXPECT_EQ(converter.ConvertToIF(source, CEndpoint::Other()), kEInvalidArg);
  EXPECT_EQ(converter.ConvertFromIF(CEndpoint(), sink), kEInvalidArg);
  EXPECT_EQ(converter.ConvertToIF(CEndpoint::Stream(nullptr), sink), kEInvalidArg);
  EXPECT_EQ(recorder->events, Events(5, "State 32768"));
  EXPECT_EQ(converter.State(), kStateFailed);
}

TEST_F(CConverterTest, ProgressOfUnsizedPartWayAndUnevenSources) {
  // Without a size the percentage is 100 from the first read.
  auto unsized = std::make_shared<CChunkedStream>(Utf8Bytes(u"<a>text</a>"), 3);
  unsized->HideSize();
  ASSERT_EQ(Convert(unsized), kSOk);
  EXPECT_EQ(ProgressEvents(), (Events{"Progress 100/100"}));
  // 1000 bytes positioned at 500: the first read reports 50.
  recorder->events.clear();
  ASSERT_EQ(
      Convert(std::make_shared<CChunkedStream>(Utf8Bytes(std::u16string(1000, u'x')), 7, 500)),
      kSOk);
  EXPECT_EQ(ProgressEvents(), Progress(50, 100));
  // Sizes whose tenths fall inside three-byte characters still meet each tenth once.
  for (int n : {99, 101, 997, 4099}) {
    SCOPED_TRACE(n);
    recorder->events.clear();
    ASSERT_EQ(
        test::ToIf(Utf8Bytes(std::u16string(static_cast<size_t>(n), u'\u20AC')), &converter).result,
        kSOk);
    EXPECT_EQ(ProgressEvents(), Progress(0, 100));
  }
}

TEST_F(CConverterTest, ListenersComeAndGoDuringAnEvent) {
  auto second = std::make_shared<test::CEventRecorder>();
  std::uint32_t secondCookie = 0;
  converter.Advise(second, secondCookie);
  recorder->onProgress = [&](int) { converter.Unadvise(secondCookie); };
  ASSERT_EQ(test::ToIf(Utf8Bytes(u"abc"), &converter).result, kSOk);
  EXPECT_EQ(second->events, (Events{"State 1", "Text "}));
  EXPECT_EQ(recorder->events.back(), "State 0");
}

TEST_F(CConverterTest, ListenerAdvisedDuringDeliveryIsReachedWithinTheAllocatedSlots) {
  // Slot 2 of the 4 allocated: reached by the delivery that advised it.
  auto late = std::make_shared<test::CEventRecorder>();
  std::uint32_t lateCookie = 0;
  recorder->onProgress = [&](int p) {
    if (p == 0) converter.Advise(late, lateCookie);
  };
  ASSERT_EQ(test::ToIf(Utf8Bytes(u"abc"), &converter).result, kSOk);
  ASSERT_EQ(lateCookie, 2U);
  ASSERT_FALSE(late->events.empty());
  EXPECT_EQ(late->events.front(), "Progress 0/100");

  // All four slots taken: the fifth lies beyond the count read when the delivery began.
  std::uint32_t fifthCookie = 0;
  converter.Advise(std::make_shared<test::CEventRecorder>(), fifthCookie);
  converter.Advise(std::make_shared<test::CEventRecorder>(), fifthCookie);
  auto fifth = std::make_shared<test::CEventRecorder>();
  recorder->onProgress = [&](int p) {
    if (p == 0) converter.Advise(fifth, fifthCookie);
  };
  ASSERT_EQ(test::ToIf(Utf8Bytes(u"abc"), &converter).result, kSOk);
  ASSERT_EQ(fifthCookie, 5U);
  ASSERT_FALSE(fifth->events.empty());
  EXPECT_EQ(fifth->events.front(), "Progress 100/100");
}

// A listener that cannot be reached throws CHResultError.
class CUnreachable : public ITransEventsListener {
 public:
  void OnTextChange(const std::u16string&) override { ThrowHResult(MakeHResult(0x8000FFFF)); }
  void OnStateChange(std::int32_t state) override {
    if (state == kStateFailed) ThrowHResult(MakeHResult(0x8000FFFF));
  }
};

TEST_F(CConverterTest, UnreachableListenerFailsTheConversionButNotTheFinalState) {
  std::uint32_t otherCookie = 0;
  converter.Advise(std::make_shared<CUnreachable>(), otherCookie);
  auto after = std::make_shared<test::CEventRecorder>();
  converter.Advise(after, otherCookie);
  EXPECT_EQ(test::ToIf(Utf8Bytes(u"abc"), &converter).result, MakeHResult(0x8000FFFF));
  // The text ended its delivery before the listener behind it; the failure reached everyone.
  EXPECT_EQ(after->events, (Events{"State 1", "State 32768"}));
  EXPECT_EQ(converter.State(), kStateFailed);
}

TEST(CTransEventsBaseTest, CookiesAreSlotNumbersAndSlotsAreReused) {
  CTagvertConverter converter;
  std::vector<std::uint32_t> cookies(4);
  for (auto& cookie : cookies) {
    ASSERT_EQ(converter.Advise(std::make_shared<test::CEventRecorder>(), cookie), kSOk);
  }
  EXPECT_EQ(cookies, (std::vector<std::uint32_t>{1, 2, 3, 4}));
  EXPECT_EQ(converter.Unadvise(2), kSOk);
  EXPECT_EQ(converter.Unadvise(2), kConnectENoConnection);
  EXPECT_EQ(converter.Unadvise(99), kConnectENoConnection);
  std::uint32_t cookie = 0;
  converter.Advise(std::make_shared<test::CEventRecorder>(), cookie);
  EXPECT_EQ(cookie, 2U);
  converter.Advise(std::make_shared<test::CEventRecorder>(), cookie);
  EXPECT_EQ(cookie, 5U);
  EXPECT_EQ(converter.EnumConnections().size(), 5U);
  EXPECT_EQ(converter.Advise(nullptr, cookie), kConnectECannotConnect);
}

// IF of one tag group with pair id 1, and of the inline single tag of one no-break space.
std::u16string Tag(std::u16string_view source) {
  return u"\uE805\u0001" + std::u16string(source) + u"\uE000";
}
const std::u16string kNbspTag = std::u16string(u"\uE805\0\u00A0\uE000", 4);

// The way back gives the document its own spacing after no-break spaces, keeps "]]>" out of
// text, labels the declaration of the UTF-8 it writes and writes a surrogate pair as one
// character. Each row: the IF after the header, and the TTX written back (after its mark).
TEST(CTTXFromIfConverterTest, WayBackRestoresWhatTheWayInChanged) {
  const struct {
    const char* name;
    std::u16string ifBody, ttx;
  } cases[] = {
      {"space after a no-break space", u"1.7" + kNbspTag + u" l.", u"1.7\u00A0l."},
      {"only one space goes", kNbspTag + u"  x", u"\u00A0 x"},
      {"no space to take", kNbspTag + u"x", u"\u00A0x"},
      {"run of one space", kNbspTag + u" " + Tag(u"<b>"), u"\u00A0<b>"},
      {"then spaces next to a no-break space in the run", kNbspTag + u"  \u00A0 y",
       u"\u00A0\u00A0y"},
      {"not directly after", kNbspTag + Tag(u"<b>") + u" x", u"\u00A0<b> x"},
      {"tag of two no-break spaces", Tag(u"\u00A0\u00A0") + u" x", u"\u00A0\u00A0 x"},
      {"not after a no-break space", Tag(u"<b>") + u" x", u"<b> x"},
      {"]]> in text", u"a]]>b", u"a]]&gt;b"},
      {"]]]> and two in a row", u"]]]>]]>", u"]]]&gt;]]&gt;"},
      {"no ]]>", u"] ]>]>a<b&c>d", u"] ]>]>a&lt;b&amp;c>d"},
      {"more than sixteen to escape", std::u16string(17, u'&') + u"]]>]" + u"<",
       [] {
         std::u16string ttx;
         for (int i = 0; i < 17; ++i)
           ttx += u"&amp;";
         return ttx + u"]]&gt;]&lt;";
       }()},
      {"markup as it is, text escaped", Tag(u"<a href=\"x&amp;y\">") + u"a<b & c",
       u"<a href=\"x&amp;y\">a&lt;b &amp; c"},
      {"]]> in markup", Tag(u"<![CDATA[a]]>"), u"<![CDATA[a]]>"},
      {"declared UTF-16", Tag(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>") + u"\r\n",
       u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"},
      {"quotes and spacing stay",
       Tag(u"<?xml\tversion='1.0'\r\n encoding = 'utf-16' standalone='no' ?>"),
       u"<?xml\tversion='1.0'\r\n encoding = 'UTF-8' standalone='no' ?>"},
      {"declared UTF-8 in any case", Tag(u"<?xml version=\"1.0\" encoding=\"utf-8\"?>"),
       u"<?xml version=\"1.0\" encoding=\"utf-8\"?>"},
      {"no encoding", Tag(u"<?xml version='1.0'?>"), u"<?xml version='1.0'?>"},
      {"not a declaration", Tag(u"<?xml-model encoding=\"UTF-16\"?>"),
       u"<?xml-model encoding=\"UTF-16\"?>"},
      {"not at the start", Tag(u"<a>") + Tag(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>"),
       u"<a><?xml version=\"1.0\" encoding=\"UTF-16\"?>"},
      {"unterminated", Tag(u"<?xml encoding=\"UTF-16\""), u"<?xml encoding=\"UTF-16\""},
      // Declarations that cannot be read are left as they are.
      {"a name alone", Tag(u"<?xml version?>"), u"<?xml version?>"},
      {"no =", Tag(u"<?xml version 1?>"), u"<?xml version 1?>"},
      {"= at the end", Tag(u"<?xml encoding= ?>"), u"<?xml encoding= ?>"},
      {"no quote", Tag(u"<?xml encoding=UTF-16?>"), u"<?xml encoding=UTF-16?>"},
      {"value past ?>", Tag(u"<?xml encoding='UTF-16?>'"), u"<?xml encoding='UTF-16?>'"},
      {"value unclosed", Tag(u"<?xml encoding='UTF-16?>"), u"<?xml encoding='UTF-16?>"},
      {"reference of a code-range unit", u"a" + std::u16string(u"\uE805\0&#xE000;\uE000b", 12),
       u"a&#xE000;b"},
      {"surrogate pair in text and markup", u"\xD83D\xDE00" + Tag(u"<a t=\"\xD840\xDC00\">"),
       u"\xD83D\xDE00<a t=\"\xD840\xDC00\">"},
  };
  CTagvertConverter converter;
  EXPECT_EQ(test::FromIf({}, &converter).output, (std::vector<std::uint8_t>{0xEF, 0xBB, 0xBF}));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto back = test::FromIf(test::Utf16LeBytes(u"\uE804TTX\uE000" + c.ifBody), &converter);
    ASSERT_EQ(back.result, kSOk);
    EXPECT_EQ(back.output, Utf8Bytes(c.ttx, true));
  }
}

// A tag writes codes decided by its kind (type, algorithm, block or inline): reserved pairs and
// removed blocks, which only rules other than the built-in ones give, write theirs too.
TEST(CTTXToIfConverterTest, ReservedAndRemovedTagsWriteTheirKindsCodes) {
  using namespace std::string_literals;
  CTagvertConverter converter;
  const std::string rules =
      "<Orvel-TransML><Rules><Rule Name='k' Type='Inline' Algorithm='Reserve'/>"
      "<Rule Name='d' Type='Block' Algorithm='Remove'/><Rule Name='i' Type='Block'/></Rules>"
      "</Orvel-TransML>";
  ASSERT_TRUE(converter.GetRules().LoadStream(
      std::make_shared<CMemoryStream>(std::vector<std::uint8_t>(rules.begin(), rules.end())),
      false));
  const auto to = test::ToIf(
      Utf8Bytes(u"<TRADOStag><Body><Raw>a<k>b</k><d>c</d><i/>e</x></Raw></Body></TRADOStag>"),
      &converter);
  ASSERT_EQ(to.result, kSOk);
  const std::u16string units = Utf16LeUnits(to.output);
  // A reserved start tag is followed by the reserve group, its end tag preceded by it; a removed
  // block leaves its block mark; an empty block tag carries pair id 0, an unpaired end tag its own.
  const std::u16string expected =
      u"a\uE805n<k>\uE000\uE80A\0\0\uE000b\uE404\uE80A\0\0\uE000\uE404\uE805n</k>\uE000"
      u"\uE405c\uE405\uE405\uE805\0<i/>\uE000e\uE404\uE805p</x>\uE000"s;
  EXPECT_NE(units.find(expected), std::u16string::npos) << test::Printable(units);
}

// The IF writer copies texts straight into the output buffer where it has room, and writes them
// piece by piece where it has not or where a text holds a unit of the code range, which it spells
// out. Over a document whose texts land at every point of the buffer as it grows, both give the
// same IF: texts with references and no-break spaces, with code-range units, and plain ones.
TEST(CTTXToIfConverterTest, TextsCopiedStraightAsWrittenPieceByPiece) {
  const std::u16string nbsp = kNbspTag + u" ";
  // An inline single tag: pair id 0.
  const auto single = [](const char16_t* source) {
    return std::u16string(u"\uE805\0", 2) + source + u"\uE000";
  };
  const std::pair<std::u16string, std::u16string> pieces[] = {
      {u"x&amp;\u00A0y", u"x&" + nbsp + u"y"},
      {u"p\uE805q\u00A0r", u"p" + single(u"&#xE805;") + u"q" + nbsp + u"r"},
      {u"s&lt;\uE000t", u"s<" + single(u"&#xE000;") + u"t"},
      {u"u&gt;v", u"u>v"},
      {u"plain", u"plain"},
  };
  std::u16string ttx = u"<TRADOStag><Body><Raw>";
  std::u16string expected;
  for (std::size_t k = 0; expected.size() < 600000; ++k) {
    const auto& [text, written] = pieces[k % std::size(pieces)];
    const std::u16string filler(k % 97, static_cast<char16_t>(u'a' + k % 26));
    ttx += text + filler + u"<br/>";
    expected += written + filler + single(u"<br/>");
  }
  CTagvertConverter converter;
  const auto to = test::ToIf(Utf8Bytes(ttx + u"</Raw></Body></TRADOStag>"), &converter);
  ASSERT_EQ(to.result, kSOk);
  EXPECT_NE(Utf16LeUnits(to.output).find(expected), std::u16string::npos);
}

// The way back walks the IF's codes over the storage's buffer, element by element only for a
// token observer. Both give the same TTX on a long IF whose runs, groups and group data cross
// the ends of the buffer and the points where progress is reported.
TEST(CTTXFromIfConverterTest, CodeWalkWritesWhatTheElementReaderWrites) {
  struct CNoTokens : IIfTokenObserver {
    void OnIfToken(const CIfToken&, std::uint64_t) override {}
  } tokens;
  const std::u16string pieces[] = {
      kNbspTag + u" a\r\n", Tag(u"<b>"),
      u"x]]>y<&\u00A0 z",   u"\uE405\uE404" + Tag(u"</b>"),
      u"\uEC03skip\uE000",  u"\uE80A\uE000\uE805\uE000",
      u"\uE012\uE411",      kNbspTag + u"\uE000 ",
  };
  std::u16string body = u"\uE804TTX\uE000" + Tag(u"<?xml encoding='UTF-16'?>");
  for (std::size_t k = 0; body.size() < 300000; ++k)
    body += pieces[k % std::size(pieces)] +
            std::u16string(k % 97, static_cast<char16_t>(u'a' + k % 26));
  // Ending in text, in a tag group before its pair id, and inside a tag's source text.
  for (const char16_t* end : {u"text", u"\uE805", u"\uE805\u0001<i"}) {
    const std::u16string ifUnits = body + end;
    CTagvertConverter walking;
    CTagvertConverter reading;
    reading.SetIfTokenObserver(&tokens);
    const auto walked = test::FromIf(test::Utf16LeBytes(ifUnits), &walking);
    ASSERT_EQ(walked.result, kSOk);
    EXPECT_EQ(walked.output, test::FromIf(test::Utf16LeBytes(ifUnits), &reading).output);
  }
}

}  // namespace
}  // namespace tagvert
