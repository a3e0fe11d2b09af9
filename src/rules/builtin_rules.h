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

/// Opens the stream that a converter loads its rule set from at construction; null when there
/// is none (the rule set then stays empty).
using RulesStreamSource = ByteStreamPtr (*)();

/// Sets the process-wide source of the converters' rules. The default, OpenBuiltinRulesStream,
/// serves the library and the command; the Windows DLL installs a source over its own "RULES"
/// resource when it is loaded. Set it before converters are created.
void SetRulesStreamSource(RulesStreamSource source);

/// The source set with SetRulesStreamSource (OpenBuiltinRulesStream by default).
RulesStreamSource GetRulesStreamSource();

}  // namespace tagvert
