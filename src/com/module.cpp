// Tagvert: the DLL module: its handle and its lock count.
// SPDX-License-Identifier: Apache-2.0
#include "com/module.h"

#include <atomic>

#include "storage/hresult.h"

namespace tagvert::com {
namespace {

std::atomic<HMODULE> g_module{nullptr};
std::atomic<long> g_lockCount{0};

}  // namespace

HMODULE ModuleHandle() {
  return g_module.load();
}

void SetModuleHandle(HMODULE module) {
  g_module.store(module);
}

void ModuleLock() {
  g_lockCount.fetch_add(1);
}

void ModuleUnlock() {
  g_lockCount.fetch_sub(1);
}

long ModuleLockCount() {
  return g_lockCount.load();
}

HRESULT HResultFromCurrentException() noexcept {
  // The core's codes are the platform's: kEOutOfMemory is E_OUTOFMEMORY, kEFail E_FAIL.
  return static_cast<HRESULT>(CurrentExceptionResult());
}

}  // namespace tagvert::com
