// Tagvert: the format test through COM, and the names and type information of both dual
// interfaces (the identity getters and late-bound calls: the script clients, tests/com/scripts).
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

TEST(CConverterIdentityTest, FormatTestTakesNamesAndStreamsButNoReferences) {
  const std::wstring ttx = WorkFile("format.ttx");
  const std::wstring notTtx = WorkFile("format.xml");
  const std::string root = "\xEF\xBB\xBF<?xml version='1.0'?>\r\n<TRADOStag><Body/></TRADOStag>";
  const std::string lower = "<tradostag><Body/></tradostag>";
  WriteBytes(ttx, {root.begin(), root.end()});
  WriteBytes(notTtx, {lower.begin(), lower.end()});
  auto converter = CreateConverter();
  auto legacy = converter.As<IOrvIFConverter>(IID_IOrvIFConverter);

  CVar name(ttx);
  EXPECT_EQ(converter->IsFormatAvailable(name.v), S_OK);
  CVar byRef;
  V_VT(&byRef.v) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&byRef.v) = &V_BSTR(&name.v);
  EXPECT_EQ(converter->IsFormatAvailable(byRef.v), E_INVALIDARG);
  EXPECT_EQ(converter->IsFormatAvailable(CVar(notTtx).v), static_cast<HRESULT>(0x800401C2));
  EXPECT_EQ(converter->IsFormatAvailable(CVar(WorkFile("missing.ttx")).v), E_INVALIDARG);
  EXPECT_EQ(converter->IsFormatAvailable(CVar::I4(3).v), E_INVALIDARG);

  auto stream = MemoryStream(ReadBytes(ttx));
  EXPECT_EQ(converter->IsFormatAvailable(CVar::Unknown(stream.Get()).v), S_OK);
  EXPECT_EQ(legacy->IsFormatAvailableStream(MemoryStream(ReadBytes(notTtx)).Get()),
            static_cast<HRESULT>(0x800401C2));
  // An object without IStream.
  auto sink = MakeSink();
  EXPECT_EQ(legacy->IsFormatAvailableStream(sink.Get()), E_INVALIDARG);
  CBstr file(ttx);
  EXPECT_EQ(legacy->IsFormatAvailableFile(file.Get()), S_OK);
  EXPECT_EQ(legacy->IsFormatAvailableFile(nullptr), E_INVALIDARG);
}

DISPID IdOf(IDispatch* dispatch, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  dispatch->GetIDsOfNames(IID_NULL, names, 1, 1033, &id);
  return id;
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
  // A late-bound call on the older face (a script's SrcFormatId) answers a 16-bit integer.
  DISPPARAMS none{};
  CVar result;
  ASSERT_EQ(
      old->Invoke(1, IID_NULL, 1033, DISPATCH_PROPERTYGET, &none, &result.v, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(DescribeVariant(result.v), "2:31");
}

}  // namespace
}  // namespace tagvert::comtest
