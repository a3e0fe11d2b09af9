// Tagvert: the XLIFF bridge: a TTX document as XLIFF 1.2 or 2.0 for any translation tool, and
// the translated XLIFF back into the TTX with its markup byte for byte as it was.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tagvert/byte_stream.h"
#include "tagvert/export.h"
#include "tagvert/hresult.h"

namespace tagvert {

/// The XLIFF versions written and read.
enum class XliffVersion { V1_2, V2_0 };

/// An XLIFF that cannot be merged: not well-formed, of another version, without the skeleton,
/// with unknown, doubled or missing units, or made from another document.
inline constexpr HResult kEXliffRefused = MakeHResult(0x80040301);
/// Tag damage in the targets, refused because the read was strict.
inline constexpr HResult kEXliffTagDamage = MakeHResult(0x80040302);

/// How ConvertToXliff writes.
struct CXliffWriteOptions {
  XliffVersion version = XliffVersion::V1_2;
  /// The Direction of the conversion to IF (high 16 bits: the target language), as the
  /// converter's property; 0 carries every Tuv untranslated.
  std::int32_t direction = 0;
  /// Every unit's target written as a copy of its source.
  bool copySource = false;
  /// The name the XLIFF gives as the original document (`original` / file `original`).
  std::string original = "document.ttx";
};

/// How ConvertFromXliff reads.
struct CXliffReadOptions {
  /// Tag damage is an error (kEXliffTagDamage, no output) instead of warnings.
  bool strict = false;
  /// The name that messages give to the XLIFF ("'doc.xlf'").
  std::string name = "the XLIFF";
};

/// What a bridge conversion said: the failure sentence, the warnings, the units.
struct CXliffReport {
  /// One sentence when the call failed ("'doc.xlf', line 3, column 7: ..."), else empty.
  std::string error;
  /// Warnings (tag damage when not strict, dropped standalone codes), one sentence each.
  std::vector<std::string> warnings;
  /// The units written or read.
  std::size_t units = 0;
  /// The units whose target replaced their source (reading only).
  std::size_t translated = 0;
  /// Where the TTX ended early (writing only): its line and column (1-based, in units) just
  /// after its last unit, 0 when it ended where a document ends; whether it ended inside a piece
  /// of markup and with its root element still open. The XLIFF holds what was read.
  std::uint64_t cutLine = 0;
  std::uint64_t cutColumn = 0;
  bool cutInsideMarkup = false;
  bool cutRootOpen = false;
};

/// Converts a TTX document into XLIFF (UTF-8): one unit per block of the document's IF that
/// holds more than white space, its tags as inline codes, everything else in the skeleton.
/// Returns kSOk, kEInvalidArg when the source or target cannot be opened, kEOutOfMemory, or
/// the conversion's failure code; `report.error` then says why. Never throws.
TAGVERT_API HResult ConvertToXliff(const CEndpoint& ttx, const CEndpoint& xliff,
                                   const CXliffWriteOptions& options, CXliffReport& report);

/// Merges a translated XLIFF written by ConvertToXliff back into the TTX (UTF-8 with a
/// byte-order mark), through the IF and the way back of CConverter::ConvertFromIF. Returns
/// kSOk (warnings in the report), kEXliffRefused, kEXliffTagDamage (strict), or a failure
/// code of the source, target or conversion; nothing is written on failure to a stream
/// target before the merge is known to succeed. Never throws.
TAGVERT_API HResult ConvertFromXliff(const CEndpoint& xliff, const CEndpoint& ttx,
                                     const CXliffReadOptions& options, CXliffReport& report);

}  // namespace tagvert
