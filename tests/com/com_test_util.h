// Tagvert: helpers of the Windows host tests: tagvert.dll loaded by path, counted pointers and
// owned values, an event sink, streams, files and the native build's expected outputs.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <ole2.h>
#include <olectl.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "kernel_text_service_com.h"
#include "tagvert_com.h"

namespace tagvert::comtest {

using Bytes = std::string;
using Events = std::vector<std::string>;

/// A counted interface pointer; constructed from a pointer, it takes over that reference.
template <typename T>
class CPtr {
 public:
  explicit CPtr(T* p = nullptr) : m_p(p) {}
  CPtr(CPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  CPtr& operator=(CPtr&& other) noexcept {
    std::swap(m_p, other.m_p);
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
  template <typename U>
  CPtr<U> As(REFIID iid) const {
    CPtr<U> out;
    m_p->QueryInterface(iid, out.OutVoid());
    return out;
  }

 private:
  T* m_p;
};

/// A BSTR owned by the holder.
struct CBstr {
  explicit CBstr(const wchar_t* text = nullptr) : s(text ? ::SysAllocString(text) : nullptr) {}
  ~CBstr() { ::SysFreeString(s); }
  std::wstring Text() const { return std::wstring(s, ::SysStringLen(s)); }
  BSTR s;
};

/// A VARIANT owned by the holder: a string, or a value of a type whose bits are given (an
/// object is AddRef'ed).
struct CVar {
  CVar() { ::VariantInit(&v); }
  explicit CVar(const std::wstring& text) : CVar(VT_BSTR, 0) {
    V_BSTR(&v) = ::SysAllocString(text.c_str());
  }
  CVar(VARTYPE type, LONGLONG bits) : CVar() {
    V_VT(&v) = type;
    v.llVal = bits;
    if (type == VT_UNKNOWN && V_UNKNOWN(&v)) V_UNKNOWN(&v)->AddRef();
  }
  static CVar I4(LONG value) { return CVar(VT_I4, value); }
  static CVar Unknown(IUnknown* object) {
    return CVar(VT_UNKNOWN, reinterpret_cast<LONG_PTR>(object));
  }
  CVar(CVar&& other) noexcept : v(other.v) { ::VariantInit(&other.v); }
  ~CVar() { ::VariantClear(&v); }
  VARIANT v;
};

/// A host's event sink: IOrvTransEvents through IDispatch, recording every call as "State 1",
/// "Text x", "Progress 10/100" or "Property <prop> <newVal>", and as "BadCall" a call not in
/// the form sinks rely on (null IID, locale 1024, DISPATCH_METHOD, no result).
class CEventSink final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

  Events events;
  std::function<void(const std::string&)> onEvent;  // after an event is recorded
  HRESULT dispatchAnswer = S_OK;                    // to a query for IDispatch
  bool answersEvents = true;                        // to a query for IOrvTransEvents

 private:
  std::atomic<ULONG> m_refs{1};
};

/// One document of the native build's expected outputs (made with Direction 0x00080000): the
/// input, the expected IF and TTX (that IF converted back).
struct CReference {
  std::string name;
  std::wstring input, expectedIf, expectedTtx;
};

/// A path of the build machine as the Windows side sees it (Wine maps / to drive Z:).
inline std::wstring WinPath(const std::string& unixPath) {
  std::wstring out = L"Z:";
  for (char c : unixPath)
    out += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

inline Bytes ReadBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

/// A file of the test's own work folder.
inline std::wstring WorkFile(const std::string& name) {
  ::CreateDirectoryW(WinPath(TAGVERT_TEST_WORK_DIR).c_str(), nullptr);
  return WinPath(TAGVERT_TEST_WORK_DIR "/" + name);
}

/// An export of tagvert.dll, loaded once by its path (no registration needed).
inline FARPROC TagvertExport(const char* name) {
  static const HMODULE module = ::LoadLibraryW(WinPath(TAGVERT_DLL_PATH).c_str());
  return ::GetProcAddress(module, name);
}

inline HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  using Fn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(TagvertExport("DllGetClassObject")))(
      clsid, iid, object);
}

inline CPtr<IOrvIFConverterEx4> CreateConverter() {
  CPtr<IClassFactory> factory;
  CPtr<IOrvIFConverterEx4> converter;
  if (SUCCEEDED(GetClassObject(CLSID_TagvertConverter, IID_IClassFactory, factory.OutVoid())))
    factory->CreateInstance(nullptr, IID_IOrvIFConverterEx4, converter.OutVoid());
  return converter;
}

/// A VARIANT as <vt>:<value> (an object or an array word as its address).
inline std::string DescribeVariant(const VARIANT& v) {
  std::ostringstream out;
  out << V_VT(&v) << ':';
  if (V_VT(&v) == VT_I2) out << V_I2(&v);
  if (V_VT(&v) == VT_I4) out << V_I4(&v);
  if (V_VT(&v) == VT_BOOL) out << V_BOOL(&v);
  if (V_VT(&v) == VT_UNKNOWN || V_VT(&v) == VT_SAFEARRAY) out << V_BYREF(&v);
  for (UINT i = 0; V_VT(&v) == VT_BSTR && i < ::SysStringLen(V_BSTR(&v)); ++i)
    out << static_cast<char>(V_BSTR(&v)[i]);
  return out.str();
}

inline STDMETHODIMP CEventSink::QueryInterface(REFIID riid, void** object) {
  *object = nullptr;
  if (IsEqualIID(riid, IID_IDispatch) && FAILED(dispatchAnswer)) return dispatchAnswer;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
      !(answersEvents && IsEqualIID(riid, DIID_IOrvTransEvents))) {
    return E_NOINTERFACE;
  }
  *object = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

inline STDMETHODIMP_(ULONG) CEventSink::Release() {
  const ULONG refs = --m_refs;
  if (refs == 0) delete this;
  return refs;
}

inline STDMETHODIMP CEventSink::Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                       UINT* argError) {
  const VARIANT* a = params->rgvarg;
  const UINT n = params->cArgs;
  std::string e = "BadCall";
  if (!IsEqualIID(riid, IID{}) || locale != 1024 || flags != DISPATCH_METHOD || result ||
      exception || argError || params->cNamedArgs != 0) {
    // recorded as a bad call
  } else if (id == 1 && n == 2) {
    e = "Property " + DescribeVariant(a[1]) + " " + DescribeVariant(a[0]);
  } else if (id == 2 && n == 1 && V_VT(&a[0]) == VT_I4) {
    e = "State " + std::to_string(V_I4(&a[0]));
  } else if (id == 3 && n == 1 && V_VT(&a[0]) == VT_BSTR) {
    e = "Text " + DescribeVariant(a[0]).substr(2);
  } else if (id == 4 && n == 2 && V_VT(&a[0]) == VT_I4 && V_VT(&a[1]) == VT_I4) {
    e = "Progress " + std::to_string(V_I4(&a[1])) + "/" + std::to_string(V_I4(&a[0]));
  }
  events.push_back(e);
  if (onEvent) onEvent(e);
  return S_OK;
}

inline CPtr<IConnectionPoint> ConnectionPoint(IUnknown* converter) {
  CPtr<IConnectionPointContainer> container;
  converter->QueryInterface(IID_IConnectionPointContainer, container.OutVoid());
  CPtr<IConnectionPoint> point;
  container->FindConnectionPoint(DIID_IOrvTransEvents, point.Out());
  return point;
}

/// A new sink, advised on `converter`'s connection point when one is given.
inline CPtr<CEventSink> MakeSink(IUnknown* converter = nullptr) {
  CPtr<CEventSink> sink(new CEventSink);
  DWORD cookie = 0;
  if (converter) ConnectionPoint(converter)->Advise(sink.Get(), &cookie);
  return sink;
}

inline CPtr<IStream> MemoryStream(const std::string& bytes = "") {
  CPtr<IStream> stream;
  ::CreateStreamOnHGlobal(nullptr, TRUE, stream.Out());
  stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  return stream;
}

inline Bytes StreamBytes(IStream* stream) {
  stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  Bytes out;
  char buffer[65536];
  ULONG got = 0;
  while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &got)) && got > 0)
    out.append(buffer, got);
  return out;
}

inline std::vector<CReference> References() {
  std::vector<CReference> out;
  const std::string dir = TAGVERT_REFERENCE_DIR;
  std::istringstream lines(ReadBytes(WinPath(dir + "/manifest.txt")));
  std::string name, input;
  while (std::getline(lines, name, '\t') && std::getline(lines, input)) {
    out.push_back({name, WinPath(input), WinPath(dir + "/" + name + ".if"),
                   WinPath(dir + "/" + name + ".ttx")});
  }
  return out;
}

}  // namespace tagvert::comtest
