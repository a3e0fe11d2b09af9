// Tagvert: the named character references (escape and rules tables) and code page 1252.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string_view>

namespace tagvert {

/// One named character reference: the name (zero-terminated, case-sensitive) and its unit.
struct CEntityEntry {
  const char16_t* name;  ///< name without "&" and ";"; empty in the terminating entry
  char16_t unit;         ///< the UTF-16 unit the name stands for; 0 in the terminating entry
};

/// Entries of each table before the terminating entry.
inline constexpr int kEntityTableSize = 256;

/// The table used for escaping and resolving references in element text. Begins "lt", "amp",
/// "gt", "quot", "apos" (escaping uses its first 2 or 5 entries), then the Latin-1 names from
/// "iexcl" to "yuml" (with "brkbar", "die" and "hibar" after "brvbar", "uml" and "macr"), the
/// special names "OElig" to "rsaquo", the symbol names "fnof" to "diams" (with "euro"), and "nbsp"
/// last. Followed by the terminating entry {u"", 0}.
extern const CEntityEntry* const kEscapeTable;

/// The table used by the rule-set loader: identical to kEscapeTable except that it begins "lt",
/// "gt", "amp", "quot", "apos" (the rule set's basic entities are its first 5 entries).
/// Both point to kEntityTableSize + 1 entries.
extern const CEntityEntry* const kRulesTable;

/// The first entry of `table` (terminated by an entry with an empty name) whose name equals
/// `name` exactly, or null. An empty `name` is never found.
const CEntityEntry* EntityFindByName(const CEntityEntry* table, std::u16string_view name);

/// The first of the first `count` entries of `table` that carries `unit`, or null.
/// `count` must not exceed the entries before the terminator.
const CEntityEntry* EntityFindByUnit(const CEntityEntry* table, int count, char16_t unit);

/// The unit that code page 1252 gives `byte`. 0x80..0x9F follow the published mapping, with the
/// five unassigned bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D mapped to the unit of the same value;
/// every other byte maps to the unit of the same value (the code page agrees with Latin-1 there).
char16_t Windows1252ToUnit(std::uint8_t byte);

}  // namespace tagvert
