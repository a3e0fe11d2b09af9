// Tagvert: the tolerant SGML/XML reader and the verbatim writer (COrvelSgmlParser).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "markup/element.h"
#include "markup/orvel_parser.h"
#include "markup/tag_grammar.h"
#include "storage/data_storage.h"

namespace tagvert {

/// Construction flags of COrvelSgmlParser, combined with | and applied in this order.
enum class SgmlParserMode : std::uint8_t {
  None = 0,
  DetectInput = 0x01,  ///< input: byte-order mark, else UTF-8
  SetOutput = 0x02,    ///< output: the mode given
  PutBom = 0x10,       ///< write the output byte-order mark at once
};
constexpr SgmlParserMode operator|(SgmlParserMode a, SgmlParserMode b) {
  return static_cast<SgmlParserMode>(static_cast<std::uint8_t>(a) | static_cast<std::uint8_t>(b));
}
/// Whether `mode` holds `flag`.
constexpr bool HasMode(SgmlParserMode mode, SgmlParserMode flag) {
  return (static_cast<std::uint8_t>(mode) & static_cast<std::uint8_t>(flag)) != 0;
}

/// Cuts a markup document into a flat sequence of elements, one text run or one piece of markup
/// per ReadElement, and writes elements back as their exact source text. Builds no tree, decodes
/// no reference, checks no well-formedness and never fails on content: every unit read lands in
/// exactly one element's SourceText, so the SourceText of the elements in order is the decoded
/// input. Storage failures (CHResultError) pass through. The storage is not owned.
class COrvelSgmlParser : public COrvelParser, private detail::CTagGrammar<COrvelSgmlParser> {
 public:
  /// Applies the flags in the order DetectInput (the storage's DetectBOM, UTF-8 without a
  /// mark), SetOutput (`output` becomes the output mode) and PutBom (the storage's PutBOM). The
  /// storage must be open when DetectInput or PutBom is given. Throws
  /// CHResultError(kEPointer) for a null storage.
  explicit COrvelSgmlParser(CDataStorage* storage, SgmlParserMode mode = SgmlParserMode::None,
                            EncodingMode output = EncodingMode::None);
  ~COrvelSgmlParser() override = default;

  /// Reads the next item into `element`, which must be fresh (as constructed): a text run up to
  /// the next `<` or the end of input (IsTag 0), or one piece of markup from `<` (IsTag 1, with
  /// Name, UpperName, TagType and attributes). Returns false, leaving the element untouched,
  /// when the input is exhausted before any unit. Markup cut off by the end of input keeps what
  /// was read and is returned; the next call returns false.
  bool ReadElement(IElementX* element) override;
  /// Writes the element's SourceText unchanged with the storage's PutString.
  void WriteElement(IElementX* element);

 private:
  friend class detail::CTagGrammar<COrvelSgmlParser>;

  // The unit source and element sink of the tag grammar (see CTagGrammar). Positions index
  // the SourceText being read.
  /// Takes the next unit from the storage and appends it to the current SourceText; at the
  /// end of input throws the grammar's end-of-markup condition.
  char16_t Next();
  std::size_t Position() const { return m_text.size(); }
  /// Drops the unit read last from SourceText and pushes it back into the storage.
  void Unread();
  char16_t FindQuoteOrLess(char16_t quote);
  void SetTagType(TagType type) { m_element->SetTagType(type); }
  /// Appends `c` to Name and its upper case to UpperName.
  void AppendName(char16_t c);
  void StartSpecialName(char16_t c) { AppendName(c); }
  /// Sets Name only; UpperName keeps what was appended.
  void SetName(std::u16string_view name) { m_name->assign(name); }
  /// Drops `terminator` from the end of Name only.
  void TrimName(std::u16string_view terminator);
  /// The element goes back to its initial state; ReadElement marks it as markup.
  void ResetTag();
  void AddAttribute(std::size_t nameStart, std::size_t nameEnd, std::size_t valueStart,
                    std::size_t valueEnd);
  void AddNameOnly(std::size_t nameStart, std::size_t nameEnd);
  /// Special markup takes the marker on the element itself, a broken tag among the attributes
  /// read.
  void AddMarker(bool special);

  /// Moves what was read from the scratch buffers into the element.
  void Deliver();

  IElementX* m_element = nullptr;         ///< the element ReadElement fills; not owned
  std::u16string* m_name = nullptr;       ///< its Name
  std::u16string* m_upperName = nullptr;  ///< its UpperName
  // Scratch buffers that keep their capacity from element to element: an element's strings and
  // attribute vector are then allocated once, at their final size, instead of growing unit by
  // unit, which matters for documents of millions of elements.
  std::u16string m_text;                  ///< the element's SourceText while it is read
  std::vector<CAttributeX> m_attributes;  ///< the attributes read so far
};

}  // namespace tagvert
