// Tagvert: one item of a markup document (CElementX) and its attributes.
// SPDX-License-Identifier: Apache-2.0
#include "markup/element.h"

#include "markup/element_pool.h"

namespace tagvert {

namespace {

// Returned for an attribute index outside the vector and for property codes and translation
// method of an element without them, so callers always get a valid reference.
const std::u16string kEmptyString;

}  // namespace

void* CElementX::operator new(std::size_t size) {
  return CElementPool::Allocate(size);
}

void CElementX::operator delete(void* p, std::size_t size) {
  CElementPool::Release(p, size);
}

int CElementX::FindAttribute(const std::u16string& name) const {
  for (std::size_t i = 0; i < m_attributes.size(); ++i) {
    if (m_attributes[i].m_name == name) return static_cast<int>(i);
  }
  return -1;
}

const std::u16string& CElementX::GetAttributeValueAt(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= m_attributes.size()) return kEmptyString;
  return m_attributes[static_cast<std::size_t>(index)].m_value;
}

int CElementX::AddAttribute(const std::u16string& name, const std::u16string& value, int kind) {
  m_attributes.emplace_back(name, value, kind);
  return static_cast<int>(m_attributes.size()) - 1;
}

void CElementX::Reset() {
  m_name.clear();
  m_upperName.clear();
  m_sourceText.clear();
  m_pairId = 0;
  m_tagType = TagType::Single;
  m_ruleType = RuleType::Inline;
  m_isTag = false;
  m_whitespace = Whitespace::Preserve;
  m_algorithm = Algorithm::Translate;
  m_transliterate = false;
  m_semantic = -1;
  m_attributes.clear();
  m_flagged = false;
}

void CElementX::SetTransMethod(const std::u16string& s) {
  Extras().transMethod = s;
}

const std::u16string& CElementX::GetTransMethod() const {
  return m_extras ? m_extras->transMethod : kEmptyString;
}

void CElementX::AppendPropertyCode(char16_t c) {
  Extras().propertyCodes.push_back(c);
}

const std::u16string& CElementX::GetPropertyCodes() const {
  return m_extras ? m_extras->propertyCodes : kEmptyString;
}

}  // namespace tagvert
