// Tagvert: the converters' rule set from the DLL's own "RULES" resource (Windows).
// SPDX-License-Identifier: Apache-2.0
#include "com/rules_resource.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <objbase.h>
#include <windows.h>

#include <cstring>
#include <memory>

#include "com/stream_adapter.h"
#include "rules/builtin_rules.h"
#include "storage/hresult.h"

namespace tagvert {
namespace {

HMODULE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&OpenModuleRulesResource), &module);
  return module;
}

}  // namespace

ByteStreamPtr OpenModuleRulesResource() {
  const HMODULE module = ThisModule();
  const HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(kRulesResourceId), L"RULES");
  if (info == nullptr) return nullptr;
  const HGLOBAL resource = ::LoadResource(module, info);
  const DWORD size = ::SizeofResource(module, info);
  const void* bytes = resource != nullptr ? ::LockResource(resource) : nullptr;
  if (bytes == nullptr) return nullptr;
  const HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (block == nullptr) return nullptr;
  void* copy = ::GlobalLock(block);
  if (copy == nullptr) {
    ::GlobalFree(block);
    return nullptr;
  }
  std::memcpy(copy, bytes, size);
  ::GlobalUnlock(block);
  IStream* stream = nullptr;
  // TRUE: the stream frees the block on its last release.
  if (FAILED(::CreateStreamOnHGlobal(block, TRUE, &stream))) {
    ::GlobalFree(block);
    return nullptr;
  }
  try {
    // The loader's byte stream holds the stream; its last release frees the block.
    return std::make_shared<com::CComByteStream>(stream);
  } catch (...) {
    stream->Release();
    return nullptr;
  }
}

void UseModuleRulesResource() {
  SetRulesStreamSource(&OpenModuleRulesResource);
}

namespace {

// This file is linked into the DLL only: from the moment the DLL is loaded, its converters take
// their rules from its own resource.
[[maybe_unused]] const bool kModuleRulesInstalled = (UseModuleRulesResource(), true);

}  // namespace

}  // namespace tagvert
