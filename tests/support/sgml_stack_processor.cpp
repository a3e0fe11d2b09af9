// Tagvert tests: block and inline structuring passes over a classified element list
// (CSgmlStackProcessor). SPDX-License-Identifier: Apache-2.0
#include "support/sgml_stack_processor.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "storage/hresult.h"

namespace tagvert {

namespace {

constexpr char16_t kNbsp = 0x00A0;

// Walks from `index` (the element right after the skipped start tag `start`) through the end tag,
// appending each element's source text to the start tag, and the inner ones' also to `inner`.
// Every walked element is deleted and its slot nulled, so that the list never refers to a
// deleted element, even when an allocation fails half-way. Returns the index after the end tag.
std::size_t SwallowBlock(CElementsStackX& elements, std::size_t index, IElementX& start,
                         std::u16string& inner) {
  const int pairId = start.GetPairId();
  std::u16string& source = start.GetSourceTextRef();
  const std::size_t count = elements.size();
  // The joined texts are sized first, so that each grows once instead of once per element.
  std::size_t sourceSize = source.size();
  std::size_t innerSize = inner.size();
  for (std::size_t i = index; i < count; ++i) {
    IElementX* element = elements[i];
    if (element == nullptr) continue;
    const std::size_t size = element->GetSourceTextRef().size();
    sourceSize += size;
    if (element->GetPairId() == pairId) break;
    innerSize += size;
  }
  source.reserve(sourceSize);
  inner.reserve(innerSize);
  while (index < count) {
    elements.CheckStop();
    IElementX* element = elements[index];
    ++index;
    if (element == nullptr) continue;
    const std::u16string& text = element->GetSourceTextRef();
    source += text;
    const bool isEnd = element->GetPairId() == pairId;
    if (!isEnd) inner += text;
    delete element;
    elements[index - 1] = nullptr;
    if (isEnd) break;
  }
  return index;
}

std::unique_ptr<IElementX> MakePiece(std::u16string text, int isTag) {
  auto piece = std::make_unique<CElementX>();
  piece->GetSourceTextRef() = std::move(text);
  piece->SetIsTag(isTag);
  piece->SetRuleType(RuleType::Inline);
  piece->SetAlgorithm(Algorithm::Translate);
  piece->SetTagType(TagType::Single);
  piece->SetPairId(0);
  return piece;
}

// Cuts `spaced` (a text in which a space follows every U+00A0) into text pieces and no-break
// space pieces, appended to `pieces` in order. Empty stretches give nothing.
void CutAtNbsp(const std::u16string& spaced, std::vector<std::unique_ptr<IElementX>>& pieces) {
  std::size_t stretchStart = 0;
  const std::size_t size = spaced.size();
  for (std::size_t i = 0; i < size; ++i) {
    if (!CTextProcessor::IsNbsp(spaced[i])) continue;
    if (i > stretchStart)
      pieces.push_back(MakePiece(spaced.substr(stretchStart, i - stretchStart), 0));
    pieces.push_back(MakePiece(std::u16string(1, kNbsp), 1));
    stretchStart = i + 1;
  }
  if (size > stretchStart) pieces.push_back(MakePiece(spaced.substr(stretchStart), 0));
}

}  // namespace

CSgmlStackProcessor::~CSgmlStackProcessor() = default;

void CSgmlStackProcessor::SetTextProcessor(CTextProcessor* textProcessor) {
  if (textProcessor == m_textProcessor.get()) return;
  m_textProcessor.reset(textProcessor);
}

void CSgmlStackProcessor::CollapseSkipped(CElementsStackX& elements) {
  const std::size_t count = elements.size();
  // The survivors are gathered in a new vector and swapped in at the end, so that collapsing
  // many blocks never shifts the rest of the list once per block.
  std::vector<IElementX*> kept;
  kept.reserve(count);
  std::u16string inner;
  try {
    std::size_t index = 0;
    while (index < count) {
      elements.CheckStop();
      IElementX* start = elements[index++];
      kept.push_back(start);
      if (start == nullptr || start->GetTagType() != TagType::PairedOpen ||
          start->GetAlgorithm() != Algorithm::Skip) {
        continue;
      }
      inner.clear();
      index = SwallowBlock(elements, index, *start, inner);
      start->SetAlgorithm(Algorithm::Translate);
      start->SetTagType(TagType::Single);
      start->SetPairId(0);
      // The attribute is added whenever there was inner text, even when normalizing empties it.
      if (!inner.empty()) {
        CTextProcessor::NormalizeWhitespace(inner, Whitespace::Normalize);
        start->GetAttributes().emplace_back(kFormatAttributeName, std::move(inner),
                                            kFormatAttributeKind);
      }
    }
  } catch (...) {
    // The list still holds every live element; only the slots of deleted ones are null.
    std::erase(elements, nullptr);
    throw;
  }
  elements.swap(kept);
}

void CSgmlStackProcessor::NormalizeTexts(CElementsStackX& elements) {
  for (IElementX* element : elements) {
    elements.CheckStop();
    if (element == nullptr || element->GetIsTag()) continue;
    CTextProcessor::NormalizeWhitespace(element->GetSourceTextRef(), element->GetWhitespace());
  }
}

void CSgmlStackProcessor::DecodeTexts(CElementsStackX& elements) {
  if (!m_textProcessor) ThrowHResult(kEPointer);
  for (IElementX* element : elements) {
    elements.CheckStop();
    if (element == nullptr || element->GetIsTag()) continue;
    m_textProcessor->DecodeEntities(element->GetSourceTextRef());
  }
}

void CSgmlStackProcessor::SplitNonBreakingSpaces(CElementsStackX& elements) {
  const std::size_t count = elements.size();
  // The new sequence is built in a new vector and swapped in, so that splitting many runs never
  // shifts the rest of the list once per run. Its capacity is kept at least its size plus the
  // number of elements not yet visited, so that the recovery below never allocates.
  std::vector<IElementX*> result;
  result.reserve(count);
  std::vector<std::unique_ptr<IElementX>> pieces;
  std::u16string spaced;
  std::size_t index = 0;
  try {
    for (; index < count; ++index) {
      elements.CheckStop();
      IElementX* element = elements[index];
      if (element == nullptr || element->GetIsTag() ||
          !CTextProcessor::ContainsNbsp(element->GetSourceTextRef())) {
        result.push_back(element);
        continue;
      }
      spaced = element->GetSourceTextRef();
      CTextProcessor::SpaceAfterNbsp(spaced);
      pieces.clear();
      CutAtNbsp(spaced, pieces);
      const std::size_t needed = result.size() + pieces.size() + (count - index - 1);
      if (result.capacity() < needed) result.reserve(std::max(needed, 2 * result.capacity()));
      // Nothing below throws: the pieces move into reserved room and the run is replaced.
      for (auto& piece : pieces)
        result.push_back(piece.release());
      delete element;
      elements[index] = nullptr;
    }
  } catch (...) {
    // `result` holds the finished front (with the pieces of the replaced runs, which `elements`
    // no longer refers to); elements[index..] is untouched. Join them without allocating.
    result.insert(result.end(), elements.begin() + static_cast<std::ptrdiff_t>(index),
                  elements.end());
    elements.swap(result);
    throw;
  }
  elements.swap(result);
}

}  // namespace tagvert
