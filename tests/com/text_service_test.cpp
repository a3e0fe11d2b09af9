// Tagvert: the converter's name and caption from the kernel's text service, against service
// objects registered for this process only (CoRegisterClassObject), each answering its own way.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

enum class Answer { Texts, NullText, EmptyText, Failure, NoInterface };

// The class object and the service object in one (on the test's stack: not counted).
struct CFakeService final : IOrvKernelTextService, IClassFactory {
  explicit CFakeService(Answer a) : answer(a) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    const bool text = IsEqualIID(riid, IID_IOrvKernelTextService) && answer != Answer::NoInterface;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IClassFactory)) *object = static_cast<IClassFactory*>(this);
    if (text || IsEqualIID(riid, IID_IUnknown)) *object = static_cast<IOrvKernelTextService*>(this);
    return *object ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown*, REFIID riid, void** object) override {
    return QueryInterface(riid, object);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
  STDMETHODIMP GetActionText(LONG number, BSTR* text) override {
    return Reply(number == 30 ? L"to IF" : L"from IF", text);
  }
  STDMETHODIMP GetFormatName(LONG number, BSTR* text) override {
    return Reply(number == 31 ? L"TTX by the kernel" : L"?", text);
  }
  HRESULT Reply(const wchar_t* value, BSTR* text) {
    *text = answer == Answer::Texts       ? ::SysAllocString(value)
            : answer == Answer::EmptyText ? ::SysAllocString(L"")
                                          : nullptr;
    return answer == Answer::Failure ? E_ACCESSDENIED : S_OK;
  }
  Answer answer;
};

TEST(CKernelTextServiceTest, NameAndCaptionFollowWhatTheServiceAnswers) {
  const struct {
    bool registered;
    Answer answer;
    const wchar_t* name;
    const char* caption;
  } rows[] = {
      {false, Answer::Texts, L"TTX", "Text "},
      {true, Answer::Texts, L"TTX by the kernel", "Text to IF"},
      {true, Answer::NullText, L"TTX", "Text "},
      {true, Answer::EmptyText, L"", "Text "},
      {true, Answer::Failure, L"TTX", "Text "},
      {true, Answer::NoInterface, L"TTX", "Text "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    CFakeService service(row.answer);
    DWORD cookie = 0;
    if (row.registered) {
      ASSERT_EQ(
          ::CoRegisterClassObject(CLSID_OrvKernelTextService, static_cast<IClassFactory*>(&service),
                                  CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
          S_OK);
    }
    auto converter = CreateConverter();
    CBstr name;
    EXPECT_EQ(converter->get_Name(&name.s), S_OK);
    EXPECT_EQ(name.Text(), row.name);
    auto sink = MakeSink(converter.Get());
    converter->ConvertToIF(CVar::Unknown(MemoryStream("<TRADOStag><Body/></TRADOStag>").Get()).v,
                           CVar::Unknown(MemoryStream().Get()).v, CVar().v);
    ASSERT_GE(sink->events.size(), 2U);
    EXPECT_EQ(sink->events[1], row.caption);
    if (row.registered) ::CoRevokeClassObject(cookie);
  }
}

}  // namespace
}  // namespace tagvert::comtest
