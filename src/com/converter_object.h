// Tagvert: the COM converter object over the frame (CConverterObject).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <windows.h>

#include <atomic>

#include "com/connection_point.h"
#include "com/module.h"
#include "frame/ttx_converter.h"
#include "tagvert_com.h"

namespace tagvert::com {

/// The converter a host creates: a thin adapter from the COM interfaces to one frame
/// (CTagvertConverter), held by composition. It answers IUnknown, IOrvIFConverterEx4 and the
/// interfaces it extends, IDispatch (the IOrvIFConverterEx4 face), IOrvIFConverter, IMarshal
/// (the aggregated free-threaded marshaler) and IConnectionPointContainer. It can itself be
/// aggregated. Every live object holds one module lock. No error information is ever set.
class CConverterObject final : public IOrvIFConverterEx4, public IConnectionPointContainer {
 public:
  /// Creates a converter, aggregated under `outer` when it is not null, and answers `riid`.
  static HRESULT Create(IUnknown* outer, REFIID riid, void** object);

  // IUnknown: delegated to the controlling unknown.
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch of the IOrvIFConverterEx4 face.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

  // IOrvTransBase.
  STDMETHODIMP get_Property(VARIANT prop, VARIANT* value) override;
  STDMETHODIMP put_Property(VARIANT prop, VARIANT newVal) override;
  STDMETHODIMP get_State(LONG* state) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP get_PropertyCount(LONG* count) override;
  STDMETHODIMP get_PropertyName(LONG index, BSTR* name) override;
  STDMETHODIMP get_PropertyType(LONG index, LONG* type) override;
  STDMETHODIMP get_PropertyDisplayName(LONG index, BSTR* name) override;

  // IOrvIFConverterEx and its extensions.
  STDMETHODIMP get_Name(BSTR* name) override;
  STDMETHODIMP get_DefaultExtension(BSTR* extension) override;
  STDMETHODIMP get_FilterString(BSTR* filter) override;
  STDMETHODIMP get_Id(LONG* id) override;
  STDMETHODIMP IsFormatAvailable(VARIANT source) override;
  STDMETHODIMP ConvertToIF(VARIANT source, VARIANT target, VARIANT reserv) override;
  STDMETHODIMP ConvertFromIF(VARIANT source, VARIANT target, VARIANT reserv) override;
  STDMETHODIMP get_IsConvertToIFAvailable(LONG* available) override;
  STDMETHODIMP get_IsConvertFromIFAvailable(LONG* available) override;
  STDMETHODIMP get_MIMEContentType(BSTR* type) override;
  STDMETHODIMP get_TargetId(LONG* id) override;

  // IConnectionPointContainer: the one connection point, for IOrvTransEvents.
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

 private:
  // The object's own (non-delegating) unknown: the controlling unknown when the object is not
  // aggregated, the inner unknown handed to the outer object when it is.
  class CInnerUnknown final : public IUnknown {
   public:
    explicit CInnerUnknown(CConverterObject& owner) : m_owner(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

   private:
    CConverterObject& m_owner;
  };

  // The IOrvIFConverter face: its own IDispatch, the rest forwarded to the owner.
  class CLegacyFace final : public IOrvIFConverter {
   public:
    explicit CLegacyFace(CConverterObject& owner) : m_owner(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                               DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argError) override;
    STDMETHODIMP get_SrcFormatId(SHORT* id) override;
    STDMETHODIMP IsFormatAvailableFile(BSTR fileName) override;
    STDMETHODIMP IsFormatAvailableStream(IUnknown* stream) override;
    STDMETHODIMP ConvertToIFFile(BSTR inFile, BSTR outFile, VARIANT reserv) override;
    STDMETHODIMP ConvertToIFStream(IUnknown* source, IUnknown* target, VARIANT reserv) override;
    STDMETHODIMP ConvertFromIFFile(BSTR inFile, BSTR outFile, VARIANT reserv) override;
    STDMETHODIMP ConvertFromIFStream(IUnknown* source, IUnknown* target, VARIANT reserv) override;

   private:
    HRESULT ConvertFiles(bool toIF, BSTR inFile, BSTR outFile, VARIANT reserv);
    HRESULT ConvertStreams(bool toIF, IUnknown* source, IUnknown* target, VARIANT reserv);
    CConverterObject& m_owner;
  };

  explicit CConverterObject(IUnknown* outer);
  ~CConverterObject();
  CConverterObject(const CConverterObject&) = delete;
  CConverterObject& operator=(const CConverterObject&) = delete;

  /// Aggregates the free-threaded marshaler under the controlling unknown.
  HRESULT FinalConstruct();
  HRESULT InnerQueryInterface(REFIID riid, void** object);
  ULONG InnerAddRef();
  ULONG InnerRelease();
  HRESULT Convert(bool toIF, const VARIANT& source, const VARIANT& target);

  CModuleLockHolder m_moduleLock;
  std::atomic<ULONG> m_refs{0};
  CInnerUnknown m_inner{*this};
  IUnknown* m_controlling;
  IUnknown* m_marshaler = nullptr;
  CTagvertConverter m_converter;
  CLegacyFace m_legacy{*this};
  CConnectionPoint m_connectionPoint;
};

}  // namespace tagvert::com
