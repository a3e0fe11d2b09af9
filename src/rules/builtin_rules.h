// Tagvert: the built-in TTX rules (the TransML file compiled into the library).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <span>

#include "storage/byte_stream.h"

namespace tagvert {

/// The bytes of the built-in TTX rule set exactly as in src/rules/ttx_rules.transml (UTF-8
/// without a byte-order mark, CRLF line ends). Static storage; never empty.
std::span<const std::uint8_t> BuiltinRulesBytes();

/// A new memory stream positioned at the start of the built-in rules, for CRules::LoadStream.
ByteStreamPtr OpenBuiltinRulesStream();

}  // namespace tagvert
