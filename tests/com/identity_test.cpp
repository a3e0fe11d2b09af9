// Tagvert: identity getters and the format test through COM.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

TEST(CConverterIdentityTest, GettersGiveTheTTXIdentity) {
  auto converter = CreateConverter();
  ASSERT_TRUE(converter);
  const struct {
    const char* name;
    HRESULT (STDMETHODCALLTYPE IOrvIFConverterEx4::*get)(BSTR*);
    const wchar_t* expected;
  } strings[] = {
      {"Name", &IOrvIFConverterEx4::get_Name, L"TTX"},
      {"DefaultExtension", &IOrvIFConverterEx4::get_DefaultExtension, L"ttx"},
      {"FilterString", &IOrvIFConverterEx4::get_FilterString, L"*.ttx"},
      {"MIMEContentType", &IOrvIFConverterEx4::get_MIMEContentType, L"text/ttx"},
  };
  for (const auto& row : strings) {
    SCOPED_TRACE(row.name);
    CBstr value;
    ASSERT_EQ((converter.Get()->*row.get)(value.Out()), S_OK);
    EXPECT_EQ(value.Text(), row.expected);
  }
  const struct {
    const char* name;
    HRESULT (STDMETHODCALLTYPE IOrvIFConverterEx4::*get)(LONG*);
    LONG expected;
  } numbers[] = {
      {"Id", &IOrvIFConverterEx4::get_Id, 31},
      {"TargetId", &IOrvIFConverterEx4::get_TargetId, 31},
      {"IsConvertToIFAvailable", &IOrvIFConverterEx4::get_IsConvertToIFAvailable, 1},
      {"IsConvertFromIFAvailable", &IOrvIFConverterEx4::get_IsConvertFromIFAvailable, 1},
      {"State", &IOrvIFConverterEx4::get_State, 0},
      {"PropertyCount", &IOrvIFConverterEx4::get_PropertyCount, 1},
  };
  for (const auto& row : numbers) {
    SCOPED_TRACE(row.name);
    LONG value = -7;
    ASSERT_EQ((converter.Get()->*row.get)(&value), S_OK);
    EXPECT_EQ(value, row.expected);
  }
  auto legacy = converter.As<IOrvIFConverter>(IID_IOrvIFConverter);
  SHORT id = 0;
  ASSERT_EQ(legacy->get_SrcFormatId(&id), S_OK);
  EXPECT_EQ(id, 31);
}

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

}  // namespace
}  // namespace tagvert::comtest
