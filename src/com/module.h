// Tagvert: the DLL module: its handle and its lock count.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <windows.h>

namespace tagvert::com {

/// The module handle of tagvert.dll (set when the DLL is loaded).
HMODULE ModuleHandle();
/// Sets the module handle; called once by DllMain.
void SetModuleHandle(HMODULE module);

/// Raises the module lock count. Every live converter object and every LockServer(TRUE) holds
/// one lock; DllCanUnloadNow answers S_OK only when the count is 0. Thread-safe.
void ModuleLock();
/// Lowers the module lock count. Thread-safe.
void ModuleUnlock();
/// The current module lock count.
long ModuleLockCount();

/// Holds one module lock for its lifetime. As the first member of an object it is released
/// last, after everything else of the object is gone.
class CModuleLockHolder {
 public:
  CModuleLockHolder() { ModuleLock(); }
  ~CModuleLockHolder() { ModuleUnlock(); }
  CModuleLockHolder(const CModuleLockHolder&) = delete;
  CModuleLockHolder& operator=(const CModuleLockHolder&) = delete;
};

/// Converts the current exception (inside a catch block) into the HRESULT it carries:
/// CHResultError gives its code, an allocation failure E_OUTOFMEMORY, anything else E_FAIL.
HRESULT HResultFromCurrentException() noexcept;

/// Runs `body` (which returns an HRESULT) at a COM method's edge: what it throws becomes its
/// HRESULT as HResultFromCurrentException gives it, so that no exception leaves the method.
template <typename Body>
HRESULT HResultOf(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return HResultFromCurrentException();
  }
}

}  // namespace tagvert::com
