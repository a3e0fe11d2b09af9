// Tagvert tests (Windows): the client of the kernel's text service, against service objects
// registered for this process only (CoRegisterClassObject), each answering in its own way.
// SPDX-License-Identifier: Apache-2.0
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "com/kernel_text_service.h"
#include "frame/ttx_converter.h"
#include "kernel_text_service_com.h"

namespace tagvert {
namespace {

// How a service object behaves.
enum class Answer { Texts, NullText, EmptyText, Failure, NoInterface };

// A service object; with Answer::NoInterface it offers only IUnknown.
class CFakeService final : public IOrvKernelTextService {
 public:
  explicit CFakeService(Answer answer) : m_answer(answer) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    const bool text =
        IsEqualIID(riid, IID_IOrvKernelTextService) && m_answer != Answer::NoInterface;
    if (!IsEqualIID(riid, IID_IUnknown) && !text) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IOrvKernelTextService*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --m_refs;
    if (refs == 0) delete this;
    return refs;
  }
  HRESULT STDMETHODCALLTYPE GetActionText(LONG number, BSTR* text) override {
    return Reply(number == 30 ? L"to IF" : L"from IF", text);
  }
  HRESULT STDMETHODCALLTYPE GetFormatName(LONG number, BSTR* text) override {
    return Reply(number == 31 ? L"TTX by the kernel" : L"?", text);
  }

 private:
  HRESULT Reply(const wchar_t* value, BSTR* text) {
    *text = nullptr;
    switch (m_answer) {
      case Answer::Texts:
        *text = ::SysAllocString(value);
        return S_OK;
      case Answer::EmptyText:
        *text = ::SysAllocString(L"");
        return S_OK;
      case Answer::Failure:
        return E_ACCESSDENIED;
      default:
        return S_OK;
    }
  }

  Answer m_answer;
  std::atomic<ULONG> m_refs{1};
};

class CFakeFactory final : public IClassFactory {
 public:
  explicit CFakeFactory(Answer answer) : m_answer(answer) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** object) override {
    auto* service = new CFakeService(m_answer);
    const HRESULT hr = service->QueryInterface(riid, object);
    service->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  Answer m_answer;
};

class CKernelTextServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
  void TearDown() override { ::CoUninitialize(); }
};

TEST_F(CKernelTextServiceTest, NameAndCaptionsFollowWhatTheServiceAnswers) {
  struct Case {
    const char* name;
    bool registered;
    Answer answer;
    HRESULT created;  // CreateKernelTextService's code
    std::u16string name31, caption30, caption31;
  };
  const Case cases[] = {
      {"no service installed", false, Answer::Texts, REGDB_E_CLASSNOTREG, u"TTX", u"", u""},
      {"texts", true, Answer::Texts, S_OK, u"TTX by the kernel", u"to IF", u"from IF"},
      {"no text (null string)", true, Answer::NullText, S_OK, u"TTX", u"", u""},
      {"an empty text counts", true, Answer::EmptyText, S_OK, u"", u"", u""},
      {"the method fails", true, Answer::Failure, S_OK, u"TTX", u"", u""},
      {"no text interface", true, Answer::NoInterface, E_POINTER, u"TTX", u"", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFakeFactory factory(c.answer);
    DWORD cookie = 0;
    if (c.registered) {
      ASSERT_EQ(::CoRegisterClassObject(CLSID_OrvKernelTextService, &factory, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie),
                S_OK);
    }
    HResult hr = kSOk;
    const bool service = CreateKernelTextService(hr) != nullptr;
    EXPECT_EQ(hr, c.created);
    EXPECT_EQ(service, SUCCEEDED(c.created));

    CTagvertConverter converter;
    converter.SetKernelTextServiceFactory(&CreateKernelTextService);
    EXPECT_EQ(converter.GetConverterName(), c.name31);
    EXPECT_EQ(converter.GetCaption(true), c.caption30);
    EXPECT_EQ(converter.GetCaption(false), c.caption31);
    if (c.registered) ::CoRevokeClassObject(cookie);
  }
}

}  // namespace
}  // namespace tagvert
