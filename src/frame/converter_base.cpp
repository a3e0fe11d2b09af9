// Tagvert: the converter frame shared by both directions.
// SPDX-License-Identifier: Apache-2.0
#include "frame/converter_base.h"

#include "rules/builtin_rules.h"

namespace tagvert {

CTTXConverterBase::CTTXConverterBase() : CDataStorage(EncodingMode::Single, EncodingMode::Single) {
  // The outcome is not checked: a rule set that failed to load stays as the load left it, and
  // only the classification stage of a TTX to IF conversion reads it.
  if (const ByteStreamPtr rules = GetRulesStreamSource()()) m_rules.LoadStream(rules, false);
  // The storage's bulk reads and writes honour the stop flag and the progress hook of the
  // GetChar and PutChar overrides below.
  SetUnitHooks(&m_stopRequested);
  SetProgressCheckAt(0);
}

CTTXConverterBase::~CTTXConverterBase() = default;

HResult CTTXConverterBase::ConvertToIF(const CEndpoint& source, const CEndpoint& target) {
  return RunConversion(true, source, target);
}

HResult CTTXConverterBase::ConvertFromIF(const CEndpoint& source, const CEndpoint& target) {
  return RunConversion(false, source, target);
}

HResult CTTXConverterBase::RunConversion(bool toIF, const CEndpoint& source,
                                         const CEndpoint& target) {
  HResult result = kSOk;
  try {
    m_stopRequested.store(false);
    // The readers and writers that the driver builds refine these modes.
    SetInputMode(toIF ? EncodingMode::Single : EncodingMode::Utf16);
    SetOutputMode(toIF ? EncodingMode::Utf16 : EncodingMode::Single);
    m_lastSource = source;
    m_lastTarget = target;
    Open(source, target);
    SetProgressCheckAt(0);
    FireStateChange(kStateConverting);
    FireTextChange(GetCaption(toIF));
    if (toIF) {
      DoConvertToIF();
    } else {
      DoConvertFromIF();
    }
    FireStateChange(kStateIdle);
    Flush();
  } catch (...) {
    result = ReportFailure(CurrentExceptionResult());
  }
  Close();
  return result;
}

HResult CTTXConverterBase::ReportFailure(HResult code) {
  // A stopped conversion is a success for the caller; the target keeps what was flushed.
  const bool stopped = code == kEAbort && m_stopRequested.load();
  try {
    // The result is decided: a listener that cannot be reached is skipped rather than
    // replacing it, and the others still learn how the conversion ended.
    FireStateChange(stopped ? kStateStopped : kStateFailed, true);
  } catch (...) {
    // Only an allocation failure inside the delivery gets here; the result stands.
  }
  return stopped ? kSOk : code;
}

HResult CTTXConverterBase::IsFormatAvailable(const CEndpoint& source) {
  HResult result;
  try {
    SetInputMode(EncodingMode::Single);
    SetOutputMode(EncodingMode::None);
    Open(source, CEndpoint());
    SetProgressCheckAt(0);
    DetectBOM();
    result = CheckFormat() ? kSOk : kENotFormat;
  } catch (...) {
    result = CurrentExceptionResult();
  }
  Close();
  return result;
}

HResult CTTXConverterBase::Stop() {
  m_stopRequested.store(true);
  return OnStop();
}

bool CTTXConverterBase::GetChar(char16_t& ch) {
  if (m_stopRequested.load(std::memory_order_relaxed)) ThrowHResult(kEAbort);
  // The percentage is a step function of the bytes consumed: it is computed again only once
  // enough bytes have been consumed for it to change, which gives the same events as computing
  // it before every character.
  if (GetInputConsumed() >= m_progressCheckAt) UpdateProgress();
  return CDataStorage::GetChar(ch);
}

void CTTXConverterBase::UpdateProgress() {
  const std::int32_t progress = GetProgress();
  const std::uint64_t size = GetInputSize();
  // A lower bound of the byte count at which the percentage can next change (with an empty or
  // unsized input it stays at 100).
  if (size == 0 || progress < 0) {
    SetProgressCheckAt(UINT64_MAX);
  } else {
    // (progress + 1) * size / 100, split as size = 100q + r so that no product needs more than
    // 64 bits (32-bit targets have no 128-bit integer).
    const std::uint64_t factor = static_cast<std::uint64_t>(progress) + 1;
    const std::uint64_t q = size / 100;
    const std::uint64_t r = size % 100;
    // Guard: size overflow
    if (q > (UINT64_MAX - 100) / factor) {
      SetProgressCheckAt(UINT64_MAX);
    } else {
      SetProgressCheckAt(q * factor + r * factor / 100);
    }
  }
  if (progress != m_lastProgress && progress % 10 == 0) {
    FireProgressChange(progress, 100);
    m_lastProgress = progress;
  }
}

void CTTXConverterBase::PutChar(char16_t ch) {
  if (m_stopRequested.load(std::memory_order_relaxed)) ThrowHResult(kEAbort);
  CDataStorage::PutChar(ch);
}

void CTTXConverterBase::Fail(std::int32_t code) {
  FireStateChange(code);
  ThrowHResult(kEFail);
}

std::optional<std::u16string> CTTXConverterBase::LookupKernelText(bool formatName,
                                                                  std::int32_t number) {
  if (m_textService == nullptr) return std::nullopt;
  try {
    HResult hr = kSOk;
    std::unique_ptr<IKernelTextService> service = m_textService(hr);
    if (!service) return std::nullopt;
    std::optional<std::u16string> text;
    hr = formatName ? service->GetFormatName(number, text) : service->GetActionText(number, text);
    if (Failed(hr)) return std::nullopt;
    return text;
  } catch (...) {
    return std::nullopt;
  }
}

std::u16string CTTXConverterBase::GetCaption(bool /*toIF*/) {
  return {};
}

// The general property scheme. The base converter has no properties: puts are ignored, gets
// give empty values.
void CTTXConverterBase::PutStringProperty(std::int32_t, const std::u16string&) {}
void CTTXConverterBase::PutIntProperty(std::int32_t, std::int32_t) {}
void CTTXConverterBase::PutBoolProperty(std::int32_t, bool) {}
void CTTXConverterBase::PutUnknownProperty(std::int32_t, const std::shared_ptr<void>&) {}
void CTTXConverterBase::PutListSelection(std::int32_t, std::int32_t) {}
void CTTXConverterBase::PutArrayProperty(std::int32_t, std::uint64_t) {}
std::u16string CTTXConverterBase::GetStringProperty(std::int32_t) {
  return {};
}
std::int32_t CTTXConverterBase::GetIntProperty(std::int32_t) {
  return 0;
}
bool CTTXConverterBase::GetBoolProperty(std::int32_t) {
  return false;
}
std::shared_ptr<void> CTTXConverterBase::GetUnknownProperty(std::int32_t) {
  return nullptr;
}
std::int32_t CTTXConverterBase::GetListSelection(std::int32_t) {
  return -1;
}
std::uint64_t CTTXConverterBase::GetArrayProperty(std::int32_t) {
  return 0;
}
std::u16string CTTXConverterBase::GetListItem(std::int32_t, std::int32_t) {
  return {};
}
std::int32_t CTTXConverterBase::GetListCount(std::int32_t) {
  return 0;
}
std::int32_t CTTXConverterBase::GetPropertyCount() {
  return 0;
}
std::u16string CTTXConverterBase::GetPropertyName(std::int32_t) {
  return {};
}
PropertyType CTTXConverterBase::GetPropertyType(std::int32_t) {
  return PropertyType::None;
}
bool CTTXConverterBase::FindProperty(const std::u16string&, std::int32_t&, std::int32_t&) {
  return false;
}
std::u16string CTTXConverterBase::GetPropertyDisplayName(std::int32_t) {
  return {};
}
bool CTTXConverterBase::CanConvertFromIF() {
  return true;
}
bool CTTXConverterBase::CanConvertToIF() {
  return true;
}
HResult CTTXConverterBase::OnStop() {
  return kSOk;
}

HResult CTTXConverterBase::GetProperty(const CVariant& prop, CVariant& result) {
  try {
    std::int32_t index = -1;
    std::int32_t item = -1;
    switch (prop.GetType()) {
      case CVariant::Type::String:
        if (prop.IsNullString()) return kEInvalidArg;
        if (!FindProperty(prop.GetString(), index, item)) return kEInvalidArg;
        break;
      case CVariant::Type::Int32:
        index = prop.GetInt();
        break;
      default:
        return kEInvalidArg;
    }
    if (index < 0) return kEInvalidArg;
    switch (GetPropertyType(index)) {
      case PropertyType::String:
      case PropertyType::Text:
        result = CVariant::String(GetStringProperty(index));
        break;
      case PropertyType::Integer:
        result = CVariant::Int32(GetIntProperty(index));
        break;
      case PropertyType::Boolean:
        result = CVariant::Int16(GetBoolProperty(index) ? 1 : 0);
        break;
      case PropertyType::Interface:
        result = CVariant::Interface(GetUnknownProperty(index));
        break;
      case PropertyType::List:
        if (item == 0) {
          result = CVariant::Int32(GetListCount(index));
        } else if (item < 0) {
          result = CVariant::Int32(GetListSelection(index));
        } else {
          result = CVariant::String(GetListItem(index, item - 1));
        }
        break;
      case PropertyType::Raw:
        result = CVariant::Array(GetArrayProperty(index));
        break;
      default:
        return kEInvalidArg;
    }
    return kSOk;
  } catch (...) {
    return CurrentExceptionResult();
  }
}

HResult CTTXConverterBase::PutProperty(const CVariant& prop, const CVariant& newVal) {
  try {
    std::int32_t index = -1;
    std::int32_t item = -1;
    if (prop.GetType() == CVariant::Type::String && !prop.IsNullString()) {
      if (!FindProperty(prop.GetString(), index, item)) return kEInvalidArg;
    } else {
      const HResult hr = prop.ToInt32(index);
      if (Failed(hr)) return hr;
    }
    if (index < 0) return kEInvalidArg;
    if (GetPropertyType(index) == PropertyType::List) {
      std::int32_t value = 0;
      const HResult hr = newVal.ToInt32(value);
      if (Failed(hr)) return hr;
      PutListSelection(index, value);
    } else {
      switch (newVal.GetType()) {
        case CVariant::Type::String:
          PutStringProperty(index, newVal.GetString());
          break;
        case CVariant::Type::Int16:
        case CVariant::Type::Int32:
          PutIntProperty(index, newVal.GetInt());
          break;
        case CVariant::Type::Bool:
          PutBoolProperty(index, newVal.GetInt() == -1);
          break;
        case CVariant::Type::Interface:
          PutUnknownProperty(index, newVal.GetInterface());
          break;
        case CVariant::Type::Array:
          PutArrayProperty(index, newVal.GetWord());
          break;
        default:
          return kEInvalidArg;
      }
    }
    FirePropertyChange(prop, newVal);
    return kSOk;
  } catch (...) {
    return CurrentExceptionResult();
  }
}

}  // namespace tagvert
