// Tagvert: the COM converter object over the frame (CConverterObject).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <windows.h>

namespace tagvert::com {

/// The converter object a host creates.
class CConverterObject {
 public:
  /// Creates a converter, aggregated under `outer` when it is not null, and answers `riid`.
  static HRESULT Create(IUnknown* outer, REFIID riid, void** object);
};

}  // namespace tagvert::com
