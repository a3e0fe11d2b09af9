// Tagvert: fuzz target: the TransML loader takes any bytes and gives the same outcome each time.
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/fuzz_support.h"
#include "rules/transml_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tagvert;
  const std::vector<std::uint8_t> bytes(data, data + size);
  CRules first;
  CRules second;
  const bool loaded = first.LoadStream(std::make_shared<CMemoryStream>(bytes), false);
  // A second load over a used rule set starts afresh: the same outcome and the same rules.
  TAGVERT_FUZZ_CHECK(second.LoadStream(std::make_shared<CMemoryStream>(bytes), false) == loaded);
  TAGVERT_FUZZ_CHECK(first.LoadStream(std::make_shared<CMemoryStream>(bytes), false) == loaded);
  TAGVERT_FUZZ_CHECK(first.GetNamedRules().size() == second.GetNamedRules().size());
  TAGVERT_FUZZ_CHECK(first.GetNamelessRules().size() == second.GetNamelessRules().size());
  return 0;
}
