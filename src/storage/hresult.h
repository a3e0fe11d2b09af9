// Tagvert: HRESULT-style result codes and the one exception type that carries them.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <exception>

namespace tagvert {

/// A 32-bit result code in the platform's HRESULT layout: negative means failure.
using HResult = std::int32_t;

/// Builds an HResult from its unsigned hexadecimal spelling.
constexpr HResult MakeHResult(std::uint32_t bits) {
  return static_cast<HResult>(bits);
}

// The codes the component produces or passes through. Named with a k prefix so that they never
// collide with the platform headers' macros of the same meaning.
inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kEFail = MakeHResult(0x80004005);
inline constexpr HResult kEAbort = MakeHResult(0x80004004);
inline constexpr HResult kEPointer = MakeHResult(0x80004003);
inline constexpr HResult kENoInterface = MakeHResult(0x80004002);
inline constexpr HResult kENotImpl = MakeHResult(0x80004001);
inline constexpr HResult kEInvalidArg = MakeHResult(0x80070057);
inline constexpr HResult kEOutOfMemory = MakeHResult(0x8007000E);
/// The format test's answer for a source that is not TTX.
inline constexpr HResult kENotFormat = MakeHResult(0x800401C2);

/// Storage failure code handed to Fail when a flush wrote fewer bytes than were pending.
inline constexpr std::int32_t kStateShortWrite = 0x8003;

/// True for a failure code.
constexpr bool Failed(HResult hr) {
  return hr < 0;
}

/// The exception raised for every environmental failure inside the component (open, read,
/// short write, stop, bad argument). The frame turns it into state and result codes.
class CHResultError : public std::exception {
 public:
  explicit CHResultError(HResult code) noexcept : m_code(code) {}
  /// The carried result code.
  HResult Code() const noexcept { return m_code; }
  const char* what() const noexcept override { return "tagvert: operation failed with an HRESULT"; }

 private:
  HResult m_code;
};

/// Raises CHResultError with `code`.
[[noreturn]] inline void ThrowHResult(HResult code) {
  throw CHResultError(code);
}

/// Raises CHResultError when `code` is a failure code.
inline void ThrowIfFailed(HResult code) {
  if (Failed(code)) ThrowHResult(code);
}

}  // namespace tagvert
