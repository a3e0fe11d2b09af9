// Tagvert tests: a registry in memory, with a listing of its content and an injected failure.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>

#include "com/registrar/registry.h"
#include "storage/hresult.h"

namespace tagvert::test {

class CMemoryRegistry : public IRegistry {
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

  /// Every key and value, one line each, in the form `HKLM\A\B` for a key and
  /// `HKLM\A\B: Name = s 'text'` or `... = d 31` for a value (`@` names the default value).
  /// Keys list in name order without regard to case.
  std::string Listing() const;

  /// Makes the `count`-th write from now (CreateKey, Set*, Delete*) fail with `code`.
  void FailWriteAfter(int count, HResult code) {
    m_writesLeft = count;
    m_failure = code;
  }

 private:
  struct CaseLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const;
  };
  struct Node {
    std::map<std::u16string, Node, CaseLess> subkeys;
    std::map<std::u16string, std::variant<std::u16string, std::uint32_t>, CaseLess> values;
  };

  Node* Find(RegistryRoot root, const std::u16string& path);
  void CountWrite();

  std::map<RegistryRoot, Node> m_roots;
  int m_writesLeft = -1;
  HResult m_failure = kSOk;
};

}  // namespace tagvert::test
