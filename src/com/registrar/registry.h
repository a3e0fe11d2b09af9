// Tagvert: the registry as the registrar script sees it (the platform's, or one in memory).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

namespace tagvert {

/// The predefined keys a registrar script may start from.
enum class RegistryRoot { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

/// A registry addressed by root and path. Paths are the key names from the root down, joined
/// with a backslash; names compare without regard to ASCII letter case, as the platform's do.
/// Value names are empty for a key's default value. Every failure throws CHResultError with
/// the platform's code; asking about or deleting something that does not exist is no failure.
class IRegistry {
 public:
  virtual ~IRegistry() = default;
  /// Creates the key (and any missing key above it); an existing key is kept as it is.
  virtual void CreateKey(RegistryRoot root, const std::u16string& path) = 0;
  /// Whether the key exists.
  virtual bool KeyExists(RegistryRoot root, const std::u16string& path) = 0;
  /// Whether the key has at least one subkey (false for a key that does not exist).
  virtual bool HasSubkeys(RegistryRoot root, const std::u16string& path) = 0;
  /// Sets a string value (REG_SZ) of an existing key.
  virtual void SetString(RegistryRoot root, const std::u16string& path, const std::u16string& name,
                         const std::u16string& value) = 0;
  /// Sets a 32-bit number value (REG_DWORD) of an existing key.
  virtual void SetDword(RegistryRoot root, const std::u16string& path, const std::u16string& name,
                        std::uint32_t value) = 0;
  /// Deletes one value of a key.
  virtual void DeleteValue(RegistryRoot root, const std::u16string& path,
                           const std::u16string& name) = 0;
  /// Deletes the key with every subkey and value below it.
  virtual void DeleteTree(RegistryRoot root, const std::u16string& path) = 0;
};

}  // namespace tagvert
