// Tagvert tests: a registry in memory.
// SPDX-License-Identifier: Apache-2.0
#include "com/registrar/memory_registry.h"

#include <algorithm>
#include <vector>

#include "storage/char_class.h"

namespace tagvert::test {
namespace {

std::vector<std::u16string> SplitPath(const std::u16string& path) {
  std::vector<std::u16string> names;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find(u'\\', start);
    names.push_back(path.substr(start, end - start));
    if (end == std::u16string::npos) break;
    start = end + 1;
  }
  return names;
}

// Short names in the order of RegistryRoot.
constexpr const char* kRootNames[] = {"HKCR", "HKCU", "HKLM", "HKU", "HKCC"};

char16_t Fold(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

}  // namespace

bool CMemoryRegistry::CaseLess::operator()(const std::u16string& a, const std::u16string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char16_t x, char16_t y) { return Fold(x) < Fold(y); });
}

CMemoryRegistry::Node* CMemoryRegistry::Find(RegistryRoot root, const std::u16string& path) {
  Node* node = &m_roots[root];
  for (const std::u16string& name : SplitPath(path)) {
    const auto found = node->subkeys.find(name);
    if (found == node->subkeys.end()) return nullptr;
    node = &found->second;
  }
  return node;
}

void CMemoryRegistry::CountWrite() {
  if (m_writesLeft < 0) return;
  if (m_writesLeft-- == 0) ThrowHResult(m_failure);
}

void CMemoryRegistry::CreateKey(RegistryRoot root, const std::u16string& path) {
  CountWrite();
  Node* node = &m_roots[root];
  for (const std::u16string& name : SplitPath(path))
    node = &node->subkeys[name];
}

bool CMemoryRegistry::KeyExists(RegistryRoot root, const std::u16string& path) {
  return Find(root, path) != nullptr;
}

bool CMemoryRegistry::HasSubkeys(RegistryRoot root, const std::u16string& path) {
  const Node* node = Find(root, path);
  return node != nullptr && !node->subkeys.empty();
}

void CMemoryRegistry::SetString(RegistryRoot root, const std::u16string& path,
                                const std::u16string& name, const std::u16string& value) {
  CountWrite();
  Node* node = Find(root, path);
  if (node == nullptr) ThrowHResult(MakeHResult(0x80070002));
  node->values[name] = value;
}

void CMemoryRegistry::SetDword(RegistryRoot root, const std::u16string& path,
                               const std::u16string& name, std::uint32_t value) {
  CountWrite();
  Node* node = Find(root, path);
  if (node == nullptr) ThrowHResult(MakeHResult(0x80070002));
  node->values[name] = value;
}

void CMemoryRegistry::DeleteValue(RegistryRoot root, const std::u16string& path,
                                  const std::u16string& name) {
  CountWrite();
  if (Node* node = Find(root, path)) node->values.erase(name);
}

void CMemoryRegistry::DeleteTree(RegistryRoot root, const std::u16string& path) {
  CountWrite();
  const std::size_t cut = path.rfind(u'\\');
  Node* parent = cut == std::u16string::npos ? &m_roots[root] : Find(root, path.substr(0, cut));
  if (parent != nullptr) {
    parent->subkeys.erase(cut == std::u16string::npos ? path : path.substr(cut + 1));
  }
}

std::string CMemoryRegistry::Listing() const {
  std::string out;
  auto list = [&out](auto& self, const std::string& path, const Node& node) -> void {
    out += path + "\n";
    for (const auto& [name, value] : node.values) {
      out += path + ": " + (name.empty() ? std::string("@") : Utf16ToUtf8(name)) + " = ";
      if (const auto* text = std::get_if<std::u16string>(&value)) {
        out += "s '" + Utf16ToUtf8(*text) + "'\n";
      } else {
        out += "d " + std::to_string(std::get<std::uint32_t>(value)) + "\n";
      }
    }
    for (const auto& [name, child] : node.subkeys)
      self(self, path + "\\" + Utf16ToUtf8(name), child);
  };
  for (const auto& [root, node] : m_roots) {
    for (const auto& [name, child] : node.subkeys)
      list(list, std::string(kRootNames[static_cast<int>(root)]) + "\\" + Utf16ToUtf8(name), child);
  }
  return out;
}

}  // namespace tagvert::test
