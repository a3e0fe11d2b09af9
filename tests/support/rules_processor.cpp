// Tagvert tests: the application of a TransML rule set to a document's element list.
// SPDX-License-Identifier: Apache-2.0
#include "support/rules_processor.h"

#include <unordered_map>

#include "markup/element.h"
#include "rules/transml_rules.h"
#include "support/elements_stack.h"

namespace tagvert {

CRulesProcessor::~CRulesProcessor() = default;

bool CRulesProcessor::CheckCondition(const CAttributeCondition& condition, IElementX& element) {
  const CAttributeX* found = nullptr;
  for (const CAttributeX& attribute : element.GetAttributes()) {
    if (NamesMatch(attribute.m_name, condition.m_name, condition.m_nameCaseSensitive)) {
      found = &attribute;
      break;
    }
  }
  return found != nullptr ? condition.Holds(true, found->m_value) : condition.Holds(false, {});
}

bool CRulesProcessor::ApplyRule(const CRule& rule, IElementX& element) {
  for (const auto& condition : rule.m_conditions) {
    if (!CheckCondition(*condition, element)) return false;
  }
  if (rule.m_whitespace) element.SetWhitespace(*rule.m_whitespace);
  element.SetAlgorithm(rule.ElementAlgorithm());
  element.SetRuleType(rule.ElementRuleType());
  return true;
}

void CRulesProcessor::ApplyRules(IElementX& element) {
  if (m_rules == nullptr) return;
  for (const auto& rule : m_rules->GetNamelessRules())
    ApplyRule(*rule, element);
  const std::u16string& name = element.GetNameRef();
  for (const auto& rule : m_rules->GetNamedRules()) {
    if (NamesMatch(rule->m_name, name, rule->m_nameCaseSensitive) && ApplyRule(*rule, element)) {
      return;
    }
  }
}

std::vector<std::size_t> CRulesProcessor::NextWithSamePairId(const CElementsStackX& elements) {
  const std::size_t count = elements.size();
  std::vector<std::size_t> next(count, count);
  // Walking backwards, the last index seen for an id is the first later element carrying it;
  // this stays exact when ids repeat after the counter wrapped.
  std::unordered_map<int, std::size_t> seen;
  seen.reserve(count / 2 + 1);
  for (std::size_t i = count; i-- > 0;) {
    elements.CheckStop();
    if (elements[i] == nullptr) continue;
    const auto [it, inserted] = seen.try_emplace(elements[i]->GetPairId(), i);
    if (!inserted) {
      next[i] = it->second;
      it->second = i;
    }
  }
  return next;
}

void CRulesProcessor::Process(CElementsStackX& elements, CRules* rules) {
  m_rules = rules;
  // The passes change no PairId, so the partners found once serve all three.
  const std::vector<std::size_t> partner = NextWithSamePairId(elements);
  ClassificationPass(elements, partner);
  WhitespacePass(elements, partner);
  AlgorithmPass(elements, partner);
}

void CRulesProcessor::ClassificationPass(CElementsStackX& elements,
                                         const std::vector<std::size_t>& partner) {
  for (std::size_t i = 0; i < elements.size(); ++i) {
    elements.CheckStop();
    IElementX* element = elements[i];
    if (element == nullptr) continue;
    switch (element->GetTagType()) {
      case TagType::PairedOpen:
        ApplyRules(*element);
        if (partner[i] < elements.size()) {
          IElementX* end = elements[partner[i]];
          end->SetWhitespace(element->GetWhitespace());
          end->SetAlgorithm(element->GetAlgorithm());
          end->SetRuleType(element->GetRuleType());
        }
        break;
      case TagType::Open:
      case TagType::Close:
      case TagType::Single:
        ApplyRules(*element);
        // Skip and reserve hold only for a paired start tag and its end tag.
        if (element->GetAlgorithm() != Algorithm::Remove)
          element->SetAlgorithm(Algorithm::Translate);
        break;
      default:
        break;
    }
  }
}

namespace {

// Walks the list from first to last; at each paired start tag for which `spreads` holds, calls
// `apply` for every element strictly between it and its end tag, then goes on after the end
// tag, so start tags nested in that range start no range of their own.
template <typename Spreads, typename Apply>
void SpreadOverRanges(CElementsStackX& elements, const std::vector<std::size_t>& partner,
                      Spreads spreads, Apply apply) {
  std::size_t i = 0;
  while (i < elements.size()) {
    elements.CheckStop();
    IElementX* element = elements[i];
    const std::size_t end = partner[i];
    if (element == nullptr || element->GetTagType() != TagType::PairedOpen ||
        end >= elements.size() || !spreads(*element)) {
      ++i;
      continue;
    }
    for (std::size_t j = i + 1; j < end; ++j) {
      elements.CheckStop();
      if (elements[j] != nullptr) apply(*element, *elements[j]);
    }
    i = end + 1;
  }
}

}  // namespace

void CRulesProcessor::WhitespacePass(CElementsStackX& elements,
                                     const std::vector<std::size_t>& partner) {
  SpreadOverRanges(
      elements, partner,
      [](IElementX& start) {
        const Whitespace mode = start.GetWhitespace();
        return mode == Whitespace::Remove || mode == Whitespace::Normalize ||
               mode == Whitespace::NormalizeSignificant;
      },
      [](IElementX& start, IElementX& inner) {
        // Only text runs take the mode; markup in the range keeps its own.
        if (!inner.GetIsTag()) inner.SetWhitespace(start.GetWhitespace());
      });
}

void CRulesProcessor::AlgorithmPass(CElementsStackX& elements,
                                    const std::vector<std::size_t>& partner) {
  SpreadOverRanges(
      elements, partner,
      [](IElementX& start) {
        const Algorithm algorithm = start.GetAlgorithm();
        return algorithm == Algorithm::Skip || algorithm == Algorithm::Remove ||
               algorithm == Algorithm::Reserve;
      },
      [](IElementX& start, IElementX& inner) {
        // The content is flattened into inline items: removed with a removed range, otherwise
        // translated (the stack processor treats a skipped range as one unit).
        inner.SetAlgorithm(start.GetAlgorithm() == Algorithm::Remove ? Algorithm::Remove
                                                                     : Algorithm::Translate);
        inner.SetRuleType(RuleType::Inline);
      });
}

}  // namespace tagvert
