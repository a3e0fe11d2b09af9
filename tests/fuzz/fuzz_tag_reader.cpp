// Tagvert: fuzz target: the tag reader cuts any bytes into items whose source texts, put
// together, are exactly the decoded input.
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tagvert;
  const std::vector<std::uint8_t> bytes(data, data + size);
  std::u16string joined;
  for (const fuzz::CItem& item : fuzz::ReadMarkupItems(bytes))
    joined += item.source;
  TAGVERT_FUZZ_CHECK(joined == fuzz::DecodeMarkup(bytes));
  return 0;
}
