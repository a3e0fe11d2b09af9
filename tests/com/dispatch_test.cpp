// Tagvert: late-bound calls through GetIDsOfNames and Invoke on both dual interfaces.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

DISPID IdOf(IDispatch* dispatch, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  dispatch->GetIDsOfNames(IID_NULL, names, 1, 1033, &id);
  return id;
}

// Invokes `name` with `args` given in call order (reversed here, as dispatch wants them).
// A method's failure comes back as DISP_E_EXCEPTION with the code in `exception.scode`.
HRESULT Call(IDispatch* dispatch, const wchar_t* name, WORD flags, std::vector<VARIANT> args,
             VARIANT* result, EXCEPINFO* exception = nullptr) {
  std::reverse(args.begin(), args.end());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{args.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr,
                    static_cast<UINT>(args.size()), flags == DISPATCH_PROPERTYPUT ? 1U : 0U};
  return dispatch->Invoke(IdOf(dispatch, name), IID_NULL, 1033, flags, &params, result, exception,
                          nullptr);
}

TEST(CConverterDispatchTest, EachFaceAnswersFromItsOwnTypeInfo) {
  auto converter = CreateConverter();
  auto modern = converter.As<IDispatch>(IID_IDispatch);
  auto old = converter.As<IOrvIFConverter>(IID_IOrvIFConverter);
  EXPECT_EQ(IdOf(modern.Get(), L"Property"), 1);
  EXPECT_EQ(IdOf(modern.Get(), L"TargetId"), 21);
  EXPECT_EQ(IdOf(old.Get(), L"SrcFormatId"), 1);
  EXPECT_EQ(IdOf(old.Get(), L"ConvertFromIFStream"), 7);
  EXPECT_EQ(IdOf(old.Get(), L"TargetId"), DISPID_UNKNOWN);
  UINT count = 0;
  EXPECT_EQ(old->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1U);
  CPtr<ITypeInfo> info;
  ASSERT_EQ(old->GetTypeInfo(0, 1033, info.Out()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualIID(attr->guid, IID_IOrvIFConverter));
  info->ReleaseTypeAttr(attr);
}

TEST(CConverterDispatchTest, LateBoundCallsReachTheSameMethods) {
  const auto references = References();
  ASSERT_FALSE(references.empty());
  const auto& r = references.front();
  auto converter = CreateConverter();
  auto dispatch = converter.As<IDispatch>(IID_IDispatch);
  auto old = converter.As<IDispatch>(IID_IOrvIFConverter);

  CVar result;
  ASSERT_EQ(Call(dispatch.Get(), L"TargetId", DISPATCH_PROPERTYGET, {}, &result.v), S_OK);
  EXPECT_EQ(DescribeVariant(result.v), "3:31");
  CVar name;
  ASSERT_EQ(Call(dispatch.Get(), L"Name", DISPATCH_PROPERTYGET, {}, &name.v), S_OK);
  EXPECT_EQ(DescribeVariant(name.v), "8:TTX");
  CVar srcId;
  ASSERT_EQ(Call(old.Get(), L"SrcFormatId", DISPATCH_PROPERTYGET, {}, &srcId.v), S_OK);
  EXPECT_EQ(DescribeVariant(srcId.v), "2:31");

  CVar prop(L"Direction"), value = CVar::I4(r.direction);
  ASSERT_EQ(Call(dispatch.Get(), L"Property", DISPATCH_PROPERTYPUT, {prop.v, value.v}, nullptr),
            S_OK);
  CVar back;
  ASSERT_EQ(Call(dispatch.Get(), L"Property", DISPATCH_PROPERTYGET, {prop.v}, &back.v), S_OK);
  EXPECT_EQ(V_I4(&back.v), r.direction);

  // ConvertToIF with Reserv left out, then ConvertFromIFFile on the older face.
  const std::wstring outIf = WorkFile("late.if"), outTtx = WorkFile("late.ttx");
  CVar in(r.input), out(outIf);
  ASSERT_EQ(Call(dispatch.Get(), L"ConvertToIF", DISPATCH_METHOD, {in.v, out.v}, nullptr), S_OK);
  EXPECT_TRUE(ReadBytes(outIf) == ReadBytes(r.expectedIf));
  CVar inIf(outIf), outBack(outTtx);
  ASSERT_EQ(Call(old.Get(), L"ConvertFromIFFile", DISPATCH_METHOD, {inIf.v, outBack.v}, nullptr),
            S_OK);
  EXPECT_TRUE(ReadBytes(outTtx) == ReadBytes(r.expectedTtx));
  CVar notTtx(r.expectedIf);
  EXCEPINFO exception{};
  EXPECT_EQ(
      Call(dispatch.Get(), L"IsFormatAvailable", DISPATCH_METHOD, {notTtx.v}, nullptr, &exception),
      DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, static_cast<SCODE>(0x800401C2));
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
}

}  // namespace
}  // namespace tagvert::comtest
