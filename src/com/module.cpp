// Tagvert: the DLL module: its handle and its lock count.
// SPDX-License-Identifier: Apache-2.0
#include "com/module.h"

#include <atomic>
#include <new>

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
  try {
    throw;
  } catch (const CHResultError& e) {
    return e.Code();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace tagvert::com
