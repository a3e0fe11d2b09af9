// Tagvert: fuzz target: any bytes convert as TTX to IF and back, and as IF to TTX, without
// failing or crashing. Built with -DTAGVERT_BUILD_FUZZERS=ON (clang), run as
//   build/fuzz/tests/fuzz/fuzz_convert CORPUS_DIR -max_len=4096
// SPDX-License-Identifier: Apache-2.0
#include <cstdint>
#include <memory>

#include "frame/ttx_converter.h"
#include "storage/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tagvert::CEndpoint;
  using tagvert::CMemoryStream;
  static tagvert::CTagvertConverter* converter = [] {
    auto* c = new tagvert::CTagvertConverter();
    c->PutProperty(tagvert::CVariant::Int32(0), tagvert::CVariant::Int32(0x00080000));
    return c;
  }();
  auto convert = [](bool toIF, std::shared_ptr<CMemoryStream> source) {
    auto target = std::make_shared<CMemoryStream>();
    const tagvert::HResult hr =
        toIF ? converter->ConvertToIF(CEndpoint::Stream(source), CEndpoint::Stream(target))
             : converter->ConvertFromIF(CEndpoint::Stream(source), CEndpoint::Stream(target));
    // Content never makes a conversion fail.
    if (hr != tagvert::kSOk) __builtin_trap();
    return target;
  };
  const bool fromIF = size > 0 && (data[0] & 1) != 0;
  auto output = convert(!fromIF, std::make_shared<CMemoryStream>(data, size));
  if (!fromIF) convert(false, std::make_shared<CMemoryStream>(output->Bytes()));
  return 0;
}
