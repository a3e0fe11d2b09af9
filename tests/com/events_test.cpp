// Tagvert: the connection point and event delivery through IDispatch::Invoke: the events of a
// conversion in order, failures, stops and short writes.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <memory>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

using Events = std::vector<std::string>;

std::vector<std::uint8_t> Ttx(std::size_t textBytes) {
  std::string doc =
      "<TRADOStag><Body><Raw>" + std::string(textBytes, 'x') + "</Raw></Body></TRADOStag>";
  return {doc.begin(), doc.end()};
}

HRESULT ConvertMemory(IOrvIFConverterEx4* converter, const std::vector<std::uint8_t>& input,
                      IStream* target = nullptr) {
  auto in = MemoryStream(input);
  auto out = target ? CPtr<IStream>() : MemoryStream();
  CVar reserv;
  return converter->ConvertToIF(CVar::Unknown(in.Get()).v,
                                CVar::Unknown(target ? target : out.Get()).v, reserv.v);
}

CPtr<IConnectionPoint> Point(IUnknown* converter) {
  CPtr<IConnectionPointContainer> container;
  converter->QueryInterface(IID_IConnectionPointContainer, container.OutVoid());
  CPtr<IConnectionPoint> point;
  container->FindConnectionPoint(DIID_IOrvTransEvents, point.Out());
  return point;
}

// The slots behind the cookies are the frame's (tests/frame/converter_test.cpp); here what COM
// adds: the codes, a sink without the events interface, and the enumerations.
TEST(CConnectionPointTest, CookiesCodesAndEnumerations) {
  auto converter = CreateConverter();
  auto point = Point(converter.Get());
  ASSERT_TRUE(point);
  std::vector<CPtr<CEventSink>> sinks = {MakeSink(), MakeSink(), MakeSink(), MakeSink()};
  std::vector<DWORD> cookies;
  for (std::size_t i = 0; i < 3; ++i)
    cookies.push_back(Advise(converter.Get(), sinks[i].Get()));
  EXPECT_EQ(cookies, (std::vector<DWORD>{1, 2, 3}));
  EXPECT_EQ(point->Unadvise(2), S_OK);
  EXPECT_EQ(point->Unadvise(2), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
  sinks[3]->answersEvents = false;
  HRESULT hr = S_OK;
  EXPECT_EQ(Advise(converter.Get(), sinks[3].Get(), &hr), 0U);
  EXPECT_EQ(hr, CONNECT_E_CANNOTCONNECT);

  CPtr<IEnumConnections> connections;
  ASSERT_EQ(point->EnumConnections(connections.Out()), S_OK);
  CONNECTDATA data[4];
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(4, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2U);
  for (ULONG i = 0; i < fetched; ++i) {
    EXPECT_EQ(data[i].dwCookie, i == 0 ? 1U : 3U);
    data[i].pUnk->Release();
  }

  CPtr<IConnectionPointContainer> container;
  converter->QueryInterface(IID_IConnectionPointContainer, container.OutVoid());
  CPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(container->EnumConnectionPoints(points.Out()), S_OK);
  CPtr<IConnectionPoint> only;
  EXPECT_EQ(points->Next(1, only.Out(), nullptr), S_OK);
  IID iid{};
  EXPECT_EQ(only->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualIID(iid, DIID_IOrvTransEvents));
  IConnectionPoint* none = nullptr;
  EXPECT_EQ(points->Next(1, &none, nullptr), S_FALSE);
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, only.Out()), CONNECT_E_NOCONNECTION);
}

TEST(CEventDeliveryTest, SinkWithoutIDispatchIsSkippedAndOtherFailuresFailTheConversion) {
  auto converter = CreateConverter();
  auto plain = MakeSink(), noDispatch = MakeSink(), broken = MakeSink();
  noDispatch->dispatchAnswer = E_NOINTERFACE;
  Advise(converter.Get(), noDispatch.Get());
  Advise(converter.Get(), plain.Get());
  ASSERT_EQ(ConvertMemory(converter.Get(), Ttx(10)), S_OK);
  EXPECT_TRUE(noDispatch->events.empty());
  // A conversion's events in order: started, its caption, progress from 0 to 100, finished.
  ASSERT_GE(plain->events.size(), 5U);
  EXPECT_EQ(Events(plain->events.begin(), plain->events.begin() + 3),
            (Events{"State 1", "Text ", "Progress 0/100"}));
  EXPECT_EQ(Events(plain->events.end() - 2, plain->events.end()),
            (Events{"Progress 100/100", "State 0"}));

  // A sink that cannot be reached ends the first delivery and the conversion with its code; the
  // final failure state still reaches the others.
  broken->dispatchAnswer = E_UNEXPECTED;
  Advise(converter.Get(), broken.Get());
  plain->events.clear();
  EXPECT_EQ(ConvertMemory(converter.Get(), Ttx(10)), E_UNEXPECTED);
  EXPECT_EQ(plain->events, (Events{"State 1", "State 32768"}));
  LONG state = 0;
  converter->get_State(&state);
  EXPECT_EQ(state, 0x8000);
}

// A target on the stack: not counted, every method but Write and Seek refused; Write takes only
// half of what it is offered.
class CShortStream final : public IStream {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IStream) ||
        IsEqualIID(riid, IID_ISequentialStream)) {
      *object = static_cast<IStream*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP Write(const void*, ULONG size, ULONG* written) override {
    *written = size / 2;
    return S_OK;
  }
  STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER* position) override {
    if (position) position->QuadPart = 0;
    return S_OK;
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }
};

TEST(CEventDeliveryTest, StopFromAHandlerEndsTheConversionAsStopped) {
  auto converter = CreateConverter();
  auto sink = MakeSink();
  Advise(converter.Get(), sink.Get());
  sink->onEvent = [&](const std::string& e) {
    if (e == "Progress 0/100") converter->Stop();
  };
  auto out = MemoryStream();
  EXPECT_EQ(ConvertMemory(converter.Get(), Ttx(100000), out.Get()), S_OK);
  EXPECT_EQ(sink->events.back(), "State 2");
  EXPECT_TRUE(StreamBytes(out.Get()).empty());
}

TEST(CEventDeliveryTest, ShortWriteFiresItsCodeThenFailure) {
  CShortStream target;
  auto converter = CreateConverter();
  auto sink = MakeSink();
  Advise(converter.Get(), sink.Get());
  EXPECT_EQ(ConvertMemory(converter.Get(), Ttx(10), &target), E_FAIL);
  ASSERT_GE(sink->events.size(), 2U);
  EXPECT_EQ(Events(sink->events.end() - 2, sink->events.end()),
            (Events{"State 32771", "State 32768"}));
}

}  // namespace
}  // namespace tagvert::comtest
