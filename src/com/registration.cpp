// Tagvert: DllRegisterServer and DllUnregisterServer: the registry script resource applied by
// the registrar interpreter, then the type library's registration.
// SPDX-License-Identifier: Apache-2.0
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <new>
#include <string>

#include "com/module.h"
#include "com/registrar/registrar_script.h"
#include "com/registrar/win32_registry.h"
#include "storage/char_class.h"
#include "storage/hresult.h"

namespace tagvert {
namespace {

// The number of the "REGISTRY" resource that holds the registry script.
constexpr int kRegistryScriptResourceId = 102;

HMODULE ThisModule() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ThisModule), &module)) {
    ThrowHResult(HRESULT_FROM_WIN32(::GetLastError()));
  }
  return module;
}

// The full path of the module's file.
std::u16string ModulePath(HMODULE module) {
  std::u16string path(MAX_PATH, u'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, reinterpret_cast<wchar_t*>(path.data()),
                                              static_cast<DWORD>(path.size()));
    if (length == 0) ThrowHResult(HRESULT_FROM_WIN32(::GetLastError()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// The registry script resource, read as UTF-8.
std::u16string LoadRegistryScript(HMODULE module) {
  const HRSRC info =
      ::FindResourceW(module, MAKEINTRESOURCEW(kRegistryScriptResourceId), L"REGISTRY");
  if (info == nullptr) ThrowHResult(HRESULT_FROM_WIN32(::GetLastError()));
  const HGLOBAL resource = ::LoadResource(module, info);
  const char* bytes =
      resource != nullptr ? static_cast<const char*>(::LockResource(resource)) : nullptr;
  if (bytes == nullptr) ThrowHResult(HRESULT_FROM_WIN32(::GetLastError()));
  return Utf8ToUtf16(std::string_view(bytes, ::SizeofResource(module, info)));
}

// Runs the module's registry script in register or unregister mode.
void RunRegistryScript(bool registering) {
  const HMODULE module = ThisModule();
  const CRegistrarScript script =
      CRegistrarScript::Parse(LoadRegistryScript(module), {{u"MODULE", ModulePath(module)}});
  CWin32Registry registry;
  if (registering) {
    script.Register(registry);
  } else {
    script.Unregister(registry);
  }
}

// The type library embedded in the module (resource TYPELIB 1).
ITypeLib* LoadModuleTypeLib(const std::u16string& path) {
  ITypeLib* library = nullptr;
  ThrowIfFailed(
      ::LoadTypeLibEx(reinterpret_cast<const wchar_t*>(path.c_str()), REGKIND_NONE, &library));
  return library;
}

void RegisterModuleTypeLib() {
  std::u16string path = ModulePath(ThisModule());
  ITypeLib* library = LoadModuleTypeLib(path);
  const HRESULT hr = ::RegisterTypeLib(library, reinterpret_cast<wchar_t*>(path.data()), nullptr);
  library->Release();
  ThrowIfFailed(hr);
}

void UnregisterModuleTypeLib() {
  ITypeLib* library = LoadModuleTypeLib(ModulePath(ThisModule()));
  TLIBATTR* attributes = nullptr;
  HRESULT hr = library->GetLibAttr(&attributes);
  if (SUCCEEDED(hr)) {
    hr = ::UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                             attributes->lcid, attributes->syskind);
    library->ReleaseTLibAttr(attributes);
  }
  library->Release();
  ThrowIfFailed(hr);
}

// Runs one registration step and turns what it throws into its result.
template <typename Step>
HRESULT Run(Step step) {
  return com::HResultOf([&] {
    step();
    return S_OK;
  });
}

}  // namespace
}  // namespace tagvert

/// Writes the converter's registry entries (the module's registry script in register mode, with
/// %MODULE% the module's full path), then registers its type library. Returns the first
/// failing HRESULT; entries written before a failure stay.
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  const HRESULT hr = tagvert::Run([] { tagvert::RunRegistryScript(true); });
  if (FAILED(hr)) return hr;
  return tagvert::Run(tagvert::RegisterModuleTypeLib);
}

/// Removes the converter's registry entries (the script in unregister mode: the shared keys
/// marked NoRemove stay), then unregisters its type library. Returns the first failing HRESULT.
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  const HRESULT hr = tagvert::Run([] { tagvert::RunRegistryScript(false); });
  if (FAILED(hr)) return hr;
  return tagvert::Run(tagvert::UnregisterModuleTypeLib);
}
