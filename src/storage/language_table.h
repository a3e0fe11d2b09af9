// Tagvert: the kernel's language numbers and their language tags.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tagvert {

/// One entry of the language table: the kernel's language number (the high 16 bits of the
/// Direction property) and its language tag in lower case.
struct CLanguageEntry {
  std::uint16_t code;
  const char16_t* tag;
};

/// The language table in its order (codes 1 and 0x0401 both give "en-us").
std::span<const CLanguageEntry> LanguageTable();

/// The language tag of `code` from the table in capitals (ASCII letters only), "UNK-UNK" for a
/// code not in the table.
std::u16string LanguageTagUpper(std::uint16_t code);

/// The code of the first entry whose tag equals `tag` folding ASCII letters; nullopt when none
/// does.
std::optional<std::uint16_t> LanguageCodeOfTag(std::u16string_view tag);

}  // namespace tagvert
