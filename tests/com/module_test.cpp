// Tagvert: the class object, the module lock and the object's interfaces.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

// An outer object for aggregation: counts its references and hands the rest to the inner.
struct COuter final : IUnknown {
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!IsEqualIID(riid, IID_IUnknown)) return inner->QueryInterface(riid, object);
    *object = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  ULONG refs = 1;
  CPtr<IUnknown> inner;
};

TEST(CClassObjectTest, CreatesTheConverterAggregatedOnlyAsIUnknownAndLocksTheModule) {
  using Fn = HRESULT(STDAPICALLTYPE*)();
  const auto canUnloadNow =
      reinterpret_cast<Fn>(reinterpret_cast<void*>(TagvertExport("DllCanUnloadNow")));
  CPtr<IClassFactory> factory;
  EXPECT_EQ(GetClassObject(IID_IOrvIFConverterEx4, IID_IClassFactory, factory.OutVoid()),
            CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_EQ(GetClassObject(CLSID_TagvertConverter, IID_IClassFactory, factory.OutVoid()), S_OK);
  EXPECT_EQ(canUnloadNow(), S_OK);

  COuter outer;
  CPtr<IUnknown> object;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, object.OutVoid()),
            CLASS_E_NOAGGREGATION);
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, outer.inner.OutVoid()), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  // The aggregated faces count their references on the outer object and answer its identity.
  CPtr<IOrvIFConverterEx4> face;
  ASSERT_EQ(outer.QueryInterface(IID_IOrvIFConverterEx4, face.OutVoid()), S_OK);
  EXPECT_EQ(outer.refs, 2U);
  EXPECT_EQ(face.As<IUnknown>(IID_IUnknown).Get(), static_cast<IUnknown*>(&outer));
  face.Reset();
  outer.inner.Reset();
  EXPECT_EQ(canUnloadNow(), S_OK);

  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST(CConverterObjectTest, AnswersExactlyItsInterfacesWithOneIdentity) {
  auto converter = CreateConverter();
  ASSERT_TRUE(converter);
  auto identity = converter.As<IUnknown>(IID_IUnknown);
  const IID* const answered[] = {
      &IID_IOrvIFConverterEx4, &IID_IOrvIFConverterEx3, &IID_IOrvIFConverterEx2,
      &IID_IOrvIFConverterEx,  &IID_IOrvTransBase,      &IID_IDispatch,
      &IID_IOrvIFConverter,    &IID_IMarshal,           &IID_IConnectionPointContainer};
  for (const IID* const& iid : answered) {
    CPtr<IUnknown> face;
    ASSERT_EQ(converter->QueryInterface(*iid, face.OutVoid()), S_OK) << &iid - answered;
    EXPECT_EQ(face.As<IUnknown>(IID_IUnknown).Get(), identity.Get());
  }
  CPtr<IUnknown> none;
  for (const IID* iid :
       {&DIID_IOrvTransEvents, &IID_IConnectionPoint, &IID_IProvideClassInfo, &IID_IClassFactory}) {
    EXPECT_EQ(converter->QueryInterface(*iid, none.OutVoid()), E_NOINTERFACE);
  }
  // IDispatch is the IOrvIFConverterEx4 face.
  EXPECT_EQ(static_cast<IUnknown*>(converter.As<IDispatch>(IID_IDispatch).Get()),
            static_cast<IUnknown*>(converter.Get()));
}

}  // namespace
}  // namespace tagvert::comtest
