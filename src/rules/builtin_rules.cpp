// Tagvert: the stream over the built-in TTX rules.
// SPDX-License-Identifier: Apache-2.0
#include "rules/builtin_rules.h"

#include <memory>

#include "storage/memory_stream.h"

namespace tagvert {

ByteStreamPtr OpenBuiltinRulesStream() {
  const std::span<const std::uint8_t> bytes = BuiltinRulesBytes();
  return std::make_shared<CMemoryStream>(bytes.data(), bytes.size());
}

}  // namespace tagvert
