// Tagvert: the connection point for IOrvTransEvents over the frame's listener list.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <ocidl.h>
#include <windows.h>

#include "frame/trans_events.h"

namespace tagvert::com {

/// One advised event sink as a frame listener: every event becomes an IDispatch::Invoke on
/// the sink with the event's DISPID, the arguments in reverse order, the null interface
/// identifier, locale 1024 and DISPATCH_METHOD, and no result. A sink without IDispatch is
/// skipped; any other failure of that query throws CHResultError (the sink cannot be reached).
class CSinkListener final : public ITransEventsListener {
 public:
  /// Takes a counted reference to `sink` (the sink's IOrvTransEvents).
  explicit CSinkListener(IUnknown* sink);
  ~CSinkListener() override;
  CSinkListener(const CSinkListener&) = delete;
  CSinkListener& operator=(const CSinkListener&) = delete;

  /// The sink, without a new reference.
  IUnknown* Sink() const { return m_sink; }

  void OnPropertyChange(const CVariant& prop, const CVariant& newVal) override;
  void OnStateChange(std::int32_t state) override;
  void OnTextChange(const std::u16string& caption) override;
  void OnProgressChange(std::int32_t progress, std::int32_t maxProgress) override;

 private:
  void Invoke(DISPID id, VARIANT* args, UINT count);

  IUnknown* m_sink;
};

/// The converter's one connection point. Its references are the converter's (`owner`, the
/// controlling unknown); the listener list is the frame's (`events`).
class CConnectionPoint final : public IConnectionPoint {
 public:
  CConnectionPoint(IUnknown*& owner, IConnectionPointContainer* container, CTransEventsBase& events)
      : m_owner(owner), m_container(container), m_events(events) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
  /// Advises a sink that answers IOrvTransEvents (CONNECT_E_CANNOTCONNECT otherwise); the
  /// cookie is its 1-based slot. CONNECT_E_ADVISELIMIT when the slots cannot grow.
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  /// CONNECT_E_NOCONNECTION for a cookie without a sink.
  STDMETHODIMP Unadvise(DWORD cookie) override;
  /// The sinks advised now, with their cookies.
  STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

 private:
  IUnknown*& m_owner;
  IConnectionPointContainer* m_container;
  CTransEventsBase& m_events;
};

/// A snapshot enumerator of connection points (the converter has one).
HRESULT CreateConnectionPointEnumerator(IConnectionPoint* const* points, ULONG count,
                                        IEnumConnectionPoints** out);

}  // namespace tagvert::com
