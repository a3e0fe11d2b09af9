// Tagvert tests: a second small COM server, registered in the test's Wine prefix.
//  - the kernel text service (class OrvKernelTextService): captions for 30 and 31 and the format
//    name for 31, so that the converter's Name and TextChange come from it;
//  - a script helper (ProgID TagvertTest.ScriptHelper) for what script languages cannot do
//    themselves: Connect(converter, handler) advises the converter's connection point and calls
//    the script's handler for every event, with the event's name and its arguments (Wine's
//    script host has no WScript.ConnectObject); LegacyFace(converter) answers the converter's
//    IOrvIFConverter face (the File and Stream forms), which late binding cannot reach because
//    a script sees only the default interface and cannot QueryInterface.
// SPDX-License-Identifier: Apache-2.0
#include <initguid.h>
// initguid.h first: the identifiers of the header below are defined in this file.
#include <objbase.h>
#include <ocidl.h>
#include <oleauto.h>
#include <windows.h>

#include <atomic>
#include <new>
#include <string>

#include "com/registrar/registrar_script.h"
#include "com/registrar/win32_registry.h"
#include "kernel_text_service_com.h"
#include "storage/char_class.h"
#include "tagvert_com.h"

// {EFF27D30-E5F6-460B-9BBD-1A2DB259A778}
DEFINE_GUID(CLSID_TestScriptHelper, 0xEFF27D30, 0xE5F6, 0x460B, 0x9B, 0xBD, 0x1A, 0x2D, 0xB2, 0x59,
            0xA7, 0x78);

namespace {

std::atomic<long> g_locks{0};
HMODULE g_module = nullptr;

// Reference counting shared by the objects below.
template <typename Interface>
class CUnknownImpl : public Interface {
 public:
  CUnknownImpl() { ++g_locks; }
  virtual ~CUnknownImpl() { --g_locks; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --m_refs;
    if (refs == 0) delete this;
    return refs;
  }

 protected:
  HRESULT Answer(REFIID riid, REFIID own, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, own)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }

 private:
  std::atomic<ULONG> m_refs{1};
};

HRESULT NewText(const wchar_t* text, BSTR* result) {
  if (result == nullptr) return E_POINTER;
  *result = ::SysAllocString(text);
  return *result != nullptr ? S_OK : E_OUTOFMEMORY;
}

class CTextService : public CUnknownImpl<IOrvKernelTextService> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return Answer(riid, IID_IOrvKernelTextService, object);
  }
  HRESULT STDMETHODCALLTYPE GetActionText(LONG number, BSTR* text) override {
    if (number == 30) return NewText(L"Test service: converting TTX to IF", text);
    if (number == 31) return NewText(L"Test service: converting IF to TTX", text);
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE GetFormatName(LONG number, BSTR* text) override {
    if (number == 31) return NewText(L"TTX (test service)", text);
    return E_INVALIDARG;
  }
};

// Minimal IDispatch: names resolved by a table, no type information.
template <typename Derived>
class CDispatchImpl : public CUnknownImpl<IDispatch> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return Answer(riid, IID_IDispatch, object);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      if (i == 0) {
        for (const auto& [name, id] : Derived::kNames) {
          if (::lstrcmpiW(names[0], name) == 0) ids[0] = id;
        }
      }
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
};

// The sink advised on the converter: forwards every event to the script's handler as
// handler(name, first argument, second argument).
class CEventForwarder : public CDispatchImpl<CEventForwarder> {
 public:
  static constexpr std::pair<const wchar_t*, DISPID> kNames[] = {{L"", 0}};

  explicit CEventForwarder(IDispatch* handler) : m_handler(handler) { m_handler->AddRef(); }
  ~CEventForwarder() override { m_handler->Release(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object != nullptr && IsEqualIID(riid, DIID_IOrvTransEvents)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return CDispatchImpl::QueryInterface(riid, object);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    static const wchar_t* const kEvents[] = {L"", L"PropertyChange", L"StateChange", L"TextChange",
                                             L"ProgressChange"};
    if (id < 1 || id > 4 || params == nullptr) return DISP_E_MEMBERNOTFOUND;
    const UINT given = params->cArgs < 2 ? params->cArgs : 2;
    // The handler gets (name, first, second); DISPPARAMS hold arguments last first, on both
    // sides of the call.
    VARIANT ordered[3];
    for (VARIANT& arg : ordered)
      ::VariantInit(&arg);
    ordered[2].vt = VT_BSTR;
    ordered[2].bstrVal = ::SysAllocString(kEvents[id]);
    if (given >= 1) ::VariantCopy(&ordered[1], &params->rgvarg[given - 1]);
    if (given == 2) ::VariantCopy(&ordered[0], &params->rgvarg[0]);
    DISPPARAMS call{ordered, nullptr, 3, 0};
    VARIANT result;
    ::VariantInit(&result);
    const IID noInterface{};
    const HRESULT hr = m_handler->Invoke(DISPID_VALUE, noInterface, 0, DISPATCH_METHOD, &call,
                                         &result, nullptr, nullptr);
    ::VariantClear(&result);
    for (VARIANT& arg : ordered)
      ::VariantClear(&arg);
    return hr;
  }

 private:
  IDispatch* m_handler;
};

// Connect(converter, handler) / Disconnect() / LegacyFace(converter) for scripts.
class CScriptHelper : public CDispatchImpl<CScriptHelper> {
 public:
  static constexpr DISPID kConnect = 1;
  static constexpr DISPID kDisconnect = 2;
  static constexpr DISPID kLegacyFace = 3;
  static constexpr std::pair<const wchar_t*, DISPID> kNames[] = {
      {L"Connect", kConnect}, {L"Disconnect", kDisconnect}, {L"LegacyFace", kLegacyFace}};

  ~CScriptHelper() override { Disconnect(); }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    if (id == kDisconnect) return Disconnect();
    if (id == kLegacyFace) return LegacyFace(params, result);
    if (id != kConnect) return DISP_E_MEMBERNOTFOUND;
    if (params == nullptr || params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
    // Arguments come last first: rgvarg[1] is the converter, rgvarg[0] the handler.
    IDispatch* converter = DispatchOf(params->rgvarg[1]);
    IDispatch* handler = DispatchOf(params->rgvarg[0]);
    if (converter == nullptr || handler == nullptr) return DISP_E_TYPEMISMATCH;
    Disconnect();
    IConnectionPointContainer* container = nullptr;
    HRESULT hr = converter->QueryInterface(IID_IConnectionPointContainer,
                                           reinterpret_cast<void**>(&container));
    if (FAILED(hr)) return hr;
    hr = container->FindConnectionPoint(DIID_IOrvTransEvents, &m_point);
    container->Release();
    if (FAILED(hr)) return hr;
    auto* forwarder = new (std::nothrow) CEventForwarder(handler);
    if (forwarder == nullptr) return E_OUTOFMEMORY;
    hr = m_point->Advise(forwarder, &m_cookie);
    forwarder->Release();
    return hr;
  }

 private:
  static HRESULT LegacyFace(DISPPARAMS* params, VARIANT* result) {
    if (params == nullptr || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    if (result == nullptr) return E_INVALIDARG;
    IDispatch* converter = DispatchOf(params->rgvarg[0]);
    if (converter == nullptr) return DISP_E_TYPEMISMATCH;
    IOrvIFConverter* face = nullptr;
    const HRESULT hr =
        converter->QueryInterface(IID_IOrvIFConverter, reinterpret_cast<void**>(&face));
    if (FAILED(hr)) return hr;
    ::VariantInit(result);
    result->vt = VT_DISPATCH;
    result->pdispVal = face;
    return S_OK;
  }
  static IDispatch* DispatchOf(const VARIANT& value) {
    const VARIANT* v = value.vt == (VT_VARIANT | VT_BYREF) ? value.pvarVal : &value;
    if (v->vt == VT_DISPATCH) return v->pdispVal;
    if (v->vt == (VT_DISPATCH | VT_BYREF)) return *v->ppdispVal;
    return nullptr;
  }
  HRESULT Disconnect() {
    if (m_point == nullptr) return S_OK;
    const HRESULT hr = m_point->Unadvise(m_cookie);
    m_point->Release();
    m_point = nullptr;
    m_cookie = 0;
    return hr;
  }

  IConnectionPoint* m_point = nullptr;
  DWORD m_cookie = 0;
};

class CClassFactory : public IClassFactory {
 public:
  explicit CClassFactory(bool helper) : m_helper(helper) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    IUnknown* created = m_helper ? static_cast<IUnknown*>(new (std::nothrow) CScriptHelper)
                                 : static_cast<IUnknown*>(new (std::nothrow) CTextService);
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++g_locks;
    } else {
      --g_locks;
    }
    return S_OK;
  }

 private:
  bool m_helper;
};

CClassFactory g_textServiceFactory(false);
CClassFactory g_helperFactory(true);

HRESULT RunScript(bool registering) {
  try {
    const HRSRC info = ::FindResourceW(g_module, MAKEINTRESOURCEW(102), L"REGISTRY");
    const HGLOBAL resource = info != nullptr ? ::LoadResource(g_module, info) : nullptr;
    const char* bytes =
        resource != nullptr ? static_cast<const char*>(::LockResource(resource)) : nullptr;
    if (bytes == nullptr) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(g_module, path, MAX_PATH);
    const std::u16string module(reinterpret_cast<const char16_t*>(path), length);
    const auto script = tagvert::CRegistrarScript::Parse(
        tagvert::Utf8ToUtf16(std::string_view(bytes, ::SizeofResource(g_module, info))),
        {{u"MODULE", module}});
    tagvert::CWin32Registry registry;
    if (registering) {
      script.Register(registry);
    } else {
      script.Unregister(registry);
    }
    return S_OK;
  } catch (const tagvert::CHResultError& e) {
    return e.Code();
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (IsEqualCLSID(clsid, CLSID_OrvKernelTextService)) {
    return g_textServiceFactory.QueryInterface(riid, object);
  }
  if (IsEqualCLSID(clsid, CLSID_TestScriptHelper))
    return g_helperFactory.QueryInterface(riid, object);
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return g_locks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return RunScript(true);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return RunScript(false);
}
