// Tagvert tests: the TTX pass over the structured element list (CTTXStackProcessor).
// SPDX-License-Identifier: Apache-2.0
#include "support/ttx_stack_processor.h"

#include <string>

#include "storage/char_class.h"

namespace tagvert {

namespace {

const std::u16string kUtName = u"ut";
const std::u16string kDisplayTextName = u"DisplayText";
const std::u16string kTypeName = u"Type";
const std::u16string kStyleName = u"Style";
constexpr char16_t kTypeStart[] = u"start";
constexpr char16_t kTypeEnd[] = u"end";
constexpr char16_t kStyleExternal[] = u"external";

void ResolveUt(IElementX& element) {
  const int displayText = element.FindAttribute(kDisplayTextName);
  if (displayText >= 0) {
    const std::u16string& name = element.GetAttributeValueAt(displayText);
    element.SetName(name);
    element.SetUpperName(StringAsciiUpper(name));
  }
  TagType tagType = TagType::Single;
  const int type = element.FindAttribute(kTypeName);
  if (type >= 0) {
    const std::u16string& value = element.GetAttributeValueAt(type);
    if (value == kTypeEnd) {
      tagType = TagType::Close;
    } else if (value == kTypeStart) {
      tagType = TagType::Open;
    }
  }
  element.SetTagType(tagType);
  const int style = element.FindAttribute(kStyleName);
  if (style >= 0 && element.GetAttributeValueAt(style) == kStyleExternal) {
    element.SetRuleType(RuleType::Block);
  }
}

}  // namespace

CTTXStackProcessor::~CTTXStackProcessor() = default;

void CTTXStackProcessor::ResolveUtTags(CElementsStackX& elements) {
  for (IElementX* element : elements) {
    elements.CheckStop();
    if (element != nullptr && element->GetNameRef() == kUtName) ResolveUt(*element);
  }
  elements.PairTags();
}

}  // namespace tagvert
