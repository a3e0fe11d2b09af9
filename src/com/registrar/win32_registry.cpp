// Tagvert: the platform registry behind the registrar script (Windows).
// SPDX-License-Identifier: Apache-2.0
#include "com/registrar/win32_registry.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "storage/hresult.h"

namespace tagvert {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the platform's wide characters are UTF-16");

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

HKEY RootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::ClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RegistryRoot::CurrentUser:
      return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegistryRoot::Users:
      return HKEY_USERS;
    case RegistryRoot::CurrentConfig:
      return HKEY_CURRENT_CONFIG;
  }
  return HKEY_CLASSES_ROOT;
}

void ThrowIfError(LSTATUS status) {
  if (status != ERROR_SUCCESS) ThrowHResult(HRESULT_FROM_WIN32(static_cast<DWORD>(status)));
}

// An open key, closed when it goes out of scope.
class CRegKey {
 public:
  CRegKey() = default;
  ~CRegKey() {
    if (m_key != nullptr) ::RegCloseKey(m_key);
  }
  CRegKey(const CRegKey&) = delete;
  CRegKey& operator=(const CRegKey&) = delete;

  // Opens an existing key; false when it does not exist, throws on any other failure.
  bool Open(RegistryRoot root, const std::u16string& path, REGSAM access) {
    const LSTATUS status = ::RegOpenKeyExW(RootKey(root), Wide(path), 0, access, &m_key);
    if (status == ERROR_FILE_NOT_FOUND) {
      m_key = nullptr;
      return false;
    }
    ThrowIfError(status);
    return true;
  }
  void Create(RegistryRoot root, const std::u16string& path) {
    ThrowIfError(::RegCreateKeyExW(RootKey(root), Wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_WRITE, nullptr, &m_key, nullptr));
  }
  HKEY Get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

void SetValue(RegistryRoot root, const std::u16string& path, const std::u16string& name, DWORD type,
              const void* data, DWORD size) {
  CRegKey key;
  if (!key.Open(root, path, KEY_SET_VALUE)) ThrowHResult(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  ThrowIfError(::RegSetValueExW(key.Get(), name.empty() ? nullptr : Wide(name), 0, type,
                                static_cast<const BYTE*>(data), size));
}

}  // namespace

void CWin32Registry::CreateKey(RegistryRoot root, const std::u16string& path) {
  CRegKey key;
  key.Create(root, path);
}

bool CWin32Registry::KeyExists(RegistryRoot root, const std::u16string& path) {
  CRegKey key;
  return key.Open(root, path, KEY_READ);
}

bool CWin32Registry::HasSubkeys(RegistryRoot root, const std::u16string& path) {
  CRegKey key;
  if (!key.Open(root, path, KEY_READ)) return false;
  DWORD subkeys = 0;
  ThrowIfError(::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr));
  return subkeys > 0;
}

void CWin32Registry::SetString(RegistryRoot root, const std::u16string& path,
                               const std::u16string& name, const std::u16string& value) {
  // The size counts the terminating null, as REG_SZ wants.
  SetValue(root, path, name, REG_SZ, value.c_str(),
           static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
}

void CWin32Registry::SetDword(RegistryRoot root, const std::u16string& path,
                              const std::u16string& name, std::uint32_t value) {
  const DWORD data = value;
  SetValue(root, path, name, REG_DWORD, &data, sizeof data);
}

void CWin32Registry::DeleteValue(RegistryRoot root, const std::u16string& path,
                                 const std::u16string& name) {
  CRegKey key;
  if (!key.Open(root, path, KEY_SET_VALUE)) return;
  const LSTATUS status = ::RegDeleteValueW(key.Get(), name.empty() ? nullptr : Wide(name));
  if (status != ERROR_FILE_NOT_FOUND) ThrowIfError(status);
}

void CWin32Registry::DeleteTree(RegistryRoot root, const std::u16string& path) {
  // RegDeleteTree empties a key; the key itself goes with RegDeleteKey.
  const LSTATUS status = ::RegDeleteTreeW(RootKey(root), Wide(path));
  if (status == ERROR_FILE_NOT_FOUND) return;
  ThrowIfError(status);
  const LSTATUS removed = ::RegDeleteKeyW(RootKey(root), Wide(path));
  if (removed != ERROR_FILE_NOT_FOUND) ThrowIfError(removed);
}

}  // namespace tagvert
