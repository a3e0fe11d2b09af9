// Tagvert: the IF's code units: the code range, its four bands and the start rule. Header-only
// and free of dependencies, so that the layers below the IF codec (the storage's bulk scans and
// the IF start rule, the pairing's ids) name the range from here instead of spelling it.
// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace tagvert {

/// Units in U+E000..U+EFFF are the IF's codes; every other unit is text (or a group's data).
inline constexpr char16_t kIfCodeFirst = 0xE000;
inline constexpr char16_t kIfCodeLast = 0xEFFF;
/// A unit is a code when its bits under this mask are those of kIfCodeFirst.
inline constexpr char16_t kIfCodeMask = 0xF000;
static_assert((kIfCodeFirst & kIfCodeMask) == kIfCodeFirst &&
              (kIfCodeLast & kIfCodeMask) == kIfCodeFirst &&
              static_cast<char16_t>(kIfCodeLast - kIfCodeFirst) ==
                  static_cast<char16_t>(~kIfCodeMask));

/// The boundary code: ends the header and every group; the code that an IF output starts with
/// when its first unit may not begin one.
inline constexpr char16_t kIfBoundary = 0xE000;

constexpr bool IsIfCode(char16_t unit) {
  return (unit & kIfCodeMask) == kIfCodeFirst;
}
/// The code bands: a boundary ends a group (or stands alone), a flag marks the element that
/// follows, a group code opens a group that runs up to the next code, a skipped code opens text
/// that is dropped up to the next code.
constexpr bool IsIfBoundaryCode(char16_t unit) {
  return unit >= kIfCodeFirst && unit <= 0xE3FF;
}
constexpr bool IsIfFlagCode(char16_t unit) {
  return unit >= 0xE400 && unit <= 0xE7FF;
}
constexpr bool IsIfGroupCode(char16_t unit) {
  return unit >= 0xE800 && unit <= 0xEBFF;
}
constexpr bool IsIfSkippedCode(char16_t unit) {
  return unit >= 0xEC00 && unit <= kIfCodeLast;
}

/// The IF start rule: an IF output may begin directly only with a boundary or a group code;
/// before any other first unit the boundary is written.
constexpr bool NeedsIfStartCode(char16_t unit) {
  return !IsIfBoundaryCode(unit) && !IsIfGroupCode(unit);
}

}  // namespace tagvert
