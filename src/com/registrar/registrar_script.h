// Tagvert: the registrar script language (.rgs) and its register and unregister runs.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "com/registrar/registry.h"
#include "storage/hresult.h"

namespace tagvert {

/// The code of every syntax error in a registrar script (DISP_E_EXCEPTION, as the platform's
/// registrar answers).
inline constexpr HResult kERegistrarSyntax = MakeHResult(0x80020009);

/// One value written by a script: `s 'text'` (REG_SZ) or `d 'number'` (REG_DWORD).
struct CRegistrarValue {
  enum class Type { String, Dword };
  std::u16string name;  ///< empty for the key's default value
  Type type = Type::String;
  std::u16string text;       ///< the string of a String value
  std::uint32_t number = 0;  ///< the number of a Dword value
};

/// One key of a script with what is written into it and below it.
struct CRegistrarKey {
  /// NoRemove: kept at unregistration. ForceRemove: deleted whole before it is written, and
  /// deleted whole at unregistration. Delete: deleted whole at registration, left alone at
  /// unregistration (its block, if any, is not applied).
  enum class Flag { None, NoRemove, ForceRemove, Delete };
  std::u16string name;
  Flag flag = Flag::None;
  std::optional<CRegistrarValue> defaultValue;
  std::vector<CRegistrarValue> values;  ///< the `val` lines of its block
  std::vector<CRegistrarKey> subkeys;
};

/// A parsed registrar script: predefined roots, each with the keys written below it.
///
/// The language: `root { key ... }` where root is HKCR, HKCU, HKLM, HKU, HKCC or the long name
/// (HKEY_CLASSES_ROOT ...); a key is `[NoRemove|ForceRemove|Delete] name [= value] [{ ... }]`;
/// inside a key's block, `val name = value` sets a named value and any other line is a subkey;
/// a value is `s text` or `d number` (decimal or 0x hexadecimal). Tokens are separated by white
/// space; a token in single quotes may hold white space and writes a quote as two. Keywords
/// and roots compare without regard to case. `%NAME%` inside a token is replaced from the
/// replacement map (`%%` stands for one percent sign), after the token has been cut out, so a
/// replaced path may hold spaces and quotes.
class CRegistrarScript {
 public:
  /// Names to their replacement texts (for example u"MODULE" to the module's full path).
  using Replacements = std::map<std::u16string, std::u16string>;

  /// Parses a whole script. Throws CHResultError(kERegistrarSyntax) on any syntax error and on
  /// a `%NAME%` without a replacement; nothing is written before the whole script has parsed.
  static CRegistrarScript Parse(std::u16string_view text, const Replacements& replacements);

  /// Register mode: writes every key and value; ForceRemove keys are deleted whole first,
  /// Delete keys are deleted. Stops at the first failure (its CHResultError passes through);
  /// what was written before stays.
  void Register(IRegistry& registry) const;
  /// Unregister mode: deletes ForceRemove keys whole; other keys not marked NoRemove lose the
  /// named values the script gives them and are deleted when no subkey is left below them.
  /// NoRemove keys and the roots stay. Stops at the first failure.
  void Unregister(IRegistry& registry) const;

  /// The parsed roots in script order.
  struct Root {
    RegistryRoot root;
    std::vector<CRegistrarKey> keys;
  };
  const std::vector<Root>& GetRoots() const { return m_roots; }

 private:
  std::vector<Root> m_roots;
};

}  // namespace tagvert
