// Tagvert: HRESULT-style result codes and the one exception type that carries them.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <exception>

#include "tagvert/export.h"

namespace tagvert {

/// A 32-bit result code in the platform's HRESULT layout: negative means failure.
using HResult = std::int32_t;

/// Builds an HResult from its unsigned hexadecimal spelling.
constexpr HResult MakeHResult(std::uint32_t bits) {
  return static_cast<HResult>(bits);
}

// The codes the component produces or passes through. Named with a k prefix so that they never
// collide with the platform headers' macros of the same meaning.

/// Success.
inline constexpr HResult kSOk = 0;
/// Success with a negative answer.
inline constexpr HResult kSFalse = 1;
/// Unspecified failure: a storage failure or an exception that carries no code.
inline constexpr HResult kEFail = MakeHResult(0x80004005);
/// The operation was aborted.
inline constexpr HResult kEAbort = MakeHResult(0x80004004);
/// A required pointer (a stream, say) is missing.
inline constexpr HResult kEPointer = MakeHResult(0x80004003);
/// The requested interface is not supported.
inline constexpr HResult kENoInterface = MakeHResult(0x80004002);
/// The operation is not implemented.
inline constexpr HResult kENotImpl = MakeHResult(0x80004001);
/// A bad argument: a source or target that cannot be opened, a property that does not exist.
inline constexpr HResult kEInvalidArg = MakeHResult(0x80070057);
/// Memory ran out.
inline constexpr HResult kEOutOfMemory = MakeHResult(0x8007000E);
/// The format test's answer for a source that is not TTX.
inline constexpr HResult kENotFormat = MakeHResult(0x800401C2);

/// Storage failure code handed to Fail when a flush wrote fewer bytes than were pending; it is
/// fired as a state just before kStateFailed.
inline constexpr std::int32_t kStateShortWrite = 0x8003;

/// True for a failure code.
constexpr bool Failed(HResult hr) {
  return hr < 0;
}

/// The exception raised for every environmental failure inside the component (open, read,
/// short write, stop, bad argument). A host's byte stream throws it to report a failed read;
/// the converter turns it into state and result codes and never lets it out.
class TAGVERT_API CHResultError : public std::exception {
 public:
  /// An error carrying `code` (a failure code).
  explicit CHResultError(HResult code) noexcept : m_code(code) {}
  /// The carried result code.
  HResult Code() const noexcept { return m_code; }
  /// A fixed text; the code says what failed.
  const char* what() const noexcept override { return "tagvert: operation failed with an HRESULT"; }

 private:
  HResult m_code;
};

}  // namespace tagvert
