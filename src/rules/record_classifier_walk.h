// Tagvert: the classification walk over an element table, with a pass that acts on each record
// the walk has classified (the structuring) in the same walk.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "markup/element_table.h"
#include "markup/pairing.h"
#include "rules/transml_rules.h"
#include "storage/char_class.h"

namespace tagvert::detail {

// What applying rules does to an element: each field is set by the last rule that set it.
struct COutcome {
  bool applied = false;  // some rule applied: Algorithm and RuleType are set
  bool whitespaceSet = false;
  Whitespace whitespace = Whitespace::Preserve;
  Algorithm algorithm = Algorithm::Translate;
  RuleType ruleType = RuleType::Inline;

  void Apply(const CRule& rule) {
    applied = true;
    if (rule.m_whitespace) {
      whitespaceSet = true;
      whitespace = *rule.m_whitespace;
    }
    algorithm = rule.ElementAlgorithm();
    ruleType = rule.ElementRuleType();
  }
  void WriteTo(CElementRecord& record) const {
    if (!applied) return;
    if (whitespaceSet) record.whitespace = whitespace;
    record.algorithm = algorithm;
    record.SetRuleType(ruleType);
  }
};

// The rules that can apply to the elements of one name, in the order they are tried.
struct CPlan {
  std::vector<const CRule*> namedRules;  // named rules matching the name
};

// What the walk needs of a name for each of its records, in a few bytes per name id so that a
// record's decision is one load beside the records: whether its rules test attributes, else
// their outcome, with the algorithm that an unpaired element ends up with already chosen.
struct CNameDecision {
  static constexpr std::uint8_t kUnknown = 0;
  static constexpr std::uint8_t kFixed = 1;
  static constexpr std::uint8_t kConditional = 2;
  std::uint8_t state = kUnknown;
  COutcome fixed;  // state kFixed: the outcome
  // state kFixed with fixed.applied: the algorithm of an element that is not a paired start
  // tag (skip and reserve hold only for a paired start tag and its end tag).
  Algorithm unpairedAlgorithm = Algorithm::Translate;
  std::uint8_t unused = 0;  // eight bytes: an entry's place is the id shifted
};

static_assert(sizeof(CNameDecision) == 8);

class CClassifier {
 public:
  CClassifier(CElementTable& table, const CRules* rules)
      : m_table(table),
        m_rules(rules),
        m_plans(table.Names().Size()),
        m_decisions(table.Names().Size()) {}

  // The decisions by name id, made when first asked for (Decide); the walk keeps the pointer,
  // which stays valid, where a member would be loaded again after each record it writes.
  const CNameDecision* Decisions() const { return m_decisions.data(); }

  // Once per distinct name: the rules that can apply, and their outcome when none of them tests
  // an attribute.
  [[gnu::noinline]] const CNameDecision& Decide(std::uint32_t nameId) {
    CNameDecision& decision = m_decisions[nameId];
    decision.state = CNameDecision::kFixed;
    if (m_rules == nullptr) return decision;
    const std::u16string& name = m_table.Names().Name(nameId);
    std::vector<const CRule*>& namedRules = m_plans[nameId].namedRules;
    bool conditional = false;
    COutcome& fixed = decision.fixed;
    for (const auto& rule : m_rules->GetNamelessRules()) {
      if (!rule->m_conditions.empty()) conditional = true;
      fixed.Apply(*rule);
    }
    for (const auto& rule : m_rules->GetNamedRules()) {
      if (!NamesMatch(rule->m_name, name, rule->m_nameCaseSensitive)) continue;
      namedRules.push_back(rule.get());
      if (!rule->m_conditions.empty()) conditional = true;
    }
    if (!namedRules.empty()) fixed.Apply(*namedRules.front());
    decision.unpairedAlgorithm =
        fixed.algorithm == Algorithm::Remove ? Algorithm::Remove : Algorithm::Translate;
    if (conditional) decision.state = CNameDecision::kConditional;
    return decision;
  }

  // Classifies a paired start tag, whose name's decision is `decision`.
  void ClassifyPaired(CElementRecord& record, const CNameDecision& decision) {
    if (decision.state == CNameDecision::kFixed) {
      decision.fixed.WriteTo(record);
      return;
    }
    ClassifyByConditions(record);
  }

  // Classifies an element that is not a paired tag (a text run among them).
  void ClassifyUnpaired(CElementRecord& record, const CNameDecision& decision) {
    if (decision.state == CNameDecision::kFixed) {
      if (decision.fixed.applied) {
        if (decision.fixed.whitespaceSet) record.whitespace = decision.fixed.whitespace;
        record.algorithm = decision.unpairedAlgorithm;
        record.SetRuleType(decision.fixed.ruleType);
        return;
      }
    } else {
      ClassifyByConditions(record);
    }
    // Skip and reserve hold only for a paired start tag and its end tag.
    if (record.algorithm != Algorithm::Remove) record.algorithm = Algorithm::Translate;
  }

 private:
  // Most records take their name's fixed outcome, inlined into the walk; the few whose rules
  // test attributes come here.
  [[gnu::noinline]] void ClassifyByConditions(CElementRecord& record) {
    // A plain tag's outcome follows from its text, and a document repeats the same few unit
    // and language tags thousands of times: the outcome is kept by the text.
    COutcomeSlot* const slot = OutcomeSlotOf(record);
    if (slot != nullptr && slot->text == m_text) {
      slot->outcome.WriteTo(record);
      return;
    }
    COutcome outcome;
    m_lookupDone = false;
    for (const auto& rule : m_rules->GetNamelessRules()) {
      if (ConditionsHold(*rule, record)) outcome.Apply(*rule);
    }
    for (const CRule* rule : m_plans[m_table.NameId(record)].namedRules) {
      if (ConditionsHold(*rule, record)) {
        outcome.Apply(*rule);
        break;
      }
    }
    outcome.WriteTo(record);
    if (slot != nullptr) {
      slot->text = m_text;
      slot->outcome = outcome;
    }
  }

  struct COutcomeSlot {
    std::string text;  // the tag's text as the source holds it (empty: a free slot)
    COutcome outcome;
  };
  static constexpr std::size_t kOutcomeSlots = 256;
  static constexpr std::size_t kMaxOutcomeTextBytes = 512;

  // The slot of the outcome of a plain tag of up to kMaxOutcomeTextBytes, by a hash of its text,
  // with m_text set to that text; null for any other record.
  COutcomeSlot* OutcomeSlotOf(const CElementRecord& record) {
    m_text = PlainTagBytes(m_table, record, kMaxOutcomeTextBytes);
    if (m_text.empty()) return nullptr;
    if (!m_outcomeSlots) m_outcomeSlots = std::make_unique<COutcomeSlot[]>(kOutcomeSlots);
    return &m_outcomeSlots[static_cast<std::size_t>(HashTagTextSampled(m_text) >> 56)];
  }

  bool ConditionsHold(const CRule& rule, const CElementRecord& record) {
    if (rule.m_conditions.empty()) return true;
    for (const auto& condition : rule.m_conditions) {
      if (!ConditionHolds(*condition, record)) return false;
    }
    return true;
  }

  bool ConditionHolds(const CAttributeCondition& condition, const CElementRecord& record) {
    // The rules of one name mostly test the same attribute, one after another: the tag is
    // looked at again only for another name.
    CAttributeLookup& lookup = LookupOf(condition);
    if (!m_lookupDone || &lookup != m_lookup) {
      m_lookupDone = true;
      m_lookup = &lookup;
      m_lookupValue = {};
      m_lookupFound = lookup.Find(record, &m_lookupValue) != 0;
    }
    return condition.Holds(m_lookupFound, m_lookupValue);
  }

  // The look-up of the attribute that `condition` tests, shared by the conditions that test the
  // same name: a handful of conditions, found by address.
  CAttributeLookup& LookupOf(const CAttributeCondition& condition) {
    for (const auto& [tested, lookup] : m_conditionLookups) {
      if (tested == &condition) return *lookup;
    }
    CAttributeLookup* lookup = nullptr;
    for (const auto& [tested, shared] : m_conditionLookups) {
      if (tested->m_name == condition.m_name &&
          tested->m_nameCaseSensitive == condition.m_nameCaseSensitive) {
        lookup = shared;
      }
    }
    if (lookup == nullptr) {
      lookup =
          m_lookups
              .emplace_back(std::make_unique<CAttributeLookup>(
                  m_table, std::initializer_list<CAttributeQuery>{{condition.m_name,
                                                                   condition.m_nameCaseSensitive}}))
              .get();
    }
    m_conditionLookups.emplace_back(&condition, lookup);
    return *lookup;
  }

  CElementTable& m_table;
  const CRules* m_rules;
  std::vector<CPlan> m_plans;
  std::vector<CNameDecision> m_decisions;
  // The look-ups of the tested attributes, and which condition uses which.
  std::vector<std::unique_ptr<CAttributeLookup>> m_lookups;
  std::vector<std::pair<const CAttributeCondition*, CAttributeLookup*>> m_conditionLookups;
  // The attribute of the record being classified looked up last (ConditionHolds).
  bool m_lookupDone = false;
  bool m_lookupFound = false;
  CAttributeLookup* m_lookup = nullptr;
  std::u16string_view m_lookupValue;
  // The outcomes of conditional rules by the tags' texts, and the text of the record classified.
  std::unique_ptr<COutcomeSlot[]> m_outcomeSlots;
  std::string_view m_text;
};

/// For each record, the first later record with the same PairId, into the table's workspace.
void NextWithSamePairId(CElementTable& table);

inline bool SpreadsWhitespace(Whitespace mode) {
  return mode == Whitespace::Remove || mode == Whitespace::Normalize ||
         mode == Whitespace::NormalizeSignificant;
}

inline bool SpreadsAlgorithm(Algorithm algorithm) {
  return algorithm == Algorithm::Skip || algorithm == Algorithm::Remove ||
         algorithm == Algorithm::Reserve;
}

// A range that a paired start tag spreads a decision over: the elements strictly between it
// and its end, which start no range of the same kind themselves; the end tag neither takes the
// decision nor starts a range.
struct CRange {
  // 0: no range yet. A range ends after the start tag that opens it, so never at record 0.
  std::uint32_t end = 0;
  bool Inside(std::uint32_t i) const { return i < end; }
  bool AtEnd(std::uint32_t i) const { return end != 0 && i == end; }
};

// Whether a paired start tag after `first`, up to `last`, has its end beyond `last`: tags
// that pair across each other, which only broken markup does.
inline bool EndsBeyond(const CRecordVector& records, const CRecordIndexVector& next,
                       std::uint32_t first, std::uint32_t last) {
  for (std::uint32_t j = first + 1; j <= last; ++j) {
    if (records[j].tagType == TagType::PairedOpen && next[j] > last) return true;
  }
  return false;
}

/// ClassifyRecords, calling `visit(i, next, record)` for every record `i` the structuring reaches
/// (each record after the last skipped block before it, in order; a skipping start tag is visited,
/// the records of its block are not) as soon as the record is classified: nothing the walk does
/// after that changes it. `next` is the workspace's data (the next record with the same PairId).
/// The visit may write over the records and the workspace entries up to `i`, which the walk reads
/// no more. With `kEveryTextAhead` the text of every record some records ahead is prefetched,
/// else only that of the tags whose attributes the rules read. With `kMayBeWide` false (a table
/// without wide records, VisitRecordWidth) the records' fields are read straight from them: the
/// walk reads only records the visit has not reached, which are as the cut wrote them.
template <bool kEveryTextAhead, bool kMayBeWide, class Visit>
void ClassifyRecordsWalk(CElementTable& table, const CRules* rules, Visit&& visit) {
  CRecordVector& records = table.Records();
  NextWithSamePairId(table);
  const CRecordIndexVector& next = table.Workspace();
  const auto count = static_cast<std::uint32_t>(records.size());
  const bool pairsNest = table.PairsNest();
  CClassifier classifier(table, rules);
  // Classification, the whitespace spreading and the algorithm spreading were three walks; in
  // one walk each element is classified first (its end tag taking the decision before any
  // spreading, as before), then takes what the ranges around it spread. Classification writes
  // only the element and its end, which lies ahead, so every start tag has its final values
  // when it is visited.
  CRange whitespaceRange;
  CRange algorithmRange;
  Whitespace spreadWhitespace = Whitespace::Preserve;
  bool spreadRemove = false;
  // The first record that the structuring looks at after the last block it collapses.
  std::uint32_t resume = 0;
  // The tags whose attributes are read lie far apart in the source: their texts are asked for
  // some records ahead.
  constexpr std::uint32_t kPrefetchDistance = 8;
  // The records visited (the walk jumps over blocks), for the stop checks.
  std::uint32_t visited = 0;
  const std::uint32_t prefetchEnd = count > kPrefetchDistance ? count - kPrefetchDistance : 0;
  // The walk's data in locals: its writes of record bytes may alias any memory.
  CElementRecord* const data = records.data();
  const std::uint32_t* const nextOf = next.data();
  const CNameDecision* const decisions = classifier.Decisions();
  const auto decisionOf = [decisions, &classifier](std::uint32_t nameId) -> const CNameDecision& {
    const CNameDecision& decision = decisions[nameId];
    return decision.state != CNameDecision::kUnknown ? decision : classifier.Decide(nameId);
  };
  for (std::uint32_t i = 0; i < count; ++i) {
    table.CheckStopAt(visited++);
    // The record's address once: a 12-byte record's index takes two steps to scale.
    CElementRecord& record = data[i];
    if (i < prefetchEnd) {
      const CElementRecord& ahead = (&record)[kPrefetchDistance];
      if (kEveryTextAhead || (ahead.IsTag() && decisionOf(table.NameId<kMayBeWide>(ahead)).state ==
                                                   CNameDecision::kConditional)) {
        table.PrefetchText(ahead);
      }
    }
    if (record.tagType != TagType::PairedOpen) {
      // Neither starts a range nor is skipped: classified (but for an end tag, which took its
      // start tag's decision), then takes what the ranges around it spread.
      if (record.tagType != TagType::PairedClose) {
        classifier.ClassifyUnpaired(record, decisionOf(table.NameId<kMayBeWide>(record)));
      }
      // Only text runs take the whitespace mode; markup in the range keeps its own.
      if (whitespaceRange.Inside(i) && !record.IsTag()) record.whitespace = spreadWhitespace;
      if (algorithmRange.Inside(i)) {
        record.algorithm = spreadRemove ? Algorithm::Remove : Algorithm::Translate;
        record.SetRuleType(RuleType::Inline);
      }
      if (i >= resume) visit(i, nextOf, record);
      continue;
    }
    // A paired start tag: its end tag takes its decision before any spreading.
    classifier.ClassifyPaired(record, decisionOf(table.NameId<kMayBeWide>(record)));
    const std::uint32_t end = nextOf[i];
    const bool startsRange = end < count;
    if (startsRange) {
      CElementRecord& endRecord = data[end];
      endRecord.whitespace = record.whitespace;
      endRecord.algorithm = record.algorithm;
      endRecord.SetRuleType(record.GetRuleType());
    }
    if (!whitespaceRange.Inside(i) && !whitespaceRange.AtEnd(i) && startsRange &&
        SpreadsWhitespace(record.whitespace)) {
      whitespaceRange.end = end;
      spreadWhitespace = record.whitespace;
    }
    if (algorithmRange.Inside(i)) {
      // The content is flattened into inline items: removed with a removed range, otherwise
      // translated (a skipped range is collapsed into one item afterwards).
      record.algorithm = spreadRemove ? Algorithm::Remove : Algorithm::Translate;
      record.SetRuleType(RuleType::Inline);
    } else if (!algorithmRange.AtEnd(i) && startsRange && SpreadsAlgorithm(record.algorithm)) {
      algorithmRange.end = end;
      spreadRemove = record.algorithm == Algorithm::Remove;
    }
    // A skipping start tag that the structuring reaches is collapsed there with everything up
    // to its end, whose records it then reads only for their place in the source (most of a
    // translated document: the other language's texts, the matched units, the placeholders'
    // content). What the walk would decide for them is lost, so it jumps over them, unless a
    // start tag among them ends beyond the block: its decision reaches its end, and its range
    // spreads past the block.
    if (i < resume) continue;
    // Read before the visit, which may write another record at i.
    const bool skips = record.algorithm == Algorithm::Skip;
    visit(i, nextOf, record);
    if (skips) {
      if (!startsRange) break;
      resume = end + 1;
      // Where the pairs nest, a block that holds fewer records than a round of ids has no start
      // tag that ends beyond it: its end record is its start tag's own end tag (another record
      // with the same id lies a round of ids away, or is the end tag of a pair around the start
      // tag, which would cross the start tag's pair), and every start tag within pairs within.
      if ((pairsNest && end - i < detail::kPairIdRound) || !EndsBeyond(records, next, i, end)) {
        i = end;
      }
    }
  }
}

}  // namespace tagvert::detail
