// Tagvert: the connection point and event delivery through IDispatch::Invoke: failures, stops
// and short writes (the events of a conversion in order: the script clients, tests/com/scripts).
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

// A stream on the stack for one test: not counted, every method the test does not give refused.
class CTestStream : public IStream {
 public:
  virtual ~CTestStream() = default;
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
  STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
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

// A source that blocks its second read until another thread has asked the converter to stop.
class CGatedStream final : public CTestStream {
 public:
  explicit CGatedStream(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {
    gate = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    reading = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~CGatedStream() override {
    ::CloseHandle(gate);
    ::CloseHandle(reading);
  }
  STDMETHODIMP Read(void* buffer, ULONG size, ULONG* read) override {
    if (++m_reads == 2) {
      ::SetEvent(reading);
      ::WaitForSingleObject(gate, INFINITE);
    }
    const ULONG n = static_cast<ULONG>(
        std::min<std::size_t>(size, std::min<std::size_t>(4096, m_bytes.size() - m_at)));
    memcpy(buffer, m_bytes.data() + m_at, n);
    m_at += n;
    *read = n;
    return S_OK;
  }
  STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER* position) override {
    if (position) position->QuadPart = m_at;
    return S_OK;
  }
  STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
    *stat = STATSTG{};
    stat->cbSize.QuadPart = m_bytes.size();
    return S_OK;
  }

  HANDLE gate;
  HANDLE reading;

 private:
  std::vector<std::uint8_t> m_bytes;
  std::size_t m_at = 0;
  int m_reads = 0;
};

TEST(CEventDeliveryTest, StopFromAnotherThreadEndsTheConversionAsStopped) {
  // Declared first: the converter keeps its last source until it goes.
  CGatedStream source(Ttx(100000));
  auto converter = CreateConverter();
  auto sink = MakeSink();
  Advise(converter.Get(), sink.Get());
  struct CStopper {
    CGatedStream* source;
    IOrvIFConverterEx4* converter;
  } stopper{&source, converter.Get()};
  const HANDLE thread = ::CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* s = static_cast<CStopper*>(p);
        ::WaitForSingleObject(s->source->reading, INFINITE);
        s->converter->Stop();
        ::SetEvent(s->source->gate);
        return 0;
      },
      &stopper, 0, nullptr);
  auto out = MemoryStream();
  CVar reserv;
  EXPECT_EQ(converter->ConvertToIF(CVar::Unknown(&source).v, CVar::Unknown(out.Get()).v, reserv.v),
            S_OK);
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
  EXPECT_EQ(sink->events.back(), "State 2");
  EXPECT_EQ(std::count(sink->events.begin(), sink->events.end(), "State 0"), 0);
  EXPECT_TRUE(StreamBytes(out.Get()).empty());
}

// A target that takes only half of what it is offered.
class CShortStream final : public CTestStream {
 public:
  STDMETHODIMP Write(const void*, ULONG size, ULONG* written) override {
    *written = size / 2;
    return S_OK;
  }
};

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
