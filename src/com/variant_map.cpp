// Tagvert: between the platform's VARIANTs and BSTRs and the frame's values.
// SPDX-License-Identifier: Apache-2.0
#include "com/variant_map.h"

#include <cstdint>

#include "com/stream_adapter.h"
#include "storage/hresult.h"

namespace tagvert::com {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "OLECHAR is a UTF-16 unit");

std::u16string StringFromBstr(BSTR text) {
  if (text == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text), ::SysStringLen(text));
}

BSTR BstrFromString(const std::u16string& text) {
  BSTR out = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                 static_cast<UINT>(text.size()));
  if (out == nullptr) ThrowHResult(E_OUTOFMEMORY);
  return out;
}

CEndpoint EndpointFromVariant(const VARIANT& value) {
  switch (V_VT(&value)) {
    case VT_BSTR:
      return CEndpoint::File(StringFromBstr(V_BSTR(&value)));
    case VT_UNKNOWN:
      return CComByteStream::EndpointFor(V_UNKNOWN(&value));
    default:
      return CEndpoint::Other();
  }
}

namespace {

// Keeps an IUnknown alive for as long as a frame value holds it.
std::shared_ptr<void> HoldInterface(IUnknown* object) {
  if (object == nullptr) return nullptr;
  object->AddRef();
  return std::shared_ptr<void>(object, [](void* p) { static_cast<IUnknown*>(p)->Release(); });
}

// The array type code 27: a raw word, not a type the platform's VARIANT functions accept.
bool IsRawArray(const VARIANT& value) {
  return V_VT(&value) == VT_SAFEARRAY;
}

}  // namespace

void CopyEventVariant(const VARIANT& value, VARIANT* out) {
  ::VariantInit(out);
  if (IsRawArray(value)) {
    // The platform copies no VT_SAFEARRAY (it is not a type a VARIANT may hold): the word
    // travels as the caller gave it, borrowed for the call.
    *out = value;
    return;
  }
  const HRESULT hr = ::VariantCopy(out, const_cast<VARIANT*>(&value));
  if (FAILED(hr)) ThrowHResult(hr);
}

void ClearEventVariant(VARIANT* value) {
  if (IsRawArray(*value)) {
    ::VariantInit(value);
    return;
  }
  ::VariantClear(value);
}

void AttachNativeVariant(CVariant& target, const VARIANT& value) {
  auto copy = std::make_unique<VARIANT>();
  CopyEventVariant(value, copy.get());
  target.SetNative(std::shared_ptr<const VARIANT>(copy.release(), [](const VARIANT* v) {
    ClearEventVariant(const_cast<VARIANT*>(v));
    delete v;
  }));
}

CVariant PropertyValueFromVariant(const VARIANT& value) {
  CVariant out;
  switch (V_VT(&value)) {
    case VT_BSTR:
      out = V_BSTR(&value) == nullptr ? CVariant::NullString()
                                      : CVariant::String(StringFromBstr(V_BSTR(&value)));
      break;
    case VT_I2:
      out = CVariant::Int16(V_I2(&value));
      break;
    case VT_I4:
      out = CVariant::Int32(V_I4(&value));
      break;
    case VT_BOOL:
      out = CVariant::Bool(V_BOOL(&value) == VARIANT_TRUE);
      break;
    case VT_UNKNOWN:
      out = CVariant::Interface(HoldInterface(V_UNKNOWN(&value)));
      break;
    case VT_SAFEARRAY:
      out = CVariant::Array(reinterpret_cast<std::uintptr_t>(V_ARRAY(&value)));
      break;
    default:
      // Refused before anything is fired: no copy is made, so a value the platform cannot
      // copy (a record without its type, a type no VARIANT may hold) is refused all the same.
      return CVariant::Other();
  }
  AttachNativeVariant(out, value);
  return out;
}

void VariantFromValue(const CVariant& value, VARIANT* out) {
  ::VariantInit(out);
  switch (value.GetType()) {
    case CVariant::Type::String:
      V_BSTR(out) = value.IsNullString() ? nullptr : BstrFromString(value.GetString());
      V_VT(out) = VT_BSTR;
      break;
    case CVariant::Type::Int16:
      V_VT(out) = VT_I2;
      V_I2(out) = static_cast<SHORT>(value.GetInt());
      break;
    case CVariant::Type::Int32:
      V_VT(out) = VT_I4;
      V_I4(out) = value.GetInt();
      break;
    case CVariant::Type::Bool:
      V_VT(out) = VT_BOOL;
      V_BOOL(out) = value.GetBool() ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case CVariant::Type::Interface: {
      auto* object = static_cast<IUnknown*>(value.GetInterface().get());
      if (object != nullptr) object->AddRef();
      V_VT(out) = VT_UNKNOWN;
      V_UNKNOWN(out) = object;
      break;
    }
    case CVariant::Type::Array:
      // The raw kind: the word travels in the value of an otherwise empty VARIANT.
      V_VT(out) = VT_EMPTY;
      out->llVal = static_cast<LONGLONG>(value.GetWord());
      break;
    case CVariant::Type::Empty:
    case CVariant::Type::Other:
      break;
  }
}

void VariantFromEventValue(const CVariant& value, VARIANT* out) {
  const auto* native = static_cast<const VARIANT*>(value.GetNative().get());
  if (native == nullptr) {
    VariantFromValue(value, out);
    return;
  }
  CopyEventVariant(*native, out);
}

}  // namespace tagvert::com
