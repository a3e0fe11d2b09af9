// Tagvert: whether the build runs under AddressSanitizer (kAddressSanitizer).
// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace tagvert {

/// True in builds with AddressSanitizer (GCC's and Clang's ways of saying so). The pools that
/// keep memory for reuse hand everything back to the system there, so that a use of memory after
/// it was given back is still caught.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

}  // namespace tagvert
