// Tagvert: the small tag reader of the TransML loader (CSgmlElementBase) and reference decoding.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tagvert {

class CBaseStorage;

/// One attribute of a TransML tag.
struct CSgmlAttribute {
  std::u16string m_name;       ///< name as written
  std::u16string m_upperName;  ///< the name with every unit mapped by CharToUpper
  std::u16string m_value;      ///< the value with its entity and character references resolved
  std::u16string m_rawValue;   ///< the value as written, without its quotes
  bool m_noValue = false;      ///< the attribute had no "="
};

/// Reads one tag of TransML markup from a storage, the "<" having been read already. The storage
/// is not owned and must outlive the reader. Every character read is kept in the text read so
/// far, which begins with "<".
class CSgmlElementBase {
 public:
  /// Remembers `storage` and its character count; the text read so far is "<".
  explicit CSgmlElementBase(CBaseStorage& storage);
  virtual ~CSgmlElementBase() = default;
  CSgmlElementBase(const CSgmlElementBase&) = delete;
  CSgmlElementBase& operator=(const CSgmlElementBase&) = delete;

  /// Reads the rest of one tag: an end tag, a start or empty-element tag with its attributes, a
  /// processing instruction (empty, its name begins with "?"), or a special item (comment, CDATA
  /// section, "<%" ... "%>" or another "<!" declaration; special and empty, no attributes).
  /// Returns the characters consumed (the storage's count now less the count at construction).
  /// Throws CRulesError(RulesError::EndInTag) (caught by CRules::Load) when the input ends
  /// inside the tag; storage failures pass through.
  virtual int Parse();

  /// Index of the first attribute whose upper-case name equals `upperName` exactly, or -1.
  int IndexOfAttribute(std::u16string_view upperName) const;
  /// The decoded value of the first attribute whose upper-case name equals `upperName`, or
  /// `fallback` (empty when null) when there is none.
  std::u16string AttributeOr(std::u16string_view upperName,
                             const std::u16string* fallback = nullptr) const;

  /// The text read so far, beginning with "<".
  const std::u16string& GetText() const { return m_text; }
  /// The name as written ("?xml" for a processing instruction; empty for a special item).
  const std::u16string& GetName() const { return m_name; }
  /// The name with every unit mapped by CharToUpper.
  const std::u16string& GetUpperName() const { return m_upperName; }
  /// The attributes in source order.
  const std::vector<CSgmlAttribute>& GetAttributes() const { return m_attributes; }
  /// A comment, CDATA section, declaration or "<%" item.
  bool IsSpecial() const { return m_isSpecial; }
  /// The tag began with "</".
  bool IsEndTag() const { return m_isEndTag; }
  /// An empty-element tag (a "/" was seen), a processing instruction or a special item.
  bool IsEmpty() const { return m_isEmpty; }

 private:
  char16_t Next();
  void ParseSpecial(char16_t first);
  void SkipTo(std::u16string_view terminator);
  void SkipDeclaration(std::u16string_view pending, bool nested);

  std::u16string m_text;
  std::u16string m_name;
  std::u16string m_upperName;
  std::vector<CSgmlAttribute> m_attributes;
  bool m_isSpecial = false;
  bool m_isEndTag = false;
  bool m_isEmpty = false;
  CBaseStorage& m_storage;
  std::int32_t m_startCount;
};

/// Resolves the references in a TransML attribute value: "&" and a name of letters, digits and
/// "#", with an optional ";". "#" followed by decimal digits, or by "x"/"X" and hexadecimal
/// digits, is a character reference (128..159 taken as code page 1252, anything else as the
/// low 16 bits); any other name is looked up, case-sensitively, in the whole rules entity table.
/// A name not found, a lone "&" and a "#" without digits stay as written.
std::u16string DecodeTransmlReferences(std::u16string_view value);

/// Reads a TransML number: decimal, or hexadecimal when `hexMarker` is true and the text begins
/// with "x" or "X". Leading white space and (for decimal) one sign are accepted; reading stops at
/// the first character that is not a digit. Empty when no digit follows; larger values wrap
/// modulo 2^32.
std::optional<std::uint32_t> ParseTransmlNumber(std::u16string_view text, bool hexMarker);

}  // namespace tagvert
