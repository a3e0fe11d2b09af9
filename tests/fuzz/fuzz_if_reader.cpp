// Tagvert: fuzz target: the IF reader reads any bytes to their end, each item taking at least
// one unit, and reading and writing again reaches a fixed point.
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/fuzz_support.h"
#include "ifcodec/if_parser.h"
#include "support/if_element_writer.h"

namespace {

using namespace tagvert;

// Reads `bytes` as IF and writes every item again as IF; returns the IF written.
std::vector<std::uint8_t> Rewrite(const std::vector<std::uint8_t>& bytes) {
  auto output = std::make_shared<CMemoryStream>();
  CDataStorage storage(EncodingMode::Utf16, EncodingMode::Utf16);
  storage.Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(bytes)),
               CEndpoint::Stream(output));
  CIFParser parser(&storage, IfParserMode::Read | IfParserMode::Write);
  std::size_t items = 0;
  for (;;) {
    CElementX element;
    if (!parser.ReadElement(&element)) break;
    test::WriteIfElement(parser, &element);
    // Every item consumes input: at most one per byte pair, plus the last.
    TAGVERT_FUZZ_CHECK(++items <= bytes.size() / 2 + 1);
  }
  storage.Flush();
  storage.Close();
  return output->Bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first rewrite drops what the reader ignores (unknown codes, skipped text); the second
  // may still settle an element's kind (an end mark on a tag of pair id 0 is read as a single
  // tag, which is written without it). From then on reading and writing change nothing.
  const std::vector<std::uint8_t> twice =
      Rewrite(Rewrite(std::vector<std::uint8_t>(data, data + size)));
  TAGVERT_FUZZ_CHECK(Rewrite(twice) == twice);
  return 0;
}
