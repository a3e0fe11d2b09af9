// Tagvert: conversions through COM, compared byte for byte with the native build's output for
// the same documents (the golden documents and the real samples).
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <shlwapi.h>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The ways a host hands over a source and a target. (File names in VARIANTs: the script client,
// tests/com/scripts.)
enum class Way { FileStreams, MemoryStreams, FileNames };

const struct {
  Way way;
  const char* name;
} kWays[] = {
    {Way::FileStreams, "ConvertXStream with SHCreateStreamOnFileEx"},
    {Way::MemoryStreams, "ConvertX with CreateStreamOnHGlobal in VARIANTs"},
    {Way::FileNames, "ConvertXFile with file names"},
};

// Converts `input` (a file) one way and returns the output bytes and the result.
HRESULT Convert(IOrvIFConverterEx4* converter, bool toIF, Way way, const std::wstring& input,
                Bytes& output) {
  CPtr<IOrvIFConverter> legacy;
  converter->QueryInterface(IID_IOrvIFConverter, legacy.OutVoid());
  CVar reserv;
  HRESULT hr = E_UNEXPECTED;
  switch (way) {
    case Way::FileStreams: {
      const std::wstring outFile = WorkFile(toIF ? "out.if" : "out.ttx");
      ::DeleteFileW(outFile.c_str());
      CPtr<IStream> in, out;
      ::SHCreateStreamOnFileEx(input.c_str(), STGM_READ | STGM_SHARE_DENY_NONE,
                               FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, in.Out());
      ::SHCreateStreamOnFileEx(outFile.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_DENY_NONE,
                               FILE_ATTRIBUTE_NORMAL, TRUE, nullptr, out.Out());
      hr = toIF ? legacy->ConvertToIFStream(in.Get(), out.Get(), reserv.v)
                : legacy->ConvertFromIFStream(in.Get(), out.Get(), reserv.v);
      output = StreamBytes(out.Get());
      break;
    }
    case Way::MemoryStreams: {
      auto in = MemoryStream(ReadBytes(input));
      auto out = MemoryStream();
      // Reserv is accepted whatever it holds.
      hr = toIF ? converter->ConvertToIF(CVar::Unknown(in.Get()).v, CVar::Unknown(out.Get()).v,
                                         CVar::I4(7).v)
                : converter->ConvertFromIF(CVar::Unknown(in.Get()).v, CVar::Unknown(out.Get()).v,
                                           reserv.v);
      output = StreamBytes(out.Get());
      break;
    }
    case Way::FileNames: {
      const std::wstring outFile = WorkFile(toIF ? "named.if" : "named.ttx");
      CBstr in(input), out(outFile);
      hr = toIF ? legacy->ConvertToIFFile(in.Get(), out.Get(), reserv.v)
                : legacy->ConvertFromIFFile(in.Get(), out.Get(), reserv.v);
      output = ReadBytes(outFile);
      break;
    }
  }
  return hr;
}

TEST(CConverterConversionTest, EveryWayGivesTheNativeBytes) {
  const auto references = References();
  ASSERT_GE(references.size(), 2U);
  auto converter = CreateConverter();
  ASSERT_TRUE(converter);
  for (const auto& r : references) {
    SCOPED_TRACE(r.name);
    const Bytes expectedIf = ReadBytes(r.expectedIf);
    const Bytes expectedTtx = ReadBytes(r.expectedTtx);
    ASSERT_FALSE(expectedIf.empty());
    ASSERT_EQ(converter->put_Property(CVar(L"Direction").v, CVar::I4(r.direction).v), S_OK);
    for (const auto& [way, name] : kWays) {
      SCOPED_TRACE(name);
      Bytes output;
      ASSERT_EQ(Convert(converter.Get(), true, way, r.input, output), S_OK);
      EXPECT_TRUE(output == expectedIf)
          << output.size() << " bytes, expected " << expectedIf.size();
      ASSERT_EQ(Convert(converter.Get(), false, way, r.expectedIf, output), S_OK);
      EXPECT_TRUE(output == expectedTtx)
          << output.size() << " bytes, expected " << expectedTtx.size();
    }
  }
}

TEST(CConverterConversionTest, MissingSourceAndUnusableTargetsFailAtOpen) {
  auto converter = CreateConverter();
  auto sink = MakeSink();
  Advise(converter.Get(), sink.Get());
  auto out = MemoryStream();
  CVar reserv;
  const struct {
    const char* name;
    CVar source;
    CVar target;
  } rows[] = {
      {"missing file", CVar(WorkFile("missing.ttx")), CVar::Unknown(out.Get())},
      {"a number", CVar::I4(1), CVar::Unknown(out.Get())},
      {"an object without IStream", CVar::Unknown(sink.Get()), CVar::Unknown(out.Get())},
      {"an empty target", CVar::Unknown(MemoryStream().Get()), CVar()},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    sink->events.clear();
    EXPECT_EQ(converter->ConvertToIF(row.source.v, row.target.v, reserv.v), E_INVALIDARG);
    EXPECT_EQ(sink->events, std::vector<std::string>{"State 32768"});
  }
}

}  // namespace
}  // namespace tagvert::comtest
