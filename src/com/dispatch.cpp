// Tagvert: IDispatch served from the type library embedded in the module.
// SPDX-License-Identifier: Apache-2.0
#include "com/dispatch.h"

#include <map>
#include <mutex>
#include <string>

#include "com/module.h"

namespace tagvert::com {
namespace {

struct CGuidLess {
  bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof a) < 0; }
};

// The library and the type infos asked for so far. They stay loaded for the life of the
// process: hosts may call on any thread, and nothing here is worth unloading.
std::mutex g_typeLock;
ITypeLib* g_typeLib = nullptr;
std::map<GUID, ITypeInfo*, CGuidLess> g_typeInfos;

HRESULT LoadModuleTypeLib() {
  if (g_typeLib != nullptr) return S_OK;
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        ::GetModuleFileNameW(ModuleHandle(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return HRESULT_FROM_WIN32(::GetLastError());
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  // Without a number the first TYPELIB resource of the file is taken: ours, number 1.
  return ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &g_typeLib);
}

}  // namespace

HRESULT GetModuleTypeInfo(REFIID iid, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  std::lock_guard lock(g_typeLock);
  auto it = g_typeInfos.find(iid);
  if (it == g_typeInfos.end()) {
    HRESULT hr = LoadModuleTypeLib();
    if (FAILED(hr)) return hr;
    ITypeInfo* loaded = nullptr;
    hr = g_typeLib->GetTypeInfoOfGuid(iid, &loaded);
    if (FAILED(hr)) return hr;
    it = g_typeInfos.emplace(iid, loaded).first;
  }
  it->second->AddRef();
  *info = it->second;
  return S_OK;
}

HRESULT DispatchGetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT DispatchGetTypeInfo(REFIID iid, UINT index, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return GetModuleTypeInfo(iid, info);
}

HRESULT DispatchGetIDsOfNames(REFIID iid, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* info = nullptr;
  HRESULT hr = GetModuleTypeInfo(iid, &info);
  if (FAILED(hr)) return hr;
  hr = ::DispGetIDsOfNames(info, names, count, ids);
  info->Release();
  return hr;
}

HRESULT DispatchInvoke(REFIID iid, void* face, DISPID id, REFIID riid, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* info = nullptr;
  HRESULT hr = GetModuleTypeInfo(iid, &info);
  if (FAILED(hr)) return hr;
  hr = ::DispInvoke(face, info, id, flags, params, result, exception, argError);
  info->Release();
  return hr;
}

}  // namespace tagvert::com
