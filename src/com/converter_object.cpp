// Tagvert: the COM converter object over the frame.
// SPDX-License-Identifier: Apache-2.0
#include "com/converter_object.h"

#include <olectl.h>

#include <new>
#include <utility>

#include "com/dispatch.h"
#include "com/kernel_text_service.h"
#include "com/module.h"
#include "com/variant_map.h"

namespace tagvert::com {
namespace {

// Clears a VARIANT when it goes out of scope.
class CVariantHolder {
 public:
  CVariantHolder() { ::VariantInit(&m_value); }
  ~CVariantHolder() { ::VariantClear(&m_value); }
  CVariantHolder(const CVariantHolder&) = delete;
  CVariantHolder& operator=(const CVariantHolder&) = delete;
  VARIANT* Ptr() { return &m_value; }
  VARIANT& Get() { return m_value; }

 private:
  VARIANT m_value;
};

HRESULT ReturnString(const std::u16string& text, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  *out = BstrFromString(text);
  return S_OK;
}

}  // namespace

HRESULT CConverterObject::Create(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  CConverterObject* created = nullptr;
  try {
    created = new CConverterObject(outer);
  } catch (...) {
    return HResultFromCurrentException();
  }
  // The creation reference keeps the object alive through FinalConstruct and the query.
  created->InnerAddRef();
  HRESULT hr = created->FinalConstruct();
  if (SUCCEEDED(hr)) hr = created->InnerQueryInterface(riid, object);
  created->InnerRelease();
  return hr;
}

CConverterObject::CConverterObject(IUnknown* outer)
    : m_controlling(outer != nullptr ? outer : &m_inner),
      m_connectionPoint(m_controlling, this, m_converter) {
  // Name and captions come from the kernel's text service when one is installed.
  m_converter.SetKernelTextServiceFactory(&CreateKernelTextService);
}

CConverterObject::~CConverterObject() {
  if (m_marshaler != nullptr) m_marshaler->Release();
}

HRESULT CConverterObject::FinalConstruct() {
  return ::CoCreateFreeThreadedMarshaler(m_controlling, &m_marshaler);
}

HRESULT CConverterObject::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  IUnknown* face = nullptr;
  if (IsEqualIID(riid, IID_IUnknown)) {
    face = &m_inner;
  } else if (IsEqualIID(riid, IID_IOrvIFConverterEx4) || IsEqualIID(riid, IID_IOrvIFConverterEx3) ||
             IsEqualIID(riid, IID_IOrvIFConverterEx2) || IsEqualIID(riid, IID_IOrvIFConverterEx) ||
             IsEqualIID(riid, IID_IOrvTransBase) || IsEqualIID(riid, IID_IDispatch)) {
    face = static_cast<IOrvIFConverterEx4*>(this);
  } else if (IsEqualIID(riid, IID_IOrvIFConverter)) {
    face = &m_legacy;
  } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
    face = static_cast<IConnectionPointContainer*>(this);
  } else if (IsEqualIID(riid, IID_IMarshal) && m_marshaler != nullptr) {
    return m_marshaler->QueryInterface(riid, object);
  } else {
    return E_NOINTERFACE;
  }
  face->AddRef();
  *object = face;
  return S_OK;
}

ULONG CConverterObject::InnerAddRef() {
  return ++m_refs;
}

ULONG CConverterObject::InnerRelease() {
  const ULONG refs = --m_refs;
  if (refs == 0) delete this;
  return refs;
}

STDMETHODIMP CConverterObject::CInnerUnknown::QueryInterface(REFIID riid, void** object) {
  return m_owner.InnerQueryInterface(riid, object);
}

STDMETHODIMP_(ULONG) CConverterObject::CInnerUnknown::AddRef() {
  return m_owner.InnerAddRef();
}

STDMETHODIMP_(ULONG) CConverterObject::CInnerUnknown::Release() {
  return m_owner.InnerRelease();
}

STDMETHODIMP CConverterObject::QueryInterface(REFIID riid, void** object) {
  return m_controlling->QueryInterface(riid, object);
}

STDMETHODIMP_(ULONG) CConverterObject::AddRef() {
  return m_controlling->AddRef();
}

STDMETHODIMP_(ULONG) CConverterObject::Release() {
  return m_controlling->Release();
}

// IDispatch of the IOrvIFConverterEx4 face.

STDMETHODIMP CConverterObject::GetTypeInfoCount(UINT* count) {
  return DispatchGetTypeInfoCount(count);
}

STDMETHODIMP CConverterObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  return DispatchGetTypeInfo(IID_IOrvIFConverterEx4, index, info);
}

STDMETHODIMP CConverterObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                             DISPID* ids) {
  return DispatchGetIDsOfNames(IID_IOrvIFConverterEx4, riid, names, count, ids);
}

STDMETHODIMP CConverterObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                      VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  return DispatchInvoke(IID_IOrvIFConverterEx4, static_cast<IOrvIFConverterEx4*>(this), id, riid,
                        flags, params, result, exception, argError);
}

// IOrvTransBase.

STDMETHODIMP CConverterObject::get_Property(VARIANT prop, VARIANT* value) {
  if (value == nullptr) return E_POINTER;
  ::VariantInit(value);
  return HResultOf([&]() -> HRESULT {
    CVariant result;
    const HRESULT hr = m_converter.GetProperty(PropertyValueFromVariant(prop), result);
    if (FAILED(hr)) return hr;
    VariantFromValue(result, value);
    return S_OK;
  });
}

STDMETHODIMP CConverterObject::put_Property(VARIANT prop, VARIANT newVal) {
  return HResultOf([&]() -> HRESULT {
    // A name is a non-null BSTR; anything else is an index, converted by the platform.
    CVariant name;
    std::int32_t index = -1;
    std::int32_t item = -1;
    bool resolved = true;
    if (V_VT(&prop) == VT_BSTR && V_BSTR(&prop) != nullptr) {
      name = CVariant::String(StringFromBstr(V_BSTR(&prop)));
      resolved = m_converter.FindProperty(name.GetString(), index, item);
    } else {
      CVariantHolder converted;
      const HRESULT hr = ::VariantChangeType(converted.Ptr(), &prop, 0, VT_I4);
      if (FAILED(hr)) return hr;
      index = V_I4(converted.Ptr());
      name = CVariant::Int32(index);
    }
    AttachNativeVariant(name, prop);

    CVariant value;
    if (resolved && index >= 0 && m_converter.GetPropertyType(index) == PropertyType::List) {
      // A list takes its selection as an integer, converted by the platform.
      CVariantHolder converted;
      const HRESULT hr = ::VariantChangeType(converted.Ptr(), &newVal, 0, VT_I4);
      if (FAILED(hr)) return hr;
      value = CVariant::Int32(V_I4(converted.Ptr()));
      AttachNativeVariant(value, newVal);
    } else {
      value = PropertyValueFromVariant(newVal);
    }
    return m_converter.PutProperty(name, value);
  });
}

STDMETHODIMP CConverterObject::get_State(LONG* state) {
  if (state == nullptr) return E_POINTER;
  *state = m_converter.State();
  return S_OK;
}

STDMETHODIMP CConverterObject::Stop() {
  return m_converter.Stop();
}

STDMETHODIMP CConverterObject::get_PropertyCount(LONG* count) {
  if (count == nullptr) return E_POINTER;
  return HResultOf([&] {
    *count = m_converter.GetPropertyCount();
    return S_OK;
  });
}

STDMETHODIMP CConverterObject::get_PropertyName(LONG index, BSTR* name) {
  return HResultOf([&] { return ReturnString(m_converter.GetPropertyName(index), name); });
}

STDMETHODIMP CConverterObject::get_PropertyType(LONG index, LONG* type) {
  if (type == nullptr) return E_POINTER;
  return HResultOf([&] {
    *type = static_cast<LONG>(m_converter.GetPropertyType(index));
    return S_OK;
  });
}

STDMETHODIMP CConverterObject::get_PropertyDisplayName(LONG index, BSTR* name) {
  return HResultOf([&] { return ReturnString(m_converter.GetPropertyDisplayName(index), name); });
}

// IOrvIFConverterEx and its extensions.

STDMETHODIMP CConverterObject::get_Name(BSTR* name) {
  return HResultOf([&] { return ReturnString(m_converter.GetConverterName(), name); });
}

STDMETHODIMP CConverterObject::get_DefaultExtension(BSTR* extension) {
  return HResultOf([&] { return ReturnString(m_converter.GetDefaultExtension(), extension); });
}

STDMETHODIMP CConverterObject::get_FilterString(BSTR* filter) {
  return HResultOf([&] { return ReturnString(m_converter.GetFilterString(), filter); });
}

STDMETHODIMP CConverterObject::get_Id(LONG* id) {
  if (id == nullptr) return E_POINTER;
  *id = m_converter.GetFormatId();
  return S_OK;
}

STDMETHODIMP CConverterObject::IsFormatAvailable(VARIANT source) {
  return HResultOf([&]() -> HRESULT {
    // Not dereferenced: a by-reference source is refused by the storage (E_INVALIDARG).
    return m_converter.IsFormatAvailable(EndpointFromVariant(source));
  });
}

HRESULT CConverterObject::Convert(bool toIF, const VARIANT& source, const VARIANT& target) {
  // Dereferenced copies; a copy that fails leaves an empty value, which the storage refuses.
  CVariantHolder src;
  CVariantHolder tgt;
  ::VariantCopyInd(src.Ptr(), const_cast<VARIANT*>(&source));
  ::VariantCopyInd(tgt.Ptr(), const_cast<VARIANT*>(&target));
  return HResultOf([&]() -> HRESULT {
    const CEndpoint in = EndpointFromVariant(src.Get());
    const CEndpoint out = EndpointFromVariant(tgt.Get());
    return toIF ? m_converter.ConvertToIF(in, out) : m_converter.ConvertFromIF(in, out);
  });
}

STDMETHODIMP CConverterObject::ConvertToIF(VARIANT source, VARIANT target, VARIANT) {
  return Convert(true, source, target);
}

STDMETHODIMP CConverterObject::ConvertFromIF(VARIANT source, VARIANT target, VARIANT) {
  return Convert(false, source, target);
}

STDMETHODIMP CConverterObject::get_IsConvertToIFAvailable(LONG* available) {
  if (available == nullptr) return E_POINTER;
  *available = m_converter.CanConvertToIF() ? 1 : 0;
  return S_OK;
}

STDMETHODIMP CConverterObject::get_IsConvertFromIFAvailable(LONG* available) {
  if (available == nullptr) return E_POINTER;
  *available = m_converter.CanConvertFromIF() ? 1 : 0;
  return S_OK;
}

STDMETHODIMP CConverterObject::get_MIMEContentType(BSTR* type) {
  return HResultOf([&] { return ReturnString(m_converter.GetMIMEContentType(), type); });
}

STDMETHODIMP CConverterObject::get_TargetId(LONG* id) {
  if (id == nullptr) return E_POINTER;
  *id = m_converter.GetTargetId();
  return S_OK;
}

// IConnectionPointContainer.

STDMETHODIMP CConverterObject::EnumConnectionPoints(IEnumConnectionPoints** points) {
  IConnectionPoint* const point = &m_connectionPoint;
  return CreateConnectionPointEnumerator(&point, 1, points);
}

STDMETHODIMP CConverterObject::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  if (!IsEqualIID(riid, DIID_IOrvTransEvents)) return CONNECT_E_NOCONNECTION;
  m_connectionPoint.AddRef();
  *point = &m_connectionPoint;
  return S_OK;
}

// The IOrvIFConverter face.

STDMETHODIMP CConverterObject::CLegacyFace::QueryInterface(REFIID riid, void** object) {
  return m_owner.QueryInterface(riid, object);
}

STDMETHODIMP_(ULONG) CConverterObject::CLegacyFace::AddRef() {
  return m_owner.AddRef();
}

STDMETHODIMP_(ULONG) CConverterObject::CLegacyFace::Release() {
  return m_owner.Release();
}

STDMETHODIMP CConverterObject::CLegacyFace::GetTypeInfoCount(UINT* count) {
  return DispatchGetTypeInfoCount(count);
}

STDMETHODIMP CConverterObject::CLegacyFace::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  return DispatchGetTypeInfo(IID_IOrvIFConverter, index, info);
}

STDMETHODIMP CConverterObject::CLegacyFace::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                          LCID, DISPID* ids) {
  return DispatchGetIDsOfNames(IID_IOrvIFConverter, riid, names, count, ids);
}

STDMETHODIMP CConverterObject::CLegacyFace::Invoke(DISPID id, REFIID riid, LCID, WORD flags,
                                                   DISPPARAMS* params, VARIANT* result,
                                                   EXCEPINFO* exception, UINT* argError) {
  return DispatchInvoke(IID_IOrvIFConverter, static_cast<IOrvIFConverter*>(this), id, riid, flags,
                        params, result, exception, argError);
}

STDMETHODIMP CConverterObject::CLegacyFace::get_SrcFormatId(SHORT* id) {
  if (id == nullptr) return E_POINTER;
  *id = static_cast<SHORT>(m_owner.m_converter.GetFormatId());
  return S_OK;
}

STDMETHODIMP CConverterObject::CLegacyFace::IsFormatAvailableFile(BSTR fileName) {
  CVariantHolder source;
  if (fileName != nullptr) {
    V_BSTR(source.Ptr()) = ::SysAllocStringLen(fileName, ::SysStringLen(fileName));
    if (V_BSTR(source.Ptr()) == nullptr) return E_OUTOFMEMORY;
  }
  V_VT(source.Ptr()) = VT_BSTR;
  return m_owner.IsFormatAvailable(source.Get());
}

STDMETHODIMP CConverterObject::CLegacyFace::IsFormatAvailableStream(IUnknown* stream) {
  CVariantHolder source;
  if (stream != nullptr) stream->AddRef();
  V_VT(source.Ptr()) = VT_UNKNOWN;
  V_UNKNOWN(source.Ptr()) = stream;
  return m_owner.IsFormatAvailable(source.Get());
}

HRESULT CConverterObject::CLegacyFace::ConvertFiles(bool toIF, BSTR inFile, BSTR outFile, VARIANT) {
  CVariantHolder source;
  CVariantHolder target;
  for (auto [holder, name] : {std::pair{&source, inFile}, std::pair{&target, outFile}}) {
    if (name != nullptr) {
      V_BSTR(holder->Ptr()) = ::SysAllocStringLen(name, ::SysStringLen(name));
      if (V_BSTR(holder->Ptr()) == nullptr) return E_OUTOFMEMORY;
    }
    V_VT(holder->Ptr()) = VT_BSTR;
  }
  return m_owner.Convert(toIF, source.Get(), target.Get());
}

HRESULT CConverterObject::CLegacyFace::ConvertStreams(bool toIF, IUnknown* source, IUnknown* target,
                                                      VARIANT) {
  CVariantHolder in;
  CVariantHolder out;
  for (auto [holder, object] : {std::pair{&in, source}, std::pair{&out, target}}) {
    if (object != nullptr) object->AddRef();
    V_VT(holder->Ptr()) = VT_UNKNOWN;
    V_UNKNOWN(holder->Ptr()) = object;
  }
  return m_owner.Convert(toIF, in.Get(), out.Get());
}

STDMETHODIMP CConverterObject::CLegacyFace::ConvertToIFFile(BSTR inFile, BSTR outFile,
                                                            VARIANT reserv) {
  return ConvertFiles(true, inFile, outFile, reserv);
}

STDMETHODIMP CConverterObject::CLegacyFace::ConvertToIFStream(IUnknown* source, IUnknown* target,
                                                              VARIANT reserv) {
  return ConvertStreams(true, source, target, reserv);
}

STDMETHODIMP CConverterObject::CLegacyFace::ConvertFromIFFile(BSTR inFile, BSTR outFile,
                                                              VARIANT reserv) {
  return ConvertFiles(false, inFile, outFile, reserv);
}

STDMETHODIMP CConverterObject::CLegacyFace::ConvertFromIFStream(IUnknown* source, IUnknown* target,
                                                                VARIANT reserv) {
  return ConvertStreams(false, source, target, reserv);
}

}  // namespace tagvert::com
