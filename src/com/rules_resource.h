// Tagvert: the converters' rule set from the DLL's own "RULES" resource (Windows).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "storage/byte_stream.h"

namespace tagvert {

/// The number of the "RULES" resource that holds the built-in TransML rules.
inline constexpr int kRulesResourceId = 200;

/// Opens the "RULES" resource 200 of the module that holds this code: its bytes are copied into
/// a new moveable, zero-initialised global memory block and a stream over that block is made
/// (the block is freed when the stream is released). Null when the resource cannot be found or
/// loaded, or the block or the stream cannot be made.
ByteStreamPtr OpenModuleRulesResource();

/// Makes every converter created from now on load its rules through OpenModuleRulesResource.
/// Called once when the DLL is loaded.
void UseModuleRulesResource();

}  // namespace tagvert
