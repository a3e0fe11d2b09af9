// Tagvert tests: block and inline structuring passes over a classified element list
// (CSgmlStackProcessor), one pass per step and one object per element: the reference that the
// converter's single walk over its element table (StructureRecords) is compared with.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "ifcodec/text_processor.h"
#include "support/elements_stack.h"

namespace tagvert {

/// Name of the attribute that carries the whitespace-normalized inner text of a collapsed
/// skipped block.
inline constexpr char16_t kFormatAttributeName[] = u"formatX";
/// Kind of the "formatX" attribute (every other attribute has kind 2).
inline constexpr int kFormatAttributeKind = 1;

/// Structures an element list after the rules have classified it and before the IF writer
/// writes it: collapses skipped blocks into opaque elements, normalizes and decodes the text
/// runs, and cuts every no-break space (U+00A0) out of the text into a markup element of its own.
///
/// Every pass is one walk over the list from first to last that changes it in place. Elements
/// taken out of the list are deleted by the pass; elements it creates are owned by the list.
/// Null entries of the list are passed over (inside a collapsed block they are dropped). The
/// passes fail on no content; on an exception (an allocation failure) the list is left holding
/// every live element exactly once, no dangling pointer and no null entry of its own making,
/// although the pass may be half done.
class CSgmlStackProcessor {
 public:
  /// A processor without a text processor.
  CSgmlStackProcessor() = default;
  /// Not copyable: it owns its text processor.
  CSgmlStackProcessor(const CSgmlStackProcessor&) = delete;
  /// Not copyable: it owns its text processor.
  CSgmlStackProcessor& operator=(const CSgmlStackProcessor&) = delete;
  /// Destroys the text processor, if there is one.
  virtual ~CSgmlStackProcessor();

  /// Takes ownership of `textProcessor` (may be null); a different processor held before is
  /// destroyed. Handing over the processor already held changes nothing.
  void SetTextProcessor(CTextProcessor* textProcessor);
  /// The text processor held (still owned by this object), or null.
  CTextProcessor* GetTextProcessor() const { return m_textProcessor.get(); }

  /// Collapses every skipped block (a TagPairedOpen with Algorithm 1) with everything up to its
  /// end tag (the first later element with the same PairId) into the start tag: its SourceText
  /// becomes the concatenated source of the block, Algorithm 0, TagType TagSingle, PairId 0, and
  /// when the inner source text is not empty it gets the attribute "formatX" (kind 1) holding
  /// that text whitespace-normalized with mode 2. The inner elements and the end tag are deleted.
  /// Skipped blocks nested in a skipped block are swallowed by the outer one.
  void CollapseSkipped(CElementsStackX& elements);
  /// Applies NormalizeWhitespace with the element's own Whitespace mode to every text run.
  void NormalizeTexts(CElementsStackX& elements);
  /// Resolves the character and entity references of every text run with the text processor.
  /// Throws CHResultError(kEPointer) when no text processor has been set.
  void DecodeTexts(CElementsStackX& elements);
  /// Replaces every text run that holds U+00A0 by its pieces, in order: each maximal stretch of
  /// other units becomes a text run, each U+00A0 a markup element, where a space is first put
  /// after every U+00A0. The pieces are inline, translated, TagSingle, PairId 0. The text run
  /// replaced is deleted.
  void SplitNonBreakingSpaces(CElementsStackX& elements);

 private:
  std::unique_ptr<CTextProcessor> m_textProcessor;
};

}  // namespace tagvert
