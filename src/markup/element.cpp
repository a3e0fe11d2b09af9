// Tagvert: one item of a markup document (CElementX) and its attributes.
// SPDX-License-Identifier: Apache-2.0
#include "markup/element.h"

#include "markup/element_pool.h"

namespace tagvert {

namespace {

// Returned for an attribute index outside the vector, so callers always get a valid reference.
const std::u16string kEmptyString;

}  // namespace

void* CElementX::operator new(std::size_t size) {
  return CElementPool::Allocate(size);
}

void CElementX::operator delete(void* p, std::size_t size) {
  CElementPool::Release(p, size);
}

IElementX* CElementX::CreateElement() {
  return new CElementX();
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

std::u16string CElementX::GetAttributeValue(const std::u16string& name) const {
  const int index = FindAttribute(name);
  return index < 0 ? std::u16string() : m_attributes[static_cast<std::size_t>(index)].m_value;
}

void CElementX::AddCharAttribute(char16_t c) {
  AddAttribute(std::u16string(1, c), std::u16string(), 2);
}

int CElementX::AddAttribute(const std::u16string& name, const std::u16string& value, int kind) {
  m_attributes.emplace_back(name, value, kind);
  return static_cast<int>(m_attributes.size()) - 1;
}

void CElementX::SetModified(bool m) {
  m_modified = m;
  if (m) m_sourceText.clear();
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
  m_modified = false;
}

std::u16string& CElementX::RebuildSourceText() {
  m_sourceText.assign(1, u'<');
  if (m_tagType == TagType::PairedClose || m_tagType == TagType::Close)
    m_sourceText.push_back(u'/');
  m_sourceText.append(m_name);
  for (const CAttributeX& attribute : m_attributes) {
    if (attribute.m_name == kHiddenAttributeName) continue;
    m_sourceText.push_back(u' ');
    m_sourceText.append(attribute.m_name);
    m_sourceText.append(u"=\"");
    m_sourceText.append(attribute.m_value);
    m_sourceText.push_back(u'"');
  }
  const bool paired = m_tagType == TagType::Open || m_tagType == TagType::Close ||
                      m_tagType == TagType::PairedOpen || m_tagType == TagType::PairedClose;
  m_sourceText.append(paired ? u">" : u"/>");
  m_modified = false;
  return m_sourceText;
}

int CElementX::FindAttributeByMark(char mark) const {
  for (std::size_t i = 0; i < m_attributes.size(); ++i) {
    if (m_attributes[i].m_mark == mark) return static_cast<int>(i);
  }
  return -1;
}

int CElementX::AddBlankAttribute() {
  return AddAttribute(std::u16string(), std::u16string(), 2);
}

namespace {
const std::u16string kEmptyText;
}  // namespace

void CElementX::SetTransMethod(const std::u16string& s) {
  Extras().transMethod = s;
}

const std::u16string& CElementX::GetTransMethod() const {
  return m_extras ? m_extras->transMethod : kEmptyText;
}

void CElementX::AppendPropertyCode(char16_t c) {
  Extras().propertyCodes.push_back(c);
}

const std::u16string& CElementX::GetPropertyCodes() const {
  return m_extras ? m_extras->propertyCodes : kEmptyText;
}

}  // namespace tagvert
