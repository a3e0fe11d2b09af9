// Tagvert: the connection point and event delivery through IDispatch::Invoke: the events of a
// conversion in order, sinks that cannot be reached, a stop from a handler, targets that fail.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

HRESULT ConvertMemory(IOrvIFConverterEx4* converter, IUnknown* target, std::size_t text = 10) {
  const std::string doc =
      "<TRADOStag><Body><Raw>" + std::string(text, 'x') + "</Raw></Body></TRADOStag>";
  return converter->ConvertToIF(CVar::Unknown(MemoryStream(doc).Get()).v, CVar::Unknown(target).v,
                                CVar().v);
}

// The slots behind the cookies are the frame's; here what COM adds: the codes, a sink without
// the events interface, and the enumerations.
TEST(CConnectionPointTest, CookiesCodesAndEnumerations) {
  auto converter = CreateConverter();
  auto point = ConnectionPoint(converter.Get());
  ASSERT_TRUE(point);
  auto sink = MakeSink(), refusing = MakeSink();
  DWORD cookie = 0;
  for (DWORD i = 1; i <= 3; ++i) {
    EXPECT_EQ(point->Advise(sink.Get(), &cookie), S_OK);
    EXPECT_EQ(cookie, i);
  }
  EXPECT_EQ(point->Unadvise(2), S_OK);
  EXPECT_EQ(point->Unadvise(2), CONNECT_E_NOCONNECTION);
  refusing->answersEvents = false;
  EXPECT_EQ(point->Advise(refusing.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0U);

  CPtr<IEnumConnections> connections;
  ASSERT_EQ(point->EnumConnections(connections.Out()), S_OK);
  CONNECTDATA data[3];
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2U);
  for (ULONG i = 0; i < fetched; ++i) {
    EXPECT_EQ(data[i].dwCookie, i == 0 ? 1U : 3U);
    EXPECT_EQ(data[i].pUnk, static_cast<IUnknown*>(sink.Get()));
    data[i].pUnk->Release();
  }

  auto container = converter.As<IConnectionPointContainer>(IID_IConnectionPointContainer);
  CPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(container->EnumConnectionPoints(points.Out()), S_OK);
  CPtr<IConnectionPoint> only;
  EXPECT_EQ(points->Next(1, only.Out(), nullptr), S_OK);
  IID iid{};
  EXPECT_EQ(only->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualIID(iid, DIID_IOrvTransEvents));
  EXPECT_EQ(points->Next(1, only.Out(), nullptr), S_FALSE);
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, only.Out()), CONNECT_E_NOCONNECTION);
}

TEST(CEventDeliveryTest, SinkWithoutIDispatchIsSkippedAndOtherFailuresFailTheConversion) {
  auto converter = CreateConverter();
  auto noDispatch = MakeSink(converter.Get()), plain = MakeSink(converter.Get());
  noDispatch->dispatchAnswer = E_NOINTERFACE;
  ASSERT_EQ(ConvertMemory(converter.Get(), MemoryStream().Get()), S_OK);
  EXPECT_TRUE(noDispatch->events.empty());
  // A conversion's events in order: started, its caption, progress from 0 to 100, finished.
  ASSERT_GE(plain->events.size(), 5U);
  EXPECT_EQ(Events(plain->events.begin(), plain->events.begin() + 3),
            (Events{"State 1", "Text ", "Progress 0/100"}));
  EXPECT_EQ(Events(plain->events.end() - 2, plain->events.end()),
            (Events{"Progress 100/100", "State 0"}));

  // A sink that cannot be reached ends the first delivery and the conversion with its code; the
  // final failure state still reaches the others.
  auto broken = MakeSink(converter.Get());
  broken->dispatchAnswer = E_UNEXPECTED;
  plain->events.clear();
  EXPECT_EQ(ConvertMemory(converter.Get(), MemoryStream().Get()), E_UNEXPECTED);
  EXPECT_EQ(plain->events, (Events{"State 1", "State 32768"}));
  LONG state = 0;
  converter->get_State(&state);
  EXPECT_EQ(state, 0x8000);
}

// A target that takes half of what it is offered, or refuses with `writeAnswer`; every other
// method but Seek is refused.
struct CTargetStream final : IStream {
  STDMETHODIMP QueryInterface(REFIID, void** object) override {
    *object = static_cast<IStream*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP Write(const void*, ULONG size, ULONG* written) override {
    *written = size / 2;
    return writeAnswer;
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
  HRESULT writeAnswer = S_OK;
};

TEST(CEventDeliveryTest, StopFromAHandlerAShortWriteAndAFailingTargetEndTheConversion) {
  auto converter = CreateConverter();
  auto sink = MakeSink(converter.Get());
  sink->onEvent = [&](const std::string& e) {
    if (e == "Progress 0/100") converter->Stop();
  };
  auto out = MemoryStream();
  EXPECT_EQ(ConvertMemory(converter.Get(), out.Get(), 100000), S_OK);
  EXPECT_EQ(sink->events.back(), "State 2");
  EXPECT_TRUE(StreamBytes(out.Get()).empty());

  sink->onEvent = nullptr;
  CTargetStream target;
  EXPECT_EQ(ConvertMemory(converter.Get(), &target), E_FAIL);
  EXPECT_EQ(Events(sink->events.end() - 2, sink->events.end()),
            (Events{"State 32771", "State 32768"}));
  target.writeAnswer = STG_E_ACCESSDENIED;
  EXPECT_EQ(ConvertMemory(converter.Get(), &target), STG_E_ACCESSDENIED);
  EXPECT_EQ(sink->events.back(), "State 32768");
}

}  // namespace
}  // namespace tagvert::comtest
