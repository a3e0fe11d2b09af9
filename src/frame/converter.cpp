// Tagvert: the public converter, a thin owner of the frame's creatable converter.
// SPDX-License-Identifier: Apache-2.0
#include "tagvert/converter.h"

#include "frame/ttx_converter.h"

namespace tagvert {

CConverter::CConverter() : m_converter(std::make_unique<CTagvertConverter>()) {
  m_converter->SetLanguageMatch(LanguageMatch::Language);
  m_converter->SetReadUtf16WithoutMark(true);
}

void CConverter::SetExactLanguageMatch(bool exact) {
  m_converter->SetLanguageMatch(exact ? LanguageMatch::Exact : LanguageMatch::Language);
}

CConverter::~CConverter() = default;

HResult CConverter::ConvertToIF(const CEndpoint& source, const CEndpoint& target) {
  return m_converter->ConvertToIF(source, target);
}

HResult CConverter::ConvertFromIF(const CEndpoint& source, const CEndpoint& target) {
  return m_converter->ConvertFromIF(source, target);
}

HResult CConverter::IsFormatAvailable(const CEndpoint& source) {
  return m_converter->IsFormatAvailable(source);
}

HResult CConverter::Stop() {
  return m_converter->Stop();
}

HResult CConverter::GetProperty(const CVariant& prop, CVariant& result) {
  return m_converter->GetProperty(prop, result);
}

HResult CConverter::PutProperty(const CVariant& prop, const CVariant& newVal) {
  return m_converter->PutProperty(prop, newVal);
}

HResult CConverter::Advise(TransEventsListenerPtr listener, std::uint32_t& cookie) {
  return m_converter->Advise(std::move(listener), cookie);
}

HResult CConverter::Unadvise(std::uint32_t cookie) {
  return m_converter->Unadvise(cookie);
}

std::int32_t CConverter::State() const {
  return m_converter->State();
}

std::u16string CConverter::GetConverterName() {
  return m_converter->GetConverterName();
}

std::u16string CConverter::GetDefaultExtension() {
  return m_converter->GetDefaultExtension();
}

std::u16string CConverter::GetFilterString() {
  return m_converter->GetFilterString();
}

std::u16string CConverter::GetMIMEContentType() {
  return m_converter->GetMIMEContentType();
}

std::int32_t CConverter::GetFormatId() {
  return m_converter->GetFormatId();
}

}  // namespace tagvert
