// Tagvert: the class object of the converter (CConverterClassFactory).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <windows.h>

namespace tagvert::com {

/// The converter's class object: one instance for the module's lifetime, handed out by
/// DllGetClassObject. Its own references do not count as module locks; LockServer does.
class CConverterClassFactory final : public IClassFactory {
 public:
  /// The one class object.
  static CConverterClassFactory& Instance();

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  /// Creates a converter, plain or aggregated under `outer`; with an outer object only
  /// IID_IUnknown may be asked for (CLASS_E_NOAGGREGATION otherwise).
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  /// Raises (TRUE) or lowers (FALSE) the module lock count.
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  CConverterClassFactory() = default;
};

}  // namespace tagvert::com
