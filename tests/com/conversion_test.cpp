// Tagvert: sources and targets as a host hands them over (file names, streams, by reference, or
// something else) to the format test and the conversions, and the converted bytes, identical to
// the native build's output for the same documents (the golden documents and the real samples).
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <shlwapi.h>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

TEST(CConverterSourceTest, FormatTestAndConversionsTakeNamesAndStreams) {
  const std::wstring ttx = WorkFile("format.ttx"), notTtx = WorkFile("format.xml");
  WriteBytes(ttx, "\xEF\xBB\xBF<?xml version='1.0'?>\r\n<TRADOStag><Body/></TRADOStag>");
  WriteBytes(notTtx, "<tradostag><Body/></tradostag>");
  auto converter = CreateConverter();
  auto sink = MakeSink(converter.Get());
  CVar name(ttx);
  CVar byRef(VT_BSTR | VT_BYREF, 0);
  V_BSTRREF(&byRef.v) = &V_BSTR(&name.v);
  constexpr HRESULT kNotTtx = static_cast<HRESULT>(0x800401C2);
  const struct {
    CVar source;
    HRESULT format, conversion;  // IsFormatAvailable's and ConvertToIF's results
  } rows[] = {
      {CVar(ttx), S_OK, S_OK},
      {std::move(byRef), E_INVALIDARG, S_OK},  // the conversions dereference, the test does not
      {CVar(notTtx), kNotTtx, S_OK},
      {CVar(WorkFile("missing.ttx")), E_INVALIDARG, E_INVALIDARG},
      {CVar::Unknown(MemoryStream(ReadBytes(ttx)).Get()), S_OK, S_OK},
      {CVar::Unknown(sink.Get()), E_INVALIDARG, E_INVALIDARG},  // an object without IStream
      {CVar::I4(3), E_INVALIDARG, E_INVALIDARG},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    EXPECT_EQ(converter->IsFormatAvailable(row.source.v), row.format);
    sink->events.clear();
    auto out = MemoryStream();
    EXPECT_EQ(converter->ConvertToIF(row.source.v, CVar::Unknown(out.Get()).v, CVar().v),
              row.conversion);
    ASSERT_FALSE(sink->events.empty());
    EXPECT_EQ(sink->events.back(), row.conversion == S_OK ? "State 0" : "State 32768");
  }
  EXPECT_EQ(converter->ConvertToIF(CVar(ttx).v, CVar().v, CVar().v), E_INVALIDARG);  // no target
  auto legacy = converter.As<IOrvIFConverter>(IID_IOrvIFConverter);
  EXPECT_EQ(legacy->IsFormatAvailableStream(MemoryStream(ReadBytes(notTtx)).Get()), kNotTtx);
  EXPECT_EQ(legacy->IsFormatAvailableFile(CBstr(ttx.c_str()).s), S_OK);
  EXPECT_EQ(legacy->IsFormatAvailableFile(nullptr), E_INVALIDARG);
}

// Converts `input` (a file) one way, in one of the three ways a host hands over a source and a
// target, and returns the output bytes.
Bytes Convert(IOrvIFConverterEx4* converter, bool toIF, int way, const std::wstring& input) {
  CPtr<IOrvIFConverter> legacy;
  converter->QueryInterface(IID_IOrvIFConverter, legacy.OutVoid());
  const std::wstring outFile = WorkFile(toIF ? "out.if" : "out.ttx");
  ::DeleteFileW(outFile.c_str());
  CPtr<IStream> in, out;
  HRESULT hr = E_UNEXPECTED;
  if (way == 0) {  // ConvertXStream with SHCreateStreamOnFileEx
    const DWORD share = STGM_SHARE_DENY_NONE;
    ::SHCreateStreamOnFileEx(input.c_str(), STGM_READ | share, 0, FALSE, nullptr, in.Out());
    ::SHCreateStreamOnFileEx(outFile.c_str(), STGM_CREATE | STGM_READWRITE | share, 0, TRUE,
                             nullptr, out.Out());
    hr = toIF ? legacy->ConvertToIFStream(in.Get(), out.Get(), CVar().v)
              : legacy->ConvertFromIFStream(in.Get(), out.Get(), CVar().v);
  } else if (way == 1) {  // ConvertX with CreateStreamOnHGlobal in VARIANTs; Reserv is anything
    in = MemoryStream(ReadBytes(input));
    out = MemoryStream();
    const CVar source = CVar::Unknown(in.Get()), target = CVar::Unknown(out.Get());
    hr = toIF ? converter->ConvertToIF(source.v, target.v, CVar::I4(7).v)
              : converter->ConvertFromIF(source.v, target.v, CVar().v);
  } else {  // ConvertXFile with file names
    const CBstr source(input.c_str()), target(outFile.c_str());
    hr = toIF ? legacy->ConvertToIFFile(source.s, target.s, CVar().v)
              : legacy->ConvertFromIFFile(source.s, target.s, CVar().v);
  }
  EXPECT_EQ(hr, S_OK);
  return out ? StreamBytes(out.Get()) : ReadBytes(outFile);
}

TEST(CConverterConversionTest, EveryWayGivesTheNativeBytes) {
  const auto references = References();
  ASSERT_GE(references.size(), 2U);
  auto converter = CreateConverter();
  ASSERT_EQ(converter->put_Property(CVar(L"Direction").v, CVar::I4(0x00080000).v), S_OK);
  for (const auto& r : references) {
    SCOPED_TRACE(r.name);
    const Bytes expectedIf = ReadBytes(r.expectedIf), expectedTtx = ReadBytes(r.expectedTtx);
    ASSERT_FALSE(expectedIf.empty());
    for (int way = 0; way < 3; ++way) {
      SCOPED_TRACE(way);
      EXPECT_TRUE(Convert(converter.Get(), true, way, r.input) == expectedIf);
      EXPECT_TRUE(Convert(converter.Get(), false, way, r.expectedIf) == expectedTtx);
    }
  }
}

}  // namespace
}  // namespace tagvert::comtest
