// Tagvert: the XLIFF bridge's two halves over IF units: the writer (IF to XLIFF) and the merge
// (XLIFF to IF), and the skeleton form they share.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tagvert/xliff.h"

namespace tagvert::xliff {

/// The skeleton is the IF itself, as XML text, with each unit's span replaced by the unit's
/// codes. This private-use unit (outside the IF's code range) starts its escapes:
///   kEscape '[' N ';'  a unit's span begins (unit N)
///   kEscape '|'        a code of that unit begins (its IF units follow)
///   kEscape ']'        the unit's span ends
///   kEscape 'x' HHHH   the IF unit 0xHHHH, for units XML cannot carry and for kEscape itself
inline constexpr char16_t kEscape = 0xF8FF;
/// The skeleton's first line: this magic, the fingerprint of the IF (16 hexadecimal digits)
/// and the number of units, separated by spaces.
inline constexpr std::string_view kSkeletonMagic = "tagvert-if-skeleton-1";

/// A 64-bit FNV-1a hash of IF units, fed piece by piece.
class CFingerprint {
 public:
  void Add(std::u16string_view units) {
    for (const char16_t unit : units) {
      m_hash = (m_hash ^ (unit & 0xFF)) * 0x100000001B3ull;
      m_hash = (m_hash ^ (unit >> 8)) * 0x100000001B3ull;
    }
  }
  std::uint64_t Value() const { return m_hash; }

 private:
  std::uint64_t m_hash = 0xCBF29CE484222325ull;
};

/// What the XLIFF says besides the units.
struct CXliffHeader {
  std::string sourceLanguage;  ///< a valid language tag, "und" when the document names none
  std::string targetLanguage;  ///< empty when there is none
  std::string original;
};

/// Writes the XLIFF of the IF `units` into `out` (UTF-8); returns the number of units.
std::size_t WriteXliff(std::u16string_view units, const CXliffHeader& header,
                       const CXliffWriteOptions& options, std::string& out);

/// The languages the IF's front matter names (SourceLanguage and TargetLanguage of its first
/// UserSettings), empty when it names none.
void FrontMatterLanguages(std::u16string_view units, std::u16string& source,
                          std::u16string& target);

/// A refusal or failure inside the bridge: the code and the sentence.
struct CXliffError {
  HResult code;
  std::string message;
};

/// The merge's result: the IF to convert back (the skeleton's IF outside the units, and each
/// unit's IF in its place), and what was said.
struct CMergeResult {
  std::u16string raw;                   ///< the IF outside the units
  std::vector<std::size_t> cuts;        ///< where each unit stands in `raw`
  std::vector<std::u16string> targets;  ///< each unit's IF
  std::vector<std::string> warnings;
  std::size_t units_ = 0;
  std::size_t translated = 0;
  /// The whole IF.
  std::u16string Joined() const;
};

/// Reads an XLIFF written by WriteXliff (any encoding expat reads) and builds the IF of its
/// targets; `source`, when given, receives the IF of the sources (the document's IF). Throws
/// CXliffError for a refused XLIFF or, when strict, tag damage; the stream's failures pass.
CMergeResult MergeXliff(IByteStream& xml, const CXliffReadOptions& options,
                        std::u16string* source = nullptr);

/// The merged IF as UTF-16 little-endian bytes, read without joining it first.
class CMergedIfStream : public IByteStream {
 public:
  explicit CMergedIfStream(CMergeResult merged) : m_merged(std::move(merged)) {}
  std::uint32_t Read(void* buffer, std::uint32_t size) override;
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }
  std::uint64_t Position() override { return m_position; }
  bool Size(std::uint64_t& size) override;

 private:
  CMergeResult m_merged;
  std::size_t m_part = 0;    ///< even: a stretch of `raw`; odd: a unit
  std::size_t m_offset = 0;  ///< bytes of the part already read
  std::uint64_t m_position = 0;
};

}  // namespace tagvert::xliff
