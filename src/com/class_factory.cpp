// Tagvert: the class object of the converter.
// SPDX-License-Identifier: Apache-2.0
#include "com/class_factory.h"

#include "com/converter_object.h"
#include "com/module.h"

namespace tagvert::com {

CConverterClassFactory& CConverterClassFactory::Instance() {
  static CConverterClassFactory factory;
  return factory;
}

STDMETHODIMP CConverterClassFactory::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// The class object lives as long as the module: references are not counted.
STDMETHODIMP_(ULONG) CConverterClassFactory::AddRef() {
  return 2;
}

STDMETHODIMP_(ULONG) CConverterClassFactory::Release() {
  return 1;
}

STDMETHODIMP CConverterClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return CConverterObject::Create(outer, riid, object);
}

STDMETHODIMP CConverterClassFactory::LockServer(BOOL lock) {
  if (lock) {
    ModuleLock();
  } else {
    ModuleUnlock();
  }
  return S_OK;
}

}  // namespace tagvert::com
