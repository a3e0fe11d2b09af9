// Tagvert: the TransML rule set and its loader.
// SPDX-License-Identifier: Apache-2.0
#include "rules/transml_rules.h"

#include <array>
#include <string_view>
#include <utility>

#include "ifcodec/entity_tables.h"
#include "rules/message_text.h"
#include "rules/sgml_element_base.h"
#include "storage/char_class.h"
#include "storage/data_storage.h"

namespace tagvert {

bool NamesMatch(std::u16string_view a, std::u16string_view b, bool caseSensitive) {
  return caseSensitive ? a == b : StringEqualsNoCase(a, b);
}
namespace {

// Every rule set starts with the first entries of the rules table: lt, gt, amp, quot, apos.
constexpr int kBasicEntityCount = 5;
constexpr std::size_t kEntityReserve = 64;

template <typename T>
struct CKeyword {
  std::u16string_view word;
  T value;
};

constexpr std::array<CKeyword<RuleType>, 3> kRuleTypes{{
    {u"BLOCK", RuleType::Block},
    {u"INLINE", RuleType::Inline},
    {u"PROPERTY", RuleType::Property},
}};

constexpr std::array<CKeyword<Algorithm>, 5> kAlgorithms{{
    {u"TRANSLATE", Algorithm::Translate},
    {u"SKIP", Algorithm::Skip},
    {u"LEAVE", Algorithm::Leave},
    {u"REMOVE", Algorithm::Remove},
    {u"RESERVE", Algorithm::Reserve},
}};

constexpr std::array<CKeyword<Whitespace>, 4> kWhitespaceModes{{
    {u"PRESERVE", Whitespace::Preserve},
    {u"REMOVE", Whitespace::Remove},
    {u"NORMALIZE", Whitespace::Normalize},
    {u"NORMALIZESIGNIFICANT", Whitespace::NormalizeSignificant},
}};

constexpr std::array<CKeyword<AttributeTypeKind>, 4> kAttributeTypes{{
    {u"TRANSLATE", AttributeTypeKind::Translate},
    {u"REMOVE", AttributeTypeKind::Remove},
    {u"LEAVE", AttributeTypeKind::Leave},
    {u"UNIQUE", AttributeTypeKind::Unique},
}};

constexpr std::array<CKeyword<ConditionKind>, 6> kConditions{{
    {u"EQUAL", ConditionKind::Equal},
    {u"NOTEQUAL", ConditionKind::NotEqual},
    {u"EXIST", ConditionKind::Exist},
    {u"NOTEXIST", ConditionKind::NotExist},
    {u"CONTAIN", ConditionKind::Contain},
    {u"NOTCONTAIN", ConditionKind::NotContain},
}};

// The keyword's value, or none when the word is none of them.
template <typename T, std::size_t N>
std::optional<T> KeywordValue(const std::array<CKeyword<T>, N>& keywords,
                              std::u16string_view word) {
  for (const CKeyword<T>& keyword : keywords) {
    if (StringEqualsNoCase(keyword.word, word)) return keyword.value;
  }
  return std::nullopt;
}

// The keyword's value; throws the loader's `error` when the word is none of them.
template <typename T, std::size_t N>
T RequiredKeyword(const std::array<CKeyword<T>, N>& keywords, std::u16string_view word,
                  RulesError error) {
  const std::optional<T> value = KeywordValue(keywords, word);
  if (!value) throw CRulesError(error);
  return *value;
}

bool HasAttribute(const CSgmlElementBase& tag, std::u16string_view upperName) {
  return tag.IndexOfAttribute(upperName) >= 0;
}

[[noreturn]] void ThrowUnexpectedTag() {
  throw CRulesError(RulesError::UnexpectedTag);
}

}  // namespace

std::u16string GetMessageText(RulesError error) {
  return PlatformGetMessageText(static_cast<int>(error));
}

bool CAttributeCondition::Holds(bool found, std::u16string_view value) const {
  switch (m_condition) {
    case ConditionKind::Equal:
      return value == m_value;
    case ConditionKind::NotEqual:
      return value != m_value;
    case ConditionKind::Exist:
      return found;
    case ConditionKind::NotExist:
      return !found;
    case ConditionKind::Contain:
      return value.find(m_value) != std::u16string_view::npos;
    case ConditionKind::NotContain:
      return value.find(m_value) == std::u16string_view::npos;
    case ConditionKind::None:
      break;
  }
  return true;
}

CRules::~CRules() = default;

bool CRules::LoadStream(const ByteStreamPtr& stream, bool append) {
  CDataStorage storage(EncodingMode::Single, EncodingMode::None);
  storage.Open(CEndpoint::Stream(stream), CEndpoint());
  const bool result = Load(storage, append);
  storage.Close();
  return result;
}

bool CRules::Load(CDataStorage& storage, bool append) {
  if (!storage.HasInput()) return false;
  storage.DetectBOM();
  m_loadState = RulesLoadState::AtStart;
  m_currentRule = nullptr;
  m_errorMessage.clear();
  m_errorPosition = 0;
  m_errorCode = RulesError::None;

  if (!append) {
    m_namelessRules.clear();
    m_namedRules.clear();
    m_entities.clear();
    m_entityIndex.clear();
    m_entities.reserve(kEntityReserve);
    m_entityChars.clear();
    AppendTableEntities(0, kBasicEntityCount);
  }

  try {
    char16_t c = 0;
    // The state is tested before reading, so nothing after the root's end tag is read.
    while (m_loadState != RulesLoadState::Done && storage.GetChar(c)) {
      if (c != u'<') continue;
      m_errorPosition = storage.GetCharCount();
      CSgmlElementBase tag(storage);
      tag.Parse();
      ProcessTag(tag);
    }
  } catch (const CRulesError& error) {
    m_errorCode = error.Error();
    m_errorMessage = GetMessageText(m_errorCode);
    return false;
  } catch (...) {
    m_errorCode = RulesError::Exception;
    m_errorMessage = GetMessageText(m_errorCode);
    return false;
  }
  m_loaded = true;
  return true;
}

void CRules::ProcessTag(const CSgmlElementBase& tag) {
  if (tag.IsSpecial()) return;
  const std::u16string& name = tag.GetUpperName();
  switch (m_loadState) {
    case RulesLoadState::AtStart:
      if (tag.IsEndTag() || name != u"ORVEL-TRANSML") ThrowUnexpectedTag();
      ReadRootAttributes(tag);
      m_loadState = RulesLoadState::InRoot;
      break;

    case RulesLoadState::InRoot:
      if (tag.IsEndTag()) {
        m_loadState = RulesLoadState::Done;
      } else if (name == u"RULES") {
        if (!tag.IsEmpty()) m_loadState = RulesLoadState::InRules;
      } else if (name == u"ENTITIES") {
        if (HasAttribute(tag, u"USEHTML")) AppendTableEntities(kBasicEntityCount, kEntityTableSize);
        if (!tag.IsEmpty()) m_loadState = RulesLoadState::InEntities;
      } else {
        ThrowUnexpectedTag();
      }
      break;

    case RulesLoadState::InRules:
      if (tag.IsEndTag()) {
        if (name != u"RULES") ThrowUnexpectedTag();
        m_loadState = RulesLoadState::InRoot;
      } else {
        if (name != u"RULE") ThrowUnexpectedTag();
        AddRule(tag);
      }
      break;

    case RulesLoadState::InRule:
      if (tag.IsEndTag()) {
        if (name != u"RULE") ThrowUnexpectedTag();
        m_loadState = RulesLoadState::InRules;
        m_currentRule = nullptr;
        break;
      }
      if (!tag.IsEmpty() || m_currentRule == nullptr) ThrowUnexpectedTag();
      if (name == u"ATTRIBUTE-TYPE") {
        AddAttributeType(tag);
      } else if (name == u"ATTRIBUTE-CONDITION") {
        AddCondition(tag);
      } else {
        ThrowUnexpectedTag();
      }
      break;

    case RulesLoadState::InEntities:
      if (tag.IsEndTag() && name == u"ENTITIES") {
        m_loadState = RulesLoadState::InRoot;
        break;
      }
      if (tag.IsEndTag() || !tag.IsEmpty() || name != u"ENTITY") ThrowUnexpectedTag();
      AddEntity(tag);
      break;

    case RulesLoadState::Done:
      break;
  }
}

void CRules::ReadRootAttributes(const CSgmlElementBase& tag) {
  m_ruleSetName = tag.AttributeOr(u"NAME");
  m_pwTag = tag.AttributeOr(u"PWTAG");
  m_uwTag = tag.AttributeOr(u"UWTAG");
  m_dhTag = tag.AttributeOr(u"DHTAG");
  m_tmhTag = tag.AttributeOr(u"TMHTAG");
  m_peTag = tag.AttributeOr(u"PETAG");
  // The affixes keep what they had when the root does not give them.
  m_uwPrefix = tag.AttributeOr(u"UWPREFIX", &m_uwPrefix);
  m_uwSuffix = tag.AttributeOr(u"UWSUFFIX", &m_uwSuffix);
  m_pwPrefix = tag.AttributeOr(u"PWPREFIX", &m_pwPrefix);
  m_pwSuffix = tag.AttributeOr(u"PWSUFFIX", &m_pwSuffix);
  m_rootTag = tag.AttributeOr(u"ROOTTAG");
  m_comment = tag.AttributeOr(u"COMMENT");
}

void CRules::AddRule(const CSgmlElementBase& tag) {
  auto rule = std::make_unique<CRule>();
  rule->m_name = tag.AttributeOr(u"NAME");
  rule->m_nameCaseSensitive = HasAttribute(tag, u"NAMECASESENSITIVE");
  if (rule->m_nameCaseSensitive) rule->m_name = StringToUpper(rule->m_name);
  if (HasAttribute(tag, u"TYPE")) {
    rule->m_type = RequiredKeyword(kRuleTypes, tag.AttributeOr(u"TYPE"), RulesError::RuleType);
  }
  if (HasAttribute(tag, u"ALGORITHM")) {
    rule->m_algorithm =
        RequiredKeyword(kAlgorithms, tag.AttributeOr(u"ALGORITHM"), RulesError::RuleAlgorithm);
  }
  rule->m_transMethod = tag.AttributeOr(u"TRANSMETHOD");
  if (HasAttribute(tag, u"SEMANTIC")) {
    if (const auto number = ParseTransmlNumber(tag.AttributeOr(u"SEMANTIC"), false)) {
      rule->m_semantic = static_cast<std::int32_t>(*number);
    }
  }
  rule->m_transliterate = HasAttribute(tag, u"TRANSLITERATE");
  if (HasAttribute(tag, u"WHITESPACE")) {
    rule->m_whitespace = KeywordValue(kWhitespaceModes, tag.AttributeOr(u"WHITESPACE"));
  }

  CRule* added = rule.get();
  if (rule->m_name.empty()) {
    m_namelessRules.push_back(std::move(rule));
  } else {
    m_namedRules.push_back(std::move(rule));
  }
  m_currentRule = added;
  if (!tag.IsEmpty()) m_loadState = RulesLoadState::InRule;
}

void CRules::AddAttributeType(const CSgmlElementBase& tag) {
  auto type = std::make_unique<CAttributeType>();
  type->m_name = tag.AttributeOr(u"NAME");
  type->m_nameCaseSensitive = HasAttribute(tag, u"NAMECASESENSITIVE");
  if (!HasAttribute(tag, u"TYPE")) throw CRulesError(RulesError::AttributeTypeMissing);
  type->m_type =
      RequiredKeyword(kAttributeTypes, tag.AttributeOr(u"TYPE"), RulesError::AttributeType);
  if (type->m_name.empty()) {
    m_currentRule->m_attributeTypes.push_front(std::move(type));
  } else {
    m_currentRule->m_attributeTypes.push_back(std::move(type));
  }
}

void CRules::AddCondition(const CSgmlElementBase& tag) {
  auto condition = std::make_unique<CAttributeCondition>();
  condition->m_name = tag.AttributeOr(u"NAME");
  condition->m_nameCaseSensitive = HasAttribute(tag, u"NAMECASESENSITIVE");
  if (HasAttribute(tag, u"CONDITION")) {
    condition->m_condition =
        RequiredKeyword(kConditions, tag.AttributeOr(u"CONDITION"), RulesError::Condition);
  }
  condition->m_value = tag.AttributeOr(u"VALUE");
  condition->m_caseSensitive = HasAttribute(tag, u"CASESENSITIVE");
  if (condition->m_caseSensitive) condition->m_value = StringToUpper(condition->m_value);
  m_currentRule->m_conditions.push_back(std::move(condition));
}

void CRules::AddEntity(const CSgmlElementBase& tag) {
  CEntity entity;
  entity.m_name = tag.AttributeOr(u"NAME");
  if (HasAttribute(tag, u"CHAR")) {
    entity.m_hasChar = true;
    // A CHAR without digits gives the character 0, as a failed number scan leaves it.
    const auto number = ParseTransmlNumber(tag.AttributeOr(u"CHAR"), true);
    entity.m_char = static_cast<char16_t>(number.value_or(0) & 0xFFFF);
    entity.m_needBackward = HasAttribute(tag, u"NEEDBACKWARD");
  } else {
    entity.m_value = tag.AttributeOr(u"VALUE");
  }
  PutEntity(std::move(entity));
}

void CRules::AppendTableEntities(int first, int last) {
  for (int i = first; i < last; ++i) {
    CEntity entity;
    entity.m_name = kRulesTable[i].name;
    entity.m_hasChar = true;
    entity.m_needBackward = true;
    entity.m_char = kRulesTable[i].unit;
    // No check for names already there: the table's entries are appended as they are.
    m_entityIndex.emplace(entity.m_name, m_entities.size());
    m_entityChars.push_back(entity.m_char);
    m_entities.push_back(std::move(entity));
  }
}

void CRules::PutEntity(CEntity entity) {
  const auto found = m_entityIndex.find(entity.m_name);
  if (found != m_entityIndex.end()) {
    m_entityChars[found->second] = entity.m_char;
    m_entities[found->second] = std::move(entity);
    return;
  }
  m_entityIndex.emplace(entity.m_name, m_entities.size());
  m_entityChars.push_back(entity.m_char);
  m_entities.push_back(std::move(entity));
}

}  // namespace tagvert
