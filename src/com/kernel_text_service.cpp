// Tagvert: the client of the kernel's text service (Windows).
// SPDX-License-Identifier: Apache-2.0
#include "com/kernel_text_service.h"

#include <objbase.h>
#include <ole2.h>
#include <oleauto.h>
#include <windows.h>

#include "kernel_text_service_com.h"

namespace tagvert {
namespace {

// One service object: a counted reference to its text interface, released with it.
class CKernelTextServiceClient : public IKernelTextService {
 public:
  explicit CKernelTextServiceClient(IOrvKernelTextService* service) : m_service(service) {}
  ~CKernelTextServiceClient() override { m_service->Release(); }
  CKernelTextServiceClient(const CKernelTextServiceClient&) = delete;
  CKernelTextServiceClient& operator=(const CKernelTextServiceClient&) = delete;

  HResult GetActionText(std::int32_t number, std::optional<std::u16string>& text) override {
    BSTR result = nullptr;
    const HRESULT hr = m_service->GetActionText(number, &result);
    return Answer(hr, result, text);
  }
  HResult GetFormatName(std::int32_t number, std::optional<std::u16string>& text) override {
    BSTR result = nullptr;
    const HRESULT hr = m_service->GetFormatName(number, &result);
    return Answer(hr, result, text);
  }

 private:
  // A null string is no text; an empty one is a text.
  static HResult Answer(HRESULT hr, BSTR result, std::optional<std::u16string>& text) {
    text.reset();
    if (SUCCEEDED(hr) && result != nullptr) {
      text.emplace(reinterpret_cast<const char16_t*>(result), ::SysStringLen(result));
    }
    ::SysFreeString(result);
    return hr;
  }

  IOrvKernelTextService* m_service;
};

}  // namespace

std::unique_ptr<IKernelTextService> CreateKernelTextService(HResult& hr) {
  IUnknown* unknown = nullptr;
  hr = ::CoCreateInstance(CLSID_OrvKernelTextService, nullptr, CLSCTX_ALL, IID_IUnknown,
                          reinterpret_cast<void**>(&unknown));
  if (FAILED(hr)) return nullptr;
  hr = ::OleRun(unknown);
  IOrvKernelTextService* service = nullptr;
  const HRESULT query =
      unknown->QueryInterface(IID_IOrvKernelTextService, reinterpret_cast<void**>(&service));
  unknown->Release();
  if (FAILED(query) && query != E_NOINTERFACE) hr = FAILED(hr) ? hr : query;
  if (FAILED(hr) || service == nullptr) {
    if (service != nullptr) service->Release();
    if (SUCCEEDED(hr)) hr = E_POINTER;
    return nullptr;
  }
  try {
    return std::make_unique<CKernelTextServiceClient>(service);
  } catch (...) {
    service->Release();
    hr = E_OUTOFMEMORY;
    return nullptr;
  }
}

}  // namespace tagvert
