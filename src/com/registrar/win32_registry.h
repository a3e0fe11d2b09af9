// Tagvert: the platform registry behind the registrar script (Windows).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "com/registrar/registry.h"

namespace tagvert {

/// The registry of the running system. Failures throw CHResultError with the Win32 error as
/// an HRESULT (HRESULT_FROM_WIN32).
class CWin32Registry : public IRegistry {
 public:
  void CreateKey(RegistryRoot root, const std::u16string& path) override;
  bool KeyExists(RegistryRoot root, const std::u16string& path) override;
  bool HasSubkeys(RegistryRoot root, const std::u16string& path) override;
  void SetString(RegistryRoot root, const std::u16string& path, const std::u16string& name,
                 const std::u16string& value) override;
  void SetDword(RegistryRoot root, const std::u16string& path, const std::u16string& name,
                std::uint32_t value) override;
  void DeleteValue(RegistryRoot root, const std::u16string& path,
                   const std::u16string& name) override;
  void DeleteTree(RegistryRoot root, const std::u16string& path) override;
};

}  // namespace tagvert
