// Tagvert: the stream over the built-in TTX rules.
// SPDX-License-Identifier: Apache-2.0
#include "rules/builtin_rules.h"

#include <atomic>
#include <memory>

#include "storage/memory_stream.h"

namespace tagvert {
namespace {

std::atomic<RulesStreamSource> g_rulesStreamSource{&OpenBuiltinRulesStream};

}  // namespace

ByteStreamPtr OpenBuiltinRulesStream() {
  const std::span<const std::uint8_t> bytes = BuiltinRulesBytes();
  return std::make_shared<CMemoryStream>(bytes.data(), bytes.size());
}

void SetRulesStreamSource(RulesStreamSource source) {
  g_rulesStreamSource.store(source != nullptr ? source : &OpenBuiltinRulesStream);
}

RulesStreamSource GetRulesStreamSource() {
  return g_rulesStreamSource.load();
}

}  // namespace tagvert
