// Tagvert: the exported entry points of tagvert.dll (see tagvert.def).
// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include "com/class_factory.h"
#include "com/module.h"
#include "tagvert_com.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    tagvert::com::SetModuleHandle(instance);
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

/// Hands out the converter's class object; any other class gives CLASS_E_CLASSNOTAVAILABLE.
extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_TagvertConverter)) return CLASS_E_CLASSNOTAVAILABLE;
  return tagvert::com::CConverterClassFactory::Instance().QueryInterface(riid, object);
}

/// S_OK when no converter object and no server lock is alive, else S_FALSE.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return tagvert::com::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}
