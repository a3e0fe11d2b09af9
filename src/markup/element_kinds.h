// Tagvert: the kinds an element is classified by: tag type, rule type, algorithm, whitespace mode.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

namespace tagvert {

/// The markup role of a record (the TagType values of the element interface, as small values).
enum class TagType : std::uint8_t { Open, Close, Single, PairedOpen, PairedClose };
/// Block or inline; the numbers are those of the element interface.
enum class RuleType : std::uint8_t { Block = 0, Inline = 1 };
/// Translate, skip, leave, remove or reserve; the numbers are those of the element interface.
enum class Algorithm : std::uint8_t { Translate = 0, Skip = 1, Leave = 2, Remove = 3, Reserve = 4 };
/// Whitespace modes; the numbers are those of the element interface.
enum class Whitespace : std::uint8_t {
  Preserve = 0,
  Remove = 1,
  Normalize = 2,
  NormalizeSignificant = 4,
};

}  // namespace tagvert
