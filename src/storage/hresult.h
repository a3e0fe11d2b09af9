// Tagvert: HRESULT-style result codes (public: tagvert/hresult.h) and the helpers that raise them.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <new>

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

/// The result code of the exception being handled, for the edges that turn failures into
/// codes: its own code for CHResultError, E_OUTOFMEMORY for an allocation failure, E_FAIL for
/// anything else. Call it only inside a catch block.
inline HResult CurrentExceptionResult() noexcept {
  try {
    throw;
  } catch (const CHResultError& e) {
    return e.Code();
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  } catch (...) {
    return kEFail;
  }
}

}  // namespace tagvert
