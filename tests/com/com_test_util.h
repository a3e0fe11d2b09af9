// Tagvert: helpers of the Windows host tests: loading tagvert.dll, an event sink, streams and
// the expected outputs made by the native build.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <ole2.h>
#include <olectl.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tagvert_com.h"

namespace tagvert::comtest {

/// A counted interface pointer (the host side holds nothing else).
template <typename T>
class CPtr {
 public:
  CPtr() = default;
  /// Takes over the one reference of a newly created object.
  static CPtr Attach(T* p) {
    CPtr out;
    out.m_p = p;
    return out;
  }
  CPtr(const CPtr& other) : m_p(other.m_p) {
    if (m_p) m_p->AddRef();
  }
  CPtr& operator=(const CPtr& other) {
    if (other.m_p) other.m_p->AddRef();
    Reset();
    m_p = other.m_p;
    return *this;
  }
  ~CPtr() { Reset(); }
  void Reset() {
    if (m_p) m_p->Release();
    m_p = nullptr;
  }
  T** Out() {
    Reset();
    return &m_p;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  /// Asks this object for interface `U`; the result is empty when it has none.
  template <typename U>
  CPtr<U> As(REFIID iid) const {
    CPtr<U> out;
    m_p->QueryInterface(iid, out.OutVoid());
    return out;
  }

 private:
  T* m_p = nullptr;
};

/// A path of the build machine as the Windows side sees it (Wine maps / to drive Z:).
std::wstring WinPath(const std::string& unixPath);
/// The bytes of a file (by Windows path); empty when it cannot be read.
std::vector<std::uint8_t> ReadBytes(const std::wstring& path);
/// Writes a file anew.
void WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes);
/// A file of the test's own work folder (created on first use).
std::wstring WorkFile(const std::string& name);

/// tagvert.dll, loaded once with LoadLibrary (no registration needed).
HMODULE TagvertDll();
/// DllGetClassObject of the DLL.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object);
/// DllCanUnloadNow of the DLL.
HRESULT CanUnloadNow();
/// A new converter through the class object.
CPtr<IOrvIFConverterEx4> CreateConverter();

/// A BSTR owned by the holder.
class CBstr {
 public:
  CBstr() = default;
  explicit CBstr(const std::wstring& text)
      : m_s(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~CBstr() { ::SysFreeString(m_s); }
  CBstr(const CBstr&) = delete;
  CBstr& operator=(const CBstr&) = delete;
  BSTR Get() const { return m_s; }
  BSTR* Out() {
    ::SysFreeString(m_s);
    m_s = nullptr;
    return &m_s;
  }
  std::wstring Text() const { return m_s ? std::wstring(m_s, ::SysStringLen(m_s)) : L""; }

 private:
  BSTR m_s = nullptr;
};

/// A VARIANT owned by the holder.
class CVar {
 public:
  CVar() { ::VariantInit(&v); }
  explicit CVar(const std::wstring& text) : CVar() {
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  static CVar I4(LONG value) {
    CVar out;
    V_VT(&out.v) = VT_I4;
    V_I4(&out.v) = value;
    return out;
  }
  static CVar I2(SHORT value) {
    CVar out;
    V_VT(&out.v) = VT_I2;
    V_I2(&out.v) = value;
    return out;
  }
  static CVar Unknown(IUnknown* object) {
    CVar out;
    if (object) object->AddRef();
    V_VT(&out.v) = VT_UNKNOWN;
    V_UNKNOWN(&out.v) = object;
    return out;
  }
  CVar(CVar&& other) noexcept : v(other.v) { ::VariantInit(&other.v); }
  ~CVar() { ::VariantClear(&v); }
  CVar(const CVar&) = delete;
  CVar& operator=(const CVar&) = delete;

  VARIANT v;
};

/// One recorded event: "State 1", "Text ", "Progress 10/100" or "Property <prop> <newVal>"
/// with each VARIANT written as <vt>:<value> (an object or an array word as its address).
std::string DescribeVariant(const VARIANT& v);

/// A host's event sink: implements IOrvTransEvents through IDispatch and records every call.
/// It checks the call form that sinks rely on (null IID, locale 1024, DISPATCH_METHOD, no
/// result) and records "BadCall" otherwise. Create it with MakeSink.
class CEventSink final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

  std::vector<std::string> events;
  /// Called after an event is recorded.
  std::function<void(const std::string&)> onEvent;
  /// The answer to a query for IDispatch (S_OK, E_NOINTERFACE or another failure).
  HRESULT dispatchAnswer = S_OK;
  /// Whether the sink answers IOrvTransEvents.
  bool answersEvents = true;

 private:
  std::atomic<ULONG> m_refs{1};
};

/// A new event sink.
CPtr<CEventSink> MakeSink();

/// Advises `sink` on the converter's connection point; returns the cookie (0 on failure).
DWORD Advise(IUnknown* converter, IUnknown* sink, HRESULT* result = nullptr);

/// An IStream over memory (CreateStreamOnHGlobal) holding `bytes`, positioned at 0.
CPtr<IStream> MemoryStream(const std::vector<std::uint8_t>& bytes = {});
/// All bytes of a stream, from its start.
std::vector<std::uint8_t> StreamBytes(IStream* stream);

/// One document of the expected outputs: its name, the input (Windows path), the Direction
/// code used, and the expected IF and TTX (that IF converted back).
struct CReference {
  std::string name;
  std::wstring input;
  LONG direction = 0;
  std::wstring expectedIf;
  std::wstring expectedTtx;
};

/// The documents listed by the native build's manifest.
std::vector<CReference> References();

}  // namespace tagvert::comtest
