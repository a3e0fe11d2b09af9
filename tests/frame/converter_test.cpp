// Tagvert: tests of the converter frame: entry points, state, stop, failures and events.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/frame_test_util.h"

namespace tagvert {
namespace {

using test::CChunkedStream;
using test::CEventRecorder;
using test::CSinkStream;
using test::FromIf;
using test::ToIf;
using test::Utf16LeUnits;
using test::Utf8Bytes;

std::vector<std::string> Progress(int from, int to) {
  std::vector<std::string> out;
  for (int p = from; p <= to; p += 10)
    out.push_back("Progress " + std::to_string(p) + "/100");
  return out;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(CTTXConverterBaseTest, WritesTheHeaderAndTagGroups) {
  CTagvertConverter converter;
  const auto c = ToIf(Utf8Bytes(u"<a>x</a>"), &converter);
  ASSERT_EQ(c.result, kSOk);
  EXPECT_EQ(Utf16LeUnits(c.output),
            u"\uE804TTX\uE000"
            u"\uE805\u0066<a>\uE000"
            u"x"
            u"\uE404\uE805\u0066</a>\uE000");
  EXPECT_EQ(converter.State(), kStateIdle);
}

TEST(CTTXConverterBaseTest, EmptyInputGivesTheHeaderAndProgress100) {
  CTagvertConverter converter;
  auto recorder = std::make_shared<CEventRecorder>();
  std::uint32_t cookie = 0;
  ASSERT_EQ(converter.Advise(recorder, cookie), kSOk);
  const auto c = ToIf({}, &converter);
  ASSERT_EQ(c.result, kSOk);
  EXPECT_EQ(Utf16LeUnits(c.output), u"\uE804TTX\uE000");
  EXPECT_EQ(recorder->events,
            (std::vector<std::string>{"State 1", "Text ", "Progress 100/100", "State 0"}));
}

TEST(CTTXConverterBaseTest, NormalConversionSendsEveryTenthOnce) {
  CTagvertConverter converter;
  auto recorder = std::make_shared<CEventRecorder>();
  std::uint32_t cookie = 0;
  converter.Advise(recorder, cookie);
  // 100 one-byte characters: every tenth percent is met exactly once.
  const auto c = ToIf(Utf8Bytes(std::u16string(100, u'a')), &converter);
  ASSERT_EQ(c.result, kSOk);
  EXPECT_EQ(recorder->events, Concat(Concat({"State 1", "Text "}, Progress(0, 100)), {"State 0"}));
}

TEST(CTTXConverterBaseTest, StopFromProgressEndsWithStateStopped) {
  CTagvertConverter converter;
  auto recorder = std::make_shared<CEventRecorder>();
  std::uint32_t cookie = 0;
  converter.Advise(recorder, cookie);
  recorder->onProgress = [&](int p) {
    if (p == 30) converter.Stop();
  };
  const auto c = ToIf(Utf8Bytes(std::u16string(100, u'a')), &converter);
  EXPECT_EQ(c.result, kSOk);
  EXPECT_TRUE(c.output.empty());  // the header comes only after the read loop
  EXPECT_EQ(recorder->events, Concat(Concat({"State 1", "Text "}, Progress(0, 30)), {"State 2"}));
  EXPECT_EQ(converter.State(), kStateStopped);
}

TEST(CTTXConverterBaseTest, StopBeforeConversionIsClearedByIt) {
  CTagvertConverter converter;
  EXPECT_EQ(converter.Stop(), kSOk);
  const auto c = ToIf(Utf8Bytes(u"<a/>"), &converter);
  EXPECT_EQ(c.result, kSOk);
  EXPECT_EQ(converter.State(), kStateIdle);
  EXPECT_FALSE(c.output.empty());
}

TEST(CTTXConverterBaseTest, MissingSourceFailsBeforeStateConverting) {
  CTagvertConverter converter;
  auto recorder = std::make_shared<CEventRecorder>();
  std::uint32_t cookie = 0;
  converter.Advise(recorder, cookie);
  const HResult hr = converter.ConvertToIF(CEndpoint::File(u"/nonexistent/tagvert/a.ttx"),
                                           CEndpoint::Stream(std::make_shared<CSinkStream>()));
  EXPECT_EQ(hr, kEInvalidArg);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"State 32768"}));
  EXPECT_EQ(converter.State(), kStateFailed);
}

TEST(CTTXConverterBaseTest, RefusesEndpointsOfOtherKinds) {
  CTagvertConverter converter;
  auto sink = CEndpoint::Stream(std::make_shared<CSinkStream>());
  auto source = CEndpoint::Stream(std::make_shared<CMemoryStream>());
  EXPECT_EQ(converter.ConvertToIF(CEndpoint::Other(), sink), kEInvalidArg);
  EXPECT_EQ(converter.ConvertToIF(source, CEndpoint::Other()), kEInvalidArg);
  EXPECT_EQ(converter.ConvertFromIF(CEndpoint(), sink), kEInvalidArg);
  EXPECT_EQ(converter.ConvertToIF(CEndpoint::Stream(nullptr), sink), kEInvalidArg);
}

TEST(CTTXConverterBaseTest, ShortWriteReportsStorageCodeThenFailure) {
  CTagvertConverter converter;
  auto recorder = std::make_shared<CEventRecorder>();
  std::uint32_t cookie = 0;
  converter.Advise(recorder, cookie);
  auto source = std::make_shared<CMemoryStream>(Utf8Bytes(u"<a>text</a>"));
  auto target = std::make_shared<CSinkStream>(5);
  const HResult hr = converter.ConvertToIF(CEndpoint::Stream(source), CEndpoint::Stream(target));
  EXPECT_EQ(hr, kEFail);
  ASSERT_GE(recorder->events.size(), 3U);
  EXPECT_EQ(recorder->events[recorder->events.size() - 2], "State 32771");
  EXPECT_EQ(recorder->events.back(), "State 32768");
  // The state before the failure was the end of the driver: the flush comes after it.
  EXPECT_EQ(recorder->events[recorder->events.size() - 3], "State 0");
}

TEST(CTTXConverterBaseTest, SourceReadFailurePassesItsCode) {
  CTagvertConverter converter;
  auto source = std::make_shared<CChunkedStream>(Utf8Bytes(std::u16string(5000, u'x')), 512);
  const HResult code = MakeHResult(0x80030005);
  source->FailAfter(1024, code);
  const HResult hr = converter.ConvertToIF(CEndpoint::Stream(source),
                                           CEndpoint::Stream(std::make_shared<CSinkStream>()));
  EXPECT_EQ(hr, code);
  EXPECT_EQ(converter.State(), kStateFailed);
}

TEST(CTTXConverterBaseTest, FormatTestProgressIsNotRepeatedByTheConversion) {
  CTagvertConverter converter;
  auto recorder = std::make_shared<CEventRecorder>();
  std::uint32_t cookie = 0;
  converter.Advise(recorder, cookie);
  const auto bytes = Utf8Bytes(u"<?xml version='1.0'?><TRADOStag>" + std::u16string(4000, u'x'));
  auto source = std::make_shared<CMemoryStream>(bytes);
  EXPECT_EQ(converter.IsFormatAvailable(CEndpoint::Stream(source)), kSOk);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"Progress 0/100"}));
  recorder->events.clear();
  ASSERT_EQ(ToIf(bytes, &converter).result, kSOk);
  EXPECT_EQ(recorder->events, Concat(Concat({"State 1", "Text "}, Progress(10, 100)), {"State 0"}));
}

TEST(CTTXConverterBaseTest, ListenersMayUnadviseThemselvesDuringAnEvent) {
  CTagvertConverter converter;
  auto first = std::make_shared<CEventRecorder>();
  auto second = std::make_shared<CEventRecorder>();
  std::uint32_t firstCookie = 0;
  std::uint32_t secondCookie = 0;
  converter.Advise(first, firstCookie);
  converter.Advise(second, secondCookie);
  first->onProgress = [&](int) { converter.Unadvise(secondCookie); };
  ASSERT_EQ(ToIf(Utf8Bytes(u"abc"), &converter).result, kSOk);
  EXPECT_EQ(second->events, (std::vector<std::string>{"State 1", "Text "}));
  EXPECT_EQ(first->events.back(), "State 0");
}

TEST(CTransEventsBaseTest, CookiesAreSlotNumbersAndSlotsAreReused) {
  CTagvertConverter converter;
  std::vector<std::uint32_t> cookies;
  for (int i = 0; i < 4; ++i) {
    std::uint32_t cookie = 0;
    ASSERT_EQ(converter.Advise(std::make_shared<CEventRecorder>(), cookie), kSOk);
    cookies.push_back(cookie);
  }
  EXPECT_EQ(cookies, (std::vector<std::uint32_t>{1, 2, 3, 4}));
  EXPECT_EQ(converter.Unadvise(2), kSOk);
  EXPECT_EQ(converter.Unadvise(2), kConnectENoConnection);
  EXPECT_EQ(converter.Unadvise(99), kConnectENoConnection);
  std::uint32_t cookie = 0;
  converter.Advise(std::make_shared<CEventRecorder>(), cookie);
  EXPECT_EQ(cookie, 2U);
  converter.Advise(std::make_shared<CEventRecorder>(), cookie);
  EXPECT_EQ(cookie, 5U);
  EXPECT_EQ(converter.EnumConnections().size(), 5U);
  EXPECT_EQ(converter.Advise(nullptr, cookie), kConnectECannotConnect);
}

TEST(CTTXConverterBaseTest, NoListenersStillUpdatesState) {
  CTagvertConverter converter;
  EXPECT_EQ(converter.State(), kStateIdle);
  converter.ConvertToIF(CEndpoint::Other(), CEndpoint::Other());
  EXPECT_EQ(converter.State(), kStateFailed);
  ASSERT_EQ(ToIf(Utf8Bytes(u"x"), &converter).result, kSOk);
  EXPECT_EQ(converter.State(), kStateIdle);
}

TEST(CTTXConverterBaseTest, FromIfWritesBomAndEscapesTextOnly) {
  CTagvertConverter converter;
  const std::u16string ifText =
      u"\uE804TTX\uE000\uE805\u0065<a href=\"x&amp;y\">\uE000a<b & c\u00A0 d";
  const auto c = FromIf(test::Utf16LeBytes(ifText), &converter);
  ASSERT_EQ(c.result, kSOk);
  const std::vector<std::uint8_t> expected =
      Utf8Bytes(u"<a href=\"x&amp;y\">a&lt;b &amp; c\u00A0d", true);
  EXPECT_EQ(c.output, expected);
}

TEST(CTTXConverterBaseTest, FromIfOfNothingIsTheBomAlone) {
  CTagvertConverter converter;
  const auto c = FromIf({}, &converter);
  ASSERT_EQ(c.result, kSOk);
  EXPECT_EQ(c.output, (std::vector<std::uint8_t>{0xEF, 0xBB, 0xBF}));
}

}  // namespace
}  // namespace tagvert

namespace tagvert {
namespace {

std::vector<std::string> ProgressEvents(const std::vector<std::string>& events) {
  std::vector<std::string> out;
  for (const auto& e : events) {
    if (e.rfind("Progress", 0) == 0) out.push_back(e);
  }
  return out;
}

TEST(CTTXConverterBaseTest, ProgressOfAStreamHandedOverPartWay) {
  CTagvertConverter converter;
  auto recorder = std::make_shared<test::CEventRecorder>();
  std::uint32_t cookie = 0;
  converter.Advise(recorder, cookie);
  // 1000 bytes, positioned at 500: the first read reports 50, the end 100.
  auto source =
      std::make_shared<test::CChunkedStream>(test::Utf8Bytes(std::u16string(1000, u'x')), 7, 500);
  ASSERT_EQ(converter.ConvertToIF(CEndpoint::Stream(source),
                                  CEndpoint::Stream(std::make_shared<test::CSinkStream>())),
            kSOk);
  EXPECT_EQ(ProgressEvents(recorder->events), Progress(50, 100));
}

TEST(CTTXConverterBaseTest, UnsizedSourceReportsHundredOnce) {
  CTagvertConverter converter;
  auto recorder = std::make_shared<test::CEventRecorder>();
  std::uint32_t cookie = 0;
  converter.Advise(recorder, cookie);
  auto source = std::make_shared<test::CChunkedStream>(test::Utf8Bytes(u"<a>text</a>"), 3);
  source->HideSize();
  ASSERT_EQ(converter.ConvertToIF(CEndpoint::Stream(source),
                                  CEndpoint::Stream(std::make_shared<test::CSinkStream>())),
            kSOk);
  EXPECT_EQ(ProgressEvents(recorder->events), (std::vector<std::string>{"Progress 100/100"}));
}

TEST(CTTXConverterBaseTest, ProgressOfUnevenSizesMeetsEachTenthOnce) {
  // Sizes whose tenths fall between characters, read with multi-byte characters.
  for (int n : {7, 13, 99, 101, 997, 4099}) {
    SCOPED_TRACE(n);
    CTagvertConverter converter;
    auto recorder = std::make_shared<test::CEventRecorder>();
    std::uint32_t cookie = 0;
    converter.Advise(recorder, cookie);
    ASSERT_EQ(ToIf(Utf8Bytes(std::u16string(static_cast<size_t>(n), u'\u20AC')), &converter).result,
              kSOk);
    EXPECT_EQ(ProgressEvents(recorder->events).front(), "Progress 0/100");
    EXPECT_EQ(ProgressEvents(recorder->events).back(), "Progress 100/100");
    // Every 3-byte character moves the percentage by less than 10 from 34 characters on.
    if (n >= 34) {
      EXPECT_EQ(ProgressEvents(recorder->events), Progress(0, 100));
    }
  }
}

}  // namespace
}  // namespace tagvert
