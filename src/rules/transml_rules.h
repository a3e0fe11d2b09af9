// Tagvert: the TransML rule set (CRules) with its rules, conditions and entities, and its loader.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "markup/element_kinds.h"
#include "storage/byte_stream.h"
#include "storage/hresult.h"

namespace tagvert {

class CDataStorage;
class CSgmlElementBase;

/// Whether a name of a rule or condition matches a name of the document: exactly when
/// `caseSensitive`, else with ASCII letters folded.
bool NamesMatch(std::u16string_view a, std::u16string_view b, bool caseSensitive);

/// Attribute types (TYPE of an ATTRIBUTE-TYPE).
enum class AttributeTypeKind : std::uint8_t { Translate = 0, Remove = 1, Leave = 2, Unique = 3 };

/// Conditions (CONDITION of an ATTRIBUTE-CONDITION); None when none was given.
enum class ConditionKind : std::uint8_t {
  None = 0,
  Equal = 1,
  NotEqual = 2,
  Exist = 3,
  NotExist = 4,
  Contain = 5,
  NotContain = 6,
};

/// Errors of the loader; each value is also the number of its message text ("String%02d").
enum class RulesError : std::int32_t {
  None = -1,                  ///< the last load did not fail
  EndInTag = 0,               ///< the input ends inside a tag
  Exception = 5,              ///< any other exception
  UnexpectedTag = 6,          ///< a tag the grammar does not allow there
  RuleType = 8,               ///< RULE with a bad TYPE
  RuleAlgorithm = 9,          ///< RULE with a bad ALGORITHM
  AttributeTypeMissing = 10,  ///< ATTRIBUTE-TYPE without TYPE
  AttributeType = 11,         ///< ATTRIBUTE-TYPE with a bad TYPE
  Condition = 12,             ///< ATTRIBUTE-CONDITION with a bad CONDITION
};

/// The exception by which the loader leaves a rule set it cannot read; CRules::Load catches it
/// and keeps its error. As a CHResultError it fails with E_FAIL wherever it would escape.
class CRulesError : public CHResultError {
 public:
  explicit CRulesError(RulesError error) noexcept : CHResultError(kEFail), m_error(error) {}
  RulesError Error() const noexcept { return m_error; }

 private:
  RulesError m_error;
};

/// States of the loader.
enum class RulesLoadState : std::int32_t {
  AtStart = 0,
  InRoot = 1,
  InRules = 2,
  InRule = 3,
  InEntities = 4,
  Done = 5,
};

/// One entity definition of a rule set.
struct CEntity {
  std::u16string m_name;        ///< name without "&" and ";"
  bool m_hasChar = false;       ///< the entity stands for one character
  bool m_needBackward = false;  ///< the character is turned back into the entity on output
  char16_t m_char = 0xFFFF;     ///< the character; 0xFFFF when m_hasChar is false
  std::u16string m_value;       ///< replacement text when m_hasChar is false; empty otherwise
};

/// One ATTRIBUTE-TYPE element. Loaded, not applied by the processors.
struct CAttributeType {
  std::u16string m_name;                                    ///< NAME (empty when absent)
  bool m_nameCaseSensitive = false;                         ///< NAMECASESENSITIVE present
  AttributeTypeKind m_type = AttributeTypeKind::Translate;  ///< TYPE (required)
};

/// One ATTRIBUTE-CONDITION element.
struct CAttributeCondition {
  std::u16string m_name;                            ///< NAME (empty when absent), as written
  bool m_nameCaseSensitive = false;                 ///< NAMECASESENSITIVE present
  ConditionKind m_condition = ConditionKind::None;  ///< CONDITION (None when absent)
  std::u16string m_value;        ///< VALUE; upper-cased (CharToUpper) when CASESENSITIVE
  bool m_caseSensitive = false;  ///< CASESENSITIVE present

  /// Whether the condition holds for an element whose first attribute named m_name has `value`;
  /// `found` is false (and `value` empty) when the element has no such attribute. A condition
  /// without a kind always holds.
  bool Holds(bool found, std::u16string_view value) const;
};

/// One RULE element. Owns its attribute types and conditions.
struct CRule {
  std::u16string m_name;                 ///< NAME; upper-cased (CharToUpper) when NAMECASESENSITIVE
  bool m_nameCaseSensitive = false;      ///< NAMECASESENSITIVE present (its value is not looked at)
  RuleType m_type = RuleType::Block;     ///< TYPE
  std::optional<Algorithm> m_algorithm;  ///< ALGORITHM (none when absent)
  std::u16string m_transMethod;          ///< TRANSMETHOD as written (references resolved)
  int m_semantic = -1;                   ///< SEMANTIC as a decimal number
  bool m_transliterate = false;          ///< TRANSLITERATE present
  std::optional<Whitespace> m_whitespace;  ///< WHITESPACE (none when absent or unknown)
  /// ATTRIBUTE-TYPE children: named ones appended, nameless ones put in front.
  std::deque<std::unique_ptr<CAttributeType>> m_attributeTypes;
  /// ATTRIBUTE-CONDITION children in the order read.
  std::deque<std::unique_ptr<CAttributeCondition>> m_conditions;

  /// The algorithm the rule gives an element: leave acts as skip, none as translate.
  Algorithm ElementAlgorithm() const {
    if (!m_algorithm) return Algorithm::Translate;
    return *m_algorithm == Algorithm::Leave ? Algorithm::Skip : *m_algorithm;
  }
  /// The rule type the rule gives an element: property acts as inline.
  RuleType ElementRuleType() const {
    return m_type == RuleType::Block ? RuleType::Block : RuleType::Inline;
  }
};

/// A loaded TransML rule set: rules (named and nameless), entities and root attributes.
/// The converter object keeps one and loads the built-in TTX rules into it once.
class CRules {
 public:
  using RuleList = std::deque<std::unique_ptr<CRule>>;

  CRules() = default;
  virtual ~CRules();
  CRules(const CRules&) = delete;
  CRules& operator=(const CRules&) = delete;

  /// Loads a rule set from a byte stream: builds a storage with input mode 1 (each byte one
  /// unit unless a byte-order mark says UTF-16 or UTF-8) and output mode 0 over `stream`, runs
  /// Load and returns its result. The stream is held for the duration only. Throws
  /// CHResultError(E_INVALIDARG) for a null stream, and what the stream's first read throws.
  bool LoadStream(const ByteStreamPtr& stream, bool append);

  /// Reads a rule set from `storage` (opened for input). False without any change when the
  /// storage has no input. Unless `append`, the rules are replaced and the entities restarted
  /// with the 5 basic ones. A failure inside the markup returns false and sets the error
  /// message, code and position; what was read before it stays loaded. Storage failures while
  /// detecting the byte-order mark pass through as CHResultError.
  bool Load(CDataStorage& storage, bool append);

  /// Text of the last load failure (empty when none, and wherever the platform has no texts).
  const std::u16string& GetErrorMessage() const { return m_errorMessage; }
  /// Character count just after the "<" of the tag that failed. Noted for every tag read, so
  /// after a successful load it is that of the last tag; 0 before any tag.
  std::int32_t GetErrorPosition() const { return m_errorPosition; }
  /// The error of the last load, or RulesError::None.
  RulesError GetErrorCode() const { return m_errorCode; }
  /// Set once a load has run to its end without failure.
  bool IsLoaded() const { return m_loaded; }
  /// The loader's state after the last load.
  RulesLoadState GetLoadState() const { return m_loadState; }

  /// Rules without a name, in the order read (they apply to every element).
  const RuleList& GetNamelessRules() const { return m_namelessRules; }
  RuleList& GetNamelessRules() { return m_namelessRules; }
  /// Rules with a name, in the order read.
  const RuleList& GetNamedRules() const { return m_namedRules; }
  RuleList& GetNamedRules() { return m_namedRules; }
  /// The entities; GetEntityChars()[i] is GetEntities()[i].m_char.
  const std::vector<CEntity>& GetEntities() const { return m_entities; }
  const std::u16string& GetEntityChars() const { return m_entityChars; }

  /// Root attributes, stored for the users of a rule set.
  const std::u16string& GetRuleSetName() const { return m_ruleSetName; }
  const std::u16string& GetComment() const { return m_comment; }
  const std::u16string& GetRootTag() const { return m_rootTag; }
  const std::u16string& GetUwPrefix() const { return m_uwPrefix; }
  const std::u16string& GetUwSuffix() const { return m_uwSuffix; }
  const std::u16string& GetPwPrefix() const { return m_pwPrefix; }
  const std::u16string& GetPwSuffix() const { return m_pwSuffix; }
  const std::u16string& GetUwTag() const { return m_uwTag; }
  const std::u16string& GetPwTag() const { return m_pwTag; }
  const std::u16string& GetDhTag() const { return m_dhTag; }
  const std::u16string& GetTmhTag() const { return m_tmhTag; }
  const std::u16string& GetPeTag() const { return m_peTag; }

 private:
  void ProcessTag(const CSgmlElementBase& tag);
  void ReadRootAttributes(const CSgmlElementBase& tag);
  void AddRule(const CSgmlElementBase& tag);
  void AddAttributeType(const CSgmlElementBase& tag);
  void AddCondition(const CSgmlElementBase& tag);
  void AddEntity(const CSgmlElementBase& tag);
  void AppendTableEntities(int first, int last);
  void PutEntity(CEntity entity);

  std::u16string m_errorMessage;
  std::int32_t m_errorPosition = 0;
  bool m_loaded = false;
  CRule* m_currentRule = nullptr;
  RulesLoadState m_loadState = RulesLoadState::AtStart;
  RuleList m_namelessRules;
  RuleList m_namedRules;
  std::vector<CEntity> m_entities;
  std::u16string m_entityChars;
  std::u16string m_ruleSetName;
  std::u16string m_comment;
  std::u16string m_rootTag;
  std::u16string m_uwPrefix;
  std::u16string m_uwSuffix;
  std::u16string m_pwPrefix;
  std::u16string m_pwSuffix;
  std::u16string m_uwTag;
  std::u16string m_pwTag;
  std::u16string m_dhTag;
  std::u16string m_tmhTag;
  std::u16string m_peTag;
  RulesError m_errorCode = RulesError::None;
  // First index of each entity name, so that a redefinition finds its entry without a scan.
  std::unordered_map<std::u16string, std::size_t> m_entityIndex;
};

/// The text of the loader's message for `error` (from the platform; empty where it keeps none).
std::u16string GetMessageText(RulesError error);

}  // namespace tagvert
