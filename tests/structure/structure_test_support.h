// Tagvert: helpers for the structuring tests: hand-built, classified element lists.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "markup/element.h"
#include "markup/elements_stack.h"
#include "storage/char_class.h"

namespace tagvert::test {

/// An element that counts the live instances, so that tests see what a pass deleted.
class CCountedElement : public CElementX {
 public:
  CCountedElement() { ++s_live; }
  ~CCountedElement() override { --s_live; }
  /// Number of CCountedElement objects alive.
  static inline int s_live = 0;
};

using AttributeList = std::vector<std::pair<std::u16string, std::u16string>>;

/// Builds an element list as the reader cuts it (markup keeps its source text), pairs it and
/// classifies it as the rules would.
class CStructureListBuilder {
 public:
  /// A start tag; its source text is `<name a="v" ...>`.
  std::size_t Open(std::u16string_view name, const AttributeList& attributes = {}) {
    return Add(name, kTagOpen, attributes, false);
  }
  /// An end tag `</name>`.
  std::size_t Close(std::u16string_view name) { return Add(name, kTagClose, {}, false); }
  /// An empty-element tag `<name a="v" .../>`.
  std::size_t Single(std::u16string_view name, const AttributeList& attributes = {}) {
    return Add(name, kTagSingle, attributes, true);
  }
  /// A text run.
  std::size_t Text(std::u16string_view text) {
    auto* element = new CCountedElement();
    element->SetSourceText(std::u16string(text));
    m_list.Push(element);
    return m_list.size() - 1;
  }
  /// Pairs the list (the reader's first PairTags).
  CElementsStackX& Paired() {
    m_list.PairTags();
    return m_list;
  }
  /// Classifies a paired start tag and its end tag as a block with `algorithm` and whitespace
  /// mode `whitespace`, and flattens the range in between as the algorithm pass does for skip,
  /// remove and reserve: inner elements inline, with Algorithm 3 for remove and 0 otherwise.
  /// Text runs inside take the whitespace mode when it is 1, 2 or 4.
  void ClassifyBlock(std::size_t start, int algorithm, int whitespace = kWhitespacePreserve,
                     int ruleType = kRuleBlock) {
    const int pairId = m_list[start]->GetPairId();
    std::size_t end = start + 1;
    while (m_list[end]->GetPairId() != pairId)
      ++end;
    for (std::size_t i : {start, end}) {
      m_list[i]->SetAlgorithm(algorithm);
      m_list[i]->SetRuleType(ruleType);
      m_list[i]->SetWhitespace(whitespace);
    }
    const bool spreadsWhitespace = whitespace == kWhitespaceRemove ||
                                   whitespace == kWhitespaceNormalize ||
                                   whitespace == kWhitespaceNormalizeSignificant;
    for (std::size_t i = start + 1; i < end; ++i) {
      if (algorithm == kAlgorithmSkip || algorithm == kAlgorithmRemove ||
          algorithm == kAlgorithmReserve) {
        m_list[i]->SetAlgorithm(algorithm == kAlgorithmRemove ? kAlgorithmRemove
                                                              : kAlgorithmTranslate);
        m_list[i]->SetRuleType(kRuleInline);
      }
      if (spreadsWhitespace && m_list[i]->GetIsTag() == 0) m_list[i]->SetWhitespace(whitespace);
    }
  }
  CElementsStackX& List() { return m_list; }
  IElementX& operator[](std::size_t index) { return *m_list[index]; }

 private:
  std::size_t Add(std::u16string_view name, int tagType, const AttributeList& attributes,
                  bool empty) {
    auto* element = new CCountedElement();
    std::u16string& source = element->GetSourceTextRef();
    source = tagType == kTagClose ? u"</" : u"<";
    source += name;
    for (const auto& [attributeName, value] : attributes) {
      element->AddAttribute(attributeName, value, 2);
      source += u" " + attributeName + u"=\"" + value + u"\"";
    }
    source += empty ? u"/>" : u">";
    element->SetName(std::u16string(name));
    element->SetUpperName(StringToUpper(name));
    element->SetTagType(tagType);
    element->SetIsTag(1);
    m_list.Push(element);
    return m_list.size() - 1;
  }

  CElementsStackX m_list;
};

/// The source texts of the list, in order.
inline std::vector<std::u16string> SourceTexts(const CElementsStackX& list) {
  std::vector<std::u16string> texts;
  for (IElementX* element : list)
    texts.push_back(element->GetSourceText());
  return texts;
}

}  // namespace tagvert::test
