// Tagvert: the tolerant SGML/XML reader and the verbatim writer (COrvelSgmlParser).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "markup/element.h"
#include "markup/orvel_parser.h"
#include "storage/data_storage.h"

namespace tagvert {

/// Construction flags of COrvelSgmlParser, applied in this order.
inline constexpr std::uint8_t kSgmlDetectInput = 0x01;  ///< input: byte-order mark, else UTF-8
inline constexpr std::uint8_t kSgmlSetOutput = 0x02;    ///< output: the mode given
inline constexpr std::uint8_t kSgmlPutBom = 0x10;  ///< write the output byte-order mark at once

/// Cuts a markup document into a flat sequence of elements, one text run or one piece of markup
/// per ReadElement, and writes elements back as their exact source text. Builds no tree, decodes
/// no reference, checks no well-formedness and never fails on content: every unit read lands in
/// exactly one element's SourceText, so the SourceText of the elements in order is the decoded
/// input. Storage failures (CHResultError) pass through. The storage is not owned.
class COrvelSgmlParser : public COrvelParser {
 public:
  /// Applies the flags in the order kSgmlDetectInput (the storage's DetectBOM, UTF-8 without a
  /// mark), kSgmlSetOutput (`output` becomes the output mode) and kSgmlPutBom (the storage's
  /// PutBOM). The storage must be open when kSgmlDetectInput or kSgmlPutBom is given. Throws
  /// CHResultError(kEPointer) for a null storage.
  explicit COrvelSgmlParser(CDataStorage* storage, std::uint8_t flags = 0,
                            EncodingMode output = EncodingMode::None);
  ~COrvelSgmlParser() override = default;

  /// Reads the next item into `element`, which must be fresh (as constructed): a text run up to
  /// the next `<` or the end of input (IsTag 0), or one piece of markup from `<` (IsTag 1, with
  /// Name, UpperName, TagType and attributes). Returns false, leaving the element untouched,
  /// when the input is exhausted before any unit. Markup cut off by the end of input keeps what
  /// was read and is returned; the next call returns false.
  bool ReadElement(IElementX* element) override;
  /// Writes the element's SourceText unchanged with the storage's PutString.
  void WriteElement(IElementX* element) override;

 private:
  /// Takes the next unit from the storage and appends it to the current SourceText. At
  /// the end of input throws the private end-of-input condition that ReadElement catches.
  char16_t NextChar();
  /// Appends `c` to Name and its upper case to UpperName.
  void AppendName(char16_t c);
  /// Reads units while `c` is white space; returns the first other unit.
  char16_t SkipSpace(char16_t c);
  /// The tag after its `<`.
  void ReadTag();
  /// Markup after `<!` or `<%` (`opener` is `!` or `%`).
  void ReadSpecial(char16_t opener);
  /// Reads up to and including `terminator`; see the implementation.
  void ReadUntil(std::u16string_view terminator, bool quotes, bool& nameDone);
  /// A `<` where the tag reader does not expect one: ends the element before it.
  void TakeBackStray();
  /// A `<` where an attribute name would begin: ends the element as a broken tag.
  void BreakTag();

  /// Moves what was read from the scratch buffers into the element.
  void Deliver();

  IElementX* m_element = nullptr;         ///< the element ReadElement fills; not owned
  std::u16string* m_source = nullptr;     ///< where SourceText is built (m_text)
  std::u16string* m_name = nullptr;       ///< its Name
  std::u16string* m_upperName = nullptr;  ///< its UpperName
  // Scratch buffers that keep their capacity from element to element: an element's strings and
  // attribute vector are then allocated once, at their final size, instead of growing unit by
  // unit, which matters for documents of millions of elements.
  std::u16string m_text;                  ///< the element's SourceText while it is read
  std::vector<CAttributeX> m_attributes;  ///< the attributes read so far
};

}  // namespace tagvert
