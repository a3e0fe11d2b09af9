// Tagvert: the class object, the module lock and the object's interfaces.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

// An outer object for aggregation: counts its references and hands the rest to the inner.
class COuter final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *object = this;
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(riid, object) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  ULONG refs = 1;
  CPtr<IUnknown> inner;
};

TEST(CClassObjectTest, CreatesOnlyTheConverterAndRefusesAggregationButForIUnknown) {
  CPtr<IClassFactory> factory;
  const CLSID foreign = IID_IOrvIFConverterEx4;
  EXPECT_EQ(GetClassObject(foreign, IID_IClassFactory, factory.OutVoid()),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_FALSE(factory);
  ASSERT_EQ(GetClassObject(CLSID_TagvertConverter, IID_IClassFactory, factory.OutVoid()), S_OK);

  COuter outer;
  CPtr<IUnknown> object;
  for (REFIID iid : {IID_IOrvIFConverterEx4, IID_IDispatch, IID_IOrvIFConverter}) {
    EXPECT_EQ(factory->CreateInstance(&outer, iid, object.OutVoid()), CLASS_E_NOAGGREGATION);
  }
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, outer.inner.OutVoid()), S_OK);
  // The aggregated faces count their references on the outer object.
  CPtr<IOrvIFConverterEx4> face;
  ASSERT_EQ(outer.QueryInterface(IID_IOrvIFConverterEx4, face.OutVoid()), S_OK);
  EXPECT_EQ(outer.refs, 2U);
  LONG id = 0;
  EXPECT_EQ(face->get_Id(&id), S_OK);
  EXPECT_EQ(id, 31);
  CPtr<IUnknown> identity;
  face->QueryInterface(IID_IUnknown, identity.OutVoid());
  EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));
}

TEST(CClassObjectTest, ModuleUnloadsOnlyWithoutObjectsAndLocks) {
  CPtr<IClassFactory> factory;
  ASSERT_EQ(GetClassObject(CLSID_TagvertConverter, IID_IClassFactory, factory.OutVoid()), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_OK);
  CPtr<IOrvIFConverter> converter;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOrvIFConverter, converter.OutVoid()), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  converter.Reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(CConverterObjectTest, AnswersExactlyItsInterfacesWithOneIdentity) {
  auto converter = CreateConverter();
  ASSERT_TRUE(converter);
  CPtr<IUnknown> identity;
  converter->QueryInterface(IID_IUnknown, identity.OutVoid());
  const struct {
    const char* name;
    const IID& iid;
    HRESULT expected;
  } rows[] = {
      {"IUnknown", IID_IUnknown, S_OK},
      {"IOrvIFConverterEx4", IID_IOrvIFConverterEx4, S_OK},
      {"IOrvIFConverterEx3", IID_IOrvIFConverterEx3, S_OK},
      {"IOrvIFConverterEx2", IID_IOrvIFConverterEx2, S_OK},
      {"IOrvIFConverterEx", IID_IOrvIFConverterEx, S_OK},
      {"IOrvTransBase", IID_IOrvTransBase, S_OK},
      {"IDispatch", IID_IDispatch, S_OK},
      {"IOrvIFConverter", IID_IOrvIFConverter, S_OK},
      {"IMarshal", IID_IMarshal, S_OK},
      {"IConnectionPointContainer", IID_IConnectionPointContainer, S_OK},
      {"IOrvTransEvents", DIID_IOrvTransEvents, E_NOINTERFACE},
      {"IConnectionPoint", IID_IConnectionPoint, E_NOINTERFACE},
      {"IProvideClassInfo", IID_IProvideClassInfo, E_NOINTERFACE},
      {"IPersistStream", IID_IPersistStream, E_NOINTERFACE},
      {"IClassFactory", IID_IClassFactory, E_NOINTERFACE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CPtr<IUnknown> face;
    ASSERT_EQ(converter->QueryInterface(row.iid, face.OutVoid()), row.expected);
    if (row.expected != S_OK) continue;
    CPtr<IUnknown> back;
    ASSERT_EQ(face->QueryInterface(IID_IUnknown, back.OutVoid()), S_OK);
    EXPECT_EQ(back.Get(), identity.Get());
  }
  // IDispatch is the IOrvIFConverterEx4 face.
  CPtr<IDispatch> dispatch;
  converter->QueryInterface(IID_IDispatch, dispatch.OutVoid());
  EXPECT_EQ(static_cast<IUnknown*>(dispatch.Get()), static_cast<IUnknown*>(converter.Get()));
}

}  // namespace
}  // namespace tagvert::comtest
