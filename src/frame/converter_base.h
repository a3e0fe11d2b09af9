// Tagvert: the converter frame shared by both directions (CTTXConverterBase).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "frame/trans_events.h"
#include "frame/variant.h"
#include "rules/transml_rules.h"
#include "storage/byte_stream.h"
#include "storage/data_storage.h"
#include "storage/language_table.h"

namespace tagvert {

/// The kernel's text service: maps a number to a display text. A host supplies a factory that
/// creates a fresh service for each lookup; without one the fallbacks apply.
class IKernelTextService {
 public:
  virtual ~IKernelTextService() = default;
  /// Caption texts (30: to IF, 31: from IF). Sets `text` to nothing when the service has none;
  /// returns a failure code on failure.
  virtual HResult GetActionText(std::int32_t number, std::optional<std::u16string>& text) = 0;
  /// Format names (31: TTX). Same contract as GetActionText.
  virtual HResult GetFormatName(std::int32_t number, std::optional<std::u16string>& text) = 0;
};

/// Creates a kernel text service; on failure returns null and sets `hr` to the failure code.
using KernelTextServiceFactory = std::unique_ptr<IKernelTextService> (*)(HResult& hr);

/// Property types of the general property scheme, with their type codes (the numbers the COM
/// interface's PropertyType answers).
enum class PropertyType : std::int32_t {
  String = 0,
  Text = 1,  ///< a string as well: strings have two codes
  Integer = 2,
  Boolean = 3,
  Interface = 4,
  List = 5,
  Raw = 6,
  None = -1,
};

/// The frame that the host holds: one storage (the frame is the storage), the stop flag, the
/// last progress value, the event listeners and the virtual operations through which the two
/// direction drivers, the identity and the property code plug in. One object runs one
/// conversion or format test at a time on the caller's thread; Stop may come from any thread.
class CTTXConverterBase : public CTransEventsBase, public CDataStorage {
 public:
  CTTXConverterBase();
  ~CTTXConverterBase() override;

  /// Converts a TTX source into IF. Returns kSOk on success and after a stop, otherwise the
  /// failure code (E_INVALIDARG when the source or target cannot be opened, E_OUTOFMEMORY when
  /// an allocation fails, E_FAIL after a storage failure or any other exception that carries no
  /// code). Never throws.
  HResult ConvertToIF(const CEndpoint& source, const CEndpoint& target);
  /// Converts translated IF back into TTX; same contract as ConvertToIF.
  HResult ConvertFromIF(const CEndpoint& source, const CEndpoint& target);
  /// The format test: kSOk for TTX, kENotFormat (0x800401C2) when not, or the storage's code
  /// when the source cannot be read (E_OUTOFMEMORY when an allocation fails). Fires no state or
  /// text event. Never throws.
  HResult IsFormatAvailable(const CEndpoint& source);
  /// Requests the running conversion to stop at its next character read or write; callable
  /// from any thread (and from a signal handler: it only sets an atomic flag and calls OnStop).
  HResult Stop();

  /// Property get by name (string) or index (32-bit integer). Never throws.
  HResult GetProperty(const CVariant& prop, CVariant& result);
  /// Property put by name or index; fires PropertyChange after a successful put. Never throws.
  HResult PutProperty(const CVariant& prop, const CVariant& newVal);

  /// The host's kernel text service, or null for none (the default).
  void SetKernelTextServiceFactory(KernelTextServiceFactory factory) { m_textService = factory; }

  // The frame's virtual operations. Failures inside them throw CHResultError; the entry
  // points turn that into their result.

  /// Whether the open source is a TTX document (the root among its first six items).
  virtual bool CheckFormat() = 0;
  /// The TTX to IF driver, run with the storage open on source and target.
  virtual void DoConvertToIF() = 0;
  /// The IF to TTX driver, run with the storage open on source and target.
  virtual void DoConvertFromIF() = 0;
  /// The converter's display name.
  virtual std::u16string GetConverterName() = 0;
  /// The caption of a conversion to IF (true) or from IF (false); empty in the base.
  virtual std::u16string GetCaption(bool toIF);
  /// The format number in the kernel's list of converters.
  virtual std::int32_t GetFormatId() = 0;
  /// The file filter, such as "*.ttx".
  virtual std::u16string GetFilterString() = 0;
  /// The default file extension without a dot.
  virtual std::u16string GetDefaultExtension() = 0;
  /// The MIME content type of the format.
  virtual std::u16string GetMIMEContentType() = 0;
  /// The target format number.
  virtual std::int32_t GetTargetId() = 0;

  /// Typed property puts by index; the base ignores them (an interface is released).
  virtual void PutStringProperty(std::int32_t index, const std::u16string& value);
  virtual void PutIntProperty(std::int32_t index, std::int32_t value);
  virtual void PutBoolProperty(std::int32_t index, bool value);
  virtual void PutUnknownProperty(std::int32_t index, const std::shared_ptr<void>& value);
  virtual void PutListSelection(std::int32_t index, std::int32_t value);
  virtual void PutArrayProperty(std::int32_t index, std::uint64_t word);
  /// Typed property gets by index; the base gives empty, 0, false, null, -1 (list selection).
  virtual std::u16string GetStringProperty(std::int32_t index);
  virtual std::int32_t GetIntProperty(std::int32_t index);
  virtual bool GetBoolProperty(std::int32_t index);
  virtual std::shared_ptr<void> GetUnknownProperty(std::int32_t index);
  virtual std::int32_t GetListSelection(std::int32_t index);
  virtual std::uint64_t GetArrayProperty(std::int32_t index);
  /// The text of list item `item` (0-based) of a list property.
  virtual std::u16string GetListItem(std::int32_t index, std::int32_t item);
  /// The number of items of a list property.
  virtual std::int32_t GetListCount(std::int32_t index);
  /// The number of properties (0 in the base).
  virtual std::int32_t GetPropertyCount();
  /// The name of property `index`; empty for an index without a property.
  virtual std::u16string GetPropertyName(std::int32_t index);
  /// The type code of property `index` (String ... Raw), or None.
  virtual PropertyType GetPropertyType(std::int32_t index);
  /// Finds a property by name; sets `index` (-1 when not found) and leaves `item` as given.
  virtual bool FindProperty(const std::u16string& name, std::int32_t& index, std::int32_t& item);
  /// The display name of property `index`.
  virtual std::u16string GetPropertyDisplayName(std::int32_t index);
  /// Whether the converter converts from IF / to IF (true in the base).
  virtual bool CanConvertFromIF();
  virtual bool CanConvertToIF();
  /// Called by Stop after the flag is set; the base returns kSOk.
  virtual HResult OnStop();

  /// The Direction property (high 16 bits: the target language's code).
  std::int32_t GetDirection() const { return m_direction.load(); }
  /// How the TTX to IF driver finds the target language's Tuv: Exact (the default, what the
  /// kernel's COM host gets) or Language (the command's and the C++ API's way). Kept across
  /// conversions.
  void SetLanguageMatch(LanguageMatch match) { m_languageMatch = match; }
  LanguageMatch GetLanguageMatch() const { return m_languageMatch; }
  /// The rule set loaded from the built-in TTX rules at construction. A load failure does not
  /// stop the converter: it converts with what was loaded.
  CRules& GetRules() { return m_rules; }

  // Storage hooks: the stop check and progress before every read, the stop check before every
  // write, and the state event for a storage failure code.
  bool GetChar(char16_t& ch) override;
  void PutChar(char16_t ch) override;
  [[noreturn]] void Fail(std::int32_t code) override;

 protected:
  /// Asks the kernel text service; nothing when there is none or it fails.
  std::optional<std::u16string> LookupKernelText(bool formatName, std::int32_t number);
  /// The stop-requested flag, for the passes of a driver that check it once per element.
  const std::atomic<bool>& GetStopFlag() const { return m_stopRequested; }
  /// Whether a stop was requested and not yet cleared by the next conversion.
  bool IsStopRequested() const { return m_stopRequested.load(std::memory_order_relaxed); }

  std::atomic<std::int32_t> m_direction{0};

 private:
  HResult RunConversion(bool toIF, const CEndpoint& source, const CEndpoint& target);
  HResult ReportFailure(HResult code);
  void UpdateProgress();
  void SetProgressCheckAt(std::uint64_t consumed) {
    m_progressCheckAt = consumed;
    SetReadHookAt(consumed);
  }

  std::atomic<bool> m_stopRequested{false};
  std::int32_t m_lastProgress = -1;
  std::uint64_t m_progressCheckAt = 0;  // consumed bytes at which progress is computed again
  CEndpoint m_lastSource;
  CEndpoint m_lastTarget;
  KernelTextServiceFactory m_textService = nullptr;
  CRules m_rules;
  LanguageMatch m_languageMatch = LanguageMatch::Exact;
};

}  // namespace tagvert
