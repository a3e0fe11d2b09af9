// Tagvert: helpers for the rules tests: hand-built element lists and rule sets from text.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "markup/element.h"
#include "markup/elements_stack.h"
#include "rules/builtin_rules.h"
#include "rules/transml_rules.h"
#include "storage/char_class.h"
#include "storage/memory_stream.h"

namespace tagvert::test {

using AttributeList = std::initializer_list<std::pair<std::u16string, std::u16string>>;

/// Builds an element list by hand, as the SGML reader would cut it, and pairs it.
class CListBuilder {
 public:
  /// A start tag (TagOpen) named `name`; returns its index.
  std::size_t Open(std::u16string_view name, AttributeList attributes = {}) {
    return Add(name, kTagOpen, 1, attributes);
  }
  /// An end tag (TagClose).
  std::size_t Close(std::u16string_view name) { return Add(name, kTagClose, 1, {}); }
  /// An empty-element tag or other markup without partner (TagSingle).
  std::size_t Single(std::u16string_view name, AttributeList attributes = {}) {
    return Add(name, kTagSingle, 1, attributes);
  }
  /// A text run.
  std::size_t Text(std::u16string_view text) {
    auto* element = new CElementX();
    element->SetSourceText(std::u16string(text));
    m_list.Push(element);
    return m_list.size() - 1;
  }
  /// Pairs the tags and hands the list over.
  CElementsStackX& Paired() {
    m_list.PairTags();
    return m_list;
  }
  CElementsStackX& List() { return m_list; }
  IElementX& operator[](std::size_t index) { return *m_list[index]; }

 private:
  std::size_t Add(std::u16string_view name, int tagType, int isTag, AttributeList attributes) {
    auto* element = new CElementX();
    element->SetName(std::u16string(name));
    element->SetUpperName(StringToUpper(name));
    element->SetTagType(tagType);
    element->SetIsTag(isTag);
    for (const auto& [attributeName, value] : attributes) {
      element->AddAttribute(attributeName, value, 2);
    }
    m_list.Push(element);
    return m_list.size() - 1;
  }

  CElementsStackX m_list;
};

/// Loads a rule set from UTF-8 text through LoadStream (append false).
inline bool LoadRulesText(CRules& rules, std::string_view text) {
  return rules.LoadStream(std::make_shared<CMemoryStream>(text.data(), text.size()), false);
}

/// Loads the built-in TTX rules.
inline bool LoadBuiltinRules(CRules& rules) {
  return rules.LoadStream(OpenBuiltinRulesStream(), false);
}

}  // namespace tagvert::test
