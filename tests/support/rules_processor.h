// Tagvert tests: the application of a TransML rule set to a document's element list
// (CRulesProcessor), the straightforward reference of the table's classification.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tagvert {

struct CAttributeCondition;
class CElementsStackX;
struct CRule;
class CRules;
class IElementX;

/// Classifies every element of a paired element list by a rule set (RuleType, Algorithm,
/// Whitespace) and spreads the decisions of paired start tags over what they enclose.
/// Made for one conversion; keeps a non-owning pointer to the rule set set by Process.
class CRulesProcessor {
 public:
  CRulesProcessor() = default;
  virtual ~CRulesProcessor();
  CRulesProcessor(const CRulesProcessor&) = delete;
  CRulesProcessor& operator=(const CRulesProcessor&) = delete;

  /// Stores `rules` (not owned; null applies no rules) and runs the classification, whitespace
  /// and algorithm passes over `elements`, which must have been paired (PairTags). Each pass is
  /// one walk; the end tag of every paired start tag is found once, in linear time.
  virtual void Process(CElementsStackX& elements, CRules* rules);

  /// Applies the rule set to one element: every nameless rule whose conditions hold, in order,
  /// then the first named rule whose name matches the element's Name and whose conditions hold.
  /// Nothing happens before Process has stored a rule set.
  void ApplyRules(IElementX& element);
  /// When all of the rule's conditions hold: sets the element's Whitespace (unless the rule gives
  /// none), Algorithm (leave as skip, none as translate) and RuleType (property as inline) and
  /// returns true; otherwise leaves the element unchanged and returns false.
  bool ApplyRule(const CRule& rule, IElementX& element);
  /// Whether the element satisfies the condition (see the implementation for each kind).
  bool CheckCondition(const CAttributeCondition& condition, IElementX& element);

  /// For each index of `elements`, the index of the first later element with the same PairId, or
  /// `elements.size()` when there is none (null entries take part in no chain).
  static std::vector<std::size_t> NextWithSamePairId(const CElementsStackX& elements);

 protected:
  CRules* m_rules = nullptr;

 private:
  void ClassificationPass(CElementsStackX& elements, const std::vector<std::size_t>& partner);
  void WhitespacePass(CElementsStackX& elements, const std::vector<std::size_t>& partner);
  void AlgorithmPass(CElementsStackX& elements, const std::vector<std::size_t>& partner);
};

}  // namespace tagvert
