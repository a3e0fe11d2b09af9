// Tagvert: HRESULT-style result codes (public: tagvert/hresult.h) and the helpers that raise them.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "tagvert/hresult.h"

namespace tagvert {

/// Raises CHResultError with `code`.
[[noreturn]] inline void ThrowHResult(HResult code) {
  throw CHResultError(code);
}

/// Raises CHResultError when `code` is a failure code.
inline void ThrowIfFailed(HResult code) {
  if (Failed(code)) ThrowHResult(code);
}

}  // namespace tagvert
