// Tagvert: helpers of the Windows host tests.
// SPDX-License-Identifier: Apache-2.0
#include "com_test_util.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace tagvert::comtest {

std::wstring WinPath(const std::string& unixPath) {
  std::wstring out = L"Z:";
  for (char c : unixPath)
    out += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

std::vector<std::uint8_t> ReadBytes(const std::wstring& path) {
  std::vector<std::uint8_t> out;
  const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return out;
  std::uint8_t buffer[65536];
  DWORD got = 0;
  while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    out.insert(out.end(), buffer, buffer + got);
  }
  ::CloseHandle(h);
  return out;
}

void WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(h);
}

std::wstring WorkFile(const std::string& name) {
  const std::wstring dir = WinPath(TAGVERT_TEST_WORK_DIR);
  ::CreateDirectoryW(dir.c_str(), nullptr);
  return dir + L"\\" + WinPath("/" + name).substr(3);
}

HMODULE TagvertDll() {
  static const HMODULE module = ::LoadLibraryW(WinPath(TAGVERT_DLL_PATH).c_str());
  return module;
}

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  using Fn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(::GetProcAddress(TagvertDll(), "DllGetClassObject")));
  return fn ? fn(clsid, iid, object) : E_UNEXPECTED;
}

HRESULT CanUnloadNow() {
  using Fn = HRESULT(STDAPICALLTYPE*)();
  auto fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(::GetProcAddress(TagvertDll(), "DllCanUnloadNow")));
  return fn ? fn() : E_UNEXPECTED;
}

CPtr<IOrvIFConverterEx4> CreateConverter() {
  CPtr<IClassFactory> factory;
  CPtr<IOrvIFConverterEx4> converter;
  if (SUCCEEDED(GetClassObject(CLSID_TagvertConverter, IID_IClassFactory, factory.OutVoid()))) {
    factory->CreateInstance(nullptr, IID_IOrvIFConverterEx4, converter.OutVoid());
  }
  return converter;
}

std::string DescribeVariant(const VARIANT& v) {
  std::ostringstream out;
  out << V_VT(&v) << ':';
  switch (V_VT(&v)) {
    case VT_I2:
      out << V_I2(&v);
      break;
    case VT_I4:
      out << V_I4(&v);
      break;
    case VT_BOOL:
      out << V_BOOL(&v);
      break;
    case VT_BSTR:
      for (UINT i = 0; V_BSTR(&v) && i < ::SysStringLen(V_BSTR(&v)); ++i) {
        out << static_cast<char>(V_BSTR(&v)[i]);
      }
      break;
    case VT_UNKNOWN:
    case VT_SAFEARRAY:
      // The object or the array word, to tell that the one the caller gave came through.
      out << V_BYREF(&v);
      break;
    default:
      break;
  }
  return out.str();
}

STDMETHODIMP CEventSink::QueryInterface(REFIID riid, void** object) {
  *object = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || (answersEvents && IsEqualIID(riid, DIID_IOrvTransEvents))) {
    *object = static_cast<IDispatch*>(this);
  } else if (IsEqualIID(riid, IID_IDispatch)) {
    if (FAILED(dispatchAnswer)) return dispatchAnswer;
    *object = static_cast<IDispatch*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CEventSink::Release() {
  const ULONG refs = --m_refs;
  if (refs == 0) delete this;
  return refs;
}

CPtr<CEventSink> MakeSink() {
  return CPtr<CEventSink>::Attach(new CEventSink);
}

STDMETHODIMP CEventSink::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}

STDMETHODIMP CEventSink::Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                                VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualIID(riid, IID_NULL) || locale != 1024 || flags != DISPATCH_METHOD ||
      result != nullptr || exception != nullptr || argError != nullptr || params->cNamedArgs != 0) {
    events.push_back("BadCall");
    return S_OK;
  }
  const VARIANT* a = params->rgvarg;
  std::string e;
  if (id == 1 && params->cArgs == 2) {
    e = "Property " + DescribeVariant(a[1]) + " " + DescribeVariant(a[0]);
  } else if (id == 2 && params->cArgs == 1 && V_VT(&a[0]) == VT_I4) {
    e = "State " + std::to_string(V_I4(&a[0]));
  } else if (id == 3 && params->cArgs == 1 && V_VT(&a[0]) == VT_BSTR) {
    e = "Text " + DescribeVariant(a[0]).substr(2);
  } else if (id == 4 && params->cArgs == 2 && V_VT(&a[0]) == VT_I4 && V_VT(&a[1]) == VT_I4) {
    e = "Progress " + std::to_string(V_I4(&a[1])) + "/" + std::to_string(V_I4(&a[0]));
  } else {
    e = "BadCall";
  }
  events.push_back(e);
  if (onEvent) onEvent(e);
  return S_OK;
}

DWORD Advise(IUnknown* converter, IUnknown* sink, HRESULT* result) {
  CPtr<IConnectionPointContainer> container;
  converter->QueryInterface(IID_IConnectionPointContainer, container.OutVoid());
  CPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  HRESULT hr = container->FindConnectionPoint(DIID_IOrvTransEvents, point.Out());
  if (SUCCEEDED(hr)) hr = point->Advise(sink, &cookie);
  if (result) *result = hr;
  return cookie;
}

CPtr<IStream> MemoryStream(const std::vector<std::uint8_t>& bytes) {
  CPtr<IStream> stream;
  ::CreateStreamOnHGlobal(nullptr, TRUE, stream.Out());
  ULONG written = 0;
  if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  return stream;
}

std::vector<std::uint8_t> StreamBytes(IStream* stream) {
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  std::vector<std::uint8_t> out;
  std::uint8_t buffer[65536];
  ULONG got = 0;
  while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &got)) && got > 0) {
    out.insert(out.end(), buffer, buffer + got);
  }
  return out;
}

std::vector<CReference> References() {
  std::vector<CReference> out;
  const std::string dir = TAGVERT_REFERENCE_DIR;
  const std::vector<std::uint8_t> manifest = ReadBytes(WinPath(dir + "/manifest.txt"));
  std::istringstream lines(std::string(manifest.begin(), manifest.end()));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name, input, direction;
    if (!std::getline(fields, name, '\t') || !std::getline(fields, input, '\t')) continue;
    std::getline(fields, direction);
    CReference r;
    r.name = name;
    r.input = WinPath(input);
    r.direction = static_cast<LONG>(std::stoll(direction.empty() ? "0" : direction, nullptr, 0));
    r.expectedIf = WinPath(dir + "/" + name + ".if");
    r.expectedTtx = WinPath(dir + "/" + name + ".ttx");
    out.push_back(r);
  }
  return out;
}

}  // namespace tagvert::comtest
