// Tagvert: the two direction drivers and the creatable TTX converter.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "frame/converter_base.h"
#include "rules/document_facts.h"

namespace tagvert {

class CElementTable;
class IIfTokenObserver;
class IIfTagGroupObserver;

/// Supplies the TTX to IF driver: reads the whole document into an element list, pairs the
/// tags, runs the classification and structuring stage and writes the list as IF.
class CTTXToIfConverter : public virtual CTTXConverterBase {
 public:
  /// Where the last TTX read ended early: the position just after its last unit (1-based line
  /// and column in units), whether it ends inside a piece of markup and whether its root
  /// (TRADOStag) is left open.
  struct CInputCut {
    std::uint64_t line = 1;
    std::uint64_t column = 1;
    bool insideMarkup = false;
    bool rootOpen = false;
  };

  /// Called once per conversion to IF when the document is read and cut into elements, before
  /// it is classified: gets the document's facts and returns the Direction to classify it with
  /// (nothing: the Direction property's). A host that would otherwise read the document ahead
  /// for them rides on the conversion's own reading.
  using DocumentReadHook = std::function<std::optional<std::int32_t>(const CDocumentFacts&)>;
  /// Called once per conversion to IF, when set, with the document's table once it is classified
  /// and structured, instead of writing it: the conversion then writes nothing. For a host that
  /// wants what the IF would say (its counts, say) without paying for the IF.
  using TableHook = std::function<void(const CElementTable&)>;

  void DoConvertToIF() override;
  /// The cut of the last conversion to IF; nothing when its input ended where a document ends.
  const std::optional<CInputCut>& GetInputCut() const { return m_inputCut; }
  /// Sets the hook of the conversions to IF (empty, the default, for none). With `settled`, the
  /// facts the hook gets are read only until it answers true (see ReadDocumentFacts): for a hook
  /// that needs less than all of them.
  void SetDocumentReadHook(DocumentReadHook hook, FactsSettled settled = {}) {
    m_documentRead = std::move(hook);
    m_factsSettled = std::move(settled);
  }
  /// Sets the table hook of the conversions to IF (empty, the default, for none).
  void SetTableHook(TableHook hook) { m_tableHook = std::move(hook); }

 private:
  std::optional<CInputCut> m_inputCut;
  DocumentReadHook m_documentRead;
  FactsSettled m_factsSettled;
  TableHook m_tableHook;
};

/// Supplies the IF to TTX driver: streams the IF element by element, escapes text runs and
/// writes every element's source text as UTF-8 with a byte-order mark.
class CTTXFromIfConverter : public virtual CTTXConverterBase {
 public:
  void DoConvertFromIF() override;
  /// Hands every token of the IF that the conversions from IF read to `observer` (not owned;
  /// null, the default, for none), with its position in units (see CIFParser::SetObserver):
  /// another reader of the same IF rides on the conversion's reading.
  void SetIfTokenObserver(IIfTokenObserver* observer) { m_ifObserver = observer; }
  /// Hands every tag group and text run of the IF that the conversions from IF read to
  /// `observer` (not owned; null, the default, for none): cheaper than every token, for another
  /// reader that needs no more. Without a token observer only.
  void SetIfTagGroupObserver(IIfTagGroupObserver* observer) { m_groupObserver = observer; }

 private:
  IIfTokenObserver* m_ifObserver = nullptr;
  IIfTagGroupObserver* m_groupObserver = nullptr;
};

/// Format number of TTX in the kernel's list of converters.
inline constexpr std::int32_t kTTXFormatId = 31;

/// The converter a host creates: both directions over one shared frame, the TTX identity, the
/// format test and the one property, Direction.
class CTagvertConverter : public CTTXToIfConverter, public CTTXFromIfConverter {
 public:
  CTagvertConverter();
  ~CTagvertConverter() override;

  bool CheckFormat() override;
  std::u16string GetConverterName() override;
  std::u16string GetCaption(bool toIF) override;
  std::int32_t GetFormatId() override { return kTTXFormatId; }
  std::u16string GetFilterString() override { return u"*.ttx"; }
  std::u16string GetDefaultExtension() override { return u"ttx"; }
  std::u16string GetMIMEContentType() override { return u"text/ttx"; }
  std::int32_t GetTargetId() override { return kTTXFormatId; }
  void PutIntProperty(std::int32_t index, std::int32_t value) override;
  std::int32_t GetIntProperty(std::int32_t index) override;
  std::int32_t GetPropertyCount() override { return 1; }
  std::u16string GetPropertyName(std::int32_t index) override;
  PropertyType GetPropertyType(std::int32_t index) override;
  bool FindProperty(const std::u16string& name, std::int32_t& index, std::int32_t& item) override;
  std::u16string GetPropertyDisplayName(std::int32_t index) override;
};

}  // namespace tagvert
