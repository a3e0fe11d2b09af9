// Tagvert: the kinds an element is classified by: tag type, rule type, algorithm, whitespace mode.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

namespace tagvert {

/// The markup role of an element. The values are small so that a record keeps it in one byte;
/// no output carries them.
enum class TagType : std::uint8_t {
  Open,        ///< start tag, not (yet) paired
  Close,       ///< end tag, not (yet) paired
  Single,      ///< item without partner (also every text run)
  PairedOpen,  ///< start tag paired with a later end tag
  PairedClose  ///< end tag paired with an earlier start tag
};
/// Block or inline (property only as a rule's type: it classifies an element as inline).
enum class RuleType : std::uint8_t { Block = 0, Inline = 1, Property = 2 };
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
