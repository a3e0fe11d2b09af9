// Tagvert: one item of a markup document (IElementX, CElementX) and its attributes (CAttributeX).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "markup/element_kinds.h"

namespace tagvert {

/// Attribute added with an empty value to special markup and to tags broken off by a `<`.
inline constexpr char16_t kBrokenTagMarker[] = u"uN604P";

/// One attribute of a markup element, owned by value by its element.
class CAttributeX {
 public:
  CAttributeX() = default;
  CAttributeX(std::u16string name, std::u16string value, int kind)
      : m_name(std::move(name)), m_value(std::move(value)), m_kind(kind) {}
  CAttributeX(const CAttributeX&) = default;
  CAttributeX& operator=(const CAttributeX&) = default;
  CAttributeX(CAttributeX&&) noexcept = default;
  CAttributeX& operator=(CAttributeX&&) noexcept = default;
  virtual ~CAttributeX() = default;

  std::u16string m_name;   ///< name as written
  std::u16string m_value;  ///< value as written, without quotes; references not decoded
  bool m_noValue = false;  ///< the attribute had no `=`
  int m_kind = 2;          ///< stored and copied, never interpreted (1 for "formatX")
};

/// One text run or one piece of markup, keeping its exact source text.
class IElementX {
 public:
  virtual ~IElementX() = default;
  /// Index of the first attribute whose name equals `name` exactly, or -1.
  virtual int FindAttribute(const std::u16string& name) const = 0;
  /// Value of the attribute at `index` (an index out of range gives an empty string).
  virtual const std::u16string& GetAttributeValueAt(int index) const = 0;
  /// Appends an attribute; returns its index.
  virtual int AddAttribute(const std::u16string& name, const std::u16string& value, int kind) = 0;
  /// The attribute vector itself.
  virtual std::vector<CAttributeX>& GetAttributes() = 0;
  virtual void SetTransMethod(const std::u16string& s) = 0;
  virtual const std::u16string& GetTransMethod() const = 0;
  virtual void AppendPropertyCode(char16_t c) = 0;
  virtual const std::u16string& GetPropertyCodes() const = 0;
  virtual void SetFlagged(bool b) = 0;
  virtual void SetName(const std::u16string& s) = 0;
  virtual void SetUpperName(const std::u16string& s) = 0;
  virtual void SetSourceText(const std::u16string& s) = 0;
  virtual void SetPairId(int v) = 0;
  virtual void SetTagType(TagType v) = 0;
  virtual void SetRuleType(RuleType v) = 0;
  virtual void SetIsTag(bool v) = 0;
  virtual void SetWhitespace(Whitespace v) = 0;
  virtual void SetTransliterate(bool b) = 0;
  virtual void SetSemantic(int v) = 0;
  virtual void SetAlgorithm(Algorithm v) = 0;
  virtual bool GetFlagged() const = 0;
  virtual std::u16string GetName() const = 0;
  virtual std::u16string& GetNameRef() = 0;
  virtual std::u16string GetUpperName() const = 0;
  virtual std::u16string& GetUpperNameRef() = 0;
  virtual std::u16string GetSourceText() const = 0;
  virtual std::u16string& GetSourceTextRef() = 0;
  virtual int GetPairId() const = 0;
  virtual TagType GetTagType() const = 0;
  virtual RuleType GetRuleType() const = 0;
  virtual bool GetIsTag() const = 0;
  virtual Whitespace GetWhitespace() const = 0;
  virtual bool GetTransliterate() const = 0;
  virtual int GetSemantic() const = 0;
  virtual Algorithm GetAlgorithm() const = 0;
  /// Back to the initial state; PropertyCodes and TransMethod are kept.
  virtual void Reset() = 0;
};

/// The one implementation of IElementX.
class CElementX : public IElementX {
 public:
  CElementX() = default;
  ~CElementX() override = default;
  /// Elements are served by the thread's CElementPool while one lives (element_pool.h).
  static void* operator new(std::size_t size);
  static void operator delete(void* p, std::size_t size);

  int FindAttribute(const std::u16string& name) const override;
  const std::u16string& GetAttributeValueAt(int index) const override;
  int AddAttribute(const std::u16string& name, const std::u16string& value, int kind) override;
  std::vector<CAttributeX>& GetAttributes() override { return m_attributes; }
  void SetTransMethod(const std::u16string& s) override;
  const std::u16string& GetTransMethod() const override;
  void AppendPropertyCode(char16_t c) override;
  const std::u16string& GetPropertyCodes() const override;
  void SetFlagged(bool b) override { m_flagged = b; }
  void SetName(const std::u16string& s) override { m_name = s; }
  void SetUpperName(const std::u16string& s) override { m_upperName = s; }
  void SetSourceText(const std::u16string& s) override { m_sourceText = s; }
  void SetPairId(int v) override { m_pairId = v; }
  void SetTagType(TagType v) override { m_tagType = v; }
  void SetRuleType(RuleType v) override { m_ruleType = v; }
  void SetIsTag(bool v) override { m_isTag = v; }
  void SetWhitespace(Whitespace v) override { m_whitespace = v; }
  void SetTransliterate(bool b) override { m_transliterate = b; }
  void SetSemantic(int v) override { m_semantic = v; }
  void SetAlgorithm(Algorithm v) override { m_algorithm = v; }
  bool GetFlagged() const override { return m_flagged; }
  std::u16string GetName() const override { return m_name; }
  std::u16string& GetNameRef() override { return m_name; }
  std::u16string GetUpperName() const override { return m_upperName; }
  std::u16string& GetUpperNameRef() override { return m_upperName; }
  std::u16string GetSourceText() const override { return m_sourceText; }
  std::u16string& GetSourceTextRef() override { return m_sourceText; }
  int GetPairId() const override { return m_pairId; }
  TagType GetTagType() const override { return m_tagType; }
  RuleType GetRuleType() const override { return m_ruleType; }
  bool GetIsTag() const override { return m_isTag; }
  Whitespace GetWhitespace() const override { return m_whitespace; }
  bool GetTransliterate() const override { return m_transliterate; }
  int GetSemantic() const override { return m_semantic; }
  Algorithm GetAlgorithm() const override { return m_algorithm; }
  void Reset() override;

 private:
  std::u16string m_name;
  std::u16string m_upperName;
  std::u16string m_sourceText;
  int m_pairId = 0;
  TagType m_tagType = TagType::Single;
  RuleType m_ruleType = RuleType::Inline;
  bool m_isTag = false;
  Whitespace m_whitespace = Whitespace::Preserve;
  Algorithm m_algorithm = Algorithm::Translate;
  bool m_transliterate = false;
  int m_semantic = -1;
  std::vector<CAttributeX> m_attributes;
  // Property codes and the translation method are set on few elements; keeping them apart
  // makes every other element 56 bytes smaller.
  struct CExtras {
    std::u16string propertyCodes;
    std::u16string transMethod;
  };
  // Owns the extras and copies them with the element.
  class CExtrasHolder {
   public:
    CExtrasHolder() = default;
    CExtrasHolder(const CExtrasHolder& other)
        : m_ptr(other.m_ptr ? std::make_unique<CExtras>(*other.m_ptr) : nullptr) {}
    CExtrasHolder& operator=(const CExtrasHolder& other) {
      if (this != &other) m_ptr = other.m_ptr ? std::make_unique<CExtras>(*other.m_ptr) : nullptr;
      return *this;
    }
    CExtrasHolder(CExtrasHolder&&) noexcept = default;
    CExtrasHolder& operator=(CExtrasHolder&&) noexcept = default;
    explicit operator bool() const { return m_ptr != nullptr; }
    CExtras* operator->() const { return m_ptr.get(); }
    CExtras& Get() {
      if (!m_ptr) m_ptr = std::make_unique<CExtras>();
      return *m_ptr;
    }

   private:
    std::unique_ptr<CExtras> m_ptr;
  };
  CExtras& Extras() { return m_extras.Get(); }
  CExtrasHolder m_extras;
  bool m_flagged = false;
};

}  // namespace tagvert
