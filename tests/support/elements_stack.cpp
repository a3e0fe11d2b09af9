// Tagvert tests: the ordered, owning list of a document's elements and tag pairing
// (CElementsStackX), the element-list form that the reference passes work on.
// SPDX-License-Identifier: Apache-2.0
#include "support/elements_stack.h"

#include <optional>
#include <string_view>
#include <unordered_map>

#include "markup/pairing.h"

namespace tagvert {

namespace {

// The element list as the pairing walk sees it.
class CListAccess {
 public:
  using Position = std::size_t;
  explicit CListAccess(CElementsStackX& list) : m_list(list) {}
  std::size_t Size() const { return m_list.size(); }
  bool Present(std::size_t i) const { return m_list[i] != nullptr; }
  std::optional<TagType> Type(std::size_t i) const {
    if (m_list[i] == nullptr) return std::nullopt;
    switch (m_list[i]->GetTagType()) {
      case TagType::Open:
        return TagType::Open;
      case TagType::Close:
        return TagType::Close;
      case TagType::Single:
        return TagType::Single;
      case TagType::PairedOpen:
        return TagType::PairedOpen;
      case TagType::PairedClose:
        return TagType::PairedClose;
      default:
        return std::nullopt;
    }
  }
  void SetType(std::size_t i, TagType type) {
    m_list[i]->SetTagType(type == TagType::PairedOpen ? TagType::PairedOpen : TagType::PairedClose);
  }
  int PairId(std::size_t i) const { return m_list[i]->GetPairId(); }
  void SetPairId(std::size_t i, int id) { m_list[i]->SetPairId(id); }
  std::vector<std::size_t>& OpenStack(std::size_t i) {
    return m_openByName[m_list[i]->GetNameRef()];
  }
  std::uint16_t NextPairId() { return m_list.NextPairId(); }
  void CheckStop() const { m_list.CheckStop(); }

 private:
  CElementsStackX& m_list;
  std::unordered_map<std::u16string_view, std::vector<std::size_t>> m_openByName;
};

}  // namespace

CElementsStackX::~CElementsStackX() {
  for (IElementX* element : *this)
    delete element;
}

bool CElementsStackX::Push(IElementX* element) {
  push_back(element);
  return true;
}

std::uint16_t CElementsStackX::NextPairId() {
  return detail::NextPairId(m_pairIdCounter);
}

// See detail::PairTags for how the walk stays near-linear while giving the exact ids.
void CElementsStackX::PairTags() {
  CListAccess access(*this);
  std::vector<std::size_t> partner;
  detail::PairTags(access, partner);
}

}  // namespace tagvert
